"""vekr.sh against scipy.special.sph_harm, the transforms against the basis
in double precision, and the channel layouts against one another."""
import numpy as np
import pytest
from scipy.special import sph_harm

import vekr
import vekr.sh as sh


def _dirs(n, seed=0):
    d = np.random.default_rng(seed).normal(size=(n, 3))
    return (d / np.linalg.norm(d, axis=1)[:, None]).astype(np.float32)


def _real_sh_scipy(dirs, order):
    """Real orthonormal harmonics from scipy's complex ones, which carry the
    Condon-Shortley phase (-1)**m: the mapping of vekr.sh's docstring."""
    d = dirs.astype(np.float64)
    theta = np.arccos(np.clip(d[:, 2], -1, 1))
    phi = np.arctan2(d[:, 1], d[:, 0])
    out = np.zeros((len(d), (order + 1) ** 2))
    for l in range(order + 1):
        for m in range(-l, l + 1):
            y = sph_harm(abs(m), l, phi, theta)
            if m < 0:
                v = np.sqrt(2) * y.imag
            elif m == 0:
                v = y.real
            else:
                v = np.sqrt(2) * y.real
            out[:, l * l + l + m] = v
    return out


@pytest.mark.parametrize("method, tol", [("direct", 1e-5), ("recurrence", 2e-5)])
def test_basis_matches_scipy(method, tol):
    dirs = _dirs(300)
    ours = sh.basis(dirs, 15, method)
    ref = _real_sh_scipy(dirs, 15)
    assert ours.shape == ref.shape
    np.testing.assert_allclose(ours, ref, atol=tol * np.abs(ref).max())


def test_band_is_the_direct_basis_slice():
    dirs = _dirs(50, 1)
    full = sh.basis(dirs, 6, "direct")
    for l in range(7):
        assert np.array_equal(sh.band(dirs, l), full[:, l * l:(l + 1) * (l + 1)])


def test_transforms_against_double_precision_sums():
    dirs = _dirs(257, 2)
    b = sh.basis(dirs, 5).astype(np.float64)
    values = np.random.default_rng(3).normal(size=257).astype(np.float32)
    coeffs = sh.project(dirs, values, 5)
    np.testing.assert_allclose(coeffs, b.T @ values, atol=1e-4)
    back = sh.reconstruct(coeffs, dirs)
    np.testing.assert_allclose(back, b @ coeffs.astype(np.float64), atol=1e-4)
    # Accumulates into the given coefficients.
    again = sh.project(dirs, values, 5, coeffs=coeffs.copy())
    np.testing.assert_allclose(again, 2 * coeffs, rtol=1e-6, atol=1e-6)


def test_three_channels_equal_three_single_channel_calls():
    dirs = _dirs(101, 4)
    rgb = np.random.default_rng(5).random((101, 3), dtype=np.float32)
    single = np.stack([sh.project(dirs, np.ascontiguousarray(rgb[:, c]), 4) for c in range(3)])
    assert np.array_equal(sh.project(dirs, rgb, 4), single)
    assert np.array_equal(sh.project(dirs, [rgb[:, c] for c in range(3)], 4), single)
    back = sh.reconstruct(single, dirs)
    assert back.shape == (101, 3)
    for c in range(3):
        assert np.array_equal(back[:, c], sh.reconstruct(single[c], dirs))


def test_refusals():
    with pytest.raises(vekr.VekrError) as e:
        sh.basis(_dirs(4), 16, "direct")
    assert e.value.name == "vekStsSizeErr" and e.value.function == "vekrSHGetSize_32f"
    with pytest.raises(vekr.VekrError, match="vekStsSizeErr"):
        sh.basis(np.zeros((0, 3), np.float32), 2)
    with pytest.raises(TypeError, match="float32"):
        sh.basis(_dirs(4).astype(np.float64), 2)
    with pytest.raises(ValueError, match="square"):
        sh.reconstruct(np.zeros(5, np.float32), _dirs(4))
