/**
 * @file vekcore.h
 * Core services used by vekr: heap memory and the thread count.
 *
 * vekr takes all heap memory it keeps beyond a call (the kd-tree block) and
 * all working memory of the tree build from vekMalloc, and reads the number
 * of threads of its parallel functions from ownGetNumThreads at every call.
 * Applications configure both here. Every function is safe to call from
 * several threads at once.
 */
#ifndef VEKCORE_H
#define VEKCORE_H

#include <stddef.h>
#include <stdint.h>

/**
 * @defgroup core Core services (vekcore)
 * Heap memory and the thread count of vekr's parallel functions, in the
 * separate library vekcore (link vekr::vekcore, or -lvekcore).
 *
 * vekr takes all heap memory it keeps beyond a call (the kd-tree block) and
 * all working memory of the tree build from vekMalloc, and reads the number
 * of threads of its parallel functions from ownGetNumThreads at every call.
 * Every function here is safe to call from several threads at once, but a
 * thread count changed between vekrResizeGetBufSize and the resize it sizes
 * makes the buffer too small: set it once at start-up.
 *
 * Example: a fixed thread count and a counting allocator.
 * @code
 * static size_t live;
 * static void* countingAlloc(size_t n, void* user) { (void)user; live += n; return malloc(n); }
 * static void countingFree(void* p, void* user) { (void)user; free(p); }
 *
 * vekSetNumThreads(4);                              // before any other thread calls vekr
 * vekSetAllocator(countingAlloc, countingFree, NULL);
 * ...                                               // build kd-trees
 * vekSetAllocator(NULL, NULL, NULL);                // back to the C heap
 * @endcode
 * @{
 */

#if defined(_WIN32) && !defined(_WIN64)
/** Calling convention of the vekcore exports: __stdcall on 32-bit Windows,
 *  the platform's default elsewhere. */
#define VEKCORE_CALL __stdcall
#else
/** Calling convention of the vekcore exports (the platform's default here). */
#define VEKCORE_CALL
#endif

#if defined(_WIN32)
#if defined(VEKCORE_BUILDING_LIBRARY)
#define VEKCORE_API __declspec(dllexport)
#else
#define VEKCORE_API __declspec(dllimport)
#endif
#else
/** Marks a declaration as an export of vekcore. */
#define VEKCORE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** Alignment in bytes of every block that vekMalloc returns. */
#define VEK_MALLOC_ALIGNMENT 64

/**
 * Allocates at least size bytes aligned to VEK_MALLOC_ALIGNMENT, through the
 * allocation functions installed by vekSetAllocator.
 * @param size  number of bytes
 * @return the block, or NULL for a size below 1 or when the allocation fails
 */
VEKCORE_API void* VEKCORE_CALL vekMalloc(int32_t size);

/**
 * Releases a block from vekMalloc. NULL is accepted and ignored.
 * @param p  the block, or NULL
 */
VEKCORE_API void VEKCORE_CALL vekFree(void* p);

/**
 * The number of threads vekr's parallel functions request: the value set by
 * vekSetNumThreads, or, when none is set, OpenMP's maximum thread count.
 * @return the thread count, always at least 1
 */
VEKCORE_API int32_t VEKCORE_CALL ownGetNumThreads(void);

/**
 * Sets the thread count that ownGetNumThreads reports.
 * @param n  n >= 1 fixes it; n <= 0 returns to the default (OpenMP's maximum)
 */
VEKCORE_API void VEKCORE_CALL vekSetNumThreads(int32_t n);

/**
 * Caller-supplied allocation function: receives a byte count (> 0) and the
 * user pointer and returns memory with any alignment of at least 8, or
 * NULL. vekMalloc adds its own alignment padding on top.
 */
typedef void* (*VekAllocFn)(size_t size, void* user);
/** Caller-supplied release function: receives exactly what the VekAllocFn
 *  returned, and the user pointer. */
typedef void (*VekReleaseFn)(void* p, void* user);

/**
 * Installs alloc/release (both non-NULL) or, with either NULL, restores the
 * default (the C heap). Blocks are always released through the functions
 * that allocated them, so the pair may be changed while blocks are live.
 * @param alloc    allocation function, or NULL for the default
 * @param release  release function, or NULL for the default
 * @param user     passed unchanged to both functions
 */
VEKCORE_API void VEKCORE_CALL vekSetAllocator(VekAllocFn alloc, VekReleaseFn release, void* user);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* VEKCORE_H */
