# A static gpakcfg for every 32-bit Raspberry Pi, ARMv6 Pi Zero and Pi 1
# included: Debian's armhf libraries are ARMv7 code, so this builds with the
# armel compiler for the ARM1176 and links everything in.
#   cmake -S . -B build-armv6 -DCMAKE_TOOLCHAIN_FILE=cmake/armv6-static.cmake -DGPAKCFG_BUILD_TESTS=OFF
#   cmake --build build-armv6 --target gpakcfg
# Needs g++-arm-linux-gnueabi; qemu-arm -cpu arm1176 runs the result.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv6l)
set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabi)

# softfp: VFP instructions with the armel calling convention, so that the
# armel C and C++ libraries link in.
set(_gpakcfg_armv6 "-mcpu=arm1176jzf-s -mfpu=vfp -mfloat-abi=softfp -marm")
set(CMAKE_C_FLAGS_INIT "${_gpakcfg_armv6}")
set(CMAKE_CXX_FLAGS_INIT "${_gpakcfg_armv6}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
unset(_gpakcfg_armv6)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -cpu arm1176)
