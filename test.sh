#!/usr/bin/env bash
# Builds everything (warnings are errors) and runs every test with CTest, runs
# each fuzz target for a short while, runs the tests of the threaded parts
# under ThreadSanitizer, then builds the tests again with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs them there.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
vxrt7_install_deps

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVXRT7_WERROR=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

# The core and the tool for Windows: cross-built with mingw-w64, then the
# core's tests and the tool from the zip run under Wine (headless, its prefix
# in build-win/) against the simulator of the build above behind COM ports.
if [ "${VXRT7_SKIP_WINDOWS:-0}" != "1" ]; then
  scripts/build-windows.sh build-win
  scripts/test-windows.sh build-win build
fi

# A short run of every fuzz target with clang's libFuzzer, starting from its
# corpus (new inputs go to a scratch folder, not into the tree). Any sanitizer
# report stops the fuzzer (the build has no recovery) and fails this script:
# the report is shown whole with the input that caused it, which is kept in
# build-fuzz/crashes/ to be mended and added to the corpus.
if [ "${VXRT7_SKIP_FUZZ:-0}" != "1" ] && command -v clang++ >/dev/null; then
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  crashes=build-fuzz/crashes
  mkdir -p "$crashes"
  for corpus in fuzz/corpus/*/; do
    name=$(basename "$corpus")
    cmake --build build-fuzz -j "$jobs" --target "fuzz_$name"
    scratch=$(mktemp -d)
    log="$scratch/fuzz.log"
    mkdir "$scratch/new"
    status=0
    UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
      build-fuzz/bin/"fuzz_$name" -max_total_time="${VXRT7_FUZZ_SECONDS:-30}" -print_final_stats=1 \
      -artifact_prefix="$crashes/$name-" "$scratch/new" "$corpus" >"$log" 2>&1 || status=$?
    # A report that did not stop the run (a target built before the flags
    # changed) fails all the same.
    if [ "$status" -ne 0 ] || grep -q -e 'runtime error:' -e '^==[0-9]*==ERROR' "$log"; then
      report=$(sed -n '/runtime error:\|^==[0-9]*==ERROR\|^==[0-9]*== ERROR/,$p' "$log")
      if [ -n "$report" ]; then echo "$report"; else tail -n 40 "$log"; fi
      echo "fuzz_$name failed (exit status $status); the input is named above (in $crashes/)." >&2
      rm -rf "$scratch"
      exit 1
    fi
    tail -n 3 "$log"
    rm -rf "$scratch"
  done
fi

# ThreadSanitizer over the core tests of the parts with a thread of their
# own: the serial port's event thread (comm/), the link on top of it
# (link/) and the session that owns both (session/). Only those programs are
# built; they need no Qt. Some tests fork
# a child that opens the port (a thread of its own): TSan must let it live.
if [ "${VXRT7_SKIP_TSAN:-0}" != "1" ]; then
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVXRT7_TSAN=ON \
    -DVXRT7_WERROR=ON >/dev/null
  cmake --build build-tsan -j "$jobs" --target test_comm test_link test_session
  for program in test_comm test_link test_session; do
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 die_after_fork=0" build-tsan/bin/"$program" --gtest_brief=1
  done
fi

if [ "${VXRT7_SKIP_SANITIZERS:-0}" != "1" ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVXRT7_SANITIZE=ON -DVXRT7_WERROR=ON
  cmake --build build-asan -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"
fi
