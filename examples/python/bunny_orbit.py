#!/usr/bin/env python3
"""Renders an orbit around the bunny on a local Dask cluster, one frame per
task, and writes the frames as a PNG contact strip or an animated GIF.

The scene is loaded once here and shipped to each worker once (the workers
rebuild its kd-tree from the arrays); every frame is then one task running
the same pipeline as vekr-render: eye rays, closest hits, shading under a
point light with hard shadows and mirror bounces.

    python3 examples/python/bunny_orbit.py --frames 8 --size 160x160 --out orbit.png
    python3 examples/python/bunny_orbit.py --out orbit.gif

The mesh is data/bunny.obj of the repository (or $VEKR_SHARED_DATA_DIR's);
--obj renders another Wavefront OBJ file.
"""
import argparse
import os
import sys
import tempfile
import time

import numpy as np

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def default_obj():
    """The first bunny.obj of: $VEKR_SHARED_DATA_DIR, the repository's data
    folder, the shared data folder beside the repository."""
    folders = [os.environ.get("VEKR_SHARED_DATA_DIR"), os.path.join(REPO, "data"),
               os.path.join(os.path.dirname(REPO), "shared", "data")]
    for folder in folders:
        if folder and os.path.isfile(os.path.join(folder, "bunny.obj")):
            return os.path.join(folder, "bunny.obj")
    return None


def size_arg(text):
    try:
        w, h = (int(v) for v in text.lower().split("x"))
    except ValueError:
        raise argparse.ArgumentTypeError("expected WIDTHxHEIGHT, e.g. 320x240") from None
    if not (1 <= w <= 8192 and 1 <= h <= 8192):
        raise argparse.ArgumentTypeError("width and height within 1 .. 8192")
    return w, h


def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--obj", default=default_obj(), help="mesh to render; default %(default)s")
    p.add_argument("--frames", type=int, default=24, help="frames around the orbit; default 24")
    p.add_argument("--size", type=size_arg, default=(320, 240), help="frame size WIDTHxHEIGHT; default 320x240")
    p.add_argument("--elevation", type=float, default=20.0, help="camera elevation in degrees; default 20")
    p.add_argument("--columns", type=int, default=6, help="frames per row of the PNG strip; default 6")
    p.add_argument("--workers", type=int, default=2, help="worker processes, one thread each; default 2")
    p.add_argument("--out", default="bunny_orbit.png", help="a .png strip or an animated .gif")
    p.add_argument("--verify", action="store_true",
                   help="render every frame here too and check the cluster's equal them (small runs)")
    args = p.parse_args(argv)
    if args.obj is None:
        p.error("--obj: no bunny.obj found in data/ or $VEKR_SHARED_DATA_DIR; give the mesh's path")
    if args.frames < 1 or args.columns < 1 or args.workers < 1:
        p.error("--frames, --columns and --workers: at least 1")
    if os.path.splitext(args.out)[1].lower() not in (".png", ".gif"):
        p.error("--out: a .png or .gif file name")
    if not os.path.isdir(os.path.dirname(os.path.abspath(args.out))):
        p.error("--out: no folder %s" % os.path.dirname(os.path.abspath(args.out)))
    return args


def save_atomically(path, save):
    """save(file) into a temporary file beside path, renamed on success."""
    fd, tmp = tempfile.mkstemp(suffix=os.path.splitext(path)[1], prefix=".orbit-",
                               dir=os.path.dirname(os.path.abspath(path)))
    try:
        with os.fdopen(fd, "wb") as f:
            save(f)
        # mkstemp makes the file private; the picture gets the usual mode.
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(tmp, 0o666 & ~umask)
        os.replace(tmp, path)
    except BaseException:
        os.unlink(tmp)
        raise


def write_frames(path, frames, columns):
    from PIL import Image

    if path.lower().endswith(".gif"):
        images = [Image.fromarray(f) for f in frames]
        # One palette for the whole animation, so colours do not flicker.
        palette = images[0].quantize(colors=255)
        images = [im.quantize(palette=palette, dither=Image.Dither.NONE) for im in images]
        save_atomically(path, lambda f: images[0].save(f, format="GIF", save_all=True, append_images=images[1:],
                                                       duration=80, loop=0))
        return images[0].size
    count, h, w, _ = frames.shape
    columns = min(columns, count)
    rows = -(-count // columns)
    strip = np.zeros((rows * h, columns * w, 3), np.uint8)
    for i, frame in enumerate(frames):
        r, c = divmod(i, columns)
        strip[r * h:(r + 1) * h, c * w:(c + 1) * w] = frame
    save_atomically(path, lambda f: Image.fromarray(strip).save(f, format="PNG", optimize=True))
    return strip.shape[1], strip.shape[0]


def run(args):
    from dask.distributed import Client, LocalCluster, progress

    import vekr.dask
    from vekr.rays import Scene

    t = time.perf_counter()
    scene = Scene.from_obj(args.obj)
    print("%s: %d triangles, tree of %.1f MB, built in %.2f s"
          % (args.obj, len(scene.triangles), scene.tree_bytes / 1e6, time.perf_counter() - t))
    eyes, centre = vekr.dask.orbit(scene, args.frames, elevation=np.radians(args.elevation))
    cameras = [(eye, centre) for eye in eyes]

    with LocalCluster(n_workers=args.workers, threads_per_worker=1, dashboard_address=":0") as cluster, \
            Client(cluster) as client:
        t = time.perf_counter()
        frames = vekr.dask.render_frames(scene, cameras, args.size, client=client)
        job = client.compute(frames)
        progress(job)
        frames = job.result()
        seconds = time.perf_counter() - t
    print("\n%d frames of %dx%d on %d workers in %.2f s (%.0f ms a frame)"
          % (args.frames, args.size[0], args.size[1], args.workers, seconds, 1e3 * seconds / args.frames))

    if args.verify:
        covered = []
        for i, (eye, look_at) in enumerate(cameras):
            here, seen = scene.render(args.size, eye=eye, look_at=look_at, triangles=True)
            if not np.array_equal(here, frames[i]):
                raise RuntimeError("verify: frame %d differs from a render in this process" % i)
            covered.append(np.mean(seen >= 0))
        # The orbit must keep the model in view.
        if min(covered) < 0.05:
            raise RuntimeError("verify: frame %d shows almost nothing of the model" % int(np.argmin(covered)))
        print("verified: every frame equals a render in this process; the model covers %.0f%% .. %.0f%% of them"
              % (100 * min(covered), 100 * max(covered)))

    width, height = write_frames(args.out, frames, args.columns)
    print("wrote %s (%dx%d)" % (args.out, width, height))


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    try:
        run(args)
    except (OSError, ValueError, RuntimeError) as e:
        print("bunny_orbit: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
