// Fuzz target of the scene records: bounding box, triangle records,
// triangle normals and both tree builds. Scenes are small, with vertices
// often shared or repeated (degenerate and duplicate triangles), hostile
// coordinates, random build descriptors and, now and then, a refused
// allocation. Every build's memory goes through a counting allocator: a
// failed build must leave the outputs alone and nothing allocated, a
// successful one a well-formed block that lists only real triangles.

#include "fuzz_support.h"
#include "scene/tree_walk.h"
#include "vekcore.h"

using namespace fuzz;

namespace {

// Counts live vekMalloc blocks and refuses the failAt-th request (0: none).
struct CountingHeap {
    long failAt = 0;
    long calls = 0;
    long live = 0;
    static void* alloc(size_t n, void* user)
    {
        auto* h = static_cast<CountingHeap*>(user);
        if (++h->calls == h->failAt) return nullptr;
        void* p = std::malloc(n);
        if (p) ++h->live;
        return p;
    }
    static void release(void* p, void* user)
    {
        --static_cast<CountingHeap*>(user)->live;
        std::free(p);
    }
};

struct Scene {
    int32_t vertexCount, triangleCount;
    Array<float> vertices;
    Array<int32_t> triangles;
    bool finite = true;

    Scene(Input& in, int32_t maxVertices, int32_t maxTriangles)
        : vertexCount(in.range(0, maxVertices)), triangleCount(vertexCount ? in.range(0, maxTriangles) : 0),
          vertices(3 * size_t(vertexCount)), triangles(4 * size_t(triangleCount))
    {
        // Coordinates on a coarse grid (flat and coplanar triangles, shared
        // planes) or anything at all.
        const bool grid = in.chance(2);
        for (size_t i = 0; i < vertices.size(); ++i) {
            vertices[i] = grid ? float(in.range(-3, 3)) : in.real();
            finite = finite && std::isfinite(vertices[i]);
        }
        for (int32_t t = 0; t < triangleCount; ++t)
            for (int k = 0; k < 4; ++k) triangles[4 * size_t(t) + k] = k < 3 ? in.range(0, vertexCount - 1) : in.i32();
    }
};

void boundBox(Input& in)
{
    Scene s(in, 16, 0);
    int32_t count = in.chance(8) ? in.pick<int32_t>({0, -1, INT32_MIN}) : s.vertexCount;
    const bool null = in.chance(6);
    if (null && in.chance(2)) count = in.hugeCount();
    Array<float> box(6);
    box.sentinel();
    const VekStatus st = vekrSetBoundBox_32f(null ? nullptr : s.vertices.data(), count, box.data());
    FUZZ_REQUIRE(st == (null ? vekStsNullPtrErr : vekStsOk), "bound box status %d", st);
    if (null) {
        FUZZ_REQUIRE(box.unchanged(), "bound box written after status %d", st);
        return;
    }
    // Every vertex that is not NaN lies inside the box.
    for (int32_t v = 0; v < count; ++v)
        for (int a = 0; a < 3; ++a) {
            const float x = s.vertices[3 * size_t(v) + a];
            if (!std::isnan(x)) FUZZ_REQUIRE(box[a] <= x && x <= box[3 + a], "vertex %d outside the box", v);
        }
}

void triangleRecords(Input& in)
{
    Scene s(in, 12, 16);
    int32_t size = 0;
    FUZZ_REQUIRE(vekrTriangleAccelGetSize(nullptr) == vekStsNullPtrErr, "size query without a pointer");
    FUZZ_REQUIRE(vekrTriangleAccelGetSize(&size) == vekStsOk && size == 40, "record size %d", size);
    const int32_t count = in.chance(8) ? in.pick<int32_t>({-1, INT32_MIN}) : s.triangleCount;
    Array<VekrTriangleAccel> accel(size_t(s.triangleCount));
    accel.sentinel();
    FUZZ_REQUIRE(vekrTriangleAccelInit(accel.data(), s.vertices.data(), s.triangles.data(), count) == vekStsOk,
                 "records");
    if (count < 1) FUZZ_REQUIRE(accel.unchanged(), "records written for count %d", count);
}

void triangleNormals(Input& in)
{
    Scene s(in, 12, 24);
    int32_t count = in.chance(8) ? in.pick<int32_t>({0, -1, INT32_MIN}) : s.triangleCount;
    const NullPlan nulls(in, 3);
    if (nulls.any() && in.chance(2)) count = in.hugeCount();
    Array<float> normals(3 * size_t(s.triangleCount));
    normals.sentinel();
    const VekStatus st = vekrTriangleNormal_32f(nulls.pass(0, s.vertices.data()), nulls.pass(1, s.triangles.data()),
                                                nulls.pass(2, normals.data()), count);
    FUZZ_REQUIRE(st == (nulls.any() ? vekStsNullPtrErr : vekStsOk), "normals status %d", st);
    if (st != vekStsOk || count < 1) {
        FUZZ_REQUIRE(normals.unchanged(), "normals written after status %d, count %d", st, count);
        return;
    }
    // A normal of finite vertices has unit length or is zero. The product of
    // coordinates near FLT_MAX overflows even in double only past 1e308, so
    // finiteness of the input is enough.
    if (!s.finite) return;
    for (int32_t t = 0; t < count; ++t) {
        const double x = normals[3 * size_t(t)], y = normals[3 * size_t(t) + 1], z = normals[3 * size_t(t) + 2];
        const double len = std::sqrt(x * x + y * y + z * z);
        FUZZ_REQUIRE(len == 0.0 || std::fabs(len - 1.0) < 1e-6, "normal %d has length %g", t, len);
    }
}

void treeBuild(Input& in)
{
    Scene s(in, 40, 120);
    VekrKDTreeBuildParams params;
    params.algorithm = in.chance(3) ? vekrKDTreeBuildSimple : in.chance(8) ? in.u32() : vekrKDTreeBuildSAH;
    params.maxDepth = in.chance(6) ? in.i32() : in.range(-1, 51);
    params.splitFactor = in.chance(2) ? in.real() : float(in.range(0, 10)) / 10.0f;
    params.memoryLimit = in.pick<int32_t>({81, 128, 256, 31, 32, 100, 4096 + 81, -1, INT32_MIN});
    float buildBox[6];
    if (in.chance(3)) {
        for (int a = 0; a < 3; ++a) {
            const float lo = in.chance(4) ? in.real() : float(in.range(-3, 3));
            const float hi = in.chance(4) ? in.real() : lo + float(in.range(0, 4));
            buildBox[a] = lo, buildBox[3 + a] = hi;
        }
        params.pBuildBox = buildBox;
    } else {
        params.pBuildBox = nullptr;
    }
    int32_t vertexCount = s.vertexCount, triangleCount = s.triangleCount;
    if (in.chance(8)) (in.chance(2) ? vertexCount : triangleCount) = in.pick<int32_t>({-1, INT32_MIN});
    const NullPlan nulls(in, 5);  // pTree, pVertex, pTriangle, pSize, then pParams after the counts
    // The simple build reads no scene array: a count whose block would pass
    // 2 GB must be refused before anything is allocated.
    const bool hugeSimple = params.algorithm == vekrKDTreeBuildSimple && !nulls.any() && in.chance(8);
    if (hugeSimple) triangleCount = in.pick<int32_t>({536870908, 1 << 30, INT32_MAX});

    CountingHeap heap;
    heap.failAt = in.chance(4) ? in.range(1, 24) : 0;
    vekSetAllocator(&CountingHeap::alloc, &CountingHeap::release, &heap);
    VekrKDTreeNode* const untouchedTree = reinterpret_cast<VekrKDTreeNode*>(uintptr_t(0x5B5B5B58));
    VekrKDTreeNode* tree = untouchedTree;
    int32_t size = -0x5B5B5B5B;
    const VekStatus st = vekrKDTreeBuildAlloc(nulls.pass(0, &tree), nulls.pass(1, s.vertices.data()),
                                              nulls.pass(2, s.triangles.data()), vertexCount, triangleCount,
                                              nulls.pass(3, &size), nulls.pass(4, &params));
    const bool failed = st != vekStsOk;
    const bool nullFirst = nulls.nulled(0) || nulls.nulled(1) || nulls.nulled(2) || nulls.nulled(3);
    const bool badCount = vertexCount < 0 || triangleCount < 0;
    if (nullFirst)
        FUZZ_REQUIRE(st == vekStsNullPtrErr, "build status %d with a null pointer", st);
    else if (badCount)
        FUZZ_REQUIRE(st == vekStsSizeErr, "build status %d with a negative count", st);
    else if (nulls.nulled(4))
        FUZZ_REQUIRE(st == vekStsNullPtrErr, "build status %d without a descriptor", st);
    else if (params.algorithm != vekrKDTreeBuildSimple && params.algorithm != vekrKDTreeBuildSAH)
        FUZZ_REQUIRE(st == vekStsBadArgErr, "build status %d with tag %x", st, params.algorithm);
    else if (params.maxDepth < 0 || params.maxDepth > 50 ||
             (params.algorithm == vekrKDTreeBuildSAH && (params.splitFactor < 0 || params.splitFactor > 1)))
        FUZZ_REQUIRE(st == vekStsBadParamErr, "build status %d with bad parameters", st);
    else if (hugeSimple)
        FUZZ_REQUIRE(st == vekStsNoMemErr && heap.calls == 0, "2 GB simple tree: status %d, %ld calls", st, heap.calls);
    else if (params.algorithm == vekrKDTreeBuildSimple)
        FUZZ_REQUIRE(st == (heap.failAt == 1 ? vekStsNoMemErr : vekStsOk), "simple build status %d", st);
    else
        FUZZ_REQUIRE(statusIn(st, {vekStsOk, vekStsNoMemErr, vekStsMemAllocErr, vekStsErr}), "SAH status %d", st);
    // A refused allocation that the build met is a failure.
    if (heap.failAt != 0 && heap.calls >= heap.failAt)
        FUZZ_REQUIRE(st == vekStsNoMemErr || st == vekStsMemAllocErr || st == vekStsErr,
                     "build survived a refused allocation: status %d", st);

    if (failed) {
        FUZZ_REQUIRE(tree == untouchedTree && size == -0x5B5B5B5B, "outputs written after status %d", st);
        FUZZ_REQUIRE(heap.live == 0, "%ld blocks left after status %d", heap.live, st);
    } else {
        FUZZ_REQUIRE(heap.live == 1, "%ld blocks live beside the tree", heap.live);
        // Structure and triangle numbers, with cells from the bounds of the
        // vertices (or the build box) when those are finite.
        float root[6] = {INFINITY, INFINITY, INFINITY, -INFINITY, -INFINITY, -INFINITY};
        if (params.pBuildBox) {
            std::memcpy(root, buildBox, sizeof root);
        } else {
            for (int32_t v = 0; v < s.vertexCount; ++v)
                for (int a = 0; a < 3; ++a) {
                    root[a] = std::fmin(root[a], s.vertices[3 * size_t(v) + a]);
                    root[3 + a] = std::fmax(root[3 + a], s.vertices[3 * size_t(v) + a]);
                }
        }
        const vekr_test::WalkedTree w = vekr_test::walkTree(tree, size, triangleCount, root);
        FUZZ_REQUIRE(w.error.empty(), "tree block: %s", w.error.c_str());
        FUZZ_REQUIRE(vekrKDTreeFree(tree) == vekStsOk, "free");
        FUZZ_REQUIRE(heap.live == 0, "%ld blocks left after the free", heap.live);
    }
    vekSetAllocator(nullptr, nullptr, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in(data, size);
    switch (in.u8() % 4) {
    case 0: boundBox(in); break;
    case 1: triangleRecords(in); break;
    case 2: triangleNormals(in); break;
    default: treeBuild(in); break;
    }
    return 0;
}
