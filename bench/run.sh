#!/usr/bin/env bash
# Builds a release binary and runs the benchmark: bench/run.sh [--runs N] [--corpus DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" build >&2
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DVIDTWINE_TESTS=OFF >/dev/null
cmake --build "$root/build/release" -j"$(nproc)" --target vidtwine vidtwine_bench >/dev/null
exec "$root/build/release/bench/vidtwine_bench" "$@"
