"""lagscan's table of all pairs on a Dask cluster: one task per tile.

The N items are cut into K blocks of consecutive items (block b: items
N(b-1)//K up to Nb//K, as ``lagscan-matrix --rows b/K``). Tile (R, C), R <= C,
holds the pairs of an item of block R and a later item of block C; the
K(K+1)/2 tiles, numbered row by row from 1 as ``lagscan-matrix --tile T/K``
numbers them, hold every pair once. Each tile is one task on a
``distributed.Client`` that receives the items of its two blocks only (paths
are read on the worker), and every value is the one :func:`lagscan.matrix`
gives for the whole set, ``fast=True`` included, to the bit::

    >>> from distributed import Client
    >>> import lagscan.dask
    >>> with Client(n_workers=2) as client:
    ...     table = lagscan.dask.matrix(client, items, 101, blocks=8, fast=True)
    ...     nearest, values = lagscan.dask.nearest(client, items, 101, top=20, blocks=8)
"""

from __future__ import annotations

import os
from typing import Any, Callable, List, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import Item, _lagscan, _values

#: A set here: a sequence of arrays or paths, or the rows of a 2-D array.
DaskItems = Union[Sequence[Item], npt.NDArray[Any]]
Floats = npt.NDArray[np.float64]
Positions = npt.NDArray[np.int64]
#: Each first row of a tile's nearest lists, with its (positions, values).
TileNearest = List[Tuple[int, Tuple[Positions, Floats]]]

__all__ = ["matrix", "nearest", "tiles"]


def tiles(blocks: int) -> List[Tuple[int, int, int]]:
    """The tiles of `blocks` blocks as (number, R, C), in their order."""
    pairs = [(r, c) for r in range(1, blocks + 1) for c in range(r, blocks + 1)]
    return [(t + 1, r, c) for t, (r, c) in enumerate(pairs)]


def _block(files: int, block: int, blocks: int) -> Tuple[int, int]:
    return files * (block - 1) // blocks, files * block // blocks


def _items(items: DaskItems, first: int, end: int) -> List[Any]:
    # Paths go to the worker as they are, to be read there; values as float64.
    return [item if isinstance(item, (str, bytes, os.PathLike)) else np.asarray(item, dtype=np.float64)
            for item in items[first:end]]


def _tile(row_items: List[Any], column_items: List[Any], files: int, blocks: int, number: int, s: int, fast: bool,
          threads: int) -> Floats:
    sets = [np.asarray(_values(item), dtype=np.float64) for item in list(row_items) + list(column_items)]
    return _lagscan.tile(sets, files, blocks, number, s, bool(fast), threads)


def _submit(client: Any, items: DaskItems, s: int, blocks: int, fast: bool, threads: int,
            then: Optional[Callable[..., Any]] = None) -> List[Tuple[Tuple[int, int, int, int, bool], Any]]:
    if blocks < 1:
        raise ValueError("blocks must be at least 1, not %d" % blocks)
    files = len(items)
    # A tile's place, and whether it is on the diagonal (R = C): with more
    # blocks than items, an empty block starts where the next one does, so
    # equal first rows do not tell.
    futures: List[Tuple[Tuple[int, int, int, int, bool], Any]] = []
    for number, r, c in tiles(blocks):
        r0, r1 = _block(files, r, blocks)
        c0, c1 = _block(files, c, blocks)
        columns: List[Any] = [] if r == c else _items(items, c0, c1)
        future = client.submit(_tile, _items(items, r0, r1), columns, files, blocks, number, s, fast, threads,
                               pure=False)
        if then is not None:
            future = client.submit(then, future, r0, r1, c0, c1, r == c, pure=False)
        futures.append(((r0, r1, c0, c1, r == c), future))
    return futures


def matrix(client: Any, items: DaskItems, s: int, *, blocks: int, fast: bool = False,
           threads: int = 1) -> npt.NDArray[np.float64]:
    """:func:`lagscan.matrix` of `items`, one task per tile on `client`.

    Args:
        client: a ``distributed.Client``.
        items: arrays or paths of data files, as :func:`lagscan.matrix` takes.
        s: the odd window width.
        blocks: K, the number of blocks (K(K+1)/2 tasks).
        fast: as :func:`lagscan.matrix`.
        threads: threads a task computes on.

    Returns:
        The N x N float64 array :func:`lagscan.matrix` returns, bit for bit.
    """
    files = len(items)
    table = np.empty((files, files), dtype=np.float64)
    futures = _submit(client, items, s, blocks, fast, threads)
    for (r0, r1, c0, c1, diagonal), future in futures:
        part: Floats = future.result()
        if diagonal:
            upper = np.triu(part)
            table[r0:r1, c0:c1] = upper + np.triu(part, 1).T
        else:
            table[r0:r1, c0:c1] = part
            table[c0:c1, r0:r1] = part.T
    return table


def _best(values: Floats, positions: Positions, top: int) -> Tuple[Positions, Floats]:
    """The `top` first of each row: larger values first, NaN last, equal
    values by position, as lagscan-matrix --top orders them."""
    nan = np.isnan(values)
    key = np.where(nan, 0.0, -values)
    order = np.lexsort((positions, key, nan), axis=-1)[:, :top]
    return np.take_along_axis(positions, order, -1), np.take_along_axis(values, order, -1)


def _tile_nearest(part: Floats, r0: int, r1: int, c0: int, c1: int, diagonal: bool, top: int) -> TileNearest:
    # Each file's nearest among the tile's other files, for the rows and
    # (off the diagonal) for the columns. With more blocks than items, a
    # block may be empty, and its tiles hold no pair.
    if r0 == r1 or c0 == c1:
        return []
    rows = np.arange(r0, r1)
    if diagonal:
        full = np.triu(part, 1) + np.triu(part, 1).T
        positions = np.broadcast_to(rows, full.shape).copy()
        keep = positions != rows[:, None]
        values = full[keep].reshape(len(rows), -1)
        positions = positions[keep].reshape(len(rows), -1)
        return [(r0, _best(values, positions, top))]
    columns = np.arange(c0, c1)
    return [(r0, _best(part, np.broadcast_to(columns, part.shape).copy(), top)),
            (c0, _best(part.T.copy(), np.broadcast_to(rows, part.T.shape).copy(), top))]


def nearest(client: Any, items: DaskItems, s: int, top: int, *, blocks: int, fast: bool = False,
            threads: int = 1) -> Tuple[npt.NDArray[np.int64], npt.NDArray[np.float64]]:
    """Each item's `top` nearest others, one task per tile on `client`: what
    ``lagscan-matrix --top`` lists, without the whole table anywhere.

    Returns:
        (positions, values), both N x top: row i holds item i's nearest from
        the nearest on (larger values first, NaN last, equal values by
        position); a row of fewer candidates is padded with position -1 and
        value NaN.
    """
    if top < 1:
        raise ValueError("top must be at least 1, not %d" % top)
    files = len(items)
    gathered_positions: List[List[Positions]] = [[] for _ in range(files)]
    gathered_values: List[List[Floats]] = [[] for _ in range(files)]

    def reduce(future: Floats, r0: int, r1: int, c0: int, c1: int, diagonal: bool) -> TileNearest:
        return _tile_nearest(future, r0, r1, c0, c1, diagonal, top)

    for _, future in _submit(client, items, s, blocks, fast, threads, then=reduce):
        for first, (p, v) in future.result():
            for k in range(p.shape[0]):
                gathered_positions[first + k].append(p[k])
                gathered_values[first + k].append(v[k])
    positions = np.full((files, top), -1, dtype=np.int64)
    values = np.full((files, top), np.nan)
    for i in range(files):
        if not gathered_positions[i]:
            continue
        p = np.concatenate(gathered_positions[i])[None, :]
        v = np.concatenate(gathered_values[i])[None, :]
        best_p, best_v = _best(v, p, top)
        positions[i, :best_p.shape[1]] = best_p[0]
        values[i, :best_v.shape[1]] = best_v[0]
    return positions, values
