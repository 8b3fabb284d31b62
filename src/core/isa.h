// The instruction sets the library has kernels for, and the one rule that
// picks among them.
//
// The library is built for SSE3; its hot kernels are compiled once more for
// AVX2 and, except on Windows, for AVX-512 (each from the same source, into
// a namespace of its own: vekr::sse3, vekr::avx2, vekr::avx512). Which set
// runs is decided once per process, at the first call that needs a kernel,
// from what the processor and the operating system support (CPUID, and
// XGETBV for the saved vector state). The environment variable VEKR_ISA
// (sse3 or avx2) caps the choice; it is the only thing the library reads
// from its environment, and it is read once. Every set gives bit-identical
// results, so the choice changes speed only.
#ifndef VEKR_CORE_ISA_H
#define VEKR_CORE_ISA_H

#include <cstdint>

namespace vekr {

enum class Isa : int32_t {
    Sse3 = 0,
    Avx2 = 1,
    Avx512 = 2,  // AVX-512 F, BW, VL and DQ
};

constexpr int kIsaCount = 3;

// Lower-case name, as VEKR_ISA spells it.
const char* isaName(Isa isa);

// Whether this processor (and its operating system) can run the kernels of
// isa, and this build has them.
bool isaSupported(Isa isa);

// The widest supported set, before any cap from the environment.
Isa widestSupportedIsa();

// The set a process runs: the widest supported one, capped by VEKR_ISA
// (sse3 or avx2; any other value is ignored). Decided at the first call and
// fixed after.
Isa activeIsa();

// For tests only: run the kernels of isa from now on (in every thread).
// Returns false and changes nothing when the processor lacks isa.
bool useIsaForTesting(Isa isa);

}  // namespace vekr

#endif
