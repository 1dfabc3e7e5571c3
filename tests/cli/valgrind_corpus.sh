#!/usr/bin/env bash
# Renders a handful of corpus files of different kinds under valgrind, and shows and queries
# those with a SAUCE record; any memory error or leak that valgrind reports fails the test.
# The sanitizer build covers the whole corpus; valgrind adds uninitialised reads, which the
# sanitizers miss, at a cost that the whole corpus would make too slow.
# Without valgrind or the corpus the test is skipped (exit status 77).
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

# A file and the options it is rendered with, besides those of each mode.
files=(
  "sx_ACID0894.ANS|"                 # SAUCE record with a comment of five lines
  "iniq_drm-inq1-132col.ans|"        # 132 columns set by SAUCE
  "sbbs_lord2-battle2.ans|"          # hundreds of cursor moves, no SAUCE
  "mntrack_faq-ru-cp866.txt|-c 866"  # Cyrillic text in code page 866
  "sx_T1-ICBO.BIN|"                  # binary-text SAUCE type
  "itm_42_WOLVR.XB|-E"               # XBin: the end-of-file byte comes in its header
)

# One valgrind run: a mode, a file and its options. vidtwine itself ends with 1 for inputs
# it rejects (no SAUCE record), which is no finding here, so valgrind reports with a status
# of its own; a signal (status above 128) is a finding too.
check() {
  local mode=$1 file=$2 extra=$3 log status
  local args=()
  case "$mode" in
    ansi) args=(-a -o /dev/null) ;;
    terminfo) args=(-x -d -l -r -u UTF-16 -o /dev/null) ;;
    show) args=(-s -o /dev/null) ;;
    query) args=(-q :TAGDCtwhbsafc) ;;
  esac
  # shellcheck disable=SC2206  # the options split into words on purpose
  args+=($extra "$file")
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

jobs=()
for entry in "${files[@]}"; do
  file=$corpus/${entry%%|*}
  extra=${entry#*|}
  if [ ! -f "$file" ]; then
    echo "not in the corpus, skipped: ${entry%%|*}"
    continue
  fi
  jobs+=(ansi "$file" "$extra" terminfo "$file" "$extra")
  if tail -c 128 "$file" | head -c 7 | LC_ALL=C grep -qa '^SAUCE00'; then
    jobs+=(show "$file" "" query "$file" "")
  fi
done

start=$(date +%s)
printf '%s\0' "${jobs[@]}" | xargs -0 -n 3 -P "$(nproc)" bash -c 'check "$1" "$2" "$3"' check
status=$?
echo "$((${#jobs[@]} / 3)) valgrind runs in $(($(date +%s) - start)) s"
[ "$status" -eq 0 ] || exit 1
