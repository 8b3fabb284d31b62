// The dispatch table: every kernel that exists once per instruction set,
// reached through one table per set. The exports call kernels(), which
// decides on the first call (core/isa.h) and returns the same table from
// then on; no other code chooses between instruction sets.
#ifndef VEKR_CORE_KERNEL_TABLE_H
#define VEKR_CORE_KERNEL_TABLE_H

#include "core/isa.h"
#include "intersect/packet_path.h"
#include "sh/sh_basis_recurrence.h"
#include "volume/filter_args.h"
#include "volume/resize_kernel_table.h"
#include "volume/sampling_kernel_table.h"

namespace vekr {

struct KernelTable {
    Isa isa;
    volume::ResizeKernelTable resize;
    volume::SamplingKernelTable sampling;
    volume::FilterKernelTable filter;
    ShKernelTable sh;
    isect::PacketKernelTable packet;
};

// The table of the instruction set this process runs.
const KernelTable& kernels();

// Each set's table, assembled from the pieces its sources define.
const KernelTable& sse3KernelTable();
const KernelTable& avx2KernelTable();
#if defined(VEKR_HAVE_AVX512)
const KernelTable& avx512KernelTable();
#endif

// The pieces, one definition in each set's copy of the kernel sources.
#define VEKR_DECLARE_KERNEL_PIECES(NS)                          \
    namespace volume {                                          \
    namespace NS {                                              \
    extern const ResizeKernelTable resizeKernels;               \
    extern const SamplingKernelTable samplingKernels;           \
    extern const FilterKernelTable filterKernels;               \
    }                                                           \
    }                                                           \
    namespace NS {                                              \
    extern const ShKernelTable shKernels;                       \
    }                                                           \
    namespace isect {                                           \
    namespace NS {                                              \
    extern const PacketKernelTable packetKernels;               \
    }                                                           \
    }
VEKR_DECLARE_KERNEL_PIECES(sse3)
VEKR_DECLARE_KERNEL_PIECES(avx2)
#if defined(VEKR_HAVE_AVX512)
VEKR_DECLARE_KERNEL_PIECES(avx512)
#endif
#undef VEKR_DECLARE_KERNEL_PIECES

}  // namespace vekr

#endif
