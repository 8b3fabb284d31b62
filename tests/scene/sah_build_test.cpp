// The surface-area-heuristic build through vekrKDTreeBuildAlloc: whole
// blocks checked by an independent walker, thread-count invariance, the
// worked cases, the budget's exact constants and failure clean-up.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "scene/kdtree_node.h"
#include "scene/sah_build.h"
#include "scene/sah_event_lists.h"
#include "support/alloc_hook.h"
#include "support/random_scene.h"
#include "tree_walk.h"
#include "vekr.h"

using namespace vekr_test;

namespace {

VekrKDTreeNode* const kUntouchedTree = reinterpret_cast<VekrKDTreeNode*>(0x20);
constexpr int32_t kUntouchedSize = -99;
constexpr int32_t kRoomyLimitMB = 256;

struct Built {
    VekStatus status = vekStsOk;
    VekrKDTreeNode* tree = kUntouchedTree;
    int32_t size = kUntouchedSize;
    Built() = default;
    Built(Built&& o) noexcept : status(o.status), tree(o.tree), size(o.size) { o.tree = kUntouchedTree; }
    Built(const Built&) = delete;
    ~Built()
    {
        if (tree != kUntouchedTree) vekrKDTreeFree(tree);
    }
    std::vector<char> bytes() const
    {
        const char* p = reinterpret_cast<const char*>(tree);
        return std::vector<char>(p, p + size);
    }
    bool untouched() const { return tree == kUntouchedTree && size == kUntouchedSize; }
};

Built build(const TriangleSoup& s, int32_t depth, float factor, const float* box = nullptr,
            int32_t limitMB = kRoomyLimitMB)
{
    const VekrKDTreeBuildParams p{vekrKDTreeBuildSAH, depth, factor, limitMB, box};
    Built b;
    b.status = vekrKDTreeBuildAlloc(&b.tree, s.vertices.data(), s.triangles.data(), s.vertexCount(),
                                    s.triangleCount(), &b.size, &p);
    return b;
}

// The builder entry with a limit in bytes, for the budget's exact edges.
Built buildBytes(const TriangleSoup& s, uint32_t limitBytes, int32_t depth = 20)
{
    Built b;
    b.status = vekr::buildKDTreeSAH(s.vertices.data(), s.triangles.data(), s.vertexCount(), s.triangleCount(),
                                    &b.tree, &b.size, 0.5f, depth, limitBytes, nullptr);
    return b;
}

std::set<int32_t> leafSet(const VekrKDTreeNode* leaf)
{
    std::set<int32_t> got;
    vekr::kd::forEachLeafTriangle(leaf, [&](int32_t t) { got.insert(t); });
    return got;
}

std::vector<float> vertexBounds(const TriangleSoup& s)
{
    std::vector<float> b = {INFINITY, INFINITY, INFINITY, -INFINITY, -INFINITY, -INFINITY};
    for (int32_t v = 0; v < s.vertexCount(); ++v)
        for (int a = 0; a < 3; ++a) {
            b[a] = std::min(b[a], s.vertices[3 * v + a]);
            b[3 + a] = std::max(b[3 + a], s.vertices[3 * v + a]);
        }
    return b;
}

// Axis-aligned quads on a coarse grid: many fragments flat across an axis,
// lying exactly in candidate planes and in the faces of cells.
TriangleSoup gridQuads(uint32_t seed, int count)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> cell(-4, 4), axis(0, 2), size(1, 3);
    TriangleSoup s;
    for (int i = 0; i < count; ++i) {
        const int a = axis(rng);
        const Vec3 o = {float(cell(rng)), float(cell(rng)), float(cell(rng))};
        const float du = float(size(rng)), dv = float(size(rng));
        s.addAxisQuad(o, a, du, dv);
    }
    return s;
}

// Checks the block and that each triangle is listed in every leaf whose
// cell it meets by more than a hair (triangles clipped away by a build box
// are exempt outside it); without a build box every triangle is listed
// somewhere.
size_t expectSoundTree(const TriangleSoup& s, const Built& b, int32_t depth, const float* buildBox,
                       const std::string& what)
{
    EXPECT_EQ(b.status, vekStsOk) << what;
    if (b.status != vekStsOk) return 0;
    const std::vector<float> root = buildBox ? std::vector<float>(buildBox, buildBox + 6) : vertexBounds(s);
    const WalkedTree w = walkTree(b.tree, b.size, s.triangleCount(), root.data());
    EXPECT_EQ(w.error, "") << what;
    if (!w.error.empty()) return 0;
    EXPECT_LE(w.depth, depth) << what;

    double scale = 0;
    for (int a = 0; a < 3; ++a) scale = std::max(scale, double(root[3 + a]) - root[a]);
    const double eps = 1e-6 * scale;
    std::set<int32_t> listed;
    for (const WalkedLeaf& leaf : w.leaves) {
        const std::set<int32_t> in(leaf.triangles.begin(), leaf.triangles.end());
        listed.insert(in.begin(), in.end());
        for (int32_t t = 0; t < s.triangleCount(); ++t) {
            const int32_t* tri = &s.triangles[4 * t];
            const float* v[3] = {&s.vertices[3 * tri[0]], &s.vertices[3 * tri[1]], &s.vertices[3 * tri[2]]};
            bool apart = false;
            for (int a = 0; a < 3 && !apart; ++a)
                apart = std::max({v[0][a], v[1][a], v[2][a]}) <= leaf.box[a] ||
                        std::min({v[0][a], v[1][a], v[2][a]}) >= leaf.box[3 + a];
            if (apart || in.count(t)) continue;
            if (triangleMeetsBox(v[0], v[1], v[2], leaf.box, eps)) {
                ADD_FAILURE() << what << ": triangle " << t << " missing from a leaf it overlaps";
                return 0;
            }
        }
    }
    if (!buildBox) {
        EXPECT_EQ(listed.size(), size_t(s.triangleCount())) << what;
    }
    return w.leaves.size();
}

}  // namespace

// Random triangles, grid-aligned quads (many fragments flat in candidate
// planes and cell faces), a few large triangles, and the bunny, which must
// come out as a real tree, not a few fat leaves.
TEST(SAHBuild, BlocksAreWellFormedAndCoverEveryTriangle)
{
    std::vector<TriangleSoup> soups = {randomSoup(0x5A4B0001u, 600), gridQuads(0x5A4B0002u, 300),
                                       randomSoup(0x5A4B0003u, 40, 5.0f, 4.0f)};
    soups.emplace_back();
    ASSERT_TRUE(loadBunny(soups.back())) << "cannot read " VEKR_DATA_DIR "/bunny.obj";
    const float box[6] = {-2.5f, -1.0f, -3.0f, 3.0f, 2.0f, 1.5f};
    for (size_t scene = 0; scene < soups.size(); ++scene) {
        const TriangleSoup& s = soups[scene];
        for (float f : {0.0f, 1.0f})
            for (int32_t depth : {5, 50}) {
                const std::string what = "scene " + std::to_string(scene) + " f " + std::to_string(f) +
                                         " depth " + std::to_string(depth);
                const size_t leaves = expectSoundTree(s, build(s, depth, f), depth, nullptr, what);
                if (scene == 3 && depth == 50) {
                    EXPECT_GT(leaves, 500u) << what;
                }
                expectSoundTree(s, build(s, depth, f, box), depth, box, what + " boxed");
            }
    }
}

// The split search forks only for large nodes and always asks for one thread
// per axis, so neither the configured thread count nor a runtime that
// refuses to fork (a nested region) may change a single byte.
//
// The second scene is large enough for the threads' build to sort and
// filter its root's axes as tasks: a dense cluster crossed by long slivers.
// The root cuts the slivers off past the cluster, which sends every other
// candidate to the left along with a piece of every sliver, the largest
// list a child can get; the tasks must leave room for it.
TEST(SAHBuild, SameBlockWhateverTheThreads)
{
    TriangleSoup lopsided = randomSoup(0x5A4B0011u, 66000, 1.0f, 0.05f);
    std::mt19937 rng(0x5A4B0012u);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int i = 0; i < 500; ++i) {
        const float y = unit(rng), z = unit(rng);
        lopsided.addTriangle(Vec3{-0.5f, y, z}, Vec3{100.0f, y + 0.01f, z}, Vec3{100.0f, y, z + 0.01f});
    }
    struct Case {
        TriangleSoup scene;
        std::vector<int> threads;
    };
    const Case cases[] = {{randomSoup(0x5A4B0010u, 3000, 5.0f, 1.0f), {1, 2, 4}}, {std::move(lopsided), {1, 2}}};
    std::vector<char> first;  // the first scene's block, for the nested builds below
    for (const Case& c : cases) {
        std::vector<char> one;
        for (int threads : c.threads) {
            ScopedThreads scoped(threads);
            const Built b = build(c.scene, 50, 0.7f);
            ASSERT_EQ(b.status, vekStsOk);
            if (one.empty())
                one = b.bytes();
            else
                EXPECT_EQ(b.bytes(), one) << c.scene.triangleCount() << " triangles, " << threads << " threads";
        }
        if (first.empty()) first = one;
    }
    const TriangleSoup& s = cases[0].scene;
    std::vector<char> nested[2];
#pragma omp parallel num_threads(2)
    {
        const Built b = build(s, 50, 0.7f);
        if (b.status == vekStsOk) nested[omp_get_thread_num()] = b.bytes();
    }
    for (const auto& n : nested)
        if (!n.empty()) {
            EXPECT_EQ(n, first) << "inside a parallel region";
        }
}

// The caller reads `size` bytes from the block, so the block the build asks
// the allocator for must hold them: SAH trees of a few shapes (inline and
// list leaves, a root leaf) and the simple tree.
TEST(SAHBuild, EveryBlockHoldsTheSizeItReports)
{
    TriangleSoup one;
    const float a[3] = {0, 0, 0}, b[3] = {1, 0, 0}, c[3] = {0, 1, 0};
    one.addTriangle(a, b, c);
    const TriangleSoup scenes[] = {randomSoup(0x5A4B0030u, 200, 5.0f, 1.0f), gridQuads(0x5A4B0031u, 100), one};
    for (const TriangleSoup& s : scenes)
        for (int32_t depth : {0, 20}) {
            CountingAllocator counter;
            const Built built = build(s, depth, 0.7f);
            ASSERT_EQ(built.status, vekStsOk);
            EXPECT_GE(counter.askedFor(built.tree), static_cast<size_t>(built.size))
                << s.triangleCount() << " triangles, depth " << depth;
        }
    for (int32_t n : {0, 1, 2, 7}) {
        CountingAllocator counter;
        const VekrKDTreeBuildParams p{vekrKDTreeBuildSimple, 0, 0.0f, 0, nullptr};
        Built built;
        const float vertex = 0.0f;
        const int32_t index = 0;
        built.status = vekrKDTreeBuildAlloc(&built.tree, &vertex, &index, 0, n, &built.size, &p);
        ASSERT_EQ(built.status, vekStsOk);
        EXPECT_GE(counter.askedFor(built.tree), static_cast<size_t>(built.size)) << "simple tree of " << n;
    }
}

// A cut's cost depends on the shape of the cells, not on where they lie: the
// grid scene moved by whole numbers (every coordinate, extent and clipped
// fragment stays exact) gives the same leaves with their boxes moved.
TEST(SAHBuild, MovedSceneGivesTheSameLeavesMoved)
{
    const TriangleSoup s = gridQuads(0x5A4B0020u, 300);
    TriangleSoup moved = s;
    const float shift[3] = {64.0f, -32.0f, 16.0f};
    for (size_t i = 0; i < moved.vertices.size(); ++i) moved.vertices[i] += shift[i % 3];
    const Built a = build(s, 20, 0.7f), b = build(moved, 20, 0.7f);
    ASSERT_EQ(a.status, vekStsOk);
    ASSERT_EQ(b.status, vekStsOk);
    const WalkedTree wa = walkTree(a.tree, a.size, s.triangleCount(), vertexBounds(s).data());
    const WalkedTree wb = walkTree(b.tree, b.size, moved.triangleCount(), vertexBounds(moved).data());
    ASSERT_EQ(wa.error + wb.error, "");
    ASSERT_GT(wa.leaves.size(), 20u);
    ASSERT_EQ(wa.leaves.size(), wb.leaves.size());
    for (size_t l = 0; l < wa.leaves.size(); ++l) {
        EXPECT_EQ(wa.leaves[l].triangles, wb.leaves[l].triangles) << "leaf " << l;
        for (int k = 0; k < 6; ++k) EXPECT_EQ(wa.leaves[l].box[k] + shift[k % 3], wb.leaves[l].box[k]) << "leaf " << l;
    }
}

// Builds that stop at the root. At depth 0 one to three triangles go
// inline and more into the root's list; no triangles, none inside the build
// box, a NaN split factor, and a cell thin in two directions (however many
// triangles it holds) all give one list leaf in ascending order.
TEST(SAHBuild, RootLeaves)
{
    const TriangleSoup s = randomSoup(0x5A4B0020u, 50);
    for (float f : {0.0f, 1.0f})
        for (int32_t n : {1, 2, 3}) {
            TriangleSoup few = s;
            few.triangles.resize(4 * n);
            const Built b = build(few, 0, f);
            ASSERT_EQ(b.status, vekStsOk);
            EXPECT_EQ(b.size, 16);
            ASSERT_TRUE(vekr::kd::isInlineLeaf(*b.tree));
            const std::set<int32_t> got = leafSet(b.tree);
            EXPECT_EQ(got.size(), size_t(n));
            EXPECT_EQ(*got.rbegin(), n - 1);
        }
    TriangleSoup none = s, flat;
    none.triangles.clear();
    for (int i = 0; i < 200; ++i) {
        const float x = 0.05f * i;
        flat.addTriangle({x, 0, 0}, {x + 1, 5e-6f, 0}, {x + 2, 0, 5e-6f});
    }
    const float farBox[6] = {100, 100, 100, 101, 101, 101};
    struct Case {
        const TriangleSoup* soup;
        int32_t depth;
        float f;
        const float* box;
        int32_t listed;
    };
    for (const Case& c : {Case{&s, 0, 0.0f, nullptr, 50}, Case{&s, 0, 1.0f, nullptr, 50},
                          Case{&none, 20, 0.5f, nullptr, 0}, Case{&s, 20, 0.5f, farBox, 0},
                          Case{&s, 50, std::numeric_limits<float>::quiet_NaN(), nullptr, 50},
                          Case{&flat, 50, 1.0f, nullptr, 200}}) {
        const Built b = build(*c.soup, c.depth, c.f, c.box);
        ASSERT_EQ(b.status, vekStsOk);
        EXPECT_EQ(b.size, 16 + 4 * c.listed);
        EXPECT_EQ(b.tree->word0, -16);
        EXPECT_EQ(b.tree->word1, c.listed);
        const int32_t* list = vekr::kd::leafList(b.tree);
        for (int32_t i = 0; i < c.listed; ++i) EXPECT_EQ(list[i], i);
    }
}

// Triangles lying in the faces of the build box are inside it (the tests
// are min <= x <= max) and stay whole; one just outside is dropped.
TEST(SAHBuild, TrianglesInBuildBoxFacesAreKept)
{
    TriangleSoup s;
    for (float z : {0.0f, 1.0f, 1.0001f}) s.addTriangle({0, 0, z}, {1, 0, z}, {0, 1, z});  // faces, above
    const float box[6] = {0, 0, 0, 1, 1, 1};
    const Built t = build(s, 0, 0.5f, box);
    ASSERT_EQ(t.status, vekStsOk);
    ASSERT_TRUE(vekr::kd::isInlineLeaf(*t.tree));
    EXPECT_EQ(leafSet(t.tree), (std::set<int32_t>{0, 1}));
}

// Two squares in the planes x = 0 and x = 1 of a unit cell: the cheapest
// plane is the face cut at x = 0, which sends the square lying in it left
// (its side flag is 0), alone. One triangle across the corner of a cell ten
// times its size: every axis offers the same cut of the empty space beyond
// it, and of equal costs the later axis wins, so even this single-triangle
// root is cut on z at the triangle's top, with an empty leaf above. (K = 300
// and the cut costs 0.7 x 6 x 20 = 84, a gain of 216 over the threshold
// 0.5058 K at f = 1; at f = 0.5 the gain is below it: a root leaf.)
TEST(SAHBuild, WorkedRootSplits)
{
    TriangleSoup squares, corner;
    for (float x : {0.0f, 1.0f}) {
        const float p[4][3] = {{x, 0, 0}, {x, 1, 0}, {x, 1, 1}, {x, 0, 1}};
        squares.addTriangle(p[0], p[1], p[2]);
        squares.addTriangle(p[0], p[2], p[3]);
    }
    corner.addTriangle({1, 0, 0}, {0, 1, 0}, {0, 0, 1});
    // A ledge: triangle 0 over x in [0, 1], triangle 1 lying in x = 1 and
    // triangle 2 over [1, 10], all three spanning the unit square in y and
    // z. At x = 1 the lying triangle costs less in the small left cell
    // (areas 6 and 38: 6 x 2 + 38 x 1 = 50) than in the right one
    // (6 x 1 + 38 x 2 = 82), so the left leaf holds {0, 1}.
    TriangleSoup ledge;
    ledge.addTriangle({0, 0, 0}, {1, 1, 0}, {0, 1, 1});
    ledge.addTriangle({1, 0, 0}, {1, 1, 0}, {1, 0, 1});
    ledge.addTriangle({1, 0, 0}, {10, 1, 0}, {10, 0, 1});
    // Two flat triangles, at z = 0.5 and z = 9.5, in a build box 10 tall:
    // with every fragment lying flat no empty slab is offered, and the sweep
    // over the planes prices a cut at either plane the same (one triangle
    // on each side); of equal costs the first offered, the lower plane, wins.
    TriangleSoup pair;
    for (float z : {0.5f, 9.5f}) pair.addTriangle({0, 0, z}, {1, 0, z}, {0, 1, z});
    const float tall[6] = {0, 0, 0, 1, 1, 10};
    const float box[6] = {0, 0, 0, 10, 10, 10};
    struct Case {
        const TriangleSoup* soup;
        int32_t depth;
        const float* box;
        int32_t axis;
        float at;
        int side;
        std::set<int32_t> leaf;
    };
    for (const Case& c : {Case{&squares, 10, nullptr, 0, 0.0f, 0, {0, 1}}, Case{&corner, 20, box, 2, 1.0f, 1, {}},
                          Case{&ledge, 1, nullptr, 0, 1.0f, 0, {0, 1}}, Case{&pair, 1, tall, 2, 0.5f, 0, {0}}}) {
        const Built b = build(*c.soup, c.depth, 1.0f, c.box);
        ASSERT_EQ(b.status, vekStsOk);
        ASSERT_FALSE(vekr::kd::isLeaf(*b.tree));
        EXPECT_EQ(vekr::kd::splitAxis(*b.tree), c.axis);
        EXPECT_EQ(vekr::kd::splitPosition(*b.tree), c.at);
        const VekrKDTreeNode* leaf = vekr::kd::child(b.tree, c.side);
        ASSERT_TRUE(vekr::kd::isLeaf(*leaf));
        EXPECT_EQ(leafSet(leaf), c.leaf);
    }
    const Built leaf = build(corner, 20, 0.5f, box);
    ASSERT_EQ(leaf.status, vekStsOk);
    EXPECT_TRUE(vekr::kd::isLeaf(*leaf.tree));
}

// The build refuses to start below 12 nV + 84 nT + 33,554,676 bytes. With
// nT = 1 and nV = 87,354 that is exactly 33 MB, which the descriptor can
// express: 33 MB passes the test (the build then runs out of budget for its
// first chunk), and one vertex more is refused.
TEST(SAHBuild, LimitAtTheSetupMinimum)
{
    TriangleSoup s;
    s.vertices.assign(3 * 87354, 0.5f);
    s.vertices[3] = 1.0f;
    s.vertices[7] = 1.0f;
    s.addTriangle(0, 1, 2);
    ASSERT_EQ(12ull * 87354 + 84 + 33554676, 33ull << 20);
    EXPECT_EQ(build(s, 20, 0.5f, nullptr, 33).status, vekStsMemAllocErr);
    s.addVertex(0, 0, 0);
    const Built refused = build(s, 20, 0.5f, nullptr, 33);
    EXPECT_EQ(refused.status, vekStsNoMemErr);
    EXPECT_TRUE(refused.untouched());

    // The same edge in bytes through the builder entry.
    const uint32_t minimum = 12u * s.vertexCount() + 84u + 33554676u;
    EXPECT_EQ(buildBytes(s, minimum).status, vekStsMemAllocErr);
    EXPECT_EQ(buildBytes(s, minimum - 1).status, vekStsNoMemErr);
}

// The setup minimum of scenes whose 84 nT (or 12 nV) passes 2^32: formed in
// 32 bits it would wrap to a few hundred bytes above 32 MB and let a 4 GB
// limit through to a build over arrays that do not exist. The refusal
// comes before the arrays are read, so a few words stand in for them.
TEST(SAHBuild, SetupMinimumDoesNotWrapForHugeCounts)
{
    const std::vector<float> vertices(9, 0.0f);
    const std::vector<int32_t> triangles(4, 0);
    const struct {
        int32_t vertexCount, triangleCount;
    } scenes[] = {{3, 51130564}, {357913942, 1}, {INT32_MAX, INT32_MAX}};
    for (const auto& c : scenes) {
        EXPECT_GT(12ull * uint32_t(c.vertexCount) + 84ull * uint32_t(c.triangleCount) + 33554676u, 0xFFFFFFFFull);
        Built b;
        b.status = vekr::buildKDTreeSAH(vertices.data(), triangles.data(), c.vertexCount, c.triangleCount, &b.tree,
                                        &b.size, 0.5f, 20, 0xFFFFFFFFu, nullptr);
        EXPECT_EQ(b.status, vekStsNoMemErr) << c.vertexCount << " " << c.triangleCount;
        EXPECT_TRUE(b.untouched());
        const VekrKDTreeBuildParams p{vekrKDTreeBuildSAH, 20, 0.5f, 4095, nullptr};
        Built f;
        f.status = vekrKDTreeBuildAlloc(&f.tree, vertices.data(), triangles.data(), c.vertexCount, c.triangleCount,
                                        &f.size, &p);
        EXPECT_EQ(f.status, vekStsNoMemErr);
        EXPECT_TRUE(f.untouched());
    }
}

// A NaN coordinate in a vertex a triangle uses fits neither side of a
// split: without a build box the build stops with vekStsErr, writes
// nothing and releases everything. The same cube is a tree when finite.
TEST(SAHBuild, NonFiniteCoordinatesFailCleanly)
{
    TriangleSoup cube;
    for (int i = 0; i < 8; ++i) cube.addVertex(float(i & 1), float((i >> 1) & 1), float(i >> 2));
    const int faces[12][3] = {{0, 1, 3}, {0, 3, 2}, {4, 5, 7}, {4, 7, 6}, {0, 1, 5}, {0, 5, 4},
                              {2, 3, 7}, {2, 7, 6}, {0, 2, 6}, {0, 6, 4}, {1, 3, 7}, {1, 7, 5}};
    for (const auto& f : faces) cube.addTriangle(f[0], f[1], f[2]);
    ASSERT_EQ(build(cube, 30, 0.5f).status, vekStsOk);
    CountingAllocator counter;
    for (int coordinate : {6, 13, 23}) {
        TriangleSoup broken = cube;
        broken.vertices[coordinate] = std::numeric_limits<float>::quiet_NaN();
        const Built b = build(broken, 30, 0.5f);
        EXPECT_EQ(b.status, vekStsErr) << coordinate;
        EXPECT_TRUE(b.untouched()) << coordinate;
    }
    EXPECT_EQ(counter.live(), 0);
}

// The same in a scene large enough for subtrees to be built on other
// threads (grid quads, so that cells are cut at faces covered by planar
// fragments, where the broken cube's NaN is met): on every thread count
// the build stops with the one-thread status (the threads' build gives up
// and runs again on one thread), writes nothing and releases everything.
// A refused block is vekStsNoMemErr even when the threads' build meets the
// NaN after the refusal, as it does inside a subtree task with the cube
// moved by 2.5: the refusal comes first.
TEST(SAHBuild, NonFiniteCoordinateInALargeSceneFailsAsOnOneThread)
{
    const struct {
        float offset;
        int coordinate;
        bool refusals;
    } cases[] = {{0.0f, 6, false}, {2.5f, 0, true}};
    for (const auto& c : cases) {
        TriangleSoup s = gridQuads(0x5A4B0062u, 9000);
        const int32_t base = s.vertexCount();
        for (int i = 0; i < 8; ++i)
            s.addVertex(c.offset + float(i & 1), c.offset + float((i >> 1) & 1), c.offset + float(i >> 2));
        const int faces[12][3] = {{0, 1, 3}, {0, 3, 2}, {4, 5, 7}, {4, 7, 6}, {0, 1, 5}, {0, 5, 4},
                                  {2, 3, 7}, {2, 7, 6}, {0, 2, 6}, {0, 6, 4}, {1, 3, 7}, {1, 7, 5}};
        for (const auto& f : faces) s.addTriangle(base + f[0], base + f[1], base + f[2]);
        s.vertices[3 * base + c.coordinate] = std::numeric_limits<float>::quiet_NaN();
        long calls = 0;
        for (int threads : {1, 2, 3}) {
            ScopedThreads scoped(threads);
            CountingAllocator counter;
            {
                const Built b = build(s, 40, 0.5f);
                EXPECT_EQ(b.status, vekStsErr) << c.offset << ", " << threads << " threads";
                EXPECT_TRUE(b.untouched());
            }
            EXPECT_EQ(counter.live(), 0);
            calls = counter.calls();
        }
        // Which thread takes which block varies: both thread counts.
        for (int threads : {2, 3}) {
            if (!c.refusals) break;
            ScopedThreads scoped(threads);
            for (long failAt = 1; failAt <= calls; ++failAt) {
                CountingAllocator counter(failAt);
                const Built f = build(s, 40, 0.5f);
                if (counter.calls() < failAt) continue;
                EXPECT_EQ(f.status, vekStsNoMemErr) << c.offset << ", " << threads << " threads, refused call " << failAt;
                EXPECT_TRUE(f.untouched()) << failAt;
                EXPECT_EQ(counter.live(), 0) << failAt;
            }
        }
    }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// A scene of 11,950,000 triangles builds on two threads as on one. With
// scratch for three axes (as on several threads) a node's candidate lists
// pass 2^31 bytes at 11,930,465 fragments, more than one vekMalloc size can
// say, while the arenas still fit. The triangles lie on one line, so the
// cell is flat in two directions and the root is a leaf.
TEST(SAHBuild, HugeSceneBuildsOnTwoThreadsAsOnOne)
{
    if (sizeof(void*) < 8) GTEST_SKIP() << "needs more address space than 32 bits give";
    if (kSanitized) GTEST_SKIP() << "a sanitizer's shadow memory would multiply its gigabyte";
    constexpr int32_t n = 11950000;
    TriangleSoup s;
    for (int i = 0; i < 4; ++i) s.addVertex(float(i), 0, 0);
    s.triangles.resize(4 * static_cast<size_t>(n));
    for (int32_t t = 0; t < n; ++t) {
        int32_t* tri = &s.triangles[4 * static_cast<size_t>(t)];
        tri[0] = t & 3;
        tri[1] = (t + 1) & 3;
        tri[2] = (t + 2) & 3;
    }
    for (int threads : {1, 2}) {
        ScopedThreads scoped(threads);
        const Built b = build(s, 3, 0.5f, nullptr, 4000);
        ASSERT_EQ(b.status, vekStsOk) << threads << " threads";
        ASSERT_EQ(b.size, 16 + 4 * n) << threads << " threads";
        ASSERT_EQ(b.tree->word0, -16);
        ASSERT_EQ(b.tree->word1, n);
        const int32_t* list = vekr::kd::leafList(b.tree);
        int32_t wrong = 0;
        for (int32_t i = 0; i < n; ++i) wrong += list[i] != i;
        EXPECT_EQ(wrong, 0) << threads << " threads";
    }
}

// A scene of this size needs one 16 MB chunk in each of the three pools.
// After the context (204 bytes), the twelve scratch arrays (48 nT) and the
// two 16 MB arenas, the budget must hold 3 x (16 MB + 20): one byte less
// runs out at the first leaf, deep in the build with the stack, both arenas
// and two pools in use; less still at the start.
TEST(SAHBuild, BudgetChargesExactConstantsAndReleasesEverything)
{
    for (int32_t n : {100, 3000}) {
        const TriangleSoup s = randomSoup(0x5A4B0040u + n, n, 5.0f, 0.8f);
        const uint32_t enough = 204u + 48u * n + (2u << 24) + 3u * 0x1000014u;
        CountingAllocator counter;
        {
            const Built ok = buildBytes(s, enough, 50);
            EXPECT_EQ(ok.status, vekStsOk);
        }
        for (uint32_t limit : {enough - 1, enough - 0x1000014u, enough - 2 * 0x1000014u}) {
            const Built b = buildBytes(s, limit, 50);
            EXPECT_EQ(b.status, vekStsMemAllocErr) << limit;
            EXPECT_TRUE(b.untouched());
        }
        EXPECT_EQ(counter.live(), 0);
    }
}

// Every vekMalloc of a build refused in turn, for both builders, a small
// scene (no threaded split search) and a medium one (threaded searches
// before the later refusals), with and without a build box: a refused tree
// block or working block is vekStsNoMemErr, nothing is written and nothing
// stays allocated (LeakSanitizer also checks the C heap in the asan build).
TEST(TreeBuildAllocation, EachRefusedAllocationFailsCleanly)
{
    const TriangleSoup small = randomSoup(0x5A4B0060u, 20), medium = randomSoup(0x5A4B0061u, 3000);
    const float box[6] = {-3, -3, -3, 3, 3, 3};
    struct Case {
        const char* name;
        uint32_t algorithm;
        const TriangleSoup* scene;
        const float* box;
        long minimumCalls;  // context, 2 arenas, 2 candidate-list blocks, 3 chunks, block
    } cases[] = {
        {"simple small", vekrKDTreeBuildSimple, &small, nullptr, 1},
        {"simple medium", vekrKDTreeBuildSimple, &medium, nullptr, 1},
        {"SAH small", vekrKDTreeBuildSAH, &small, nullptr, 9},
        {"SAH small boxed", vekrKDTreeBuildSAH, &small, box, 9},
        {"SAH medium", vekrKDTreeBuildSAH, &medium, nullptr, 9},
        {"SAH medium boxed", vekrKDTreeBuildSAH, &medium, box, 9},
    };
    for (const Case& c : cases) {
        const VekrKDTreeBuildParams p{c.algorithm, 30, 0.5f, kRoomyLimitMB, c.box};
        const auto run = [&](Built& b) {
            b.status = vekrKDTreeBuildAlloc(&b.tree, c.scene->vertices.data(), c.scene->triangles.data(),
                                            c.scene->vertexCount(), c.scene->triangleCount(), &b.size, &p);
        };
        long calls = 0;
        {
            CountingAllocator counter;
            Built ok;
            run(ok);
            ASSERT_EQ(ok.status, vekStsOk) << c.name;
            calls = counter.calls();
        }
        ASSERT_GE(calls, c.minimumCalls) << c.name;
        for (long failAt = 1; failAt <= calls; ++failAt) {
            CountingAllocator counter(failAt);
            {
                Built f;
                run(f);
                EXPECT_EQ(f.status, vekStsNoMemErr) << c.name << ", refused call " << failAt;
                EXPECT_TRUE(f.untouched()) << c.name << ", refused call " << failAt;
            }
            EXPECT_EQ(counter.live(), 0) << c.name << ", refused call " << failAt;
        }
    }
}

namespace {

// Refuses the failAt-th allocation of the application thread that marked
// itself the victim; every other thread's allocations succeed. Counts live
// blocks over all threads.
struct VictimAllocator {
    static thread_local bool victim;
    static thread_local long calls;
    std::atomic<long> live{0};
    long failAt = 0;
    static void* alloc(size_t n, void* user)
    {
        auto* self = static_cast<VictimAllocator*>(user);
        if (victim && ++calls == self->failAt) return nullptr;
        void* p = std::malloc(n);
        if (p) ++self->live;
        return p;
    }
    static void release(void* p, void* user)
    {
        --static_cast<VictimAllocator*>(user)->live;
        std::free(p);
    }
};
thread_local bool VictimAllocator::victim = false;
thread_local long VictimAllocator::calls = 0;

}  // namespace

// Builds running on the threads of an application's own OpenMP region (the
// split search then nests inside it), one thread's build refused at each of
// its allocations in turn: that build fails cleanly, the others return the
// block a build alone returns, and no block is left behind.
TEST(TreeBuildAllocation, RefusalsInsideAnApplicationsParallelRegion)
{
    const TriangleSoup s = randomSoup(0x5A4B0062u, 600);
    const Built reference = build(s, 30, 0.5f);
    ASSERT_EQ(reference.status, vekStsOk);
    const std::vector<char> expected = reference.bytes();
    constexpr int kThreads = 3;
    for (long failAt = 1; failAt <= 9; ++failAt) {
        VictimAllocator heap;
        heap.failAt = failAt;
        vekSetAllocator(&VictimAllocator::alloc, &VictimAllocator::release, &heap);
        VekStatus status[kThreads];
        bool untouched[kThreads], same[kThreads];
        int team = 0;
#pragma omp parallel num_threads(kThreads)
        {
            const int t = omp_get_thread_num();
#pragma omp single
            team = omp_get_num_threads();
            VictimAllocator::victim = t == 1;
            VictimAllocator::calls = 0;
            Built b = build(s, 30, 0.5f);
            status[t] = b.status;
            untouched[t] = b.untouched();
            same[t] = b.status == vekStsOk && b.bytes() == expected;
            VictimAllocator::victim = false;
        }
        vekSetAllocator(nullptr, nullptr, nullptr);
        ASSERT_EQ(team, kThreads) << "the runtime declined to fork";
        for (int t = 0; t < kThreads; ++t) {
            if (t == 1) {
                EXPECT_EQ(status[t], vekStsNoMemErr) << "refused call " << failAt;
                EXPECT_TRUE(untouched[t]) << "refused call " << failAt;
            } else {
                EXPECT_TRUE(same[t]) << "thread " << t << ", status " << status[t] << ", refused call " << failAt;
            }
        }
        EXPECT_EQ(heap.live.load(), 0) << "refused call " << failAt;
    }
}

// Refusals on a scene large enough for the build to run subtrees as tasks
// on two threads, where blocks are taken and released on both threads and
// a refusal on one must still end the whole build cleanly.
TEST(SAHBuild, EachRefusedAllocationOnTwoThreadsFailsCleanly)
{
    const TriangleSoup s = randomSoup(0x5A4B0061u, 17000, 12.0f, 1.0f);
    long oneThreadCalls = 0;
    {
        ScopedThreads one(1);
        CountingAllocator counter;
        ASSERT_EQ(build(s, 30, 0.5f).status, vekStsOk);
        oneThreadCalls = counter.calls();
    }
    ScopedThreads threads(2);
    long calls = 0;
    {
        CountingAllocator counter;
        const Built ok = build(s, 30, 0.5f);
        ASSERT_EQ(ok.status, vekStsOk);
        calls = counter.calls();
    }
    // Without subtree tasks the threads' build takes a few blocks more than
    // one thread (task table, task set, scratch for three axes); each task
    // takes a dozen of its own (copy, context, pools, workspace). Tasks are
    // what this sweep, and the large scenes of the identity tests, are for.
    ASSERT_GT(calls, 2 * oneThreadCalls) << "no subtree was handed to a task";
    // Which thread takes which block varies, and so may the number taken:
    // a build that never reached the refused one must simply succeed.
    for (long failAt = 1; failAt <= calls; ++failAt) {
        CountingAllocator counter(failAt);
        const Built f = build(s, 30, 0.5f);
        if (counter.calls() < failAt) {
            EXPECT_EQ(f.status, vekStsOk) << failAt;
            continue;
        }
        EXPECT_EQ(f.status, vekStsNoMemErr) << failAt;
        EXPECT_TRUE(f.untouched()) << failAt;
        EXPECT_EQ(counter.live(), 0) << failAt;
    }
}

// Keys sorted with the word carried beside each: every key ends up with its
// own word (the pairs are a permutation), and the keys come out ascending
// with -0 below +0, on both sides of the radix threshold.
TEST(SAHSort, RadixAndComparisonSortsAgreeWithStd)
{
    std::mt19937 rng(0x5A4B0070u);
    std::uniform_real_distribution<float> wide(-1e6f, 1e6f), narrow(-1.0f, 1.0f);
    for (int32_t n : {0, 1, 9, 10, 320, 321, 5000}) {
        std::vector<float> v(n);
        for (int32_t i = 0; i < n; ++i) {
            switch (i % 7) {
            case 0: v[i] = wide(rng); break;
            case 1: v[i] = -0.0f; break;
            case 2: v[i] = 0.0f; break;
            case 3: v[i] = -std::numeric_limits<float>::infinity(); break;
            case 4: v[i] = 1e-40f * narrow(rng); break;  // subnormal
            default: v[i] = narrow(rng);
            }
        }
        std::vector<uint32_t> keys(n), words(n), tmpKeys(2 * n + 1), tmpWords(n + 1);
        for (int32_t i = 0; i < n; ++i) {
            uint32_t b;
            std::memcpy(&b, &v[i], 4);
            keys[i] = b ^ ((b >> 31) ? 0xFFFFFFFFu : 0x80000000u);
            words[i] = static_cast<uint32_t>(i) * 2654435761u;
        }
        std::vector<std::pair<uint32_t, uint32_t>> before(n);
        for (int32_t i = 0; i < n; ++i) before[i] = {keys[i], words[i]};
        vekr::sah::sortKeyPairs(keys.data(), words.data(), n, tmpKeys.data(), tmpWords.data());
        std::vector<std::pair<uint32_t, uint32_t>> after(n);
        for (int32_t i = 0; i < n; ++i) after[i] = {keys[i], words[i]};
        std::sort(before.begin(), before.end());
        std::vector<std::pair<uint32_t, uint32_t>> afterSorted = after;
        std::sort(afterSorted.begin(), afterSorted.end());
        ASSERT_EQ(afterSorted, before) << n << ": pairs were not kept together";
        std::vector<float> expect = v;
        // -0 sorts just below +0.
        std::sort(expect.begin(), expect.end(), [](float a, float b) {
            return a < b || (a == b && std::signbit(a) && !std::signbit(b));
        });
        for (int32_t i = 0; i < n; ++i) {
            const uint32_t k = keys[i];
            const uint32_t bits = k ^ ((k >> 31) ? 0x80000000u : 0xFFFFFFFFu);
            float got;
            std::memcpy(&got, &bits, 4);
            ASSERT_EQ(std::memcmp(&got, &expect[i], 4), 0) << n << " at " << i;
        }
    }
}
