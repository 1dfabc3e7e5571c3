#!/usr/bin/env bash
# Renders every art file of the corpus under valgrind, and shows and queries those with a
# SAUCE record; any memory error or leak that valgrind reports fails the test. Without
# valgrind or the corpus the test is skipped (exit status 77).
# Usage: valgrind_corpus.sh VIDTWINE [CORPUSDIR]   (VIDTWINE_CORPUS overrides CORPUSDIR)
set -uo pipefail
binary=$1
corpus=${VIDTWINE_CORPUS:-${2:-}}

if ! command -v valgrind >/dev/null 2>&1; then
  echo "valgrind corpus test skipped: valgrind not found"
  exit 77
fi
if [ -z "$corpus" ] || [ ! -d "$corpus" ]; then
  echo "valgrind corpus test skipped: no corpus directory at '$corpus'"
  exit 77
fi

# One valgrind run: a mode and a file. vidtwine itself ends with 1 for inputs it rejects
# (a ninth parameter, no SAUCE record), which is no finding here, so valgrind reports with a
# status of its own; a signal (status above 128) is a finding too.
check() {
  local mode=$1 file=$2 log status
  local args=()
  case "$mode" in
    ansi) args=(-a -o /dev/null "$file") ;;
    terminfo) args=(-x -d -l -r -u UTF-16 -o /dev/null "$file") ;;
    show) args=(-s -o /dev/null "$file") ;;
    query) args=(-q :TAGDCtwhbsafc "$file") ;;
  esac
  log=$(mktemp)
  TERM=xterm-256color valgrind -q --error-exitcode=99 --leak-check=full \
    --log-file="$log" "$binary" "${args[@]}" >/dev/null 2>&1
  status=$?
  if [ "$status" -eq 99 ] || [ "$status" -gt 128 ] || [ -s "$log" ]; then
    echo "FAILED (status $status): vidtwine ${args[*]}"
    cat "$log"
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}
export -f check
export binary

# Large files are rendered once; small ones also through the terminfo writer with the
# other output settings.
big=262144
jobs=()
for file in "$corpus"/*; do
  [ -f "$file" ] && [ "$(basename "$file")" != MANIFEST.tsv ] || continue
  jobs+=(ansi "$file")
  [ "$(stat -c %s "$file")" -lt "$big" ] && jobs+=(terminfo "$file")
  if tail -c 128 "$file" | head -c 7 | LC_ALL=C grep -qa '^SAUCE00'; then
    jobs+=(show "$file" query "$file")
  fi
done

start=$(date +%s)
printf '%s\0' "${jobs[@]}" | xargs -0 -n 2 -P "$(nproc)" bash -c 'check "$1" "$2"' check
status=$?
echo "$((${#jobs[@]} / 2)) valgrind runs in $(($(date +%s) - start)) s"
[ "$status" -eq 0 ] || exit 1
