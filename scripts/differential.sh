#!/usr/bin/env bash
# Draws every scene under tests/differential/scenes with libvek.so on the
# software device and with vek.dll on Wine's Direct3D 8, and compares the
# captured frames channel by channel with a small tolerance.
#
#   differential.sh POSIX_BIN_DIR WINDOWS_BIN_DIR [TOLERANCE]
set -euo pipefail
cd "$(dirname "$0")/.."
posix_bin=$(cd "$1" && pwd)
windows_bin=$(cd "$2" && pwd)
tolerance=${3:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
for scene in tests/differential/scenes/*.scene; do
  name=$(basename "$scene" .scene)
  scene_path=$(pwd)/$scene
  ok=1
  "$posix_bin/vek_scene_host" "$scene_path" "$work/$name.posix" || ok=0
  if [[ $ok == 1 ]]; then
    bash scripts/wine-test.sh -- "$windows_bin/vek_scene_host.exe" "$scene_path" \
      "$work/$name.windows" || ok=0
  fi
  if [[ $ok == 1 ]]; then
    "$posix_bin/vek_frame_compare" "$work/$name.posix" "$work/$name.windows" "$tolerance" \
      | sed "s/^/$name: /" || ok=0
  fi
  if [[ $ok == 1 ]]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "$name: FAILED"; fi
done
echo "differential: $passed passed, $failed failed"
[[ $failed == 0 ]]
