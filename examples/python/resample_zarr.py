#!/usr/bin/env python3
"""Resamples an anisotropic volume stored as zarr to isotropic voxels on a
local Dask cluster, zarr in and zarr out, and writes one slice before and
after as a PNG.

The volume is synthetic, like a light-sheet stack: voxels of 2.0 um along z
and 0.5 um across, holding soft round "cells" over a faint background and
noise. --size N makes it (N/4, N, N) uint16, N = 2048 (the default) being
4 GiB. It is generated chunk by chunk straight into a zarr store, never held
whole, and resampled by vekr.dask.resize with factors (2, 0.5, 0.5) to 1 um
voxels: each output chunk reads only the source chunks it needs, so every
worker's memory limit stays far below the volume's size.

The PNG shows an x-z slice through the middle: on the left the source's
voxels as stored (cells squashed fourfold along z), on the right the
resampled ones (cells round).

    python3 examples/python/resample_zarr.py --size 256 --out slices.png

A small --size runs in seconds; --verify then also compares the whole
result with the in-memory vekr.volume.resize (they agree bit for bit).
"""
import argparse
import os
import shutil
import sys
import tempfile
import time

import numpy as np

import vekr.volume

SPACING = (2.0, 0.5, 0.5)  # source voxel size (z, y, x) in um
TARGET = 1.0  # isotropic output voxel size in um
CELLS = 300  # the same scene at every size: cells scale with the volume


def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--size", type=int, default=2048,
                   help="x and y extent N of the source (N/4, N, N) uint16; default 2048 (4 GiB)")
    p.add_argument("--chunk", type=int, default=256,
                   help="source chunks are (chunk/4, chunk, chunk), output chunks (chunk/2)^3; default 256")
    p.add_argument("--interpolation", default="linear", choices=list(vekr.volume.INTERPOLATIONS),
                   help="default linear (across: the mean of 2 x 2 voxels)")
    p.add_argument("--workers", type=int, default=2, help="worker processes, one thread each; default 2")
    p.add_argument("--memory-limit", default="1GiB", help="memory limit per worker; default 1GiB")
    p.add_argument("--workdir", help="folder for the zarr stores (default: a temporary folder, removed after)")
    p.add_argument("--out", default="resample_slices.png", help="PNG to write; default resample_slices.png")
    p.add_argument("--verify", action="store_true",
                   help="compare the whole result with the in-memory resize (small sizes only)")
    args = p.parse_args(argv)
    if args.size < 8 or args.size % 4:
        p.error("--size: a multiple of 4, at least 8")
    if args.chunk < 8 or args.chunk % 4:
        p.error("--chunk: a multiple of 4, at least 8")
    if args.workers < 1:
        p.error("--workers: at least 1")
    if not args.out.lower().endswith(".png"):
        p.error("--out: a .png file name")
    if not os.path.isdir(os.path.dirname(os.path.abspath(args.out))):
        p.error("--out: no folder %s" % os.path.dirname(os.path.abspath(args.out)))
    return args


# ---- The synthetic source ---------------------------------------------------

def cells(n):
    """Centres (um, z y x), radii (um) and brightness of the cells in a
    volume of physical extent n/2 um along each axis."""
    rng = np.random.default_rng(7)
    extent = n * SPACING[2]
    centres = rng.uniform(0.05, 0.95, (CELLS, 3)) * extent
    radii = rng.uniform(0.02, 0.06, CELLS) * extent
    brightness = rng.uniform(5000, 22000, CELLS)
    return centres, radii, brightness


def source_chunk(n=0, block_info=None):
    """One chunk of the source: cells with soft edges, a faint gradient and
    noise seeded by the chunk's position (so a chunk comes out the same on
    any worker, any number of times)."""
    loc = block_info[None]["array-location"]
    shape = tuple(b - a for a, b in loc)
    # Voxel k stands for its centre, (k + 0.5) * spacing.
    axes = [((np.arange(a, b) + 0.5) * s).astype(np.float32) for (a, b), s in zip(loc, SPACING)]
    out = np.full(shape, 1000.0, np.float32)
    out += (axes[0] / (n * SPACING[2]) * 1500).astype(np.float32)[:, None, None]
    for c, r, b in zip(*cells(n)):
        # Only the box the cell reaches (1.6 radii: the rest is below the noise).
        sub = []
        for axis, coord in enumerate(axes):
            lo, hi = np.searchsorted(coord, (c[axis] - 1.6 * r, c[axis] + 1.6 * r))
            sub.append(slice(lo, hi))
        if any(s.start >= s.stop for s in sub):
            continue
        dz, dy, dx = ((coord[s] - np.float32(c[axis])) / np.float32(r)
                      for axis, (coord, s) in enumerate(zip(axes, sub)))
        d2 = dz[:, None, None] ** 2 + dy[None, :, None] ** 2 + dx[None, None, :] ** 2
        # A bright rim around a dimmer body, like a membrane stain.
        out[tuple(sub)] += (b * (0.35 * np.exp(-d2 * 1.5) + np.exp(-((np.sqrt(d2) - 1.0) / 0.12) ** 2))).astype(
            np.float32)
    seed = [int(a) for a, _ in loc]
    out += np.random.default_rng(seed).standard_normal(shape, dtype=np.float32) * np.float32(400)
    return np.clip(out, 0, 65535).astype(np.uint16)


# ---- The picture ------------------------------------------------------------

def to_grey(slice2d, lo, hi):
    return (np.clip((slice2d.astype(np.float32) - lo) / max(hi - lo, 1), 0, 1) * 255 + 0.5).astype(np.uint8)


def write_png(path, before, after, caption_before, caption_after):
    """Before and after side by side, captioned; written to a temporary file
    beside the target and renamed, so a failed write leaves nothing."""
    from PIL import Image, ImageDraw

    lo, hi = np.percentile(before, (0.5, 99.8))
    # Small runs are shown enlarged (whole voxels), so that they can be seen.
    scale = max(1, -(-384 // before.shape[1]))
    panels = [Image.fromarray(to_grey(p, lo, hi)).resize((p.shape[1] * scale, p.shape[0] * scale), Image.NEAREST)
              for p in (before, after)]
    gap, top = 12, 20
    columns = [max(p.width, 7 * len(c)) for p, c in zip(panels, (caption_before, caption_after))]
    canvas = Image.new("L", (sum(columns) + 3 * gap, max(p.height for p in panels) + top + gap), 32)
    draw = ImageDraw.Draw(canvas)
    x = gap
    for panel, caption, width in zip(panels, (caption_before, caption_after), columns):
        canvas.paste(panel, (x, top))
        draw.text((x, 4), caption, fill=230)
        x += width + gap
    folder = os.path.dirname(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(suffix=".png", prefix=".resample-", dir=folder)
    try:
        with os.fdopen(fd, "wb") as f:
            canvas.save(f, format="PNG", optimize=True)
        # mkstemp makes the file private; the picture gets the usual mode.
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(tmp, 0o666 & ~umask)
        os.replace(tmp, path)
    except BaseException:
        os.unlink(tmp)
        raise


# ---- The run ----------------------------------------------------------------

def run(args, workdir):
    import dask.array as da
    from dask.distributed import Client, LocalCluster, progress

    import vekr.dask

    n = args.size
    shape = (n // 4, n, n)
    factors = tuple(s / TARGET for s in SPACING)
    src_chunks = (args.chunk // 4, args.chunk, args.chunk)
    out_chunks = (args.chunk // 2,) * 3
    gib = np.prod(shape) * 2 / 2 ** 30
    print("source %s uint16 (%.2f GiB), voxels %s um, chunks %s" % (shape, gib, SPACING, src_chunks))

    with LocalCluster(n_workers=args.workers, threads_per_worker=1, memory_limit=args.memory_limit,
                      local_directory=workdir, dashboard_address=":0") as cluster, Client(cluster) as client:
        print("cluster: %d workers x 1 thread, %s each" % (args.workers, args.memory_limit))
        src_path = os.path.join(workdir, "source.zarr")
        out_path = os.path.join(workdir, "resampled.zarr")

        t = time.perf_counter()
        source = da.map_blocks(source_chunk, n=n, chunks=da.core.normalize_chunks(src_chunks, shape),
                               dtype=np.uint16, meta=np.empty((0, 0, 0), np.uint16))
        print("writing the synthetic source to", src_path)
        job = client.compute(source.to_zarr(src_path, compute=False))
        progress(job)
        job.result()
        print("  %.1f s" % (time.perf_counter() - t))

        t = time.perf_counter()
        stored = da.from_zarr(src_path)
        # One library thread per block: the workers already fill the cores.
        result = vekr.dask.resize(stored, factors, interpolation=args.interpolation, chunks=out_chunks, threads=1)
        print("resampling by %s (%s) to %s, chunks %s, into %s"
              % (factors, args.interpolation, result.shape, out_chunks, out_path))
        job = client.compute(result.to_zarr(out_path, compute=False))
        progress(job)
        job.result()
        seconds = time.perf_counter() - t
        print("  %.1f s, %.1f MB/s of source" % (seconds, np.prod(shape) * 2 / 1e6 / seconds))

    import zarr

    before = zarr.open(src_path, mode="r")
    after = zarr.open(out_path, mode="r")
    # The first voxel plane past y = n/4 um in each grid (their centres a
    # quarter of a micron apart: the grids' outer faces coincide).
    y_um = n * SPACING[1] / 2
    before_slice = before[:, int(y_um / SPACING[1]), :]
    after_slice = after[:, int(y_um / TARGET), :]
    write_png(args.out, before_slice, after_slice,
              "before: x-z, %.1f x %.1f um voxels" % (SPACING[2], SPACING[0]),
              "after: %.1f um voxels" % TARGET)
    print("wrote", args.out)

    if args.verify:
        expected = vekr.volume.resize(before[...], factors, interpolation=args.interpolation)
        got = after[...]
        if got.shape != expected.shape or not np.array_equal(got, expected):
            bad = np.count_nonzero(got != expected) if got.shape == expected.shape else -1
            raise RuntimeError("verify: the Dask result differs from the in-memory resize (%d voxels)" % bad)
        print("verified: equal to vekr.volume.resize bit for bit")


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    workdir = args.workdir or tempfile.mkdtemp(prefix="vekr-resample-")
    try:
        os.makedirs(workdir, exist_ok=True)
        run(args, workdir)
    except (OSError, ValueError, RuntimeError) as e:
        print("resample_zarr: %s" % e, file=sys.stderr)
        return 1
    finally:
        if not args.workdir:
            shutil.rmtree(workdir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
