// Peer figures on the same workloads: Embree 3 single rays (rtcIntersect1,
// rtcOccluded1) and 4-, 8- and 16-ray packets (rtcIntersect4/8/16,
// rtcOccluded4/8/16), each over a BVH of medium and of high build quality,
// writing the same planar outputs (t, u, v, triangle number or -1; for W2
// the mask). A reader comparing libraries looks at each one's best setting,
// so every width and quality Embree offers is measured. Compiled in when the
// Embree 3 package is installed; otherwise the same rows are registered as
// errors that say the peer is absent, so a table without peer figures never
// looks complete.
//
// VEKR_BENCH_EMBREE_CONFIG is handed to rtcNewDevice as it is; with
// "isa=sse4.2" Embree is held to the SSE instruction sets that vekr uses,
// which gives a same-ISA figure beside the default (AVX2 / AVX-512) one.
// Packets wider than the ISA's vectors are still served (Embree splits them).
#include "ray_workloads.h"

#include <cstdio>

#ifdef VEKR_HAVE_EMBREE
#include <embree3/rtcore.h>

#include "support/embree_scene.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace vekr_bench {

namespace {

constexpr int kMedium = 0, kHigh = 1;

struct PeerScene {
    RTCDevice device = nullptr;
    RTCScene scene = nullptr;
};

const PeerScene& peerScene(int which, int quality)
{
    static PeerScene peers[2][2];
    PeerScene& p = peers[which][quality];
    if (p.scene) return p;
    const SceneSet& s = sceneSet(which);
    if (!s.ok) return p;
    p.device = rtcNewDevice(std::getenv("VEKR_BENCH_EMBREE_CONFIG"));
    const RTCBuildQuality q = quality == kHigh ? RTC_BUILD_QUALITY_HIGH : RTC_BUILD_QUALITY_MEDIUM;
    p.scene = newEmbreeScene(p.device, s.vertices.data(), s.vertexCount, s.triangles.data(), s.triangleCount, q);
    return p;
}

// The ray and hit types and the calls of one packet width.
template <int N>
struct Width;
template <>
struct Width<1> {
    using Ray = RTCRay;
    using RayHit = RTCRayHit;
    static void intersect(const int*, RTCScene s, RTCIntersectContext* c, RayHit* r) { rtcIntersect1(s, c, r); }
    static void occluded(const int*, RTCScene s, RTCIntersectContext* c, Ray* r) { rtcOccluded1(s, c, r); }
};
#define VEKR_EMBREE_WIDTH(n)                                                                               \
    template <>                                                                                            \
    struct Width<n> {                                                                                      \
        using Ray = RTCRay##n;                                                                             \
        using RayHit = RTCRayHit##n;                                                                       \
        static void intersect(const int* v, RTCScene s, RTCIntersectContext* c, RayHit* r)                \
        {                                                                                                  \
            rtcIntersect##n(v, s, c, r);                                                                   \
        }                                                                                                  \
        static void occluded(const int* v, RTCScene s, RTCIntersectContext* c, Ray* r)                    \
        {                                                                                                  \
            rtcOccluded##n(v, s, c, r);                                                                    \
        }                                                                                                  \
    };
VEKR_EMBREE_WIDTH(4)
VEKR_EMBREE_WIDTH(8)
VEKR_EMBREE_WIDTH(16)
#undef VEKR_EMBREE_WIDTH

// A field of a single ray, or lane l of a packet's field.
template <int N, class F>
auto& at(F& field, int l)
{
    if constexpr (N == 1) {
        (void)l;
        return field;
    } else {
        return field[l];
    }
}

template <int N, class Ray>
void setRay(Ray& r, int l, const float o[3], float dx, float dy, float dz, float tfar)
{
    at<N>(r.org_x, l) = o[0];
    at<N>(r.org_y, l) = o[1];
    at<N>(r.org_z, l) = o[2];
    at<N>(r.dir_x, l) = dx;
    at<N>(r.dir_y, l) = dy;
    at<N>(r.dir_z, l) = dz;
    at<N>(r.tnear, l) = 0.0f;
    at<N>(r.tfar, l) = tfar;
    at<N>(r.time, l) = 0.0f;
    at<N>(r.mask, l) = 0xFFFFFFFFu;
    at<N>(r.id, l) = 0u;
    at<N>(r.flags, l) = 0u;
}

struct Outputs {
    Plane<float> dist{kRays}, u{kRays}, v{kRays};
    Plane<int32_t> tri{kRays};
};

// W1 (shared eye) or W3 (per-ray origins) closest hits, N rays per call.
template <int N>
void peerClosest(benchmark::State& state, bool incoherent)
{
    const int which = static_cast<int>(state.range(0));
    const SceneSet& s = sceneSet(which);
    const PeerScene& peer = peerScene(which, static_cast<int>(state.range(1)));
    if (!s.ok || !peer.scene) {
        state.SkipWithError("scene unavailable");
        return;
    }
    const std::vector<float>* d = incoherent ? s.w3d : s.w1;
    Outputs out;
    RTCIntersectContext ctx;
    rtcInitIntersectContext(&ctx);
    // Camera rays are coherent; telling Embree so is its best setting there.
    if (!incoherent) ctx.flags = RTC_INTERSECT_CONTEXT_FLAG_COHERENT;
    alignas(64) int valid[N];
    for (int l = 0; l < N; ++l) valid[l] = -1;
    for (auto _ : state) {
        for (size_t i = 0; i < kRays; i += N) {
            alignas(64) typename Width<N>::RayHit rh;
            for (int l = 0; l < N; ++l) {
                const size_t j = i + l;
                const float o[3] = {incoherent ? s.w3o[0][j] : s.cam.eye[0], incoherent ? s.w3o[1][j] : s.cam.eye[1],
                                    incoherent ? s.w3o[2][j] : s.cam.eye[2]};
                setRay<N>(rh.ray, l, o, d[0][j], d[1][j], d[2][j], WL_TFAR);
                at<N>(rh.hit.geomID, l) = RTC_INVALID_GEOMETRY_ID;
            }
            Width<N>::intersect(valid, peer.scene, &ctx, &rh);
            for (int l = 0; l < N; ++l) {
                const bool hit = at<N>(rh.hit.geomID, l) != RTC_INVALID_GEOMETRY_ID;
                out.dist.p[i + l] = at<N>(rh.ray.tfar, l);
                out.u.p[i + l] = at<N>(rh.hit.u, l);
                out.v.p[i + l] = at<N>(rh.hit.v, l);
                out.tri.p[i + l] = hit ? static_cast<int32_t>(at<N>(rh.hit.primID, l)) : -1;
            }
        }
        benchmark::ClobberMemory();
    }
    size_t hits = 0;
    for (size_t i = 0; i < kRays; ++i) hits += out.tri.p[i] >= 0;
    state.counters["hits"] = static_cast<double>(hits);
    reportRays(state, s, kRays);
}

// W2: the shadow rays of the W1 hits, t = 1 excluded, N rays per call.
template <int N>
void peerOcclusion(benchmark::State& state)
{
    const int which = static_cast<int>(state.range(0));
    const SceneSet& s = sceneSet(which);
    const PeerScene& peer = peerScene(which, static_cast<int>(state.range(1)));
    if (!s.ok || !peer.scene) {
        state.SkipWithError("scene unavailable");
        return;
    }
    const float end = std::nextafter(1.0f, 0.0f);
    Plane<int32_t> mask(kRays);
    RTCIntersectContext ctx;
    rtcInitIntersectContext(&ctx);
    ctx.flags = RTC_INTERSECT_CONTEXT_FLAG_COHERENT;  // shadow rays of camera rays, from one light
    for (auto _ : state) {
        state.PauseTiming();
        mask.assign(s.w2mask);
        state.ResumeTiming();
        for (size_t i = 0; i < kRays; i += N) {
            alignas(64) int valid[N];
            int any = 0;
            for (int l = 0; l < N; ++l) any |= valid[l] = mask.p[i + l] >= 0 ? -1 : 0;
            if (!any) continue;
            alignas(64) typename Width<N>::Ray r;
            for (int l = 0; l < N; ++l)
                setRay<N>(r, l, s.cam.light, s.w2[0][i + l], s.w2[1][i + l], s.w2[2][i + l], end);
            Width<N>::occluded(valid, peer.scene, &ctx, &r);
            for (int l = 0; l < N; ++l)
                if (valid[l] && at<N>(r.tfar, l) < 0.0f) mask.p[i + l] = -1;
        }
        benchmark::ClobberMemory();
    }
    size_t blocked = 0;
    for (size_t i = 0; i < kRays; ++i) blocked += s.w2mask[i] >= 0 && mask.p[i] < 0;
    state.counters["blocked"] = static_cast<double>(blocked);
    reportRays(state, s, s.w1Hits);
}

template <int N>
void registerWidth()
{
    const std::string n = std::to_string(N);
    // Arguments: scene, then BVH build quality (0 medium, 1 high).
    const auto args = [](benchmark::internal::Benchmark* b) {
        for (int scene : {kBunny, kSpheres})
            for (int q : {kMedium, kHigh}) b->Args({scene, q});
        b->ArgNames({"scene", "high"})->Unit(benchmark::kMillisecond);
    };
    args(benchmark::RegisterBenchmark(("W1/embree/rtcIntersect" + n).c_str(), peerClosest<N>, false));
    args(benchmark::RegisterBenchmark(("W2/embree/rtcOccluded" + n).c_str(), peerOcclusion<N>));
    args(benchmark::RegisterBenchmark(("W3/embree/rtcIntersect" + n).c_str(), peerClosest<N>, true));
}

}  // namespace

void registerPeerBenchmarks()
{
    benchmark::AddCustomContext("embree_peer", "Embree " RTC_VERSION_STRING);
    static_assert(kRays % 16 == 0, "the packet loops take whole packets");
    registerWidth<1>();
    registerWidth<4>();
    registerWidth<8>();
    registerWidth<16>();
}

}  // namespace vekr_bench

#else

namespace vekr_bench {

namespace {

constexpr const char* kAbsent =
    "Embree peer absent: this program was built without Embree 3 (install libembree-dev, e.g. with "
    "scripts/setup-deps --peers, and configure again)";

void peerAbsent(benchmark::State& state)
{
    state.SkipWithError(kAbsent);
}

}  // namespace

void registerPeerBenchmarks()
{
    benchmark::AddCustomContext("embree_peer", "absent");
    std::fprintf(stderr, "%s\n", kAbsent);
    for (const char* name : {"W1/embree/rtcIntersect", "W2/embree/rtcOccluded", "W3/embree/rtcIntersect"})
        benchmark::RegisterBenchmark(name, peerAbsent)->Arg(kBunny)->Arg(kSpheres);
}

}  // namespace vekr_bench

#endif
