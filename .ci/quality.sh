#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer and UBSan (no finding
# allowed), clang-tidy on the tool and the simulator, and the format check.
set -euo pipefail
cd "$(dirname "$0")/.."

export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q --no-install-recommends clang-tidy clang-format

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake --build build-sanitize -j2
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-sanitize --output-on-failure

cmake -S . -B build -DCMAKE_EXPORT_COMPILE_COMMANDS=ON > /dev/null
find src sim -name '*.cpp' -print0 | xargs -0 -n 4 -P 2 clang-tidy -p build --quiet

find src sim tests fuzz -name '*.cpp' -o -name '*.h' | xargs clang-format --dry-run --Werror
echo "quality: sanitizers, clang-tidy and format clean"
