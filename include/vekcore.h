/*
 * vekcore.h - core services used by vekr: heap memory and the thread count.
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

#if defined(_WIN32) && !defined(_WIN64)
#define VEKCORE_CALL __stdcall
#else
#define VEKCORE_CALL
#endif

#if defined(_WIN32)
#if defined(VEKCORE_BUILDING_LIBRARY)
#define VEKCORE_API __declspec(dllexport)
#else
#define VEKCORE_API __declspec(dllimport)
#endif
#else
#define VEKCORE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Alignment of every block that vekMalloc returns. */
#define VEK_MALLOC_ALIGNMENT 64

/*
 * Allocates at least size bytes aligned to VEK_MALLOC_ALIGNMENT. Returns NULL
 * for a size below 1 or when the allocation fails.
 */
VEKCORE_API void* VEKCORE_CALL vekMalloc(int32_t size);

/* Releases a block from vekMalloc. NULL is accepted and ignored. */
VEKCORE_API void VEKCORE_CALL vekFree(void* p);

/*
 * The number of threads vekr's parallel functions request: the value set by
 * vekSetNumThreads, or, when none is set, OpenMP's maximum thread count.
 * Always at least 1.
 */
VEKCORE_API int32_t VEKCORE_CALL ownGetNumThreads(void);

/*
 * Sets the thread count that ownGetNumThreads reports. n >= 1 fixes it;
 * n <= 0 returns to the default (OpenMP's maximum).
 */
VEKCORE_API void VEKCORE_CALL vekSetNumThreads(int32_t n);

/*
 * Caller-supplied allocation functions. alloc receives a byte count (> 0) and
 * the user pointer and returns memory with any alignment of at least 8, or
 * NULL; release receives exactly what alloc returned. vekMalloc adds its own
 * alignment padding on top.
 */
typedef void* (*VekAllocFn)(size_t size, void* user);
typedef void (*VekReleaseFn)(void* p, void* user);

/*
 * Installs alloc/release (both non-NULL) or, with either NULL, restores the
 * default (the C heap). Blocks are always released through the functions
 * that allocated them, so the pair may be changed while blocks are live.
 */
VEKCORE_API void VEKCORE_CALL vekSetAllocator(VekAllocFn alloc, VekReleaseFn release, void* user);

#ifdef __cplusplus
}
#endif

#endif /* VEKCORE_H */
