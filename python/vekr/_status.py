"""Status codes of the library and how they reach Python.

A negative status (an error) raises :class:`VekrError`; a positive one (a
warning: the call did nothing, on purpose) issues a :class:`VekrWarning`
through :mod:`warnings`, so ``warnings.simplefilter("error", VekrWarning)``
turns warnings into exceptions.
"""
import warnings

#: Status code -> (name, meaning), as the library's header defines them.
STATUSES = {
    0: ("vekStsOk", "success"),
    1: ("vekStsNoVoxelsWarn", "the destination region is empty: nothing was written"),
    40: ("vekStsVoiOutsideWarn", "the source region begins outside the source volume: nothing was written"),
    -2: ("vekStsErr", "internal consistency check of the SAH build failed"),
    -4: ("vekStsNoMemErr", "memory allocation failed, or the memory limit is below the minimum"),
    -5: ("vekStsBadArgErr", "unknown kd-tree build algorithm"),
    -6: ("vekStsSizeErr", "size, count or length outside its domain"),
    -7: ("vekStsRangeErr", "spherical-harmonics kind or order out of range"),
    -8: ("vekStsNullPtrErr", "a required pointer is null"),
    -9: ("vekStsMemAllocErr", "the SAH build exhausted its memory budget"),
    -11: ("vekStsBadParamErr", "kd-tree build depth or split factor out of range"),
    -22: ("vekStsInterpolationErr", "interpolation mode not supported"),
    -23: ("vekStsResizeFactorErr", "resize factor not greater than 0"),
    -53: ("vekStsNumChannelsErr", "channel count other than 1"),
    -56: ("vekStsCoeffErr", "affine transform degenerate or singular"),
}


def status_name(code):
    """The library's name for a status code (``"vekStsSizeErr"`` for -6)."""
    return STATUSES.get(code, ("vekSts(%d)" % code, ""))[0]


class VekrError(RuntimeError):
    """A library call refused its arguments (negative status).

    Attributes: ``code`` (the status, e.g. -6), ``name`` (``"vekStsSizeErr"``)
    and ``function`` (the export that refused, e.g. ``"vekrResize_8u_C1V"``).
    Nothing was written when it is raised.
    """

    def __init__(self, code, function=""):
        self.code = int(code)
        self.name, meaning = STATUSES.get(self.code, ("vekSts(%d)" % self.code, "unknown status"))
        self.function = function
        super().__init__("%s returned %s (%d): %s" % (function or "vekr", self.name, self.code, meaning))

    def __reduce__(self):  # picklable, so that errors cross Dask workers intact
        return (VekrError, (self.code, self.function))


class VekrWarning(UserWarning):
    """A library call returned a warning status and wrote nothing."""

    def __init__(self, code, function=""):
        self.code = int(code)
        self.name, meaning = STATUSES.get(self.code, ("vekSts(%d)" % self.code, "unknown status"))
        self.function = function
        super().__init__("%s returned %s (%d): %s" % (function or "vekr", self.name, self.code, meaning))

    def __reduce__(self):
        return (VekrWarning, (self.code, self.function))


def warn_status(code, function):
    """Issues the warning for a positive status (called by the extension)."""
    warnings.warn(VekrWarning(code, function), stacklevel=3)
