// Working memory of the surface-area-heuristic build: the budget, the two
// stack-ordered arenas, the three chunk pools, the per-size free lists of
// polygon records and the build context that owns them all.
//
// Everything the build keeps is addressed through 32-bit words (arena
// offsets, pool handles, vertex references) rather than pointers, so a
// fragment entry is 12 bytes, a build node 12 bytes and a polygon record
// 4 bytes per vertex on every platform. The budget charges those sizes, so
// the point at which a build runs out of its memory limit does not depend
// on the pointer size.
#ifndef VEKR_SCENE_SAH_CONTEXT_H
#define VEKR_SCENE_SAH_CONTEXT_H

#include <cstdint>

#include "vekr.h"

namespace vekr::sah {

// ---- fixed costs of the budget ----------------------------------------------

constexpr uint32_t kContextCharge = 204;                // the build context
constexpr uint32_t kChunkBytes = 1u << 24;              // one pool chunk block
constexpr uint32_t kChunkCharge = kChunkBytes + 20;     // block + chunk header
constexpr uint64_t kSetupFixedBytes = 0x20000F4;        // part of the start minimum
constexpr int kStackCapacity = 50;                      // explicit node stack
constexpr int kMaxPolygonVertices = 31;                 // what the 5-bit count holds
constexpr int kMaxPoolChunks = 256;                     // the budget allows at most 255
constexpr uint32_t kNoHandle = 0xFFFFFFFFu;             // null pool handle / arena offset

// ---- records ----------------------------------------------------------------

// One triangle part in a node.
//   head      (triangle number << 5) | vertex count
//   extremes  per axis a: index of a vertex with the largest coordinate in
//             bits 5a..5a+4, of one with the smallest in bits 5a+15..5a+19
//   polygon   pool handle of the polygon record (count vertex references)
struct Fragment {
    int32_t head;
    uint32_t extremes;
    uint32_t polygon;
};
static_assert(sizeof(Fragment) == 12, "fragment entries are three words");

inline int32_t fragmentTriangle(const Fragment& f) { return f.head >> 5; }
inline int fragmentVertexCount(const Fragment& f) { return f.head & 31; }
inline int maxVertexIndex(uint32_t extremes, int axis) { return (extremes >> (5 * axis)) & 31; }
inline int minVertexIndex(uint32_t extremes, int axis) { return (extremes >> (5 * axis + 15)) & 31; }

// A vertex reference in a polygon record: >= 0 is a vertex number of the
// caller's array, < 0 is ~(float offset) of a vertex in the vertex arena.
using VertexRef = int32_t;

// Kinds of a build node: 0, 1, 2 = inner node splitting on that axis.
constexpr int32_t kLeafKind = 3;

// A node of the build tree.
//   kind   0..2 inner (split axis), 3 leaf or node not yet processed
//   value  split position bits (inner) or entry count (leaf, pending node)
//   ref    inner: node-pool handle of the child pair; pending: entry-arena
//          offset of its fragments; leaf: leaf-pool handle of its list
//          (kNoHandle for an empty leaf)
struct BuildNode {
    int32_t kind;
    uint32_t value;
    uint32_t ref;
};
static_assert(sizeof(BuildNode) == 12, "build nodes are three words");

// ---- memory -----------------------------------------------------------------

// The remaining budget. Never wraps below zero: a charge larger than what is
// left leaves nothing.
struct Budget {
    uint32_t limit = 0;
    uint32_t left = 0;

    void chargeUnchecked(uint64_t bytes) { left = bytes >= left ? 0u : static_cast<uint32_t>(left - bytes); }
};

// One vekMalloc block used as a stack. A request is served only while it
// leaves the cursor strictly below the end.
struct Arena {
    unsigned char* base = nullptr;
    uint32_t size = 0;
    uint32_t cursor = 0;

    bool take(uint32_t bytes, uint32_t* offset)
    {
        if (static_cast<uint64_t>(cursor) + bytes >= size) return false;
        *offset = cursor;
        cursor += bytes;
        return true;
    }
    bool holds(uint32_t offset) const { return offset < size; }
};

// Bump allocation from 16 MB chunks. A handle is (chunk number << 24) | byte
// offset in the chunk. The empty pool has cursor = end = 0, so its first
// request always takes a chunk.
//
// The pools of a subtree built on another thread take smaller chunks (their
// memory is accounted for separately), may begin with the chunks of the
// build's own pool so that its handles stay valid (those they never free),
// and have their chunks moved into the build's pools when they are done.
struct ChunkPool {
    unsigned char* chunk[kMaxPoolChunks] = {};
    uint32_t chunkCount = 0;
    uint32_t cursor = 0;  // in the newest chunk
    uint32_t end = 0;
    uint32_t chunkBytes = kChunkBytes;
    uint32_t maxChunks = kMaxPoolChunks;
    uint32_t firstOwnChunk = 0;  // chunks below this belong to another pool

    unsigned char* at(uint32_t handle) const { return chunk[handle >> 24] + (handle & 0xFFFFFFu); }
};

// Free lists of polygon records by vertex count 0 to 9 (a triangle cut to a
// box has at most 9 vertices). The first word of a free record holds the
// handle of the next one. Records of more vertices, which only rounding in
// near-degenerate cuts could make, are simply not recycled.
constexpr int kFreeListCount = 10;
struct FreeLists {
    uint32_t head[kFreeListCount];
};

// The pending state of a node: the node, its cell, its depth and the arena
// cursors that recycle the fragments and vertices of finished subtrees.
struct NodeState {
    uint32_t node;  // node-pool handle of the build node
    float box[6];
    int32_t depth;
    uint32_t entryCursor;   // kNoHandle: nothing to restore
    uint32_t vertexCursor;  // kNoHandle: nothing to restore
};

struct Context {
    Budget budget;
    const float* vertices;
    int32_t vertexCount;
    const int32_t* triangles;
    int32_t triangleCount;

    Arena entries;   // fragment entries; the working array sits at its base
    Arena vertices3; // vertices made by cutting, 12 bytes each
    ChunkPool nodePool;
    ChunkPool leafPool;
    ChunkPool polygonPool;
    FreeLists freeLists;

    NodeState stack[kStackCapacity];
    int32_t stackSize;

    const float* vertex(VertexRef r) const
    {
        return r >= 0 ? vertices + 3 * static_cast<int64_t>(r)
                      : reinterpret_cast<const float*>(vertices3.base) + static_cast<uint32_t>(~r);
    }
    Fragment* entryAt(uint32_t offset) const { return reinterpret_cast<Fragment*>(entries.base + offset); }
    BuildNode* nodeAt(uint32_t handle) const { return reinterpret_cast<BuildNode*>(nodePool.at(handle)); }
    VertexRef* polygonAt(uint32_t handle) const { return reinterpret_cast<VertexRef*>(polygonPool.at(handle)); }
};

// ---- memory operations (sah_memory.cpp) ---------------------------------------

// Bytes the build needs before it starts: below this the build is refused
// without taking anything.
uint64_t minimumLimitBytes(int32_t vertexCount, int32_t triangleCount);

// Takes the context and the fixed working blocks (the arenas) and charges
// them with the fixed costs. On failure releases what it took and sets *out = null.
VekStatus createContext(const float* vertices, int32_t vertexCount, const int32_t* triangles,
                        int32_t triangleCount, uint32_t limitBytes, Context** out);

// Releases the polygon pool and the arenas: everything
// the tree block writer does not read.
void releaseFragmentMemory(Context& ctx);

// A context for building one subtree on another thread: the arenas it is
// lent (the caller takes them back before the context is destroyed),
// pools of smaller chunks, no budget of its own, the scene arrays of
// `main`, and the polygon chunks that hold its fragments' records readable
// (not owned) through its polygon pool.
constexpr uint32_t kSubtreeChunkBytes = 1u << 20;
VekStatus createSubtreeContext(const Context& main, unsigned char* const* polygonChunks, uint32_t polygonChunkCount,
                               const Arena& entries, const Arena& vertices, Context** out);

// Releases everything that is left, the context included.
void destroyContext(Context* ctx);

// s bytes from a pool: from the newest chunk when they fit strictly below
// its end, else from a new chunk charged to the budget.
VekStatus poolTake(Budget& budget, ChunkPool& pool, uint32_t bytes, uint32_t* handle);

// A polygon record of count vertices: recycled when the free list of that
// count has one, else from the polygon pool.
VekStatus takePolygon(Context& ctx, int count, uint32_t* handle);
void recyclePolygon(Context& ctx, uint32_t handle, int count);

}  // namespace vekr::sah

#endif
