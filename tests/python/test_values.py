"""The module's values are the commands' bits: lagscan's nine digits and
lagscan-matrix's seventeen, over a table of data sets."""

import math
import os

import numpy as np
import pytest

import lagscan
from conftest import BUILD, lagscan_says, matrix_says, random_values, run, same_text


def offset(n, seed):
    # Large values with small differences: sums that lose digits when added
    # in another order.
    return 1e8 + random_values(n, seed)


def with_nan(n, seed):
    a = random_values(n, seed)
    a[n // 2] = np.nan
    return a


def sine(n, shift):
    return np.sin(np.arange(n) * 0.05 + shift) + 0.01 * random_values(n, int(shift * 1000))


# name: (a, b, s)
CASES = {
    "random, odd count": (random_values(101, 1), random_values(101, 2), 7),
    "random, window of 101": (random_values(1000, 3), random_values(1000, 4), 101),
    "s = 1, lag 0 only": (random_values(50, 5), random_values(50, 6), 1),
    "window wider than the data": (random_values(5, 7), random_values(5, 8), 21),
    "one value each": (np.array([2.5]), np.array([-4.0]), 3),
    "no values": (np.empty(0), np.empty(0), 3),
    "large offset": (offset(500, 9), offset(500, 10), 51),
    "all zero": (np.zeros(20), random_values(20, 11), 5),
    "a NaN": (with_nan(30, 12), random_values(30, 13), 3),
    "shifted sines": (sine(2000, 0.0), sine(2000, 0.4), 201),
    "the same set twice": (random_values(64, 14), random_values(64, 14), 9),
    "integers": (np.arange(40) % 7, np.arange(40) % 5, 11),
}


def prints_as(value, printed):
    """value is what lagscan printed, at its nine digits."""
    if printed.lstrip("-") == "nan":
        return math.isnan(value)
    return "%.9g" % value == printed


@pytest.mark.parametrize("name", CASES)
def test_correlation_is_the_commands_value(name, xy_file):
    a, b, s = CASES[name]
    a_path, b_path = xy_file(a), xy_file(b)
    value = lagscan.correlation(a, b, s)
    assert prints_as(value, lagscan_says(a_path, b_path, s))
    # The other order is another sum, with bits of its own.
    assert prints_as(lagscan.correlation(b, a, s), lagscan_says(b_path, a_path, s))

    # lagscan-matrix forms each pair once, a before b.
    table = matrix_says(s, [a_path, b_path])
    assert same_text(value, table[0][1]), (value, table[0][1])
    assert same_text(value, table[1][0]), (value, table[1][0])


def test_correlation_has_the_same_bits_on_any_number_of_threads():
    # Long enough for the library to share the lag sums among threads.
    a, b = random_values(40_000, 15), random_values(40_000, 16)
    for s in (101, 1001):
        alone = lagscan.correlation(a, b, s, threads=1)
        for threads in (None, 2, 3, 8):
            assert same_text(lagscan.correlation(a, b, s, threads=threads), "%.17g" % alone), (s, threads)


@pytest.mark.parametrize("name", CASES)
def test_read_xy_gives_the_values_written(name, xy_file):
    a = CASES[name][0]
    read = lagscan.read_xy(xy_file(a))
    assert read.dtype == np.float64 and read.shape == (len(a),)
    np.testing.assert_array_equal(read, np.asarray(a, dtype=np.float64))


def test_read_xy_skips_comments_and_takes_the_second_column(tmp_path):
    path = tmp_path / "commented.xy"
    path.write_bytes(b"' a line comment 9 9\r\n0 1.5 /* a block\n comment 8 8 */ 1 -2\r\n2 3e2\n")
    np.testing.assert_array_equal(lagscan.read_xy(path), [1.5, -2.0, 300.0])


def set_of_files(xy_file):
    arrays = [random_values(300, seed) for seed in range(20, 26)]
    arrays.append(np.zeros(300))
    arrays.append(sine(300, 1.0))
    return arrays, [xy_file(a) for a in arrays]


def test_matrix_is_lagscan_matrix_to_the_bit(xy_file):
    arrays, paths = set_of_files(xy_file)
    table = matrix_says(31, paths)
    for items in (arrays, paths, [arrays[0], *paths[1:]]):
        values = lagscan.matrix(items, 31)
        values = np.asarray(values)  # paths alone name the rows: a DataFrame where pandas is
        assert values.shape == (len(arrays), len(arrays)) and values.dtype == np.float64
        for i, row in enumerate(table):
            for j, text in enumerate(row):
                assert same_text(values[i, j], text), (i, j, values[i, j], text)


def test_fast_matrix_is_within_1e_12(xy_file):
    arrays, _ = set_of_files(xy_file)
    exact = lagscan.matrix(arrays, 31)
    fast = lagscan.matrix(arrays, 31, fast=True)
    finite = np.isfinite(exact)
    np.testing.assert_array_equal(np.isnan(fast), np.isnan(exact))
    assert np.max(np.abs(fast[finite] - exact[finite])) <= 1e-12


def test_against_is_lagscan_matrix_against_in_the_order_given(xy_file):
    arrays, paths = set_of_files(xy_file)
    # lagscan-matrix --against prints "path<TAB>value" rows, best first.
    done = run([os.path.join(BUILD, "lagscan-matrix"), "--digits", "17", "--quiet", "--against", paths[0], "31",
                *paths[1:]])
    printed = dict(line.split("\t") for line in done.stdout.splitlines()[1:])
    for items in (arrays[1:], paths[1:]):
        values = lagscan.against(paths[0], items, 31)
        assert values.shape == (len(paths) - 1,)
        for path, value in zip(paths[1:], values):
            assert same_text(value, printed[path]), (path, value, printed[path])
    fast = lagscan.against(arrays[0], paths[1:], 31, fast=True)
    finite = np.isfinite(values)
    np.testing.assert_array_equal(np.isnan(fast), np.isnan(values))
    assert np.max(np.abs(fast[finite] - values[finite])) <= 1e-12


def test_values_do_not_depend_on_the_thread_count():
    arrays = [random_values(2000, seed) for seed in range(40)]
    for fast in (False, True):
        one = lagscan.matrix(arrays, 51, fast=fast, threads=1)
        two = lagscan.matrix(arrays, 51, fast=fast, threads=2)
        assert one.tobytes() == two.tobytes()


def test_lag_sum_is_the_numerator_of_correlation():
    a, b = random_values(500, 50), random_values(500, 51)
    c = lagscan.lag_sum(a, b, 21) / math.sqrt(lagscan.lag_sum(a, a, 21) * lagscan.lag_sum(b, b, 21))
    assert c == pytest.approx(lagscan.correlation(a, b, 21), rel=1e-14)


def test_lag_profile_against_a_plain_loop_and_its_best_lag():
    n, k, s = 400, 6, 21
    a = random_values(n + k, 60)
    x, y = a[k:], a[:n]  # y is x delayed by k samples
    p = lagscan.lag_profile(x, y, s)
    h = s // 2
    np.testing.assert_array_equal(p.lags, np.arange(-h, h + 1))
    for m, total in zip(p.lags, p.sums):
        lo, hi = max(0, -m), min(n, n - m)
        assert total == pytest.approx(np.dot(x[lo:hi], y[lo + m:hi + m]), rel=1e-12)
    np.testing.assert_allclose(p.normalised, p.sums / math.sqrt(np.dot(x, x) * np.dot(y, y)), rtol=1e-12)
    # The weighted lag sums, added in ascending lag, are lag_sum's bits.
    total = 0.0
    for m, lag_total in zip(p.lags.tolist(), p.sums.tolist()):
        total += (h + 1 - abs(m)) * lag_total
    assert total == lagscan.lag_sum(x, y, s)
    assert p.best_lag == k
    assert p.normalised[p.best_lag + h] == p.normalised.max()
