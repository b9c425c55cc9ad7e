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
    >>> lagscan.matrix(set_a, 11, other=set_b)          # |A| x |B|, as scipy's cdist
    >>> lagscan.condensed(items, 11, distance=True)     # scipy's pdist order
    >>> lagscan.nearest(items, 11, top=5)                # each item's 5 nearest, no N x N table
    >>> lagscan.linkage(items, 11)                       # the tree, as scipy's linkage gives it
    >>> lagscan.groups(items, 11, k=3).labels            # flat groups, as lagscan-matrix --clusters
    >>> lagscan.lag_profile(a, np.roll(a, 3), 11).best_lag

Values are anything numpy turns into a 1-D array of reals (lists, arrays of
any real dtype, strided views); a C-contiguous float64 array is read in place.
A set of items is a sequence of values or paths, the rows of a 2-D array, or
a mapping of names to values or paths: with names (a mapping, or paths) the
tables come back as pandas DataFrames labelled with them when pandas is
installed. ``center=True`` takes each item's mean off first, as
``lagscan-matrix --center`` does.
Files are read by the command's own loader (:func:`read_xy`). The work runs
without the GIL, so other Python threads go on meanwhile, and Ctrl-C stops a
long matrix.
"""

from __future__ import annotations

import errno as _errno
import importlib
import operator
import os
import stat as _stat
import sys
from typing import Any, Callable, List, Mapping, NamedTuple, Optional, Sequence, Tuple, Union, cast, overload

if sys.version_info >= (3, 8):
    from typing import Literal
else:  # pragma: no cover
    from typing_extensions import Literal

import numpy as np
import numpy.typing as npt

from . import _lagscan

__all__ = [
    "DataFileError",
    "Groups",
    "LagProfile",
    "MAX_THREADS",
    "__version__",
    "against",
    "condensed",
    "correlation",
    "groups",
    "lag_profile",
    "lag_sum",
    "linkage",
    "matrix",
    "nearest",
    "precomputed",
    "read_xy",
    "report",
]

#: The library's version, as ``lagscan-matrix --version`` prints it.
__version__: str = _lagscan.version()

#: The most threads a call takes (as ``lagscan-matrix --threads``).
MAX_THREADS: int = 1024

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Item = Union[npt.ArrayLike, PathLike]
#: A set: a sequence of items, the rows of a 2-D array, or names -> items.
Items = Union[Sequence[Item], npt.NDArray[Any], Mapping[str, Item]]
ProgressReport = Callable[[int, int], object]
#: What a table comes back as: an array, or a pandas DataFrame with names.
Table = Any


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

    The loader opens its files for reading only (the command opens them for
    update), so read-only files are read. Why a file was refused is read
    from the file system after the fact: the OSError kind follows the errno
    that opening the file would give (FileNotFoundError, PermissionError,
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
        elif not os.access(filename, os.R_OK):
            code = _errno.EACCES
        else:
            code = None
    # OSError picks the subclass of the errno itself.
    return OSError(code, reason, filename)


@overload
def read_xy(path: PathLike, x: Literal[False] = ...) -> npt.NDArray[np.float64]: ...
@overload
def read_xy(path: PathLike, x: Literal[True]) -> Tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]]: ...
@overload
def read_xy(path: PathLike, x: bool) -> Any: ...


def read_xy(path: PathLike, x: bool = False) -> Any:
    """The y values of a data file, read as the ``lagscan`` command reads it.

    A data file holds x y pairs of numbers separated by blanks, tabs or line
    ends, with ``'`` line comments and ``/* */`` block comments; the second
    number of each pair is kept.

    Args:
        path: the file (str, bytes or os.PathLike; bytes reach the file
            system as they are, UTF-8 or not).
        x: also return the first number of each pair, converted as the y
            are (a last x without its y gives a y of 0).

    Returns:
        A new 1-D float64 array of the y; with ``x=True`` the tuple (x, y)
        of two such arrays of one length.

    Raises:
        FileNotFoundError, PermissionError, IsADirectoryError (OSError kinds):
            the file cannot be opened for reading; ``filename`` holds the
            path.
        DataFileError: an unclosed comment block, or a file too large.
    """
    name = os.fsencode(os.fspath(path))
    try:
        return _lagscan.read_values(name, bool(x))
    except _lagscan.FileFailure as failure:
        raise _file_error(failure, path) from None


def _thread_count(threads: Optional[int], default: int = 0) -> int:
    """The library's count: 0 for all processors, at most MAX_THREADS."""
    if threads is None:
        return default
    count = operator.index(threads)
    if not 0 <= count <= MAX_THREADS:
        raise ValueError("threads must be from 0 (all processors) to %d, not %d" % (MAX_THREADS, count))
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
        threads: the most threads to compute on: 0 for every processor,
            at most MAX_THREADS, and above the processors taken as their
            number. Long sequences share their lag sums among them; short
            ones, where starting threads would cost more than it saves, take
            one. The default is one thread: on a machine that other work
            keeps busy, a team waits for its slowest member and lost to one
            thread by 1.5-10 times. The value is the same bits on any number.

    Returns:
        sum_m w[m] C_m(a, b) / sqrt(sum_m w[m] C_m(a, a) * sum_m w[m] C_m(b, b)),
        C_m being the sum of a[i] * b[i + m] over the overlap and w the
        triangular weights 1, 2, ..., h+1, ..., 2, 1; a root not above 1e-100
        is replaced by 1e-100 (all-zero data gives 0).

    Raises:
        ValueError: s even, not positive or too large; lengths that differ;
            an input that is not one-dimensional; threads outside
            0 ... MAX_THREADS.
        TypeError: s or threads not an integer.
    """
    return _lagscan.correlation(a, b, s, _thread_count(threads, default=1))


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
        self._bar: Any = None
        self._shown = -1
        self._tqdm: Any = None
        try:
            self._tqdm = importlib.import_module("tqdm").tqdm  # optional, without type stubs
        except ImportError:
            pass

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


def _is_path(item: object) -> bool:
    return isinstance(item, (str, bytes, os.PathLike))


class _Set(NamedTuple):
    values: List[npt.ArrayLike]
    names: Optional[List[str]]  # with a mapping or paths: the labels of the tables


def _set(items: Items, what: str = "items") -> _Set:
    if _is_path(items):
        raise TypeError("%s must be a sequence of arrays or paths, not one path" % what)
    if isinstance(items, Mapping):
        return _Set([_values(item) for item in items.values()], [str(name) for name in items])
    if isinstance(items, np.ndarray):
        if items.ndim != 2:
            raise ValueError("%s as one array must be two-dimensional (a row an item), not %d-dimensional"
                             % (what, items.ndim))
        return _Set(list(items), None)
    listed = list(items)
    names: Optional[List[str]] = None
    if listed and all(_is_path(i) for i in listed):
        names = [os.fsdecode(cast(PathLike, item)) for item in listed]
    return _Set([_values(item) for item in listed], names)


def _pandas() -> Any:
    # Imported by name: pandas is optional, and carries no type stubs.
    try:
        return importlib.import_module("pandas")
    except ImportError:
        return None


def _labelled(values: npt.NDArray[Any], rows: Optional[List[str]], columns: Optional[List[str]]) -> Table:
    """A DataFrame (or, for one axis, a Series) labelled with the names,
    when there are names and pandas; else the array."""
    if rows is None and columns is None:
        return values
    pandas = _pandas()
    if pandas is None:
        return values
    if values.ndim == 1:
        return pandas.Series(values, index=rows if rows is not None else columns)
    return pandas.DataFrame(values, index=rows, columns=columns)


def _run(compute: Callable[[bool, int, Optional[ProgressReport]], Any], fast: bool, threads: Optional[int],
         progress: Union[bool, ProgressReport]) -> Any:
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


def matrix(items: Items, s: int, *, other: Optional[Items] = None, fast: bool = False,
           threads: Optional[int] = None, progress: Union[bool, ProgressReport] = False,
           center: bool = False) -> Table:
    """The correlation of every pair of a set, as ``lagscan-matrix`` computes it;
    with ``other``, of every item of one set with every item of another.

    Args:
        items: the set: arrays (anything :func:`correlation` takes), the rows
            of a 2-D array, paths of data files read by :func:`read_xy`,
            mixed as you like, or a mapping of names to those; all of the
            same length.
        s: the odd window width.
        other: set B, as items is (scipy's ``cdist(A, B)``): the table is
            then len(items) x len(other), entry [i, j] the value that the
            table of items followed by other gives the pair, to the bit.
        fast: False: every entry is :func:`correlation`'s value to the last
            bit. True: window sums and matrix products (the command's
            ``--fast``), within 1e-12 of it, much faster for large sets.
        threads: how many threads to compute on (default and 0: all
            processors; at most MAX_THREADS). The values do not depend on it.
        progress: True shows progress on standard error (a tqdm bar when tqdm
            is installed, a line otherwise); a function f(done, total) is
            called instead, on this thread, several times a second; what it
            raises stops the run and is raised here.
        center: take each item's mean off before any sum, as
            ``lagscan-matrix --center`` does (the items themselves are not
            changed).

    Returns:
        An N x N float64 array, entry [i, j] = correlation(items[i], items[j], s)
        for i <= j. Each pair is formed once, so entry [j, i] is the same
        value (correlation(items[j], items[i], s) is another sum, and may
        differ from it in the last bits), as lagscan-matrix prints it. With
        names (a mapping, or all items paths) and pandas installed, a
        DataFrame labelled with them.

    Raises:
        ValueError: bad s or threads, lengths that differ, an input that is
            not one-dimensional.
        OSError kinds, DataFileError: a file that cannot be read (see
            :func:`read_xy`).
        KeyboardInterrupt: Ctrl-C; the run stops within a second.

    The GIL is released while computing.
    """
    a = _set(items)
    if other is None:
        values = _run(lambda how, count, report: _lagscan.all_pairs(a.values, s, how, count, report, center),
                      fast, threads, progress)
        return _labelled(values, a.names, a.names)
    b = _set(other, "other")
    values = _run(lambda how, count, report: _lagscan.between(a.values, b.values, s, how, count, report, center),
                  fast, threads, progress)
    if a.names is None and b.names is None:
        return values
    return _labelled(values, a.names or [str(i) for i in range(len(a.values))],
                     b.names or [str(j) for j in range(len(b.values))])


def against(ref: Item, items: Items, s: int, *, fast: bool = False, threads: Optional[int] = None,
            progress: Union[bool, ProgressReport] = False, center: bool = False) -> Table:
    """The correlation of one reference with each item of a set, as
    ``lagscan-matrix --against`` computes it.

    Args:
        ref: the reference, an array or a path.
        items, s, fast, threads, progress, center: as for :func:`matrix`.

    Returns:
        A float64 array of N values, entry [j] = correlation(ref, items[j], s),
        in the order of items; with names and pandas, a Series.

    Raises:
        As :func:`matrix`.
    """
    reference = _values(ref)
    sets = _set(items)
    values = _run(lambda how, count, report: _lagscan.against(reference, sets.values, s, how, count, report, center),
                  fast, threads, progress)
    return _labelled(values, sets.names, None)


def condensed(items: Items, s: int, *, distance: bool = False, fast: bool = False, threads: Optional[int] = None,
              progress: Union[bool, ProgressReport] = False, center: bool = False) -> npt.NDArray[np.float64]:
    """The upper triangle of :func:`matrix` without its diagonal, in the
    order of scipy's ``pdist`` (``squareform`` turns it into the table):
    N(N-1)/2 values, half the table's storage, the table never formed.

    Args:
        distance: 1 - similarity instead, within [0, 2] (a NaN similarity
            counting as -1), which ``scipy.cluster.hierarchy.linkage`` takes
            as it stands.
        items, s, fast, threads, progress, center: as for :func:`matrix`.

    Returns:
        A 1-D float64 array; each similarity has :func:`matrix`'s bits.
    """
    sets = _set(items)
    result: npt.NDArray[np.float64] = _run(
        lambda how, count, report: _lagscan.condensed(sets.values, s, bool(distance), how, count, report, center),
        fast, threads, progress)
    return result


def nearest(items: Items, s: int, top: int, *, fast: bool = False, threads: Optional[int] = None,
            progress: Union[bool, ProgressReport] = False,
            center: bool = False) -> Tuple[npt.NDArray[np.int64], npt.NDArray[np.float64]]:
    """Each item's `top` nearest others, as ``lagscan-matrix --top`` lists
    them, without the N x N table: the storage is N x top a thread besides
    the items (and their window sums with ``fast=True``).

    Args:
        top: how many to list for each item, at least 1.
        items, s, fast, threads, progress, center: as for :func:`matrix`.

    Returns:
        (positions, values), both N x top: row i holds item i's nearest from
        the nearest on (larger values first, NaN last, equal values by
        position), each value with :func:`matrix`'s bits for that pair; a row
        with fewer others is padded with position -1 and value NaN.
    """
    count = operator.index(top)
    if count < 1:
        raise ValueError("top must be at least 1, not %d" % count)
    sets = _set(items)
    result: Tuple[npt.NDArray[np.int64], npt.NDArray[np.float64]] = _run(
        lambda how, threads_, report: _lagscan.nearest(sets.values, s, count, how, threads_, report, center),
        fast, threads, progress)
    return result


def _table_array(table: Any) -> npt.NDArray[np.float64]:
    values = np.asarray(table, dtype=np.float64)
    if values.ndim != 2 or values.shape[0] != values.shape[1]:
        raise ValueError("table must be a square two-dimensional array, not of shape %s" % (values.shape,))
    return values


def linkage(items: Optional[Items] = None, s: Optional[int] = None, *, table: Optional[npt.ArrayLike] = None,
            fast: bool = False, threads: Optional[int] = None, progress: Union[bool, ProgressReport] = False,
            center: bool = False) -> npt.NDArray[np.float64]:
    """The average-linkage tree on the distances 1 - similarity, in the
    layout of ``scipy.cluster.hierarchy.linkage`` (``dendrogram``,
    ``fcluster`` and the rest take it): the tree ``lagscan-matrix
    --tree-out`` writes, row for row.

    Give either items and s (the table is formed as condensed distances
    only), or ``table``, an N x N table of similarities such as
    :func:`matrix` returns (its upper triangle is read).

    Returns:
        An (N-1) x 4 float64 array: row k joins clusters a < b at height h
        into cluster N + k of `size` items; item i is cluster i.
    """
    if table is not None:
        if items is not None or s is not None:
            raise TypeError("give items and s, or table, not both")
        result: npt.NDArray[np.float64] = _lagscan.linkage_of_table(_table_array(table))
        return result
    if items is None or s is None:
        raise TypeError("give items and s, or table")
    sets = _set(items)
    width = s
    result = _run(lambda how, count, report: _lagscan.linkage(sets.values, width, how, count, report, center),
                  fast, threads, progress)
    return result


class Groups(NamedTuple):
    """Flat groups cut from the tree (see :func:`groups`)."""

    #: Each item's group, numbered from 1 as ``--clusters-out`` numbers them:
    #: by size, the largest first, of equal sizes the one whose first item
    #: comes first. With names and pandas, a Series labelled with them.
    labels: Any
    #: The size of each group (group g at sizes[g - 1]).
    sizes: npt.NDArray[np.int64]
    #: Each group's representative: the position of its member of highest
    #: mean similarity to the others (of equal means, the first).
    medoids: npt.NDArray[np.int64]


def groups(items: Optional[Items] = None, s: Optional[int] = None, *, k: Optional[int] = None,
           at: Optional[float] = None, table: Optional[npt.ArrayLike] = None, fast: bool = False,
           threads: Optional[int] = None, center: bool = False) -> Groups:
    """The groups ``lagscan-matrix --clusters K`` (``k``) or ``--cluster-at T``
    (``at``) forms: the average-linkage tree (:func:`linkage`) cut into k
    groups, or at similarity T (items joined at T or above group).

    Give either items and s, or ``table`` (an N x N table of similarities).

    Raises:
        ValueError: k outside 1 ... N, ``at`` outside -1 ... 1.
        TypeError: neither or both of k and at.
    """
    if (k is None) == (at is None):
        raise TypeError("give k (a number of groups) or at (a similarity), one of them")
    count = 0 if k is None else operator.index(k)
    cut = 0.0 if at is None else float(at)
    if k is not None and count < 1:
        raise ValueError("k must be at least 1, not %d" % count)
    names: Optional[List[str]] = None
    if table is not None:
        if items is not None or s is not None:
            raise TypeError("give items and s, or table, not both")
        labels, sizes, medoids = _lagscan.groups_of_table(_table_array(table), count, cut, k is not None)
    else:
        if items is None or s is None:
            raise TypeError("give items and s, or table")
        sets = _set(items)
        names = sets.names
        labels, sizes, medoids = _lagscan.groups(sets.values, s, count, cut, k is not None, bool(fast),
                                                 _thread_count(threads), center)
    return Groups(_labelled(labels, names, None), sizes, medoids)


def precomputed(table: npt.ArrayLike) -> Table:
    """The distances 1 - similarity of an N x N table such as :func:`matrix`
    returns, for ``metric="precomputed"`` in scikit-learn: bounded to
    [0, 2] (a NaN similarity counting as -1), the diagonal 0, symmetric from
    the upper triangle. A DataFrame keeps its labels."""
    values: npt.NDArray[np.float64] = _lagscan.precomputed(_table_array(table))
    pandas = _pandas()
    if pandas is not None and isinstance(table, pandas.DataFrame):
        return pandas.DataFrame(values, index=table.index, columns=table.columns)
    return values


from .report import report  # noqa: E402  (it uses the functions above)
