#!/bin/sh
# Checks the machine code of the built library (argument 1); the further
# arguments name the wider instruction sets the build has (avx2, avx512):
#  - no fused multiply-add anywhere: every product is rounded on its own, in
#    every set's kernels alike;
#  - no AVX-512 reciprocal estimate (vrcp14/vrcp28): the wider kernels must
#    refine the same estimate as the SSE3 ones, or their results differ;
#  - AVX instructions (VEX- or EVEX-encoded, or any ymm register) appear only
#    in functions of a vekr::...::avx2 or ::avx512 namespace, and 512-bit
#    registers or mask registers only in ::avx512. A function outside with
#    such code would be a wide copy of a shared helper that the linker chose
#    for narrower callers, which would fault on a processor without the set;
#  - every named set has kernels in the library.
set -eu
lib=$1
shift
objdump -d -C --no-show-raw-insn "$lib" | awk -v sets="$*" '
  /^[0-9a-f]+ <.*>:$/ { fn = $0; sub(/^[0-9a-f]+ </, "", fn); sub(/>:$/, "", fn); next }
  /^ *[0-9a-f]+:\t/ {
    split($0, part, "\t"); insn = part[2]
    if (insn ~ /^v?f(n)?m(add|sub)/) { print "fused multiply-add in " fn ": " insn; bad = 1 }
    if (insn ~ /^vrcp(14|28)/) { print "AVX-512 reciprocal estimate in " fn ": " insn; bad = 1 }
    wide = fn ~ /::avx2::/ || fn ~ /::avx512::/
    if ((insn ~ /^v[a-z]/ || insn ~ /%ymm/) && !wide && !(fn in seen)) {
      print "AVX code outside a wide namespace: " fn ": " insn; seen[fn] = 1; bad = 1
    }
    if ((insn ~ /%zmm/ || insn ~ /%k[0-7]/) && fn !~ /::avx512::/ && !(fn in seen)) {
      print "AVX-512 code outside an avx512 namespace: " fn ": " insn; seen[fn] = 1; bad = 1
    }
    if (fn ~ /::avx2::/) found["avx2"] = 1
    if (fn ~ /::avx512::/) found["avx512"] = 1
  }
  END {
    n = split(sets, want, " ")
    for (i = 1; i <= n; ++i)
      if (!(want[i] in found)) { print "no " want[i] " kernels found in the library"; bad = 1 }
    exit bad
  }'
echo "ok: no fused multiply-add; wide code only in the kernels of its set ($*)"
