"""Resize, affine warp, remap and integer convolution of 3-D volumes.

Volumes are numpy arrays indexed ``(z, y, x)``: uint8, uint16 or float32
for resize, warp and remap, int16 for :func:`convolve`. Per-axis tuples
(factors, shifts, shapes, anchors) are ``(z, y, x)`` as well.

Memory: an array whose voxels are adjacent along x (C-contiguous, or any
slice of one that keeps whole rows, e.g. ``vol[::2]`` or ``vol[:, 10:50]``)
is handed to the library in place, without a copy; so is a list of 2-D
planes sharing one row stride (the plane-pointer layout, for planes that
live in separate buffers). Any other layout (x not the fastest axis, e.g.
a transposed array) is copied once into C order first. Element types are
never converted: a wrong dtype or a non-native byte order raises, since a
silent conversion would change what the call computes.

Interpolation modes, by name: ``"nearest"``, ``"linear"``, ``"lagrange"``
(4-point cubic Lagrange), ``"bspline"`` (cubic B-spline, B = 1, C = 0),
``"catmull-rom"`` (B = 0, C = 1/2) and ``"blend-cubic"`` (B = 1/2,
C = 3/10). ``"bspline"`` applies the B-spline kernel to the voxel values
themselves, without the prefilter that would make it interpolate: it
smooths (a single bright voxel comes out at 2/3 of its value) rather than
passing through the samples, like ``scipy.ndimage`` calls with
``order=3, prefilter=False``.

Integer results are rounded to nearest and, for the cubic modes, saturated
to the type's range; float results keep the cubic kernels' overshoot.

Each function takes ``threads``: ``None`` runs the library's parallel
exports (float resize, warp, remap) on OpenMP's default thread count of the
calling thread, an integer sets the count for that call only. The GIL is
released during the call. Errors of the library raise
:class:`vekr.VekrError`; its warnings (nothing written because the regions
do not meet) are issued as :class:`vekr.VekrWarning`.
"""
import numbers

import numpy as np

from . import _vekr

__all__ = ["INTERPOLATIONS", "resize", "warp_affine", "remap", "convolve", "library_coeffs"]

#: Interpolation names and the library's mode numbers.
INTERPOLATIONS = {
    "nearest": 1,
    "linear": 2,
    "lagrange": 4,
    "bspline": 5,
    "catmull-rom": 6,
    "blend-cubic": 7,
}

_VOXEL_TYPES = (np.dtype(np.uint8), np.dtype(np.uint16), np.dtype(np.float32))


def _mode(interpolation):
    if isinstance(interpolation, numbers.Integral):
        return int(interpolation)  # passed through: the library judges it
    try:
        return INTERPOLATIONS[interpolation]
    except (KeyError, TypeError):
        raise ValueError("interpolation: %r is not one of %s" % (interpolation, ", ".join(INTERPOLATIONS))) from None


def _threads(threads):
    return 0 if threads is None else int(threads)


def _triple(value, what, kind=float):
    if np.ndim(value) == 0:
        return (kind(value),) * 3
    t = tuple(kind(v) for v in value)
    if len(t) != 3:
        raise ValueError("%s: expected one value or three (z, y, x)" % what)
    return t


def _check_dtype(a, allowed, what):
    if a.dtype.byteorder not in ("=", "|") and a.dtype.newbyteorder("=") in allowed:
        raise ValueError("%s: non-native byte order (%s); convert with .astype(%s) first"
                         % (what, a.dtype, a.dtype.newbyteorder("=")))
    if a.dtype not in allowed:
        raise TypeError("%s: voxels must be %s, got %s (convert explicitly)"
                        % (what, " or ".join(str(d) for d in allowed), a.dtype))


def _as_volume(vol, allowed, what="vol"):
    """The array (or list of planes) as the library can take it, copying
    only a layout it cannot address."""
    if isinstance(vol, (list, tuple)):
        planes = [np.asarray(p) for p in vol]
        if not planes:
            raise ValueError("%s: empty list of planes" % what)
        for p in planes:
            _check_dtype(p, allowed, what)
        if any(p.ndim != 2 or p.shape != planes[0].shape for p in planes):
            raise ValueError("%s: planes must be 2-D arrays of one shape" % what)
        if all(p.strides == planes[0].strides and (p.shape[1] < 2 or p.strides[1] == p.itemsize) for p in planes):
            return planes
        return [np.ascontiguousarray(p) for p in planes]
    a = np.asarray(vol)
    _check_dtype(a, allowed, what)
    if a.ndim != 3:
        raise ValueError("%s: expected a 3-D array (z, y, x), got %d dimensions" % (what, a.ndim))
    if not _addressable(a):
        a = np.ascontiguousarray(a)
    return a


def _addressable(a):
    """True when the library can address a in place: voxels adjacent along
    x, row stride within the library's 32-bit steps, aligned data."""
    return ((a.shape[2] < 2 or a.strides[2] == a.itemsize)
            and abs(a.strides[1]) < 2 ** 31 and a.ctypes.data % a.itemsize == 0)


def _shape_of(vol):
    if isinstance(vol, list):
        return (len(vol),) + vol[0].shape
    return vol.shape


def _dtype_of(vol):
    return vol[0].dtype if isinstance(vol, list) else vol.dtype


def _output(out, shape, dtype, fill):
    if out is None:
        return np.full(shape, fill, dtype=dtype)
    if isinstance(out, (list, tuple)):
        for p in out:
            _check_output(p, dtype, 2)
        return list(out)
    _check_output(out, dtype, 3)
    if out.shape[2] > 1 and out.strides[2] != out.itemsize:
        raise ValueError("out: voxels of a row must be adjacent (x stride %d bytes)" % out.strides[2])
    return out


def _check_output(out, dtype, ndim):
    if not isinstance(out, np.ndarray):
        raise TypeError("out: expected a numpy array")
    _check_dtype(out, (dtype,), "out")
    if out.ndim != ndim:
        raise ValueError("out: expected %d dimensions" % ndim)
    if not out.flags.writeable:
        raise ValueError("out: array is read-only")


def resized_shape(shape, factors):
    """Output shape :func:`resize` allocates: each extent times its factor,
    rounded half up, at least 1."""
    f = _triple(factors, "factors")
    return tuple(max(1, int(np.floor(n * k + 0.5))) if np.isfinite(n * k) and k > 0 else 1
                 for n, k in zip(shape, f))


def resize(vol, factors, shifts=(0, 0, 0), interpolation="linear", out=None, out_shape=None, threads=None):
    """Resizes a volume by independent factors per axis.

    ``vol``: uint8, uint16 or float32 ``(z, y, x)`` array (or list of
    planes). ``factors``: one factor or ``(fz, fy, fx)``, each > 0.
    ``shifts``: ``(sz, sy, sx)`` in destination voxels. Source coordinate
    ``u`` lands on ``u * factor + shift``; destination voxel ``d`` stands
    for its centre, so it samples the source at::

        (d + 0.5) / factor - 0.5 - shift / factor

    (voxel centres aligned, the volumes' outer corners coinciding when the
    shift is 0). Taps outside the source are clamped to the nearest face
    voxel. The kernel does not widen when reducing: a reduction samples,
    it does not average (factor 0.5 with "linear" gives the mean of 2 x 2 x 2
    blocks, smaller factors skip voxels).

    ``out``: the destination (same dtype) to write into, or ``None`` for a
    new array of ``out_shape`` (default :func:`resized_shape`), zero-filled.
    Only voxels covered by the scaled source are written. Returns ``out``.

    Relation to scipy: ``scipy.ndimage.zoom(vol, factors, order=1,
    mode="nearest", grid_mode=True)`` uses the same positions for
    "linear" when every extent times its factor is a whole number (scipy
    scales by the ratio of the shapes) (``order=0`` for "nearest" differs at exact ties and rounds
    positions differently); scipy computes in double precision, vekr in
    single precision (floats) or 14-bit fixed point (8u/16u linear).
    """
    src = _as_volume(vol, _VOXEL_TYPES)
    f = _triple(factors, "factors")
    s = _triple(shifts, "shifts")
    shape = out_shape if out_shape is not None else resized_shape(_shape_of(src), f)
    dst = _output(out, tuple(shape), _dtype_of(src), 0)
    _vekr.resize(src, dst, f, s, _mode(interpolation), threads=_threads(threads))
    return dst


def library_coeffs(matrix):
    """The library's 3 x 4 forward transform in (x, y, z) order, row by row,
    from a 3 x 4 or 4 x 4 matrix in numpy (z, y, x) order."""
    m = np.asarray(matrix, dtype=np.float64)
    if m.shape == (4, 4):
        if not np.array_equal(m[3], [0, 0, 0, 1]):
            raise ValueError("matrix: the last row of a 4 x 4 affine matrix must be (0, 0, 0, 1)")
        m = m[:3]
    if m.shape != (3, 4):
        raise ValueError("matrix: expected a 3 x 4 or 4 x 4 affine matrix, got shape %s" % (m.shape,))
    perm = [2, 1, 0]
    lin = m[:3, :3][np.ix_(perm, perm)]
    t = m[perm, 3]
    return tuple(np.concatenate([lin, t[:, None]], axis=1).ravel())


def warp_affine(vol, matrix, out_shape=None, interpolation="linear", fill=0, out=None, threads=None):
    """Affine warp through a forward transform.

    ``matrix``: 3 x 4 (or 4 x 4 with last row 0 0 0 1) mapping a source
    index ``(z, y, x, 1)`` to its destination index, in numpy order. Voxel
    ``k`` is the point ``k`` (no half-voxel offset). The transform is
    inverted once in double precision; each destination voxel samples the
    source at the inverse image of its own index, and is written only when
    that position lies inside ``[0, n - 1]`` on every axis (a position on the
    last voxel is inside). Other voxels keep ``fill`` (or the contents of
    ``out``). Nearest rounds ties to even. Cubic taps next to the faces are
    clamped to the face voxels. A volume thinner than 4 voxels on an axis
    runs cubic modes as linear, thinner than 2 every mode as nearest.

    Positions are advanced by addition along rows and planes, restarting at
    each thread's first plane, so results with different thread counts may
    differ in the last bit of a few voxels.

    Relation to scipy: ``scipy.ndimage.affine_transform(vol, inv(matrix),
    order=1, mode="constant", cval=fill)`` samples the same positions for
    "linear"; scipy treats positions slightly outside the volume
    differently (it interpolates against ``cval``, vekr leaves them).
    """
    src = _as_volume(vol, _VOXEL_TYPES)
    coeffs = library_coeffs(matrix)
    shape = tuple(out_shape) if out_shape is not None else _shape_of(src)
    dst = _output(out, shape, _dtype_of(src), fill)
    _vekr.warp_affine(src, dst, coeffs, _mode(interpolation), threads=_threads(threads))
    return dst


def _as_maps(zmap, ymap, xmap):
    maps = []
    for name, m in (("zmap", zmap), ("ymap", ymap), ("xmap", xmap)):
        a = np.asarray(m)
        _check_dtype(a, (np.dtype(np.float32),), name)
        if a.ndim != 3:
            raise ValueError("%s: expected a 3-D array" % name)
        maps.append(a)
    if any(m.shape != maps[0].shape for m in maps):
        raise ValueError("maps: zmap, ymap and xmap must have one shape")
    # The library takes one row stride for the three maps.
    if not all(_addressable(m) and m.strides[1] == maps[0].strides[1] for m in maps):
        maps = [np.ascontiguousarray(m) for m in maps]
    return maps


def remap(vol, zmap, ymap, xmap, interpolation="linear", fill=0, out=None, threads=None):
    """Samples the volume at positions read from three coordinate maps.

    Destination voxel ``(z, y, x)`` samples ``vol`` at ``(zmap[z, y, x],
    ymap[z, y, x], xmap[z, y, x])``, source voxel ``k`` being the point
    ``k``. The maps are float32 arrays of the output's shape (others are
    refused: convert with ``.astype(np.float32)``). Positions outside
    ``[0, n - 1]`` (compared in single precision) and NaN positions leave
    the voxel at ``fill``. Interpolation as in :func:`warp_affine`; results
    do not depend on the thread count.

    Relation to scipy: ``scipy.ndimage.map_coordinates(vol, [zmap, ymap,
    xmap], order=1, mode="constant", cval=fill)`` for "linear" and
    "nearest" (ties aside), away from the faces.
    """
    src = _as_volume(vol, _VOXEL_TYPES)
    maps = _as_maps(zmap, ymap, xmap)
    dst = _output(out, maps[0].shape, _dtype_of(src), fill)
    _vekr.remap(src, maps[0], maps[1], maps[2], dst, _mode(interpolation), threads=_threads(threads))
    return dst


#: scipy.ndimage border modes and the numpy.pad modes that build them.
BORDER_MODES = {"reflect": "symmetric", "mirror": "reflect", "nearest": "edge", "wrap": "wrap",
                "constant": "constant"}


def filter_reach(kernel_shape, anchor):
    """Per axis, how far before and after a voxel the filter reads:
    ``(before, after)`` pairs, ``(z, y, x)``."""
    return tuple((k - 1 - a, a) for k, a in zip(kernel_shape, anchor))


def as_kernel(kernel):
    """The kernel as the library's int32 (kd, kh, kw) array."""
    k = np.asarray(kernel)
    if k.ndim != 3:
        raise ValueError("kernel: expected a 3-D array (kd, kh, kw)")
    if k.dtype.kind not in "iub":
        raise TypeError("kernel: integer weights expected, got %s" % k.dtype)
    if k.size and (k.min() < -2 ** 31 or k.max() >= 2 ** 31):
        raise ValueError("kernel: weights must fit in int32")
    return np.ascontiguousarray(k, dtype=np.int32)


def default_anchor(kernel_shape, anchor):
    return tuple(k // 2 for k in kernel_shape) if anchor is None else _triple(anchor, "anchor", int)


def convolve(vol, kernel, divisor=1, anchor=None, mode="reflect", cval=0, out=None):
    """3-D convolution of an int16 volume with an integer kernel::

        out[z, y, x] = round(sum K[k, j, i] * vol[z + az - k, y + ay - j, x + ax - i] / divisor)

    over the kernel's ``(kd, kh, kw)`` extent, with ``anchor = (az, ay, ax)``
    (default: the kernel's centre ``k // 2``). Products are 32-bit and summed
    in 64 bits; the division rounds to nearest, ties to even (divisor 1 is
    exact, positive powers of two shift, other divisors divide in double by
    the divisor rounded to float); results saturate to int16.

    The library reads outside the volume by ``kd - 1 - az`` planes before
    and ``az`` after (likewise rows and columns); this function pads the
    volume with ``mode``, scipy.ndimage's border names: "reflect" (default,
    ``d c b a | a b c d | d c b a``), "mirror" (``d c b | a b c d | c b a``),
    "nearest", "wrap", "constant" (``cval``). The padding is a copy.

    Relation to scipy: for odd kernel extents and the centre anchor this is
    ``scipy.ndimage.convolve(vol.astype(float), K, mode=mode, cval=cval) /
    divisor`` rounded half to even and clipped, exactly while the sums fit
    in double precision. The kernel is flipped as in a convolution (pass
    ``K[::-1, ::-1, ::-1]`` for a correlation).
    """
    src = _as_volume(vol, (np.dtype(np.int16),))
    if isinstance(src, list):
        src = np.stack(src)
    k = as_kernel(kernel)
    anchor = default_anchor(k.shape, anchor)
    if mode not in BORDER_MODES:
        raise ValueError("mode: expected one of %s" % ", ".join(BORDER_MODES))
    reach = filter_reach(k.shape, anchor)
    padded, origin = pad_for_filter(src, reach, mode, cval)
    dst = _output(out, src.shape, np.dtype(np.int16), 0)
    _vekr.filter_16s(padded, origin, dst, k, anchor, int(divisor))
    return dst


def pad_for_filter(src, reach, mode, cval=0):
    """The source padded by ``reach`` (before, after per axis; negative
    reaches crop) and the padded array's first voxel in the source's frame."""
    before = [max(0, b) for b, _ in reach]
    after = [max(0, a) for _, a in reach]
    kwargs = {"constant_values": cval} if mode == "constant" else {}
    if any(before) or any(after):
        padded = np.pad(src, list(zip(before, after)), mode=BORDER_MODES[mode], **kwargs)
    else:
        padded = src
    # A reach below 0 (anchor outside the kernel) needs no padding on that
    # side; the library simply reads from further in.
    origin = tuple(-b for b in before)
    return padded, origin
