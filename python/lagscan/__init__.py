"""How alike sampled signals are, over a window of lags.

lagscan measures two sequences of reals by a normalised, triangle-weighted
sum of their lagged cross-products over the lags -(s-1)/2 ... (s-1)/2 of an
odd window width s. This module computes it on numpy arrays, to the same bits
as the ``lagscan`` command prints for files holding the same values, and for
whole sets at once as the ``lagscan-matrix`` command does::

    >>> import numpy as np, lagscan
    >>> a = np.sin(np.linspace(0, 20, 1000))
    >>> lagscan.correlation(a, np.roll(a, 3), 11)      # one pair
    >>> lagscan.matrix([a, 2 * a, "b.xy"], 11)          # all pairs, N x N
    >>> lagscan.against("ref.xy", ["x.xy", "y.xy"], 11) # one against many
    >>> lagscan.lag_profile(a, np.roll(a, 3), 11).best_lag

Values are anything numpy turns into a 1-D array of reals (lists, arrays of
any real dtype, strided views); a C-contiguous float64 array is read in place.
Files are read by the command's own loader (:func:`read_xy`). The work runs
without the GIL, so other Python threads go on meanwhile, and Ctrl-C stops a
long matrix.
"""

from __future__ import annotations

import errno as _errno
import operator
import os
import stat as _stat
import sys
from typing import Callable, NamedTuple, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

from . import _lagscan

__all__ = [
    "DataFileError",
    "LagProfile",
    "__version__",
    "against",
    "correlation",
    "lag_profile",
    "lag_sum",
    "matrix",
    "read_xy",
    "report",
]

#: The library's version, as ``lagscan-matrix --version`` prints it.
__version__: str = _lagscan.version()

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Item = Union[npt.ArrayLike, PathLike]
ProgressReport = Callable[[int, int], object]


class DataFileError(ValueError):
    """A data file that could be opened but not used: an unclosed comment
    block, or a file too large to load.

    Attributes:
        filename: the path as it was given.
        reason: the loader's words for the fault, as the command prints them.
    """

    def __init__(self, message: str, filename: Optional[str] = None, reason: Optional[str] = None) -> None:
        super().__init__(message)
        self.filename = filename
        self.reason = reason


class LagProfile(NamedTuple):
    """The cross-correlation of two sequences lag by lag (see :func:`lag_profile`)."""

    #: The lags m = -r ... r where the sequences overlap, r = min((s-1)/2, n-1).
    lags: npt.NDArray[np.intc]
    #: For each lag, the sum over i of a[i] * b[i + m].
    sums: npt.NDArray[np.float64]
    #: The sums over sqrt(C0(a, a) * C0(b, b)), C0 being the lag-0 sum.
    normalised: npt.NDArray[np.float64]
    #: The lag of the largest normalised value (of equal ones the smallest
    #: |m|, then the negative one; NaNs are passed over).
    best_lag: int


def _file_error(failure: _lagscan.FileFailure, path: PathLike) -> Exception:
    """The Python exception for a file the loader refused.

    The loader opens its files for update, as the command does, so a file
    nobody may write is refused like a missing one. Which it was is read from
    the file system after the fact: the OSError kind follows the errno that
    opening the file would give (FileNotFoundError, PermissionError,
    IsADirectoryError...).
    """
    _, _, reason = failure.args
    filename = os.fsdecode(path)
    if reason in ("File too large", "Unclosed comment block"):
        return DataFileError("%s: %r" % (reason, filename), filename, reason)
    try:
        status = os.stat(filename)
    except OSError as e:
        code: Optional[int] = e.errno
    else:
        if _stat.S_ISDIR(status.st_mode):
            code = _errno.EISDIR
        elif status.st_mode & 0o222 == 0 or not os.access(filename, os.R_OK | os.W_OK):
            code = _errno.EACCES
        else:
            code = None
    # OSError picks the subclass of the errno itself.
    return OSError(code, reason, filename)


def read_xy(path: PathLike) -> npt.NDArray[np.float64]:
    """The y values of a data file, read as the ``lagscan`` command reads it.

    A data file holds x y pairs of numbers separated by blanks, tabs or line
    ends, with ``'`` line comments and ``/* */`` block comments; the second
    number of each pair is kept.

    Args:
        path: the file (str, bytes or os.PathLike).

    Returns:
        A new 1-D float64 array.

    Raises:
        FileNotFoundError, PermissionError, IsADirectoryError (OSError kinds):
            the file cannot be opened for update, as the command needs it;
            ``filename`` holds the path.
        DataFileError: an unclosed comment block, or a file too large.
    """
    name = os.fsdecode(os.fspath(path))
    try:
        return _lagscan.read_values(name)
    except _lagscan.FileFailure as failure:
        raise _file_error(failure, path) from None


def _thread_count(threads: Optional[int]) -> int:
    """The library's count: 0 for all processors."""
    if threads is None:
        return 0
    count = operator.index(threads)
    if count < 1:
        raise ValueError("threads must be at least 1, not %d" % count)
    return count


def correlation(a: npt.ArrayLike, b: npt.ArrayLike, s: int, *, threads: Optional[int] = None) -> float:
    """The lagged cross-correlation of a and b over a window of width s.

    The value is the ``lagscan`` command's for two files holding the values
    of a and b, to the last bit (the command prints it with nine digits).

    Args:
        a, b: sequences of the same length: anything numpy turns into a 1-D
            array of reals (lists, int or float32 arrays, strided views). A
            C-contiguous float64 array is read in place, without a copy.
        s: the odd window width; the lags run from -(s-1)/2 to (s-1)/2.
        threads: the most threads to compute on (default: all processors).
            Long sequences share their lag sums among them; short ones,
            where starting threads would cost more than it saves, take one.
            The value is the same bits on any number.

    Returns:
        sum_m w[m] C_m(a, b) / sqrt(sum_m w[m] C_m(a, a) * sum_m w[m] C_m(b, b)),
        C_m being the sum of a[i] * b[i + m] over the overlap and w the
        triangular weights 1, 2, ..., h+1, ..., 2, 1; a root not above 1e-100
        is replaced by 1e-100 (all-zero data gives 0).

    Raises:
        ValueError: s even, not positive or too large; lengths that differ;
            an input that is not one-dimensional; threads below 1.
        TypeError: s or threads not an integer.
    """
    return _lagscan.correlation(a, b, s, _thread_count(threads))


def lag_sum(a: npt.ArrayLike, b: npt.ArrayLike, s: int) -> float:
    """The weighted lag sum C(a, b) = sum_m w[m] C_m(a, b), the numerator of
    :func:`correlation` (C_m: the sum of a[i] * b[i + m]; w: the triangular
    weights of width s). Arguments and errors as for :func:`correlation`."""
    return _lagscan.lag_sum(a, b, s)


def lag_profile(a: npt.ArrayLike, b: npt.ArrayLike, s: int) -> LagProfile:
    """The cross-correlation function of a and b over the lags of a window
    of width s.

    For each lag m in -r ... r (r = min((s-1)/2, n-1): the lags where a and
    b overlap): the sum C_m(a, b) of a[i] * b[i + m] and that sum normalised
    by sqrt(C_0(a, a) * C_0(b, b)), computed by the same kernels as
    :func:`correlation` (adding w[m] * sums in ascending m gives
    :func:`lag_sum` to the bit). If b is a copy of a delayed by k samples,
    the best lag is k.

    Args and errors as for :func:`correlation`.

    Returns:
        LagProfile(lags, sums, normalised, best_lag).
    """
    lags, sums, normalised, best = _lagscan.profile(a, b, s)
    return LagProfile(lags, sums, normalised, best)


class _ProgressLine:
    """Progress on standard error: a tqdm bar where tqdm is installed, a
    line redrawn in place otherwise."""

    def __init__(self) -> None:
        self._bar = None
        self._shown = -1
        try:
            from tqdm import tqdm
        except ImportError:
            self._tqdm = None
        else:
            self._tqdm = tqdm

    def __call__(self, done: int, total: int) -> None:
        if self._tqdm is not None:
            if self._bar is None:
                self._bar = self._tqdm(total=total, desc="lagscan", unit="pair", unit_scale=True, leave=False)
            self._bar.update(done - self._bar.n)
            return
        percent = 100 * done // total if total else 100
        if percent != self._shown:
            self._shown = percent
            sys.stderr.write("\rlagscan: %d%% (%d of %d)" % (percent, done, total))
            sys.stderr.flush()

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
        elif self._shown >= 0:
            sys.stderr.write("\r\033[K")
            sys.stderr.flush()


def _values(item: Item) -> npt.ArrayLike:
    if isinstance(item, (str, bytes, os.PathLike)):
        return read_xy(item)
    return item


def _sequence(items: Sequence[Item]) -> list:
    if isinstance(items, (str, bytes, os.PathLike)):
        raise TypeError("items must be a sequence of arrays or paths, not one path")
    return [_values(item) for item in items]


def _run(compute: Callable[..., npt.NDArray[np.float64]], fast: bool, threads: Optional[int],
         progress: Union[bool, ProgressReport]) -> npt.NDArray[np.float64]:
    count = _thread_count(threads)
    report: Optional[ProgressReport]
    line = None
    if callable(progress):
        report = progress
    elif progress:
        line = _ProgressLine()
        report = line
    else:
        report = None
    try:
        return compute(bool(fast), count, report)
    finally:
        if line is not None:
            line.close()


def matrix(items: Sequence[Item], s: int, *, fast: bool = False, threads: Optional[int] = None,
           progress: Union[bool, ProgressReport] = False) -> npt.NDArray[np.float64]:
    """The correlation of every pair of a set, as ``lagscan-matrix`` computes it.

    Args:
        items: the set: arrays (anything :func:`correlation` takes; the rows
            of a 2-D array, too) or paths of data files read by
            :func:`read_xy`, mixed as you like, all of the same length.
        s: the odd window width.
        fast: False: every entry is :func:`correlation`'s value to the last
            bit. True: window sums and matrix products (the command's
            ``--fast``), within 1e-12 of it, much faster for large sets.
        threads: how many threads to compute on (default: all processors).
            The values do not depend on it.
        progress: True shows progress on standard error (a tqdm bar when tqdm
            is installed, a line otherwise); a function f(done, total) is
            called instead, on this thread, several times a second.

    Returns:
        An N x N float64 array, entry [i, j] = correlation(items[i], items[j], s)
        for i <= j. Each pair is formed once, so entry [j, i] is the same
        value (correlation(items[j], items[i], s) is another sum, and may
        differ from it in the last bits), as lagscan-matrix prints it.

    Raises:
        ValueError: bad s or threads, lengths that differ, an input that is
            not one-dimensional.
        OSError kinds, DataFileError: a file that cannot be read (see
            :func:`read_xy`).
        KeyboardInterrupt: Ctrl-C; the run stops within a second.

    The GIL is released while computing.
    """
    sets = _sequence(items)
    return _run(lambda how, count, report: _lagscan.all_pairs(sets, s, how, count, report),
                fast, threads, progress)


def against(ref: Item, items: Sequence[Item], s: int, *, fast: bool = False, threads: Optional[int] = None,
            progress: Union[bool, ProgressReport] = False) -> npt.NDArray[np.float64]:
    """The correlation of one reference with each item of a set, as
    ``lagscan-matrix --against`` computes it.

    Args:
        ref: the reference, an array or a path.
        items, s, fast, threads, progress: as for :func:`matrix`.

    Returns:
        A float64 array of N values, entry [j] = correlation(ref, items[j], s),
        in the order of items.

    Raises:
        As :func:`matrix`.
    """
    reference = _values(ref)
    sets = _sequence(items)
    return _run(lambda how, count, report: _lagscan.against(reference, sets, s, how, count, report),
                fast, threads, progress)


from .report import report  # noqa: E402  (it uses the functions above)
