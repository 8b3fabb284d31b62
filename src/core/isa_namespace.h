// Included by every source that is compiled once per instruction set (see
// vekr_isa_sources() in src/CMakeLists.txt). The build names the set's
// namespace in VEKR_ISA_NS (sse3, avx2) and compiles the AVX2 copy with
// -mavx2 -mno-fma; everything such a source defines, inline helpers and
// template instances included, must live in that namespace, so that the
// linker can never hand an AVX2 copy of a function to SSE3 code (a test
// disassembles the library to check).
#ifndef VEKR_CORE_ISA_NAMESPACE_H
#define VEKR_CORE_ISA_NAMESPACE_H

#ifndef VEKR_ISA_NS
#error "this source is compiled once per instruction set: add it with vekr_isa_sources()"
#endif

#endif
