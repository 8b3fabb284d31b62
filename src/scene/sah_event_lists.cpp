// Carrying the sorted split candidates from a node to its children.
//
// The root's lists come from one radix sort per list. After that a split
// only filters each list into the two children (a stable pass, so the
// order stays sorted) and merges in the few values of the pieces made by
// cutting. The right child's lists overwrite the node's own in the working
// area, where the next node processed will read them; the left child's go
// to a save area used as a stack, in the same order as the build's stack of
// pending nodes, so a finished subtree's space is reused by the next.

#include "scene/sah_event_lists.h"

#include <algorithm>
#include <cstring>

#include "core/memory.h"
#include "scene/sah_keys.h"

namespace vekr::sah {

namespace {

void* takeBytes(uint64_t bytes)
{
    if (bytes == 0 || bytes / 4 > INT32_MAX) return nullptr;
    return malloc4(static_cast<int32_t>((bytes + 3) / 4));
}

// Stable three-pass radix sort of keys with a word carried beside each.
void radixSortPairs(uint32_t* keys, uint32_t* vals, int32_t count, uint32_t* tmpKeys, uint32_t* tmpVals)
{
    constexpr int kShift[3] = {0, 11, 22};
    static_assert(sizeof(uint32_t) * 3 * 2048 < 32768, "histograms live on the stack");
    uint32_t hist[3][2048] = {};
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t k = keys[i];
        ++hist[0][k & 2047];
        ++hist[1][(k >> 11) & 2047];
        ++hist[2][k >> 22];
    }
    uint32_t *sk = keys, *sv = vals, *dk = tmpKeys, *dv = tmpVals;
    for (int pass = 0; pass < 3; ++pass) {
        uint32_t* h = hist[pass];
        // A digit shared by every key leaves the order as it is.
        if (h[(sk[0] >> kShift[pass]) & 2047] == static_cast<uint32_t>(count)) continue;
        uint32_t sum = 0;
        for (int d = 0; d < 2048; ++d) {
            const uint32_t c = h[d];
            h[d] = sum;
            sum += c;
        }
        for (int32_t i = 0; i < count; ++i) {
            const uint32_t at = h[(sk[i] >> kShift[pass]) & 2047]++;
            dk[at] = sk[i];
            dv[at] = sv[i];
        }
        std::swap(sk, dk);
        std::swap(sv, dv);
    }
    if (sk != keys) {
        std::memcpy(keys, sk, 4 * static_cast<size_t>(count));
        std::memcpy(vals, sv, 4 * static_cast<size_t>(count));
    }
}

inline uint64_t packEvent(float v, uint32_t fragment) { return static_cast<uint64_t>(floatKey(v)) << 32 | fragment; }

// Merges the sorted packed events `add` into the sorted list (v, f) of
// `count` entries, whose arrays have room for both, from the back.
void mergeFromBack(float* v, uint32_t* f, int32_t count, const uint64_t* add, int32_t addCount)
{
    int32_t i = count - 1, j = addCount - 1, k = count + addCount - 1;
    while (j >= 0) {
        const uint32_t addKey = static_cast<uint32_t>(add[j] >> 32);
        if (i >= 0 && floatKey(v[i]) > addKey) {
            v[k] = v[i];
            f[k--] = f[i--];
        } else {
            v[k] = keyFloat(addKey);
            f[k--] = static_cast<uint32_t>(add[j--]);
        }
    }
}

}  // namespace

void sortKeyPairs(uint32_t* keys, uint32_t* vals, int32_t count, uint32_t* tmpKeys, uint32_t* tmpVals)
{
    if (count > 320) {
        radixSortPairs(keys, vals, count, tmpKeys, tmpVals);
        return;
    }
    // Short lists: pack, sort, unpack.
    auto* packed = reinterpret_cast<uint64_t*>(tmpKeys);
    for (int32_t i = 0; i < count; ++i) packed[i] = static_cast<uint64_t>(keys[i]) << 32 | vals[i];
    std::sort(packed, packed + count);
    for (int32_t i = 0; i < count; ++i) {
        keys[i] = static_cast<uint32_t>(packed[i] >> 32);
        vals[i] = static_cast<uint32_t>(packed[i]);
    }
}

VekStatus EventLists::create(uint32_t capacity, bool axisTasks)
{
    if (blockCount_ > 0 && capacity <= capacity_ && axisTasks <= axisTasks_) {
        // Large enough already: lists laid out for the larger capacity
        // hold fewer values as well.
        for (auto& axis : work_.list)
            for (EventList& l : axis) l.count = 0;
        saveTop_ = 0;
        return vekStsOk;
    }
    destroy();
    capacity_ = capacity;
    axisTasks_ = axisTasks;
    const uint64_t cap = capacity;
    const int scratchAxes = axisTasks ? 3 : 1;
    // One block per array rather than one for all: vekMalloc sizes are
    // signed 32-bit, and a single block of every array (116 bytes per
    // fragment, 180 with scratch for three axes) would refuse scenes of
    // 12 to 19 million triangles whose arenas fit, and refuse them on some
    // thread counts only. Working lists (value and fragment words), the
    // pieces' events and ranges for each side, the route and cut lists.
    auto take = [&](uint64_t bytes) {
        auto* b = static_cast<unsigned char*>(takeBytes(bytes));
        if (b) blocks_[blockCount_++] = b;
        return b;
    };
    // The save area starts small and grows as pending nodes need it: its
    // bound (six events of 8 bytes per pending 12-byte entry) is several
    // times what a build touches, and a deep stack of small pending nodes
    // is the common case.
    saveSize_ = kFirstSaveBytes;
    save_ = static_cast<unsigned char*>(takeBytes(saveSize_));
    bool ok = save_ != nullptr;
    for (auto& axis : work_.list)
        for (EventList& l : axis) {
            unsigned char* p = ok ? take(8 * cap) : nullptr;
            ok = p != nullptr;
            if (!ok) break;
            l.value = reinterpret_cast<float*>(p);
            l.fragment = reinterpret_cast<uint32_t*>(p + 4 * cap);
            l.count = 0;
        }
    // Without axis tasks the axes take turns with one set of scratch.
    for (int a = 0; a < 3 && ok; ++a)
        for (int side = 0; side < 2; ++side) {
            if (a >= scratchAxes) {
                fresh_[a][side] = fresh_[0][side];
                range_[a][side] = range_[0][side];
                continue;
            }
            unsigned char* p = take(16 * cap);
            ok = p != nullptr;
            if (!ok) break;
            fresh_[a][side] = reinterpret_cast<uint64_t*>(p);
            range_[a][side] = reinterpret_cast<float*>(p + 8 * cap);
        }
    unsigned char* p = ok ? take(12 * cap) : nullptr;
    if (!p) {
        destroy();
        return vekStsNoMemErr;
    }
    route_ = reinterpret_cast<uint32_t*>(p);
    cutLeft_ = route_ + cap;
    cutRight_ = cutLeft_ + cap;
    saveTop_ = 0;
    return vekStsOk;
}

void EventLists::destroy()
{
    for (int i = 0; i < blockCount_; ++i) vekFree(blocks_[i]);
    blockCount_ = 0;
    if (save_) vekFree(save_);
    save_ = nullptr;
}

void EventLists::classify(const Context& ctx, const Fragment* entries, int32_t begin, int32_t end, int32_t at,
                          int32_t m[3], int32_t np[3])
{
    // One pass over the fragments for all three axes: their records and
    // vertices are scattered, so each is read once, and the record a few
    // entries ahead is fetched while this one is classified.
    for (int a = 0; a < 3; ++a) m[a] = np[a] = at;
    for (int32_t i = begin; i < end; ++i) {
        if (i + 8 < end) __builtin_prefetch(ctx.polygonAt(entries[i + 8].polygon));
        for (int a = 0; a < 3; ++a) {
            float lo, hi;
            fragmentRange(ctx, entries[i], a, &lo, &hi);
            EventList* l = work_.list[a];
            if (lo == hi) {
                reinterpret_cast<uint32_t*>(l[kPlanarList].value)[np[a]] = floatKey(lo);
                l[kPlanarList].fragment[np[a]++] = static_cast<uint32_t>(i);
            } else {
                reinterpret_cast<uint32_t*>(l[kStartList].value)[m[a]] = floatKey(lo);
                reinterpret_cast<uint32_t*>(l[kEndList].value)[m[a]] = floatKey(hi);
                l[kStartList].fragment[m[a]] = l[kEndList].fragment[m[a]] = static_cast<uint32_t>(i);
                ++m[a];
            }
        }
    }
    for (int a = 0; a < 3; ++a) m[a] -= at, np[a] -= at;
}

void EventLists::buildRoot(const Context& ctx, const Fragment* entries, int32_t n)
{
    int32_t m[3], np[3];
    if (axisTasks(n)) {
        // The two halves of the fragments at once: the upper half's values
        // are written from index n/2 on (the lower half cannot fill more)
        // and moved down after it, so the lists come out as one pass in
        // fragment order makes them.
        const int32_t half = n / 2;
        int32_t mUp[3], npUp[3];
#pragma omp taskgroup
        {
#pragma omp task default(shared)
            classify(ctx, entries, half, n, half, mUp, npUp);
            classify(ctx, entries, 0, half, 0, m, np);
        }
        for (int a = 0; a < 3; ++a) {
            const int32_t to[3] = {m[a], m[a], np[a]}, count[3] = {mUp[a], mUp[a], npUp[a]};
            for (int kind = 0; kind < 3; ++kind) {
                EventList& l = work_.list[a][kind];
                std::memmove(l.value + to[kind], l.value + half, 4 * static_cast<size_t>(count[kind]));
                std::memmove(l.fragment + to[kind], l.fragment + half, 4 * static_cast<size_t>(count[kind]));
            }
            m[a] += mUp[a];
            np[a] += npUp[a];
        }
    } else {
        classify(ctx, entries, 0, n, 0, m, np);
    }
    for (int a = 0; a < 3; ++a) {
        work_.list[a][kStartList].count = work_.list[a][kEndList].count = m[a];
        work_.list[a][kPlanarList].count = np[a];
    }

    // Each axis sorts with temporary arrays of its own, so the three can
    // run at once.
    auto sortAxis = [&](int a) {
        for (EventList& l : work_.list[a]) {
            auto* keys = reinterpret_cast<uint32_t*>(l.value);
            sortKeyPairs(keys, l.fragment, l.count, reinterpret_cast<uint32_t*>(fresh_[a][0]),
                         reinterpret_cast<uint32_t*>(fresh_[a][1]));
            for (int32_t i = 0; i < l.count; ++i) l.value[i] = keyFloat(keys[i]);
        }
    };
    if (axisTasks(n)) {
#pragma omp taskgroup
        {
            for (int a = 0; a < 3; ++a) {
#pragma omp task default(shared) firstprivate(a)
                sortAxis(a);
            }
        }
    } else {
        for (int a = 0; a < 3; ++a) sortAxis(a);
    }
    saveTop_ = 0;
}

int32_t EventLists::partition(int axis, int kind, int32_t cutCount, unsigned char* at, size_t room)
{
    EventList& l = work_.list[axis][kind];
    const int32_t n = l.count;
    float* v = l.value;
    uint32_t* f = l.fragment;
    auto* lv = reinterpret_cast<float*>(at);
    auto* lf = reinterpret_cast<uint32_t*>(at + 4 * room);
    int32_t w = 0, nl = 0;
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t r = route_[f[i]];
        if (r == kIsCut) continue;
        if (r & kGoesRight) {
            v[w] = v[i];
            f[w++] = r & ~kGoesRight;
        } else {
            lv[nl] = v[i];
            lf[nl++] = r;
        }
    }

    // The pieces' values on this axis, from their ranges.
    const uint32_t* cuts[2] = {cutLeft_, cutRight_};
    int32_t added[2] = {0, 0};
    for (int s = 0; s < 2; ++s) {
        const float* rg = range_[axis][s];
        uint64_t* out = fresh_[axis][s];
        int32_t c = 0;
        for (int32_t k = 0; k < cutCount; ++k) {
            const float lo = rg[2 * k], hi = rg[2 * k + 1];
            const bool planar = lo == hi;
            if (kind == kPlanarList) {
                if (planar) out[c++] = packEvent(lo, cuts[s][k]);
            } else if (!planar) {
                out[c++] = packEvent(kind == kStartList ? lo : hi, cuts[s][k]);
            }
        }
        std::sort(out, out + c);
        added[s] = c;
    }
    mergeFromBack(lv, lf, nl, fresh_[axis][0], added[0]);
    mergeFromBack(v, f, w, fresh_[axis][1], added[1]);
    l.count = w + added[1];
    return nl + added[0];
}

void EventLists::pieceRanges(const Context& ctx, int axis, const Fragment* left, const Fragment* right,
                             int32_t cutCount)
{
    for (int s = 0; s < 2; ++s) {
        const Fragment* side = s == 0 ? left : right;
        const uint32_t* cuts = s == 0 ? cutLeft_ : cutRight_;
        float* rg = range_[axis][s];
        for (int32_t k = 0; k < cutCount; ++k) fragmentRange(ctx, side[cuts[k]], axis, &rg[2 * k], &rg[2 * k + 1]);
    }
}

bool EventLists::split(const Context& ctx, const Fragment* left, const Fragment* right, int32_t cutCount,
                       SavedLists* saved)
{
    saved->base = saveTop_;
    size_t total = 0;
    for (const auto& axis : work_.list)
        for (const EventList& l : axis) total += static_cast<size_t>(l.count);
    // While they are written the left child's lists may each need room for
    // all of the node's values and all pieces.
    if (!makeSaveRoom(saveTop_ + 8 * (total + 9 * static_cast<size_t>(cutCount)))) return false;

    if (!axisTasks(static_cast<int32_t>(total / 6))) {
        // One list after the other, each written at its final place.
        for (int a = 0; a < 3; ++a) {
            pieceRanges(ctx, a, left, right, cutCount);
            for (int kind = 0; kind < 3; ++kind) {
                const size_t room = static_cast<size_t>(work_.list[a][kind].count + cutCount);
                const size_t c = static_cast<size_t>(partition(a, kind, cutCount, save_ + saveTop_, room));
                std::memmove(save_ + saveTop_ + 4 * c, save_ + saveTop_ + 4 * room, 4 * c);
                saved->offset[a][kind] = saveTop_;
                saved->count[a][kind] = static_cast<int32_t>(c);
                saveTop_ += 8 * c;
            }
        }
        return true;
    }

    // The three axes at once, each list written at a place with room for
    // its longest outcome, then all moved down together.
    size_t at[3][3], room[3][3];
    size_t top = saveTop_;
    for (int a = 0; a < 3; ++a)
        for (int kind = 0; kind < 3; ++kind) {
            room[a][kind] = static_cast<size_t>(work_.list[a][kind].count + cutCount);
            at[a][kind] = top;
            top += 8 * room[a][kind];
        }
    int32_t count[3][3];
    // Task groups, not taskwaits, here and above: a taskwait would also
    // wait for the subtree tasks this thread has handed off.
#pragma omp taskgroup
    {
        for (int a = 0; a < 3; ++a) {
#pragma omp task default(shared) firstprivate(a)
            {
                pieceRanges(ctx, a, left, right, cutCount);
                for (int kind = 0; kind < 3; ++kind)
                    count[a][kind] = partition(a, kind, cutCount, save_ + at[a][kind], room[a][kind]);
            }
        }
    }
    for (int a = 0; a < 3; ++a)
        for (int kind = 0; kind < 3; ++kind) {
            const size_t c = static_cast<size_t>(count[a][kind]);
            std::memmove(save_ + saveTop_, save_ + at[a][kind], 4 * c);
            std::memmove(save_ + saveTop_ + 4 * c, save_ + at[a][kind] + 4 * room[a][kind], 4 * c);
            saved->offset[a][kind] = saveTop_;
            saved->count[a][kind] = count[a][kind];
            saveTop_ += 8 * c;
        }
    return true;
}

bool EventLists::makeSaveRoom(size_t bytes)
{
    if (bytes <= saveSize_) return true;
    // Growing by half at least keeps the copies linear in the final size.
    const size_t size = std::max(bytes, saveSize_ + saveSize_ / 2);
    auto* grown = static_cast<unsigned char*>(takeBytes(size));
    if (!grown) return false;
    std::memcpy(grown, save_, saveTop_);
    vekFree(save_);
    save_ = grown;
    saveSize_ = size;
    return true;
}

size_t EventLists::packedBytes() const
{
    size_t bytes = 0;
    for (const auto& axis : work_.list)
        for (const EventList& l : axis) bytes += 8 * static_cast<size_t>(l.count);
    return bytes;
}

void EventLists::pack(unsigned char* out, int32_t counts[3][3]) const
{
    for (int a = 0; a < 3; ++a)
        for (int k = 0; k < 3; ++k) {
            const EventList& l = work_.list[a][k];
            const size_t bytes = 4 * static_cast<size_t>(l.count);
            std::memcpy(out, l.value, bytes);
            std::memcpy(out + bytes, l.fragment, bytes);
            out += 2 * bytes;
            counts[a][k] = l.count;
        }
}

void EventLists::unpack(const unsigned char* in, const int32_t counts[3][3])
{
    for (int a = 0; a < 3; ++a)
        for (int k = 0; k < 3; ++k) {
            EventList& l = work_.list[a][k];
            const size_t bytes = 4 * static_cast<size_t>(counts[a][k]);
            std::memcpy(l.value, in, bytes);
            std::memcpy(l.fragment, in + bytes, bytes);
            in += 2 * bytes;
            l.count = counts[a][k];
        }
    saveTop_ = 0;
}

void EventLists::restore(const SavedLists& saved)
{
    for (int a = 0; a < 3; ++a)
        for (int k = 0; k < 3; ++k) {
            EventList& l = work_.list[a][k];
            const int32_t c = saved.count[a][k];
            const unsigned char* src = save_ + saved.offset[a][k];
            std::memcpy(l.value, src, 4 * static_cast<size_t>(c));
            std::memcpy(l.fragment, src + 4 * static_cast<size_t>(c), 4 * static_cast<size_t>(c));
            l.count = c;
        }
    saveTop_ = saved.base;
}

}  // namespace vekr::sah
