#!/usr/bin/env bash
# Makes doc/test-page.png, the picture of the built-in test page (-T) shown in the README.
# The release binary runs in tmux as a 256-colour xterm, the pane is captured with its
# colours, turned into HTML by aha and photographed by headless Chromium.
# Run by hand on Debian, as root or with sudo: installs the packages it lacks.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
output="$root/doc/test-page.png"
columns=80
rows=30
# DejaVu Sans Mono at 16px: a cell is 9.63 by 19 pixels; the page keeps a margin around it.
font_px=16
line_px=19
margin_px=12

"$root/scripts/install-deps.sh" tmux aha chromium fonts-dejavu-core >&2
"$root/scripts/install-deps.sh" build >&2
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DVIDTWINE_TESTS=OFF >/dev/null
cmake --build "$root/build/release" -j"$(nproc)" --target vidtwine >/dev/null
binary="$root/build/release/src/app/vidtwine"

work=$(mktemp -d)
socket="vidtwine-screenshot-$$"
socket_path=""
cleanup() {
  tmux -L "$socket" kill-server 2>/dev/null || true
  # The server leaves its socket file behind.
  [ -n "$socket_path" ] && rm -f "$socket_path"
  rm -rf "$work"
}
trap cleanup EXIT

# The program prints the page and ends; the pane stays open so that it can be captured.
tmux -L "$socket" -f /dev/null new-session -d -x "$columns" -y "$rows" \
  "env TERM=xterm-256color '$binary' -T; exec sleep 600"
socket_path=$(tmux -L "$socket" display-message -p '#{socket_path}')
for _ in $(seq 50); do
  if tmux -L "$socket" capture-pane -p | grep -q 'vidtwine v'; then break; fi
  sleep 0.1
done
tmux -L "$socket" capture-pane -p -e >"$work/pane.ans"
if ! grep -q 'vidtwine v' "$work/pane.ans"; then
  echo "the test page did not appear in the terminal" >&2
  exit 1
fi
# The picture ends with the last line that shows something, not with the empty rows below.
shown=$(tmux -L "$socket" capture-pane -p | awk 'NF { last = NR } END { print last }')
head -n "$shown" "$work/pane.ans" >"$work/shown.ans"

{
  cat <<EOF
<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>vidtwine -T</title><style>
html, body { margin: 0; background: #000; }
pre {
  margin: ${margin_px}px; color: #aaa; background: #000;
  font-family: "DejaVu Sans Mono", monospace; font-size: ${font_px}px;
  line-height: ${line_px}px;
}
</style></head><body><pre>
EOF
  aha --no-header <"$work/shown.ans"
  echo '</pre></body></html>'
} >"$work/page.html"

width=$(awk -v c="$columns" -v f="$font_px" -v m="$margin_px" \
  'BEGIN { printf "%d", c * f * 0.602 + 2 * m + 0.999 }')
height=$((shown * line_px + 2 * margin_px))
profile="$work/profile"
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$profile" --hide-scrollbars --force-device-scale-factor=1 \
  --screenshot="$work/shot.png" --window-size="$width,$height" \
  "file://$work/page.html" >"$work/chromium.log" 2>&1 || true
if [ ! -s "$work/shot.png" ]; then
  cat "$work/chromium.log" >&2
  echo "chromium made no screenshot" >&2
  exit 1
fi
mv "$work/shot.png" "$output"
echo "wrote $output (${width}x${height})"
