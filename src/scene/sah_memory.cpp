// Budget, arenas, chunk pools and free lists of the SAH build.
//
// Every block of working memory comes from vekMalloc and is charged to the
// caller's limit with fixed costs, so that a build either fits or fails in
// the same place whatever the allocator does with its padding. A refusal by
// vekMalloc itself (as opposed to an exhausted budget) is reported as
// vekStsNoMemErr, the code of a refused tree block.

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

#include "core/memory.h"
#include "scene/sah_context.h"

namespace vekr::sah {

namespace {

void* takeBlock(uint64_t bytes)
{
    if (bytes == 0 || bytes / 4 > INT32_MAX) return nullptr;
    return malloc4(static_cast<int32_t>((bytes + 3) / 4));
}

void releasePool(ChunkPool& pool)
{
    for (uint32_t i = pool.firstOwnChunk; i < pool.chunkCount; ++i) vekFree(pool.chunk[i]);
    pool.chunkCount = pool.firstOwnChunk = 0;
    pool.cursor = pool.end = 0;
}

}  // namespace

uint64_t minimumLimitBytes(int32_t vertexCount, int32_t triangleCount)
{
    return 12 * static_cast<uint64_t>(vertexCount) + 84 * static_cast<uint64_t>(triangleCount) + kSetupFixedBytes;
}

VekStatus createContext(const float* vertices, int32_t vertexCount, const int32_t* triangles,
                        int32_t triangleCount, uint32_t limitBytes, Context** out)
{
    *out = nullptr;
    void* raw = takeBlock(sizeof(Context));
    if (!raw) return vekStsNoMemErr;
    Context* ctx = new (raw) Context();
    ctx->budget.limit = limitBytes;
    ctx->budget.left = limitBytes;
    ctx->budget.chargeUnchecked(kContextCharge);
    ctx->vertices = vertices;
    ctx->vertexCount = vertexCount;
    ctx->triangles = triangles;
    ctx->triangleCount = triangleCount;
    std::fill(std::begin(ctx->freeLists.head), std::end(ctx->freeLists.head), kNoHandle);

    // The twelve per-axis sort arrays of a build that sorts every node's
    // candidates afresh. Candidates sorted once and carried down need none
    // of them, but the budget keeps their charge, so that a build fits its
    // limit or runs out exactly where it always has.
    for (int i = 0; i < 12; ++i) ctx->budget.chargeUnchecked(4 * static_cast<uint64_t>(triangleCount));

    // The entry arena holds the working array (12 nT) and the pending left
    // children above it; the vertex arena the vertices made by cutting.
    const uint64_t entryBytes = (36 * static_cast<uint64_t>(triangleCount) & ~uint64_t(kChunkBytes - 1)) + kChunkBytes;
    const uint64_t vertexBytes = uint64_t(kChunkBytes) * (1 + 12 * static_cast<uint64_t>(vertexCount) / (1u << 22));
    ctx->entries.base = static_cast<unsigned char*>(takeBlock(entryBytes));
    ctx->vertices3.base = ctx->entries.base ? static_cast<unsigned char*>(takeBlock(vertexBytes)) : nullptr;
    if (!ctx->vertices3.base) {
        destroyContext(ctx);
        return vekStsNoMemErr;
    }
    ctx->entries.size = static_cast<uint32_t>(entryBytes);
    ctx->vertices3.size = static_cast<uint32_t>(vertexBytes);
    ctx->budget.chargeUnchecked(entryBytes);
    ctx->budget.chargeUnchecked(vertexBytes);
    *out = ctx;
    return vekStsOk;
}

VekStatus createSubtreeContext(const Context& main, unsigned char* const* polygonChunks, uint32_t polygonChunkCount,
                               const Arena& entries, const Arena& vertices, Context** out)
{
    *out = nullptr;
    void* raw = takeBlock(sizeof(Context));
    if (!raw) return vekStsNoMemErr;
    Context* ctx = new (raw) Context();
    // Its memory is accounted for by replaying its log against the
    // build's own budget, not here.
    ctx->budget.limit = ctx->budget.left = UINT32_MAX;
    ctx->vertices = main.vertices;
    ctx->vertexCount = main.vertexCount;
    ctx->triangles = main.triangles;
    ctx->triangleCount = main.triangleCount;
    std::fill(std::begin(ctx->freeLists.head), std::end(ctx->freeLists.head), kNoHandle);
    ctx->entries = entries;
    ctx->vertices3 = vertices;
    // The subtree's fragments keep the records they were given: the
    // polygon chunks they lie in are shared, not owned.
    for (ChunkPool* p : {&ctx->nodePool, &ctx->leafPool, &ctx->polygonPool}) p->chunkBytes = kSubtreeChunkBytes;
    std::copy(polygonChunks, polygonChunks + polygonChunkCount, ctx->polygonPool.chunk);
    ctx->polygonPool.chunkCount = ctx->polygonPool.firstOwnChunk = polygonChunkCount;
    *out = ctx;
    return vekStsOk;
}

void releaseFragmentMemory(Context& ctx)
{
    releasePool(ctx.polygonPool);
    std::fill(std::begin(ctx.freeLists.head), std::end(ctx.freeLists.head), kNoHandle);
    vekFree(ctx.entries.base);
    vekFree(ctx.vertices3.base);
    ctx.entries = Arena{};
    ctx.vertices3 = Arena{};
}

void destroyContext(Context* ctx)
{
    if (!ctx) return;
    releaseFragmentMemory(*ctx);
    releasePool(ctx->nodePool);
    releasePool(ctx->leafPool);
    ctx->~Context();
    vekFree(ctx);
}

VekStatus poolTake(Budget& budget, ChunkPool& pool, uint32_t bytes, uint32_t* handle)
{
    if (static_cast<uint64_t>(pool.cursor) + bytes < pool.end) {
        *handle = ((pool.chunkCount - 1) << 24) | pool.cursor;
        pool.cursor += bytes;
        return vekStsOk;
    }
    // A request larger than a chunk (the list of a leaf of more than 2^22
    // fragments) gets a chunk of its own size, charged like any other.
    const uint32_t blockBytes = std::max(bytes, pool.chunkBytes);
    const uint64_t charge = static_cast<uint64_t>(blockBytes) + (kChunkCharge - kChunkBytes);
    if (budget.left < charge || pool.chunkCount >= pool.maxChunks) return vekStsMemAllocErr;
    auto* block = static_cast<unsigned char*>(takeBlock(blockBytes));
    if (!block) return vekStsNoMemErr;
    budget.left -= static_cast<uint32_t>(charge);
    pool.chunk[pool.chunkCount++] = block;
    pool.cursor = bytes;
    pool.end = blockBytes;
    *handle = (pool.chunkCount - 1) << 24;
    return vekStsOk;
}

VekStatus takePolygon(Context& ctx, int count, uint32_t* handle)
{
    if (count < kFreeListCount && ctx.freeLists.head[count] != kNoHandle) {
        *handle = ctx.freeLists.head[count];
        std::memcpy(&ctx.freeLists.head[count], ctx.polygonPool.at(*handle), 4);
        return vekStsOk;
    }
    return poolTake(ctx.budget, ctx.polygonPool, 4 * static_cast<uint32_t>(count), handle);
}

void recyclePolygon(Context& ctx, uint32_t handle, int count)
{
    if (count >= kFreeListCount) return;
    std::memcpy(ctx.polygonPool.at(handle), &ctx.freeLists.head[count], 4);
    ctx.freeLists.head[count] = handle;
}

}  // namespace vekr::sah
