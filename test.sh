#!/usr/bin/env bash
# Builds everything and runs every test with CTest, then builds the tests
# again with AddressSanitizer and UndefinedBehaviorSanitizer and runs them there.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
vxrt7_install_deps

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

if [ "${VXRT7_SKIP_SANITIZERS:-0}" != "1" ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVXRT7_SANITIZE=ON
  cmake --build build-asan -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"
fi
