// The 4 x 4 tiles of a ray block and the octant classes of their rays.
//
// Rays of one octant code meet the children of every node in the same
// order, so a packet is only formed from rays that share a code: a tile
// whose 16 rays share one code is coherent and runs as two 8-ray packets;
// any other tile runs one 4-ray packet per tile row and code present in it.
#ifndef VEKR_INTERSECT_PACKET_TILES_H
#define VEKR_INTERSECT_PACKET_TILES_H

#include <cstddef>
#include <cstdint>

#include "intersect/packet_lanes.h"
#include "intersect/packet_traversal.h"

namespace vekr::isect::VEKR_ISA_NS {

// Where the rays of a block are read from. Planes are 16-byte aligned on
// the packet path; row r of a tile is `width` entries after row r - 1.
struct RayBlockView {
    const float* origin[3];     // per-ray origin planes, or all null
    const float* sharedOrigin;  // the common origin when origin[] is null
    const float* dir[3];
    int32_t width;
};

// Rays of W consecutive rows starting at base (inverse not yet computed).
template <int W>
inline PacketRays<W> loadPacketRays(const RayBlockView& in, size_t base)
{
    const size_t stride = static_cast<size_t>(in.width);
    PacketRays<W> r;
    for (int a = 0; a < 3; ++a) {
        r.o[a] = in.origin[a] ? loadRows<W>(in.origin[a] + base, stride) : splat<W>(in.sharedOrigin[a]);
        r.d[a] = loadRows<W>(in.dir[a] + base, stride);
    }
    return r;
}

// A tile whose maximum distances are all 0 or below has nothing to find.
inline bool anyDistancePositive(const float* dist, size_t base, int32_t width)
{
    __m128 any = _mm_setzero_ps();
    for (int r = 0; r < 4; ++r)
        any = _mm_or_ps(any, _mm_cmpgt_ps(_mm_load_ps(dist + base + r * static_cast<size_t>(width)),
                                          _mm_setzero_ps()));
    return _mm_movemask_ps(any) != 0;
}

struct TileCodes {
    __m128i row[4];   // code per lane; -1 for lanes that take no part
    int lowest = 8;   // lowest and highest code present
    int highest = -1;
    bool coherent = false;  // all 16 lanes take part with one code
};

// takesPart: per row, the lanes to classify (all when null).
inline TileCodes classifyTile(const RayBlockView& in, size_t base, const __m128* takesPart = nullptr)
{
    TileCodes tc;
    int present = 0;
    int allTakePart = 1;
    for (int r = 0; r < 4; ++r) {
        const size_t at = base + static_cast<size_t>(r) * static_cast<size_t>(in.width);
        __m128i codes =
            octantCodes(_mm_load_ps(in.dir[0] + at), _mm_load_ps(in.dir[1] + at), _mm_load_ps(in.dir[2] + at));
        if (takesPart) {
            codes = _mm_or_si128(codes, _mm_andnot_si128(_mm_castps_si128(takesPart[r]), _mm_set1_epi32(-1)));
            allTakePart &= _mm_movemask_ps(takesPart[r]) == 0xF;
        }
        tc.row[r] = codes;
        alignas(16) int32_t c[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(c), codes);
        for (int l = 0; l < 4; ++l)
            if (c[l] >= 0) present |= 1 << c[l];
    }
    for (int k = 0; k < 8; ++k)
        if (present & (1 << k)) {
            if (tc.lowest > k) tc.lowest = k;
            tc.highest = k;
        }
    tc.coherent = allTakePart && present != 0 && (present & (present - 1)) == 0;
    return tc;
}

// Calls run(row, code, laneMask) for every code from the lowest present to
// the highest and every tile row holding a lane of that code.
template <class RunRow>
inline void forEachCodeRow(const TileCodes& tc, RunRow&& run)
{
    for (int k = tc.lowest; k <= tc.highest; ++k)
        for (int r = 0; r < 4; ++r) {
            const __m128 lanes = _mm_castsi128_ps(_mm_cmpeq_epi32(tc.row[r], _mm_set1_epi32(k)));
            if (_mm_movemask_ps(lanes)) run(r, k, lanes);
        }
}

// Calls visit(base index of the tile) for each 4 x 4 tile in row-major tile order.
template <class Visit>
inline void forEachTile(int32_t width, int32_t height, Visit&& visit)
{
    for (int32_t R = 0; R < height / 4; ++R)
        for (int32_t C = 0; C < width / 4; ++C)
            visit(static_cast<size_t>(R) * 4 * static_cast<size_t>(width) + static_cast<size_t>(C) * 4);
}

// The triangle-number planes of a block: planes of planeStride entries
// each, 16-byte aligned like every plane of the packet path.
struct TriPlanes {
    int32_t* tri;
    size_t planeStride;
    int32_t planes;
};

// Writes -1 to the 16 entries of the tile at base in every plane.
inline void clearTileTriangles(const TriPlanes& t, size_t base, int32_t width)
{
    const __m128i none = _mm_set1_epi32(-1);
    for (int32_t p = 0; p < t.planes; ++p) {
        int32_t* tile = t.tri + p * t.planeStride + base;
        for (int r = 0; r < 4; ++r)
            _mm_store_si128(reinterpret_cast<__m128i*>(tile + r * static_cast<size_t>(width)), none);
    }
}

// Tile loop of the distance-limited searches. Every triangle number of a
// tile reads -1 before its kernels run; the tiles cover the block, so this
// is the block-wide clear done tile by tile, while the tile's lines are in
// cache anyway, instead of one pass over the whole output before the
// first tile. Tiles whose maximum distances (dist) are all non-positive are
// then skipped; coherent tiles go to run8(base of rows 0-1 / rows 2-3,
// code) when eightRay is set, everything else to run4(base of the row,
// code, lanes of that code).
template <class Run8, class Run4>
inline void runDistanceTiles(const RayBlockView& in, const float* dist, const TriPlanes& tri, int32_t height,
                             bool eightRay, Run8&& run8, Run4&& run4)
{
    const int32_t width = in.width;
    forEachTile(width, height, [&](size_t base) {
        clearTileTriangles(tri, base, width);
        if (!anyDistancePositive(dist, base, width)) return;
        const TileCodes tc = classifyTile(in, base);
        if (eightRay && tc.coherent) {
            run8(base, tc.lowest);
            run8(base + 2 * static_cast<size_t>(width), tc.lowest);
            return;
        }
        forEachCodeRow(tc, [&](int row, int code, __m128 lanes) {
            run4(base + row * static_cast<size_t>(width), code, lanes);
        });
    });
}

inline size_t blockEntries(int32_t width, int32_t height)
{
    return width > 0 && height > 0 ? static_cast<size_t>(width) * static_cast<size_t>(height) : 0;
}

}  // namespace vekr::isect::VEKR_ISA_NS

#endif
