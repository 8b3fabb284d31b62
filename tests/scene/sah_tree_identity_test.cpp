// Tree blocks of the SAH build pinned by their SHA-256.
//
// The expected digests were recorded from the straightforward build (a
// fresh sort of every node's candidates, the split search forking per
// node) before any speed work on the builder. Any change that moves one
// split plane, reorders one leaf list or shifts the point at which a tight
// memory limit runs out changes a digest. Every scene is made from exact
// small-integer or dyadic coordinates (or is a published workload scene,
// whose arrays tests/workloads pins), so the digests are the same on every
// platform and pointer size: the block layout has no pointer-sized field.
//
// The scenes aim at the places where a faster build could go wrong:
// planar fragments lying in candidate planes and in cell faces, rooms of
// axis-aligned walls, duplicate and degenerate triangles, signed zeros,
// build boxes that cut triangles (so fragments have up to nine vertices),
// cells flat in one direction, every split factor and depth, and limits at
// which the build runs out of memory half-way.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "scene/sah_build.h"
#include "support/alloc_hook.h"
#include "support/random_scene.h"
#include "vekr.h"
#include "workloads.h"

using namespace vekr_test;

namespace {

// A small integer generator whose output is the same everywhere (the
// standard distributions are not pinned across library versions).
struct Lcg {
    uint64_t s;
    uint32_t next()
    {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(s >> 33);
    }
    int range(int lo, int hi) { return lo + static_cast<int>(next() % static_cast<uint32_t>(hi - lo + 1)); }
};

TriangleSoup fromMesh(const wl_mesh& m)
{
    TriangleSoup s;
    s.vertices.assign(m.v, m.v + 3 * static_cast<size_t>(m.nv));
    for (int32_t t = 0; t < m.nt; ++t) s.addTriangle(m.idx[3 * t], m.idx[3 * t + 1], m.idx[3 * t + 2]);
    return s;
}

const TriangleSoup& bunny()
{
    static const TriangleSoup s = [] {
        wl_mesh m{};
        TriangleSoup out;
        if (wl_load_obj(VEKR_DATA_DIR "/bunny.obj", &m) == 0) out = fromMesh(m);
        wl_free_mesh(&m);
        return out;
    }();
    return s;
}

const TriangleSoup& spheres()
{
    static const TriangleSoup s = [] {
        wl_mesh m{};
        TriangleSoup out;
        if (wl_make_spheres(&m) == 0) out = fromMesh(m);
        wl_free_mesh(&m);
        return out;
    }();
    return s;
}

// Triangles with corners on a grid of step 1/8 around random centres:
// many coordinates coincide, many triangles are flat across an axis.
TriangleSoup gridSoup(uint64_t seed, int count, int extent)
{
    Lcg r{seed};
    TriangleSoup s;
    for (int i = 0; i < count; ++i) {
        const int c[3] = {r.range(-extent, extent), r.range(-extent, extent), r.range(-extent, extent)};
        Vec3 p[3];
        for (auto& v : p)
            for (int a = 0; a < 3; ++a) v[a] = static_cast<float>(8 * c[a] + r.range(-12, 12)) / 8.0f;
        // A third of them flattened across a random axis.
        if (i % 3 == 0) {
            const int a = r.range(0, 2);
            p[1][a] = p[2][a] = p[0][a];
        }
        s.addTriangle(p[0], p[1], p[2]);
    }
    return s;
}

// Triangles in general position: 20-bit fractions, various sizes.
TriangleSoup fineSoup(uint64_t seed, int count)
{
    Lcg r{seed};
    TriangleSoup s;
    for (int i = 0; i < count; ++i) {
        const float size = static_cast<float>(1 << r.range(0, 6)) / 16.0f;
        Vec3 o, p[3];
        for (float& v : o) v = static_cast<float>(r.range(-(1 << 20), 1 << 20)) / static_cast<float>(1 << 17);
        for (auto& v : p)
            for (int a = 0; a < 3; ++a)
                v[a] = o[a] + size * static_cast<float>(r.range(-(1 << 12), 1 << 12)) / static_cast<float>(1 << 12);
        s.addTriangle(p[0], p[1], p[2]);
    }
    return s;
}

// An axis-aligned box as 12 triangles.
void addBox(TriangleSoup& s, const float lo[3], const float hi[3])
{
    for (int a = 0; a < 3; ++a) {
        const int u = (a + 1) % 3, v = (a + 2) % 3;
        for (int side = 0; side < 2; ++side) {
            Vec3 q[4];
            for (int k = 0; k < 4; ++k) {
                q[k][a] = side ? hi[a] : lo[a];
                q[k][u] = (k == 1 || k == 2) ? hi[u] : lo[u];
                q[k][v] = (k >= 2) ? hi[v] : lo[v];
            }
            s.addTriangle(q[0], q[1], q[2]);
            s.addTriangle(q[0], q[2], q[3]);
        }
    }
}

// A room (its walls) with boxes standing on its floor and hanging in it,
// some sharing faces with each other and with the walls.
TriangleSoup rooms(uint64_t seed, int boxes)
{
    Lcg r{seed};
    TriangleSoup s;
    const float lo[3] = {-8, -8, 0}, hi[3] = {8, 8, 6};
    addBox(s, lo, hi);
    for (int i = 0; i < boxes; ++i) {
        float a[3], b[3];
        for (int k = 0; k < 3; ++k) {
            const int from = r.range(k == 2 ? 0 : -8, k == 2 ? 5 : 7);
            a[k] = static_cast<float>(from);
            b[k] = static_cast<float>(from + r.range(1, 3));
        }
        if (i % 4 == 0) a[2] = 0.0f;  // on the floor
        addBox(s, a, b);
    }
    return s;
}

// Axis-aligned quads on the integer grid: fragments flat in candidate
// planes, some exactly on -0.0 (which must sort below +0.0).
TriangleSoup planarQuads(uint64_t seed, int count, int extent = 4)
{
    Lcg r{seed};
    TriangleSoup s;
    for (int i = 0; i < count; ++i) {
        const int a = r.range(0, 2);
        Vec3 o;
        for (float& c : o) c = static_cast<float>(r.range(-extent, extent));
        for (float& c : o)
            if (c == 0.0f && (r.next() & 1)) c = -0.0f;
        const float du = static_cast<float>(r.range(1, 3)), dv = static_cast<float>(r.range(1, 3));
        s.addAxisQuad(o, a, du, dv);
    }
    return s;
}

// The grid soup with every triangle listed twice or three times, plus
// triangles of zero area: collinear corners and all corners equal.
TriangleSoup duplicatesAndDegenerates(uint64_t seed)
{
    const TriangleSoup base = gridSoup(seed, 300, 3);
    TriangleSoup s = base;
    for (int32_t t = 0; t < base.triangleCount(); t += 2) {
        s.addTriangle(base.triangles[4 * t], base.triangles[4 * t + 1], base.triangles[4 * t + 2]);
        if (t % 6 == 0) s.addTriangle(base.triangles[4 * t], base.triangles[4 * t + 1], base.triangles[4 * t + 2]);
    }
    Lcg r{seed + 1};
    for (int i = 0; i < 60; ++i) {
        const Vec3 a = {float(r.range(-3, 3)), float(r.range(-3, 3)), float(r.range(-3, 3))};
        const Vec3 d = {float(r.range(-2, 2)), float(r.range(-2, 2)), float(r.range(-2, 2))};
        const Vec3 b = {a[0] + d[0], a[1] + d[1], a[2] + d[2]};
        const Vec3 c = {a[0] + 2 * d[0], a[1] + 2 * d[1], a[2] + 2 * d[2]};
        s.addTriangle(a, b, c);
        if (i % 3 == 0) s.addTriangle(a, a, a);
    }
    return s;
}

// Everything in the plane z = 1: every cell is flat in z.
TriangleSoup flatScene(uint64_t seed)
{
    TriangleSoup s = gridSoup(seed, 400, 4);
    for (size_t v = 2; v < s.vertices.size(); v += 3) s.vertices[v] = 1.0f;
    return s;
}

struct Case {
    const char* name;
    std::function<const TriangleSoup&()> scene;
    float factor;
    int32_t depth;
    std::vector<float> box;   // empty: no build box
    uint32_t limitBytes;      // 0: a roomy limit
    const char* digest;       // first 16 hex digits of SHA-256 over status, size, block
};

constexpr uint32_t kRoomy = 1024u << 20;

std::string digestOf(VekStatus st, VekrKDTreeNode* tree, int32_t size);

std::string blockDigest(const TriangleSoup& s, const Case& c)
{
    VekrKDTreeNode* tree = nullptr;
    int32_t size = 0;
    const VekStatus st =
        vekr::buildKDTreeSAH(s.vertices.data(), s.triangles.data(), s.vertexCount(), s.triangleCount(), &tree,
                             &size, c.factor, c.depth, c.limitBytes ? c.limitBytes : kRoomy,
                             c.box.empty() ? nullptr : c.box.data());
    return digestOf(st, tree, size);
}

// Over the status, and the size and bytes of a block that was built (the
// block is released).
std::string digestOf(VekStatus st, VekrKDTreeNode* tree, int32_t size)
{
    wl_sha256 h;
    wl_sha256_init(&h);
    const int32_t head[2] = {st, st == vekStsOk ? size : 0};
    wl_sha256_update(&h, head, sizeof head);
    if (st == vekStsOk) {
        wl_sha256_update(&h, tree, static_cast<size_t>(size));
        vekrKDTreeFree(tree);
    }
    char hex[65];
    wl_sha256_final(&h, hex);
    return std::string(hex, 16);
}

template <typename F>
std::function<const TriangleSoup&()> cached(F make)
{
    auto holder = std::make_shared<std::unique_ptr<TriangleSoup>>();
    return [holder, make]() -> const TriangleSoup& {
        if (!*holder) *holder = std::make_unique<TriangleSoup>(make());
        return **holder;
    };
}

const std::vector<Case>& cases()
{
    static const auto grid = cached([] { return gridSoup(11, 3000, 6); });
    static const auto fine = cached([] { return fineSoup(12, 4000); });
    static const auto room = cached([] { return rooms(13, 60); });
    static const auto quads = cached([] { return planarQuads(14, 1500); });
    static const auto dups = cached([] { return duplicatesAndDegenerates(15); });
    static const auto flat = cached([] { return flatScene(16); });
    static const auto bun = [] () -> const TriangleSoup& { return bunny(); };
    static const auto sph = [] () -> const TriangleSoup& { return spheres(); };
    static const std::vector<Case> list = {
        {"bunny_f05_d50", bun, 0.5f, 50, {}, 0, "42f7faa78d90771c"},
        {"bunny_f0_d50", bun, 0.0f, 50, {}, 0, "d315b2b047f7b4a7"},
        {"bunny_f1_d12", bun, 1.0f, 12, {}, 0, "5f3465a2f0aad76d"},
        {"bunny_box", bun, 0.7f, 40, {-0.05f, 0.06f, -0.03f, 0.04f, 0.15f, 0.05f}, 0, "d785f0be067067fc"},
        {"spheres_f05_d50", sph, 0.5f, 50, {}, 0, "7fe34adcbfbd4793"},
        {"spheres_box", sph, 0.5f, 50, {-1.3f, -2.2f, -0.9f, 1.7f, 0.3f, 2.6f}, 0, "37004cf5d9920290"},
        {"grid_f05_d50", grid, 0.5f, 50, {}, 0, "9ad24862cee00054"},
        {"grid_f1_d30", grid, 1.0f, 30, {}, 0, "3caa52d6e8293333"},
        {"grid_f0_d8", grid, 0.0f, 8, {}, 0, "aad64551a50719dc"},
        {"grid_box", grid, 0.5f, 50, {-3.5f, -2.25f, -4.0f, 2.75f, 5.0f, 1.5f}, 0, "7673dad616ba3c68"},
        {"fine_f05_d50", fine, 0.5f, 50, {}, 0, "57b8cb47fc26118a"},
        {"fine_f03_d1", fine, 0.3f, 1, {}, 0, "f6fd8f22d12c0c0e"},
        {"fine_box", fine, 0.9f, 50, {-3.0f, -3.0f, -3.0f, 3.0f, 3.0f, 3.0f}, 0, "9ebe08b3d7123092"},
        {"rooms_f05_d50", room, 0.5f, 50, {}, 0, "bd4712d761a64a6f"},
        {"rooms_f1_d50", room, 1.0f, 50, {}, 0, "bf68b3e2ec14ebb1"},
        {"rooms_box", room, 0.5f, 50, {-5.0f, -6.5f, 0.0f, 4.5f, 3.0f, 4.0f}, 0, "d49a8ece2376e80f"},
        {"quads_f05_d50", quads, 0.5f, 50, {}, 0, "1953fab69453e78d"},
        {"quads_f1_d50", quads, 1.0f, 50, {}, 0, "3c6d8f1668b902ee"},
        {"quads_box", quads, 0.5f, 50, {-2.0f, -2.0f, -2.0f, 2.5f, 2.5f, 2.5f}, 0, "7a778620c46e2b06"},
        {"dups_f05_d50", dups, 0.5f, 50, {}, 0, "1a834f2b3a066508"},
        {"dups_f1_d5", dups, 1.0f, 5, {}, 0, "035114e84c195296"},
        {"flat_f05_d50", flat, 0.5f, 50, {}, 0, "5d3395b936276efd"},
        {"grid_d0", grid, 0.5f, 0, {}, 0, "43f8c270eaab1d62"},
        // Limits at which the build runs out half-way: the failure must
        // come at the same point (status recorded in the digest).
        {"spheres_just_enough", sph, 0.5f, 50, {}, 184549640u, "7fe34adcbfbd4793"},
        {"spheres_one_byte_short", sph, 0.5f, 50, {}, 184549639u, "ca5e545a86939c1f"},
        {"bunny_just_enough", bun, 0.5f, 50, {}, 84062696u, "42f7faa78d90771c"},
        {"bunny_one_byte_short", bun, 0.5f, 50, {}, 84062695u, "ca5e545a86939c1f"},
    };
    return list;
}

void checkCases(bool large, std::initializer_list<int> threadCounts)
{
    for (const Case& c : cases()) {
        if ((std::strncmp(c.name, "spheres", 7) == 0) != large) continue;
        const TriangleSoup& s = c.scene();
        ASSERT_GT(s.triangleCount(), 0) << c.name << ": scene not available";
        for (int threads : threadCounts) {
            ScopedThreads scoped(threads);
            EXPECT_EQ(blockDigest(s, c), c.digest) << c.name << " with " << threads << " threads";
        }
    }
}

// The small scenes with one, two and three threads.
TEST(SAHTreeIdentity, SmallScenesMatchTheRecordedDigests) { checkCases(false, {1, 2, 3}); }

// The workload scene of a million triangles (deep trees, long leaf lists,
// cuts at every level), with one and two threads.
TEST(SAHTreeIdentity, SpheresSceneMatchesTheRecordedDigests) { checkCases(true, {1, 2}); }

}  // namespace

// Scenes large enough for the build to hand subtrees to other threads (and,
// above 65536 fragments, to give a node's three axes to three tasks), made
// of the same troublesome pieces: any thread count must give the block of
// one thread, byte for byte.
struct LargeCase {
    const char* name;
    std::function<TriangleSoup()> make;
    float factor;
    int32_t depth;
    std::vector<float> box;
};

const std::vector<LargeCase>& largeCases()
{
    static const std::vector<LargeCase> list = {
        {"grid", [] { return gridSoup(21, 26000, 12); }, 0.5f, 50, {}},
        {"grid_box", [] { return gridSoup(22, 26000, 12); }, 0.8f, 40, {-7.5f, -9.0f, -6.25f, 8.0f, 5.5f, 9.0f}},
        // One triangle more than the quads make: an odd count above 65536,
        // where the root's fragments are classified in two unequal halves.
        {"quads",
         [] {
             TriangleSoup s = planarQuads(23, 40000, 40);
             s.addTriangle(0, 5, 9);
             return s;
         },
         0.5f, 50, {}},
        {"rooms", [] { return rooms(24, 1400); }, 1.0f, 50, {}},
        {"rooms_box", [] { return rooms(25, 1400); }, 0.5f, 30, {-6.0f, -5.0f, 0.0f, 6.5f, 7.0f, 5.0f}},
        {"fine", [] { return fineSoup(26, 30000); }, 0.0f, 50, {}},
    };
    return list;
}

std::string digestAt(const TriangleSoup& s, const LargeCase& c, int threads, uint32_t limitBytes = 0)
{
    ScopedThreads scoped(threads);
    const Case asCase{c.name, nullptr, c.factor, c.depth, c.box, limitBytes, ""};
    return blockDigest(s, asCase);
}

TEST(SAHTreeIdentity, LargeScenesGiveTheSameBlockOnAnyThreadCount)
{
    for (const LargeCase& c : largeCases()) {
        const TriangleSoup s = c.make();
        const std::string one = digestAt(s, c, 1);
        for (int threads : {2, 3}) EXPECT_EQ(digestAt(s, c, threads), one) << c.name << " with " << threads << " threads";
    }
}

// The smallest limit at which one thread builds each scene, found by
// bisection: more threads must build it at exactly that limit too and run
// out of memory one byte below it, as one thread does. This holds the
// replay of the threads' memory requests to the one-thread accounting on
// scenes full of cuts, planar fragments and clipped triangles.
TEST(SAHTreeIdentity, LargeScenesRunOutOfMemoryAtTheOneThreadLimit)
{
    for (const LargeCase& c : largeCases()) {
        if (std::strcmp(c.name, "grid") != 0 && std::strcmp(c.name, "grid_box") != 0 &&
            std::strcmp(c.name, "rooms_box") != 0)
            continue;  // time
        const TriangleSoup s = c.make();
        const std::string built = digestAt(s, c, 1);
        auto fits = [&](uint32_t limit) { return digestAt(s, c, 1, limit) == built; };
        // From the smallest limit the build starts with (below it the
        // build is refused before it takes anything) to a roomy one.
        uint32_t lo = static_cast<uint32_t>(12 * s.vertexCount() + 84 * s.triangleCount() + 0x20000F4), hi = 256u << 20;
        ASSERT_FALSE(fits(lo)) << c.name;
        ASSERT_TRUE(fits(hi)) << c.name;
        while (hi - lo > 1) {
            const uint32_t mid = lo + (hi - lo) / 2;
            (fits(mid) ? hi : lo) = mid;
        }
        const std::string ok = digestAt(s, c, 1, hi), short1 = digestAt(s, c, 1, lo);
        ASSERT_EQ(short1, digestOf(vekStsMemAllocErr, nullptr, 0)) << c.name << ": not out of memory half-way";
        for (int threads : {2, 3}) {
            EXPECT_EQ(digestAt(s, c, threads, hi), ok) << c.name << " at " << hi << ", " << threads << " threads";
            EXPECT_EQ(digestAt(s, c, threads, lo), short1) << c.name << " at " << lo << ", " << threads << " threads";
        }
    }
}
