#!/usr/bin/env bash
# Checks the library's layering: a unit (a folder under src/) includes only
# its own headers and those of units on lower layers. Fails listing every
# include against the order.
#
#   check-layers.sh [SRC_DIR]
set -euo pipefail
src=${1:-"$(dirname "$0")/../src"}

# Lowest first; units on one layer do not include each other.
layers=(host d3dx vektex gd "vekimage vekfont" "graphics" particles vek)

declare -A layer
for i in "${!layers[@]}"; do
  for unit in ${layers[$i]}; do layer[$unit]=$i; done
done

bad=0
checked=0
while IFS= read -r file; do
  unit=${file#"$src"/}
  unit=${unit%%/*}
  if [[ -z ${layer[$unit]+x} ]]; then
    echo "check-layers: $file: unit '$unit' has no layer" >&2
    bad=$((bad + 1))
    continue
  fi
  while IFS=: read -r line target; do
    to=${target%%/*}
    [[ $to == "$unit" ]] && continue
    checked=$((checked + 1))
    if [[ -z ${layer[$to]+x} ]]; then
      echo "$file:$line: includes $target of unit '$to', which has no layer" >&2
      bad=$((bad + 1))
    elif ((layer[$to] >= layer[$unit])); then
      echo "$file:$line: $unit includes $target ($to is not below $unit)" >&2
      bad=$((bad + 1))
    fi
  done < <(grep -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z0-9_]+/' "$file" |
    sed 's/^\([0-9]*\):[^"]*"\([^"]*\)".*/\1:\2/')
done < <(find "$src" -mindepth 2 -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.inc' \) | sort)

echo "layering: $checked includes across units checked, $bad against the order"
[[ $bad == 0 ]]
