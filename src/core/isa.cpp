#include "core/isa.h"

#include <cpuid.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "core/kernel_table.h"

namespace vekr {

namespace {

// The widest set the processor and its operating system can run. AVX2
// needs the processor's AVX and AVX2 bits and an operating system that saves
// the 256-bit registers on a context switch (OSXSAVE, and XCR0 with the SSE
// and AVX state bits set); AVX-512 moreover its F, DQ, BW and VL bits and
// the saved mask and 512-bit register state (XCR0 bits 5 to 7).
Isa processorIsa()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return Isa::Sse3;
    const bool osxsave = (ecx & bit_OSXSAVE) != 0, avx = (ecx & bit_AVX) != 0;
    if (!osxsave || !avx) return Isa::Sse3;
    unsigned xcr0Low = 0, xcr0High = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
    if ((xcr0Low & 0x6u) != 0x6u) return Isa::Sse3;
    if (__get_cpuid_max(0, nullptr) < 7) return Isa::Sse3;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    if ((ebx & bit_AVX2) == 0) return Isa::Sse3;
    const unsigned avx512Bits = bit_AVX512F | bit_AVX512DQ | bit_AVX512BW | bit_AVX512VL;
    if ((ebx & avx512Bits) != avx512Bits || (xcr0Low & 0xE6u) != 0xE6u) return Isa::Avx2;
    return Isa::Avx512;
}

Isa chooseIsa()
{
    Isa isa = widestSupportedIsa();
    // The one documented exception to "nothing read from the environment".
    if (const char* cap = std::getenv("VEKR_ISA")) {
        Isa most = isa;
        if (std::strcmp(cap, "sse3") == 0) most = Isa::Sse3;
        if (std::strcmp(cap, "avx2") == 0) most = Isa::Avx2;
        if (static_cast<int>(most) < static_cast<int>(isa)) isa = most;
    }
    return isa;
}

}  // namespace

const char* isaName(Isa isa)
{
    switch (isa) {
    case Isa::Avx512:
        return "avx512";
    case Isa::Avx2:
        return "avx2";
    case Isa::Sse3:
        break;
    }
    return "sse3";
}

bool isaSupported(Isa isa)
{
#if !defined(VEKR_HAVE_AVX512)
    if (isa == Isa::Avx512) return false;
#endif
    static const Isa widest = processorIsa();
    return static_cast<int>(isa) <= static_cast<int>(widest);
}

Isa widestSupportedIsa()
{
    for (Isa isa : {Isa::Avx512, Isa::Avx2})
        if (isaSupported(isa)) return isa;
    return Isa::Sse3;
}

// ------------------------------------------------------------ kernel table

namespace {

// The table in use: null until the first kernel call decides. Set once by
// that call (every racing thread computes the same answer), and after that
// only by useIsaForTesting().
std::atomic<const KernelTable*> activeTable{nullptr};

const KernelTable& tableOf(Isa isa)
{
#if defined(VEKR_HAVE_AVX512)
    if (isa == Isa::Avx512) return avx512KernelTable();
#endif
    return isa == Isa::Avx2 ? avx2KernelTable() : sse3KernelTable();
}

}  // namespace

const KernelTable& kernels()
{
    const KernelTable* t = activeTable.load(std::memory_order_acquire);
    if (t != nullptr) return *t;
    static const Isa chosen = chooseIsa();
    const KernelTable* expected = nullptr;
    activeTable.compare_exchange_strong(expected, &tableOf(chosen), std::memory_order_acq_rel);
    return *activeTable.load(std::memory_order_acquire);
}

Isa activeIsa()
{
    return kernels().isa;
}

bool useIsaForTesting(Isa isa)
{
    if (!isaSupported(isa)) return false;
    activeTable.store(&tableOf(isa), std::memory_order_release);
    return true;
}

}  // namespace vekr
