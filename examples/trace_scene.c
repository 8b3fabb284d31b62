/*
 * Traces a tiny scene - a ground square with an octahedron floating above it,
 * lit by one point light - in five steps:
 *
 *   1. scene set-up: bounding box, triangle records and an SAH kd-tree;
 *   2. eye rays and their nearest hits;
 *   3. hit points, and normals turned towards the viewer;
 *   4. shadow rays from the light to the hit points and the any-hit test;
 *   5. the picture as ASCII art, and checks of a few pixels whose outcome
 *      the geometry fixes (the program returns 1 when one is wrong).
 */
#include <stdio.h>
#include <stdlib.h>

#include <vekr.h>

#include "aligned_memory.h"

enum { kWidth = 48, kHeight = 24, kPixels = kWidth * kHeight, kVertexCount = 10, kTriangleCount = 10 };
enum { kGround = 0, kSolid = 1 }; /* object numbers, kept in each triangle's fourth word */

/* Ground square y = 0 (vertices 0-3) and an octahedron of radius 0.6 around kCentre. */
static const float kCentre[3] = {0.0f, 0.9f, 0.0f};
static const float kVertices[3 * kVertexCount] = {
    -3, 0, -3,  3, 0, -3,  3, 0, 3,  -3, 0, 3,                                           /* ground corners */
    0.6f, 0.9f, 0,  -0.6f, 0.9f, 0,  0, 1.5f, 0,  0, 0.3f, 0,  0, 0.9f, 0.6f,  0, 0.9f, -0.6f}; /* +x -x +y -y +z -z */
/* Three vertex numbers per triangle, then a word the library never reads: here the object. */
static const int32_t kTriangles[4 * kTriangleCount] = {
    0, 3, 2, kGround, 0, 2, 1, kGround,
    8, 4, 6, kSolid,  4, 9, 6, kSolid,  9, 5, 6, kSolid,  5, 8, 6, kSolid,  /* upper half */
    4, 8, 7, kSolid,  9, 4, 7, kSolid,  5, 9, 7, kSolid,  8, 5, 7, kSolid}; /* lower half */

/* The camera looks down -z; the image spans x in [-0.75, 0.75] and y in
 * [kTop - 1.5, kTop] on the plane one unit in front of the eye. A kTop below
 * 0.75 shifts the view down onto the scene while verticals stay vertical. */
static const float kEye[3] = {0.0f, 1.5f, 2.2f};
static const float kTop = 0.25f;
static const float kLight[3] = {-3.0f, 3.5f, 1.0f}; /* up, left and in front of the solid */
static const float kColStep[3] = {1.5f / kWidth, 0.0f, 0.0f};
static const float kRowStep[3] = {0.0f, -1.5f / kHeight, 0.0f};

/* Every per-pixel array, one plane each. kPixels is a multiple of 4, so with
 * the whole record 16-byte aligned every plane is too, and the intersections
 * take their 4-wide packet path. */
typedef struct Planes {
    float dir[3][kPixels], dist[kPixels], uv[2][kPixels], hit[3][kPixels], normal[3][kPixels];
    float cosView[kPixels], dotLight[kPixels], shadowDir[3][kPixels];
    int32_t tri[kPixels], lit[kPixels], blocker[kPixels];
} Planes;

/* Object of triangle t, or -1 for a miss (t < 0). */
static int objectOf(int32_t t) { return t >= 0 ? kTriangles[4 * t + 3] : -1; }

static int failed(VekStatus st, const char* what)
{
    if (st != vekStsOk) fprintf(stderr, "%s failed with status %d\n", what, (int)st);
    return st != vekStsOk;
}

/* Pixel whose eye ray passes nearest to point p (which must lie in view). */
static int pixelOf(const float p[3])
{
    const float depth = kEye[2] - p[2];
    const float x = (p[0] - kEye[0]) / depth, y = (p[1] - kEye[1]) / depth;
    const int col = (int)((x + 0.75f) / kColStep[0]), row = (int)((y - kTop) / kRowStep[1]);
    return row * kWidth + col;
}

/* What the intersections read (box, triangle records, tree) and the triangle
 * normals for shading. main frees the records and the tree. */
typedef struct Scene {
    float box[6], triNormal[3 * kTriangleCount];
    VekrTriangleAccel* accel;
    VekrKDTreeNode* tree;
} Scene;

/* 1. The box lets the closest-hit search clip rays to the scene; the records
 * hold each triangle in the form the hit test wants; the tree sorts the
 * triangles into cells (depth 16 and a middling split factor are plenty
 * here). The SAH build takes its working memory in 16 MB blocks, over 80 MB
 * even for ten triangles, hence the limit of 128 MB.
 * Returns 0, or 1 after saying what failed (as do the steps below). */
static int setUpScene(Scene* sc)
{
    int32_t accelBytes = 0, treeBytes = 0;
    if (failed(vekrSetBoundBox_32f(kVertices, kVertexCount, sc->box), "vekrSetBoundBox_32f") ||
        failed(vekrTriangleAccelGetSize(&accelBytes), "vekrTriangleAccelGetSize"))
        return 1;
    sc->accel = malloc((size_t)accelBytes * kTriangleCount);
    if (sc->accel == NULL) {
        fprintf(stderr, "out of memory\n");
        return 1;
    }
    const VekrKDTreeBuildParams params = {vekrKDTreeBuildSAH, 16, 0.5f, 128, NULL};
    if (failed(vekrTriangleAccelInit(sc->accel, kVertices, kTriangles, kTriangleCount), "vekrTriangleAccelInit") ||
        failed(vekrKDTreeBuildAlloc(&sc->tree, kVertices, kTriangles, kVertexCount, kTriangleCount, &treeBytes,
                                    &params), "vekrKDTreeBuildAlloc") ||
        failed(vekrTriangleNormal_32f(kVertices, kTriangles, sc->triNormal, kTriangleCount), "vekrTriangleNormal_32f"))
        return 1;
    printf("scene: %d triangles, SAH kd-tree of %d bytes\n", kTriangleCount, (int)treeBytes);
    return 0;
}

/* 2.-4. Every ray of the image, traced as one block. C adds no const below
 * the first level of a pointer by itself, hence the casts of the inputs. */
static int trace(const Scene* sc, Planes* b)
{
    const VekrIntersectContext scene = {sc->box, sc->accel, sc->tree};
    const VekrSize image = {kWidth, kHeight};
    float* const dir[3] = {b->dir[0], b->dir[1], b->dir[2]};
    float* const uv[2] = {b->uv[0], b->uv[1]};
    float* const hit[3] = {b->hit[0], b->hit[1], b->hit[2]};
    float* const normal[3] = {b->normal[0], b->normal[1], b->normal[2]};
    float* const shadowDir[3] = {b->shadowDir[0], b->shadowDir[1], b->shadowDir[2]};

    /* 2. Eye rays through the pixel centres (the first argument is the
     * direction of pixel (0, 0), hence the half steps); then the nearest hit
     * of each, at any range. */
    const float pixel00[3] = {-0.75f + 0.5f * kColStep[0], kTop + 0.5f * kRowStep[1], -1.0f};
    for (int i = 0; i < kPixels; ++i) b->dist[i] = 1e30f;
    if (failed(vekrCastEye_32f(pixel00, kColStep, kRowStep, 0, 0, image, dir, image), "vekrCastEye_32f") ||
        failed(vekrIntersectEyeSO_32f(kEye, (const float* const*)dir, b->dist, uv, b->tri, &scene, image),
               "vekrIntersectEyeSO_32f"))
        return 1;

    /* 3. Hit points a hair short of the surface (factor 0.9999 on the
     * distance), so that a shadow ray ends before it could meet the very
     * triangle it lands on. Flat normals are turned to face the viewer;
     * cosView (<= 0) then tells which side of each surface the eye is on. */
    if (failed(vekrHitPoint3DEpsS0_32f_M(kEye, (const float* const*)dir, b->dist, b->tri, hit, kPixels, 0.9999f),
               "vekrHitPoint3DEpsS0_32f_M") ||
        failed(vekrSurfFlatNormal_32f(sc->triNormal, b->tri, normal, kPixels), "vekrSurfFlatNormal_32f") ||
        failed(vekrDotChangeNorm_32f_IM((const float* const*)dir, b->tri, normal, b->cosView, kPixels),
               "vekrDotChangeNorm_32f_IM"))
        return 1;

    /* 4. Shadow rays run from the light to each hit point. The cast sets the
     * mask to -1 for misses, for surfaces seen from the side away from the
     * light (cosView and N . D differ in sign) and for grazing light; the
     * any-hit test then does so for every ray that something blocks. A mask
     * entry still >= 0 afterwards means the pixel sees the light. */
    for (int i = 0; i < kPixels; ++i) b->lit[i] = b->tri[i];
    if (failed(vekrCastShadowSO_32f(kLight, b->cosView, (const float* const*)normal, (const float* const*)hit,
                                    b->lit, b->dotLight, shadowDir, kPixels),
               "vekrCastShadowSO_32f") ||
        failed(vekrIntersectAnySO_32f(kLight, (const float* const*)shadowDir, b->blocker, b->lit, image, &scene),
               "vekrIntersectAnySO_32f"))
        return 1;
    return 0;
}

/* 5. The picture: ' ' miss, '.' lit ground, '#' ground in shadow, 'o' lit
 * solid, '@' solid in shadow (blocked or facing away); then the checks. */
static int printAndCheck(const Planes* b)
{
    int misses = 0, lit = 0, facingAway = 0, blocked = 0;
    for (int row = 0; row < kHeight; ++row) {
        char line[kWidth + 1] = {0};
        for (int col = 0; col < kWidth; ++col) {
            const int i = row * kWidth + col;
            const int object = objectOf(b->tri[i]), inLight = b->lit[i] >= 0;
            if (object < 0) ++misses;
            else if (inLight) ++lit;
            else if (b->blocker[i] >= 0) ++blocked;
            else ++facingAway;
            line[col] = object < 0 ? ' ' : object == kGround ? (inLight ? '.' : '#') : (inLight ? 'o' : '@');
        }
        printf("|%s|\n", line);
    }
    printf("%d x %d pixels: %d miss, %d lit, %d in shadow (%d facing away from the light, %d blocked)\n", kWidth,
           kHeight, misses, lit, facingAway + blocked, facingAway, blocked);

    /* Facts the geometry fixes: the pixel of the solid's centre sees the
     * solid; the ground where the line from the light through that centre
     * lands is shadowed by the solid; the top-left pixel looks over the far
     * edge of the ground; the near-left ground corner sees the light. */
    const float s = kLight[1] / (kLight[1] - kCentre[1]); /* light + s (centre - light) has y = 0 */
    const float shadowCentre[3] = {kLight[0] + s * (kCentre[0] - kLight[0]), 0.0f,
                                   kLight[2] + s * (kCentre[2] - kLight[2])};
    const int centre = pixelOf(kCentre), shade = pixelOf(shadowCentre), nearLeft = (kHeight - 1) * kWidth;
    if (objectOf(b->tri[centre]) != kSolid)
        fprintf(stderr, "pixel (%d, %d) misses the solid\n", centre % kWidth, centre / kWidth);
    else if (objectOf(b->tri[shade]) != kGround || b->lit[shade] >= 0 || objectOf(b->blocker[shade]) != kSolid)
        fprintf(stderr, "pixel (%d, %d) is not ground shadowed by the solid\n", shade % kWidth, shade / kWidth);
    else if (b->tri[0] >= 0)
        fprintf(stderr, "the top-left pixel hits triangle %d\n", (int)b->tri[0]);
    else if (objectOf(b->tri[nearLeft]) != kGround || b->lit[nearLeft] < 0)
        fprintf(stderr, "the bottom-left pixel is not lit ground\n");
    else
        return 0;
    return 1;
}

int main(void)
{
    Scene scene = {{0}, {0}, NULL, NULL};
    Planes* b = portable_aligned_alloc(16, sizeof *b);
    int result = 1;
    if (b == NULL)
        fprintf(stderr, "out of memory\n");
    else if (setUpScene(&scene) == 0 && trace(&scene, b) == 0)
        result = printAndCheck(b);
    portable_aligned_free(b);
    vekrKDTreeFree(scene.tree);
    free(scene.accel);
    return result;
}
