// The library's only ways to heap memory: element-count wrappers over
// vekMalloc. A count below 1 (or one whose byte size does not fit the
// allocator's signed 32-bit size) yields null without calling vekMalloc.
#ifndef VEKR_CORE_MEMORY_H
#define VEKR_CORE_MEMORY_H

#include <cstdint>

#include "vekcore.h"

namespace vekr {

inline void* mallocUnits(int32_t count, int32_t unitBytes)
{
    if (count < 1) return nullptr;
    const int64_t bytes = static_cast<int64_t>(count) * unitBytes;
    if (bytes > INT32_MAX) return nullptr;
    return vekMalloc(static_cast<int32_t>(bytes));
}

// count x 8 bytes: the tree block.
inline void* malloc8(int32_t count) { return mallocUnits(count, 8); }

// count x 4 bytes: the tree build's working memory.
inline void* malloc4(int32_t count) { return mallocUnits(count, 4); }

}  // namespace vekr

#endif
