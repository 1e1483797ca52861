# Shared by the runs that boot Debian's own kernel under QEMU (tests/pi/run,
# tests/stub/run): Debian's archive and a private apt state for the guest's
# packages, the host tools a run installs when missing, and the checks on
# the console transcript that the guest's init script prints. Sourced, with
# $guest_run set to the run's name for its messages.

die() {
    echo "$guest_run: ERROR: $*" >&2
    exit 2
}
step() { echo "== $*"; }
# Shows each apt command before running it, so the log says what was done.
apt_run() {
    echo "+ $*"
    DEBIAN_FRONTEND=noninteractive "$@"
}


# ---------------------------------------------------------------------------
# The archive: the URI and key of this machine's entry for Debian bookworm.
# Prints "URI KEYRING" (KEYRING may be empty).
archive_entry() {
    local f
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk '
            function flush() {
                if (types ~ /(^| )deb( |$)/ && (" " suites " ") ~ / bookworm / &&
                    enabled != "no" && uri != "") {
                    print uri, (key ~ /^\// ? key : ""); found = 1; exit
                }
                types = suites = uri = key = enabled = ""
            }
            /^#/ { next }
            /^[ \t]*$/ { flush(); next }
            /^[A-Za-z-]+:/ {
                k = tolower($1); sub(/:$/, "", k)
                v = $0; sub(/^[^:]*:[ \t]*/, "", v)
                if (k == "types") types = v
                else if (k == "suites") suites = v
                else if (k == "uris") { split(v, u, " "); uri = u[1] }
                else if (k == "signed-by") key = v
                else if (k == "enabled") enabled = tolower(v)
            }
            END { if (!found) flush() }' "$f"
    done | head -n 1
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        awk '$1 == "deb" {
                opts = ""; i = 2
                if ($2 ~ /^\[/) {
                    while (i < NF && $i !~ /\]$/) { opts = opts " " $i; i++ }
                    opts = opts " " $i; i++
                }
                if ($(i + 1) == "bookworm") {
                    key = ""
                    if (match(opts, /signed-by=[^] ]*/)) key = substr(opts, RSTART + 10, RLENGTH - 10)
                    print $i, key; exit
                }
            }' "$f"
    done | head -n 1
}


# Sets archive_uri and archive_opts (apt's "signed-by=KEYRING" or empty).
find_archive() {
    read -r archive_uri archive_key < <(archive_entry | head -n 1) || true
    [ -n "${archive_uri:-}" ] ||
        die "no 'deb ... bookworm main' entry in /etc/apt/sources.list{,.d}: cannot tell where Debian's archive is"
    if [ -z "${archive_key:-}" ] && [ -f /usr/share/keyrings/debian-archive-keyring.gpg ]; then
        archive_key=/usr/share/keyrings/debian-archive-keyring.gpg
    fi
    archive_opts=""
    [ -n "${archive_key:-}" ] && archive_opts="signed-by=$archive_key"
}

# ---------------------------------------------------------------------------
# Host tools. needs: "command|package|what for" entries; qemu_usable: a
# function that says whether this machine's QEMU will do; qemu_wanted: what
# it must be; qemu_packages: what to install from bookworm-backports when
# it will not. Missing ones are installed with apt-get; what is still
# missing after that is named.

# The needs whose command is not found, one "command|package|what for" a line.
missing_needs() {
    local need command package purpose
    for need in "${needs[@]}"; do
        IFS='|' read -r command package purpose <<< "$need"
        command -v "$command" > /dev/null || echo "$need"
    done
}

install_host_tools() {
    local host_packages=() command package purpose still_missing
    while IFS='|' read -r command package purpose; do
        echo "$guest_run: missing $command (package $package), $purpose"
        host_packages+=("$package")
    done < <(missing_needs)
    if ! qemu_usable; then
        echo "$guest_run: missing $qemu_wanted"
        host_packages+=("${qemu_packages[@]}")
        if ! grep -rqsE '^[^#]*bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
            step "adding bookworm-backports to apt's sources"
            echo "deb ${archive_opts:+[$archive_opts] }$archive_uri bookworm-backports main" \
                > /etc/apt/sources.list.d/bookworm-backports.list
            cat /etc/apt/sources.list.d/bookworm-backports.list
        fi
    fi
    [ ${#host_packages[@]} -gt 0 ] || return 0
    step "installing host packages: ${host_packages[*]}"
    apt_run apt-get update || echo "$guest_run: apt-get update failed: is Debian's archive reachable?" >&2
    apt_run apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=600 "${host_packages[@]}" ||
        echo "$guest_run: apt-get could not install ${host_packages[*]}" >&2
    still_missing=$(missing_needs | awk -F'|' '{ printf "\n  %s (package %s), %s", $1, $2, $3 }')
    qemu_usable || still_missing+=$'\n'"  $qemu_wanted"
    [ -z "$still_missing" ] || die "still missing after apt-get:$still_missing"
}

# ---------------------------------------------------------------------------
# Guest packages of architecture $1: Debian's kernel of flavour $2 (the
# package linux-image-$2 stands for) and busybox-static, through a private
# apt state under $cache so that the host's apt lists and dpkg database are
# left alone; fetched again with refresh=1. Sets kernel_deb and busybox_deb.
fetch_guest_debs() {
    local arch=$1 flavour=$2 apt_dir="$cache/apt" debs="$cache/debs" kernel_pkg incoming
    mkdir -p "$apt_dir/state" "$apt_dir/cache" "$apt_dir/empty" "$debs"
    touch "$apt_dir/state/status"
    echo "deb [arch=$arch${archive_opts:+ $archive_opts}] $archive_uri bookworm main" > "$apt_dir/sources.list"
    local private_apt=(
        -o Dir::Etc::SourceList="$apt_dir/sources.list"
        -o Dir::Etc::SourceParts="$apt_dir/empty"
        -o Dir::Etc::Preferences="$apt_dir/empty/preferences"
        -o Dir::Etc::PreferencesParts="$apt_dir/empty"
        -o Dir::State="$apt_dir/state"
        -o Dir::State::status="$apt_dir/state/status"
        -o Dir::Cache="$apt_dir/cache"
        -o APT::Architecture="$arch"
        -o APT::Architectures::="$arch"
        -o APT::Sandbox::User=root
    )
    kernel_deb=$(ls "$debs"/linux-image-*-"${flavour}"_*_"$arch".deb 2> /dev/null | tail -n 1 || true)
    busybox_deb=$(ls "$debs"/busybox-static_*_"$arch".deb 2> /dev/null | tail -n 1 || true)
    if [ "${refresh:-0}" != 1 ] && [ -n "$kernel_deb" ] && [ -n "$busybox_deb" ]; then
        step "guest packages from the cache: $(basename "$kernel_deb") $(basename "$busybox_deb")"
        return
    fi
    step "fetching the guest packages ($arch) into $debs"
    apt_run apt-get "${private_apt[@]}" update --error-on=any ||
        die "could not read the package lists of Debian's archive ($archive_uri)"
    # linux-image-FLAVOUR only depends on the current versioned kernel package.
    kernel_pkg=$(apt-cache "${private_apt[@]}" show --no-all-versions "linux-image-$flavour" |
        sed -n "s/^Depends:.*\(linux-image-[0-9][^ ,]*-$flavour\).*/\1/p" || true)
    [ -n "$kernel_pkg" ] || die "cannot tell which kernel package linux-image-$flavour ($arch) stands for"
    incoming="$debs/incoming"
    rm -rf "$incoming" && mkdir -p "$incoming"
    (cd "$incoming" && apt_run apt-get "${private_apt[@]}" download "$kernel_pkg" busybox-static) ||
        die "could not download $kernel_pkg and busybox-static ($arch)"
    rm -rf "$debs"/*.deb "$cache/files"
    mv "$incoming"/*.deb "$debs"/ && rmdir "$incoming"
    kernel_deb=$(ls "$debs"/linux-image-*-"${flavour}"_*_"$arch".deb | tail -n 1)
    busybox_deb=$(ls "$debs"/busybox-static_*_"$arch".deb | tail -n 1)
}

# ---------------------------------------------------------------------------
# ---------------------------------------------------------------------------
# Expected memory contents, from the sample files themselves: the 512 hex
# digits of a file of 16 data records of 16 bytes.
file_hex() {
    local line sum i record=0 digits=""
    while IFS= read -r line || [ -n "$line" ]; do
        line=${line%$'\r'}
        [ -z "$line" ] && continue
        [[ $line =~ ^:([0-9A-Fa-f]{2})+$ ]] || die "$1: not a hex record: $line"
        sum=0
        for ((i = 1; i < ${#line}; i += 2)); do sum=$((sum + 16#${line:i:2})); done
        [ $((sum & 255)) -eq 0 ] || die "$1: bad checksum: $line"
        [ "${line:7:2}" = 01 ] && break
        [ "${line:1:2}" = 10 ] && [ "${line:7:2}" = 00 ] && [ $((16#${line:3:4})) -eq $((record * 16)) ] ||
            die "$1: expected a 16-byte data record at 0x$(printf %04X $((record * 16))): $line"
        digits+=${line:9:32}
        record=$((record + 1))
    done < "$1"
    [ "$record" -eq 16 ] || die "$1: expected 16 data records, found $record"
    echo "${digits,,}"
}

# ---------------------------------------------------------------------------
# Checks on the console.

# One stream ("STDOUT" or "STDERR") of the command "gpakcfg ARGS".
stream() {
    awk -v begin="@@ BEGIN gpakcfg $1" -v want="@@ $2" '
        $0 == begin { inside = 1; next }
        !inside { next }
        /^@@ END / { exit }
        /^@@ (STDOUT|STDERR)$/ { on = ($0 == want); next }
        /^@@ / { next }
        on { print }' "$console"
}
# Exit status of that command, or "missing".
status_of() {
    awk -v begin="@@ BEGIN gpakcfg $1" '
        $0 == begin { inside = 1; next }
        inside && /^@@ END status / { print $4; found = 1; exit }
        END { if (!found) print "missing" }' "$console"
}
# Guest nanoseconds spent in that command.
duration_ns() {
    awk -v start="@@ CLOCK gpakcfg $1 start " -v end="@@ CLOCK gpakcfg $1 end " '
        index($0, start) == 1 { from = $NF }
        index($0, end) == 1 { print $NF - from; exit }' "$console"
}
# Content of one output section: the lines after its heading and its rule
# line of 39 hyphens, up to the empty line that closes it.
section() {
    awk -v heading="$1" '
        state == 0 && $0 == heading { state = 1; next }
        state == 1 {
            if ($0 != "---------------------------------------") print "(no rule line under the heading)"
            state = 2; next
        }
        state == 2 { if ($0 == "") exit; print }'
}
# A 16 x 16 dump table of the 512 hex digits in $1.
table() {
    echo "Page |  0 1 2 3 4 5 6 7 8 9 A B C D E F"
    echo "-----+---------------------------------"
    for ((row = 0; row < 16; row++)); do printf '0x%02X | %s\n' "$row" "${1:row*32:32}"; done
}
# $1 with byte $2 set to $3 (all in hex).
with_byte() {
    local at=$((16#$2 * 2))
    echo "${1:0:at}$3${1:at+2}"
}
pages_done() {
    for ((page = 0; page < 16; page++)); do printf 'Page 0x%02X : complete\n' "$page"; done
}
zeros=$(printf '%0512d' 0)

passed=0
failed=0
problems=""
# Adds a problem to the current check unless $2 (expected) equals $3 (seen).
expect() {
    [ "$2" == "$3" ] && return 0
    problems+="    $1:"$'\n'
    problems+=$(diff -u <(printf '%s\n' "$2") <(printf '%s\n' "$3") | tail -n +3 | head -n 40 |
        sed 's/^/      /' || true)$'\n'
}
verdict() {
    if [ -z "$problems" ]; then
        echo "PASS $1"
        passed=$((passed + 1))
    else
        echo "FAIL $1"
        printf '%s' "$problems"
        failed=$((failed + 1))
    fi
    problems=""
}
# The lines of a read run's standard output: banner, version line, empty
# line, then the read-back section.
read_run_output() {
    echo "GreenPAK configuration utility"
    echo "$2"
    echo
    echo "Chip configration data."
    echo "---------------------------------------"
    table "$1"
    echo
}
