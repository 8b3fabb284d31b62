// Helpers of the linear and cubic resize stages: the run of columns whose
// taps are interior, and the small caches of filtered rows and planes.
#ifndef VEKR_VOLUME_RESIZE_CACHING_H
#define VEKR_VOLUME_RESIZE_CACHING_H

#include <cstdint>

#include "core/isa_namespace.h"
#include "volume/resize_job.h"

namespace vekr {
namespace volume {
namespace VEKR_ISA_NS {

// The destination columns whose taps the border rule left in place. Source
// positions grow with the column, so these form one run between the
// clamped columns at either end; an empty run is {0, 0}.
template <class Tap, class IsInterior>
ColumnSpan interiorColumns(const Tap* taps, int32_t count, IsInterior isInterior)
{
    int32_t begin = 0;
    while (begin < count && !isInterior(taps[begin].i)) ++begin;
    int32_t end = begin;
    while (end < count && isInterior(taps[end].i)) ++end;
    return begin < end ? ColumnSpan{begin, end} : ColumnSpan{0, 0};
}

// Which slot of a small cache holds which source row or plane. Taps move
// forward monotonically with the destination index, so any slot that the
// current destination row or plane does not need can be reused.
template <int N>
class SlotCache {
public:
    SlotCache()
    {
        for (int s = 0; s < N; ++s) key_[s] = -1;
    }
    int find(int64_t key) const
    {
        for (int s = 0; s < N; ++s)
            if (key_[s] == key) return s;
        return -1;
    }
    void clear()
    {
        for (int s = 0; s < N; ++s) key_[s] = -1;
    }
    // A slot for key that holds none of the needed keys; the caller fills it.
    int claim(int64_t key, const int64_t* needed, int neededCount)
    {
        int slot = 0;
        for (int s = 0; s < N; ++s) {
            bool busy = false;
            for (int k = 0; k < neededCount; ++k) busy = busy || key_[s] == needed[k];
            if (!busy) {
                slot = s;
                break;
            }
        }
        key_[slot] = key;
        return slot;
    }

private:
    int64_t key_[N];
};

}  // namespace VEKR_ISA_NS
}  // namespace volume
}  // namespace vekr

#endif
