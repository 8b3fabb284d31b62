// The SAH build on several threads.
//
// One thread builds the top of the tree. Every node below the root
// whose fragment count lies in a band (at most 1/32 of the root's, at
// least 1/128; in small scenes 4096 to 16384) becomes a task of its own:
// its fragments, sorted candidate lists and the cut vertices they use are
// copied out, and the node is marked as standing for the task's subtree.
// A task builds its whole subtree on a context of its own, so the threads
// share nothing they write, and each fragment is copied once on its way to
// a task. A subtree's nodes depend only on its own fragments and cell, so
// every node comes out as the one-thread build makes it, and the block
// writer follows the marks into the tasks' subtrees, which fixes the
// block's order whatever thread ran what.
//
// The band is a trade. The top is built on one thread, but the axes of
// its nodes of 65536 fragments or more are searched and filtered as tasks,
// so a second thread helps there too; many small tasks then balance the
// threads at the end better than a few large ones. Tasks
// handing off their own children would copy every fragment again at every
// level, which cost more on two threads than the balance it bought.
//
// What the threads cannot share is the memory accounting: the one-thread
// build fails with vekStsMemAllocErr at the first request its budget,
// arenas or pools cannot meet, and that depends on the order of all
// requests. Every node therefore logs its requests, and the logs are
// replayed in one-thread order against a model of that memory. Any other
// failure (a count the search did not predict, a task's own memory running
// short) sends the build back to one thread, which gives the exact outcome,
// since the first failure in one-thread order decides it.

#include "scene/sah_subtree_tasks.h"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "core/memory.h"
#include "scene/sah_build_log.h"
#include "scene/sah_node_builder.h"
#include "scene/sah_tree_view.h"
#include "scene/tree_block_writer.h"

namespace vekr::sah {

namespace {

// Nodes of between 1/kSmallestShare and 1/kLargestShare of the root's
// fragments get tasks of their own: in large scenes some thirty to a
// hundred, enough to keep two or more threads busy, each worth its
// copying. No
// task is smaller than kMinimumTask, and in scenes too small for the
// shares the band reaches up to four times that.
constexpr int32_t kLargestShare = 32;
constexpr int32_t kSmallestShare = 128;
constexpr int32_t kMinimumTask = 4096;

struct HandOffBand {
    int32_t minimum, maximum;
};

HandOffBand handOffBand(int32_t rootCount)
{
    const int32_t minimum = std::max(rootCount / kSmallestShare, kMinimumTask);
    return HandOffBand{minimum, std::max(rootCount / kLargestShare, 4 * minimum)};
}

constexpr int32_t kMinimumRootCount = 16384;
constexpr int kMaxTasks = 1024;

// A node that stands for the subtree of a task (value: the task number).
constexpr int32_t kSubtreeKind = 4;

struct Task {
    int32_t count;
    NodeState state;
    int32_t listCounts[3][3];
    size_t listBytes;
    uint32_t vertexBytes;  // cut vertices copied from the parent
    unsigned char* seed;   // fragments, packed lists, cut vertices
    unsigned char* polygonChunks[kMaxPoolChunks];  // the parent's, as they were
    uint32_t polygonChunkCount;
    Context* ctx;
    uint32_t root;  // the subtree's root in the task's node pool
    BuildLog log;
    VekStatus status;
};

class TaskSet final : public SubtreeSink {
    // A thread's arenas and candidate lists.
    struct Workspace {
        Arena entries, vertices;
        EventLists lists;
        void release()
        {
            if (entries.base) vekFree(entries.base);
            if (vertices.base) vekFree(vertices.base);
            entries = vertices = Arena{};
            lists.destroy();
        }
    };
    static constexpr int kMaxThreads = 64;

public:
    TaskSet(Task* tasks, float factor, int32_t maxDepth) : tasks_(tasks), factor_(factor), maxDepth_(maxDepth) {}

    BuildLog top;
    // Where each subtree goes in the tree block.
    SubtreeBytes bytes[kMaxTasks];
    SubtreePlace places[kMaxTasks];

    VekStatus take(Context& ctx, uint32_t nodeHandle, const NodeState& state, const EventLists& lists) override
    {
        BuildNode* node = ctx.nodeAt(nodeHandle);
        const uint64_t n = node->value;
        const uint64_t bytes = 12 * n + lists.packedBytes() + ctx.vertices3.cursor;
        // A subtree whose copy or arenas would not fit one vekMalloc block
        // (its sizes are signed 32-bit) is built here: refusing it would
        // fail a build that one thread completes.
        if (std::max(bytes, ctx.vertices3.cursor + arenaBytes(n)) > kMaxBlockBytes) return kDeclined;
        const int index = next_.fetch_add(1);
        if (index >= kMaxTasks) return kDeclined;
        Task& t = *new (&tasks_[index]) Task();
        t.count = static_cast<int32_t>(n);
        t.state = state;
        t.listBytes = lists.packedBytes();
        t.vertexBytes = ctx.vertices3.cursor;
        t.seed = static_cast<unsigned char*>(malloc4(static_cast<int32_t>(bytes / 4 + 1)));
        if (!t.seed) {
            t.status = vekStsNoMemErr;
            return vekStsNoMemErr;
        }
        std::memcpy(t.seed, ctx.entryAt(node->ref), 12 * static_cast<size_t>(t.count));
        lists.pack(t.seed + 12 * static_cast<size_t>(t.count), t.listCounts);
        std::memcpy(t.seed + 12 * static_cast<size_t>(t.count) + t.listBytes, ctx.vertices3.base, t.vertexBytes);
        t.polygonChunkCount = ctx.polygonPool.chunkCount;
        std::copy(ctx.polygonPool.chunk, ctx.polygonPool.chunk + t.polygonChunkCount, t.polygonChunks);
        *node = BuildNode{kSubtreeKind, static_cast<uint32_t>(index), kNoHandle};
        top.record(kTaskRecord, static_cast<uint32_t>(index));
        if (!top.ok()) return vekStsNoMemErr;
#pragma omp task default(shared) firstprivate(index)
        run(tasks_[index]);
        return vekStsOk;
    }

    void setMain(const Context* main) { main_ = main; }
    int made() const { return std::min(next_.load(), kMaxTasks); }
    Task& operator[](int i) { return tasks_[i]; }

private:
    // Builds one task's subtree on a context of its own. The arenas and
    // lists are the thread's, reused from task to task: a thread never
    // starts a subtree task inside another (the tasks are tied, and none is
    // a descendant of another), so one workspace per thread suffices.
    void run(Task& t)
    {
        const int thread = omp_get_thread_num();
        Workspace local;
        Workspace& ws = thread < kMaxThreads ? spaces_[thread] : local;
        t.status = build(t, ws);
        // Only the nodes and leaf lists are read from here on: the arenas
        // go back to the workspace, the polygon records are freed.
        if (t.ctx) {
            t.ctx->entries = Arena{};
            t.ctx->vertices3 = Arena{};
            releaseFragmentMemory(*t.ctx);
        }
        // Measured here, on the task's thread, so that writing the block
        // needs only the top of the tree measured on one thread.
        if (t.status == vekStsOk) bytes[&t - tasks_] = measureSubtree(BuildTreeView{*t.ctx, t.root});
        if (&ws == &local) local.release();
    }

    // What a task of n fragments takes for its entry arena, and for its
    // vertex arena above the vertices it copies.
    static uint64_t arenaBytes(uint64_t n) { return 48 * n + (1u << 20); }
    static constexpr uint64_t kMaxBlockBytes = INT32_MAX - 7;

    static bool ensure(unsigned char*& block, uint32_t& size, uint64_t bytes)
    {
        if (size >= bytes) return true;
        if (block) vekFree(block);
        block = nullptr;
        size = 0;
        if (bytes >= UINT32_MAX) return false;
        block = static_cast<unsigned char*>(malloc4(static_cast<int32_t>(bytes / 4 + 1)));
        if (!block) return false;
        size = static_cast<uint32_t>(bytes);
        return true;
    }

    VekStatus build(Task& t, Workspace& ws)
    {
        const uint64_t n = static_cast<uint64_t>(t.count);
        // Room for the working array and the pending left children (about
        // twice the fragments, more with cuts), and for the vertices cut
        // along one path; a task that needs more sends the build back to
        // one thread.
        if (!ensure(ws.entries.base, ws.entries.size, arenaBytes(n)) ||
            !ensure(ws.vertices.base, ws.vertices.size, t.vertexBytes + arenaBytes(n)))
            return vekStsNoMemErr;
        ws.entries.cursor = ws.vertices.cursor = 0;
        VekStatus st =
            createSubtreeContext(*main_, t.polygonChunks, t.polygonChunkCount, ws.entries, ws.vertices, &t.ctx);
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

        NodeBuilder builder(ctx, factor_, maxDepth_, working, &t.log, &ws.lists);
        // Only roots of millions of fragments give tasks large enough for
        // axis tasks; below that the scratch for three axes would be waste.
        if (t.count >= kAxisTaskMinimum) builder.useAxisTasks();
        st = builder.prepare(t.count);
        if (st != vekStsOk) return st;
        builder.unpackLists(t.seed + 12 * n, t.listCounts);
        vekFree(t.seed);
        t.seed = nullptr;
        NodeState start = t.state;
        start.node = t.root;
        start.entryCursor = start.vertexCursor = kNoHandle;
        st = builder.run(start);
        if (!t.log.ok()) st = vekStsNoMemErr;  // whatever failed after the refusal
        return st;
    }


public:
    ~TaskSet()
    {
        for (Workspace& w : spaces_) w.release();
    }

private:
    Task* tasks_;
    Workspace spaces_[kMaxThreads];
    float factor_;
    int32_t maxDepth_;
    const Context* main_ = nullptr;
    std::atomic<int> next_{0};
};

// The top of the tree, where a node marked as standing for a task's
// subtree is that subtree.
struct TopTreeView : BuildTreeView {
    int32_t subtree(Node n) const { return n->kind == kSubtreeKind ? static_cast<int32_t>(n->value) : -1; }
};

// The failure to report, in order of precedence: a refused vekMalloc is
// vekStsNoMemErr whatever else happened; anything else is settled by the
// one-thread build.
VekStatus worst(VekStatus a, VekStatus b)
{
    if (a == vekStsNoMemErr || b == vekStsNoMemErr) return vekStsNoMemErr;
    return a != vekStsOk ? a : b;
}

}  // namespace

bool worthSubtreeTasks(int32_t rootCount, int32_t maxDepth) { return rootCount >= kMinimumRootCount && maxDepth > 2; }

VekStatus buildWithSubtreeTasks(Context& ctx, float factor, int32_t maxDepth, uint32_t working,
                                uint32_t rootHandle, const float rootBox[6], int threads, VekrKDTreeNode** tree,
                                int32_t* size)
{
    const BuildNode root = *ctx.nodeAt(rootHandle);
    const int32_t n = static_cast<int32_t>(root.value);
    const MemoryModel model = MemoryModel::of(ctx);
    // From here on the real pools and arenas only hold what the threads
    // make; the budget is the model's.
    ctx.budget.left = UINT32_MAX;

    auto* block = static_cast<Task*>(malloc4(static_cast<int32_t>((sizeof(Task) * kMaxTasks + 3) / 4)));
    if (!block) return vekStsNoMemErr;
    auto* tasksRaw = malloc4(static_cast<int32_t>((sizeof(TaskSet) + 3) / 4));
    if (!tasksRaw) {
        vekFree(block);
        return vekStsNoMemErr;
    }
    TaskSet& tasks = *new (tasksRaw) TaskSet(block, factor, maxDepth);
    tasks.setMain(&ctx);
    VekStatus st = vekStsOk;
#pragma omp parallel num_threads(threads)
#pragma omp single
    {
        NodeBuilder builder(ctx, factor, maxDepth, working, &tasks.top);
        builder.useAxisTasks();
        st = builder.prepare(n);
        if (st == vekStsOk) {
            builder.sortLists(root);
            const HandOffBand band = handOffBand(n);
            builder.handOff(band.minimum, band.maximum, &tasks);
            NodeState start{rootHandle, {}, 0, kNoHandle, kNoHandle};
            std::memcpy(start.box, rootBox, sizeof start.box);
            st = builder.run(start);
            if (!tasks.top.ok()) st = vekStsNoMemErr;
        }
    }

    const int count = tasks.made();
    for (int i = 0; i < count; ++i) st = worst(st, tasks[i].status);
    if (st != vekStsOk && st != vekStsNoMemErr) st = kRunOnOneThread;
    if (st == vekStsOk) {
        const BuildLog* logs[kMaxTasks];
        for (int i = 0; i < count; ++i) logs[i] = &tasks[i].log;
        if (!replayFitsMemory(model, tasks.top, logs, count)) st = vekStsMemAllocErr;
    }
    if (st == vekStsOk) {
        // The writer reads only nodes and leaf lists (each task gave its
        // fragments' memory back as it finished).
        releaseFragmentMemory(ctx);
        st = layOutTreeBlock(TopTreeView{{ctx, rootHandle}}, tasks.bytes, tasks.places, tree, size);
    }
    if (st == vekStsOk) {
        // Each subtree has its own ranges of the block.
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
        for (int i = 0; i < count; ++i) {
            writeSubtree(BuildTreeView{*tasks[i].ctx, tasks[i].root}, *tree, tasks.places[i]);
            destroyContext(tasks[i].ctx);
            tasks[i].ctx = nullptr;
        }
    }
    for (int i = 0; i < count; ++i) {
        Task& t = tasks[i];
        if (t.seed) vekFree(t.seed);
        destroyContext(t.ctx);
        t.~Task();
    }
    tasks.~TaskSet();
    vekFree(tasksRaw);
    vekFree(block);
    return st;
}

}  // namespace vekr::sah
