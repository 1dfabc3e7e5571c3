#!/usr/bin/env bash
# Builds a release binary and runs it with the given arguments
# (no arguments: the built-in test page).
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
"$root/scripts/install-deps.sh" build >&2
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DVIDTWINE_TESTS=OFF >/dev/null
cmake --build "$root/build/release" -j"$(nproc)" --target vidtwine >/dev/null
if [ "$#" -eq 0 ]; then
  exec "$root/build/release/src/app/vidtwine" -T
fi
exec "$root/build/release/src/app/vidtwine" "$@"
