// What a build did to its memory, node by node, and the replay that tells
// whether the same build run start to finish on one thread would have
// stayed within its memory limit.
//
// When subtrees are built on several threads, each with memory of its own,
// the budget, the two arenas and the pools of the one-thread build never see
// the real sequence of requests. The outcome must not depend on the thread
// count, so every node records the requests it would have made and the
// replay runs them through a model of that memory in one-thread order.
#ifndef VEKR_SCENE_SAH_BUILD_LOG_H
#define VEKR_SCENE_SAH_BUILD_LOG_H

#include <cstddef>
#include <cstdint>

#include "scene/sah_context.h"

namespace vekr::sah {

// Records, each a few words:
//   split  kSplitRecord, nL, nR, vertices made, pieces made, then the
//          pieces' vertex counts, one byte each, four to a word
//   leaf   kLeafRecord, n, then the entries' vertex counts, one byte each
//   task   kTaskRecord, task number: the subtree built by that task
//          stands here
enum : uint32_t { kSplitRecord = 1, kLeafRecord = 2, kTaskRecord = 3 };

class BuildLog {
public:
    BuildLog() = default;
    ~BuildLog() { release(); }
    BuildLog(const BuildLog&) = delete;
    BuildLog& operator=(const BuildLog&) = delete;

    void release();
    // False once a block could not be had; the record is then dropped.
    bool ok() const { return ok_; }

    void record(uint32_t kind, uint32_t a) { put2(kind, a); }
    // A record followed by `count` bytes written by the caller into the
    // returned space (null when out of memory).
    uint8_t* recordWithBytes(const uint32_t* head, int words, uint32_t count);

    const uint32_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    bool reserve(size_t words);
    void put2(uint32_t a, uint32_t b)
    {
        if (!reserve(2)) return;
        data_[size_++] = a;
        data_[size_++] = b;
    }

    uint32_t* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    bool ok_ = true;
};

// The one-thread build's memory at the start of its node loop.
struct MemoryModel {
    struct Pool {
        uint32_t cursor, end, count;
    };
    uint64_t left;
    Pool node, leaf, polygon;
    uint32_t freeRecords[kFreeListCount];
    uint32_t entryCursor, entrySize;
    uint32_t vertexCursor, vertexSize;

    static MemoryModel of(const Context& ctx);
};

// Replays the log of the top of the tree, with the task logs spliced in
// where their subtrees stand. False when the one-thread build would have
// run out of its budget, an arena or a pool's chunk table.
bool replayFitsMemory(MemoryModel model, const BuildLog& top, const BuildLog* const* tasks, int taskCount);

}  // namespace vekr::sah

#endif
