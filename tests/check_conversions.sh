#!/bin/sh
# Every comparison of the transposed shares must convert its own list entry:
# in the innermost loop of each of them (the loop over the list), there must be
# two truncating conversions (one per vector of the block) for every list entry
# the loop reads. A compiler that merged the two vectors' conversions, or
# hoisted one out of the loop, would leave fewer.
#   check_conversions.sh OBJDUMP LIBRARY
objdump=$1
library=$2
"$objdump" -d --no-show-raw-insn -C "$library" | awk '
function hex(s,    i, c, v) {
  v = 0
  s = tolower(s)
  for (i = 1; i <= length(s); i++) {
    c = index("0123456789abcdef", substr(s, i, 1))
    if (c == 0) break
    v = v * 16 + c - 1
  }
  return v
}
# The innermost loop holding a conversion: the shortest span from a backward
# jump target to the jump. Its memory operands are list entries (the block is
# loaded and stored outside it), the same operand text being the same entry.
function judge(    i, j, t, len, best, from, to, cvt, seen, entries, m, op) {
  if (name !~ /shareTransposed/) return
  best = 0
  for (i = 1; i <= n; i++) {
    if (text[i] !~ /^j[a-z]+ +[0-9a-f]+ </) continue
    split(text[i], f, /^j[a-z]+ +/)
    t = hex(f[2])
    if (t >= addr[i]) continue
    for (j = i; j >= 1 && addr[j] > t; j--) {}
    if (addr[j] != t) continue
    cvt = 0
    for (m = j; m <= i; m++) if (text[m] ~ /vcvttpd2dq/) cvt++
    if (cvt == 0) continue
    len = i - j
    if (best == 0 || len < best) { best = len; from = j; to = i }
  }
  functions++
  if (best == 0) { print "no loop with conversions in " name; failed++; return }
  cvt = 0; entries = 0
  split("", seen)
  for (m = from; m <= to; m++) {
    if (text[m] ~ /vcvttpd2dq/) cvt++
    if (match(text[m], /(-?0x[0-9a-f]+)?\(%[a-z0-9%,]+\)/)) {
      op = substr(text[m], RSTART, RLENGTH)
      if (!(op in seen)) { seen[op] = 1; entries++ }
    }
  }
  status = (entries > 0 && cvt == 2 * entries) ? "ok  " : "FAIL"
  if (status == "FAIL") failed++
  printf "%s %d conversions for %d list entries per pass: %s\n", status, cvt, entries, name
}
/^[0-9a-f]+ <.*>:$/ { judge(); name = $0; n = 0; next }
/^ *[0-9a-f]+:\t/ { n++; split($0, f, ":"); gsub(/ /, "", f[1]); addr[n] = hex(f[1]); sub(/^[^\t]*\t/, ""); text[n] = $0 }
END {
  judge()
  if (functions == 0) { print "no transposed shares found"; exit 1 }
  exit failed > 0
}'
