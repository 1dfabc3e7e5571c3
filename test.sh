#!/usr/bin/env bash
# Builds with warnings as errors and runs every test, then a short fuzzing run of each
# libFuzzer target (when clang is there), then the whole suite again under AddressSanitizer
# and UndefinedBehaviorSanitizer. Ends with CTest's summary.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
jobs=$(nproc)
"$root/scripts/install-deps.sh" test

echo "== release build and tests"
cmake -S "$root" -B "$root/build/test" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIDTWINE_WERROR=ON >/dev/null
cmake --build "$root/build/test" -j"$jobs"
ctest --test-dir "$root/build/test" -j"$jobs" --output-on-failure

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake -S "$root" -B "$root/build/asan" -DCMAKE_BUILD_TYPE=Debug -DVIDTWINE_WERROR=ON \
  -DVIDTWINE_SANITIZE=ON >/dev/null
cmake --build "$root/build/asan" -j"$jobs"

echo "== fuzzing smoke run"
"$root/fuzz/smoke.sh" 10

echo "== tests under the sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build/asan" -j"$jobs" --output-on-failure
