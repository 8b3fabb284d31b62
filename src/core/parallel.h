// The master-partition scheme shared by the parallel exports.
//
// One OpenMP region with the requested thread count. The master reads how
// many threads the runtime actually granted, splits the work by quotient and
// remainder and publishes the split; after a barrier each thread takes the
// share its number selects. Threads 0 .. n-2 take q items, the last q + r.
// If the runtime does not fork (nested region, or one thread granted) the
// same body runs once on the calling thread with the whole range, so the
// result never depends on the thread count that was granted.
#ifndef VEKR_CORE_PARALLEL_H
#define VEKR_CORE_PARALLEL_H

#include <omp.h>

#include <cstdint>

namespace vekr {

struct WorkShare {
    int32_t thread;       // this thread's number, 0-based
    int32_t threadCount;  // threads the runtime granted
    int32_t begin;        // first item of this thread's share
    int32_t count;        // items in this thread's share
};

// body(const WorkShare&) runs once per granted thread.
template <class Body>
void runPartitioned(int32_t requestedThreads, int32_t workCount, Body&& body)
{
    int32_t n = 1, q = workCount, r = 0;
#pragma omp parallel num_threads(requestedThreads > 0 ? requestedThreads : 1)
    {
#pragma omp master
        {
            n = static_cast<int32_t>(omp_get_num_threads());
            q = workCount / n;
            r = workCount % n;
        }
#pragma omp barrier
        const int32_t t = static_cast<int32_t>(omp_get_thread_num());
        const WorkShare share{t, n, t * q, t == n - 1 ? q + r : q};
        body(share);
    }
}

}  // namespace vekr

#endif
