/*
 * The standard benchmark workloads of vekr, generated from scratch: the two
 * scenes (the bunny read from data/bunny.obj, the grid of spheres built),
 * their cameras, the three ray workloads, the volume sources, the warp and
 * remap inputs, the filter kernels and the spherical-harmonics samples, and
 * SHA-256 to compare any generated array with the published checksums.
 *
 * Every input is fixed to the bit, so that vekr, the peer libraries and the
 * tests all work on the same bytes. Where a value is defined as a chain of
 * float32 (or double) operations, each product is rounded on its own through
 * wl_mulf / wl_muld: a compiler that fused a product into the following sum
 * would otherwise change bits. The checksums in workloads/checksums.txt are
 * the proof; tests/workloads checks them, and workloads.py next to this
 * header produces the same arrays for the Python peer scripts.
 *
 * Single header, C99 or C++, libc and libm only. Assumes a little-endian
 * machine, as the checksums do.
 */
#ifndef VEKR_WORKLOADS_H
#define VEKR_WORKLOADS_H

#include <math.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

#define WL_IMAGE_W 1024
#define WL_IMAGE_H 1024
#define WL_NRAYS (WL_IMAGE_W * WL_IMAGE_H) /* W1 and W3 ray count, S1 and S2 sample count */

/* SplitMix64 seeds of the random streams. */
#define WL_SEED_W3_ORIGIN 0x5EED0001u
#define WL_SEED_W3_DIR 0x5EED0002u
#define WL_SEED_S1_DIR 0x5EED0003u
#define WL_SEED_S2_DIR 0x5EED0004u
#define WL_SEED_S2_VALUE 0x5EED0005u

/* Seeds of the white-noise volume sources. */
#define WL_VOL_SEED_V1 1u  /* A: 8u 128^3 */
#define WL_VOL_SEED_F32 2u /* B: 32f 256^3, V2 to V4 */
#define WL_VOL_SEED_V5 3u  /* C: 16s 260^3 */

#define WL_TFAR 1e30f         /* far limit of the closest-hit workloads */
#define WL_SHADOW_EPS 0.9999f /* pulls a W1 hit point towards the eye */

enum { WL_SCENE_BUNNY = 0, WL_SCENE_SPHERES = 1 };

/* The double nearest to pi, spelled out because M_PI is not standard C. */
#define WL_PI 3.141592653589793

/* ------------------------------------------------------------ rounding */

/* Products that must be rounded before they meet the next operation. */
static inline float wl_mulf(float a, float b)
{
    volatile float p = a * b;
    return p;
}
static inline double wl_muld(double a, double b)
{
    volatile double p = a * b;
    return p;
}

/* ------------------------------------------------------- random streams */

/* SplitMix64: the state advances by the golden-ratio increment and the
 * result is the state run through two multiply-xorshift rounds. */
static inline uint64_t wl_next(uint64_t* state)
{
    uint64_t z;
    *state += UINT64_C(0x9E3779B97F4A7C15);
    z = *state;
    z = (z ^ (z >> 30)) * UINT64_C(0xBF58476D1CE4E5B9);
    z = (z ^ (z >> 27)) * UINT64_C(0x94D049BB133111EB);
    return z ^ (z >> 31);
}

/* Uniform in [0, 1): the top 24 bits of a draw, scaled by 2^-24 (exact). */
static inline float wl_uniform(uint64_t* state)
{
    return (float)(uint32_t)(wl_next(state) >> 40) * (1.0f / 16777216.0f);
}

/* n unit directions, uniform on the sphere, from the stream of `seed`:
 * a point of the cube [-1, 1)^3 from three consecutive values, rejected
 * outside the unit ball and at the origin, then scaled to length 1 in
 * double and rounded per component. The squares are exact in double (each
 * coordinate has at most 25 significant bits), so q needs no care. */
static inline void wl_unit_dirs(uint64_t seed, int32_t n, float* x, float* y, float* z)
{
    uint64_t state = seed;
    int32_t i = 0;
    while (i < n) {
        const double a = 2.0 * wl_uniform(&state) - 1.0;
        const double b = 2.0 * wl_uniform(&state) - 1.0;
        const double c = 2.0 * wl_uniform(&state) - 1.0;
        const double q = a * a + b * b + c * c;
        double len;
        if (q == 0.0 || q > 1.0) continue;
        len = sqrt(q);
        x[i] = (float)(a / len);
        y[i] = (float)(b / len);
        z[i] = (float)(c / len);
        ++i;
    }
}

/* ---------------------------------------------------------------- scenes */

typedef struct {
    int32_t nv, nt; /* vertex and triangle counts */
    float* v;       /* x, y, z per vertex */
    int32_t* idx;   /* three 0-based vertex numbers per triangle */
} wl_mesh;

static inline void wl_free_mesh(wl_mesh* m)
{
    free(m->v);
    free(m->idx);
    m->v = NULL;
    m->idx = NULL;
    m->nv = m->nt = 0;
}

/* p grown to hold `need` elements of `size` bytes; NULL (p untouched) when
 * memory runs out. */
static inline void* wl_reserve(void* p, size_t* cap, size_t need, size_t size)
{
    void* q;
    size_t c = *cap ? *cap : 4096;
    if (need <= *cap) return p;
    while (c < need) c *= 2;
    q = realloc(p, c * size);
    if (q) *cap = c;
    return q;
}

/* Reads the "v x y z" and "f a b c" lines of an OBJ file (other lines are
 * ignored; of an "a/b/c" group only a counts). Coordinates are the float32
 * nearest to the decimal text (strtof rounds correctly), indices become
 * 0-based. Returns 0 on success; -1 when the file cannot be opened, -2 when
 * a line is malformed, an index out of range or the mesh empty, -3 when
 * memory runs out. On failure the mesh is left empty. */
static inline int wl_load_obj(const char* path, wl_mesh* m)
{
    FILE* f = fopen(path, "r");
    char line[1024];
    size_t capV = 0, capT = 0, nv = 0, nt = 0, t;
    int rc = 0;
    m->v = NULL;
    m->idx = NULL;
    m->nv = m->nt = 0;
    if (!f) return -1;
    while (rc == 0 && fgets(line, sizeof line, f)) {
        char* p = line + 2;
        char* end;
        int k;
        if (line[0] == 'v' && (line[1] == ' ' || line[1] == '\t')) {
            float* grown = (float*)wl_reserve(m->v, &capV, 3 * (nv + 1), sizeof(float));
            if (!grown) { rc = -3; break; }
            m->v = grown;
            for (k = 0; k < 3; ++k) {
                m->v[3 * nv + k] = strtof(p, &end);
                if (end == p) rc = -2;
                p = end;
            }
            ++nv;
        } else if (line[0] == 'f' && (line[1] == ' ' || line[1] == '\t')) {
            int32_t* grown = (int32_t*)wl_reserve(m->idx, &capT, 3 * (nt + 1), sizeof(int32_t));
            if (!grown) { rc = -3; break; }
            m->idx = grown;
            for (k = 0; k < 3; ++k) {
                const long a = strtol(p, &end, 10);
                if (end == p || a < 1 || a > INT32_MAX) rc = -2;
                m->idx[3 * nt + k] = (int32_t)(a - 1);
                p = end;
                while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') ++p; /* skip "/vt/vn" */
            }
            ++nt;
        }
    }
    if (ferror(f)) rc = -1;
    fclose(f);
    if (rc == 0 && (nv == 0 || nt == 0 || nv > INT32_MAX || nt > INT32_MAX)) rc = -2;
    for (t = 0; rc == 0 && t < 3 * nt; ++t)
        if ((size_t)m->idx[t] >= nv) rc = -2;
    if (rc != 0) {
        wl_free_mesh(m);
        return rc;
    }
    m->nv = (int32_t)nv;
    m->nt = (int32_t)nt;
    return 0;
}

/* Scene "spheres": an 8 x 8 x 8 grid of UV spheres of radius 0.4 at
 * spacing 1, centred on the origin. Sphere s = ix + 8 (iy + 8 iz) owns
 * vertices 1026 s .. 1026 s + 1025 and triangles 2048 s .. 2048 s + 2047.
 * Local vertex 0 is the north pole, 1 + 32 (j - 1) + i the point of ring
 * j = 1..32 (theta = pi j / 33) and segment i = 0..31 (phi = pi i / 16),
 * 1025 the south pole; triangles are counter-clockwise from outside. */
#define WL_SPH_RINGS 32
#define WL_SPH_SEGMENTS 32
#define WL_SPH_VERTS (2 + WL_SPH_RINGS * WL_SPH_SEGMENTS) /* 1026 */
#define WL_SPH_TRIS (2 * WL_SPH_RINGS * WL_SPH_SEGMENTS)  /* 2048 */
#define WL_SPH_COUNT 512

/* Triangles of one sphere in local vertex numbers: north fan, the 31
 * bands between consecutive rings (two per quad), south fan. */
static inline void wl_sphere_triangles(int32_t* t)
{
    const int S = WL_SPH_SEGMENTS, south = WL_SPH_VERTS - 1, last = 1 + S * (WL_SPH_RINGS - 1);
    int i, j;
    for (i = 0; i < S; ++i, t += 3) {
        t[0] = 0;
        t[1] = 1 + i;
        t[2] = 1 + (i + 1) % S;
    }
    for (j = 1; j < WL_SPH_RINGS; ++j)
        for (i = 0; i < S; ++i, t += 6) {
            const int a = 1 + S * (j - 1) + i, b = 1 + S * (j - 1) + (i + 1) % S;
            t[0] = a; t[1] = a + S; t[2] = b + S;
            t[3] = a; t[4] = b + S; t[5] = b;
        }
    for (i = 0; i < S; ++i, t += 3) {
        t[0] = south;
        t[1] = last + (i + 1) % S;
        t[2] = last + i;
    }
}

static inline int wl_make_spheres(wl_mesh* m)
{
    double unit[WL_SPH_VERTS][3];
    int32_t local[3 * WL_SPH_TRIS];
    int j, i, s, k, e;
    m->nv = WL_SPH_COUNT * WL_SPH_VERTS;
    m->nt = WL_SPH_COUNT * WL_SPH_TRIS;
    m->v = (float*)malloc(sizeof(float) * 3 * (size_t)m->nv);
    m->idx = (int32_t*)malloc(sizeof(int32_t) * 3 * (size_t)m->nt);
    if (!m->v || !m->idx) {
        wl_free_mesh(m);
        return -3;
    }
    unit[0][0] = 0.0; unit[0][1] = 0.0; unit[0][2] = 1.0;
    for (j = 1; j <= WL_SPH_RINGS; ++j) {
        const double theta = (WL_PI * j) / 33.0;
        for (i = 0; i < WL_SPH_SEGMENTS; ++i) {
            const double phi = (WL_PI * i) / 16.0;
            double* u = unit[1 + WL_SPH_SEGMENTS * (j - 1) + i];
            u[0] = wl_muld(sin(theta), cos(phi));
            u[1] = wl_muld(sin(theta), sin(phi));
            u[2] = cos(theta);
        }
    }
    unit[WL_SPH_VERTS - 1][0] = 0.0; unit[WL_SPH_VERTS - 1][1] = 0.0; unit[WL_SPH_VERTS - 1][2] = -1.0;
    wl_sphere_triangles(local);
    for (s = 0; s < WL_SPH_COUNT; ++s) {
        const double centre[3] = {s % 8 - 3.5, s / 8 % 8 - 3.5, s / 64 - 3.5};
        float* v = m->v + (size_t)3 * WL_SPH_VERTS * s;
        int32_t* t = m->idx + (size_t)3 * WL_SPH_TRIS * s;
        for (k = 0; k < WL_SPH_VERTS; ++k)
            for (e = 0; e < 3; ++e) v[3 * k + e] = (float)(centre[e] + wl_muld(0.4, unit[k][e]));
        for (k = 0; k < 3 * WL_SPH_TRIS; ++k) t[k] = local[k] + WL_SPH_VERTS * s;
    }
    return 0;
}

/* Float32 box of the vertices. */
static inline void wl_mesh_bounds(const wl_mesh* m, float bmin[3], float bmax[3])
{
    int32_t i;
    int k;
    for (k = 0; k < 3; ++k) bmin[k] = bmax[k] = m->v[k];
    for (i = 1; i < m->nv; ++i)
        for (k = 0; k < 3; ++k) {
            const float x = m->v[3 * (size_t)i + k];
            if (x < bmin[k]) bmin[k] = x;
            if (x > bmax[k]) bmax[k] = x;
        }
}

/* --------------------------------------------------------------- cameras */

typedef struct {
    float eye[3];   /* shared origin of the primary rays */
    float d00[3];   /* direction through the centre of pixel (row 0, column 0) */
    float du[3];    /* one column to the right */
    float dv[3];    /* one row down */
    float light[3]; /* point light, origin of the shadow rays */
} wl_camera;

static inline double wl_length(const double a[3])
{
    return sqrt((wl_muld(a[0], a[0]) + wl_muld(a[1], a[1])) + wl_muld(a[2], a[2]));
}

static inline void wl_cross(const double a[3], const double b[3], double out[3])
{
    out[0] = wl_muld(a[1], b[2]) - wl_muld(a[2], b[1]);
    out[1] = wl_muld(a[2], b[0]) - wl_muld(a[0], b[2]);
    out[2] = wl_muld(a[0], b[1]) - wl_muld(a[1], b[0]);
}

/* Pinhole camera of a square 1024 x 1024 image, derived in double and
 * rounded per component: forward f, right r = f x up, true up u = r x f,
 * h = tan(fov / 2); du and dv span one pixel, d00 points at the centre of
 * the top-left pixel. */
static inline void wl_camera_make(const double eye[3], const double at[3], const double up[3], double fovDegrees,
                                  const double light[3], wl_camera* c)
{
    double f[3], r[3], u[3], len, h, toLeft, toTop, step;
    int k;
    for (k = 0; k < 3; ++k) f[k] = at[k] - eye[k];
    len = wl_length(f);
    for (k = 0; k < 3; ++k) f[k] /= len;
    wl_cross(f, up, r);
    len = wl_length(r);
    for (k = 0; k < 3; ++k) r[k] /= len;
    wl_cross(r, f, u);
    h = tan(wl_muld(fovDegrees, WL_PI) / 360.0);
    toLeft = wl_muld(h, 1.0 / WL_IMAGE_W - 1.0);
    toTop = wl_muld(h, 1.0 - 1.0 / WL_IMAGE_H);
    step = 2.0 * h / WL_IMAGE_W; /* exact: a power-of-two scaling */
    for (k = 0; k < 3; ++k) {
        c->eye[k] = (float)eye[k];
        c->light[k] = (float)light[k];
        c->du[k] = (float)wl_muld(r[k], step);
        c->dv[k] = (float)wl_muld(u[k], -step);
        c->d00[k] = (float)((f[k] + wl_muld(r[k], toLeft)) + wl_muld(u[k], toTop));
    }
}

static inline void wl_camera_for(int scene, wl_camera* c)
{
    static const double up[3] = {0.0, 1.0, 0.0};
    static const double bunnyEye[3] = {8.0, 9.0, 15.0}, bunnyAt[3] = {-0.25, 4.7, 0.0},
                        bunnyLight[3] = {-12.0, 25.0, 18.0};
    static const double spheresEye[3] = {10.0, 7.5, 13.5}, spheresAt[3] = {0.0, 0.0, 0.0},
                        spheresLight[3] = {14.0, 18.0, 6.0};
    if (scene == WL_SCENE_BUNNY)
        wl_camera_make(bunnyEye, bunnyAt, up, 40.0, bunnyLight, c);
    else
        wl_camera_make(spheresEye, spheresAt, up, 45.0, spheresLight, c);
}

/* ------------------------------------------------------------- ray workloads */

/* Direction of the primary ray of pixel (row, col), not normalised:
 * (dv * row + d00) + du * col in float32, in that order. */
static inline void wl_eye_dir(const wl_camera* c, int32_t row, int32_t col, float d[3])
{
    int k;
    for (k = 0; k < 3; ++k) d[k] = (wl_mulf(c->dv[k], (float)row) + c->d00[k]) + wl_mulf(c->du[k], (float)col);
}

/* W1: the 1024 x 1024 primary directions as three planes, pixel (r, c) at
 * r * 1024 + c. */
static inline void wl_eye_dirs(const wl_camera* c, float* dx, float* dy, float* dz)
{
    int32_t r, col;
    for (r = 0; r < WL_IMAGE_H; ++r)
        for (col = 0; col < WL_IMAGE_W; ++col) {
            const size_t i = (size_t)r * WL_IMAGE_W + (size_t)col;
            float d[3];
            wl_eye_dir(c, r, col, d);
            dx[i] = d[0];
            dy[i] = d[1];
            dz[i] = d[2];
        }
}

/* W2: the shadow ray of a primary hit at distance t along (dx, dy, dz).
 * The hit point is pulled slightly towards the eye, P = (d * eps) * t + eye,
 * and D = P - light, so the ray from the light reaches P at t = 1 just in
 * front of the surface; it is blocked by a hit at 0 < t < 1. */
static inline void wl_shadow_dir(const wl_camera* c, float dx, float dy, float dz, float t, float D[3])
{
    const float d[3] = {dx, dy, dz};
    int k;
    for (k = 0; k < 3; ++k) {
        const float p = wl_mulf(wl_mulf(d[k], WL_SHADOW_EPS), t) + c->eye[k];
        D[k] = p - c->light[k];
    }
}

/* W3: n rays with origins uniform in the box [bmin, bmax] (values 3i, 3i + 1,
 * 3i + 2 of the origin stream for ray i: o = bmin + u * (bmax - bmin) in
 * float32) and unit directions of the direction stream. */
static inline void wl_random_rays(const float bmin[3], const float bmax[3], int32_t n, float* ox, float* oy,
                                  float* oz, float* dx, float* dy, float* dz)
{
    uint64_t state = WL_SEED_W3_ORIGIN;
    float* o[3];
    float extent[3];
    int32_t i;
    int k;
    o[0] = ox;
    o[1] = oy;
    o[2] = oz;
    for (k = 0; k < 3; ++k) extent[k] = bmax[k] - bmin[k];
    for (i = 0; i < n; ++i)
        for (k = 0; k < 3; ++k) o[k][i] = bmin[k] + wl_mulf(wl_uniform(&state), extent[k]);
    wl_unit_dirs(WL_SEED_W3_DIR, n, dx, dy, dz);
}

/* ------------------------------------------------------------------ volumes */

/* 32-bit integer finaliser: two multiply-xorshift rounds. */
static inline uint32_t wl_hash32(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

/* Hash of the voxel with linear index n (x + W (y + H z)) in the volume of
 * `seed`; all arithmetic wraps modulo 2^32. */
static inline uint32_t wl_voxel_hash(uint32_t n, uint32_t seed)
{
    return wl_hash32(n + seed * 0x9E3779B9u);
}

/* White-noise volumes, x fastest, no row padding: the top 8 bits; the top
 * 24 bits scaled into [0, 1); the top 12 bits centred on zero. */
static inline void wl_fill_8u(uint8_t* v, int w, int h, int d, uint32_t seed)
{
    const uint32_t n = (uint32_t)w * (uint32_t)h * (uint32_t)d;
    uint32_t i;
    for (i = 0; i < n; ++i) v[i] = (uint8_t)(wl_voxel_hash(i, seed) >> 24);
}
static inline void wl_fill_32f(float* v, int w, int h, int d, uint32_t seed)
{
    const uint32_t n = (uint32_t)w * (uint32_t)h * (uint32_t)d;
    uint32_t i;
    for (i = 0; i < n; ++i) v[i] = (float)(wl_voxel_hash(i, seed) >> 8) * (1.0f / 16777216.0f);
}
static inline void wl_fill_16s(int16_t* v, int w, int h, int d, uint32_t seed)
{
    const uint32_t n = (uint32_t)w * (uint32_t)h * (uint32_t)d;
    uint32_t i;
    for (i = 0; i < n; ++i) v[i] = (int16_t)((int32_t)(wl_voxel_hash(i, seed) >> 20) - 2048);
}

/* V3: the forward transform (source point to destination point), a
 * rotation by +30 degrees about z around the centre 127.5 of a 256^3
 * volume, as a row-major 3 x 4 matrix. The translations are the doubles
 * nearest to 127.5 - 127.5 c + 127.5 s and 127.5 - 127.5 s - 127.5 c. */
static inline void wl_rot30(double a[3][4])
{
    static const double m[3][4] = {{0.8660254037844386, -0.5, 0.0, 80.831761017484084},
                                   {0.5, 0.8660254037844386, 0.0, -46.668238982515916},
                                   {0.0, 0.0, 1.0, 0.0}};
    memcpy(a, m, sizeof m);
}

/* V4: the source position of every destination voxel (X, Y, Z), a smooth
 * displacement of up to 4 voxels with period 64, in the volume layout:
 * sx = X + 4 sin(pi (Y mod 64) / 32), sy = Y + 4 sin(pi (Z mod 64) / 32),
 * sz = Z + 4 sin(pi (X mod 64) / 32), in double, rounded to float32. */
static inline void wl_remap_maps(int w, int h, int d, float* mx, float* my, float* mz)
{
    double wave[64];
    size_t i = 0;
    int x, y, z;
    for (x = 0; x < 64; ++x) wave[x] = 4.0 * sin((WL_PI * x) / 32.0);
    for (z = 0; z < d; ++z)
        for (y = 0; y < h; ++y)
            for (x = 0; x < w; ++x, ++i) {
                mx[i] = (float)(x + wave[y % 64]);
                my[i] = (float)(y + wave[z % 64]);
                mz[i] = (float)(z + wave[x % 64]);
            }
}

/* V5: separable binomial kernels, element (i, j, k) at i + n (j + n k);
 * divisors 64 (3 x 3 x 3) and 4096 (5 x 5 x 5). */
static inline void wl_binomial_kernel(int n, int32_t* k)
{
    static const int32_t b3[3] = {1, 2, 1}, b5[5] = {1, 4, 6, 4, 1};
    const int32_t* b = n == 3 ? b3 : b5;
    int i, j, l;
    for (l = 0; l < n; ++l)
        for (j = 0; j < n; ++j)
            for (i = 0; i < n; ++i) k[i + n * (j + n * l)] = b[i] * b[j] * b[l];
}
static inline void wl_kernel3(int32_t k[27]) { wl_binomial_kernel(3, k); }
static inline void wl_kernel5(int32_t k[125]) { wl_binomial_kernel(5, k); }

/* ------------------------------------------------------ spherical harmonics */

/* S2 sample values 2u - 1 (exact in float32) of the value stream. S1 and S2
 * directions are wl_unit_dirs of WL_SEED_S1_DIR and WL_SEED_S2_DIR. */
static inline void wl_sh_values(int32_t n, float* v)
{
    uint64_t state = WL_SEED_S2_VALUE;
    int32_t i;
    for (i = 0; i < n; ++i) v[i] = 2.0f * wl_uniform(&state) - 1.0f;
}

/* ------------------------------------------------------------------ SHA-256 */

typedef struct {
    uint32_t h[8];
    uint64_t bytes;
    uint8_t block[64];
    size_t used;
} wl_sha256;

static inline uint32_t wl_rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

static inline void wl_sha256_compress(wl_sha256* c, const uint8_t* p)
{
    static const uint32_t K[64] = {
        0x428a2f98u, 0x71374491u, 0xb5c0fbcfu, 0xe9b5dba5u, 0x3956c25bu, 0x59f111f1u, 0x923f82a4u, 0xab1c5ed5u,
        0xd807aa98u, 0x12835b01u, 0x243185beu, 0x550c7dc3u, 0x72be5d74u, 0x80deb1feu, 0x9bdc06a7u, 0xc19bf174u,
        0xe49b69c1u, 0xefbe4786u, 0x0fc19dc6u, 0x240ca1ccu, 0x2de92c6fu, 0x4a7484aau, 0x5cb0a9dcu, 0x76f988dau,
        0x983e5152u, 0xa831c66du, 0xb00327c8u, 0xbf597fc7u, 0xc6e00bf3u, 0xd5a79147u, 0x06ca6351u, 0x14292967u,
        0x27b70a85u, 0x2e1b2138u, 0x4d2c6dfcu, 0x53380d13u, 0x650a7354u, 0x766a0abbu, 0x81c2c92eu, 0x92722c85u,
        0xa2bfe8a1u, 0xa81a664bu, 0xc24b8b70u, 0xc76c51a3u, 0xd192e819u, 0xd6990624u, 0xf40e3585u, 0x106aa070u,
        0x19a4c116u, 0x1e376c08u, 0x2748774cu, 0x34b0bcb5u, 0x391c0cb3u, 0x4ed8aa4au, 0x5b9cca4fu, 0x682e6ff3u,
        0x748f82eeu, 0x78a5636fu, 0x84c87814u, 0x8cc70208u, 0x90befffau, 0xa4506cebu, 0xbef9a3f7u, 0xc67178f2u};
    uint32_t w[64], s[8];
    int i;
    for (i = 0; i < 16; ++i)
        w[i] = (uint32_t)p[4 * i] << 24 | (uint32_t)p[4 * i + 1] << 16 | (uint32_t)p[4 * i + 2] << 8 | p[4 * i + 3];
    for (i = 16; i < 64; ++i)
        w[i] = w[i - 16] + (wl_rotr(w[i - 15], 7) ^ wl_rotr(w[i - 15], 18) ^ (w[i - 15] >> 3)) + w[i - 7] +
               (wl_rotr(w[i - 2], 17) ^ wl_rotr(w[i - 2], 19) ^ (w[i - 2] >> 10));
    memcpy(s, c->h, sizeof s);
    for (i = 0; i < 64; ++i) {
        const uint32_t t1 = s[7] + (wl_rotr(s[4], 6) ^ wl_rotr(s[4], 11) ^ wl_rotr(s[4], 25)) +
                            ((s[4] & s[5]) ^ (~s[4] & s[6])) + K[i] + w[i];
        const uint32_t t2 = (wl_rotr(s[0], 2) ^ wl_rotr(s[0], 13) ^ wl_rotr(s[0], 22)) +
                            ((s[0] & s[1]) ^ (s[0] & s[2]) ^ (s[1] & s[2]));
        memmove(s + 1, s, 7 * sizeof(uint32_t));
        s[4] += t1;
        s[0] = t1 + t2;
    }
    for (i = 0; i < 8; ++i) c->h[i] += s[i];
}

static inline void wl_sha256_init(wl_sha256* c)
{
    static const uint32_t h0[8] = {0x6a09e667u, 0xbb67ae85u, 0x3c6ef372u, 0xa54ff53au,
                                   0x510e527fu, 0x9b05688cu, 0x1f83d9abu, 0x5be0cd19u};
    memcpy(c->h, h0, sizeof h0);
    c->bytes = 0;
    c->used = 0;
}

static inline void wl_sha256_update(wl_sha256* c, const void* data, size_t n)
{
    const uint8_t* p = (const uint8_t*)data;
    c->bytes += n;
    while (n > 0) {
        if (c->used == 0 && n >= 64) {
            wl_sha256_compress(c, p);
            p += 64;
            n -= 64;
        } else {
            const size_t take = n < 64 - c->used ? n : 64 - c->used;
            memcpy(c->block + c->used, p, take);
            c->used += take;
            p += take;
            n -= take;
            if (c->used == 64) {
                wl_sha256_compress(c, c->block);
                c->used = 0;
            }
        }
    }
}

/* 64 lowercase hex digits and a terminating zero. */
static inline void wl_sha256_final(wl_sha256* c, char hex[65])
{
    const uint64_t bits = c->bytes * 8;
    uint8_t tail[72];
    const size_t pad = (c->used < 56 ? 56 : 120) - c->used;
    int i;
    memset(tail, 0, sizeof tail);
    tail[0] = 0x80;
    for (i = 0; i < 8; ++i) tail[pad + i] = (uint8_t)(bits >> (56 - 8 * i));
    wl_sha256_update(c, tail, pad + 8);
    for (i = 0; i < 8; ++i) snprintf(hex + 8 * i, 9, "%08x", (unsigned)c->h[i]);
}

static inline void wl_sha256_hex(const void* data, size_t n, char hex[65])
{
    wl_sha256 c;
    wl_sha256_init(&c);
    wl_sha256_update(&c, data, n);
    wl_sha256_final(&c, hex);
}

#ifdef __cplusplus
}
#endif

#endif /* VEKR_WORKLOADS_H */
