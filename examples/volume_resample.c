/*
 * Resamples a small 3-D volume as an imaging pipeline would: builds a
 * 32 x 32 x 32 float volume holding a Gaussian blob, resizes it to 48^3,
 * rotates it about its centre with the affine warp, then smooths a 16-bit
 * copy with an integer 3 x 3 x 3 kernel. It prints the centre, the maximum
 * and the sum after each step and checks a few facts that any correct
 * resampling keeps; it returns 1 if a call or a check fails.
 *
 * Every volume function takes the whole volume's extent (VekrVolume) and a
 * region of it (VekrCuboid) in absolute voxel indices; row and plane steps
 * are in bytes. Resize treats voxel k as the cell [k, k + 1), the warp as
 * the point k.
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <vekr.h>

enum { kSrcN = 32, kDstN = 48, kPadN = kDstN + 2, kCentre = kDstN / 2 };

/* Source coordinate u lands on 1.5 u - 0.25 (the shift counts destination
 * voxels): the centre of source voxel k
 * (u = k + 0.5) falls on the centre of destination voxel 1.5 k, so voxel 0
 * stays on voxel 0 and the blob's peak at voxel 16 lands exactly on 24. */
static const double kFactor = 1.5, kShift = -0.25;
static const VekrCuboid kSrcVoi = {0, 0, 0, kSrcN, kSrcN, kSrcN};
static const VekrCuboid kDstVoi = {0, 0, 0, kDstN, kDstN, kDstN};

static int ok(VekStatus st, const char* what)
{
    if (st != vekStsOk) /* warnings too: after one, nothing has been written */
        fprintf(stderr, "%s failed with status %d\n", what, (int)st);
    return st == vekStsOk;
}

/* Resizes a contiguous (C1V) kSrcN^3 volume into a kDstN^3 one. Catmull-Rom
 * is a cubic that passes through the samples, so the peak keeps its value. */
static VekStatus resize(const float* src, float* dst, uint8_t* buffer)
{
    const VekrVolume srcVolume = {kSrcN, kSrcN, kSrcN};
    const int32_t srcRow = kSrcN * sizeof(float), dstRow = kDstN * sizeof(float);
    return vekrResize_32f_C1V(src, srcVolume, srcRow, srcRow * kSrcN, kSrcVoi, dst, dstRow, dstRow * kDstN,
                              kDstVoi, kFactor, kFactor, kFactor, kShift, kShift, kShift, vekInterCatmullRom,
                              buffer);
}

/* Prints the centre value, the maximum and the sum of a kDstN^3 volume.
 * Both resampling steps put a sample exactly on the peak, so the peak value
 * must survive on the centre voxel and stay the maximum. */
static int report(const char* step, const float* v)
{
    int at = 0;
    double sum = 0.0;
    for (int i = 0; i < kDstN * kDstN * kDstN; ++i) {
        sum += v[i];
        if (v[i] > v[at]) at = i;
    }
    const int c = (kCentre * kDstN + kCentre) * kDstN + kCentre;
    printf("%-7s centre %8.3f, max %8.3f at (%d, %d, %d), sum %.1f\n", step, v[c], v[at], at % kDstN,
           at / kDstN % kDstN, at / (kDstN * kDstN), sum);
    if (at == c && fabsf(v[c] - 1000.0f) < 0.01f) return 1;
    fprintf(stderr, "%s moved the blob's peak off the centre voxel\n", step);
    return 0;
}

int main(void)
{
    const size_t srcCount = (size_t)kSrcN * kSrcN * kSrcN, dstCount = (size_t)kDstN * kDstN * kDstN;
    float* src = malloc(srcCount * sizeof *src);
    float* resized = malloc(dstCount * sizeof *resized);
    float* warped = calloc(dstCount, sizeof *warped); /* voxels rotated in from outside stay 0 */
    int16_t* padded = calloc((size_t)kPadN * kPadN * kPadN, sizeof *padded);
    int16_t* smooth = malloc(dstCount * sizeof *smooth);
    uint8_t* buffer = NULL;
    int failed = 1;
    if (!src || !resized || !warped || !padded || !smooth) {
        fprintf(stderr, "out of memory\n");
        goto done;
    }

    /* Resize needs scratch: ask for its size with the same regions and mode.
     * The answer grows with the library's thread count, so that count must
     * not change between the query and the call. */
    int32_t bufSize = 0;
    if (!ok(vekrResizeGetBufSize(kSrcVoi, kDstVoi, 1, vekInterCatmullRom, &bufSize), "vekrResizeGetBufSize"))
        goto done;
    if (!(buffer = malloc(bufSize))) {
        fprintf(stderr, "out of memory\n");
        goto done;
    }

    /* A constant volume must come out constant: the cubic weights sum to 1. */
    for (size_t i = 0; i < srcCount; ++i) src[i] = 250.0f;
    if (!ok(resize(src, resized, buffer), "vekrResize_32f_C1V")) goto done;
    for (size_t i = 0; i < dstCount; ++i)
        if (fabsf(resized[i] - 250.0f) > 1e-3f) {
            fprintf(stderr, "constant volume resized to %g at voxel %zu\n", resized[i], i);
            goto done;
        }
    printf("constant 250 resized to %d^3: every voxel within 1e-3 of 250\n", kDstN);

    /* The blob: peak 1000 at voxel (16, 16, 16), sigma 4 voxels, so it has
     * faded to nearly 0 at the faces. */
    for (int z = 0; z < kSrcN; ++z)
        for (int y = 0; y < kSrcN; ++y)
            for (int x = 0; x < kSrcN; ++x) {
                const int r2 = (x - 16) * (x - 16) + (y - 16) * (y - 16) + (z - 16) * (z - 16);
                src[(z * kSrcN + y) * kSrcN + x] = 1000.0f * expf((float)-r2 / 32.0f);
            }
    if (!ok(resize(src, resized, buffer), "vekrResize_32f_C1V") || !report("resize", resized)) goto done;

    /* Rotate 20 degrees about z through the centre voxel. The warp takes the
     * forward transform (source point to destination point) as 3 rows of 4,
     * here dst = R (src - c) + c. It wants plane pointers (C1PV): one per
     * plane, pointing into the contiguous volumes. */
    const float* resizedPlanes[kDstN];
    float* warpedPlanes[kDstN];
    for (int z = 0; z < kDstN; ++z) {
        resizedPlanes[z] = resized + z * kDstN * kDstN;
        warpedPlanes[z] = warped + z * kDstN * kDstN;
    }
    const double a = 20.0 * acos(-1.0) / 180.0, co = cos(a), si = sin(a), c = kCentre;
    const double coeffs[12] = {co,  -si, 0.0, c - co * c + si * c,
                               si,  co,  0.0, c - si * c - co * c,
                               0.0, 0.0, 1.0, 0.0};
    /* Unlike resize, the warp and the filter need no scratch (their size
     * queries report 0 bytes), so their buffer argument is NULL. */
    const VekrVolume dstVolume = {kDstN, kDstN, kDstN};
    const int32_t row = kDstN * sizeof(float);
    if (!ok(vekrWarpAffine_32f_C1PV(resizedPlanes, dstVolume, row, kDstVoi, warpedPlanes, row, kDstVoi, coeffs,
                                    vekInterLinear, NULL),
            "vekrWarpAffine_32f_C1PV") ||
        !report("warp", warped))
        goto done;

    /* Smooth a 16-bit copy with the binomial kernel 1-2-1 on each axis (sum
     * 64, hence divisor 64; anchor (1, 1, 1) centres it; the filter applies
     * the kernel mirrored, which a symmetric one hides). The filter has no
     * border handling and reads one voxel beyond every face, so the copy sits
     * in a zero border (the blob is ~0 there): each plane pointer points one
     * row and one column in, at the copy's voxel (0, 0), and pSrc starts one
     * entry into the array so that plane -1 exists. */
    const int16_t* srcPlanes[kPadN];
    int16_t* smoothPlanes[kDstN];
    for (int p = 0; p < kPadN; ++p) srcPlanes[p] = padded + (p * kPadN + 1) * kPadN + 1;
    for (int z = 0; z < kDstN; ++z) {
        smoothPlanes[z] = smooth + z * kDstN * kDstN;
        for (int y = 0; y < kDstN; ++y)
            for (int x = 0; x < kDstN; ++x)
                padded[((z + 1) * kPadN + y + 1) * kPadN + x + 1] =
                    (int16_t)lrintf(warped[(z * kDstN + y) * kDstN + x]);
    }
    static const int32_t kernel[27] = {1, 2, 1, 2, 4, 2, 1, 2, 1, /* plane k = 0, x fastest */
                                       2, 4, 2, 4, 8, 4, 2, 4, 2, /* plane k = 1 */
                                       1, 2, 1, 2, 4, 2, 1, 2, 1};
    const VekrVolume kernelVolume = {3, 3, 3};
    const VekrPoint anchor = {1, 1, 1};
    if (!ok(vekrFilter_16s_C1PV(srcPlanes + 1, kPadN * sizeof(int16_t), smoothPlanes, kDstN * sizeof(int16_t),
                                dstVolume, kernel, kernelVolume, anchor, 64, NULL),
            "vekrFilter_16s_C1PV"))
        goto done;

    /* The smoothed centre is a weighted mean of the old centre (the peak) and
     * its 26 neighbours that weights the nearer, brighter ones more, so it
     * lies between their plain mean and the old centre. */
    const int16_t* mid = srcPlanes[kCentre + 1] + kCentre * kPadN + kCentre;
    double mean = -*mid;
    for (int dz = -1; dz <= 1; ++dz)
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) mean += mid[(dz * kPadN + dy) * kPadN + dx];
    mean /= 26.0;
    const int smoothed = smoothPlanes[kCentre][kCentre * kDstN + kCentre];
    printf("filter  centre %d -> %d (neighbours' mean %.1f)\n", *mid, smoothed, mean);
    if (smoothed < mean - 0.5 || smoothed > *mid) {
        fprintf(stderr, "the smoothed centre is not between its neighbours' mean and its old value\n");
        goto done;
    }
    failed = 0;

done:
    free(buffer);
    free(smooth);
    free(padded);
    free(warped);
    free(resized);
    free(src);
    return failed;
}
