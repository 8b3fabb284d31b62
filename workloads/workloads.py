#!/usr/bin/env python3
"""The standard benchmark workloads of vekr, generated with numpy.

The same arrays, bit for bit, as workloads.h beside this file: the scenes
(the bunny read from data/bunny.obj, the grid of spheres built), cameras,
ray workloads, volume sources, warp and remap inputs, filter kernels and
spherical-harmonics samples. The peer scripts in bench/ import it so that
every library they time works on the same bytes as vekr's benchmarks.

numpy's float32 arithmetic rounds every operation on its own (it never fuses
a product into a sum), and sin, cos and tan come from the C library through
the math module, so the definitions carry over exactly.

    python3 workloads/workloads.py                      print every checksum
    python3 workloads/workloads.py --check CHECKSUMS    compare with a list
                                                        (exit status 1 on a
                                                        mismatch)
Needs numpy (Debian: python3-numpy; scripts/setup-deps installs it).
"""
import hashlib
import math
import os
import sys
from fractions import Fraction

try:
    import numpy as np
except ImportError:  # pragma: no cover - reported, not hidden
    sys.exit("workloads.py needs numpy (Debian: python3-numpy, installed by scripts/setup-deps)")

HERE = os.path.dirname(os.path.abspath(__file__))
DATA_DIR = os.path.join(os.path.dirname(HERE), "data")
BUNNY_OBJ = os.path.join(DATA_DIR, "bunny.obj")

IMAGE_W = IMAGE_H = 1024
NRAYS = IMAGE_W * IMAGE_H

SEED_W3_ORIGIN = 0x5EED0001
SEED_W3_DIR = 0x5EED0002
SEED_S1_DIR = 0x5EED0003
SEED_S2_DIR = 0x5EED0004
SEED_S2_VALUE = 0x5EED0005

SEED_A, SEED_B, SEED_C = 1, 2, 3  # volume sources A (8u 128^3), B (32f 256^3), C (16s 260^3)

TFAR = np.float32(1e30)
SHADOW_EPS = np.float32(0.9999)

_U64 = np.uint64


# ------------------------------------------------------------ random streams

def stream(seed, first, count):
    """Draws first .. first + count - 1 (0-based) of the SplitMix64 stream of seed.

    Draw k sees the state seed + (k + 1) * golden (mod 2^64), so any stretch
    of the stream is computed without the ones before it.
    """
    with np.errstate(over="ignore"):
        z = _U64(seed) + np.arange(first + 1, first + count + 1, dtype=np.uint64) * _U64(0x9E3779B97F4A7C15)
        z = (z ^ (z >> _U64(30))) * _U64(0xBF58476D1CE4E5B9)
        z = (z ^ (z >> _U64(27))) * _U64(0x94D049BB133111EB)
    return z ^ (z >> _U64(31))


def uniform(seed, first, count):
    """Uniform float32 values in [0, 1): the top 24 bits of each draw times 2^-24."""
    return (stream(seed, first, count) >> _U64(40)).astype(np.float32) * np.float32(2.0 ** -24)


def unit_dirs(seed, n):
    """n unit directions (x, y, z float32 planes), uniform on the sphere.

    Three consecutive values make a point of [-1, 1)^3 (exact); points outside
    the unit ball or at the origin are dropped, the rest scaled to length 1 in
    double and rounded per component.
    """
    kept, have, used = [], 0, 0
    while have < n:
        triples = max(1 << 16, int((n - have) * 1.95) + 64)  # the ball fills pi/6 of the cube
        p = 2.0 * uniform(seed, used, 3 * triples).astype(np.float64).reshape(triples, 3) - 1.0
        used += 3 * triples
        q = (p * p).sum(axis=1)  # exact: every square has at most 50 significant bits
        p = p[(q > 0.0) & (q <= 1.0)]
        kept.append((p / np.sqrt((p * p).sum(axis=1))[:, None]).astype(np.float32))
        have += len(kept[-1])
    d = np.concatenate(kept)[:n]
    return tuple(np.ascontiguousarray(d[:, k]) for k in range(3))


# -------------------------------------------------------------------- scenes

def float32_of_text(text):
    """The float32 nearest to a decimal number, ties to even.

    Going through a Python float would round twice (to double, then to
    float32), which can land one step off; the exact value decides between
    that result and its two neighbours.
    """
    exact = Fraction(text)
    best = np.float32(float(text))
    for c in (np.nextafter(best, np.float32(-np.inf)), np.nextafter(best, np.float32(np.inf))):
        dc, db = abs(Fraction(float(c)) - exact), abs(Fraction(float(best)) - exact)
        if dc < db or (dc == db and int(c.view(np.uint32)) % 2 == 0):
            best = c
    return best


def load_obj(path=BUNNY_OBJ):
    """Vertices (float32, n x 3) and 0-based triangles (int32, m x 3) of an OBJ file.

    Only "v" and "f" lines count; of an "a/b/c" group only a. Coordinates
    are the float32 nearest to the decimal text.
    """
    verts, faces = [], []
    with open(path) as f:
        for line in f:
            fields = line.split()
            if not fields:
                continue
            if fields[0] == "v":
                verts.append(fields[1:4])
            elif fields[0] == "f":
                faces.append([int(t.split("/")[0]) - 1 for t in fields[1:4]])
    if not verts or not faces:
        raise ValueError("%s: no vertices or no triangles" % path)
    v = np.array([[float32_of_text(x) for x in row] for row in verts], dtype=np.float32)
    t = np.array(faces, dtype=np.int32)
    if t.min() < 0 or t.max() >= len(v):
        raise ValueError("%s: a triangle names a vertex that is not there" % path)
    return v, t


def sphere_triangles():
    """Triangles of one UV sphere in local vertex numbers (2048 x 3)."""
    seg, rings = 32, 32
    out = [(0, 1 + i, 1 + (i + 1) % seg) for i in range(seg)]
    for j in range(1, rings):
        for i in range(seg):
            a, b = 1 + seg * (j - 1) + i, 1 + seg * (j - 1) + (i + 1) % seg
            out += [(a, a + seg, b + seg), (a, b + seg, b)]
    last = 1 + seg * (rings - 1)
    out += [(1025, last + (i + 1) % seg, last + i) for i in range(seg)]
    return np.array(out, dtype=np.int32)


def make_spheres():
    """Scene "spheres": 8 x 8 x 8 UV spheres of radius 0.4, 1026 vertices and 2048 triangles each."""
    unit = [(0.0, 0.0, 1.0)]
    for j in range(1, 33):
        theta = (math.pi * j) / 33
        for i in range(32):
            phi = (math.pi * i) / 16
            unit.append((math.sin(theta) * math.cos(phi), math.sin(theta) * math.sin(phi), math.cos(theta)))
    unit.append((0.0, 0.0, -1.0))
    unit = 0.4 * np.array(unit, dtype=np.float64)
    s = np.arange(512)
    centres = np.stack([s % 8, s // 8 % 8, s // 64], axis=1) - 3.5
    verts = (centres[:, None, :] + unit[None, :, :]).astype(np.float32).reshape(-1, 3)
    tris = (sphere_triangles()[None, :, :] + (1026 * s)[:, None, None]).astype(np.int32).reshape(-1, 3)
    return verts, tris


def scene(name):
    return load_obj() if name == "bunny" else make_spheres()


def bounds(verts):
    """Float32 box of the vertices: (min, max), 3 values each."""
    return verts.min(axis=0), verts.max(axis=0)


# ------------------------------------------------------------------- cameras

CAMERA_PARAMETERS = {
    #          eye                look-at            fov    light
    "bunny": ((8.0, 9.0, 15.0), (-0.25, 4.7, 0.0), 40.0, (-12.0, 25.0, 18.0)),
    "spheres": ((10.0, 7.5, 13.5), (0.0, 0.0, 0.0), 45.0, (14.0, 18.0, 6.0)),
}


def camera(name):
    """eye, d00, du, dv, light of a scene's camera: float32 arrays of 3."""
    eye, at, fov, light = CAMERA_PARAMETERS[name]
    up = (0.0, 1.0, 0.0)

    def unit(v):
        n = math.sqrt((v[0] * v[0] + v[1] * v[1]) + v[2] * v[2])
        return [c / n for c in v]

    def cross(a, b):
        return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]

    f = unit([at[k] - eye[k] for k in range(3)])
    r = unit(cross(f, up))
    u = cross(r, f)
    h = math.tan(fov * math.pi / 360.0)
    step = 2.0 * h / IMAGE_W
    to_left, to_top = h * (1.0 / IMAGE_W - 1.0), h * (1.0 - 1.0 / IMAGE_H)
    f32 = lambda v: np.array(v, dtype=np.float32)  # noqa: E731
    return {
        "eye": f32(eye),
        "d00": f32([(f[k] + r[k] * to_left) + u[k] * to_top for k in range(3)]),
        "du": f32([r[k] * step for k in range(3)]),
        "dv": f32([u[k] * -step for k in range(3)]),
        "light": f32(light),
    }


# ------------------------------------------------------------- ray workloads

def eye_dirs(cam):
    """W1: primary directions (dv * row + d00) + du * column, three planes, pixel (r, c) at r * 1024 + c."""
    rows = np.arange(IMAGE_H, dtype=np.float32)[:, None]
    cols = np.arange(IMAGE_W, dtype=np.float32)[None, :]
    return tuple(((cam["dv"][k] * rows + cam["d00"][k]) + cam["du"][k] * cols).reshape(-1) for k in range(3))


def shadow_dirs(cam, dirs, t):
    """W2: light-to-hit-point vectors for hits at distances t along dirs (float32 planes)."""
    return tuple(((d * SHADOW_EPS) * t + cam["eye"][k]) - cam["light"][k] for k, d in enumerate(dirs))


def random_rays(lo, hi, n=NRAYS):
    """W3: origins uniform in the box [lo, hi] and unit directions, as two triples of planes."""
    u = uniform(SEED_W3_ORIGIN, 0, 3 * n).reshape(n, 3)
    extent = (hi - lo).astype(np.float32)
    origins = lo + u * extent
    return tuple(np.ascontiguousarray(origins[:, k]) for k in range(3)), unit_dirs(SEED_W3_DIR, n)


# ------------------------------------------------------------------- volumes

def voxel_hash(count, seed):
    """The hash of linear indices 0 .. count - 1 in the volume of seed (uint32)."""
    with np.errstate(over="ignore"):
        x = np.arange(count, dtype=np.uint32) + np.uint32((seed * 0x9E3779B9) & 0xFFFFFFFF)
        x ^= x >> np.uint32(16)
        x *= np.uint32(0x7FEB352D)
        x ^= x >> np.uint32(15)
        x *= np.uint32(0x846CA68B)
        x ^= x >> np.uint32(16)
    return x


def volume_8u(w, h, d, seed):
    """White noise, top 8 bits; array index [z, y, x]."""
    return (voxel_hash(w * h * d, seed) >> np.uint32(24)).astype(np.uint8).reshape(d, h, w)


def volume_32f(w, h, d, seed):
    """White noise in [0, 1), top 24 bits times 2^-24; array index [z, y, x]."""
    v = (voxel_hash(w * h * d, seed) >> np.uint32(8)).astype(np.float32) * np.float32(2.0 ** -24)
    return v.reshape(d, h, w)


def volume_16s(w, h, d, seed):
    """White noise in [-2048, 2047], top 12 bits; array index [z, y, x]."""
    v = (voxel_hash(w * h * d, seed) >> np.uint32(20)).astype(np.int32) - 2048
    return v.astype(np.int16).reshape(d, h, w)


def source_a():
    return volume_8u(128, 128, 128, SEED_A)


def source_b():
    return volume_32f(256, 256, 256, SEED_B)


def source_c():
    return volume_16s(260, 260, 260, SEED_C)


def rot30():
    """V3: forward 3 x 4 transform (x, y, z order), rotation by +30 degrees about z around 127.5."""
    return np.array([[0.8660254037844386, -0.5, 0.0, 80.831761017484084],
                     [0.5, 0.8660254037844386, 0.0, -46.668238982515916],
                     [0.0, 0.0, 1.0, 0.0]], dtype=np.float64)


def remap_maps(n=256):
    """V4: source positions sx, sy, sz (float32, each indexed [z, y, x]) of every destination voxel."""
    wave = np.array([4.0 * math.sin((math.pi * k) / 32.0) for k in range(64)])
    k = np.arange(n)
    z, y, x = k[:, None, None], k[None, :, None], k[None, None, :]
    full = lambda a: np.ascontiguousarray(np.broadcast_to(a.astype(np.float32), (n, n, n)))  # noqa: E731
    return full(x + wave[y % 64]), full(y + wave[z % 64]), full(z + wave[x % 64])


def kernel(n):
    """V5: the n x n x n binomial kernel (int32, symmetric) and its divisor."""
    b = np.array({3: [1, 2, 1], 5: [1, 4, 6, 4, 1]}[n], dtype=np.int32)
    return b[:, None, None] * b[None, :, None] * b[None, None, :], {3: 64, 5: 4096}[n]


# ------------------------------------------------------- spherical harmonics

def sh_values(n=NRAYS):
    """S2: sample values 2u - 1 (exact float32)."""
    return np.float32(2.0) * uniform(SEED_S2_VALUE, 0, n) - np.float32(1.0)


# ----------------------------------------------------------------- checksums

def sha256(*arrays):
    h = hashlib.sha256()
    for a in arrays:
        h.update(np.ascontiguousarray(a).tobytes())
    return h.hexdigest()


def checksums():
    """(name, SHA-256) of every standard array, named as in checksums.txt."""
    out = []
    meshes = {name: scene(name) for name in ("bunny", "spheres")}
    for name, (v, t) in meshes.items():
        out += [(name + ".vertices", sha256(v)), (name + ".indices", sha256(t))]
    for name, (v, _) in meshes.items():
        cam = camera(name)
        out.append((name + ".camera", sha256(*(cam[k] for k in ("eye", "d00", "du", "dv", "light")))))
        out.append((name + ".W1.directions", sha256(*eye_dirs(cam))))
        origins, dirs = random_rays(*bounds(v))
        out += [(name + ".W3.origins", sha256(*origins)), (name + ".W3.directions", sha256(*dirs))]
    out.append(("V1.source.8u.128", sha256(source_a())))
    out.append(("V2-V4.source.32f.256", sha256(source_b())))
    out.append(("V5.source.16s.260", sha256(source_c())))
    out.append(("V3.transform", sha256(rot30())))
    out.append(("V4.maps", sha256(*remap_maps())))
    out.append(("V5.kernels", sha256(kernel(3)[0], kernel(5)[0])))
    out.append(("S1.directions", sha256(*unit_dirs(SEED_S1_DIR, NRAYS))))
    out.append(("S2.directions", sha256(*unit_dirs(SEED_S2_DIR, NRAYS))))
    out.append(("S2.values", sha256(sh_values())))
    with open(BUNNY_OBJ, "rb") as f:
        out.append(("bunny.obj", hashlib.sha256(f.read()).hexdigest()))
    return out


def read_checksums(path):
    table = {}
    with open(path) as f:
        for line in f:
            fields = line.split()
            if len(fields) == 2 and not fields[0].startswith("#"):
                table[fields[0]] = fields[1]
    return table


def main(argv):
    if len(argv) == 3 and argv[1] == "--check":
        expected = read_checksums(argv[2])
        got = dict(checksums())
        bad = sorted(n for n in set(expected) | set(got) if expected.get(n) != got.get(n))
        for name in bad:
            print("MISMATCH %-24s expected %s, generated %s" % (name, expected.get(name, "-"), got.get(name, "-")))
        print("%d of %d checksums match" % (len(expected) - len(bad), len(expected)))
        return 1 if bad or not expected else 0
    if len(argv) != 1:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    for name, digest in checksums():
        print("%-24s %s" % (name, digest))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
