"""lagscan.dask on a real distributed.LocalCluster of 2 worker processes:
one task per tile gives lagscan.matrix's table to the bit, exact and fast,
and each item's nearest as lagscan-matrix --top lists them."""

import numpy as np
import pytest

import lagscan
import lagscan.dask

distributed = pytest.importorskip("distributed")


@pytest.fixture(scope="module")
def client():
    # Worker processes, as on a cluster: each imports the module anew. Every
    # wait is bounded, so a cluster that does not come up fails the test.
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                       silence_logs=40)
    with distributed.Client(cluster, timeout=30) as connected:
        yield connected
    cluster.close(timeout=20)


def sets(files, values, seed):
    """Waves, noise and large offsets; one constant item and one of ties."""
    rng = np.random.default_rng(seed)
    x = np.arange(values)
    out = [np.sin(0.05 * x * (1 + f % 7)) + rng.normal(0, 0.3, values) + (1e5 if f % 11 == 0 else 0)
           for f in range(files)]
    out[5] = np.full(values, 2.5)
    out[6] = out[7].copy()
    return out


def bits(a):
    return np.ascontiguousarray(a).view(np.uint64)


# 300 items: blocks of 100, 75 or 60 cut the 256-item tiles of the fast
# path's grid anywhere.
@pytest.mark.parametrize("fast", [False, True], ids=["exact", "fast"])
@pytest.mark.parametrize("blocks", [1, 4, 5])
def test_tiles_assemble_lagscan_matrix_to_the_bit(client, fast, blocks):
    items = sets(300, 40, 25)
    whole = lagscan.matrix(items, 11, fast=fast)
    tiled = lagscan.dask.matrix(client, items, 11, blocks=blocks, fast=fast)
    assert np.array_equal(bits(tiled), bits(whole))


def test_paths_are_read_on_the_workers(client, tmp_path):
    items = sets(12, 30, 3)
    paths = []
    for i, values in enumerate(items):
        path = tmp_path / ("f%d.xy" % i)
        path.write_text("".join("%d %r\n" % (k, v) for k, v in enumerate(values.tolist())))
        paths.append(str(path))
    assert np.array_equal(bits(lagscan.dask.matrix(client, paths, 5, blocks=3)), bits(lagscan.matrix(items, 5)))


def reference_nearest(table, top):
    """lagscan-matrix --top's order from the whole table: larger first, NaN
    last, equal values by position, the item itself left out."""
    files = table.shape[0]
    positions = np.full((files, top), -1)
    values = np.full((files, top), np.nan)
    for i in range(files):
        others = [j for j in range(files) if j != i]
        order = sorted(others, key=lambda j: (np.isnan(table[i, j]), -np.nan_to_num(table[i, j]), j))[:top]
        positions[i, :len(order)] = order
        values[i, :len(order)] = table[i, order]
    return positions, values


@pytest.mark.parametrize("fast", [False, True], ids=["exact", "fast"])
def test_nearest_are_those_of_the_whole_table(client, fast):
    items = sets(90, 30, 7)
    items[9] = np.zeros(30)  # NaN against every other item
    table = lagscan.matrix(items, 9, fast=fast)
    for top, blocks in [(4, 3), (200, 4)]:
        positions, values = lagscan.dask.nearest(client, items, 9, top, blocks=blocks, fast=fast)
        want_positions, want_values = reference_nearest(table, top)
        assert np.array_equal(positions, want_positions)
        assert np.array_equal(bits(values), bits(want_values))
        # The same as the local call, which holds no table either.
        local_positions, local_values = lagscan.nearest(items, 9, top, fast=fast)
        assert np.array_equal(positions, local_positions)
        assert np.array_equal(bits(values), bits(local_values))


# Fewer items than blocks: some blocks are empty, and their tiles hold no
# pair (as lagscan-matrix --tile's parts of two empty blocks).
@pytest.mark.parametrize("fast", [False, True], ids=["exact", "fast"])
@pytest.mark.parametrize("files, blocks", [(1, 2), (2, 3), (3, 8), (5, 6)])
def test_fewer_items_than_blocks(client, fast, files, blocks):
    items = sets(12, 20, 4)[:files]
    table = lagscan.matrix(items, 5, fast=fast)
    assert np.array_equal(bits(lagscan.dask.matrix(client, items, 5, blocks=blocks, fast=fast, threads=0)),
                          bits(table))
    positions, values = lagscan.dask.nearest(client, items, 5, 2, blocks=blocks, fast=fast)
    want_positions, want_values = reference_nearest(table, 2)
    assert np.array_equal(positions, want_positions)
    assert np.array_equal(bits(values), bits(want_values))


def test_bad_tiles_are_refused(client):
    items = sets(12, 8, 1)[:4]
    with pytest.raises(ValueError, match="blocks must be at least 1"):
        lagscan.dask.matrix(client, items, 3, blocks=0)
    with pytest.raises(ValueError, match="no tile 7 of 3 blocks"):
        lagscan._lagscan.tile(items, 4, 3, 7, 3, False, 1)
    with pytest.raises(ValueError, match="tile 2 of 3 blocks of 4 sequences holds 2, not 4"):
        lagscan._lagscan.tile(items, 4, 3, 2, 3, False, 1)
