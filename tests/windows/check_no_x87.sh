#!/usr/bin/env bash
# Fails when the given object code holds an x87 floating-point instruction.
# x87 keeps 80-bit intermediates, which change the keyed bytes (the alpha rule's
# exceptions grow from fifty values of d to well over a hundred), so the keying code
# must do all of its double arithmetic in SSE2.
#
#   check_no_x87.sh OBJDUMP FILE...   (object files, archives or images)
#
# Exit 0: SSE2 double arithmetic present, no x87; 1: x87 found or no double arithmetic
# to look at (a vacuous pass would hide a broken build); 2: the tool failed.
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 OBJDUMP FILE..." >&2; exit 2; }
objdump=$1
shift

listing=$("$objdump" -d --no-show-raw-insn --demangle "$@") || exit 2

# One line per instruction: "function<TAB>mnemonic operands". Mnemonics are compared
# whole, so SSE names that merely contain an x87 one (movsd, cvttsd2si) never match.
instructions=$(awk -F'\t' '
  /^[0-9a-f]+ <.*>:$/ { fn = $0; sub(/^[0-9a-f]+ </, "", fn); sub(/>:$/, "", fn); next }
  /^ *[0-9a-f]+:\t/ { print fn "\t" $2 }
' <<<"$listing")

# Every x87 mnemonic starts with "f"; no SSE/AVX one does. fxsave/fxrstor only save
# and restore register state, and femms is 3DNow!; none of them computes.
x87=$(awk -F'\t' '{ split($2, w, " ") } w[1] ~ /^f/ && w[1] !~ /^(fxsave|fxrstor|femms)/' <<<"$instructions")
# Scalar or packed double arithmetic or truncation, legacy SSE or VEX/EVEX encoded.
sse=$(awk -F'\t' '{ split($2, w, " ") } w[1] ~ /^v?(add|sub|mul|div|min|max)[sp]d$|^v?cvtt[sp]d2/' <<<"$instructions")

status=0
if [ -n "$x87" ]; then
  echo "FAIL: found x87 instructions in $*:"
  awk -F'\t' '{ printf "  %-60s %s\n", $1, $2 }' <<<"$x87" | head -n 40
  status=1
fi
if [ -z "$sse" ]; then
  echo "FAIL: no SSE2 double arithmetic in $*: nothing was checked"
  status=1
fi
if [ $status -eq 0 ]; then
  echo "PASS: $(wc -l <<<"$instructions") instructions, $(wc -l <<<"$sse") SSE2 double operations, no x87"
fi
exit $status
