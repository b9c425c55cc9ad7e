"""The calls on whole sets as scientists use them, against the table of all
pairs, scipy and the command's files: set A against set B, the condensed
triangle, each item's nearest, the tree and its groups, centring, pandas
labels and scikit-learn's precomputed distances."""

import math
import os

import numpy as np
import pytest

import lagscan
from conftest import BUILD, random_values, run, write_xy

hierarchy = pytest.importorskip("scipy.cluster.hierarchy")
distance = pytest.importorskip("scipy.spatial.distance")


def bits(a):
    return np.ascontiguousarray(a, dtype=np.float64).view(np.uint64)


def same_bits(a, b):
    a = np.asarray(a, dtype=np.float64)
    b = np.asarray(b, dtype=np.float64)
    return a.shape == b.shape and bool(np.all((bits(a) == bits(b)) | (np.isnan(a) & np.isnan(b))))


def random_set(count, n, seed, offset=0.0):
    return [offset + random_values(n, seed * 1000 + k) for k in range(count)]


# name: (items, values each, s, an item outside --fast's domain, offset)
SETS = {
    "one": (1, 20, 5, False, 0.0),
    "two": (2, 30, 7, False, 0.0),
    "twelve": (12, 50, 11, False, 0.0),
    "window wider than the data": (8, 6, 41, False, 0.0),
    "one near 1e200": (9, 30, 7, True, 0.0),
    "offsets of 1e3": (10, 40, 9, False, 1e3),
    # More than one tile of 256 of the fast path's grid.
    "three hundred": (300, 16, 5, False, 0.0),
}


def make(name):
    count, n, s, outside, offset = SETS[name]
    items = random_set(count, n, len(name), offset)
    if outside:
        items[1] = 1e200 * (items[1] + 3.0)
    if count > 4:
        items[4] = items[2].copy()  # a tie for the nearest
    return items, s


@pytest.mark.parametrize("fast", [False, True], ids=["exact", "fast"])
@pytest.mark.parametrize("name", SETS)
def test_set_a_against_set_b_is_the_table_of_both(name, fast):
    items, s = make(name)
    whole = lagscan.matrix(items, s, fast=fast)
    for split in sorted({0, len(items) // 3, len(items) // 2, len(items)}):
        part = lagscan.matrix(items[:split], s, other=items[split:], fast=fast)
        assert part.shape == (split, len(items) - split)
        assert same_bits(part, whole[:split, split:])


@pytest.mark.parametrize("fast", [False, True], ids=["exact", "fast"])
@pytest.mark.parametrize("name", SETS)
def test_condensed_is_scipys_pdist_order_of_the_table(name, fast):
    items, s = make(name)
    whole = lagscan.matrix(items, s, fast=fast)
    similarities = lagscan.condensed(items, s, fast=fast)
    assert same_bits(similarities, whole[np.triu_indices(len(items), 1)])
    # squareform takes it back to the table, less its diagonal (and the sign
    # of a zero's, which adding the diagonal would lose).
    assert same_bits(distance.squareform(similarities, checks=False)[np.triu_indices(len(items), 1)],
                     whole[np.triu_indices(len(items), 1)])
    distances = lagscan.condensed(items, s, distance=True, fast=fast)
    assert same_bits(distances, np.clip(1.0 - np.nan_to_num(similarities, nan=-1.0), 0.0, 2.0))


@pytest.mark.parametrize("fast", [False, True], ids=["exact", "fast"])
@pytest.mark.parametrize("name", SETS)
def test_nearest_is_a_sort_of_the_tables_rows(name, fast):
    items, s = make(name)
    whole = lagscan.matrix(items, s, fast=fast)
    n = len(items)
    for top in (1, 3, n + 1):
        positions, values = lagscan.nearest(items, s, top, fast=fast, threads=2)
        assert positions.shape == values.shape == (n, top)
        for i in range(n):
            others = [j for j in range(n) if j != i]
            # Larger first, NaN last, equal values by position.
            others.sort(key=lambda j: (math.isnan(whole[i, j]), -whole[i, j] if not math.isnan(whole[i, j]) else 0, j))
            expected = others[:top] + [-1] * max(0, top - len(others))
            assert positions[i].tolist() == expected
            kept = min(top, len(others))
            assert same_bits(values[i, :kept], whole[i, others[:kept]])
            assert np.isnan(values[i, kept:]).all()


@pytest.mark.parametrize("fast", [False, True], ids=["exact", "fast"])
@pytest.mark.parametrize("name", [n for n in SETS if SETS[n][0] > 1])
def test_the_tree_is_scipys_average_linkage(name, fast):
    items, s = make(name)
    ours = lagscan.linkage(items, s, fast=fast)
    theirs = hierarchy.linkage(lagscan.condensed(items, s, distance=True, fast=fast), method="average")
    assert same_bits(ours, theirs)
    assert same_bits(lagscan.linkage(table=lagscan.matrix(items, s, fast=fast)), ours)


@pytest.mark.parametrize("name", ["twelve", "offsets of 1e3", "three hundred"])
def test_groups_are_scipys_fcluster(name):
    items, s = make(name)
    table = lagscan.matrix(items, s)
    tree = lagscan.linkage(table=table)

    def partition(labels):
        return sorted(sorted(np.flatnonzero(labels == g).tolist()) for g in np.unique(labels))

    for k in (1, 2, 5):
        groups = lagscan.groups(items, s, k=k)
        assert partition(groups.labels) == partition(hierarchy.fcluster(tree, k, criterion="maxclust"))
        assert groups.sizes.tolist() == sorted(groups.sizes.tolist(), reverse=True)
        assert same_bits(groups.labels, lagscan.groups(table=table, k=k).labels)
    for at in (0.9, 0.2, -0.5):
        groups = lagscan.groups(items, s, at=at)
        assert partition(groups.labels) == partition(hierarchy.fcluster(tree, 1.0 - at, criterion="distance"))


@pytest.mark.parametrize("center", [False, True], ids=["plain", "centred"])
def test_tree_groups_and_table_are_the_commands_files(tmp_path, center):
    items = random_set(9, 40, 77, offset=1e3)
    items[5] = items[3].copy()
    names = []
    for i, values in enumerate(items):
        names.append("f%d.xy" % i)
        write_xy(tmp_path / names[-1], values)
    options = ["--center"] if center else []
    done = run([os.path.join(BUILD, "lagscan-matrix"), "-q", "--digits", "17", *options, "--clusters", "3",
                "--clusters-out", "groups.tsv", "--tree-out", "tree.tsv", "-o", "table.tsv", "11", *names],
               cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    tree = np.loadtxt(tmp_path / "tree.tsv", ndmin=2)
    assert same_bits(lagscan.linkage(items, 11, center=center), tree)
    groups = lagscan.groups(dict(zip(names, items)), 11, k=3, center=center)
    rows = [line.split("\t") for line in (tmp_path / "groups.tsv").read_text().splitlines()[1:]]
    for name, cluster, size, representative in rows:
        label = int(groups.labels[name])
        assert label == int(cluster)
        assert groups.sizes[label - 1] == int(size)
        assert names[groups.medoids[label - 1]] == representative
    table = lagscan.matrix(items, 11, center=center)
    printed = [line.split("\t")[1:] for line in (tmp_path / "table.tsv").read_text().splitlines()[1:]]
    assert [["%.17g" % v for v in row] for row in table] == printed


def test_centring_takes_each_mean_off_and_leaves_the_items_alone():
    items = random_set(6, 50, 5, offset=1e3)
    kept = [a.copy() for a in items]
    plain = lagscan.matrix(items, 11)
    assert (plain > 0.99).all()  # offsets of 10^3: everything looks alike
    centred = lagscan.matrix(items, 11, center=True)
    assert (centred < 0.9).any()
    assert all(np.array_equal(a, b) for a, b in zip(items, kept))
    assert same_bits(lagscan.against(items[0], items, 11, center=True), centred[0])
    assert same_bits(lagscan.condensed(items, 11, center=True), centred[np.triu_indices(6, 1)])
    positions, _ = lagscan.nearest(items, 11, 2, center=True)
    assert positions.shape == (6, 2)


def test_read_xy_gives_the_x_values_too(tmp_path):
    path = tmp_path / "xy.xy"
    path.write_bytes(b"' x y\r\n0.5 1\n/* 9 9 */ -2e3\t2.25\n7 3 1e-310")
    x, y = lagscan.read_xy(path, x=True)
    assert x.tolist() == [0.5, -2e3, 7.0, 1e-310]
    assert y.tolist() == [1.0, 2.25, 3.0, 0.0]
    assert np.array_equal(lagscan.read_xy(path), y)


def test_bytes_paths_that_are_not_utf8_are_read(tmp_path):
    name = os.fsencode(tmp_path) + b"/\xff\xfe.xy"
    with open(name, "w") as f:
        f.write("0 1\n1 2\n")
    assert lagscan.read_xy(name).tolist() == [1.0, 2.0]
    assert lagscan.read_xy(name, x=True)[0].tolist() == [0.0, 1.0]
    assert lagscan.matrix([name, name], 1).shape == (2, 2)
    missing = os.fsencode(tmp_path) + b"/\xff-missing.xy"
    with pytest.raises(FileNotFoundError) as raised:
        lagscan.read_xy(missing)
    assert raised.value.filename == os.fsdecode(missing)


class TestPandas:
    pandas = pytest.importorskip("pandas")

    def test_names_label_the_tables(self, tmp_path):
        items = random_set(4, 30, 9)
        named = {"a": items[0], "b": items[1], "c": items[2], "d": items[3]}
        table = lagscan.matrix(named, 5)
        assert isinstance(table, self.pandas.DataFrame)
        assert list(table.index) == list(table.columns) == ["a", "b", "c", "d"]
        assert same_bits(table.to_numpy(), lagscan.matrix(items, 5))
        part = lagscan.matrix({"a": items[0]}, 5, other={"x": items[1], "y": items[2]})
        assert list(part.index) == ["a"] and list(part.columns) == ["x", "y"]
        row = lagscan.against(items[0], named, 5)
        assert isinstance(row, self.pandas.Series) and list(row.index) == ["a", "b", "c", "d"]
        labels = lagscan.groups(named, 5, k=2).labels
        assert list(labels.index) == ["a", "b", "c", "d"]
        # Paths name themselves.
        paths = [write_xy(tmp_path / ("p%d.xy" % i), v) for i, v in enumerate(items)]
        assert list(lagscan.matrix(paths, 5).index) == paths
        # Without names, arrays.
        assert type(lagscan.matrix(items, 5)) is np.ndarray
        assert type(lagscan.matrix(np.array(items), 5)) is np.ndarray

    def test_precomputed_keeps_the_labels(self):
        items = random_set(3, 30, 10)
        table = lagscan.matrix({"a": items[0], "b": items[1], "c": items[2]}, 5)
        d = lagscan.precomputed(table)
        assert list(d.index) == ["a", "b", "c"]


def test_precomputed_serves_scikit_learn():
    cluster = pytest.importorskip("sklearn.cluster")
    items = random_set(12, 40, 11)
    table = lagscan.matrix(items, 7)
    d = lagscan.precomputed(table)
    assert (np.diag(d) == 0).all() and np.array_equal(d, d.T)
    upper = np.triu_indices(12, 1)
    assert same_bits(d[upper], np.clip(1.0 - table[upper], 0.0, 2.0))
    labels = cluster.AgglomerativeClustering(n_clusters=3, metric="precomputed", linkage="average").fit_predict(d)
    assert len(set(labels.tolist())) == 3


# name: (call, exception)
REFUSALS = {
    "other of another length": (lambda a: lagscan.matrix(a, 3, other=[a[0][:-1]]), ValueError),
    "no top": (lambda a: lagscan.nearest(a, 3, 0), ValueError),
    "k of 0": (lambda a: lagscan.groups(a, 3, k=0), ValueError),
    "k above the items": (lambda a: lagscan.groups(a, 3, k=len(a) + 1), ValueError),
    "a cut above 1": (lambda a: lagscan.groups(a, 3, at=1.5), ValueError),
    "a cut that is not a number": (lambda a: lagscan.groups(a, 3, at=float("nan")), ValueError),
    "both k and a cut": (lambda a: lagscan.groups(a, 3, k=2, at=0.5), TypeError),
    "neither k nor a cut": (lambda a: lagscan.groups(a, 3), TypeError),
    "items and a table": (lambda a: lagscan.linkage(a, 3, table=np.eye(3)), TypeError),
    "a table that is not square": (lambda a: lagscan.linkage(table=np.ones((3, 2))), ValueError),
    "groups of a table that is not square": (lambda a: lagscan.groups(table=np.ones(4), k=1), ValueError),
    "precomputed of a table that is not square": (lambda a: lagscan.precomputed(np.ones((2, 3))), ValueError),
    "a 3-D array of items": (lambda a: lagscan.matrix(np.ones((2, 2, 2)), 3), ValueError),
}


@pytest.mark.parametrize("name", REFUSALS)
def test_refusals(name):
    call, kind = REFUSALS[name]
    with pytest.raises(kind):
        call(random_set(4, 10, 3))


def test_threads_0_means_every_processor_everywhere():
    items = random_set(5, 200, 12)
    one = lagscan.matrix(items, 21, threads=1)
    assert same_bits(lagscan.matrix(items, 21, threads=0), one)
    assert same_bits(lagscan.matrix(items, 21, threads=lagscan.MAX_THREADS), one)
    assert same_bits(lagscan.condensed(items, 21, threads=0), one[np.triu_indices(5, 1)])
    a, b = random_values(100_000, 1), random_values(100_000, 2)
    alone = lagscan.correlation(a, b, 101)
    for threads in (0, 1, 2, lagscan.MAX_THREADS):
        assert same_bits(lagscan.correlation(a, b, 101, threads=threads), alone)
