"""The package as `cmake --install` lays it out: in Debian's place under the
prefix, with its stubs, importable by Debian's interpreter from there alone."""

import ast
import os
import subprocess
import sys

import pytest

import lagscan
from lagscan import _lagscan
from conftest import CHILD_SECONDS, BUILD

PACKAGE = "lib/python3/dist-packages/lagscan"

USE = r"""
import lagscan, numpy as np
print(lagscan.__file__)
print(lagscan.__version__)
print(repr(lagscan.correlation(np.arange(10.0), np.arange(10.0) ** 2, 3)))
print(lagscan.matrix([[1.0, 2.0], [2.0, 1.0]], 1).tolist())
"""


@pytest.fixture(scope="module")
def prefix(tmp_path_factory):
    prefix = tmp_path_factory.mktemp("prefix")
    cmake = os.environ.get("CMAKE_COMMAND", "cmake")
    done = subprocess.run([cmake, "--install", BUILD, "--prefix", str(prefix)], capture_output=True, text=True,
                          timeout=CHILD_SECONDS)
    assert done.returncode == 0, done.stderr
    return prefix


def test_installed_in_debians_place_with_stubs(prefix):
    folder = prefix / PACKAGE
    names = sorted(os.listdir(folder))
    assert "__init__.py" in names and "_lagscan.pyi" in names and "py.typed" in names
    assert any(name.startswith("_lagscan.cpython-") and name.endswith(".so") for name in names), names


def test_the_installed_package_imports_and_works_without_the_build(prefix):
    # Only the prefix on the path: no build folder, no LD_LIBRARY_PATH (the
    # module finds the prefix's library by its own run path).
    env = {key: value for key, value in os.environ.items() if key not in ("PYTHONPATH", "LD_LIBRARY_PATH")}
    env["PYTHONPATH"] = str(prefix / "lib/python3/dist-packages")
    done = subprocess.run([sys.executable, "-c", USE], capture_output=True, text=True, timeout=CHILD_SECONDS,
                          env=env, cwd=str(prefix))
    assert done.returncode == 0, done.stderr
    file, version, value, table = done.stdout.splitlines()
    assert file == str(prefix / PACKAGE / "__init__.py")
    assert version == lagscan.__version__
    assert float(value) == lagscan.correlation(list(range(10)), [i * i for i in range(10)], 3)
    assert table == str(lagscan.matrix([[1.0, 2.0], [2.0, 1.0]], 1).tolist())


def test_version_is_the_librarys():
    assert lagscan.__version__ == _lagscan.version()
    assert lagscan.__version__.count(".") == 2


def test_the_stubs_declare_what_the_module_defines():
    with open(os.path.join(os.path.dirname(lagscan.__file__), "_lagscan.pyi")) as f:
        tree = ast.parse(f.read())
    declared = {node.name for node in tree.body if isinstance(node, (ast.FunctionDef, ast.ClassDef))}
    defined = {name for name in dir(_lagscan) if not name.startswith("__")}
    assert declared == defined


def test_everything_public_has_a_docstring():
    for name in lagscan.__all__:
        if name == "__version__":
            continue
        doc = getattr(lagscan, name).__doc__
        assert doc and len(doc) > 40, name
    assert "KeyboardInterrupt" in lagscan.matrix.__doc__ and "fast" in lagscan.matrix.__doc__
    for name in dir(_lagscan):
        if not name.startswith("__"):
            assert getattr(_lagscan, name).__doc__, name
