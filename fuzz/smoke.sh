#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each of them for a short while over its
# seeds and its corpus directory; a crash, a sanitizer report, a failed check or a hang
# fails the script. Without clang it says so and succeeds.
# Usage: fuzz/smoke.sh [seconds per target, default 20]; VIDTWINE_FUZZ_BUILD names another
# build folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
build=${VIDTWINE_FUZZ_BUILD:-$root/build-fuzz}
work="$build/fuzz"
corpus=${VIDTWINE_CORPUS:-$root/../shared/corpus}

skip() {
  echo "== fuzz smoke test skipped: $1"
  exit 0
}

command -v clang++ >/dev/null 2>&1 || skip "clang++ not found (install clang and libclang-rt-14-dev)"
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
  'extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }' \
  >"$probe/probe.cpp"
clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" 2>/dev/null ||
  skip "clang++ cannot link libFuzzer programs (install libclang-rt-14-dev)"

echo "== fuzz smoke test: building in $build"
start=$(date +%s)
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVIDTWINE_FUZZ=ON -DVIDTWINE_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_all

# Seeds are made afresh each time; the corpus directories keep what earlier runs found.
rm -rf "$work/seeds"
if [ -d "$corpus" ]; then
  "$work/fuzz_seeds" "$work/seeds" "$corpus"
else
  echo "(no art corpus at $corpus: generated seeds only)"
  "$work/fuzz_seeds" "$work/seeds"
fi
mkdir -p "$work/artifacts" "$work/logs"

# name and extra libFuzzer flags of each target
targets=(
  "render -max_len=16384 -dict=$root/fuzz/render.dict"
  "sauce -max_len=20000 -dict=$root/fuzz/sauce.dict"
  "command_line -max_len=1024 -close_fd_mask=2"
  "formats -max_len=65536"
)
pids=()
for entry in "${targets[@]}"; do
  read -r name flags <<<"$entry"
  mkdir -p "$work/corpus/$name"
  # shellcheck disable=SC2086 # the flags are separate words
  timeout $((seconds + 120)) "$work/fuzz_$name" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/artifacts/$name-" \
    $flags "$work/corpus/$name" "$work/seeds/$name" >"$work/logs/$name.log" 2>&1 &
  pids+=("$!")
done

failed=0
for i in "${!targets[@]}"; do
  read -r name _ <<<"${targets[$i]}"
  if wait "${pids[$i]}"; then
    runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$work/logs/$name.log" | grep -o '[0-9]*$' || true)
    echo "fuzz_$name: ok, ${runs:-?} inputs"
  else
    failed=1
    echo "fuzz_$name: FAILED; log: $work/logs/$name.log"
    grep -v -E '^#[0-9]+' "$work/logs/$name.log" | tail -40
  fi
done
echo "== fuzz smoke test took $(($(date +%s) - start)) s"
if [ "$failed" -ne 0 ]; then
  echo "Crashing inputs are in $work/artifacts; rerun one with: $work/fuzz_NAME FILE"
  exit 1
fi
