// Peer figures on the same workloads: Embree 3 single rays (rtcIntersect1,
// rtcOccluded1) and 4-ray packets (rtcIntersect4, rtcOccluded4), writing
// the same planar outputs (t, u, v, triangle number or -1; for W2 the mask).
// Compiled in when the Embree 3 package is installed; otherwise the same
// rows are registered as errors that say the peer is absent, so a table
// without peer figures never looks complete.
//
// VEKR_BENCH_EMBREE_CONFIG is handed to rtcNewDevice as it is; with
// "isa=sse4.2" Embree is held to the SSE instruction sets that vekr uses,
// which gives a same-ISA figure beside the default (AVX2 / AVX-512) one.
#include "ray_workloads.h"

#include <cstdio>

#ifdef VEKR_HAVE_EMBREE
#include <embree3/rtcore.h>

#include <cmath>
#include <cstdlib>
#include <string>

namespace vekr_bench {

namespace {

struct PeerScene {
    RTCDevice device = nullptr;
    RTCScene scene = nullptr;
};

const PeerScene& peerScene(int which)
{
    static PeerScene peers[2];
    PeerScene& p = peers[which];
    if (p.scene) return p;
    const SceneSet& s = sceneSet(which);
    if (!s.ok) return p;
    p.device = rtcNewDevice(std::getenv("VEKR_BENCH_EMBREE_CONFIG"));
    RTCGeometry g = rtcNewGeometry(p.device, RTC_GEOMETRY_TYPE_TRIANGLE);
    auto* v = static_cast<float*>(rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3,
                                                          3 * sizeof(float), static_cast<size_t>(s.vertexCount)));
    std::memcpy(v, s.vertices.data(), s.vertices.size() * sizeof(float));
    auto* t = static_cast<uint32_t*>(rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3,
                                                             3 * sizeof(uint32_t),
                                                             static_cast<size_t>(s.triangleCount)));
    for (int32_t i = 0; i < s.triangleCount; ++i)
        for (int k = 0; k < 3; ++k) t[3 * i + k] = static_cast<uint32_t>(s.triangles[4 * static_cast<size_t>(i) + k]);
    rtcCommitGeometry(g);
    p.scene = rtcNewScene(p.device);
    rtcAttachGeometry(p.scene, g);
    rtcReleaseGeometry(g);
    rtcCommitScene(p.scene);
    return p;
}

// Fills a single ray or lane l of a 4-ray packet (Ray is RTCRay or RTCRay4).
template <class Ray, class Field>
void setRay(Ray& r, Field at, const float o[3], float dx, float dy, float dz, float tfar)
{
    at(r.org_x) = o[0];
    at(r.org_y) = o[1];
    at(r.org_z) = o[2];
    at(r.dir_x) = dx;
    at(r.dir_y) = dy;
    at(r.dir_z) = dz;
    at(r.tnear) = 0.0f;
    at(r.tfar) = tfar;
    at(r.time) = 0.0f;
    at(r.mask) = 0xFFFFFFFFu;
    at(r.id) = 0u;
    at(r.flags) = 0u;
}

inline auto single()
{
    return [](auto& field) -> auto& { return field; };
}

inline auto lane(int l)
{
    return [l](auto& field) -> auto& { return field[l]; };
}

struct Outputs {
    Plane<float> dist{kRays}, u{kRays}, v{kRays};
    Plane<int32_t> tri{kRays};
};

// W1 (shared eye) or W3 (per-ray origins) closest hits.
void peerClosest(benchmark::State& state, bool incoherent, bool fourWide)
{
    const int which = static_cast<int>(state.range(0));
    const SceneSet& s = sceneSet(which);
    const PeerScene& peer = peerScene(which);
    if (!s.ok || !peer.scene) {
        state.SkipWithError("scene unavailable");
        return;
    }
    const std::vector<float>* d = incoherent ? s.w3d : s.w1;
    Outputs out;
    RTCIntersectContext ctx;
    rtcInitIntersectContext(&ctx);
    for (auto _ : state) {
        if (!fourWide) {
            for (size_t i = 0; i < kRays; ++i) {
                RTCRayHit rh;
                const float o[3] = {incoherent ? s.w3o[0][i] : s.cam.eye[0], incoherent ? s.w3o[1][i] : s.cam.eye[1],
                                    incoherent ? s.w3o[2][i] : s.cam.eye[2]};
                setRay(rh.ray, single(), o, d[0][i], d[1][i], d[2][i], WL_TFAR);
                rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
                rtcIntersect1(peer.scene, &ctx, &rh);
                const bool hit = rh.hit.geomID != RTC_INVALID_GEOMETRY_ID;
                out.dist.p[i] = rh.ray.tfar;
                out.u.p[i] = rh.hit.u;
                out.v.p[i] = rh.hit.v;
                out.tri.p[i] = hit ? static_cast<int32_t>(rh.hit.primID) : -1;
            }
        } else {
            alignas(16) const int valid[4] = {-1, -1, -1, -1};
            for (size_t i = 0; i < kRays; i += 4) {
                alignas(16) RTCRayHit4 rh;
                for (int l = 0; l < 4; ++l) {
                    const size_t j = i + l;
                    const float o[3] = {incoherent ? s.w3o[0][j] : s.cam.eye[0],
                                        incoherent ? s.w3o[1][j] : s.cam.eye[1],
                                        incoherent ? s.w3o[2][j] : s.cam.eye[2]};
                    setRay(rh.ray, lane(l), o, d[0][j], d[1][j], d[2][j], WL_TFAR);
                    rh.hit.geomID[l] = RTC_INVALID_GEOMETRY_ID;
                }
                rtcIntersect4(valid, peer.scene, &ctx, &rh);
                for (int l = 0; l < 4; ++l) {
                    const bool hit = rh.hit.geomID[l] != RTC_INVALID_GEOMETRY_ID;
                    out.dist.p[i + l] = rh.ray.tfar[l];
                    out.u.p[i + l] = rh.hit.u[l];
                    out.v.p[i + l] = rh.hit.v[l];
                    out.tri.p[i + l] = hit ? static_cast<int32_t>(rh.hit.primID[l]) : -1;
                }
            }
        }
        benchmark::ClobberMemory();
    }
    size_t hits = 0;
    for (size_t i = 0; i < kRays; ++i) hits += out.tri.p[i] >= 0;
    state.counters["hits"] = static_cast<double>(hits);
    reportRays(state, s, kRays);
}

// W2: the shadow rays of the W1 hits, t = 1 excluded.
void peerOcclusion(benchmark::State& state, bool fourWide)
{
    const int which = static_cast<int>(state.range(0));
    const SceneSet& s = sceneSet(which);
    const PeerScene& peer = peerScene(which);
    if (!s.ok || !peer.scene) {
        state.SkipWithError("scene unavailable");
        return;
    }
    const float end = std::nextafter(1.0f, 0.0f);
    Plane<int32_t> mask(kRays);
    RTCIntersectContext ctx;
    rtcInitIntersectContext(&ctx);
    for (auto _ : state) {
        state.PauseTiming();
        mask.assign(s.w2mask);
        state.ResumeTiming();
        if (!fourWide) {
            for (size_t i = 0; i < kRays; ++i) {
                if (mask.p[i] < 0) continue;
                RTCRay r;
                setRay(r, single(), s.cam.light, s.w2[0][i], s.w2[1][i], s.w2[2][i], end);
                rtcOccluded1(peer.scene, &ctx, &r);
                if (r.tfar < 0.0f) mask.p[i] = -1;
            }
        } else {
            for (size_t i = 0; i < kRays; i += 4) {
                alignas(16) int valid[4];
                int any = 0;
                for (int l = 0; l < 4; ++l) any |= valid[l] = mask.p[i + l] >= 0 ? -1 : 0;
                if (!any) continue;
                alignas(16) RTCRay4 r;
                for (int l = 0; l < 4; ++l)
                    setRay(r, lane(l), s.cam.light, s.w2[0][i + l], s.w2[1][i + l], s.w2[2][i + l], end);
                rtcOccluded4(valid, peer.scene, &ctx, &r);
                for (int l = 0; l < 4; ++l)
                    if (valid[l] && r.tfar[l] < 0.0f) mask.p[i + l] = -1;
            }
        }
        benchmark::ClobberMemory();
    }
    size_t blocked = 0;
    for (size_t i = 0; i < kRays; ++i) blocked += s.w2mask[i] >= 0 && mask.p[i] < 0;
    state.counters["blocked"] = static_cast<double>(blocked);
    reportRays(state, s, s.w1Hits);
}

}  // namespace

void registerPeerBenchmarks()
{
    benchmark::AddCustomContext("embree_peer", "Embree " RTC_VERSION_STRING);
    for (bool fourWide : {false, true}) {
        const std::string suffix = fourWide ? "4" : "1";
        benchmark::RegisterBenchmark(("W1/embree/rtcIntersect" + suffix).c_str(), peerClosest, false, fourWide)
            ->Arg(kBunny)->Arg(kSpheres)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("W2/embree/rtcOccluded" + suffix).c_str(), peerOcclusion, fourWide)
            ->Arg(kBunny)->Arg(kSpheres)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("W3/embree/rtcIntersect" + suffix).c_str(), peerClosest, true, fourWide)
            ->Arg(kBunny)->Arg(kSpheres)->Unit(benchmark::kMillisecond);
    }
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
