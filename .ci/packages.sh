#!/usr/bin/env bash
# Builds the three Debian packages of gpakcfg into dist/ and checks them:
#
#   native (amd64 here)  from build, dynamically linked, with the simulator
#   armhf                from build-armv6: gpakcfg linked statically for ARMv6
#                        (cmake/armv6-static.cmake), for every 32-bit Pi,
#                        without the simulator (built for armel there, if at all)
#   arm64                from build-arm64 (cmake/arm64.cmake), dynamically
#                        linked, with the simulator
#
# A build tree that exists is reused as it is configured and only built
# again; a missing one is configured first. Fails on any package whose
# name, architecture, dependencies or contents are not as they must be.
#
# Changes the machine where it lacks what it needs, and says so first: it
# adds arm64 as a foreign architecture of dpkg (for the arm64 libraries that
# the arm64 package's Depends come from) and installs the cross compilers
# and those libraries with apt-get (as root; otherwise it prints the
# commands and stops).
#
# Environment (all optional): BUILD, ARMV6_BUILD, ARM64_BUILD (build trees),
# ARMV6_TOOLCHAIN, ARM64_TOOLCHAIN (toolchain files), DIST (output folder).
set -euo pipefail
cd "$(dirname "$0")/.."
umask 022

native_build=${BUILD:-build}
armv6_build=${ARMV6_BUILD:-build-armv6}
arm64_build=${ARM64_BUILD:-build-arm64}
armv6_toolchain=${ARMV6_TOOLCHAIN:-cmake/armv6-static.cmake}
arm64_toolchain=${ARM64_TOOLCHAIN:-cmake/arm64.cmake}
dist=${DIST:-dist}

# --- What the script needs --------------------------------------------------

export DEBIAN_FRONTEND=noninteractive
missing=()
for package in cmake make g++ gzip file binutils dpkg-dev \
    g++-arm-linux-gnueabi g++-aarch64-linux-gnu \
    libc6:arm64 libstdc++6:arm64 libgcc-s1:arm64; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    if [ "$status" != "install ok installed" ]; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    # dpkg-shlibdeps takes the Depends of the arm64 build from the arm64
    # library packages themselves, which need arm64 as a foreign
    # architecture of dpkg.
    add_arm64=0
    if ! grep -qx arm64 <<<"$(dpkg --print-foreign-architectures)"; then
        add_arm64=1
    fi
    echo "packages.sh: missing on this machine: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "packages.sh: as root, install them with:" >&2
        [ "$add_arm64" = 0 ] || echo "  dpkg --add-architecture arm64" >&2
        echo "  apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
    echo "packages.sh: changing this machine to build them:"
    if [ "$add_arm64" = 1 ]; then
        echo "  dpkg --add-architecture arm64 (apt will then also fetch arm64 package lists)"
    fi
    echo "  apt-get update"
    echo "  apt-get install --no-install-recommends ${missing[*]}"
    if [ "$add_arm64" = 1 ]; then
        dpkg --add-architecture arm64
    fi
    # A mirror caught mid-sync fails an index or two; try again, then go on
    # with the lists there are: the installs below say what is missing.
    apt-get update -q || { sleep 30; apt-get update -q; } || echo "ci: apt-get update failed; going on with the package lists there are" >&2
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# configure BUILD_DIR TOOLCHAIN
configure() {
    if [ ! -f "$2" ]; then
        echo "packages.sh: toolchain file $2 is missing" >&2
        exit 1
    fi
    cmake -S . -B "$1" -DCMAKE_TOOLCHAIN_FILE="$2" -DGPAKCFG_BUILD_TESTS=OFF
}

# Packages made from the same commit are the same byte for byte.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git rev-parse --git-dir >/dev/null 2>&1; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
    export SOURCE_DATE_EPOCH
fi

# --- Builds -----------------------------------------------------------------

if [ ! -f "$native_build/CMakeCache.txt" ]; then
    cmake -S . -B "$native_build" -DGPAKCFG_BUILD_TESTS=OFF
fi
cmake --build "$native_build" -j2

# The simulator that this build may hold is for armel: the packaging leaves
# it out of the armhf package.
if [ ! -f "$armv6_build/CMakeCache.txt" ]; then
    configure "$armv6_build" "$armv6_toolchain"
fi
cmake --build "$armv6_build" -j2

if [ ! -f "$arm64_build/CMakeCache.txt" ]; then
    configure "$arm64_build" "$arm64_toolchain"
fi
cmake --build "$arm64_build" -j2

# --- Packages ---------------------------------------------------------------

mkdir -p "$dist"
native_arch=$(dpkg --print-architecture)
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$native_build/CPackConfig.cmake")
if [ -z "$version" ]; then
    echo "packages.sh: no package version in $native_build/CPackConfig.cmake" >&2
    exit 1
fi

# package BUILD_DIR ARCH: runs cpack in BUILD_DIR and moves the package,
# which must be named gpakcfg_<version>-1_ARCH.deb, to dist/.
package() {
    local build_dir=$1 arch=$2 out="$1/packages"
    rm -rf "$out"
    cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$out"
    local made=("$out"/*.deb)
    local want="gpakcfg_${version}-1_${arch}.deb"
    if [ ${#made[@]} -ne 1 ] || [ "$(basename "${made[0]}")" != "$want" ]; then
        echo "packages.sh: $build_dir made ${made[*]##*/}, not $want" >&2
        exit 1
    fi
    mv -f "${made[0]}" "$dist/$want"
}

package "$native_build" "$native_arch"
package "$armv6_build" armhf
package "$arm64_build" arm64

# --- Checks -----------------------------------------------------------------

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# What file(1) says of a binary of each architecture.
machine_of() {
    case "$1" in
        amd64) echo 'x86-64' ;;
        arm64) echo 'ARM aarch64' ;;
        armhf | armel) echo 'ARM, EABI5' ;;
        i386) echo 'Intel 80386' ;;
        *) echo "$1" ;;
    esac
}

# check DEB ARCH static|dynamic
check() {
    local deb=$1 arch=$2 linkage=$3
    local name
    name=$(basename "$deb")
    echo
    echo "=== $name"
    dpkg-deb -I "$deb"
    local contents
    contents=$(dpkg-deb -c "$deb")
    echo "$contents"

    local field
    field=$(dpkg-deb -f "$deb" Package)
    [ "$field" = gpakcfg ] || fail "$name: Package is '$field'"
    field=$(dpkg-deb -f "$deb" Version)
    [ "$field" = "${version}-1" ] || fail "$name: Version is '$field'"
    field=$(dpkg-deb -f "$deb" Architecture)
    [ "$field" = "$arch" ] || fail "$name: Architecture is '$field', not $arch"
    for field in Maintainer Description; do
        [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "$name: no $field"
    done
    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    if [ "$linkage" = static ]; then
        [ -z "$depends" ] || fail "$name: a static package depends on '$depends'"
        [ -z "$(dpkg-deb -f "$deb" Pre-Depends)" ] || fail "$name: has Pre-Depends"
    else
        local names
        names=$(sed -e 's/ *([^)]*)//g' -e 's/ *, */\n/g' <<<"$depends")
        for library in libc6 libstdc++6; do
            grep -Fqx "$library" <<<"$names" || fail "$name: Depends '$depends' lacks $library"
        done
        if grep -q ':' <<<"$depends"; then
            fail "$name: Depends '$depends' names packages of a fixed architecture"
        fi
    fi

    local paths
    # A link's line ends in "PATH -> TARGET".
    paths=$(awk '{ print ($(NF - 1) == "->") ? $(NF - 2) : $NF }' <<<"$contents")
    has() { grep -Eqx "$1" <<<"$paths"; }
    local examples=() example
    for example in examples/*; do
        [ -f "$example" ] && examples+=("./usr/share/doc/gpakcfg/${example//./\\.}")
    done
    for path in './usr/bin/gpakcfg' './usr/share/man/man1/gpakcfg\.1\.gz' \
        './usr/share/doc/gpakcfg/copyright' './usr/share/doc/gpakcfg/changelog\.Debian\.gz' \
        "${examples[@]}" './usr/share/bash-completion/completions/gpakcfg'; do
        has "$path" || fail "$name: no ${path//\\/}"
    done
    local sim=('./usr/bin/gpak-sim' './usr/lib/(.+/)?gpakcfg/libgpaksim\.so'
        './usr/share/man/man1/gpak-sim\.1\.gz' './usr/share/bash-completion/completions/gpak-sim')
    for path in "${sim[@]}"; do
        if [ "$linkage" = static ]; then
            ! has "$path" || fail "$name: carries the simulator (${path//\\/})"
        else
            has "$path" || fail "$name: no ${path//\\/}"
        fi
    done

    local root
    root=$(mktemp -d)
    dpkg-deb -x "$deb" "$root"
    local binary="$root/usr/bin/gpakcfg"
    if [ -f "$binary" ]; then
        local kind
        kind=$(file -b "$binary")
        grep -q "$(machine_of "$arch")" <<<"$kind" || fail "$name: gpakcfg is $kind"
        if [ "$linkage" = static ]; then
            grep -q 'statically linked' <<<"$kind" || fail "$name: gpakcfg is not static: $kind"
            if grep -q '(NEEDED)' <<<"$(readelf -d "$binary")"; then
                fail "$name: gpakcfg needs shared libraries"
            fi
            local cpu
            cpu=$(readelf -A "$binary" | sed -n 's/^ *Tag_CPU_arch: //p')
            echo "Tag_CPU_arch: $cpu"
            [ "$cpu" = v6KZ ] || [ "$cpu" = v6 ] || fail "$name: Tag_CPU_arch is '$cpu', not v6"
        else
            grep -q '(NEEDED)' <<<"$(readelf -d "$binary")" || fail "$name: gpakcfg is not dynamic"
        fi
    fi
    # The examples as they are in the source, scripts executable.
    local installed
    for example in examples/*; do
        installed="$root/usr/share/doc/gpakcfg/$example"
        [ -f "$example" ] && [ -f "$installed" ] || continue
        cmp -s "$example" "$installed" || fail "$name: $example differs from the source"
        if [[ $example == *.sh ]] && [ ! -x "$installed" ]; then
            fail "$name: $example is not executable"
        fi
    done
    # The completion: bash reads it, and gpak-sim's is a link to it.
    local completions="$root/usr/share/bash-completion/completions"
    if [ -f "$completions/gpakcfg" ]; then
        bash -n "$completions/gpakcfg" || fail "$name: the bash completion is not valid bash"
    fi
    if [ -L "$completions/gpak-sim" ] && [ "$(readlink "$completions/gpak-sim")" != gpakcfg ]; then
        fail "$name: the completion of gpak-sim links to $(readlink "$completions/gpak-sim")"
    fi
    # Manual pages gzipped without name or time stamp: flags and MTIME zero.
    local page header
    for page in "$root"/usr/share/man/man1/*.gz; do
        [ -f "$page" ] || continue
        gzip -t "$page" || fail "$name: ${page##*/} is not gzip"
        header=$(od -An -tx1 -j3 -N5 "$page" | tr -d ' \n')
        [ "$header" = 0000000000 ] || fail "$name: ${page##*/} has a name or a time stamp"
    done
    rm -rf "$root"
}

check "$dist/gpakcfg_${version}-1_${native_arch}.deb" "$native_arch" dynamic
check "$dist/gpakcfg_${version}-1_armhf.deb" armhf static
check "$dist/gpakcfg_${version}-1_arm64.deb" arm64 dynamic

echo
if [ "$failures" -ne 0 ]; then
    echo "packages.sh: $failures check(s) failed" >&2
    exit 1
fi
echo "packages.sh: all checks passed:"
ls -l "$dist"/gpakcfg_"${version}"-1_*.deb
