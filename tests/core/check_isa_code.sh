#!/bin/sh
# Checks the machine code of the built library (argument 1):
#  - no fused multiply-add anywhere: every product is rounded on its own, in
#    the SSE3 and in the AVX2 kernels alike;
#  - AVX/AVX2 instructions (VEX-encoded, or any ymm register) appear only in
#    functions of the vekr::...::avx2 namespace. A function outside it with
#    such code would be an AVX2 copy of a shared helper that the linker chose
#    for SSE3 callers, which would fault on a processor without AVX2.
set -eu
lib=$1
objdump -d -C --no-show-raw-insn "$lib" | awk '
  /^[0-9a-f]+ <.*>:$/ { fn = $0; sub(/^[0-9a-f]+ </, "", fn); sub(/>:$/, "", fn); next }
  /^ *[0-9a-f]+:\t/ {
    split($0, part, "\t"); insn = part[2]
    if (insn ~ /^v?f(n)?m(add|sub)/) { print "fused multiply-add in " fn ": " insn; bad = 1 }
    if ((insn ~ /^v[a-z]/ || insn ~ /%ymm/) && fn !~ /::avx2::/ && !(fn in seen)) {
      print "AVX code outside an avx2 namespace: " fn ": " insn; seen[fn] = 1; bad = 1
    }
    if (fn ~ /::avx2::/) avx2 = 1
  }
  END {
    if (!avx2) { print "no avx2 kernels found in the library"; bad = 1 }
    exit bad
  }'
echo "ok: no fused multiply-add; AVX code only in avx2 kernels"
