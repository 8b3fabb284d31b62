// The standard scenes in the library's input layout (three floats per
// vertex, four index words per triangle).
#ifndef VEKR_BENCH_SUPPORT_BENCH_SCENES_H
#define VEKR_BENCH_SUPPORT_BENCH_SCENES_H

#include <cstdint>
#include <cstdio>
#include <vector>

#include "workloads.h"

namespace vekr_bench {

struct BenchScene {
    std::vector<float> vertices;
    std::vector<int32_t> triangles;  // 4 per triangle, the fourth 0
    int32_t vertexCount = 0, triangleCount = 0;
};

// which: WL_SCENE_BUNNY (read from the data folder) or WL_SCENE_SPHERES
// (generated). False, after a line on stderr that says why, when the scene
// cannot be had.
inline bool loadBenchScene(int which, BenchScene& s)
{
    wl_mesh m{};
    const char* bunny = VEKR_DATA_DIR "/bunny.obj";
    const int rc = which == WL_SCENE_BUNNY ? wl_load_obj(bunny, &m) : wl_make_spheres(&m);
    if (rc != 0) {
        std::fprintf(stderr, which == WL_SCENE_BUNNY ? "cannot read the bunny scene %s\n" : "%s: out of memory\n",
                     which == WL_SCENE_BUNNY ? bunny : "spheres scene");
        wl_free_mesh(&m);
        return false;
    }
    s.vertexCount = m.nv;
    s.triangleCount = m.nt;
    s.vertices.assign(m.v, m.v + 3 * static_cast<size_t>(m.nv));
    s.triangles.resize(4 * static_cast<size_t>(m.nt));
    for (int32_t t = 0; t < m.nt; ++t) {
        for (int k = 0; k < 3; ++k) s.triangles[4 * static_cast<size_t>(t) + k] = m.idx[3 * static_cast<size_t>(t) + k];
        s.triangles[4 * static_cast<size_t>(t) + 3] = 0;
    }
    wl_free_mesh(&m);
    return true;
}

}  // namespace vekr_bench

#endif
