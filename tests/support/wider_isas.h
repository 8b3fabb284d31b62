// The instruction sets a process could run instead of SSE3: every set
// above it that this processor and this build have, narrowest first. The
// identity tests run each of them against the SSE3 kernels.
#ifndef VEKR_TESTS_SUPPORT_WIDER_ISAS_H
#define VEKR_TESTS_SUPPORT_WIDER_ISAS_H

#include <vector>

#include "core/isa.h"

inline std::vector<vekr::Isa> widerIsas()
{
    std::vector<vekr::Isa> sets;
    for (int i = static_cast<int>(vekr::Isa::Sse3) + 1; i < vekr::kIsaCount; ++i)
        if (vekr::isaSupported(static_cast<vekr::Isa>(i))) sets.push_back(static_cast<vekr::Isa>(i));
    return sets;
}

#endif
