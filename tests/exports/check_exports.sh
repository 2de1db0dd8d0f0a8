#!/usr/bin/env bash
# Checks the dynamic symbol table of a binary that carries the device and EEPROM
# libraries: it must export FT_* functions only, each one named in the function set
# (names file), and exactly those that include/ftdev.h declares.
# Usage: check_exports.sh BINARY NAMES_FILE HEADER
set -euo pipefail
binary=$1 names=$2 header=$3

exported=$(nm -D --defined-only "$binary" | awk '$2 ~ /^[TtWw]$/ || $2 == "i" {print $3}' | sed 's/@.*//' | sort -u || true)
declared=$(grep -oE '\bFT_[A-Za-z0-9_]+\s*\(' "$header" | tr -d '( \t' | sort -u || true)
fail=0

stray=$(comm -23 <(printf '%s\n' "$exported") <(sort -u "$names"))
if [ -n "$stray" ]; then
  echo "exported but not in the function set:"; printf '  %s\n' $stray; fail=1
fi
missing=$(comm -13 <(printf '%s\n' "$exported") <(printf '%s\n' "$declared"))
if [ -n "$missing" ]; then
  echo "declared in ftdev.h but not exported:"; printf '  %s\n' $missing; fail=1
fi
undeclared=$(comm -23 <(printf '%s\n' "$exported") <(printf '%s\n' "$declared"))
if [ -n "$undeclared" ]; then
  echo "exported but not declared in ftdev.h:"; printf '  %s\n' $undeclared; fail=1
fi
count=$(printf '%s\n' "$exported" | grep -c . || true)
echo "$binary exports $count of the $(grep -c . "$names") FT_* functions"
exit $fail
