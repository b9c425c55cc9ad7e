"""Every error is a Python exception of the kind Python users expect, with
the command's words."""

import errno
import os
import time

import numpy as np
import pytest

import lagscan
from conftest import lagscan_says, random_values

A = random_values(20, 1)
B = random_values(20, 2)


# name: (s, exception)
WIDTHS = {
    "even": (2, ValueError),
    "zero": (0, ValueError),
    "negative": (-3, ValueError),
    "too large for the library": ((1 << 30) + 1, ValueError),
    "too large for an int": ((1 << 31) + 1, ValueError),
    "too large for 64 bits": (1 << 100, ValueError),
    "too negative for 64 bits": (-(1 << 100) + 1, ValueError),
    "too negative for an int": (-(1 << 31) - 1, ValueError),
    "a float": (3.0, TypeError),
    "a string": ("3", TypeError),
}


def every_function():
    """Each public function, called with a and b and the width s."""
    return {
        "correlation": lambda a, b, s: lagscan.correlation(a, b, s),
        "lag_sum": lambda a, b, s: lagscan.lag_sum(a, b, s),
        "lag_profile": lambda a, b, s: lagscan.lag_profile(a, b, s),
        "matrix": lambda a, b, s: lagscan.matrix([a, b], s),
        "fast matrix": lambda a, b, s: lagscan.matrix([a, b], s, fast=True),
        "against": lambda a, b, s: lagscan.against(a, [b], s),
        "fast against": lambda a, b, s: lagscan.against(a, [b], s, fast=True),
    }


@pytest.mark.parametrize("function", every_function())
@pytest.mark.parametrize("width", WIDTHS)
def test_bad_widths(function, width, xy_file):
    s, kind = WIDTHS[width]
    with pytest.raises(kind) as raised:
        every_function()[function](A, B, s)
    if kind is ValueError:
        # The command's own message for the same width.
        assert str(raised.value) == lagscan_says(xy_file(A), xy_file(B), s).strip()


@pytest.mark.parametrize("function", every_function())
def test_unequal_lengths(function, xy_file):
    with pytest.raises(ValueError) as raised:
        every_function()[function](A, B[:-1], 3)
    assert str(raised.value) == lagscan_says(xy_file(A), xy_file(B[:-1]), 3).strip()


# name: an input that is not one sequence of reals
NOT_1D = {
    "2-D": np.ones((4, 5)),
    "a scalar": 3.0,
    "nested lists": [[1.0, 2.0], [3.0, 4.0]],
}


@pytest.mark.parametrize("function", every_function())
@pytest.mark.parametrize("shape", NOT_1D)
def test_inputs_that_are_not_one_dimensional(function, shape):
    with pytest.raises(ValueError, match="one-dimensional"):
        every_function()[function](NOT_1D[shape], B, 3)
    with pytest.raises(ValueError, match="one-dimensional"):
        every_function()[function](B, NOT_1D[shape], 3)


def test_values_numpy_cannot_convert():
    with pytest.raises(ValueError):
        lagscan.correlation(["1.0", "x"], [1.0, 2.0], 1)
    with pytest.raises(ValueError):
        lagscan.correlation([[1.0], [2.0, 3.0]], [1.0, 2.0], 1)  # ragged
    with pytest.raises(TypeError):
        lagscan.correlation([None, {}], [1.0, 2.0], 1)


def test_bad_sets():
    with pytest.raises(TypeError, match="one path"):
        lagscan.matrix("a.xy", 3)
    with pytest.raises(ValueError):
        lagscan.matrix([A, A, B[:-1]], 3)
    with pytest.raises(ValueError):
        lagscan.against(A[:-1], [A, B], 3)
    # Below 0, and above the bound (where libgomp would try to reserve every
    # thread's stack and end the interpreter).
    for threads in (-1, lagscan.MAX_THREADS + 1, 2**31 - 1, 2**63):
        with pytest.raises(ValueError, match="threads"):
            lagscan.matrix([A, B], 3, threads=threads)
        with pytest.raises(ValueError, match="threads"):
            lagscan.correlation(A, B, 3, threads=threads)
        with pytest.raises(ValueError, match="threads"):
            lagscan.against(A, [B], 3, threads=threads)
        with pytest.raises(ValueError, match="threads"):
            lagscan._lagscan.all_pairs([A, B], 3, False, threads, None)
    with pytest.raises(TypeError):
        lagscan.matrix([A, B], 3, threads=1.5)
    with pytest.raises(TypeError):
        lagscan.correlation(A, B, 3, threads=1.5)


def unclosed_comment(path):
    path.write_text("0 1\n/* never closed\n1 2\n")


def too_large(path):
    # A sparse file: its size alone is refused, before any reading.
    with open(path, "wb") as f:
        f.truncate(1 << 31)


def read_only(path):
    path.write_text("0 1\n")
    path.chmod(0o444)


def directory(path):
    path.mkdir()


def missing(path):
    pass


# name: (make the file, exception, errno or None, the command's words)
FILES = {
    "missing": (missing, FileNotFoundError, errno.ENOENT, "Cannot open file"),
    "a directory": (directory, IsADirectoryError, errno.EISDIR, "Cannot open file"),
    "unclosed comment": (unclosed_comment, lagscan.DataFileError, None, "Unclosed comment block"),
    "too large": (too_large, lagscan.DataFileError, None, "File too large"),
}


@pytest.mark.parametrize("name", FILES)
@pytest.mark.parametrize("given_as", ["str", "PathLike", "bytes"])
def test_file_errors(name, given_as, tmp_path, xy_file):
    make, kind, code, words = FILES[name]
    path = tmp_path / "data.xy"
    make(path)
    given = {"str": str(path), "PathLike": path, "bytes": os.fsencode(path)}[given_as]
    good = xy_file([1.0])
    calls = {
        "read_xy": lambda: lagscan.read_xy(given),
        "matrix": lambda: lagscan.matrix([good, given], 1),
        "against, as the reference": lambda: lagscan.against(given, [good], 1),
        "against, in the set": lambda: lagscan.against(good, [np.ones(1), given], 1),
    }
    for call, function in calls.items():
        with pytest.raises(kind) as raised:
            function()
        error = raised.value
        assert error.filename == str(path), call
        if code is not None:
            assert isinstance(error, OSError) and error.errno == code
            assert error.strerror.startswith(words)
        else:
            assert isinstance(error, ValueError) and error.reason.startswith(words)
            assert str(error).startswith(words)
    # The command refuses the same file with the same words.
    assert lagscan_says(str(path), good, 1).strip().startswith(words)


def test_files_that_nobody_may_write_are_read(tmp_path, xy_file):
    # The module only reads: installed samples and shared data sets are
    # read-only. The command, which opens its files for update, refuses them.
    path = tmp_path / "data.xy"
    read_only(path)
    good = xy_file([1.0])
    assert list(lagscan.read_xy(path)) == [1.0]
    assert lagscan.matrix([good, path], 1).shape == (2, 2)
    assert lagscan.against(path, [good], 1).shape == (1,)
    assert lagscan_says(str(path), good, 1).strip().startswith("Cannot open file")


def test_the_file_error_names_the_file_in_its_message(tmp_path):
    path = tmp_path / "gone.xy"
    with pytest.raises(FileNotFoundError) as raised:
        lagscan.read_xy(path)
    assert str(path) in str(raised.value)
    unclosed_comment(path)
    with pytest.raises(lagscan.DataFileError) as raised:
        lagscan.read_xy(path)
    assert str(path) in str(raised.value)


def test_errors_are_the_documented_classes():
    assert issubclass(lagscan.DataFileError, ValueError)
    # The private exception of the compiled part never reaches the caller.
    assert "FileFailure" not in lagscan.__all__


# A progress function that raises: on the first report, amid the work, or
# on the last one (done == total), after the work is over.
RAISE_AT = {
    "the start": lambda done, total: done == 0,
    "the end": lambda done, total: done == total,
    "every report": lambda done, total: True,
}


class Refused(Exception):
    pass


@pytest.mark.parametrize("when", RAISE_AT)
@pytest.mark.parametrize("fast", [False, True], ids=["exact", "fast"])
@pytest.mark.parametrize("call", ["matrix", "against", "other", "condensed", "nearest", "linkage"])
def test_a_progress_function_that_raises_raises_its_own_exception(call, fast, when):
    sets = [random_values(300, k) for k in range(12)]
    seen = []

    def report(done, total):
        seen.append((done, total))
        if RAISE_AT[when](done, total):
            raise Refused(done)

    calls = {
        "matrix": lambda: lagscan.matrix(sets, 21, fast=fast, progress=report),
        "against": lambda: lagscan.against(sets[0], sets, 21, fast=fast, progress=report),
        "other": lambda: lagscan.matrix(sets[:5], 21, other=sets[5:], fast=fast, progress=report),
        "condensed": lambda: lagscan.condensed(sets, 21, fast=fast, progress=report),
        "nearest": lambda: lagscan.nearest(sets, 21, 2, fast=fast, progress=report),
        "linkage": lambda: lagscan.linkage(sets, 21, fast=fast, progress=report),
    }
    with pytest.raises(Refused):
        calls[call]()
    # Asked no more once it raised.
    assert RAISE_AT[when](*seen[-1]) and not any(RAISE_AT[when](*r) for r in seen[:-1])
    # The interpreter is in order afterwards.
    assert lagscan.matrix(sets[:2], 3).shape == (2, 2)


def test_tiles_take_their_shape_from_the_library():
    x = [random_values(5, k) for k in range(2)]
    # Tile 2 of 2 blocks of 2 items is (block 1, block 2): one row, one
    # column, whatever else the caller believes.
    part = lagscan._lagscan.tile(x, 2, 2, 2, 3, False, 1)
    assert part.shape == (1, 1)
    assert part[0, 0] == lagscan.matrix(x, 3)[0, 1]
    with pytest.raises(ValueError):  # three items for a tile of two
        lagscan._lagscan.tile(x + x[:1], 2, 2, 2, 3, False, 1)
    with pytest.raises(ValueError, match="no tile"):
        lagscan._lagscan.tile(x, 2, 2, 4, 3, False, 1)


def test_impossible_blocks_are_refused_at_once():
    x = [random_values(5, k) for k in range(2)]
    started = time.monotonic()
    for blocks, number in ((2**40, 1), (2**40, 2**40), (2**63, 5)):
        with pytest.raises(ValueError, match="no tile"):
            lagscan._lagscan.tile(x, 2, blocks, number, 3, False, 1)
    assert time.monotonic() - started < 1.0
