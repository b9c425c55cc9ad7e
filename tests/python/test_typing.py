"""The package's type stubs under mypy --strict (Debian's python3-mypy): a
script using every function as documented (typed_use.py) checks clean, and
a wrong use is caught, so the check itself is alive."""

import os
import subprocess
import sys

import pytest

from conftest import BUILD

HERE = os.path.dirname(os.path.abspath(__file__))


def mypy(script, tmp_path):
    pytest.importorskip("mypy")
    environment = dict(os.environ, MYPYPATH=os.path.join(BUILD, "python"))
    return subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--cache-dir",
                           str(tmp_path / "cache"), "--python-executable", sys.executable, script],
                          capture_output=True, text=True, timeout=50, env=environment, cwd=tmp_path)


def test_every_function_as_documented_checks_clean(tmp_path):
    done = mypy(os.path.join(HERE, "typed_use.py"), tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr


def test_a_wrong_use_is_caught(tmp_path):
    script = tmp_path / "wrong.py"
    script.write_text("import lagscan\nlagscan.matrix([[1.0]], 'eleven')\nx: str = lagscan.correlation([1.0], [1.0], 1)\n")
    done = mypy(str(script), tmp_path)
    assert done.returncode == 1
    assert 'Argument 2 to "matrix" has incompatible type "str"' in done.stdout
    assert "Incompatible types in assignment" in done.stdout
