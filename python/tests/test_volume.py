"""vekr.volume against scipy.ndimage where the conventions coincide, against
the C library called directly (ctypes) for exactness, and its refusals."""
import ctypes
import threading
import time
import warnings

import numpy as np
import pytest
import scipy.ndimage as ndi

import vekr
import vekr.volume as vv
from conftest import noise

MODES = list(vv.INTERPOLATIONS)
TYPES = [np.uint8, np.uint16, np.float32]


@pytest.mark.parametrize("factors", [2, (1.5, 0.5, 3), (0.75, 1, 1.25)])
def test_resize_linear_matches_scipy_zoom(factors):
    # vekr's destination voxel d samples (d + 0.5) / F - 0.5, taps clamped:
    # scipy's zoom with grid_mode=True and mode="nearest" at order 1, which
    # scales by the ratio of the shapes, so the extents times the factors
    # are whole numbers here.
    v = noise((8, 10, 12), np.float32)
    ours = vv.resize(v, factors)
    theirs = ndi.zoom(v.astype(np.float64), factors, order=1, mode="nearest", grid_mode=True)
    assert ours.shape == theirs.shape
    np.testing.assert_allclose(ours, theirs, atol=2e-6)


def _c_resize(lib, src, dst, factors, mode):
    """The C1V export called directly through ctypes."""
    class Volume(ctypes.Structure):
        _fields_ = [("w", ctypes.c_int32), ("h", ctypes.c_int32), ("d", ctypes.c_int32)]

    class Cuboid(ctypes.Structure):
        _fields_ = [(n, ctypes.c_int32) for n in ("x", "y", "z", "w", "h", "d")]

    suffix = {np.dtype(np.uint8): "8u", np.dtype(np.uint16): "16u", np.dtype(np.float32): "32f"}[src.dtype]
    sv = Volume(src.shape[2], src.shape[1], src.shape[0])
    svoi = Cuboid(0, 0, 0, src.shape[2], src.shape[1], src.shape[0])
    dvoi = Cuboid(0, 0, 0, dst.shape[2], dst.shape[1], dst.shape[0])
    size = ctypes.c_int32()
    lib.ownGetNumThreads  # noqa: B018 (the library links vekcore)
    assert lib.vekrResizeGetBufSize(svoi, dvoi, 1, mode, ctypes.byref(size)) == 0
    buf = np.zeros(size.value + 64, np.uint8)
    fn = getattr(lib, "vekrResize_%s_C1V" % suffix)
    fn.argtypes = [ctypes.c_void_p, Volume, ctypes.c_int32, ctypes.c_int32, Cuboid, ctypes.c_void_p, ctypes.c_int32,
                   ctypes.c_int32, Cuboid] + [ctypes.c_double] * 6 + [ctypes.c_int32, ctypes.c_void_p]
    f = factors
    status = fn(src.ctypes.data, sv, src.strides[1], src.strides[0], svoi, dst.ctypes.data, dst.strides[1],
                dst.strides[0], dvoi, f[2], f[1], f[0], 0.0, 0.0, 0.0, mode, buf.ctypes.data)
    assert status == 0


@pytest.mark.parametrize("dtype", TYPES)
@pytest.mark.parametrize("mode", MODES)
def test_resize_equals_c_call_and_plane_layout(lib, dtype, mode):
    # Bit for bit the export called directly; the plane-pointer layout (a
    # list of planes) gives the same voxels as the contiguous one.
    v = noise((7, 9, 12), dtype, seed=3)
    f = (1.5, 0.75, 2.0)
    ours = vv.resize(v, f, interpolation=mode, threads=1)
    direct = np.zeros_like(ours)
    lib.vekSetNumThreads(1)
    try:
        _c_resize(lib, v, direct, f, vv.INTERPOLATIONS[mode])
    finally:
        lib.vekSetNumThreads(0)
    assert np.array_equal(ours, direct)
    planes = vv.resize(list(v), f, interpolation=mode)
    assert np.array_equal(planes, ours)


def test_layouts_in_place_and_copied():
    v = noise((6, 8, 10), np.float32, seed=4)
    # A slice keeping whole rows is used in place; a transposed array is
    # copied once; both give the result of the contiguous array.
    big = np.zeros((6, 16, 10), np.float32)
    big[:, ::2] = v
    assert np.array_equal(vv.resize(big[:, ::2], 2), vv.resize(v, 2))
    t = np.ascontiguousarray(v.transpose(2, 1, 0)).transpose(2, 1, 0)
    assert not t.flags.c_contiguous
    assert np.array_equal(vv.resize(t, 2), vv.resize(v, 2))
    # out= writes into the caller's array, here a view into a larger one.
    host = np.full((14, 18, 22), -1, np.float32)
    view = host[1:13, 1:17, 1:21]
    assert vv.resize(v, 2, out=view) is view
    assert np.array_equal(view, vv.resize(v, 2))
    assert (host[0] == -1).all()


def _rotation(axis, degrees):
    a = np.radians(degrees)
    c, s = np.cos(a), np.sin(a)
    r = np.eye(3)
    i, j = [k for k in range(3) if k != axis]
    r[i, i], r[i, j], r[j, i], r[j, j] = c, -s, s, c
    return r


def _about_centre(r, shape):
    centre = (np.array(shape) - 1) / 2.0
    return np.hstack([r, (centre - r @ centre)[:, None]])


def test_warp_linear_matches_scipy_affine_transform():
    # Voxel k is the point k in both; scipy takes the inverse (destination
    # to source) matrix. Compared where vekr wrote (positions inside).
    v = noise((16, 17, 18), np.float32, seed=5)
    m = _about_centre(_rotation(0, 25) @ _rotation(2, 10), v.shape)
    ours = vv.warp_affine(v, m, fill=np.nan)
    inv = np.linalg.inv(np.vstack([m, [0, 0, 0, 1]]))
    theirs = ndi.affine_transform(v.astype(np.float64), inv, order=1, mode="nearest")
    written = ~np.isnan(ours)
    assert written.sum() > 0.5 * v.size
    np.testing.assert_allclose(ours[written], theirs[written], atol=1e-5)


def test_remap_linear_matches_scipy_map_coordinates():
    v = noise((12, 13, 14), np.float32, seed=6)
    rng = np.random.default_rng(7)
    maps = [rng.uniform(0, n - 1, (5, 6, 7)).astype(np.float32) for n in v.shape]
    ours = vv.remap(v, *maps)
    theirs = ndi.map_coordinates(v.astype(np.float64), [m.astype(np.float64) for m in maps], order=1)
    np.testing.assert_allclose(ours, theirs, atol=2e-6)
    # NaN and outside positions keep the fill value.
    maps[0][0, 0, 0] = np.nan
    maps[1][0, 0, 1] = 12.5
    out = vv.remap(v, *maps, fill=-7)
    assert out[0, 0, 0] == -7 and out[0, 0, 1] == -7


@pytest.mark.parametrize("mode", list(vv.BORDER_MODES))
@pytest.mark.parametrize("divisor", [1, 7, -3, 16])
def test_convolve_matches_scipy(mode, divisor):
    # Odd kernel, centre anchor: scipy.ndimage.convolve with the same border
    # mode, divided and rounded half to even, clipped to int16.
    rng = np.random.default_rng(8)
    v = rng.integers(-3000, 3000, (9, 10, 11)).astype(np.int16)
    k = rng.integers(-9, 10, (3, 5, 3))
    ours = vv.convolve(v, k, divisor, mode=mode, cval=11)
    ref = ndi.convolve(v.astype(np.float64), k.astype(np.float64), mode=mode, cval=11)
    expected = np.clip(np.round(ref / np.float32(divisor)), -32768, 32767).astype(np.int16)
    assert np.array_equal(ours, expected)


def test_convolve_anchor_off_centre_against_direct_sum():
    rng = np.random.default_rng(9)
    v = rng.integers(-100, 100, (6, 7, 8)).astype(np.int16)
    k = rng.integers(-4, 5, (2, 3, 4))
    anchor = (0, 2, 1)
    ours = vv.convolve(v, k, anchor=anchor, mode="constant", cval=0)
    pad = np.pad(v.astype(np.int64), 8)
    ref = np.zeros(v.shape, np.int64)
    for kz, ky, kx in np.ndindex(k.shape):
        sl = tuple(slice(8 + a - i, 8 + a - i + n) for a, i, n in zip(anchor, (kz, ky, kx), v.shape))
        ref += k[kz, ky, kx] * pad[sl]
    assert np.array_equal(ours, ref.astype(np.int16))


ERRORS = [
    # (call, exception, status name or message fragment)
    (lambda: vv.resize(noise((4, 4, 4), np.int16), 2), TypeError, "uint8"),
    (lambda: vv.resize(noise((4, 4, 4), np.float32).astype(">f4"), 2), ValueError, "byte order"),
    (lambda: vv.resize(noise((4, 4), np.float32), 2), ValueError, "3-D"),
    (lambda: vv.resize(noise((4, 4, 4), np.float32), (1, 0, 1)), vekr.VekrError, "vekStsResizeFactorErr"),
    (lambda: vv.resize(noise((4, 4, 4), np.float32), 2, interpolation=3), vekr.VekrError, "vekStsInterpolationErr"),
    (lambda: vv.resize(noise((4, 4, 4), np.float32), 2, interpolation="cubic"), ValueError, "catmull-rom"),
    (lambda: vv.warp_affine(noise((4, 4, 4), np.uint8), np.zeros((3, 4))), vekr.VekrError, "vekStsCoeffErr"),
    (lambda: vv.remap(noise((4, 4, 4), np.uint8), *[np.zeros((2, 2, 2))] * 3), TypeError, "float32"),
    (lambda: vv.convolve(noise((4, 4, 4), np.int16), np.ones((3, 3, 3), int), 0), vekr.VekrError, "vekStsSizeErr"),
    (lambda: vv.resize(noise((4, 4, 4), np.float32), 2, out=np.zeros((8, 8, 8), np.float32)[::-1][:, :, ::2]),
     ValueError, "adjacent"),
]


@pytest.mark.parametrize("call, error, text", ERRORS)
def test_refusals(call, error, text):
    with pytest.raises(error, match=text) as info:
        call()
    if error is vekr.VekrError:
        assert info.value.name == text and info.value.code < 0 and info.value.function.startswith("vekr")


def test_read_only_output_and_warning_status():
    v = noise((4, 4, 4), np.float32)
    out = np.zeros((8, 8, 8), np.float32)
    out.flags.writeable = False
    with pytest.raises(ValueError, match="read-only"):
        vv.resize(v, 2, out=out)
    # A shift that moves the whole volume out of the destination: nothing
    # is written, the library's warning arrives as a VekrWarning.
    with pytest.warns(vekr.VekrWarning, match="vekStsNoVoxelsWarn") as record:
        r = vv.resize(v, 2, shifts=(100, 0, 0))
    assert record[0].message.code == 1 and not r.any()


def test_gil_released_during_calls():
    # A long warp on one thread while another thread keeps running Python.
    v = noise((96, 96, 96), np.float32)
    m = _about_centre(_rotation(2, 30), v.shape)
    ticks = []
    done = threading.Event()

    def work():
        for _ in range(3):
            vv.warp_affine(v, m, interpolation="catmull-rom", threads=1)
        done.set()

    t = threading.Thread(target=work)
    t.start()
    while not done.is_set():
        ticks.append(time.perf_counter())
        time.sleep(0.001)
    t.join()
    assert len(ticks) > 20  # a held GIL would starve this loop
