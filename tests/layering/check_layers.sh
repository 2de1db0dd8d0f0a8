#!/usr/bin/env bash
# Checks that every include of the product folders points down the layers:
#   loader > eeprom > device > platform > driver > usb > sim > wire, win32
# A file may include headers of its own folder and of folders below it; wire/ and win32/
# sit side by side at the bottom and include neither each other nor anything above.
# include/ftdev.h is the public header any folder may include. tests/ and bench/ are
# not checked. Prints every include that breaks the order and fails if there is one.
# Usage: check_layers.sh ROOT
set -euo pipefail
root=$1

declare -A rank=([loader]=8 [eeprom]=7 [device]=6 [platform]=5 [driver]=4 [usb]=3 [sim]=2 [wire]=1 [win32]=1)

fail=0 checked=0
cd "$root"
while IFS= read -r -d '' file; do
  own=${file%%/*}
  checked=$((checked + 1))
  while IFS=: read -r line header; do
    [ "$header" = ftdev.h ] && continue
    layer=${header%%/*}
    if [ "$layer" = "$header" ] || [ -z "${rank[$layer]:-}" ]; then
      echo "$file:$line: includes \"$header\", which is no layer's header"; fail=1
    elif [ "$layer" != "$own" ] && [ "${rank[$layer]}" -ge "${rank[$own]}" ]; then
      echo "$file:$line: $own includes \"$header\" of $layer, which is not below it"; fail=1
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
           sed -E 's/^([0-9]+):[^"]*"([^"]*)".*/\1:\2/')
done < <(find "${!rank[@]}" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) -print0 2>/dev/null)

echo "$checked files checked"
exit $fail
