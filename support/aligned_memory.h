/*
 * aligned_memory.h - aligned heap blocks for the programs around the
 * library (tests, benchmarks, examples, command-line tools), in C and C++.
 *
 * The library's packet paths want 16-byte aligned planes. C11/C++17
 * aligned_alloc does not exist in the Windows C runtime, whose aligned
 * blocks come from _aligned_malloc and must go back through _aligned_free;
 * these two functions pick the right pair. The size is rounded up to a
 * multiple of the alignment (which aligned_alloc requires) and a size of 0
 * still gives a block.
 */
#ifndef VEKR_SUPPORT_ALIGNED_MEMORY_H
#define VEKR_SUPPORT_ALIGNED_MEMORY_H

#include <stddef.h>
#include <stdlib.h>
#if defined(_WIN32)
#include <malloc.h>
#endif

/* alignment: a power of two. Returns NULL when the allocation fails. */
static inline void* portable_aligned_alloc(size_t alignment, size_t size)
{
    size_t rounded = (size + alignment - 1) / alignment * alignment;
    if (rounded == 0) rounded = alignment;
#if defined(_WIN32)
    return _aligned_malloc(rounded, alignment);
#else
    return aligned_alloc(alignment, rounded);
#endif
}

/* Releases a block of portable_aligned_alloc; NULL is ignored. */
static inline void portable_aligned_free(void* p)
{
#if defined(_WIN32)
    _aligned_free(p);
#else
    free(p);
#endif
}

#endif /* VEKR_SUPPORT_ALIGNED_MEMORY_H */
