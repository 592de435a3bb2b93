#!/bin/sh
# A module that users load carries no test or benchmark controls: none of the functions that
# engine/scan_control.h declares for test builds (all but scanPathSupported, which every build has)
# and none of the write recording's variables is in its symbol table.
# usage: check_no_controls.sh MODULE ENGINE_DIR
names=$(sed -n 's/^[A-Za-z][A-Za-z* ]* \([a-z][A-Za-z]*\)(.*;$/\1/p' "$2/scan_control.h" |
  grep -vx scanPathSupported)
[ -n "$names" ] || { echo "no control declarations found in $2/scan_control.h"; exit 1; }
pattern=$(printf '%s\n' $names relabelWriter relabelWriteCount | paste -sd'|' -)
symbols=$(nm -C "$1" 2>/dev/null)
[ -n "$symbols" ] || { echo "$1 has no symbol table to read"; exit 1; }
found=$(printf '%s\n' "$symbols" | grep -E " ($pattern)(\(|$)")
if [ -n "$found" ]; then
  echo "$1 carries test controls:"; echo "$found"; exit 1
fi
echo "no test controls in $1 (looked for: $(echo $pattern | tr '|' ' '))"
