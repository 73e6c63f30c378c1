#!/usr/bin/env bash
# Installs the Debian packages the POSIX build, its tests and the demo need.
# Quick when everything is already there.
set -euo pipefail

packages=(cmake g++ make binutils pkg-config libgtest-dev libbenchmark-dev libpixman-1-dev libpng-dev libfreeimage3 libfreeimage-dev libstb-dev libfreetype-dev libfontconfig-dev fonts-dejavu-core fonts-dejavu-extra clang-14 libclang-rt-14-dev libsdl2-dev xvfb xauth x11-apps)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
