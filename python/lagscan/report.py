"""lagscan.report: the interactive page of a set, as ``lagscan-matrix --report`` writes it."""

from __future__ import annotations

import math
import operator
import os
import tempfile
from typing import Optional, Sequence, Union

from . import PathLike, ProgressReport, _lagscan, _run, _set


def _name_of(item: object, place: int) -> str:
    if isinstance(item, (str, bytes, os.PathLike)):
        return os.fsdecode(os.fspath(item))
    return str(place + 1)


def _same_file(a: str, b: str) -> bool:
    if os.path.abspath(a) == os.path.abspath(b):
        return True
    try:
        return os.path.samefile(a, b)
    except OSError:
        return False


def report(items: Sequence[Union[object, PathLike]], s: int, path: PathLike, names: Optional[Sequence[str]] = None,
           *, clusters: Optional[int] = None, cluster_at: Optional[float] = None, digits: int = 9,
           fast: bool = False, threads: Optional[int] = None,
           progress: Union[bool, ProgressReport] = False) -> None:
    """Writes the interactive page of a set into path (docs/report.md).

    One self-contained HTML file that opens offline: the heat map in the
    tree's order with its dendrogram, hover for values, zoom, the groups at
    any threshold, a search over the names, and for any pair its two
    signals overlaid at the best lag and the lag profile, which the page
    computes to the bits of :func:`lag_profile`.

    Args:
        items: the set, as for :func:`matrix` (arrays or paths).
        s: the odd window width.
        path: the page to write. It is written under a temporary name in its
            folder and takes its name at the end, so a failure leaves an
            existing file as it was; it may not be one of the items.
        names: one name a sequence (default: a path's own, else "1", "2", ...).
        clusters: open the page at K groups, or
        cluster_at: at similarity T (default: 0.5).
        digits: significant digits of the values shown (1 to 17).
        fast, threads, progress: as for :func:`matrix`.

    Raises:
        ValueError: as :func:`matrix`, names that do not fit, both cuts, a
            page over an input.
        OSError: the page cannot be written.
    """
    target = os.fsdecode(os.fspath(path))
    if isinstance(items, (str, bytes, os.PathLike)):
        raise TypeError("items must be a sequence of arrays or paths, not one path")
    given = list(items)
    for item in given:
        if isinstance(item, (str, bytes, os.PathLike)) and _same_file(os.fsdecode(os.fspath(item)), target):
            raise ValueError("the report %r would overwrite an input" % target)
    if names is None:
        labels = [_name_of(item, k) for k, item in enumerate(given)]
    else:
        labels = [str(name) for name in names]
    sets = _set(given).values
    if len(labels) != len(sets):
        raise ValueError("names: %d names for %d sequences" % (len(labels), len(sets)))
    if clusters is not None and cluster_at is not None:
        raise ValueError("clusters and cluster_at cut the tree in two ways: give one")
    k = 0 if clusters is None else operator.index(clusters)
    if clusters is not None and k < 1:
        raise ValueError("clusters must be at least 1, not %d" % k)
    t = math.nan if cluster_at is None else float(cluster_at)
    page = _run(lambda how, count, report_to: _lagscan.report_page(sets, s, labels, operator.index(digits), k, t,
                                                                  how, count, report_to),
                fast, threads, progress)

    folder = os.path.dirname(os.path.abspath(target))
    handle = tempfile.NamedTemporaryFile(dir=folder, prefix=os.path.basename(target) + ".", suffix=".tmp",
                                         delete=False)
    try:
        with handle:
            handle.write(page)
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(handle.name, 0o666 & ~umask)
        os.replace(handle.name, target)
    except BaseException:
        os.unlink(handle.name)
        raise
