// Tile loop of the renderer.
//
// The image is cut into 16 x 16 tiles, handed out to OpenMP threads one at a
// time. Every thread owns one set of per-ray planes (16-byte aligned, 256
// entries each, so full tiles meet the library's 4-wide and packet paths) and
// runs the whole pipeline on its tile:
//
//   eye rays -> closest hit -> hit points and normals -> normals turned to the
//   viewer -> light vectors, with rays whose surface faces away from the
//   light dropped from the light mask -> shadow rays from the light, which
//   drop every blocked point from the light mask -> cosine at the light and distance
//   falloff -> ambient plus diffuse accumulated into the tile's colour.
//
// Triangle numbers from the intersection serve as the mask of every shading
// step, so missed pixels cost nothing after the intersection.
//
// Mirrors: where a hit triangle mirrors part of the light, the ray is
// reflected about the normal at the hit point and the same pipeline shades
// what it sees, weighted by the mirrored share, for up to job.bounces
// bounces.
//
// The x-ray picture replaces all of that by one successive-hit call per
// tile: a pixel's brightness is the number of surfaces its ray passes
// through, up to the chosen number of layers.
#include "renderer.h"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "aligned_memory.h"

namespace vekr_render {

namespace {

constexpr int32_t kTile = 16;
constexpr int32_t kTileRays = kTile * kTile;

// Hit points sit this fraction of the distance along the ray, just short of
// the surface.
constexpr float kHitPullBack = 0.9999f;

constexpr float kNoLimit = 1e30f;

using Clock = std::chrono::steady_clock;

struct FreeDeleter {
    void operator()(void* p) const { portable_aligned_free(p); }
};

// All per-ray planes of one thread, carved from one aligned allocation.
class TileBuffers {
public:
    // Allocation failure leaves ok() false instead of throwing: the
    // buffers are made inside an OpenMP region, which no exception may
    // leave.
    explicit TileBuffers(int32_t layers)
        : store_(static_cast<float*>(portable_aligned_alloc(64, kPlanes * kTileRays * sizeof(float)))),
          layers_(static_cast<float*>(portable_aligned_alloc(64, 4 * std::max(layers, 1) * kTileRays * sizeof(float))))
    {
        if (!store_ || !layers_) return;
        const size_t layerEntries = static_cast<size_t>(std::max(layers, 1)) * kTileRays;
        layerDist = layers_.get();
        layerUV[0] = layerDist + layerEntries;
        layerUV[1] = layerUV[0] + layerEntries;
        layerTri = reinterpret_cast<int32_t*>(layerUV[1] + layerEntries);
        std::memset(store_.get(), 0, kPlanes * kTileRays * sizeof(float));
        float* p = store_.get();
        auto take = [&p]() {
            float* q = p;
            p += kTileRays;
            return q;
        };
        for (auto* planes : {origin, dir, hit, normal, shadowDir, albedo, color, mirror, weight, total})
            for (int k = 0; k < 3; ++k) planes[k] = take();
        dist = take();
        uv[0] = take();
        uv[1] = take();
        cosView = take();
        dotLight = take();
        lightDist = take();
        falloff = take();
        ones = take();
        tri = reinterpret_cast<int32_t*>(take());
        lit = reinterpret_cast<int32_t*>(take());
        blocker = reinterpret_cast<int32_t*>(take());
        primaryTri = reinterpret_cast<int32_t*>(take());
        reflecting = reinterpret_cast<int32_t*>(take());
        std::fill(ones, ones + kTileRays, 1.0f);
    }

    bool ok() const { return store_ && layers_; }

    float* origin[3];
    float* dir[3];
    float* hit[3];
    float* normal[3];
    float* shadowDir[3];
    float* albedo[3];
    float* color[3];
    float* mirror[3];  // mirrored share at the present hits
    float* weight[3];  // share of the pixel that the present rays carry
    float* total[3];   // the pixel's colour summed over the bounces
    float* dist;
    float* uv[2];
    float* cosView;
    float* dotLight;
    float* lightDist;
    float* falloff;
    float* ones;
    int32_t* tri;
    int32_t* lit;
    int32_t* blocker;
    int32_t* primaryTri;  // triangle seen by each eye ray
    int32_t* reflecting;  // rays that go on to a mirror bounce, -1 for the others
    // Hit planes of the x-ray picture, one per layer.
    float* layerDist;
    float* layerUV[2];
    int32_t* layerTri;

private:
    static constexpr int kPlanes = 10 * 3 + 13;
    std::unique_ptr<float, FreeDeleter> store_;
    std::unique_ptr<float, FreeDeleter> layers_;
};

// Writes a tile's colours and first triangles into the image.
void storeTile(const TileBuffers& b, const int32_t* tri, int32_t tileCol, int32_t tileRow, int32_t w, int32_t h,
               Image& image)
{
    for (int32_t r = 0; r < h; ++r) {
        const size_t row = static_cast<size_t>(tileRow * kTile + r) * static_cast<size_t>(image.width);
        for (int32_t c = 0; c < w; ++c) {
            const size_t px = row + static_cast<size_t>(tileCol * kTile + c);
            const int32_t i = r * w + c;
            image.triangle[px] = tri[i];
            for (int k = 0; k < 3; ++k) image.rgb[3 * px + k] = b.color[k][i];
        }
    }
}

// X-ray tile: the eye rays in b.dir are followed through up to
// job.xrayLayers surfaces; brightness grows with the count. Returns the
// seconds spent in the intersection call.
double renderXrayTile(const RenderJob& job, TileBuffers& b, int32_t tileCol, int32_t tileRow, int32_t w, int32_t h,
                      Image& image)
{
    const int32_t n = w * h;
    std::fill(b.layerDist, b.layerDist + n, kNoLimit);
    const auto start = Clock::now();
    vekrIntersectMultipleSO_32f(job.camera.eye, b.dir, b.layerDist, b.layerUV, b.layerTri, VekrSize{w, h},
                                job.xrayLayers, &job.scene);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (int32_t i = 0; i < n; ++i) {
        int32_t count = 0;
        while (count < job.xrayLayers && b.layerTri[static_cast<size_t>(count) * n + i] >= 0) ++count;
        const float level = static_cast<float>(count) / static_cast<float>(job.xrayLayers);
        b.color[0][i] = 0.6f * level;
        b.color[1][i] = 0.85f * level;
        b.color[2][i] = level;
    }
    storeTile(b, b.layerTri, tileCol, tileRow, w, h, image);
    return seconds;
}

double traceAndShade(const RenderJob& job, TileBuffers& b, int32_t w, int32_t h);
void reflect(const RenderJob& job, TileBuffers& b, int32_t w, int32_t h);

// Shades tile (tileCol, tileRow) into the image; returns the seconds spent
// in the primary intersection call.
double renderTile(const RenderJob& job, TileBuffers& b, int32_t tileCol, int32_t tileRow, Image& image)
{
    const int32_t w = std::min(kTile, job.width - tileCol * kTile);
    const int32_t h = std::min(kTile, job.height - tileRow * kTile);
    const int32_t n = w * h;

    vekrCastEye_32f(job.camera.d00, job.camera.du, job.camera.dv, tileCol + job.windowCol / kTile,
                    tileRow + job.windowRow / kTile, VekrSize{kTile, kTile}, b.dir, VekrSize{w, h});
    if (job.xrayLayers > 0) return renderXrayTile(job, b, tileCol, tileRow, w, h, image);
    for (int k = 0; k < 3; ++k) std::fill(b.origin[k], b.origin[k] + n, job.camera.eye[k]);
    std::fill(b.dist, b.dist + n, kNoLimit);

    double seconds = traceAndShade(job, b, w, h);
    std::memcpy(b.primaryTri, b.tri, sizeof(int32_t) * static_cast<size_t>(n));
    if (job.bounces > 0 && job.mesh->hasMirrors()) reflect(job, b, w, h);
    storeTile(b, b.primaryTri, tileCol, tileRow, w, h, image);
    return seconds;
}

// Traces the rays of b.origin and b.dir up to b.dist and shades what they
// hit into b.color (0 for misses). Returns the seconds spent in the
// closest-hit call.
double traceAndShade(const RenderJob& job, TileBuffers& b, int32_t w, int32_t h)
{
    const Mesh& mesh = *job.mesh;
    const Lighting& lighting = job.lighting;
    const int32_t n = w * h;
    const auto start = Clock::now();
    vekrIntersectMO_32f(b.origin, b.dir, b.dist, b.uv, b.tri, &job.scene, VekrSize{w, h});
    const double intersectSeconds = std::chrono::duration<double>(Clock::now() - start).count();

    vekrHitPoint3DEpsM0_32f_M(b.origin, b.dir, b.dist, b.tri, b.hit, n, kHitPullBack);
    if (job.smoothNormals)
        vekrSurfSmoothNormal_32f(mesh.vertexNormals.data(), mesh.triangles.data(), b.tri, b.uv, b.normal, n, 4);
    else
        vekrSurfFlatNormal_32f(job.triangleNormals, b.tri, b.normal, n);
    vekrDotChangeNorm_32f_IM(b.dir, b.tri, b.normal, b.cosView, n);

    // Light vectors; the light mask keeps only surfaces that face the light
    // from the viewer's side.
    std::memcpy(b.lit, b.tri, sizeof(int32_t) * static_cast<size_t>(n));
    vekrCastShadowSO_32f(lighting.light, b.cosView, b.normal, b.hit, b.lit, b.dotLight, b.shadowDir, n);
    // The hit points sit just short of their surfaces, so a shadow ray ends
    // (t = 1) before it could meet its own triangle.
    if (job.shadows) vekrIntersectAnySO_32f(lighting.light, b.shadowDir, b.blocker, b.lit, VekrSize{w, h}, &job.scene);
    vekrDistAttenuationSO_32f_M(lighting.light, b.hit, b.lit, b.lightDist, n);
    vekrDiv_32f_C1IM(b.lightDist, b.lit, b.dotLight, n);  // |N.D| / |D|: the cosine at the light
    std::fill(b.falloff, b.falloff + n, lighting.falloffDistance);
    vekrDiv_32f_C1IM(b.lightDist, b.lit, b.falloff, n);

    for (int k = 0; k < 3; ++k) std::fill(b.color[k], b.color[k] + n, 0.0f);
    vekrSurfFlatNormal_32f(mesh.triangleColors.data(), b.tri, b.albedo, n);  // gathers each hit's albedo
    vekrAddMulMul_32f_AC1P3IM(lighting.ambient, b.ones, b.albedo, b.tri, b.color, n);
    vekrMul_32f_C1P3IM(b.dotLight, b.lit, b.albedo, n);
    vekrAddMulMul_32f_AC1P3IM(lighting.lightColor, b.falloff, b.albedo, b.lit, b.color, n);
    return intersectSeconds;
}

// Follows the mirror bounces of the rays just shaded: b.color becomes the
// sum over the bounces, each hit contributing its unmirrored share.
void reflect(const RenderJob& job, TileBuffers& b, int32_t w, int32_t h)
{
    const Mesh& mesh = *job.mesh;
    const int32_t n = w * h;
    for (int k = 0; k < 3; ++k) {
        std::fill(b.weight[k], b.weight[k] + n, 1.0f);
        std::fill(b.total[k], b.total[k] + n, 0.0f);
    }
    for (int32_t bounce = 0;; ++bounce) {
        // Add this bounce's colour, keep the mirrored share for the next. A
        // reflection that leaves the scene sees the ambient light.
        vekrSurfFlatNormal_32f(mesh.triangleMirror.data(), b.tri, b.mirror, n);
        bool any = false;
        for (int32_t i = 0; i < n; ++i) {
            bool mirrors = false;
            for (int k = 0; k < 3; ++k) {
                const float seen = bounce > 0 && b.tri[i] < 0 ? job.lighting.ambient[k] : b.color[k][i];
                b.total[k][i] += b.weight[k][i] * (1.0f - b.mirror[k][i]) * seen;
                b.weight[k][i] *= b.mirror[k][i];
                mirrors = mirrors || b.weight[k][i] > 0.0f;
            }
            b.reflecting[i] = mirrors ? b.tri[i] : -1;
            any = any || mirrors;
        }
        if (!any || bounce == job.bounces) break;

        // Reflected rays start at the hit points (just short of the mirror,
        // on the side the ray came from); the others are given no length.
        vekrCastReflectionRay_32f(b.dir, b.reflecting, b.normal, b.shadowDir, n);
        for (int32_t i = 0; i < n; ++i) {
            for (int k = 0; k < 3; ++k) {
                b.origin[k][i] = b.hit[k][i];
                b.dir[k][i] = b.shadowDir[k][i];
            }
            b.dist[i] = b.reflecting[i] >= 0 ? kNoLimit : 0.0f;
        }
        traceAndShade(job, b, w, h);
    }
    for (int k = 0; k < 3; ++k) std::memcpy(b.color[k], b.total[k], sizeof(float) * static_cast<size_t>(n));
}

}  // namespace

bool render(const RenderJob& job, Image& image, void (*progress)(int64_t done, int64_t total))
{
    image.width = job.width;
    image.height = job.height;
    const size_t pixels = static_cast<size_t>(job.width) * static_cast<size_t>(job.height);
    image.rgb.assign(3 * pixels, 0.0f);
    image.triangle.assign(pixels, -1);

    const int32_t cols = (job.width + kTile - 1) / kTile;
    const int32_t rows = (job.height + kTile - 1) / kTile;
    const int64_t tiles = static_cast<int64_t>(cols) * rows;
    std::atomic<int64_t> done{0};
    std::atomic<bool> failed{false};
    double intersectSeconds = 0.0;

    const auto start = Clock::now();
#pragma omp parallel num_threads(job.threads) reduction(+ : intersectSeconds)
    {
        TileBuffers buffers(job.xrayLayers);
        if (!buffers.ok()) failed = true;
        auto lastReport = Clock::now();
        // A thread without buffers still takes part in the loop (every
        // thread must), but renders nothing; the caller reports the failure.
#pragma omp for schedule(dynamic, 1)
        for (int64_t t = 0; t < tiles; ++t) {
            if (failed) continue;
            intersectSeconds += renderTile(job, buffers, static_cast<int32_t>(t % cols), static_cast<int32_t>(t / cols),
                                           image);
            const int64_t finished = ++done;
            if (progress && omp_get_thread_num() == 0 && Clock::now() - lastReport > std::chrono::milliseconds(100)) {
                lastReport = Clock::now();
                progress(finished, tiles);
            }
        }
    }
    image.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    image.intersectSeconds = intersectSeconds;
    if (failed) return false;
    if (progress) progress(tiles, tiles);
    return true;
}

}  // namespace vekr_render
