"""What the module accepts as values: anything numpy turns into a 1-D
sequence of reals, converted as numpy converts it, and a contiguous float64
array read in place."""

import numpy as np
import pytest

import lagscan
from lagscan import _lagscan
from conftest import random_values

A = random_values(60, 1)
B = random_values(60, 2)
S = 7
EXPECTED = lagscan.correlation(A, B, S)

WIDE_A = np.stack([A, np.zeros_like(A)], axis=1)  # column 0 is A with a stride of two
BIG_ENDIAN = A.astype(">f8")

# name: (a as given, a as float64 values)
FORMS = {
    "list": (A.tolist(), A),
    "tuple": (tuple(A.tolist()), A),
    "every second of a longer array": (np.repeat(A, 2)[::2], A),
    "reversed view": (A[::-1].copy()[::-1], A),
    "column of a 2-D array": (WIDE_A[:, 0], A),
    "Fortran-ordered column": (np.asfortranarray(WIDE_A)[:, 0], A),
    "big-endian float64": (BIG_ENDIAN, A),
    "float32": (A.astype(np.float32), A.astype(np.float32).astype(np.float64)),
    "int64": ((A * 1000).astype(np.int64), (A * 1000).astype(np.int64).astype(np.float64)),
    "int8": ((A * 10).astype(np.int8), (A * 10).astype(np.int8).astype(np.float64)),
    "list of ints": ([int(v * 100) for v in A], np.array([int(v * 100) for v in A], dtype=np.float64)),
    "bool": (A > 0, (A > 0).astype(np.float64)),
    "read-only array": (np.frombuffer(A.tobytes(), dtype=np.float64), A),
}


@pytest.mark.parametrize("name", FORMS)
def test_every_form_gives_the_value_of_its_float64_copy(name):
    given, as_float64 = FORMS[name]
    expected = lagscan.correlation(np.ascontiguousarray(as_float64, dtype=np.float64), B, S)
    assert lagscan.correlation(given, B, S) == expected
    assert lagscan.correlation(B, given, S) == lagscan.correlation(B, as_float64, S)
    assert lagscan.lag_sum(given, B, S) == lagscan.lag_sum(as_float64, B, S)
    profile = lagscan.lag_profile(given, B, S)
    np.testing.assert_array_equal(profile.sums, lagscan.lag_profile(as_float64, B, S).sums)
    row = lagscan.matrix([given, B], S)
    assert row[0, 1] == expected
    assert lagscan.against(given, [B], S)[0] == expected


def test_the_forms_really_differ_from_the_contiguous_copy():
    # The table above is only a test of conversion if these reach the
    # binding as something other than contiguous float64.
    for name in ("every second of a longer array", "column of a 2-D array", "big-endian float64", "float32"):
        given = FORMS[name][0]
        assert not (given.dtype == np.float64 and given.dtype.isnative and given.flags.c_contiguous), name


def test_contiguous_float64_is_read_in_place():
    a = random_values(1000, 3)
    assert _lagscan._input_address(a) == a.ctypes.data
    window = a[100:200]  # a contiguous view into a's buffer
    assert _lagscan._input_address(window) == a.ctypes.data + 100 * 8


def test_other_inputs_are_copied():
    a = random_values(1000, 3)
    for copied in (a[::2], a.astype(np.float32), a.astype(">f8"), a.tolist()):
        address = _lagscan._input_address(copied)
        assert not (a.ctypes.data <= address < a.ctypes.data + a.nbytes)


def test_rows_of_a_2d_array_are_a_set():
    rows = np.stack([random_values(200, seed) for seed in range(5)])
    values = lagscan.matrix(rows, 9)
    assert values.shape == (5, 5)
    assert values[1, 3] == lagscan.correlation(rows[1], rows[3], 9)
    assert values[3, 1] == values[1, 3]  # each pair formed once


@pytest.mark.parametrize("s", [1, 3])
def test_length_one(s):
    value = lagscan.correlation([3.0], [-2.0], s)
    assert value == lagscan.correlation(np.array([3.0]), np.array([-2.0]), s)
    np.testing.assert_array_equal(lagscan.matrix([[3.0], [-2.0]], s)[0, 1], value)


def test_empty_sequences_of_any_form_agree():
    # What the value of no values is, test_values compares with the command.
    value = lagscan.correlation(np.empty(0), np.empty(0), 3)
    for empty in ([], (), np.array([], dtype=np.float32), np.empty((0,), dtype=np.int32)):
        assert lagscan.correlation(empty, [], 3) == value
        np.testing.assert_array_equal(lagscan.matrix([empty, empty], 3), np.full((2, 2), value))
    profile = lagscan.lag_profile([], [], 3)  # no lag where nothing overlaps
    assert profile.lags.shape == profile.sums.shape == profile.normalised.shape == (0,)
    assert profile.best_lag == 0


def test_empty_sets():
    assert lagscan.matrix([], 3).shape == (0, 0)
    assert lagscan.against(A, [], 3).shape == (0,)


def test_results_are_arrays_the_caller_owns():
    values = lagscan.matrix([A, B], S)
    assert values.flags.writeable and values.flags.c_contiguous
    values[0, 0] = 42.0  # no harm done to anything else
    assert lagscan.matrix([A, B], S)[0, 0] != 42.0
    read = lagscan.against(A, [A, B], S)
    assert read.flags.writeable and read.dtype == np.float64


def test_a_numpy_integer_is_a_width():
    assert lagscan.correlation(A, B, np.int64(S)) == EXPECTED
