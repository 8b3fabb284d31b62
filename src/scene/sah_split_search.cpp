// Surface-area split search.
//
// For each searched axis the fragments give three sorted lists: where the
// non-planar ones start and end, and where the planar ones (flat across the
// axis) lie. One sweep over the merged positions counts the fragments on
// each side of every candidate plane. Cutting off a slab of empty space or
// a face covered by planar fragments is preferred (its cost is scaled by
// 0.7), since such cuts shrink the cells that rays actually traverse.

#include "scene/sah_split_search.h"

#include <omp.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace vekr::sah {

namespace {

constexpr int32_t kRadixMinimum = 321;
constexpr int32_t kPrefetchDistance = 8;
constexpr float kFlatExtent = 1e-5f;        // a cell thinner than this is flat
constexpr float kEmptyShare = 0.1f;         // empty slab worth cutting off
constexpr double kPreferredScale = 0.699999988079071;  // 0.7f
constexpr double kSplitFactorScale = 0.5057569742202759;
constexpr double kMinimumGain = 9.999999747378752e-06;  // 1e-5f

// Order-preserving image of a float's bits: negative values inverted,
// non-negative ones with the sign bit set, so unsigned order is float order
// (with -0 just below +0).
inline uint32_t floatKey(float v)
{
    uint32_t b;
    std::memcpy(&b, &v, 4);
    return b ^ (static_cast<uint32_t>(static_cast<int32_t>(b) >> 31) | 0x80000000u);
}

inline float keyFloat(uint32_t k)
{
    const uint32_t b = k ^ (static_cast<uint32_t>(static_cast<int32_t>(~k) >> 31) | 0x80000000u);
    float v;
    std::memcpy(&v, &b, 4);
    return v;
}

void radixSort(uint32_t* keys, int32_t count, uint32_t* scratch)
{
    constexpr int kShift[3] = {0, 11, 22};
    uint32_t hist[3][2048] = {};
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t k = keys[i];
        ++hist[0][k & 2047];
        ++hist[1][(k >> 11) & 2047];
        ++hist[2][k >> 22];
    }
    uint32_t* src = keys;
    uint32_t* dst = scratch;
    for (int pass = 0; pass < 3; ++pass) {
        uint32_t* h = hist[pass];
        // A digit shared by every key leaves the order as it is.
        if (h[(src[0] >> kShift[pass]) & 2047] == static_cast<uint32_t>(count)) continue;
        uint32_t sum = 0;
        for (int d = 0; d < 2048; ++d) {
            const uint32_t c = h[d];
            h[d] = sum;
            sum += c;
        }
        for (int32_t i = 0; i < count; ++i) {
            const uint32_t k = src[i];
            dst[h[(k >> kShift[pass]) & 2047]++] = k;
        }
        std::swap(src, dst);
    }
    if (src != keys) std::memcpy(keys, src, 4 * static_cast<size_t>(count));
}

struct AxisResult {
    double cost;
    float position;
    int32_t left, right, side;
};

struct AxisSearch {
    const Context& ctx;
    const Fragment* entries;
    int32_t n;
    const float* box;

    // Fills the three lists; returns the number of non-planar fragments.
    int32_t classify(int axis, const ScratchGroup& g, int32_t* planarCount) const
    {
        int32_t m = 0, np = 0;
        for (int32_t i = 0; i < n; ++i) {
            // Records and vertices are scattered over the pools: fetch the
            // record a few entries ahead so its miss overlaps this one's.
            if (i + kPrefetchDistance < n) __builtin_prefetch(ctx.polygonAt(entries[i + kPrefetchDistance].polygon));
            const Fragment& f = entries[i];
            const VertexRef* poly = ctx.polygonAt(f.polygon);
            const float lo = ctx.vertex(poly[minVertexIndex(f.extremes, axis)])[axis];
            const float hi = ctx.vertex(poly[maxVertexIndex(f.extremes, axis)])[axis];
            if (lo == hi) {
                g.planar[np++] = floatKey(lo);
            } else {
                g.start[m] = floatKey(lo);
                g.end[m++] = floatKey(hi);
            }
        }
        *planarCount = np;
        return m;
    }

    static void toFloats(uint32_t* keys, int32_t count)
    {
        for (int32_t i = 0; i < count; ++i) {
            const float v = keyFloat(keys[i]);
            std::memcpy(&keys[i], &v, 4);
        }
    }

    AxisResult run(int axis, const ScratchGroup& g, double leafCost) const
    {
        int32_t np;
        const int32_t m = classify(axis, g, &np);
        sortKeys(g.start, m, g.sort);
        sortKeys(g.end, m, g.sort);
        std::sort(g.planar, g.planar + np);  // planar lists are short on most scenes
        toFloats(g.start, m);
        toFloats(g.end, m);
        toFloats(g.planar, np);
        const float* S = reinterpret_cast<const float*>(g.start);
        const float* E = reinterpret_cast<const float*>(g.end);
        const float* P = reinterpret_cast<const float*>(g.planar);

        const float mn = box[axis], mx = box[3 + axis];
        const float d = mx - mn;
        const int b = (axis + 1) % 3, c = (axis + 2) % 3;
        const float e1 = box[3 + b] - box[b], e2 = box[3 + c] - box[c];
        const double area = static_cast<double>(e1 + e2);
        const float side = e1 * e2;
        const double q = static_cast<double>(side) >= 1e-9 ? static_cast<double>(side) / area : 0.0;
        // nL times the left child's half area plus nR times the right's, over area.
        auto cost = [&](float x, int32_t nl, int32_t nr) {
            return static_cast<double>(static_cast<float>(nl)) * (static_cast<double>(x - mn) + q) +
                   static_cast<double>(static_cast<float>(nr)) * (static_cast<double>(mx - x) + q);
        };

        AxisResult r{leafCost, 0.0f, 0, 0, 1};
        double best = std::numeric_limits<double>::infinity();
        bool found = false;
        auto offer = [&](double cst, float x, int32_t nl, int32_t nr, int32_t sd) {
            if (cst < best) {
                best = cst;
                r.position = x;
                r.left = nl;
                r.right = nr;
                r.side = sd;
                found = true;
            }
        };

        // Empty space on either side of all fragments.
        float first = m > 0 ? S[0] : mn;
        float last = m > 0 ? E[m - 1] : mx;
        if (np > 0) {
            first = std::min(first, P[0]);
            last = std::max(last, P[np - 1]);
        }
        const float slab = kEmptyShare * d;
        if (first - mn > slab) offer(cost(first, 0, n), first, 0, n, 1);
        if (mx - last > slab) {
            const double cl = cost(last, n, 0);
            if (!found || cl < best) {
                best = std::numeric_limits<double>::infinity();
                offer(cl, last, n, 0, 0);
            }
        }
        if (found) {
            r.cost = kPreferredScale * best * area;
            return r;
        }

        // Faces of the cell covered by planar fragments.
        if (np > 0) {
            if (P[0] == mn) {
                int32_t k = 1;
                while (k < np && P[k] == mn) ++k;
                offer(kPreferredScale * cost(mn, k, n - k), mn, k, n - k, 0);
            }
            if (P[np - 1] == mx) {
                int32_t k = 1;
                while (k < np && P[np - 1 - k] == mx) ++k;
                offer(kPreferredScale * cost(mx, n - k, k), mx, n - k, k, 1);
            }
        }

        // Sweep. Counting puts a fragment starting at x on the right only,
        // one ending at x on the left only, and planar ones at x on the
        // side of the candidate's flag.
        float x = m > 0 ? (np > 0 ? std::min(S[0], P[0]) : S[0]) : P[0];
        int32_t is = 0, ie = 0, ip = 0;
        for (;;) {
            while (is < m && S[is] < x) ++is;
            while (ie < m && E[ie] <= x) ++ie;
            while (ip < np && P[ip] < x) ++ip;
            int32_t k = 0;
            while (ip + k < np && P[ip + k] == x) ++k;
            const int32_t nl = is + ip, nr = n - ie - ip;
            offer(cost(x, nl, nr), x, nl, nr, 1);
            if (k > 0) offer(cost(x, nl + k, nr - k), x, nl + k, nr - k, 0);
            if (m == 0 || !(x < E[m - 1])) break;

            float next = std::numeric_limits<float>::infinity();
            int32_t j = is;
            while (j < m && !(S[j] > x)) ++j;
            if (j < m) next = S[j];
            j = ie;
            while (j < m && !(E[j] > x)) ++j;
            if (j < m && E[j] < next) next = E[j];
            if (ip + k < np && P[ip + k] > x && P[ip + k] < next) next = P[ip + k];
            if (!(next > x)) break;
            x = next;
        }
        if (found) r.cost = best * area;
        return r;
    }
};

bool isSearched(const float ext[3], int axis)
{
    return ext[axis] > kFlatExtent && (ext[(axis + 1) % 3] > kFlatExtent || ext[(axis + 2) % 3] > kFlatExtent);
}

}  // namespace

void sortKeys(uint32_t* keys, int32_t count, uint32_t* scratch)
{
    if (count >= kRadixMinimum)
        radixSort(keys, count, scratch);
    else
        std::sort(keys, keys + count);
}

SplitChoice findSplit(const Context& ctx, const Fragment* entries, int32_t n, const float box[6], float factor)
{
    const float ext[3] = {box[3] - box[0], box[4] - box[1], box[5] - box[2]};
    const double dx = ext[0], dy = ext[1], dz = ext[2];
    const double leafCost = static_cast<double>(n) * (dx * (dy + dz) + dy * dz);
    const float scale = static_cast<float>((10.0 - 9.0 * static_cast<double>(factor)) * kSplitFactorScale);
    const double product = leafCost * static_cast<double>(scale);
    // A NaN product wins, so a NaN factor never splits.
    const double threshold = kMinimumGain > product ? kMinimumGain : product;

    AxisResult res[3];
    for (AxisResult& r : res) r = AxisResult{leafCost, 0.0f, 0, 0, 1};
    const AxisSearch search{ctx, entries, n, box};

    if (n > kParallelSearchMinimum) {
        int axes[3], count = 0;
        for (int a = 0; a < 3; ++a)
            if (isSearched(ext, a)) axes[count++] = a;
        if (count < 2) return SplitChoice{false, 0, 0.0f, 0, 0, 0};
#pragma omp parallel for num_threads(count) schedule(static)
        for (int i = 0; i < count; ++i) res[axes[i]] = search.run(axes[i], ctx.group(axes[i]), leafCost);
    } else {
        const ScratchGroup g = ctx.group(0);
        for (int a = 0; a < 3; ++a)
            if (isSearched(ext, a)) res[a] = search.run(a, g, leafCost);
    }

    const double c0 = res[0].cost, c1 = res[1].cost, c2 = res[2].cost;
    int axis;
    if (c1 > c0)
        axis = c2 <= c0 ? 2 : 0;
    else
        axis = c2 > c1 ? 1 : 2;
    if (!(static_cast<double>(n) * (leafCost - res[axis].cost) > threshold))
        return SplitChoice{false, 0, 0.0f, 0, 0, 0};
    const AxisResult& r = res[axis];
    return SplitChoice{true, axis, r.position, r.left, r.right, r.side};
}

}  // namespace vekr::sah
