#!/usr/bin/env bash
# Makes the Windows SDK archive from a 32-bit Windows build tree:
#
#   windows-sdk.sh BUILD_DIR OUT_DIR    -> OUT_DIR/vek-<version>-win32.zip
#
# The archive holds bin/ (vek.dll, pelto.dll, rask.dll), lib/ (mingw import
# libraries, vek.def with the decorated names for Microsoft's lib.exe,
# lib/cmake/vek, lib/pkgconfig), include/, README.txt and licences/. It is
# made from the build's install rules, so test-only modules (the stb
# FreeImage stand-in) never enter it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)

version=$(sed -n 's/^#define VEK_VERSION_STRING "\(.*\)"/\1/p' "$build/include/vek/version.h")
objdump=$(sed -n 's/^CMAKE_OBJDUMP:[A-Z]*=//p' "$build/CMakeCache.txt")
name=vek-$version-win32
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root=$stage/$name

cmake --install "$build" --prefix "$root" >/dev/null

# A module definition with the decorated names the DLL exports, for
# `lib /def:vek.def /machine:x86 /out:vek.lib`.
{
  echo "LIBRARY vek.dll"
  echo "EXPORTS"
  "$objdump" -p "$root/bin/vek.dll" | sed -n 's/^\s*\[ *[0-9]*\] \(_Vek[A-Za-z0-9]*@[0-9]*\)$/  \1/p'
} >"$root/lib/vek.def"
if ! grep -q '_VekOpenGraphicsDevice@32' "$root/lib/vek.def"; then
  echo "windows-sdk: no decorated exports found in vek.dll" >&2
  exit 1
fi

cp packaging/windows/README.txt "$root/README.txt"
mkdir -p "$root/licences"
cp packaging/windows/NOTICES.txt "$root/licences/NOTICES.txt"
# The licences of what the DLLs link in, as Debian ships them.
for pkg in gcc-mingw-w64-base mingw-w64-common libstb-dev; do
  if [[ -f /usr/share/doc/$pkg/copyright ]]; then
    cp "/usr/share/doc/$pkg/copyright" "$root/licences/$pkg.copyright"
  fi
done

if find "$root" -iname '*freeimage*' | grep -q .; then
  echo "windows-sdk: a FreeImage module got into the archive" >&2
  exit 1
fi
rm -f "$out/$name.zip"
(cd "$stage" && cmake -E tar cf "$out/$name.zip" --format=zip "$name")
echo "windows-sdk: $out/$name.zip"
