"""Call overhead of vekr.volume against the bare export (ctypes, same
process, same buffers) on V1 and V2, one thread; and V3 on Dask with one and
two workers. Run with /usr/bin/python3 and PYTHONPATH=build/release/python,
VEKR_LIBRARY=build/release/src/libvekr.so."""
import ctypes
import os
import sys
import time

import numpy as np

import vekr.volume as vv

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "python", "tests"))
from test_volume import _c_resize  # noqa: E402


def best(fn, repeat=7):
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return min(times)


def main():
    lib = ctypes.CDLL(os.environ["VEKR_LIBRARY"])
    lib.vekSetNumThreads(1)
    rng = np.random.default_rng(0)
    cases = [("V1 8u 128^3 -> 256^3", rng.integers(0, 256, (128,) * 3).astype(np.uint8), 2.0),
             ("V2 32f 256^3 -> 128^3", rng.random((256,) * 3, dtype=np.float32), 0.5)]
    for name, src, f in cases:
        for mode in ("linear", "catmull-rom"):
            out = np.zeros(tuple(int(n * f) for n in src.shape), src.dtype)
            c = best(lambda: _c_resize(lib, src, out, (f, f, f), vv.INTERPOLATIONS[mode]))
            p = best(lambda: vv.resize(src, f, interpolation=mode, out=out, threads=1))
            print("%-24s %-12s C %7.2f ms  Python %7.2f ms  overhead %+5.1f%%" % (name, mode, 1e3 * c, 1e3 * p,
                                                                                 100 * (p / c - 1)))
    if "--dask" in sys.argv:
        import dask.array as da
        from distributed import Client, LocalCluster

        import vekr.dask as vd
        src = rng.random((256,) * 3, dtype=np.float32)
        c, s = np.cos(np.pi / 6), np.sin(np.pi / 6)
        m = np.array([[1, 0, 0, 0], [0, c, s, 127.5 - 127.5 * (c + s)], [0, -s, c, 127.5 - 127.5 * (c - s)]])
        for workers in (1, 2):
            with LocalCluster(n_workers=workers, threads_per_worker=1, dashboard_address=None) as cl, Client(cl) as cli:
                x = cli.scatter(src)
                d = da.from_delayed(x, src.shape, src.dtype).rechunk((32, 256, 256)).persist()
                run = lambda: vd.warp_affine(d, m, chunks=32).sum().compute()  # noqa: E731
                run()
                print("V3 warp 32f 256^3 linear on Dask, %d worker(s): %.0f ms" % (workers, 1e3 * best(run, 3)))


if __name__ == "__main__":
    main()
