"""A script that uses every function of the module as the documentation
shows it, for mypy --strict (test_typing.py): the stubs must accept what
the functions accept, 2-D arrays and mappings included. Never run."""

from __future__ import annotations

import pathlib
from typing import Dict, List, Tuple

import numpy as np
import numpy.typing as npt

import lagscan
import lagscan.dask


def every_function(path: pathlib.Path) -> None:
    rows: npt.NDArray[np.float64] = np.zeros((4, 100))
    one: npt.NDArray[np.float64] = rows[0]
    listed: List[npt.NDArray[np.float64]] = [rows[0], rows[1]]
    named: Dict[str, npt.NDArray[np.float64]] = {"a": rows[0], "b": rows[1]}
    paths: List[str] = [str(path), "other.xy"]

    value: float = lagscan.correlation(one, [1.0] * 100, 11, threads=0)
    value = lagscan.lag_sum(one, rows[1], 11)
    profile: lagscan.LagProfile = lagscan.lag_profile(one, rows[1], 11)
    best: int = profile.best_lag
    y: npt.NDArray[np.float64] = lagscan.read_xy(path)
    y = lagscan.read_xy(b"/data/a.xy")
    xy: Tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]] = lagscan.read_xy(path, x=True)

    table = lagscan.matrix(rows, 11)  # a 2-D array: its rows
    table = lagscan.matrix(listed, 11, fast=True, threads=2, progress=True, center=True)
    table = lagscan.matrix(named, 11, other=rows, progress=lambda done, total: None)
    table = lagscan.matrix(paths, 11)
    row = lagscan.against(one, rows, 11, fast=True)
    row = lagscan.against(str(path), named, 11)
    condensed: npt.NDArray[np.float64] = lagscan.condensed(rows, 11, distance=True, threads=0)
    positions: npt.NDArray[np.int64]
    values: npt.NDArray[np.float64]
    positions, values = lagscan.nearest(rows, 11, 3, fast=True)
    tree: npt.NDArray[np.float64] = lagscan.linkage(rows, 11, center=True)
    tree = lagscan.linkage(table=np.eye(4))
    groups: lagscan.Groups = lagscan.groups(rows, 11, k=2)
    groups = lagscan.groups(table=np.eye(4), at=0.5)
    sizes: npt.NDArray[np.int64] = groups.sizes
    medoids: npt.NDArray[np.int64] = groups.medoids
    distances = lagscan.precomputed(np.eye(4))
    version: str = lagscan.__version__
    bound: int = lagscan.MAX_THREADS
    try:
        lagscan.read_xy("missing.xy")
    except lagscan.DataFileError as error:
        print(error.filename, error.reason)
    print(value, best, y, xy, table, row, condensed, positions, values, tree, sizes, medoids, distances, version,
          bound)


def on_a_cluster(client: object, rows: npt.NDArray[np.float64]) -> None:
    table: npt.NDArray[np.float64] = lagscan.dask.matrix(client, rows, 11, blocks=2)
    positions, values = lagscan.dask.nearest(client, list(rows), 11, 3, blocks=2, fast=True)
    print(table, positions, values, lagscan.dask.tiles(3))
