#!/usr/bin/env bash
# The Raspberry Pi builds: armhf and arm64 cross-built with their whole test
# suites run under qemu-user, and the static ARMv6 gpakcfg (every 32-bit Pi,
# Pi Zero and Pi 1 included) checked and run on an emulated ARM1176. Leaves
# build-armhf, build-arm64 and build-armv6 for packaging. Needs root for
# apt-get.
set -euo pipefail
cd "$(dirname "$0")/.."

stage_start=$SECONDS
stage() {
    echo "arm.sh: $1 took $((SECONDS - stage_start)) s"
    stage_start=$SECONDS
}
fail() {
    echo "arm.sh: FAIL: $*" >&2
    exit 1
}

export DEBIAN_FRONTEND=noninteractive
dpkg --add-architecture armhf
dpkg --add-architecture arm64
# A mirror caught mid-sync fails an index or two; try again, then go on
# with the lists there are: the installs below say what is missing.
apt-get update -q || { sleep 30; apt-get update -q; } || echo "ci: apt-get update failed; going on with the package lists there are" >&2
apt-get install -y -q --no-install-recommends \
    cmake make file qemu-user \
    g++-arm-linux-gnueabihf g++-aarch64-linux-gnu g++-arm-linux-gnueabi \
    libgtest-dev:armhf libgtest-dev:arm64
stage "installing"

# The toolchain files name qemu-user as CMAKE_CROSSCOMPILING_EMULATOR, so
# CTest runs every test under it; the programs the tests start run under
# it too (GPAK_SIM_EMULATOR), with or without binfmt_misc.
for arch in armhf arm64; do
    cmake -S . -B "build-$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/$arch.cmake"
    cmake --build "build-$arch" -j2
    ctest --test-dir "build-$arch" --output-on-failure
    stage "$arch build and tests"
done

# --- The static ARMv6 gpakcfg ----------------------------------------------
cmake -S . -B build-armv6 -DCMAKE_TOOLCHAIN_FILE=cmake/armv6-static.cmake -DGPAKCFG_BUILD_TESTS=OFF
cmake --build build-armv6 -j2 --target gpakcfg gpakcfg-simulated
tool=build-armv6/gpakcfg
readelf=arm-linux-gnueabi-readelf

attributes=$("$readelf" -A "$tool")
echo "$attributes"
grep -Eq '^ *Tag_CPU_arch: v6(KZ)?$' <<<"$attributes" ||
    fail "$tool is not ARMv6 code"
"$readelf" -d "$tool" | grep -q 'There is no dynamic section' ||
    fail "$tool has a dynamic section"
if "$readelf" -l "$tool" | grep -q INTERP; then
    fail "$tool names a dynamic loader"
fi
file "$tool" | grep -q 'statically linked' || fail "$tool is not statically linked"

emulator=(qemu-arm -cpu arm1176)
# run EXPECTED_STATUS EXPECTED_STDERR ARGS...: the tool without a bus.
run() {
    local want_status=$1 want_err=$2 status=0
    shift 2
    "${emulator[@]}" "$tool" "$@" >build-armv6/run.out 2>build-armv6/run.err || status=$?
    [ "$status" = "$want_status" ] ||
        fail "gpakcfg $*: exit status $status, not $want_status"
    [ "$(cat build-armv6/run.err)" = "$want_err" ] ||
        fail "gpakcfg $*: standard error is '$(cat build-armv6/run.err)', not '$want_err'"
}
run 0 ""
grep -q "^Usage: $tool " build-armv6/run.out || fail "gpakcfg without arguments prints no usage"
run 255 $'Type is not specified.\ngpakcfg: -t x: TYPE is reg, nvm or eeprom' -t x
run 255 $'Config file open error: No such file or directory\ngpakcfg: /nonexistent: the file of -w could not be opened; nothing was sent to the chip' \
    -t nvm -w /nonexistent

# A preload cannot reach a static program; the same code linked with the
# simulator (-Wl,--wrap) programs and reads back the simulated chip.
cmake -DPROGRAM=build-armv6/gpakcfg-simulated -DEMULATOR="${emulator[*]}" \
    -DEXAMPLE=examples/demo-config.hex -DGOLDEN=tests/golden/nvm-write.out \
    -DWORK_DIR=build-armv6 -P tests/wrapped_sim.cmake
stage "ARMv6 static build and checks"
echo "arm.sh: armhf, arm64 and ARMv6 all passed"
