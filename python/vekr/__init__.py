"""vekr from Python: volume resampling and filtering, spherical harmonics and
ray casting on numpy arrays, and the volume operations on Dask.

    import vekr.volume, vekr.sh, vekr.rays     # numpy in, numpy out
    import vekr.dask                           # chunked dask.array in and out

Conventions shared by every module:

- Volumes are numpy arrays indexed (z, y, x); tuples of per-axis values
  (factors, shifts, shapes) are in that order too.
- Every library call runs without the GIL, so Python threads (and Dask's
  threaded scheduler) run calls side by side. ``threads=None`` lets a call
  use OpenMP's default thread count of the calling thread; an integer sets
  it for that call only.
- A refused call raises :class:`VekrError` (status name and code); a call
  that returns a warning status issues a :class:`VekrWarning`.
"""
from ._status import VekrError, VekrWarning, status_name
from . import _vekr

__all__ = ["VekrError", "VekrWarning", "status_name", "version", "num_threads"]


def version():
    """The library's version record as a dict (major, minor, build, text, ...)."""
    return _vekr.version()


def num_threads():
    """Threads a call with ``threads=None`` uses from this thread."""
    return _vekr.num_threads()
