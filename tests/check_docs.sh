#!/bin/sh
# check_docs.sh ROOT LAYOUT_TABLE: the drift a reader of the README and docs/
# would notice. Every relative link resolves; every error text in the README's
# table is one the gateway raises, and the table has them all; the layout table
# in docs/engine.md is what LAYOUT_TABLE prints.
root=$1
printer=$2
fail=0

# report LINES: prints LINES and marks the check failed, when there are any.
report() { [ -z "$1" ] || { printf '%s\n' "$1"; fail=1; }; }

report "$(for doc in "$root"/README.md "$root"/docs/*.md; do
  dir=$(dirname "$doc")
  # Inline links and images: ](target), ](target#anchor) or ](target "title").
  grep -o '](\([^)]*\))' "$doc" | sed 's/^](\([^) #]*\).*/\1/' | while read -r target; do
    case $target in "" | http://* | https://* | mailto:*) continue ;; esac
    [ -e "$dir/$target" ] || echo "${doc#"$root"/}: link to $target does not resolve"
  done
done)"

gateway="$root/gateway/meshLookup.cpp"
listed=$(sed -n 's/^| `\(Mesh renumbering: [^`]*\)` |.*/\1/p' "$root/README.md")
raised=$(sed -n 's/.*mexErrMsgTxt("\(Mesh renumbering: [^"]*\)").*/\1/p' "$gateway")
[ -n "$listed" ] || report "README.md: no error table found"
report "$(echo "$listed" | while IFS= read -r text; do
  echo "$raised" | grep -qxF -- "$text" || echo "README.md: \"$text\" is not raised by the gateway"
done)"
report "$(echo "$raised" | while IFS= read -r text; do
  echo "$listed" | grep -qxF -- "$text" || echo "README.md: the error table lacks \"$text\""
done)"

engine_doc="$root/docs/engine.md"
documented=$(sed -n '/^<!-- layout table: begin -->$/,/^<!-- layout table: end -->$/p' "$engine_doc" |
  sed '1d;$d')
printed=$("$printer") || { echo "$printer failed"; fail=1; }
if [ "$documented" != "$printed" ]; then
  echo "docs/engine.md: the layout table differs from what the code prints:"
  expected=$(mktemp)
  printf '%s\n' "$printed" >"$expected"
  printf '%s\n' "$documented" | diff - "$expected"
  rm -f "$expected"
  fail=1
fi

[ $fail -eq 0 ] && echo "docs: links, error texts and layout table agree with the code"
exit $fail
