#!/usr/bin/env bash
# Renders the test page as HTML and takes a screenshot of it in headless Chromium, for the
# README: doc/make-html-screenshot.sh [VIDTWINE] [OUTPUT.png]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
vidtwine=${1:-$root/build/release/src/app/vidtwine}
output=${2:-$root/doc/html-test-page.png}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$vidtwine" -T --html -o "$work/page.html"
browser=$(command -v chromium || command -v chromium-browser)
sandbox=()
[ "$(id -u)" -eq 0 ] && sandbox=(--no-sandbox)
"$browser" "${sandbox[@]}" --headless --disable-gpu --hide-scrollbars \
  --force-device-scale-factor=1 --window-size=760,470 \
  --screenshot="$output" "file://$work/page.html" >/dev/null 2>&1
echo "wrote $output"
