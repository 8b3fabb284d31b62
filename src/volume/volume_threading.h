// How the parallel volume exports split their destination over threads.
//
// After all checks, on the calling thread, an export asks whether to fork:
// only when every destination extent is at least 16 and the core services
// report more than one thread. The region then requests that many threads;
// the master reads how many it got and splits the destination planes by
// quotient and remainder (the last thread takes the remainder). Each thread
// runs the serial kernel over its slab of consecutive planes, with its own
// slice of the caller's scratch buffer. A runtime that declines to fork runs
// the same body once, on the calling thread, over every plane.
#ifndef VEKR_VOLUME_VOLUME_THREADING_H
#define VEKR_VOLUME_VOLUME_THREADING_H

#include <cstdint>

#include "core/parallel.h"
#include "vekcore.h"

namespace vekr {
namespace volume {

// One thread's part of the destination.
struct PlaneSlab {
    int32_t thread;       // 0-based
    int32_t threadCount;  // threads granted
    int32_t firstPlane;   // absolute destination plane index
    int32_t planeCount;
    unsigned char* buffer;  // this thread's scratch slice (null when the export takes none)
};

// Destinations smaller than this on any axis are not worth a fork.
constexpr int32_t kMinParallelExtent = 16;

inline bool worthForking(int32_t width, int32_t height, int32_t depth)
{
    return width >= kMinParallelExtent && height >= kMinParallelExtent && depth >= kMinParallelExtent;
}

// Runs body(const PlaneSlab&) over the planes [firstPlane, firstPlane + depth)
// of a width x height x depth destination. bufferBytesPerThread is the
// scratch one thread needs; the caller's buffer holds that many bytes times
// the thread count the buffer query saw, and thread t of n gets the slice at
// (total * t) / n, so a runtime granting fewer threads only widens slices.
template <class Body>
void runOverPlaneSlabs(int32_t width, int32_t height, int32_t depth, int32_t firstPlane, unsigned char* buffer,
                       uint64_t bufferBytesPerThread, Body&& body)
{
    // The thread count is read twice on purpose: once to decide, once for
    // the request, never cached between calls.
    if (!worthForking(width, height, depth) || ownGetNumThreads() <= 1) {
        body(PlaneSlab{0, 1, firstPlane, depth, buffer});
        return;
    }
    const int32_t requested = ownGetNumThreads();
    // The resize front has refused totals beyond 2^31 bytes for the count
    // it read; with that same count here (the caller's side of the buffer
    // contract) the 64-bit slice offsets below are exact.
    const uint64_t total = bufferBytesPerThread * static_cast<uint64_t>(requested);
    runPartitioned(requested, depth, [&](const WorkShare& share) {
        unsigned char* slice = buffer == nullptr
                                   ? nullptr
                                   : buffer + static_cast<size_t>((total * static_cast<uint64_t>(share.thread)) /
                                                                  static_cast<uint64_t>(share.threadCount));
        body(PlaneSlab{share.thread, share.threadCount, firstPlane + share.begin, share.count, slice});
    });
}

}  // namespace volume
}  // namespace vekr

#endif
