"""vekr.dask equals the in-memory functions bit for bit, for every mode and
voxel type, on awkward chunkings; renders on Dask equal single renders."""
import dask
import dask.array as da
import numpy as np
import pytest

import vekr.dask as vd
import vekr.rays as vr
import vekr.volume as vv
from conftest import noise

MODES = list(vv.INTERPOLATIONS)
TYPES = [np.uint8, np.uint16, np.float32]
SHAPE = (11, 13, 12)
CHUNKINGS = [(1, 13, 12), (4, 5, 7), (11, 1, 5), 6]  # chunks of 1, chunks not dividing the shape


@pytest.fixture(autouse=True, scope="module")
def threaded():
    with dask.config.set(scheduler="threads"):
        yield


@pytest.mark.parametrize("dtype", TYPES)
@pytest.mark.parametrize("mode", MODES)
def test_resize(dtype, mode):
    v = noise(SHAPE, dtype, seed=1)
    for factors, shifts in [((2, 1.5, 0.7), (0, 0, 0)), ((0.4, 3, 1), (1.5, -2, 0.25))]:
        ref = vv.resize(v, factors, shifts, mode)
        for chunks in CHUNKINGS:
            out = vd.resize(da.from_array(v, chunks=chunks), factors, shifts, mode, chunks=(3, 7, 5)).compute()
            assert np.array_equal(out, ref), (factors, chunks)


def _about_centre(r, shape):
    c = (np.array(shape) - 1) / 2.0
    return np.hstack([r, (c - r @ c)[:, None]])


def _rot(axis, degrees):
    a = np.radians(degrees)
    r = np.eye(3)
    i, j = [k for k in range(3) if k != axis]
    r[i, i], r[i, j], r[j, i], r[j, j] = np.cos(a), -np.sin(a), np.sin(a), np.cos(a)
    return r


# Transforms whose plane steps add exactly: rotations about z (x' and y'
# do not depend on z), quarter turns and flips that pull whole planes from
# the far end of the volume, and a scaling with a shift.
TRANSFORMS = {
    "rot30_z": _about_centre(_rot(0, 30), SHAPE),
    "quarter_x": _about_centre(np.array([[0, 0, 1], [0, 1, 0], [-1, 0, 0]], float), (12, 13, 12)),
    "flip_z": _about_centre(np.diag([-1.0, 1, 1]), SHAPE),
    "scale": np.array([[0.5, 0, 0, 2.25], [0, 1.25, 0, -1], [0, 0, 2, 0.5]]),
}


@pytest.mark.parametrize("dtype", TYPES)
@pytest.mark.parametrize("mode", MODES)
def test_warp_affine(dtype, mode):
    v = noise(SHAPE, dtype, seed=2)
    for name, m in TRANSFORMS.items():
        ref = vv.warp_affine(v, m, interpolation=mode, fill=3, threads=1)
        for chunks in CHUNKINGS:
            out = vd.warp_affine(da.from_array(v, chunks=chunks), m, interpolation=mode, fill=3, chunks=2).compute()
            assert np.array_equal(out, ref), (name, chunks)


def test_warp_affine_general_rotation_within_the_last_bit():
    # A rotation about a tilted axis: plane steps do not add exactly, so a
    # block starting at another plane may round a position differently, as
    # a threaded in-memory call does.
    v = noise((24, 25, 26), np.float32, seed=3)
    m = _about_centre(_rot(0, 20) @ _rot(1, 35), v.shape)
    ref = vv.warp_affine(v, m, interpolation="catmull-rom", threads=1)
    out = vd.warp_affine(da.from_array(v, chunks=5), m, interpolation="catmull-rom", chunks=3).compute()
    diff = out != ref
    assert diff.mean() < 1e-3
    np.testing.assert_allclose(out, ref, rtol=0, atol=1e-5)


def _misaligned(block):
    """A copy of block whose data start one byte past an element boundary,
    as an array read from another worker's message may."""
    raw = np.empty(block.nbytes + 1, np.uint8)
    out = raw[1:].view(block.dtype).reshape(block.shape)
    out[...] = block
    return out


@pytest.mark.parametrize("dtype", [np.uint16, np.float32])
def test_blocks_from_misaligned_chunks(dtype):
    # The library refuses misaligned data, so every piece must be realigned
    # (copied) before the call, whether it goes as planes or joined.
    v = noise(SHAPE, dtype, seed=6)
    x = da.from_array(v, chunks=(3, 10, 11)).map_blocks(_misaligned, dtype=dtype)
    m = TRANSFORMS["rot30_z"]
    assert np.array_equal(vd.warp_affine(x, m, chunks=2).compute(), vv.warp_affine(v, m, threads=1))
    assert np.array_equal(vd.resize(x, (1.5, 0.5, 1), chunks=4).compute(), vv.resize(v, (1.5, 0.5, 1)))
    zmap = np.broadcast_to(np.arange(SHAPE[0], dtype=np.float32)[::-1, None, None], SHAPE)
    ymap, xmap = np.meshgrid(np.arange(SHAPE[1], dtype=np.float32), np.arange(SHAPE[2], dtype=np.float32),
                             indexing="ij")
    maps = [da.from_array(np.ascontiguousarray(np.broadcast_to(m, SHAPE)), chunks=4).map_blocks(_misaligned)
            for m in (zmap, ymap, xmap)]
    ref = vv.remap(v, *[np.ascontiguousarray(np.broadcast_to(m, SHAPE)) for m in (zmap, ymap, xmap)])
    assert np.array_equal(vd.remap(x, *maps).compute(), ref)


@pytest.mark.parametrize("dtype", TYPES)
@pytest.mark.parametrize("mode", MODES)
def test_remap(dtype, mode):
    v = noise(SHAPE, dtype, seed=4)
    z, y, x = np.meshgrid(*[np.arange(n, dtype=np.float64) for n in (9, 10, 11)], indexing="ij")
    maps = [(SHAPE[0] - 1 - z + 0.7 * np.sin(x)).astype(np.float32),  # pulls from the far end
            (1.1 * y + np.cos(z)).astype(np.float32),
            (x + 0.5 * np.sin(y) - 0.3).astype(np.float32)]
    maps[2][0, 0, :3] = np.nan
    ref = vv.remap(v, *maps, interpolation=mode, fill=5)
    for chunks in [(1, 10, 11), (4, 3, 5), 6]:
        out = vd.remap(da.from_array(v, chunks=5), *[da.from_array(m, chunks=chunks) for m in maps],
                       interpolation=mode, fill=5).compute()
        assert np.array_equal(out, ref), chunks


@pytest.mark.parametrize("mode", list(vv.BORDER_MODES))
def test_convolve(mode):
    rng = np.random.default_rng(5)
    v = rng.integers(-4000, 4000, SHAPE).astype(np.int16)
    for kshape, anchor, divisor in [((3, 3, 3), None, 27), ((2, 5, 4), (1, 0, 3), 7), ((5, 1, 3), (6, 0, 1), 1)]:
        k = rng.integers(-5, 6, kshape)
        ref = vv.convolve(v, k, divisor, anchor, mode=mode, cval=-9)
        for chunks in CHUNKINGS:
            out = vd.convolve(da.from_array(v, chunks=chunks), k, divisor, anchor, mode=mode, cval=-9).compute()
            assert np.array_equal(out, ref), (kshape, chunks)


def test_render_frames_and_tiles_equal_single_renders():
    scene = vr.Scene.builtin(2000)
    eyes, centre = vd.orbit(scene, 3)
    frames = vd.render_frames(scene, [(e, centre) for e in eyes], size=(48, 32)).compute()
    for frame, eye in zip(frames, eyes):
        assert np.array_equal(frame, scene.render((48, 32), eye=eye, look_at=centre))
    tiled = vd.render_tiles(scene, size=(100, 70), tile=(32, 48)).compute()
    assert np.array_equal(tiled, scene.render((100, 70)))
