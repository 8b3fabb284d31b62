"""A volume larger than a worker's memory, resampled zarr to zarr on a
two-worker dask.distributed cluster, checked against the in-memory call."""
import dask
import dask.array as da
import numpy as np
import pytest

distributed = pytest.importorskip("distributed")
zarr = pytest.importorskip("zarr")

import vekr.dask as vd  # noqa: E402
import vekr.volume as vv  # noqa: E402

SHAPE = (512, 512, 512)  # 128 MiB of uint8
LIMIT = "110MiB"  # per worker


def _pattern(block, block_info=None):
    (z0, _), (y0, _), (x0, _) = block_info[None]["array-location"]
    z, y, x = np.ogrid[z0:z0 + block.shape[0], y0:y0 + block.shape[1], x0:x0 + block.shape[2]]
    return ((x * 7 + y * 13 + z * 29 + (x * y) % 17) % 251).astype(np.uint8)


def test_resize_beyond_worker_memory(tmp_path):
    src_path, dst_path = str(tmp_path / "src.zarr"), str(tmp_path / "dst.zarr")
    config = {"distributed.worker.memory.target": 0.6, "distributed.worker.memory.spill": 0.7,
              "distributed.worker.memory.pause": False, "distributed.worker.memory.terminate": False}
    with dask.config.set(config), distributed.LocalCluster(
            n_workers=2, threads_per_worker=1, memory_limit=LIMIT, processes=True,
            dashboard_address=None) as cluster, distributed.Client(cluster):
        da.zeros(SHAPE, np.uint8, chunks=64).map_blocks(_pattern, dtype=np.uint8).to_zarr(src_path)
        src = da.from_zarr(src_path)
        out = vd.resize(src, (0.75, 0.5, 1.25), interpolation="catmull-rom", chunks=(96, 128, 160))
        out.to_zarr(dst_path)
        workers = cluster.scheduler_info["workers"].values()
        assert all(w["memory_limit"] < src.nbytes for w in workers)
    whole = zarr.open(src_path)[:]
    ref = vv.resize(whole, (0.75, 0.5, 1.25), interpolation="catmull-rom")
    result = zarr.open(dst_path)
    assert result.shape == ref.shape
    rng = np.random.default_rng(0)
    for _ in range(6):
        corner = [int(rng.integers(0, n - 40)) for n in ref.shape]
        sl = tuple(slice(c, c + 40) for c in corner)
        assert np.array_equal(result[sl], ref[sl])
    assert np.array_equal(result[-1], ref[-1])
