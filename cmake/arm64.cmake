# Cross build for 64-bit Raspberry Pi OS / Debian arm64 (Pi 3, 4, 5, Zero 2):
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/arm64.cmake
# Needs g++-aarch64-linux-gnu; the tests run under qemu-user and need
# libgtest-dev:arm64.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# The cross compiler's own C library and loader, and only those: with the
# target's multiarch libc6 installed as well, the loader would otherwise take
# the other build's libc.so.6 from the system's library cache.
set(CMAKE_CROSSCOMPILING_EMULATOR
  qemu-aarch64 -L /usr/aarch64-linux-gnu -E LD_LIBRARY_PATH=/usr/aarch64-linux-gnu/lib)
