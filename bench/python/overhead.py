"""Call overhead of vekr.volume against the bare export on V1 and V2, one
thread; with --dask also V3 on Dask with one and two single-threaded workers.

The bare export is called through ctypes with its arguments and scratch
buffer prepared once, so its time is the library's work alone; the Python
call does everything a user's call does (checks, views, the buffer). The two
run alternately, round after round, so that a change in the machine's load
hits both alike; each figure is the fastest round, the overhead also the
median of the rounds' ratios.

For Dask the source is generated on the workers in slabs of 32 planes, the
first half on one worker and the second on the other (as after each worker
read its part of a chunked store), and one round runs the warp on the
one-worker and on the two-worker cluster in turn.

    PYTHONPATH=build/release/python VEKR_LIBRARY=build/release/src/libvekr.so \\
        /usr/bin/python3 bench/python/overhead.py [--dask] [--rounds N]
"""
import argparse
import ctypes
import os
import statistics
import time

import numpy as np


class Volume(ctypes.Structure):
    _fields_ = [("w", ctypes.c_int32), ("h", ctypes.c_int32), ("d", ctypes.c_int32)]


class Cuboid(ctypes.Structure):
    _fields_ = [(n, ctypes.c_int32) for n in ("x", "y", "z", "w", "h", "d")]


def bare_resize(lib, src, dst, factor, mode):
    """A callable running vekrResize_<type>_C1V alone on prepared arguments."""
    suffix = {np.dtype(np.uint8): "8u", np.dtype(np.float32): "32f"}[src.dtype]
    sv = Volume(src.shape[2], src.shape[1], src.shape[0])
    svoi = Cuboid(0, 0, 0, src.shape[2], src.shape[1], src.shape[0])
    dvoi = Cuboid(0, 0, 0, dst.shape[2], dst.shape[1], dst.shape[0])
    size = ctypes.c_int32()
    if lib.vekrResizeGetBufSize(svoi, dvoi, 1, mode, ctypes.byref(size)) != 0:
        raise RuntimeError("vekrResizeGetBufSize refused")
    buf = np.zeros(size.value + 64, np.uint8)
    fn = getattr(lib, "vekrResize_%s_C1V" % suffix)
    fn.argtypes = [ctypes.c_void_p, Volume, ctypes.c_int32, ctypes.c_int32, Cuboid, ctypes.c_void_p, ctypes.c_int32,
                   ctypes.c_int32, Cuboid] + [ctypes.c_double] * 6 + [ctypes.c_int32, ctypes.c_void_p]
    args = (src.ctypes.data, sv, src.strides[1], src.strides[0], svoi, dst.ctypes.data, dst.strides[1],
            dst.strides[0], dvoi, factor, factor, factor, 0.0, 0.0, 0.0, mode, buf.ctypes.data + (-buf.ctypes.data) % 64)

    def call(keep=(src, dst, buf)):  # the arrays must outlive the addresses in args
        if fn(*args) != 0:
            raise RuntimeError("vekrResize refused")
    return call


def rounds(fns, count):
    """Runs the callables alternately (the order flipped every round);
    returns each one's list of times in seconds."""
    times = [[] for _ in fns]
    for r in range(count):
        order = range(len(fns)) if r % 2 == 0 else reversed(range(len(fns)))
        for i in order:
            t = time.perf_counter()
            fns[i]()
            times[i].append(time.perf_counter() - t)
    return times


def overhead(lib, count):
    import vekr.volume as vv

    # What a call costs beyond the export's work, measured where there is
    # almost no work (a 4^3 volume, a loop of calls): this figure divided by
    # a workload's time is the overhead the workloads should show, and unlike
    # theirs it hardly moves with the machine's load.
    calls = 1000
    for dtype, f in ((np.uint8, 2.0), (np.float32, 0.5)):
        src = np.ones((4, 4, 4), dtype)
        out = np.zeros(tuple(int(n * f) for n in src.shape), dtype)
        bare = bare_resize(lib, src, out, f, vv.INTERPOLATIONS["linear"])
        c, p = rounds([lambda: [bare() for _ in range(calls)],
                       lambda: [vv.resize(src, f, out=out, threads=1) for _ in range(calls)]], count)
        print("per call, %-7s 4^3 linear:  export %5.1f us  Python %5.1f us  difference %5.1f us"
              % (np.dtype(dtype).name, 1e6 * min(c) / calls, 1e6 * min(p) / calls, 1e6 * (min(p) - min(c)) / calls),
              flush=True)

    rng = np.random.default_rng(0)
    cases = [("V1 8u 128^3 -> 256^3", rng.integers(0, 256, (128,) * 3).astype(np.uint8), 2.0),
             ("V2 32f 256^3 -> 128^3", rng.random((256,) * 3, dtype=np.float32), 0.5)]
    for name, src, f in cases:
        for mode in ("linear", "catmull-rom"):
            out = np.zeros(tuple(int(n * f) for n in src.shape), src.dtype)
            bare = bare_resize(lib, src, out, f, vv.INTERPOLATIONS[mode])
            c, p = rounds([bare, lambda: vv.resize(src, f, interpolation=mode, out=out, threads=1)], count)
            ratios = [b / a - 1 for a, b in zip(c, p)]
            print("%-22s %-12s export %7.2f ms  Python %7.2f ms  overhead %+5.1f%% (median of rounds %+5.1f%%)"
                  % (name, mode, 1e3 * min(c), 1e3 * min(p), 100 * (min(p) / min(c) - 1),
                     100 * statistics.median(ratios)), flush=True)


def _slab(block_info=None):
    """A slab of the V3-sized source, the same wherever it is made."""
    loc = block_info[None]["array-location"]
    shape = tuple(b - a for a, b in loc)
    return np.random.default_rng(loc[0][0]).random(shape, dtype=np.float32)


def _slab_at(z0, depth=32):
    return _slab({None: {"array-location": [(z0 * depth, (z0 + 1) * depth), (0, 256), (0, 256)]}})


def dask_scaling(count):
    import dask
    import dask.array as da
    from distributed import Client, LocalCluster

    import vekr.volume as vv

    # V3: +30 degrees about z around the volume's centre, in (z, y, x) order.
    c, s = np.cos(np.pi / 6), np.sin(np.pi / 6)
    m = np.array([[1, 0, 0, 0], [0, c, s, 127.5 - 127.5 * (c + s)], [0, -s, c, 127.5 - 127.5 * (c - s)]])
    shape = (256, 256, 256)
    chunks = ((32,) * 8, (256,), (256,))

    src = np.concatenate([_slab_at(z) for z in range(len(chunks[0]))])
    (t_mem,) = rounds([lambda: vv.warp_affine(src, m, threads=1)], count)
    print("V3 warp 32f 256^3 linear in memory, one thread: %.0f ms" % (1e3 * min(t_mem)), flush=True)

    clusters = []
    try:
        runs = []
        for workers in (1, 2):
            cluster = LocalCluster(n_workers=workers, threads_per_worker=1, dashboard_address=":0")
            client = Client(cluster, set_as_default=False)
            clusters.append((client, cluster))
            # Slabs 0-3 on one worker, 4-7 on the other: each warp block then
            # finds its own slab where it runs and fetches only the three
            # planes it needs from a neighbour. Left to itself the scheduler
            # may place them 5/3 or interleaved, and a 5/3 split of eight
            # equal blocks alone caps the speed-up at 1.6.
            names = sorted(client.scheduler_info()["workers"])
            slabs = [client.submit(_slab_at, z, workers=[names[z * len(names) // len(chunks[0])]], pure=False)
                     for z in range(len(chunks[0]))]
            d = da.concatenate([da.from_delayed(dask.delayed(f), (32, 256, 256), np.float32) for f in slabs])
            client.gather(client.map(lambda a: a.shape, slabs))
            held = sorted(len(keys) for keys in client.has_what().values())
            print("%d worker(s): source slabs held %s" % (workers, held), flush=True)
            runs.append(_Run(client, d, m))
            runs[-1]()  # the workers import vekr and warm up
        one, two = rounds(runs, count)
        for workers, t, run in ((1, one, runs[0]), (2, two, runs[1])):
            print("V3 warp 32f 256^3 linear on Dask, %d worker(s): %.0f ms (median %.0f ms); CPU per worker "
                  "(busiest run) %s ms" % (workers, 1e3 * min(t), 1e3 * statistics.median(t),
                                           "/".join("%.0f" % (1e3 * c) for c in max(run.cpu, key=max))), flush=True)
        print("speed-up 1 -> 2 workers: %.2fx (median of rounds %.2fx)"
              % (min(one) / min(two), statistics.median(a / b for a, b in zip(one, two))))
        # On a machine whose cores are taken by other work, two workers get
        # no more processor time than one (the kernel shares it between
        # sessions, not processes), and the wall-clock ratio says little.
        # The work itself splits as the busiest worker's processor time shows.
        cpu_one = statistics.median(sum(c) for c in runs[0].cpu)
        cpu_two = statistics.median(max(c) for c in runs[1].cpu)
        print("processor time: one worker %.0f ms; busiest of two %.0f ms; ratio %.2fx"
              % (1e3 * cpu_one, 1e3 * cpu_two, cpu_one / cpu_two))
    finally:
        for client, cluster in clusters:
            client.close()
            cluster.close()


def _cpu_seconds():
    import psutil
    t = psutil.Process().cpu_times()
    return t.user + t.system


class _Run:
    """One timed warp on a cluster; records each worker's processor time."""

    def __init__(self, client, d, m):
        self.client, self.d, self.m, self.cpu, self.count = client, d, m, [], 0

    def __call__(self):
        import vekr.dask as vd

        # A different fill each run gives the tasks new keys, so that no run
        # finds a previous run's blocks still in memory.
        self.count += 1
        graph = vd.warp_affine(self.d, self.m, chunks=32, fill=-self.count).sum()
        before = self.client.run(_cpu_seconds)
        self.client.compute(graph).result()
        after = self.client.run(_cpu_seconds)
        self.cpu.append([after[w] - before[w] for w in sorted(after)])


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--dask", action="store_true", help="also V3 on Dask with one and two workers")
    p.add_argument("--rounds", type=int, default=11, help="rounds per figure; default 11")
    p.add_argument("--no-overhead", action="store_true", help="skip the V1/V2 call overhead")
    args = p.parse_args()
    lib = ctypes.CDLL(os.environ["VEKR_LIBRARY"])
    lib.vekSetNumThreads(1)
    if not args.no_overhead:
        overhead(lib, args.rounds)
    if args.dask:
        dask_scaling(args.rounds)


if __name__ == "__main__":
    main()
