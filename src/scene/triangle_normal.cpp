// Unit geometric normals of all triangles, in parallel over the triangles.

#include <cmath>
#include <cstddef>

#include "scene/triangle_geometry.h"
#include "vekcore.h"
#include "vekr.h"

namespace {

void writeUnitNormal(const float* vertices, const int32_t* triangles, int32_t j, float* out)
{
    const vekr::TriangleEdges g = vekr::triangleEdges(vertices, triangles, j);
    const double s = g.n[0] * g.n[0] + g.n[1] * g.n[1] + g.n[2] * g.n[2];
    if (s < vekr::kTinyNormal) {
        out[0] = out[1] = out[2] = 0.0f;
        return;
    }
    const double len = std::sqrt(s);
    for (int k = 0; k < 3; ++k) out[k] = static_cast<float>(g.n[k] / len);
}

}  // namespace

extern "C" VEKR_API VekStatus VEK_CALL vekrTriangleNormal_32f(const float* pVertex, const int32_t* pTriangle,
                                                             float* pNormal, int32_t triangleCount)
{
    if (!pVertex || !pTriangle || !pNormal) return vekStsNullPtrErr;
    if (triangleCount < 1) return vekStsOk;

    // Every triangle is written by exactly one thread and each result is a
    // function of its own triangle alone, so the output is the same for any
    // number of threads the runtime grants. A static schedule gives each
    // thread one contiguous block of the output.
    const int threads = ownGetNumThreads();
#pragma omp parallel for schedule(static) num_threads(threads)
    for (int32_t j = 0; j < triangleCount; ++j) writeUnitNormal(pVertex, pTriangle, j, pNormal + 3 * static_cast<ptrdiff_t>(j));
    return vekStsOk;
}
