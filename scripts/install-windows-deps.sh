#!/usr/bin/env bash
# Installs what the Windows cross builds and their Wine test stage need: the
# mingw-w64 i686 cross compiler (posix thread model, for std::thread), 32-bit
# Wine with Mesa's software OpenGL (Wine's Direct3D 8 runs on it), Xvfb for a
# display, and the GoogleTest sources the cross build compiles; and the
# x86-64 compiler with 64-bit Wine, for machines that cannot start 32-bit
# programs (scripts/test.sh).
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive

packages=(
  cmake
  ninja-build
  g++-mingw-w64-i686-posix
  gcc-mingw-w64-i686-posix
  binutils-mingw-w64-i686
  mingw-w64-i686-dev
  wine
  wine32:i386
  wine64
  g++-mingw-w64-x86-64-posix
  gcc-mingw-w64-x86-64-posix
  binutils-mingw-w64-x86-64
  mingw-w64-x86-64-dev
  libgl1:amd64
  libglx-mesa0:amd64
  libgl1-mesa-dri:amd64
  xvfb
  xauth
  libgl1:i386
  libglx-mesa0:i386
  libgl1-mesa-dri:i386
  googletest
)

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  sudo_cmd=(sudo)
fi

installed() {
  [[ $(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null) == installed ]]
}

# 32-bit Wine comes from Debian's i386 packages.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "install-windows-deps: all ${#packages[@]} packages present"
  exit 0
fi

echo "install-windows-deps: installing ${missing[*]}"
# One update per run that installs (also needed after adding i386). Sources
# other than Debian's may fail without harm, so the install decides success.
"${sudo_cmd[@]}" apt-get update -q ||
  echo "install-windows-deps: apt-get update reported errors; trying the install anyway" >&2
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"

for p in "${packages[@]}"; do
  if ! installed "$p"; then
    echo "install-windows-deps: $p is still not installed" >&2
    exit 1
  fi
done
echo "install-windows-deps: done"
