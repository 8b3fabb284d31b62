// Making, clipping and cutting fragments.
//
// A new vertex on a plane is computed in double precision from the edge in
// the direction it is walked, with the coordinate on the plane's axis set to
// the plane value exactly, so a fragment never pokes through the plane it
// was cut at and the cells below and above agree on it.

#include "scene/sah_fragments.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace vekr::sah {

namespace {

// Fewer whole triangles than this are made on one thread: starting a
// team would cost more than it saves.
constexpr int32_t kThreadedFill = 1 << 16;

// Enough for any rounding pathology of clipping a triangle against three
// slabs; a convex result never has more than nine vertices.
constexpr int kClipCapacity = 96;

struct ClipVertex {
    float c[3];
    VertexRef ref;  // >= 0: a vertex of the caller's array; -1: made here
};

void crossing(const float* p, const float* q, int axis, float plane, float out[3])
{
    const double t = (static_cast<double>(plane) - p[axis]) / (static_cast<double>(q[axis]) - p[axis]);
    for (int b = 0; b < 3; ++b)
        out[b] = b == axis ? plane : static_cast<float>(p[b] + (static_cast<double>(q[b]) - p[b]) * t);
}

// Clips a polygon against lo <= x[axis] <= hi, both planes in one walk.
int clipToSlab(const ClipVertex* in, int n, int axis, float lo, float hi, ClipVertex* out)
{
    int m = 0;
    auto cross = [&](const ClipVertex& p, const ClipVertex& q, float plane) {
        crossing(p.c, q.c, axis, plane, out[m].c);
        out[m++].ref = -1;
    };
    for (int i = 0; i < n && m + 3 <= kClipCapacity; ++i) {
        const ClipVertex& p = in[i];
        const ClipVertex& q = in[i + 1 == n ? 0 : i + 1];
        const float pa = p.c[axis], qa = q.c[axis];
        if (lo <= pa && pa <= hi) out[m++] = p;
        if (qa > pa) {
            if (pa < lo && lo < qa) cross(p, q, lo);
            if (pa < hi && hi < qa) cross(p, q, hi);
        } else {
            if (qa < hi && hi < pa) cross(p, q, hi);
            if (qa < lo && lo < pa) cross(p, q, lo);
        }
    }
    return m;
}

VekStatus newArenaVertex(Context& ctx, const float c[3], VertexRef* ref)
{
    uint32_t at;
    if (!ctx.vertices3.take(12, &at)) return vekStsMemAllocErr;
    std::memcpy(ctx.vertices3.base + at, c, 12);
    *ref = ~static_cast<VertexRef>(at / 4);
    return vekStsOk;
}

// Writes a polygon of count references into the record and fills its entry.
void fillFragment(const Context& ctx, int32_t triangle, const VertexRef* refs, const float* const* points, int count,
                  uint32_t record, Fragment* out)
{
    std::memcpy(ctx.polygonAt(record), refs, 4 * static_cast<size_t>(count));
    out->head = static_cast<int32_t>((static_cast<uint32_t>(triangle) << 5) | static_cast<uint32_t>(count));
    out->extremes = extremeWord(points, count);
    out->polygon = record;
}

// Stores a polygon of count references as a new record and fills its entry.
VekStatus makeFragment(Context& ctx, int32_t triangle, const VertexRef* refs, const float* const* points, int count,
                       Fragment* out)
{
    if (count > kMaxPolygonVertices) return vekStsErr;
    uint32_t record;
    const VekStatus st = takePolygon(ctx, count, &record);
    if (st != vekStsOk) return st;
    fillFragment(ctx, triangle, refs, points, count, record, out);
    return vekStsOk;
}

VekStatus wholeTriangles(Context& ctx, int threads, float rootBox[6], int32_t* rootCount, uint32_t* workingArray)
{
    float lo[3], hi[3];
    for (int a = 0; a < 3; ++a) {
        lo[a] = std::numeric_limits<float>::infinity();
        hi[a] = -std::numeric_limits<float>::infinity();
    }
    for (int32_t v = 0; v < ctx.vertexCount; ++v) {
        const float* p = ctx.vertices + 3 * static_cast<int64_t>(v);
        for (int a = 0; a < 3; ++a) {
            if (p[a] < lo[a]) lo[a] = p[a];
            if (p[a] > hi[a]) hi[a] = p[a];
        }
    }
    for (int a = 0; a < 3; ++a) {
        rootBox[a] = lo[a];
        rootBox[3 + a] = hi[a];
    }

    const int32_t n = ctx.triangleCount;
    if (!ctx.entries.take(12 * static_cast<uint32_t>(n), workingArray)) return vekStsMemAllocErr;
    Fragment* entries = ctx.entryAt(*workingArray);
    // The records are taken in triangle order, which fixes where each one
    // lives and where the pool's budget runs out; filling them in, with its
    // scattered vertex reads, can then be shared among threads.
    for (int32_t t = 0; t < n; ++t) {
        const VekStatus st = takePolygon(ctx, 3, &entries[t].polygon);
        if (st != vekStsOk) return st;
    }
    const Context& filled = ctx;
#pragma omp parallel for num_threads(threads) schedule(static) if (threads > 1 && n >= kThreadedFill)
    for (int32_t t = 0; t < n; ++t) {
        const int32_t* tri = filled.triangles + 4 * static_cast<int64_t>(t);
        const VertexRef refs[3] = {tri[0], tri[1], tri[2]};
        const float* points[3] = {filled.vertex(refs[0]), filled.vertex(refs[1]), filled.vertex(refs[2])};
        fillFragment(filled, t, refs, points, 3, entries[t].polygon, &entries[t]);
    }
    *rootCount = n;
    return vekStsOk;
}

VekStatus clippedTriangles(Context& ctx, const float* box, float rootBox[6], int32_t* rootCount,
                           uint32_t* workingArray)
{
    std::memcpy(rootBox, box, 6 * sizeof(float));
    *workingArray = ctx.entries.cursor;
    int32_t survivors = 0;
    ClipVertex bufA[kClipCapacity], bufB[kClipCapacity];
    for (int32_t t = 0; t < ctx.triangleCount; ++t) {
        const int32_t* tri = ctx.triangles + 4 * static_cast<int64_t>(t);
        for (int k = 0; k < 3; ++k) {
            std::memcpy(bufA[k].c, ctx.vertex(tri[k]), 12);
            bufA[k].ref = tri[k];
        }
        ClipVertex* cur = bufA;
        ClipVertex* next = bufB;
        int n = 3;
        for (int a = 0; a < 3 && n >= 3; ++a) {
            n = clipToSlab(cur, n, a, box[a], box[3 + a], next);
            std::swap(cur, next);
        }
        if (n < 3) continue;
        if (n > kMaxPolygonVertices) return vekStsErr;

        VertexRef refs[kMaxPolygonVertices];
        const float* points[kMaxPolygonVertices];
        for (int k = 0; k < n; ++k) {
            if (cur[k].ref >= 0) {
                refs[k] = cur[k].ref;
            } else {
                const VekStatus st = newArenaVertex(ctx, cur[k].c, &refs[k]);
                if (st != vekStsOk) return st;
            }
            points[k] = ctx.vertex(refs[k]);
        }
        uint32_t at;
        if (!ctx.entries.take(12, &at)) return vekStsMemAllocErr;
        const VekStatus st = makeFragment(ctx, t, refs, points, n, ctx.entryAt(at));
        if (st != vekStsOk) return st;
        ++survivors;
    }
    *rootCount = survivors;
    return vekStsOk;
}

}  // namespace

uint32_t extremeWord(const float* const* v, int count)
{
    uint32_t word = 0;
    for (int a = 0; a < 3; ++a) {
        int lo = 0, hi = 0;
        for (int i = 1; i < count; ++i) {
            if (!(v[lo][a] <= v[i][a])) lo = i;
            if (!(v[hi][a] >= v[i][a])) hi = i;
        }
        word |= static_cast<uint32_t>(hi) << (5 * a) | static_cast<uint32_t>(lo) << (5 * a + 15);
    }
    return word;
}

VekStatus makeRootFragments(Context& ctx, const float* buildBox, int threads, float rootBox[6], int32_t* rootCount,
                            uint32_t* workingArray)
{
    return buildBox ? clippedTriangles(ctx, buildBox, rootBox, rootCount, workingArray)
                    : wholeTriangles(ctx, threads, rootBox, rootCount, workingArray);
}

VekStatus cutFragment(Context& ctx, const Fragment& f, int axis, float p, Fragment* lower, Fragment* upper)
{
    const int n = fragmentVertexCount(f);
    const VertexRef* refs = ctx.polygonAt(f.polygon);
    const int start = minVertexIndex(f.extremes, axis);

    // Each vertex or plane crossing adds at most one vertex to each part.
    constexpr int kCap = 2 * kMaxPolygonVertices;
    VertexRef lowRefs[kCap], upRefs[kCap];
    const float* lowPts[kCap];
    const float* upPts[kCap];
    int nLow = 0, nUp = 0;
    for (int i = 0; i < n; ++i) {
        const int ci = (start + i) % n;
        const int ni = ci + 1 == n ? 0 : ci + 1;
        const float* cp = ctx.vertex(refs[ci]);
        const float* np = ctx.vertex(refs[ni]);
        const float c = cp[axis], d = np[axis];
        if (!(c > p)) {
            lowRefs[nLow] = refs[ci];
            lowPts[nLow++] = cp;
        }
        if (!(c < p)) {
            upRefs[nUp] = refs[ci];
            upPts[nUp++] = cp;
        }
        if ((c < p && p < d) || (d < p && p < c)) {
            float x[3];
            crossing(cp, np, axis, p, x);
            VertexRef r;
            const VekStatus st = newArenaVertex(ctx, x, &r);
            if (st != vekStsOk) return st;
            lowRefs[nLow] = upRefs[nUp] = r;
            lowPts[nLow++] = upPts[nUp++] = ctx.vertex(r);
        }
    }
    const int32_t triangle = fragmentTriangle(f);
    const VekStatus st = makeFragment(ctx, triangle, lowRefs, lowPts, nLow, lower);
    if (st != vekStsOk) return st;
    return makeFragment(ctx, triangle, upRefs, upPts, nUp, upper);
}

}  // namespace vekr::sah
