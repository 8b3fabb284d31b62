#include "core/isa.h"

#include <cpuid.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "core/kernel_table.h"

namespace vekr {

namespace {

// AVX2 needs the processor's AVX and AVX2 bits and an operating system that
// saves the 256-bit registers on a context switch (OSXSAVE, and XCR0 with
// the SSE and AVX state bits set).
bool processorHasAvx2()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    const bool osxsave = (ecx & bit_OSXSAVE) != 0, avx = (ecx & bit_AVX) != 0;
    if (!osxsave || !avx) return false;
    unsigned xcr0Low = 0, xcr0High = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
    if ((xcr0Low & 0x6u) != 0x6u) return false;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    return (ebx & bit_AVX2) != 0;
}

Isa chooseIsa()
{
    Isa isa = widestSupportedIsa();
    // The one documented exception to "nothing read from the environment".
    if (const char* cap = std::getenv("VEKR_ISA")) {
        if (std::strcmp(cap, "sse3") == 0) isa = Isa::Sse3;
    }
    return isa;
}

}  // namespace

const char* isaName(Isa isa)
{
    return isa == Isa::Avx2 ? "avx2" : "sse3";
}

bool isaSupported(Isa isa)
{
    if (isa == Isa::Sse3) return true;
    static const bool avx2 = processorHasAvx2();
    return avx2;
}

Isa widestSupportedIsa()
{
    return isaSupported(Isa::Avx2) ? Isa::Avx2 : Isa::Sse3;
}

// ------------------------------------------------------------ kernel table

namespace {

// The table in use: null until the first kernel call decides. Set once by
// that call (every racing thread computes the same answer), and after that
// only by useIsaForTesting().
std::atomic<const KernelTable*> activeTable{nullptr};

const KernelTable& tableOf(Isa isa)
{
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
