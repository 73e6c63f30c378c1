#!/usr/bin/env bash
# Draws every scene under tests/differential/scenes with libvek.so on the
# software device and with vek.dll on Wine's Direct3D 8, and compares the
# captured frames channel by channel with a small tolerance.
#
#   differential.sh POSIX_BIN_DIR WINDOWS_BIN_DIR [TOLERANCE]
#
# VEK_WINE_ARCH=win64 runs a 64-bit Windows build (default: win32).
set -euo pipefail
cd "$(dirname "$0")/.."
posix_bin=$(cd "$1" && pwd)
windows_bin=$(cd "$2" && pwd)
tolerance=${3:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Both builds decode pictures with the same test-only FreeImage over
# stb_image (the POSIX library takes libfreeimage.so.3 from its current
# directory), so that a lossy decoder's rounding (libjpeg against stb_image)
# is not mistaken for a difference of the library.
stb_module=$posix_bin/../tests/freeimage_stb/fake_freeimage_stb.so
if [[ ! -f $stb_module ]]; then
  echo "differential: $stb_module is missing (build the POSIX tests first)" >&2
  exit 1
fi
mkdir "$work/posix-cwd"
cp "$stb_module" "$work/posix-cwd/libfreeimage.so.3"

passed=0
failed=0
for scene in tests/differential/scenes/*.scene; do
  name=$(basename "$scene" .scene)
  scene_path=$(pwd)/$scene
  ok=1
  (cd "$work/posix-cwd" && "$posix_bin/vek_scene_host" "$scene_path" "$work/$name.posix") || ok=0
  if [[ $ok == 1 ]]; then
    bash scripts/wine-test.sh --arch "${VEK_WINE_ARCH:-win32}" -- "$windows_bin/vek_scene_host.exe" "$scene_path" \
      "$work/$name.windows" || ok=0
  fi
  if [[ $ok == 1 ]]; then
    # A scene may name pixels it expects to differ: "# allow-pixels N (why)".
    allowed=$(sed -n 's/^# allow-pixels \([0-9]*\).*/\1/p' "$scene" | head -n 1)
    "$posix_bin/vek_frame_compare" "$work/$name.posix" "$work/$name.windows" "$tolerance" \
      "${allowed:-0}" \
      | sed "s/^/$name: /" || ok=0
  fi
  if [[ $ok == 1 ]]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "$name: FAILED"; fi
done
echo "differential: $passed passed, $failed failed"
[[ $failed == 0 ]]
