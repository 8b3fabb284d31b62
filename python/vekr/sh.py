"""Real spherical harmonics: basis evaluation and transforms.

The basis is the real orthonormal one with the Condon-Shortley phase, bands
0 .. order (at most 15); coefficient ``Y(l, m)`` sits at index
``l*l + l + m``, so a set of bands 0 .. L has ``(L + 1)**2`` coefficients.
In terms of scipy's complex harmonics ``Y_l^m = sph_harm(m, l, phi, theta)``
(theta the polar angle from +z, phi the azimuth from +x)::

    Y(l, m) = sqrt(2) * Im(Y_l^|m|)   for m < 0
    Y(l, 0) = Re(Y_l^0)
    Y(l, m) = sqrt(2) * Re(Y_l^m)     for m > 0

(the phase (-1)**m comes from scipy's Y_l^m, which carries it).

Directions are ``(N, 3)`` float32 arrays ``(x, y, z)`` of unit length
(nothing is normalised: a longer vector gives a scaled polynomial value).
Other dtypes are refused; convert with ``.astype(np.float32)``.

``method``: ``"recurrence"`` (default) runs the band-by-band recurrence in
single precision (about 3e-6 from the exact values at band 15);
``"direct"`` evaluates closed forms in double precision and rounds once
(within half a unit in the last place).

The forward transform adds ``value * basis`` over the samples, in order,
with no solid-angle weight: for samples spread evenly over the sphere,
multiply the values by ``4 * pi / N`` to get the projection.
"""
import numpy as np

from . import _vekr

__all__ = ["basis", "band", "project", "reconstruct", "coefficient_count", "order_of"]

_KINDS = {"direct": 0, "recurrence": 1}


def coefficient_count(order):
    """``(order + 1)**2``."""
    return (int(order) + 1) ** 2


def order_of(count):
    """The order whose coefficient count is ``count``."""
    order = int(round(np.sqrt(count))) - 1
    if (order + 1) ** 2 != count:
        raise ValueError("coefficients: %d is not a square (order + 1)**2" % count)
    return order


def _kind(method):
    try:
        return _KINDS[method]
    except KeyError:
        raise ValueError("method: expected 'recurrence' or 'direct'") from None


def _planes(dirs):
    d = np.asarray(dirs)
    if d.dtype != np.float32:
        raise TypeError("dirs: float32 directions expected, got %s (convert with .astype(np.float32))" % d.dtype)
    if d.ndim != 2 or d.shape[1] != 3:
        raise ValueError("dirs: expected shape (N, 3)")
    planes = np.ascontiguousarray(d.T)  # the library takes three planes x, y, z
    return planes[0], planes[1], planes[2]


def _order(order):
    order = int(order)
    if order < 0:
        raise ValueError("order: must be at least 0")
    return order


def basis(dirs, order, method="recurrence"):
    """Basis values of bands 0 .. order at the directions:
    ``(N, (order + 1)**2)`` float32, ``Y(l, m)`` in column ``l*l + l + m``."""
    x, y, z = _planes(dirs)
    return _vekr.sh_basis(x, y, z, _order(order), _kind(method))


def band(dirs, l):
    """Values of band ``l`` alone: ``(N, 2 l + 1)``, ``Y(l, m)`` in column
    ``l + m`` (closed forms in double precision)."""
    x, y, z = _planes(dirs)
    return _vekr.sh_band(x, y, z, _order(l))


def project(dirs, values, order, method="recurrence", coeffs=None):
    """Forward transform: ``coeffs += sum_i values[i] * basis(dirs[i])``.

    ``values``: ``(N,)`` for one channel, ``(N, 3)`` for three (interleaved,
    e.g. RGB), or a list of three ``(N,)`` arrays (planar). ``coeffs``: the
    float32 array to accumulate into (``((order + 1)**2,)`` or
    ``(3, (order + 1)**2)``), or None for zeros. Returns ``coeffs``.
    """
    x, y, z = _planes(dirs)
    order = _order(order)
    n = coefficient_count(order)
    if isinstance(values, (list, tuple)):
        v = np.ascontiguousarray(np.stack([np.asarray(p) for p in values]))
        layout, shape = "p3", (3, n)
    else:
        v = np.asarray(values)
        if v.ndim == 2 and v.shape[1] == 3:
            layout, shape = "c3", (3, n)
        elif v.ndim == 1:
            layout, shape = "c1", (n,)
        else:
            raise ValueError("values: expected (N,), (N, 3) or three (N,) planes")
        v = np.ascontiguousarray(v)
    if v.dtype != np.float32:
        raise TypeError("values: float32 expected, got %s" % v.dtype)
    if coeffs is None:
        coeffs = np.zeros(shape, np.float32)
    _vekr.sh_project(x, y, z, v, coeffs, order, _kind(method), layout)
    return coeffs


def reconstruct(coeffs, dirs, method="recurrence"):
    """Inverse transform: the value of the coefficients at each direction.

    ``coeffs``: ``((L + 1)**2,)`` gives ``(N,)``; ``(3, (L + 1)**2)`` gives
    ``(N, 3)``. Each value is a float dot product summed in four
    interleaved partial sums.
    """
    c = np.asarray(coeffs)
    if c.dtype != np.float32:
        raise TypeError("coeffs: float32 expected, got %s" % c.dtype)
    x, y, z = _planes(dirs)
    if c.ndim == 1:
        return _vekr.sh_reconstruct(np.ascontiguousarray(c), x, y, z, order_of(c.shape[0]), _kind(method), "c1")
    if c.ndim == 2 and c.shape[0] == 3:
        return _vekr.sh_reconstruct(np.ascontiguousarray(c), x, y, z, order_of(c.shape[1]), _kind(method), "p3c3")
    raise ValueError("coeffs: expected ((L+1)**2,) or (3, (L+1)**2)")
