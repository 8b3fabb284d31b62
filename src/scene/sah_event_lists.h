// Sorted split candidates of the SAH build, carried from each node to its
// children instead of being sorted again at every node.
//
// Per axis a node has three ascending lists: where its non-planar fragments
// start, where they end, and where its planar fragments (flat across the
// axis) lie. The split search needs only these values, and a fragment's
// values depend on that fragment alone, so a child's lists are its parent's
// lists filtered to the fragments the child keeps (their order stays
// sorted) plus the values of the pieces made by cutting, sorted and merged
// in. That is linear per node where a fresh sort costs n log n (or three
// radix passes), and the search sees exactly the values a fresh sort would
// give it.
#ifndef VEKR_SCENE_SAH_EVENT_LISTS_H
#define VEKR_SCENE_SAH_EVENT_LISTS_H

#include <cstddef>
#include <cstdint>

#include "scene/sah_context.h"

namespace vekr::sah {

enum ListKind { kStartList = 0, kEndList = 1, kPlanarList = 2 };

// One sorted list: the values (ascending in the order of their bit images,
// so -0 sorts below +0) and, beside each, the index of its fragment in the
// node's entry array.
struct EventList {
    float* value;
    uint32_t* fragment;
    int32_t count;
};

// The nine lists of a node: [axis][kind].
struct NodeLists {
    EventList list[3][3];
};

// Where a pending node's lists were saved.
struct SavedLists {
    size_t base;             // the save area's top before they were written
    size_t offset[3][3];     // of each list's values; its fragments follow them
    int32_t count[3][3];
};

// A fragment's smallest and largest coordinate on an axis.
inline void fragmentRange(const Context& ctx, const Fragment& f, int axis, float* lo, float* hi)
{
    const VertexRef* poly = ctx.polygonAt(f.polygon);
    *lo = ctx.vertex(poly[minVertexIndex(f.extremes, axis)])[axis];
    *hi = ctx.vertex(poly[maxVertexIndex(f.extremes, axis)])[axis];
}

// Where each fragment of a split node goes: a child index with kGoesRight
// set for the right child, or kIsCut for a fragment cut in two (its pieces
// are listed separately).
constexpr uint32_t kGoesRight = 0x80000000u;
constexpr uint32_t kIsCut = 0xFFFFFFFFu;

// Ascending sort of keys by value with a word carried beside each: three
// radix passes for long lists, a comparison sort of packed pairs for short
// ones. The temporary arrays hold count words each (tmpKeys two words per
// value when count <= 320).
void sortKeyPairs(uint32_t* keys, uint32_t* vals, int32_t count, uint32_t* tmpKeys, uint32_t* tmpVals);

// Nodes at least this large give their three axes to three OpenMP tasks
// when the build runs on several threads.
constexpr int32_t kAxisTaskMinimum = 65536;

// The save area's first size; it grows by half (or to what a split
// needs) whenever a split would overrun it.
constexpr size_t kFirstSaveBytes = size_t{1} << 16;

class EventLists {
public:
    // Working memory for a build of up to `capacity` fragments per node.
    // The memory is working memory of the structure only: the build's
    // budget, which models the entry and vertex arenas and the pools, does
    // not see it. Memory from an earlier create() is kept when it is large
    // enough. axisTasks: large nodes' axes are sorted and filtered as
    // OpenMP tasks (each axis then needs scratch of its own).
    VekStatus create(uint32_t capacity, bool axisTasks);
    bool axisTasks(int32_t n) const { return axisTasks_ && n >= kAxisTaskMinimum; }
    void destroy();

    // The lists of the root's n fragments, sorted afresh.
    void buildRoot(const Context& ctx, const Fragment* entries, int32_t n);

    const NodeLists& current() const { return work_; }

    // Filled by the distribution of a split: one route word per fragment of
    // the node, and the child indices of the pieces of cut fragments.
    uint32_t* route() { return route_; }
    uint32_t* cutLeft() { return cutLeft_; }
    uint32_t* cutRight() { return cutRight_; }

    // After a split with fragments on both sides: saves the left child's
    // lists (the pending one) and makes the right child's the current ones.
    // Returns false when the save area had to grow and vekMalloc refused.
    bool split(const Context& ctx, const Fragment* left, const Fragment* right, int32_t cutCount,
               SavedLists* saved);

    // The current lists as one block (values then fragments of each list
    // in turn) of packedBytes() bytes, and back.
    size_t packedBytes() const;
    void pack(unsigned char* out, int32_t counts[3][3]) const;
    void unpack(const unsigned char* in, const int32_t counts[3][3]);

    // Makes a saved node's lists current again and frees their save space
    // (and everything saved after them).
    void restore(const SavedLists& saved);

private:
    // Grows the save area to at least `bytes`, keeping what it holds; false
    // when vekMalloc refused.
    bool makeSaveRoom(size_t bytes);
    // Classifies fragments [begin, end) into the working lists, writing
    // each list from index `at`; m and np get the counts of non-planar and
    // planar values per axis.
    void classify(const Context& ctx, const Fragment* entries, int32_t begin, int32_t end, int32_t at, int32_t m[3],
                  int32_t np[3]);
    // Filters one list into the left child's (written at `at`, values then,
    // `room` values on, fragments; returns its length) and the right
    // child's (in place), merging in the pieces' values.
    int32_t partition(int axis, int kind, int32_t cutCount, unsigned char* at, size_t room);
    void pieceRanges(const Context& ctx, int axis, const Fragment* left, const Fragment* right, int32_t cutCount);

    unsigned char* blocks_[16] = {};  // nine lists, six scratch, route and cuts
    int blockCount_ = 0;
    uint32_t capacity_ = 0;
    NodeLists work_{};
    uint64_t* fresh_[3][2] = {};  // per axis and side: pieces' events, (key << 32) | index
    float* range_[3][2] = {};     // per axis and side: pieces' (lo, hi)
    uint32_t* route_ = nullptr;
    uint32_t* cutLeft_ = nullptr;
    uint32_t* cutRight_ = nullptr;
    bool axisTasks_ = false;
    unsigned char* save_ = nullptr;
    size_t saveSize_ = 0;
    size_t saveTop_ = 0;
};

}  // namespace vekr::sah

#endif
