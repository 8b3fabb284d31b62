"""The volume operations and the renderer on Dask, for data beyond one machine.

Each function takes a chunked ``dask.array`` (or anything ``da.asarray``
takes, such as a zarr array) and returns a lazy ``dask.array``. Every output
block is one library call on the input region it needs: the block's voxels
map back to source positions, the interpolation kernel adds its taps around
them (two voxels for the cubic modes, plus a safety voxel), and only the
input chunks that region touches are read. The call is made with the whole
volume's extent and absolute indices, so taps are clamped to the volume's
faces exactly as in the in-memory call, and a block comes out bit for bit
as the same voxels of :mod:`vekr.volume`'s result:

- :func:`resize`, :func:`remap` and :func:`convolve` for any chunking;
- :func:`warp_affine` computes whole planes per block (the output is
  chunked along z only). The library forms warp positions by addition,
  restarting at the first plane of each call, exactly as the in-memory call
  does at each of its threads' first planes; the blocks match the
  in-memory result bit for bit whenever these sums are exact (rotations
  about the z axis, axis permutations and flips, scalings and shifts by
  binary fractions) and otherwise differ as an in-memory call run on a
  different number of threads may: a few voxels in the last bit.

Blocks run their library call on ``threads`` threads each (default 1: Dask
already runs one task per core).
"""
import itertools
import warnings

import dask
import dask.array as da
import numpy as np

from . import _vekr
from . import volume as _volume
from ._status import VekrWarning

__all__ = ["resize", "warp_affine", "remap", "convolve", "render_frames", "render_tiles", "orbit"]


def _block_regions(chunks):
    """(block index, (start per axis), (size per axis)) of every block."""
    starts = [np.concatenate([[0], np.cumsum(c)[:-1]]).astype(int) for c in chunks]
    for index in itertools.product(*[range(len(c)) for c in chunks]):
        yield index, tuple(int(starts[a][i]) for a, i in enumerate(index)), tuple(
            int(chunks[a][i]) for a, i in enumerate(index))


def _assemble(chunks, dtype, make_block):
    """A dask array of these chunks whose block at each index is
    make_block(start, size), a delayed numpy array."""
    blocks = np.empty([len(c) for c in chunks], dtype=object)
    for index, start, size in _block_regions(chunks):
        blocks[index] = da.from_delayed(make_block(start, size), shape=size, dtype=dtype)
    return da.block(blocks.tolist())


def _normalize_chunks(chunks, shape, dtype, like=None):
    if chunks is None and like is not None and tuple(like.shape) == tuple(shape):
        return like.chunks
    return da.core.normalize_chunks("auto" if chunks is None else chunks, shape, dtype=dtype)


def _span(lo, hi, extent, margin):
    """Source index range [a, b) covering positions lo..hi with kernel taps,
    clamped to the volume (and never empty, so the call gets an array)."""
    if not (np.isfinite(lo) and np.isfinite(hi)):
        return 0, 1
    a = int(np.floor(lo)) - margin
    b = int(np.floor(hi)) + margin + 1
    a = min(max(a, 0), extent - 1)
    b = max(min(b, extent), a + 1)
    return a, b


_MARGIN = 3  # the cubic taps reach floor(p) - 1 .. floor(p) + 2; one more for rounding


def _region(x, span):
    """The source region as its pieces, one per input chunk it touches (a
    nested list of delayed arrays), for :func:`_source` to join in the task."""
    return x[tuple(slice(a, b) for a, b in span)].to_delayed().tolist()


def _aligned(a):
    """a, or a copy of it when its data do not start on a multiple of the
    element size: an array received from another worker is read straight
    from the message's buffer, at whatever offset it had there."""
    return a if a.ctypes.data % a.itemsize == 0 else a.copy()


def _source(pieces):
    """The region for the library call. A region within one chunk along y
    and x goes as a list of planes (the library's plane-pointer layout),
    so the slabs it spans along z are read in place rather than first
    copied into one array: a copy of this size costs about as much as the
    interpolation itself. Other regions are joined into one array."""
    if all(len(row) == 1 and len(row[0]) == 1 for row in pieces):
        slabs = [_aligned(row[0][0]) for row in pieces]
        if len(slabs) == 1:
            return slabs[0]
        planes = [plane for slab in slabs for plane in slab]
        if all(p.strides == planes[0].strides and (p.shape[1] < 2 or p.strides[1] == p.itemsize) for p in planes):
            return planes
    return np.block(pieces)


def _quiet_no_voxels(call):
    """Runs call(); a block that the source does not reach gets the
    library's 'nothing to write' warning, which says nothing about the
    whole result, so it is dropped."""
    with warnings.catch_warnings():
        warnings.filterwarnings("ignore", category=VekrWarning, message=".*vekStsNoVoxelsWarn")
        return call()


def _resize_block(src, src_origin, src_extent, start, size, dtype, f, s, mode, threads):
    src = _source(src)
    dst = np.zeros(size, dtype)
    _quiet_no_voxels(lambda: _vekr.resize(src, dst, f, s, mode, src_origin=src_origin, src_extent=src_extent,
                                          dst_origin=start, threads=threads))
    return dst


def resize(darr, factors, shifts=(0, 0, 0), interpolation="linear", out_shape=None, chunks=None, threads=1):
    """:func:`vekr.volume.resize` on a dask array; output ``chunks`` default
    to dask's automatic chunking of the output shape."""
    x = da.asarray(darr)
    if x.dtype not in _volume._VOXEL_TYPES or x.ndim != 3:
        raise TypeError("darr: a 3-D uint8, uint16 or float32 array expected, got %s %dD" % (x.dtype, x.ndim))
    f = _volume._triple(factors, "factors")
    s = _volume._triple(shifts, "shifts")
    mode = _volume._mode(interpolation)
    shape = tuple(out_shape) if out_shape is not None else _volume.resized_shape(x.shape, f)
    out_chunks = _normalize_chunks(chunks, shape, x.dtype)
    extent = tuple(x.shape)

    def make_block(start, size):
        span = []
        for axis in range(3):
            # Destination voxel d samples (d + 0.5) / F - 0.5 - S / F.
            lo = (start[axis] + 0.5) / f[axis] - 0.5 - s[axis] / f[axis] if f[axis] > 0 else 0.0
            hi = (start[axis] + size[axis] - 0.5) / f[axis] - 0.5 - s[axis] / f[axis] if f[axis] > 0 else 0.0
            span.append(_span(min(lo, hi), max(lo, hi), extent[axis], _MARGIN))
        region = _region(x, span)
        origin = tuple(a for a, _ in span)
        return dask.delayed(_resize_block, pure=True)(region, origin, extent, start, size, x.dtype, f, s, mode,
                                                      int(threads))

    return _assemble(out_chunks, x.dtype, make_block)


def _filled(shape, fill, dtype):
    # A zero fill comes from calloc, whose pages the kernel hands out zeroed
    # as the library first writes them: no separate pass over the block.
    return np.zeros(shape, dtype) if fill == 0 else np.full(shape, fill, dtype)


def _warp_block(src, src_origin, src_extent, start, size, dtype, fill, coeffs, mode, threads):
    src = _source(src)
    dst = _filled(size, fill, dtype)
    _vekr.warp_affine(src, dst, coeffs, mode, src_origin=src_origin, src_extent=src_extent, dst_origin=start,
                      threads=threads)
    return dst


def warp_affine(darr, matrix, out_shape=None, interpolation="linear", fill=0, chunks=None, threads=1):
    """:func:`vekr.volume.warp_affine` on a dask array. The output is made
    of slabs of whole planes (``chunks``: planes per slab, or a tuple of
    slab depths; default: the input's z chunks when the shapes agree)."""
    x = da.asarray(darr)
    if x.dtype not in _volume._VOXEL_TYPES or x.ndim != 3:
        raise TypeError("darr: a 3-D uint8, uint16 or float32 array expected, got %s %dD" % (x.dtype, x.ndim))
    coeffs = _volume.library_coeffs(matrix)
    m = np.asarray(matrix, np.float64)[:3]
    shape = tuple(out_shape) if out_shape is not None else tuple(x.shape)
    if chunks is None:
        zchunks = x.chunks[0] if shape[0] == x.shape[0] else _normalize_chunks(None, shape, x.dtype)[0]
    else:
        zchunks = da.core.normalize_chunks((chunks, shape[1], shape[2]), shape)[0]
    out_chunks = (tuple(zchunks), (shape[1],), (shape[2],))
    mode = _volume._mode(interpolation)
    extent = tuple(x.shape)
    full = np.vstack([m, [0, 0, 0, 1]])
    try:
        inverse = np.linalg.inv(full)
    except np.linalg.LinAlgError:
        inverse = None  # singular: every block reports the library's error

    def make_block(start, size):
        if inverse is None or not np.isfinite(inverse).all():
            span = [(0, 1)] * 3
        else:
            corners = np.array([[start[a] + (size[a] - 1) * c[a] for a in range(3)] + [1.0]
                                for c in itertools.product((0, 1), repeat=3)])
            pos = corners @ inverse[:3].T
            span = [_span(pos[:, a].min(), pos[:, a].max(), extent[a], _MARGIN) for a in range(3)]
        region = _region(x, span)
        origin = tuple(a for a, _ in span)
        return dask.delayed(_warp_block, pure=True)(region, origin, extent, start, size, x.dtype, fill, coeffs, mode,
                                                    int(threads))

    return _assemble(out_chunks, x.dtype, make_block)


def _map_bounds(block):
    out = np.full((1, 1, 1, 2), np.nan)
    finite = block[np.isfinite(block)]
    if finite.size:
        out[0, 0, 0] = finite.min(), finite.max()
    return out


def _remap_block(src, src_origin, src_extent, zmap, ymap, xmap, dtype, fill, mode, threads):
    src = _source(src)
    zmap, ymap, xmap = (_aligned(m) for m in (zmap, ymap, xmap))
    dst = _filled(zmap.shape, fill, dtype)
    _vekr.remap(src, zmap, ymap, xmap, dst, mode, src_origin=src_origin, src_extent=src_extent, threads=threads)
    return dst


def remap(darr, zmap, ymap, xmap, interpolation="linear", fill=0, threads=1):
    """:func:`vekr.volume.remap` on dask arrays; the output has the maps'
    chunks. The source region of each block depends on the map values, so
    the maps' per-block bounds are computed first (one pass over the maps);
    then each block reads only the source it samples."""
    x = da.asarray(darr)
    if x.dtype not in _volume._VOXEL_TYPES or x.ndim != 3:
        raise TypeError("darr: a 3-D uint8, uint16 or float32 array expected, got %s %dD" % (x.dtype, x.ndim))
    maps = [da.asarray(m) for m in (zmap, ymap, xmap)]
    for name, m in zip(("zmap", "ymap", "xmap"), maps):
        if m.dtype != np.float32:
            raise TypeError("%s: float32 expected, got %s (convert with .astype(np.float32))" % (name, m.dtype))
    if any(m.shape != maps[0].shape for m in maps):
        raise ValueError("maps: zmap, ymap and xmap must have one shape")
    maps = [m.rechunk(maps[0].chunks) for m in maps]
    chunks = maps[0].chunks
    bounds = dask.compute(*[
        m.map_blocks(_map_bounds, chunks=tuple((1,) * len(c) for c in chunks) + ((2,),), new_axis=3,
                     dtype=np.float64) for m in maps])
    mode = _volume._mode(interpolation)
    extent = tuple(x.shape)
    blocks = np.empty([len(c) for c in chunks], dtype=object)
    for index, start, size in _block_regions(chunks):
        span = [_span(b[index][0], b[index][1], extent[a], _MARGIN) for a, b in enumerate(bounds)]
        region = _region(x, span)
        sl = tuple(slice(o, o + n) for o, n in zip(start, size))
        block = dask.delayed(_remap_block, pure=True)(region, tuple(a for a, _ in span), extent, maps[0][sl],
                                                      maps[1][sl], maps[2][sl], x.dtype, fill, mode, int(threads))
        blocks[index] = da.from_delayed(block, shape=size, dtype=x.dtype)
    return da.block(blocks.tolist())


def _filter_block(region, origin, size, kernel, anchor, divisor):
    dst = np.empty(size, np.int16)
    region = _aligned(region)
    _vekr.filter_16s(region, origin, dst, kernel, anchor, divisor)
    return dst


def convolve(darr, kernel, divisor=1, anchor=None, mode="reflect", cval=0):
    """:func:`vekr.volume.convolve` on a dask array: the volume is padded as
    the in-memory call pads it, and each block reads its chunk plus the
    kernel's reach around it. The output has the input's chunks."""
    x = da.asarray(darr)
    if x.dtype != np.int16 or x.ndim != 3:
        raise TypeError("darr: a 3-D int16 array expected, got %s %dD" % (x.dtype, x.ndim))
    k = _volume.as_kernel(kernel)
    anchor = _volume.default_anchor(k.shape, anchor)
    if mode not in _volume.BORDER_MODES:
        raise ValueError("mode: expected one of %s" % ", ".join(_volume.BORDER_MODES))
    reach = _volume.filter_reach(k.shape, anchor)
    pad = [(max(0, b), max(0, a)) for b, a in reach]
    kwargs = {"constant_values": cval} if mode == "constant" else {}
    padded = da.pad(x, pad, mode=_volume.BORDER_MODES[mode], **kwargs) if any(map(any, pad)) else x

    def make_block(start, size):
        # Absolute planes start - before .. start + size - 1 + after, at
        # padded index + pad before.
        sl = tuple(slice(start[a] - reach[a][0] + pad[a][0], start[a] + size[a] + reach[a][1] + pad[a][0])
                   for a in range(3))
        origin = tuple(-reach[a][0] for a in range(3))
        return dask.delayed(_filter_block, pure=True)(padded[sl], origin, size, k, anchor, int(divisor))

    return _assemble(x.chunks, np.int16, make_block)


# ---- Rendering -------------------------------------------------------------

def orbit(scene, frames, elevation=0.35, distance=None):
    """Camera eye points on a circle around the scene's box centre (in its
    y-up frame), one per frame, and the centre to look at."""
    box = np.asarray(scene.box, np.float64)
    centre = 0.5 * (box[:3] + box[3:])
    radius = 0.5 * np.linalg.norm(box[3:] - box[:3])
    d = 2.6 * radius if distance is None else distance
    angles = 2 * np.pi * np.arange(frames) / frames
    eyes = [tuple(centre + d * np.array([np.sin(a) * np.cos(elevation), np.sin(elevation),
                                          np.cos(a) * np.cos(elevation)])) for a in angles]
    return eyes, tuple(centre)


def _render(scene, size, eye, look_at, window, kwargs):
    return scene.render(size, eye=eye, look_at=look_at, window=window, **kwargs)


def _shipped(scene, client):
    """The scene as one graph key, or with a distributed client a future of
    the scene broadcast to every worker: either way it crosses to each
    worker once, not with every task."""
    if client is not None:
        return client.scatter(scene, broadcast=True, hash=False)
    return dask.delayed(scene, pure=True, traverse=False)


def render_frames(scene, cameras, size=(512, 512), client=None, **kwargs):
    """Renders one frame per task: ``cameras`` is a list of ``(eye,
    look_at)`` pairs. Returns a dask array ``(frames, h, w, 3)`` uint8.
    Pass ``client`` (a ``dask.distributed.Client``) to broadcast the scene
    to the workers up front. Other keywords go to :meth:`Scene.render`;
    ``threads`` defaults to 1, as a worker already runs one task per core."""
    width, height = size
    kwargs.setdefault("threads", 1)
    s = _shipped(scene, client)
    frames = [da.from_delayed(dask.delayed(_render, pure=True)(s, size, tuple(eye), tuple(look), None, kwargs),
                              shape=(height, width, 3), dtype=np.uint8) for eye, look in cameras]
    return da.stack(frames)


def render_tiles(scene, size=(4096, 4096), tile=(512, 512), client=None, **kwargs):
    """Renders one large image in tiles of ``tile = (width, height)``
    pixels (multiples of 16), one task each; the tiles' pixels equal those
    of a single render. Returns a dask array ``(h, w, 3)`` uint8. Keywords
    as for :func:`render_frames`."""
    width, height = size
    tw, th = tile
    if tw % 16 or th % 16 or tw < 16 or th < 16:
        raise ValueError("tile: width and height must be positive multiples of 16")
    kwargs.setdefault("threads", 1)
    s = _shipped(scene, client)
    eye, look = kwargs.pop("eye", None), kwargs.pop("look_at", None)
    rows = []
    for y in range(0, height, th):
        row = []
        for x in range(0, width, tw):
            w, h = min(tw, width - x), min(th, height - y)
            row.append(da.from_delayed(dask.delayed(_render, pure=True)(s, size, eye, look, (x, y, w, h), kwargs),
                                       shape=(h, w, 3), dtype=np.uint8))
        rows.append(row)
    return da.concatenate([da.concatenate(r, axis=1) for r in rows], axis=0)
