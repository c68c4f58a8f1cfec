#!/usr/bin/env bash
# Installs the Debian packages that are missing, of one of two sets:
#   install-deps.sh programs   what building and running the programs needs (./run.sh)
#   install-deps.sh            that and what the tests need besides (./test.sh)
set -euo pipefail

# The compiler, zlib for the engine, Qt 6 Widgets for the forms, and a font for their texts.
program_packages=(
  cmake ninja-build g++
  zlib1g-dev
  qt6-base-dev fonts-dejavu-core
)

# GoogleTest; a private X server with a window manager for the desktop tests (xprop to see it
# start, the xcb headers to ask it to close a window); the archivers the archives are checked
# against; the time zones the clock tests move to; clang and its runtime for the fuzz targets.
test_packages=(
  libgtest-dev libgmock-dev
  xvfb openbox x11-utils libxcb1-dev
  zip unzip 7zip libarchive-tools python3 tzdata
  clang libclang-rt-14-dev
)

case ${1:-all} in
  programs) packages=("${program_packages[@]}") ;;
  all) packages=("${program_packages[@]}" "${test_packages[@]}") ;;
  *)
    echo "usage: $0 [programs]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "install-deps: installing ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
