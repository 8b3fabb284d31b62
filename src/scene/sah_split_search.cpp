// Surface-area split search.
//
// For each searched axis the fragments give three sorted lists: where the
// non-planar ones start and end, and where the planar ones (flat across the
// axis) lie. One sweep over the merged positions counts the fragments on
// each side of every candidate plane. Cutting off a slab of empty space or
// a face covered by planar fragments is preferred (its cost is scaled by
// 0.7), since such cuts shrink the cells that rays actually traverse.

#include "scene/sah_split_search.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace vekr::sah {

namespace {

constexpr float kFlatExtent = 1e-5f;        // a cell thinner than this is flat
constexpr float kEmptyShare = 0.1f;         // empty slab worth cutting off
constexpr double kPreferredScale = 0.699999988079071;  // 0.7f
constexpr double kSplitFactorScale = 0.5057569742202759;
constexpr double kMinimumGain = 9.999999747378752e-06;  // 1e-5f

struct AxisResult {
    double cost;
    float position;
    int32_t left, right, side;
};

struct AxisSearch {
    const NodeLists& lists;
    int32_t n;
    const float* box;

    AxisResult run(int axis, double leafCost) const
    {
        const EventList* l = lists.list[axis];
        const int32_t m = l[kStartList].count, np = l[kPlanarList].count;
        const float* S = l[kStartList].value;
        const float* E = l[kEndList].value;
        const float* P = l[kPlanarList].value;

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

SplitChoice findSplit(const NodeLists& lists, int32_t n, const float box[6], float factor, bool axisTasks)
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
    const AxisSearch search{lists, n, box};
    if (axisTasks) {
        // A group rather than a taskwait, which would also wait for (and
        // run) the subtree tasks this thread handed off, stalling the top
        // of the tree behind whole subtrees.
#pragma omp taskgroup
        {
            for (int a = 0; a < 3; ++a)
                if (isSearched(ext, a)) {
#pragma omp task default(shared) firstprivate(a)
                    res[a] = search.run(a, leafCost);
                }
        }
    } else {
        for (int a = 0; a < 3; ++a)
            if (isSearched(ext, a)) res[a] = search.run(a, leafCost);
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
