/*
 * Prints the library's version record, then casts the eye rays of one 8 x 4
 * block of a 64 x 48 image and prints a few of their directions.
 *
 * The camera looks down -z from the origin; the image plane at z = -1 spans
 * x in [-1, 1) and y in (-0.75, 0.75]. Directions are not normalised: each
 * points from the eye to its pixel's corner on that plane.
 */
#include <stdio.h>

#include <vekr.h>

enum { kImageWidth = 64, kImageHeight = 48, kBlockWidth = 8, kBlockHeight = 4 };

int main(void)
{
    const VekLibraryVersion* v = vekrGetLibVersion();
    printf("%s %s (%d.%d build %d.%d, cpu %s, %s)\n", v->libraryName, v->versionText, v->versionMajor,
           v->versionMinor, v->buildMajor, v->buildNumber, v->cpuTag, v->buildDate);

    /* Direction through pixel (0, 0), and the change per column and per row. */
    const float topLeft[3] = {-1.0f, 0.75f, -1.0f};
    const float colStep[3] = {2.0f / kImageWidth, 0.0f, 0.0f};
    const float rowStep[3] = {0.0f, -1.5f / kImageHeight, 0.0f};

    /* The block in block column 3, block row 5: image pixels (24..31, 20..23). */
    const int32_t blockCol = 3, blockRow = 5;
    const VekrSize block = {kBlockWidth, kBlockHeight};
    static float x[kBlockWidth * kBlockHeight], y[kBlockWidth * kBlockHeight], z[kBlockWidth * kBlockHeight];
    float* const dirs[3] = {x, y, z};

    const VekStatus st = vekrCastEye_32f(topLeft, colStep, rowStep, blockCol, blockRow, block, dirs, block);
    if (st != vekStsOk) {
        fprintf(stderr, "vekrCastEye_32f failed with status %d\n", (int)st);
        return 1;
    }
    printf("eye rays of block (%d, %d), %d x %d pixels:\n", blockCol, blockRow, kBlockWidth, kBlockHeight);
    for (int r = 0; r < kBlockHeight; r += kBlockHeight - 1) {
        for (int c = 0; c < kBlockWidth; c += kBlockWidth - 1) {
            const int i = r * kBlockWidth + c;
            printf("  pixel (%2d, %2d): (%+.6f, %+.6f, %+.6f)\n", blockCol * kBlockWidth + c,
                   blockRow * kBlockHeight + r, x[i], y[i], z[i]);
        }
    }
    return 0;
}
