// Build logs and their replay in one-thread order.
//
// The replay follows the node loop of the builder step for step: the arena
// cursors restored from the node in hand, a split's child pair, its two
// entry arrays and the vertices and polygon records of its cuts, a leaf's
// list and the records it frees, the stack of pending left children. Only
// the amounts matter; where a failure would have struck makes no difference
// to the outcome, which is the same status wherever it happens.

#include "scene/sah_build_log.h"

#include <algorithm>
#include <cstring>

#include "core/memory.h"

namespace vekr::sah {

void BuildLog::release()
{
    if (data_) vekFree(data_);
    data_ = nullptr;
    size_ = capacity_ = 0;
}

bool BuildLog::reserve(size_t words)
{
    if (!ok_) return false;
    if (size_ + words <= capacity_) return true;
    size_t want = std::max<size_t>(capacity_ * 2, 1 << 16);
    while (want < size_ + words) want *= 2;
    if (want > static_cast<size_t>(INT32_MAX)) {
        ok_ = false;
        return false;
    }
    auto* grown = static_cast<uint32_t*>(malloc4(static_cast<int32_t>(want)));
    if (!grown) {
        ok_ = false;
        return false;
    }
    if (data_) {
        std::memcpy(grown, data_, 4 * size_);
        vekFree(data_);
    }
    data_ = grown;
    capacity_ = want;
    return true;
}

uint8_t* BuildLog::recordWithBytes(const uint32_t* head, int words, uint32_t count)
{
    const size_t byteWords = (static_cast<size_t>(count) + 3) / 4;
    if (!reserve(static_cast<size_t>(words) + byteWords)) return nullptr;
    for (int i = 0; i < words; ++i) data_[size_++] = head[i];
    auto* bytes = reinterpret_cast<uint8_t*>(data_ + size_);
    if (byteWords) data_[size_ + byteWords - 1] = 0;
    size_ += byteWords;
    return bytes;
}

MemoryModel MemoryModel::of(const Context& ctx)
{
    MemoryModel m{};
    m.left = ctx.budget.left;
    auto pool = [](const ChunkPool& p) { return Pool{p.cursor, p.end, p.chunkCount}; };
    m.node = pool(ctx.nodePool);
    m.leaf = pool(ctx.leafPool);
    m.polygon = pool(ctx.polygonPool);
    for (int c = 0; c < kFreeListCount; ++c) {
        uint32_t n = 0;
        for (uint32_t h = ctx.freeLists.head[c]; h != kNoHandle; ++n)
            std::memcpy(&h, ctx.polygonPool.at(h), 4);
        m.freeRecords[c] = n;
    }
    m.entryCursor = ctx.entries.cursor;
    m.entrySize = ctx.entries.size;
    m.vertexCursor = ctx.vertices3.cursor;
    m.vertexSize = ctx.vertices3.size;
    return m;
}

namespace {

class Replay {
public:
    Replay(const MemoryModel& m, const BuildLog* const* tasks, int taskCount)
        : m_(m), tasks_(tasks), taskCount_(taskCount)
    {
    }

    // False at the first request the one-thread build could not have met.
    bool run(const BuildLog& log)
    {
        const uint32_t* w = log.data();
        const uint32_t* end = w + log.size();
        while (w < end) {
            if (w[0] == kTaskRecord) {
                if (w[1] >= static_cast<uint32_t>(taskCount_) || !run(*tasks_[w[1]])) return false;
                w += 2;
                continue;
            }
            restoreCursors();
            if (w[0] == kSplitRecord) {
                if (!split(w[1], w[2], w[3], w[4], reinterpret_cast<const uint8_t*>(w + 5))) return false;
                w += 5 + (w[4] + 3) / 4;
            } else {
                if (!leaf(w[1], reinterpret_cast<const uint8_t*>(w + 2))) return false;
                w += 2 + (w[1] + 3) / 4;
            }
        }
        return true;
    }

private:
    struct Cursors {
        uint32_t entry, vertex;
    };

    // A request of s bytes, as the pools serve it.
    bool poolTake(MemoryModel::Pool& p, uint32_t bytes)
    {
        if (static_cast<uint64_t>(p.cursor) + bytes < p.end) {
            p.cursor += bytes;
            return true;
        }
        const uint32_t block = std::max(bytes, kChunkBytes);
        const uint64_t charge = static_cast<uint64_t>(block) + (kChunkCharge - kChunkBytes);
        if (m_.left < charge || p.count >= static_cast<uint32_t>(kMaxPoolChunks)) return false;
        m_.left -= charge;
        ++p.count;
        p.cursor = bytes;
        p.end = block;
        return true;
    }

    static bool arenaTake(uint32_t& cursor, uint32_t size, uint64_t bytes)
    {
        if (cursor + bytes >= size) return false;
        cursor += static_cast<uint32_t>(bytes);
        return true;
    }

    void restoreCursors()
    {
        if (cur_.entry < m_.entrySize) m_.entryCursor = cur_.entry;
        if (cur_.vertex < m_.vertexSize) m_.vertexCursor = cur_.vertex;
    }

    bool split(uint32_t nl, uint32_t nr, uint32_t vertices, uint32_t pieces, const uint8_t* counts)
    {
        if (!poolTake(m_.node, 2 * sizeof(BuildNode))) return false;
        if (nl == 0 || nr == 0) return true;
        if (depth_ == kStackCapacity) return false;
        Cursors& pushed = stack_[depth_++];
        pushed = cur_;
        pushed.entry = m_.entryCursor;
        if (!arenaTake(m_.entryCursor, m_.entrySize, 12ull * nl)) return false;
        const uint32_t right = m_.entryCursor;
        if (!arenaTake(m_.entryCursor, m_.entrySize, 12ull * nr)) return false;
        if (vertices > 0 && !arenaTake(m_.vertexCursor, m_.vertexSize, 12ull * vertices)) return false;
        for (uint32_t i = 0; i < pieces; ++i) {
            const uint32_t c = counts[i];
            if (c < static_cast<uint32_t>(kFreeListCount) && m_.freeRecords[c] > 0)
                --m_.freeRecords[c];
            else if (!poolTake(m_.polygon, 4 * c))
                return false;
        }
        cur_.entry = right;
        cur_.vertex = pushed.vertex = m_.vertexCursor;
        return true;
    }

    bool leaf(uint32_t n, const uint8_t* counts)
    {
        if (!poolTake(m_.leaf, 4 * n)) return false;
        for (uint32_t i = 0; i < n; ++i)
            if (counts[i] < kFreeListCount) ++m_.freeRecords[counts[i]];
        if (depth_ > 0) cur_ = stack_[--depth_];
        return true;
    }

    MemoryModel m_;
    const BuildLog* const* tasks_;
    int taskCount_;
    Cursors cur_{kNoHandle, kNoHandle};
    Cursors stack_[kStackCapacity];
    int depth_ = 0;
};

}  // namespace

bool replayFitsMemory(MemoryModel model, const BuildLog& top, const BuildLog* const* tasks, int taskCount)
{
    return Replay(model, tasks, taskCount).run(top);
}

}  // namespace vekr::sah
