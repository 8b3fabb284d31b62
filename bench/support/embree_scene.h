// One triangle scene handed to Embree 3, from the library's input layout
// (three floats per vertex, four index words per triangle), for the peer
// figures of the ray and whole-program benchmarks.
#ifndef VEKR_BENCH_SUPPORT_EMBREE_SCENE_H
#define VEKR_BENCH_SUPPORT_EMBREE_SCENE_H

#include <embree3/rtcore.h>

#include <cstdint>
#include <cstring>

namespace vekr_bench {

inline RTCScene newEmbreeScene(RTCDevice device, const float* vertices, int32_t vertexCount, const int32_t* triangles,
                               int32_t triangleCount, RTCBuildQuality quality)
{
    RTCGeometry g = rtcNewGeometry(device, RTC_GEOMETRY_TYPE_TRIANGLE);
    auto* v = static_cast<float*>(rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3,
                                                          3 * sizeof(float), static_cast<size_t>(vertexCount)));
    std::memcpy(v, vertices, 3 * static_cast<size_t>(vertexCount) * sizeof(float));
    auto* t = static_cast<uint32_t*>(rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3,
                                                             3 * sizeof(uint32_t), static_cast<size_t>(triangleCount)));
    for (int32_t i = 0; i < triangleCount; ++i)
        for (int k = 0; k < 3; ++k) t[3 * i + k] = static_cast<uint32_t>(triangles[4 * static_cast<size_t>(i) + k]);
    rtcSetGeometryBuildQuality(g, quality);
    rtcCommitGeometry(g);
    RTCScene scene = rtcNewScene(device);
    rtcSetSceneBuildQuality(scene, quality);
    rtcAttachGeometry(scene, g);
    rtcReleaseGeometry(g);
    rtcCommitScene(scene);
    return scene;
}

}  // namespace vekr_bench

#endif
