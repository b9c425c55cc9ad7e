"""numpy reads a packed set that lagscan-matrix pack wrote: numpy.load with
mmap_mode="r" gives an N x n array of float64 in C order, each row the y
values of its file, and the names file lists the files in the rows' order.

    packed_set_numpy_test.py LAGSCAN_MATRIX

Skipped (status 77) where numpy is missing.
"""
import os
import random
import subprocess
import sys
import tempfile

try:
    import numpy
except ImportError:
    print("SKIPPED: numpy is missing (python3-numpy)")
    sys.exit(77)

matrix = sys.argv[1]
random.seed(25)
with tempfile.TemporaryDirectory() as work:
    names = []
    rows = []
    for f in range(13):
        values = [random.choice([0.5, -3.0, 1e5 + 0.25, 2.0 ** -30, random.uniform(-1, 1)]) for _ in range(37)]
        name = f"file {f}.xy"
        with open(os.path.join(work, name), "w") as out:
            # x y pairs with a comment, as the loader reads them.
            out.write("' a comment line\n")
            for i, y in enumerate(values):
                out.write(f"{i} {y!r}\n")
        names.append(name)
        rows.append(values)
    run = subprocess.run([matrix, "pack", "-o", "set.npy"] + names, cwd=work, capture_output=True, text=True, timeout=50)
    assert run.returncode == 0 and run.stdout == "" and run.stderr == "", run
    packed = numpy.load(os.path.join(work, "set.npy"), mmap_mode="r")
    assert isinstance(packed, numpy.memmap), type(packed)
    assert packed.shape == (13, 37), packed.shape
    assert packed.dtype == numpy.dtype("<f8"), packed.dtype
    assert packed.flags["C_CONTIGUOUS"]
    assert numpy.array_equal(packed, numpy.array(rows)), "the rows are not the files' values"
    with open(os.path.join(work, "set.names")) as listed:
        assert listed.read() == "".join(n + "\n" for n in names)

    # A set numpy wrote is read by lagscan-matrix as the files it came from.
    numpy.save(os.path.join(work, "again.npy"), numpy.array(rows))
    with open(os.path.join(work, "again.names"), "w") as listed:
        listed.write("".join(n + "\n" for n in names))
    texts = subprocess.run([matrix, "--digits", "17", "5"] + names, cwd=work, capture_output=True, timeout=50)
    saved = subprocess.run([matrix, "--digits", "17", "5", "again.npy"], cwd=work, capture_output=True, timeout=50)
    assert texts.returncode == 0 and saved.returncode == 0, (texts, saved)
    assert saved.stdout == texts.stdout, "a set numpy saved prints other bytes than its files"
print("PASSED")
