// The packet path gives the same bits from its SSE3 and its AVX2 kernels.
//
// Every intersection call runs on the same ray blocks once with each
// instruction set's kernels (the process's kernel table switched between
// them) and everything it wrote is compared byte for byte: distances,
// weights, triangle numbers and masks, including the values left in the
// weights of rays without a hit. The blocks mix the tiles the packet path
// treats differently: coherent tiles (8-ray packets, the occluder cache),
// tiles of several octants (4-ray packets by code and row), tiny, signed
// zero and denormal direction components, skipped tiles and partly masked
// ones. The scenes are random soups, the bunny under its standard camera and
// the axis-aligned wall scenes whose flat cells trip up the walks.
#include <gtest/gtest.h>

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/isa.h"
#include "core/kernel_table.h"
#include "intersect/ray_blocks.h"
#include "intersect/wall_scenes.h"
#include "support/random_scene.h"
#include "support/wider_isas.h"

#include "workloads.h"

using namespace vekr_test;

namespace {

using vekr::Isa;

// Rays of one block: per-ray origins (the per-origin call), the common
// origin of the others, directions, maximum distances and the any-hit mask.
struct Rays {
    int32_t width = 0, height = 0;
    std::vector<Vec3> origin, dir;
    std::vector<float> dist;
    std::vector<int32_t> mask;
    Vec3 common{};

    explicit Rays(int32_t w, int32_t h) : width(w), height(h), origin(size()), dir(size()), dist(size(), 1e30f),
                                          mask(size(), 0) {}
    size_t size() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }
    size_t tileOf(size_t i) const { return (i / width / 4) * (width / 4) + (i % width) / 4; }
};

enum class Call { PerRayOrigin, Eye, Successive1, Successive4, Any };

const Call kCalls[] = {Call::PerRayOrigin, Call::Eye, Call::Successive1, Call::Successive4, Call::Any};

const char* callName(Call c)
{
    switch (c) {
    case Call::PerRayOrigin: return "MO";
    case Call::Eye: return "EyeSO";
    case Call::Successive1: return "MultipleSO x1";
    case Call::Successive4: return "MultipleSO x4";
    default: return "AnySO";
    }
}

template <class T>
void append(std::vector<uint8_t>& out, const T* p, size_t n)
{
    const auto* b = reinterpret_cast<const uint8_t*>(p);
    out.insert(out.end(), b, b + n * sizeof(T));
}

// One call on the packet path; returns every byte of its output planes.
std::vector<uint8_t> run(Call call, const Rays& rays, const VekrIntersectContext& ctx)
{
    const int32_t planes = call == Call::Successive4 ? 4 : 1;
    RayBlock b(rays.width, rays.height, Path::Packet, planes);
    for (size_t i = 0; i < rays.size(); ++i) {
        b.setRay(i, rays.origin[i].data(), rays.dir[i].data(), rays.dist[i]);
        b.mask[i] = rays.mask[i];
    }
    const float* o = rays.common.data();
    VekStatus st = vekStsOk;
    switch (call) {
    case Call::PerRayOrigin: st = b.closest(ctx); break;
    case Call::Eye: st = b.eye(ctx, o); break;
    case Call::Successive1:
    case Call::Successive4: st = b.multiple(ctx, o); break;
    case Call::Any: st = b.any(ctx, o); break;
    }
    EXPECT_EQ(st, vekStsOk);
    EXPECT_TRUE(b.guardsIntact()) << callName(call);
    std::vector<uint8_t> out;
    append(out, b.dist.data(), b.dist.size());
    append(out, b.u.data(), b.u.size());
    append(out, b.v.data(), b.v.size());
    append(out, b.tri.data(), b.tri.size());
    append(out, b.mask.data(), b.mask.size());
    return out;
}

class IsaIdentity : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (wider_.empty()) GTEST_SKIP() << "this processor has no AVX2";
        before_ = vekr::activeIsa();
        // Every set must really have kernels of its own, or the comparison
        // below compares a copy with itself.
        for (Isa isa : wider_) {
            ASSERT_TRUE(vekr::useIsaForTesting(isa));
            ASSERT_NE(vekr::sse3KernelTable().packet.closestMO, vekr::kernels().packet.closestMO);
            ASSERT_NE(vekr::sse3KernelTable().packet.occlusion, vekr::kernels().packet.occlusion);
        }
    }
    void TearDown() override
    {
        if (!wider_.empty()) vekr::useIsaForTesting(before_);
    }

    // Every call on the rays, once per set; reports the first differing
    // element of each call whose outputs differ.
    void expectSameUnderEverySet(const std::string& what, const Rays& rays, const PreparedScene& scene)
    {
        const VekrIntersectContext ctx = scene.context();
        for (Call call : kCalls) {
            ASSERT_TRUE(vekr::useIsaForTesting(Isa::Sse3));
            const std::vector<uint8_t> narrow = run(call, rays, ctx);
            for (Isa isa : wider_) {
                ASSERT_TRUE(vekr::useIsaForTesting(isa));
                const std::vector<uint8_t> wide = run(call, rays, ctx);
                ASSERT_EQ(narrow.size(), wide.size());
                if (narrow == wide) continue;
                size_t k = 0;
                while (narrow[k] == wide[k]) ++k;
                const size_t perPlane = rays.size() * (call == Call::Successive4 ? 4 : 1) * 4;
                const char* planes[] = {"distance", "u", "v", "triangle", "mask"};
                const size_t plane = k < 4 * perPlane ? k / perPlane : 4;
                const size_t ray = (k < 4 * perPlane ? k % perPlane : k - 4 * perPlane) / 4 % rays.size();
                ADD_FAILURE() << what << ", " << callName(call) << ": sse3 and " << vekr::isaName(isa)
                              << " differ first in the " << planes[plane] << " of ray " << ray << " (row "
                              << ray / rays.width << ", column " << ray % rays.width << ")";
            }
        }
    }

    const std::vector<Isa> wider_ = widerIsas();
    Isa before_ = Isa::Sse3;
};

// The tiles of a block cycle through these kinds.
enum class Tile { Coherent, MixedOctants, TinyComponents, MixedLimits, Skipped, PartlyMasked };
constexpr int kTileKinds = 6;

// Directions from `from` towards points spread over a patch around `at`
// (one octant per tile unless the patch straddles an axis), with tiles of
// every kind above. Per-ray origins jitter around `from`; the any-hit
// segments end at the patch (length factor 1) or before or beyond it.
Rays mixedBlock(int32_t width, int32_t height, const Vec3& from, const Vec3& at, float spread, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f), jitter(-0.05f, 0.05f), scale(0.3f, 1.6f);
    Rays r(width, height);
    r.common = from;
    // Tiny magnitudes around the 2^-23 threshold, both zeros and a denormal.
    const float tiny[] = {0.0f, -0.0f, -1e-9f, 1e-9f, 1.1920929e-7f, -1.1920929e-7f, 1.1920930e-7f, 1e-40f};
    for (size_t i = 0; i < r.size(); ++i) {
        const int32_t row = static_cast<int32_t>(i) / width, col = static_cast<int32_t>(i) % width;
        const Tile kind = static_cast<Tile>(r.tileOf(i) % kTileKinds);
        Vec3 target;
        for (int a = 0; a < 3; ++a) target[a] = at[a];
        target[0] += spread * (static_cast<float>(col) / static_cast<float>(width) - 0.5f);
        target[1] += spread * (static_cast<float>(row) / static_cast<float>(height) - 0.5f);
        Vec3 d;
        for (int a = 0; a < 3; ++a) d[a] = target[a] - from[a];
        for (int a = 0; a < 3; ++a) r.origin[i][a] = from[a] + jitter(rng);
        switch (kind) {
        case Tile::Coherent: break;
        case Tile::MixedOctants:
            for (float& c : d) c = unit(rng) * spread;
            break;
        case Tile::TinyComponents:
            d[(row + col) % 3] = tiny[(i * 5 + static_cast<size_t>(row)) % 8];
            break;
        case Tile::MixedLimits:
            r.dist[i] = (col % 4 == 0) ? 0.0f : (col % 4 == 1 ? -1.0f : scale(rng) * 2.0f);
            break;
        case Tile::Skipped:
            r.dist[i] = (col % 2) ? 0.0f : -3.0f;
            break;
        case Tile::PartlyMasked:
            r.mask[i] = (row + 2 * col) % 3 == 0 ? -5 : 7;
            break;
        }
        // Any-hit segments end before, at or beyond the patch.
        const float s = kind == Tile::Coherent ? 1.0f : scale(rng);
        for (int a = 0; a < 3; ++a) r.dir[i][a] = d[a] * s;
    }
    return r;
}

TEST_F(IsaIdentity, PacketCallsOnRandomSoups)
{
    struct Case {
        uint32_t seed;
        int32_t count;
        int32_t depth;
        float factor;
    };
    const Case cases[] = {{3, 300, 50, 1.0f}, {11, 1200, 20, 0.5f}, {29, 60, 4, 1.0f}};
    for (const Case& c : cases) {
        const TriangleSoup soup = randomSoup(c.seed, c.count);
        const PreparedScene sah = prepareSah(soup, c.depth, c.factor);
        const PreparedScene midpoint = prepareMidpoint(soup, 12, 4);
        const std::string what = "soup " + std::to_string(c.seed);
        // From outside the scene onto its middle, and from inside it.
        expectSameUnderEverySet(what + " sah, outside", mixedBlock(32, 32, {11.0f, 7.5f, 14.0f}, {0, 0, 0}, 8.0f, c.seed),
                                sah);
        expectSameUnderEverySet(what + " sah, inside", mixedBlock(24, 16, {0.5f, -0.25f, 1.0f}, {3, 2, -6}, 12.0f, c.seed + 1),
                                sah);
        expectSameUnderEverySet(what + " midpoint", mixedBlock(32, 16, {-9.0f, 6.0f, -12.0f}, {0, 0, 0}, 6.0f, c.seed + 2),
                                midpoint);
    }
}

// The standard bunny workload on a window of its image: primary rays of
// every 16th pixel, their shadow rays, and random rays through the scene.
TEST_F(IsaIdentity, PacketCallsOnTheBunny)
{
    TriangleSoup soup;
    ASSERT_TRUE(loadBunny(soup));
    const PreparedScene scene = prepareSah(soup, 50, 1.0f);
    wl_camera cam;
    wl_camera_for(WL_SCENE_BUNNY, &cam);
    const int32_t side = 64;
    Rays eye(side, side), shadow(side, side);
    eye.common = {cam.eye[0], cam.eye[1], cam.eye[2]};
    shadow.common = {cam.light[0], cam.light[1], cam.light[2]};
    RayBlock hits(side, side, Path::Packet);
    for (size_t i = 0; i < eye.size(); ++i) {
        float d[3];
        wl_eye_dir(&cam, static_cast<int32_t>(i / side) * 16, static_cast<int32_t>(i % side) * 16, d);
        eye.dir[i] = {d[0], d[1], d[2]};
        eye.origin[i] = eye.common;
        hits.setRay(i, cam.eye, d, 1e30f);
    }
    expectSameUnderEverySet("bunny primary rays", eye, scene);

    ASSERT_EQ(hits.eye(scene.context(), cam.eye), vekStsOk);
    size_t blocked = 0;
    for (size_t i = 0; i < shadow.size(); ++i) {
        float D[3] = {0.0f, 0.0f, 0.0f};
        if (hits.tri[i] >= 0) wl_shadow_dir(&cam, eye.dir[i][0], eye.dir[i][1], eye.dir[i][2], hits.dist[i], D);
        shadow.dir[i] = {D[0], D[1], D[2]};
        shadow.origin[i] = shadow.common;
        shadow.mask[i] = hits.tri[i];
        blocked += hits.tri[i] >= 0;
    }
    ASSERT_GT(blocked, shadow.size() / 4) << "the window should mostly see the bunny";
    expectSameUnderEverySet("bunny shadow rays", shadow, scene);
    expectSameUnderEverySet("bunny mixed tiles", mixedBlock(32, 32, {8.0f, 9.0f, 15.0f}, {-0.25f, 4.7f, 0.0f}, 6.0f, 5),
                            scene);
}

// Rays from a point towards targets, as shadow rays (directions reach the
// targets at t = 1), with every per-ray origin at the light.
Rays towards(const float light[3], const std::vector<Vec3>& targets, int32_t width)
{
    Rays r(width, static_cast<int32_t>(targets.size()) / width);
    r.common = {light[0], light[1], light[2]};
    for (size_t i = 0; i < r.size(); ++i) {
        r.origin[i] = r.common;
        for (int a = 0; a < 3; ++a) r.dir[i][a] = targets[i][a] - light[a];
    }
    return r;
}

// The adversarial scenes of the shadow tests: a closed room (light inside
// and outside, trees with and without build boxes), random axis-aligned
// quads on a coarse grid, and a triangle cut by the build box.
TEST_F(IsaIdentity, PacketCallsOnWallScenes)
{
    {
        const TriangleSoup room = closedRoom();
        const PreparedScene trees[] = {prepareSah(room, 50, 1.0f), prepareSah(room, 4, 1.0f), prepareSah(room, 50, 0.0f),
                                       prepareSah(room, 50, 1.0f, kRoomCuttingBox)};
        const float inside[3] = {0.3f, 0.2f, -0.1f}, outside[3] = {3.0f, 0.5f, 0.2f};
        for (size_t t = 0; t < 4; ++t) {
            const std::string what = "room tree " + std::to_string(t);
            for (int axis = 0; axis < 3; ++axis)
                expectSameUnderEverySet(what + " light inside, axis " + std::to_string(axis),
                                        towards(inside, targetGrid(axis, 1.25f, -1.4f, 1.4f, 32, 16), 32), trees[t]);
            expectSameUnderEverySet(what + " light outside", towards(outside, roomInterior(32 * 32), 32), trees[t]);
            expectSameUnderEverySet(what + " mixed tiles",
                                    mixedBlock(32, 16, {0.1f, 0.3f, -0.2f}, {1.5f, 0.2f, 0.4f}, 3.0f, 40 + t),
                                    trees[t]);
        }
    }
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        std::mt19937 rng(seed * 7919u);
        std::uniform_int_distribution<int> grid(-16, 16);
        auto g = [](int k) { return static_cast<float>(k) * 0.125f; };
        TriangleSoup soup;
        addGridQuads(soup, rng, 60);
        const PreparedScene scene = prepareSah(soup, seed % 2 ? 50 : 10, 1.0f);
        const float light[3] = {-12.0f, 0.3f, 0.7f};
        const std::string what = "quads " + std::to_string(seed);
        expectSameUnderEverySet(what + " coherent", towards(light, targetGrid(0, 2.125f, -1.5f, 1.5f, 32, 32), 32),
                                scene);
        // Straight along an axis from a light on the grid.
        std::vector<Vec3> axial;
        std::uniform_real_distribution<float> pos(-2.2f, 2.2f);
        const float onGrid[3] = {g(grid(rng)), g(grid(rng)) + 0.0625f, g(grid(rng))};
        for (int i = 0; i < 32 * 16; ++i) {
            Vec3 t = {onGrid[0], onGrid[1], onGrid[2]};
            t[i / 16 % 3] = pos(rng);
            axial.push_back(t);
        }
        expectSameUnderEverySet(what + " axial", towards(onGrid, axial, 32), scene);
        expectSameUnderEverySet(what + " mixed tiles", mixedBlock(32, 32, {-3.0f, 0.4f, 0.2f}, {0, 0, 0}, 4.0f, seed),
                                scene);
    }
    {
        const CutTriangleScene cut;
        expectSameUnderEverySet("triangle cut by the build box", towards(cut.light, cut.targets, 16), cut.scene);
    }
}

// ------------------------------------------------- the reciprocal estimate

// The packet kernels refine the processor's reciprocal estimate, so their
// bits are only the same in both sets if the 256-bit estimate (the AVX2
// 8-ray kernels) and the VEX 128-bit one (its 4-ray kernels) equal the
// legacy SSE estimate (the SSE3 kernels) for every input. The estimate
// depends on the mantissa and is scaled by the exponent, so every mantissa
// is tried at two exponents, and every exponent of both signs with a spread
// of mantissas, zeros, infinities, denormals and NaNs among them.
constexpr uint32_t kEveryMantissa = 2u << 23;  // both exponents
constexpr uint32_t kMantissaSpread = 2047;     // per exponent and sign
constexpr uint32_t kProbeCount = kEveryMantissa + 2 * 256 * kMantissaSpread;

uint32_t probe(uint32_t i)
{
    if (i < kEveryMantissa) return (i & 1 ? 0xBF000000u : 0x3F800000u) | i >> 1;  // [1, 2) and (-1, -0.5]
    const uint32_t j = i - kEveryMantissa;
    const uint32_t m = j % kMantissaSpread * 4099u, e = j / kMantissaSpread % 256, sign = j / kMantissaSpread / 256;
    return sign << 31 | e << 23 | m;
}

// Legacy-encoded SSE (this file is built for SSE3).
void estimateNarrow(const uint32_t* in, uint32_t* out, size_t n)
{
    for (size_t i = 0; i < n; i += 4) {
        const __m128 x = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_castps_si128(_mm_rcp_ps(x)));
    }
}

__attribute__((target("avx2"))) void estimateWide(const uint32_t* in, uint32_t* out256, uint32_t* out128, size_t n)
{
    for (size_t i = 0; i < n; i += 8) {
        const __m256 x = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out256 + i), _mm256_castps_si256(_mm256_rcp_ps(x)));
        const __m128 lo = _mm256_castps256_ps128(x), hi = _mm256_extractf128_ps(x, 1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out128 + i), _mm_castps_si128(_mm_rcp_ps(lo)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out128 + i + 4), _mm_castps_si128(_mm_rcp_ps(hi)));
    }
    _mm256_zeroupper();
}

TEST_F(IsaIdentity, ReciprocalEstimateIsTheSameAtEveryWidth)
{
    constexpr size_t kChunk = 4096;
    uint32_t in[kChunk], narrow[kChunk], wide256[kChunk], wide128[kChunk];
    size_t differ = 0, changes = 0;
    uint32_t previous = 0;
    for (uint32_t first = 0; first < kProbeCount; first += kChunk) {
        const size_t n = std::min<size_t>(kChunk, kProbeCount - first);
        for (size_t k = 0; k < kChunk; ++k) in[k] = k < n ? probe(first + static_cast<uint32_t>(k)) : 0;
        estimateNarrow(in, narrow, kChunk);
        estimateWide(in, wide256, wide128, kChunk);
        for (size_t k = 0; k < n; ++k) {
            if (first + k < kEveryMantissa && (first + k) % 2 == 0) {
                changes += narrow[k] != previous;
                previous = narrow[k];
            }
            if (narrow[k] == wide256[k] && narrow[k] == wide128[k]) continue;
            if (++differ <= 5)
                ADD_FAILURE() << std::hex << "estimate of 0x" << in[k] << ": SSE 0x" << narrow[k]
                              << ", AVX 256-bit 0x" << wide256[k] << ", AVX 128-bit 0x" << wide128[k];
        }
    }
    EXPECT_EQ(differ, 0u) << "of " << kProbeCount << " inputs";
    // The probe really reaches the estimate's table: along [1, 2) the
    // estimate changes every few thousand mantissas (12-bit precision).
    EXPECT_GT(changes, 1000u);
}

}  // namespace
