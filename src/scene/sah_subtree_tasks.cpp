// The SAH build on several threads.
//
// The calling thread builds the top of the tree as the one-thread build
// would, except that a node of at most `grain` fragments is not built but
// copied out (fragments, sorted candidate lists, the cut vertices they
// use) as a task. The tasks then run on all threads, each on a context of
// its own, largest first. A subtree's nodes depend only on its own
// fragments and cell, so every node comes out as the one-thread build
// makes it; the finished subtrees are grafted in where their tasks were
// taken, which fixes the order of the block whatever thread ran what.
//
// What the threads cannot share is the memory accounting: the one-thread
// build fails with vekStsMemAllocErr at the first request its budget,
// arenas or pools cannot meet, and that depends on the order of all
// requests. Every node therefore logs its requests, and the logs are
// replayed in one-thread order against a model of that memory. Any other
// failure (a count the search did not predict, a task's own memory
// running short) sends the build back to one thread, which gives the
// exact outcome, since the first failure in one-thread order decides it.

#include "scene/sah_subtree_tasks.h"

#include <omp.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "core/memory.h"
#include "scene/sah_build_log.h"
#include "scene/sah_node_builder.h"

namespace vekr::sah {

namespace {

// Enough tasks to keep two or more threads busy to the end with tasks of
// uneven size; the top of the tree stays a few levels deep.
constexpr int32_t kTasksWanted = 24;
constexpr int kMaxTasks = 256;
constexpr int32_t kMinimumRootCount = 16384;
constexpr int32_t kMinimumGrain = 1024;

struct Task {
    uint32_t node;  // the node's slot in the build's node pool
    NodeState state;
    int32_t count;
    int32_t listCounts[3][3];
    size_t listBytes;
    uint32_t vertexBytes;  // of the build's cut vertices copied
    unsigned char* seed;   // fragments, packed lists, cut vertices
    Context* ctx;
    uint32_t root;  // the subtree's root in the task's node pool
    BuildLog log;
    VekStatus status;
};

class TaskQueue final : public SubtreeSink {
public:
    TaskQueue(Task* tasks, BuildLog& top) : tasks_(tasks), top_(top) {}

    bool full() const override { return count_ == kMaxTasks; }

    VekStatus take(const Context& ctx, const BuildNode& node, uint32_t nodeHandle, const NodeState& state,
                   const EventLists& lists) override
    {
        Task& t = *new (&tasks_[count_]) Task();
        t.node = nodeHandle;
        t.state = state;
        t.count = static_cast<int32_t>(node.value);
        t.listBytes = lists.packedBytes();
        t.vertexBytes = ctx.vertices3.cursor;
        const uint64_t bytes = 12 * static_cast<uint64_t>(t.count) + t.listBytes + t.vertexBytes;
        t.seed = bytes / 4 < INT32_MAX ? static_cast<unsigned char*>(malloc4(static_cast<int32_t>(bytes / 4 + 1)))
                                       : nullptr;
        if (!t.seed) return vekStsNoMemErr;
        ++count_;
        std::memcpy(t.seed, ctx.entryAt(node.ref), 12 * static_cast<size_t>(t.count));
        lists.pack(t.seed + 12 * static_cast<size_t>(t.count), t.listCounts);
        std::memcpy(t.seed + 12 * static_cast<size_t>(t.count) + t.listBytes, ctx.vertices3.base, t.vertexBytes);
        top_.record(kTaskRecord, static_cast<uint32_t>(count_ - 1));
        return top_.ok() ? vekStsOk : vekStsNoMemErr;
    }

    int count() const { return count_; }

private:
    Task* tasks_;
    BuildLog& top_;
    int count_ = 0;
};

// Builds one task's subtree on a context of its own.
VekStatus runTask(const Context& main, Task& t, float factor, int32_t maxDepth)
{
    const uint64_t n = static_cast<uint64_t>(t.count);
    // Room for the working array and the pending left children (about
    // twice the fragments, more with cuts), and for the vertices cut along
    // one path; a task that needs more sends the build back to one thread.
    VekStatus st = createSubtreeContext(main, 48 * n + (1u << 20), t.vertexBytes + 48 * n + (1u << 20), &t.ctx);
    if (st != vekStsOk) return st;
    Context& ctx = *t.ctx;
    uint32_t working;
    if (!ctx.entries.take(12 * static_cast<uint32_t>(n), &working)) return vekStsMemAllocErr;
    std::memcpy(ctx.entryAt(working), t.seed, 12 * n);
    std::memcpy(ctx.vertices3.base, t.seed + 12 * n + t.listBytes, t.vertexBytes);
    ctx.vertices3.cursor = t.vertexBytes;
    st = poolTake(ctx.budget, ctx.nodePool, 2 * sizeof(BuildNode), &t.root);
    if (st != vekStsOk) return st;
    *ctx.nodeAt(t.root) = BuildNode{kLeafKind, static_cast<uint32_t>(n), working};

    NodeBuilder builder(ctx, factor, maxDepth, working, &t.log);
    st = builder.prepare(t.count);
    if (st != vekStsOk) return st;
    builder.unpackLists(t.seed + 12 * n, t.listCounts);
    vekFree(t.seed);
    t.seed = nullptr;
    NodeState start = t.state;
    start.node = t.root;
    start.entryCursor = start.vertexCursor = kNoHandle;
    st = builder.run(start);
    if (st == vekStsOk && !t.log.ok()) st = vekStsNoMemErr;
    return st;
}

// Rewrites the handles of a subtree for the build's pools, into which its
// chunks have been appended at chunk numbers nodeBase and leafBase.
void rebase(const Context& ctx, BuildNode* node, uint32_t nodeBase, uint32_t leafBase)
{
    if (node->kind != kLeafKind) {
        BuildNode* kids = ctx.nodeAt(node->ref);
        rebase(ctx, kids, nodeBase, leafBase);
        rebase(ctx, kids + 1, nodeBase, leafBase);
        node->ref += nodeBase << 24;
    } else if (node->ref != kNoHandle) {
        node->ref += leafBase << 24;
    }
}

// Moves a finished task's nodes and leaf lists into the build's pools and
// puts its root where the task was taken. False when a chunk table is full.
bool graft(Context& main, Task& t)
{
    Context& ctx = *t.ctx;
    const uint32_t nodeBase = main.nodePool.chunkCount, leafBase = main.leafPool.chunkCount;
    if (nodeBase + ctx.nodePool.chunkCount > static_cast<uint32_t>(kMaxPoolChunks) ||
        leafBase + ctx.leafPool.chunkCount > static_cast<uint32_t>(kMaxPoolChunks))
        return false;
    BuildNode root = *ctx.nodeAt(t.root);
    rebase(ctx, &root, nodeBase, leafBase);
    *main.nodeAt(t.node) = root;
    // The build's pools serve no more requests; the newest chunk's cursor
    // stays with the chunk it belongs to.
    for (uint32_t i = 0; i < ctx.nodePool.chunkCount; ++i) main.nodePool.chunk[nodeBase + i] = ctx.nodePool.chunk[i];
    for (uint32_t i = 0; i < ctx.leafPool.chunkCount; ++i) main.leafPool.chunk[leafBase + i] = ctx.leafPool.chunk[i];
    main.nodePool.chunkCount += ctx.nodePool.chunkCount;
    main.leafPool.chunkCount += ctx.leafPool.chunkCount;
    ctx.nodePool.chunkCount = ctx.leafPool.chunkCount = 0;
    return true;
}

void releaseTask(Task& t)
{
    if (t.seed) vekFree(t.seed);
    destroyContext(t.ctx);
    t.~Task();
}

// The failure to report, in order of precedence: a refused vekMalloc is
// vekStsNoMemErr whatever else happened; anything else is settled by the
// one-thread build.
VekStatus worst(VekStatus a, VekStatus b)
{
    if (a == vekStsNoMemErr || b == vekStsNoMemErr) return vekStsNoMemErr;
    return a != vekStsOk ? a : b;
}

}  // namespace

bool worthSubtreeTasks(int32_t rootCount, int32_t maxDepth) { return rootCount >= kMinimumRootCount && maxDepth > 4; }

VekStatus buildWithSubtreeTasks(Context& ctx, float factor, int32_t maxDepth, uint32_t working,
                                uint32_t rootHandle, const float rootBox[6], int threads)
{
    const BuildNode root = *ctx.nodeAt(rootHandle);
    const int32_t n = static_cast<int32_t>(root.value);
    const MemoryModel model = MemoryModel::of(ctx);
    // From here on the real pools and arenas only hold what the threads
    // make; the budget is the model's.
    ctx.budget.left = UINT32_MAX;

    auto* tasks = static_cast<Task*>(malloc4(static_cast<int32_t>((sizeof(Task) * kMaxTasks + 3) / 4)));
    if (!tasks) return vekStsNoMemErr;
    BuildLog top;
    TaskQueue queue(tasks, top);
    VekStatus st;
    {
        NodeBuilder builder(ctx, factor, maxDepth, working, &top);
        st = builder.prepare(n);
        if (st == vekStsOk) {
            builder.sortLists(root);
            builder.handOff(std::max(n / kTasksWanted, kMinimumGrain), &queue);
            NodeState start{rootHandle, {}, 0, kNoHandle, kNoHandle};
            std::memcpy(start.box, rootBox, sizeof start.box);
            st = builder.run(start);
            if (st == vekStsOk && !top.ok()) st = vekStsNoMemErr;
        }
    }

    const int count = queue.count();
    if (st == vekStsOk) {
        // Largest first, so the last tasks to start are small.
        int order[kMaxTasks];
        for (int i = 0; i < count; ++i) order[i] = i;
        std::stable_sort(order, order + count, [&](int a, int b) { return tasks[a].count > tasks[b].count; });
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads)
        for (int i = 0; i < count; ++i) {
            Task& t = tasks[order[i]];
            t.status = runTask(ctx, t, factor, maxDepth);
        }
        for (int i = 0; i < count; ++i) st = worst(st, tasks[i].status);
    }
    if (st != vekStsOk && st != vekStsNoMemErr) st = kRunOnOneThread;
    if (st == vekStsOk) {
        const BuildLog* logs[kMaxTasks];
        for (int i = 0; i < count; ++i) logs[i] = &tasks[i].log;
        if (!replayFitsMemory(model, top, logs, count)) st = vekStsMemAllocErr;
    }
    for (int i = 0; i < count && st == vekStsOk; ++i)
        if (!graft(ctx, tasks[i])) st = kRunOnOneThread;
    for (int i = 0; i < count; ++i) releaseTask(tasks[i]);
    vekFree(tasks);
    return st;
}

}  // namespace vekr::sah
