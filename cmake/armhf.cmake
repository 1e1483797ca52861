# Cross build for 32-bit Raspberry Pi OS / Debian armhf (ARMv7 and later):
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/armhf.cmake
# Needs g++-arm-linux-gnueabihf; the tests run under qemu-user and need
# libgtest-dev:armhf.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

# 64-bit time_t and file offsets, the default of newer 32-bit toolchains:
# the tool then calls open64, __ioctl_time64 and the time64 sleeps, which
# the simulator has to take over as well.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")

# The cross compiler's own C library and loader, and only those: with the
# target's multiarch libc6 installed as well, the loader would otherwise take
# the other build's libc.so.6 from the system's library cache.
set(CMAKE_CROSSCOMPILING_EMULATOR
  qemu-arm -L /usr/arm-linux-gnueabihf -E LD_LIBRARY_PATH=/usr/arm-linux-gnueabihf/lib)
