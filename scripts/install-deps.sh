#!/usr/bin/env bash
# Installs the Debian packages that are missing; safe to run again.
# Usage: scripts/install-deps.sh [build|test|PACKAGE...]
set -euo pipefail

build_packages=(cmake g++ make libncurses-dev ncurses-bin)
test_packages=(libgtest-dev ncurses-term tmux clang libclang-rt-14-dev valgrind mandoc tidy chromium imagemagick)

case "${1:-build}" in
  build) wanted=("${build_packages[@]}") ;;
  test) wanted=("${build_packages[@]}" "${test_packages[@]}") ;;
  *) wanted=("$@") ;;
esac

missing=()
for package in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
