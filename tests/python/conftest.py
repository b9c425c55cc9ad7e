"""What the Python module's tests share: the build folder (ctest passes it in
LAGSCAN_BUILD_DIR and puts its python/ folder on PYTHONPATH), data files,
and the two commands whose output the module must reproduce."""

import math
import os
import subprocess

import numpy as np
import pytest

BUILD = os.environ.get("LAGSCAN_BUILD_DIR", "")

# Any run of a child process ends well before ctest's own limit, so that a
# hang shows as a failure naming the command.
CHILD_SECONDS = 30


def pytest_configure(config):
    if not BUILD or not os.path.isdir(BUILD):
        raise pytest.UsageError("run through ctest, or set LAGSCAN_BUILD_DIR to the build folder")


@pytest.fixture(scope="session")
def build_dir():
    return BUILD


def write_xy(path, values):
    """A data file holding values as its y column, every digit kept."""
    with open(path, "w") as f:
        f.write("".join("%d %r\n" % (i, float(v)) for i, v in enumerate(values)))
    return str(path)


def run(arguments, **kwargs):
    return subprocess.run(arguments, capture_output=True, text=True, timeout=CHILD_SECONDS, **kwargs)


def lagscan_says(a_path, b_path, s):
    """The text after "Cross Correlation " that the command prints, or its
    whole output when that is a message."""
    done = run([os.path.join(BUILD, "lagscan"), a_path, b_path, str(s)])
    assert done.returncode == 1 and done.stderr == ""
    prefix = "\nCross Correlation "
    if done.stdout.startswith(prefix):
        return done.stdout[len(prefix):].rstrip("\n")
    return done.stdout


def matrix_says(s, paths, *options):
    """lagscan-matrix's table at 17 digits, as rows of strings without the
    header row and column."""
    done = run([os.path.join(BUILD, "lagscan-matrix"), "--digits", "17", "--quiet", *options, str(s), *paths])
    assert done.returncode == 0, done.stderr
    rows = [line.split("\t") for line in done.stdout.splitlines()]
    return [row[1:] for row in rows[1:]]


def same_text(value, text):
    """value printed with 17 digits is text (any NaN matches any NaN)."""
    if text.lstrip("-") == "nan":
        return math.isnan(value)
    return "%.17g" % value == text


@pytest.fixture
def xy_file(tmp_path):
    counter = iter(range(1 << 30))

    def make(values, name=None):
        return write_xy(tmp_path / (name or "v%d.xy" % next(counter)), values)

    return make


def random_values(n, seed):
    return np.random.default_rng(seed).standard_normal(n)

