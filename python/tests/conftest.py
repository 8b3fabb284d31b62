"""Shared fixtures: the library itself through ctypes (the reference for
exactness), and small deterministic volumes."""
import ctypes
import os

import numpy as np
import pytest


@pytest.fixture(scope="session")
def lib():
    path = os.environ.get("VEKR_LIBRARY")
    if not path:
        pytest.skip("VEKR_LIBRARY not set (run through ctest)")
    return ctypes.CDLL(path)


def noise(shape, dtype, seed=0):
    rng = np.random.default_rng(seed)
    dtype = np.dtype(dtype)
    if dtype == np.float32:
        return rng.random(shape, dtype=np.float32)
    info = np.iinfo(dtype)
    return rng.integers(info.min, int(info.max) + 1, shape).astype(dtype)
