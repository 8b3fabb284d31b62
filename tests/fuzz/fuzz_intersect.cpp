// Fuzz target of the intersection exports. They check nothing, so every
// pointer is valid and every plane the right size; what is hostile is the
// data: coordinates that are NaN, infinite, huge or tiny, degenerate and
// duplicate triangles, trees of every depth from both builders (or a scene
// box that is not the scene's), ray blocks of any small size on both the
// packet and the ray-by-ray path. Each call must return vekStsOk, stay in
// its arrays and leave results that obey the documented rules: triangle
// numbers are -1 or real triangles, a hit shortens the distance, a miss
// leaves it, and a block with an empty side touches nothing.
#include "fuzz_support.h"

using namespace fuzz;

namespace {

struct Scene {
    int32_t triangleCount = 0;
    std::vector<float> vertices;
    std::vector<int32_t> triangles;
    float box[6];
    std::vector<VekrTriangleAccel> accel;
    VekrKDTreeNode* tree = nullptr;
    VekrIntersectContext context;

    explicit Scene(Input& in)
    {
        const int32_t vertexCount = in.range(1, 12);
        triangleCount = in.range(0, 24);
        const bool grid = in.chance(2);
        vertices.resize(3 * size_t(vertexCount));
        for (float& v : vertices) v = grid ? float(in.range(-3, 3)) : in.real();
        triangles.resize(4 * size_t(triangleCount) + 4);
        for (int32_t t = 0; t < triangleCount; ++t)
            for (int k = 0; k < 3; ++k) triangles[4 * size_t(t) + k] = in.range(0, vertexCount - 1);
        accel.resize(size_t(triangleCount) + 1);
        vekrTriangleAccelInit(accel.data(), vertices.data(), triangles.data(), triangleCount);
        vekrSetBoundBox_32f(vertices.data(), vertexCount, box);
        if (in.chance(6)) in.fill(box, 6);

        VekrKDTreeBuildParams p{vekrKDTreeBuildSAH, in.range(0, 50), float(in.range(0, 10)) / 10.0f, 128, nullptr};
        float buildBox[6];
        if (in.chance(4)) {
            for (int a = 0; a < 3; ++a) buildBox[a] = float(in.range(-3, 0)), buildBox[3 + a] = float(in.range(0, 3));
            p.pBuildBox = buildBox;
        }
        if (in.chance(3)) p.algorithm = vekrKDTreeBuildSimple;
        int32_t size = 0;
        if (vekrKDTreeBuildAlloc(&tree, vertices.data(), triangles.data(), vertexCount, triangleCount, &size, &p) !=
            vekStsOk) {
            p.algorithm = vekrKDTreeBuildSimple;  // a scene the SAH build refuses still gets a tree
            FUZZ_REQUIRE(vekrKDTreeBuildAlloc(&tree, vertices.data(), triangles.data(), vertexCount, triangleCount,
                                              &size, &p) == vekStsOk,
                         "simple build failed");
        }
        context = VekrIntersectContext{box, accel.data(), tree};
    }
    ~Scene() { vekrKDTreeFree(tree); }
    bool validTriangle(int32_t t) const { return t == -1 || (t >= 0 && t < triangleCount); }
};

// A block of rays: its size (sides below 1 included), and whether its
// planes are aligned for the packet path.
struct Block {
    VekrSize size;
    size_t rays;
    size_t offset;
    explicit Block(Input& in)
    {
        const bool packet = in.chance(2);
        size = packet ? VekrSize{4 * in.range(0, 3), 4 * in.range(0, 3)} : VekrSize{in.range(-1, 9), in.range(-1, 9)};
        rays = size.width > 0 && size.height > 0 ? size_t(size.width) * size_t(size.height) : 0;
        offset = packet ? 0 : in.u8() & 1;
    }
    bool empty() const { return rays == 0; }
};

// Directions: hostile values, or rays aimed at the scene through small
// integer points, with components that are exactly zero or tiny.
void fillDirections(Input& in, Planes& d)
{
    const bool aimed = in.chance(2);
    for (size_t i = 0; i < d.x.size(); ++i) {
        Array<float>* planes[3] = {&d.x, &d.y, &d.z};
        for (Array<float>* p : planes)
            (*p)[i] = aimed ? in.pick<float>({0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 1e-9f, -1e-9f, 2.0f, -3.0f}) : in.real();
    }
}

void checkClosest(const Scene& s, const Block& b, const Array<float>& distBefore, const Array<float>& dist,
                  const Array<int32_t>& tri)
{
    for (size_t i = 0; i < b.rays; ++i) {
        FUZZ_REQUIRE(s.validTriangle(tri[i]), "ray %zu: triangle %d of %d", i, tri[i], s.triangleCount);
        if (tri[i] >= 0) {
            FUZZ_REQUIRE(dist[i] > 0 && dist[i] < distBefore[i], "ray %zu: hit at %g with limit %g", i,
                         double(dist[i]), double(distBefore[i]));
        } else {
            FUZZ_REQUIRE(std::memcmp(&dist[i], &distBefore[i], 4) == 0, "ray %zu: miss changed its distance", i);
        }
    }
}

void closestMO(Input& in, const Scene& s, const Block& b)
{
    Planes origin(b.rays, b.offset), dir(b.rays, b.offset), uv(b.rays, b.offset);
    Array<float> dist(b.rays, b.offset), before(b.rays);
    Array<int32_t> tri(b.rays, b.offset);
    origin.fillFrom(in);
    fillDirections(in, dir);
    dist.fillFrom(in);
    const bool unlimited = in.chance(2);
    for (size_t i = 0; i < b.rays; ++i) before[i] = dist[i] = unlimited ? FLT_MAX : dist[i];
    origin.snapshot(), dir.snapshot(), uv.sentinel(), dist.snapshot(), tri.sentinel();
    float* const hitUV[2] = {uv.x.data(), uv.y.data()};
    const VekStatus st = vekrIntersectMO_32f(origin.in(), dir.in(), dist.data(), hitUV, tri.data(), &s.context, b.size);
    FUZZ_REQUIRE(st == vekStsOk, "status %d", st);
    FUZZ_REQUIRE(origin.unchanged() && dir.unchanged() && uv.z.unchanged(), "an input was written");
    if (b.empty()) FUZZ_REQUIRE(dist.unchanged() && tri.unchanged() && uv.unchanged(), "empty block written");
    checkClosest(s, b, before, dist, tri);
}

void closestEye(Input& in, const Scene& s, const Block& b)
{
    float origin[3];
    in.fill(origin, 3);
    Planes dir(b.rays, b.offset), uv(b.rays, b.offset);
    Array<float> dist(b.rays, b.offset), before(b.rays);
    Array<int32_t> tri(b.rays, b.offset);
    fillDirections(in, dir);
    dist.fillFrom(in);
    for (size_t i = 0; i < b.rays; ++i) before[i] = dist[i];
    dir.snapshot(), uv.sentinel(), dist.snapshot(), tri.sentinel();
    float* const hitUV[2] = {uv.x.data(), uv.y.data()};
    FUZZ_REQUIRE(vekrIntersectEyeSO_32f(origin, dir.in(), dist.data(), hitUV, tri.data(), &s.context, b.size) ==
                     vekStsOk,
                 "status");
    FUZZ_REQUIRE(dir.unchanged() && uv.z.unchanged(), "an input was written");
    if (b.empty()) FUZZ_REQUIRE(dist.unchanged() && tri.unchanged() && uv.unchanged(), "empty block written");
    checkClosest(s, b, before, dist, tri);
}

void multiple(Input& in, const Scene& s, const Block& b)
{
    float origin[3];
    in.fill(origin, 3);
    const int32_t hits = in.range(-1, 4);
    const size_t planes = hits > 0 ? size_t(hits) : 0;
    Planes dir(b.rays, b.offset);
    Array<float> dist(b.rays * planes + (planes == 0), b.offset), u(b.rays * planes, b.offset),
        v(b.rays * planes, b.offset);
    Array<int32_t> tri(b.rays * planes, b.offset);
    fillDirections(in, dir);
    dist.sentinel();
    for (size_t i = 0; i < b.rays && planes; ++i) dist[i] = in.chance(2) ? FLT_MAX : in.real();
    dist.snapshot(), u.sentinel(), v.sentinel(), tri.sentinel(), dir.snapshot();
    float* const hitUV[2] = {u.data(), v.data()};
    FUZZ_REQUIRE(vekrIntersectMultipleSO_32f(origin, dir.in(), dist.data(), hitUV, tri.data(), b.size, hits,
                                             &s.context) == vekStsOk,
                 "status");
    FUZZ_REQUIRE(dir.unchanged(), "directions written");
    if (b.empty() || planes == 0) {
        FUZZ_REQUIRE(dist.unchanged() && u.unchanged() && v.unchanged() && tri.unchanged(), "nothing to do, written");
        return;
    }
    // Per ray: valid numbers, no triangle twice, and nothing after the
    // first plane without a hit.
    for (size_t i = 0; i < b.rays; ++i) {
        bool stopped = false;
        for (size_t k = 0; k < planes; ++k) {
            const int32_t t = tri[k * b.rays + i];
            FUZZ_REQUIRE(s.validTriangle(t), "ray %zu plane %zu: triangle %d", i, k, t);
            FUZZ_REQUIRE(!(stopped && t >= 0), "ray %zu: hit in plane %zu after a miss", i, k);
            stopped = stopped || t < 0;
            for (size_t j = 0; j < k && t >= 0; ++j)
                FUZZ_REQUIRE(tri[j * b.rays + i] != t, "ray %zu: triangle %d reported twice", i, t);
        }
    }
}

void any(Input& in, const Scene& s, const Block& b)
{
    float origin[3];
    in.fill(origin, 3);
    Planes dir(b.rays, b.offset);
    Array<int32_t> tri(b.rays, b.offset), mask(b.rays, b.offset);
    fillDirections(in, dir);
    fillMask(in, mask, INT32_MAX);
    std::vector<int32_t> maskIn(mask.data(), mask.data() + b.rays);
    dir.snapshot(), tri.sentinel(), mask.snapshot();
    FUZZ_REQUIRE(vekrIntersectAnySO_32f(origin, dir.in(), tri.data(), mask.data(), b.size, &s.context) == vekStsOk,
                 "status");
    FUZZ_REQUIRE(dir.unchanged(), "directions written");
    if (b.empty()) FUZZ_REQUIRE(tri.unchanged() && mask.unchanged(), "empty block written");
    for (size_t i = 0; i < b.rays; ++i) {
        FUZZ_REQUIRE(s.validTriangle(tri[i]), "ray %zu: blocker %d", i, tri[i]);
        FUZZ_REQUIRE(mask[i] == maskIn[i] || mask[i] == -1, "ray %zu: mask %d -> %d", i, maskIn[i], mask[i]);
        // A ray newly marked blocked names its blocker.
        if (maskIn[i] >= 0 && mask[i] == -1) FUZZ_REQUIRE(tri[i] >= 0, "ray %zu blocked by no triangle", i);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in(data, size);
    const uint8_t which = in.u8() % 4;
    const Scene scene(in);
    const Block block(in);
    switch (which) {
    case 0: closestMO(in, scene, block); break;
    case 1: closestEye(in, scene, block); break;
    case 2: multiple(in, scene, block); break;
    default: any(in, scene, block); break;
    }
    return 0;
}
