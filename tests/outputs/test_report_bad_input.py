"""Report pages of awkward sets in Chromium: file names that hold markup,
script, quotes, non-ASCII and bytes that are not UTF-8, very long names;
files of nan and of zeros; a set of one file."""

from __future__ import annotations

import os
import struct
from pathlib import Path

import numpy as np
import pytest

import lagscan
from conftest import run_matrix, table_of, write_xy

S = 7
COUNT = 40

# The names as given to the program (bytes where they are not UTF-8) and as
# the page must show them.
HOSTILE = [
    ('<img src=x onerror="window.injected=1">.xy', '<img src=x onerror="window.injected=1">.xy'),
    # A path whose folders spell a script element around the data's end.
    ("d</script><script>window.injected=2</script>.xy", "d</script><script>window.injected=2</script>.xy"),
    ("a&amp;b \"quoted\" 'single' <!-- --> .xy", "a&amp;b \"quoted\" 'single' <!-- --> .xy"),
    ("caf\u00e9-\u6e2c\u5b9a-\U0001f4c8.xy", "caf\u00e9-\u6e2c\u5b9a-\U0001f4c8.xy"),
    (b"bad-\xff\xfe.xy", "bad-\ufffd\ufffd.xy"),
    ("L" * 240 + ".xy", "L" * 240 + ".xy"),
]


def bits(value: float) -> str:
    return struct.pack("<d", value).hex()


NORMALISED_BITS = """
const p = window.lagscanReport.profile(arguments[0], arguments[1]);
const hex = (v) => { const b = new Uint8Array(new Float64Array([v]).buffer);
                     return Array.from(b, (x) => x.toString(16).padStart(2, '0')).join(''); };
return {normalised: p.normalised.map((v) => (Number.isNaN(v) ? 'nan' : hex(v))), bestLag: p.bestLag};
"""


def expected_bits(values) -> list:
    return ["nan" if np.isnan(v) else bits(v) for v in values]


@pytest.fixture(scope="module")
def hostile(tmp_path_factory):
    folder = tmp_path_factory.mktemp("hostile")
    rng = np.random.default_rng(3)
    given = []
    for k, (name, _) in enumerate(HOSTILE):
        raw = os.fsencode(name)
        path = os.path.join(os.fsencode(folder), raw)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write("".join("%d %r\n" % (x, float(v)) for x, v in enumerate(np.sin(np.arange(COUNT) / (k + 2.0))
                                                                         + 0.1 * rng.standard_normal(COUNT))))
        given.append(raw)
    page = folder / "hostile.html"
    done = run_matrix([b"--report", b"hostile.html", b"--clusters", b"2", str(S).encode(), *given], folder)
    return {"folder": folder, "page": page, "groups": done.stdout}


def test_hostile_names_show_as_text_and_run_nothing(browser, hostile):
    browser.open(hostile["page"])
    shown = [text for _, text in HOSTILE]
    assert browser.api("names") == shown
    driver = browser.driver
    assert driver.execute_script("return window.injected") is None
    assert driver.execute_script("return document.querySelectorAll('img').length") == 0
    assert driver.execute_script("return document.scripts.length") == 2
    # Hover: both names exactly, as text.
    for i, j in ((0, 1), (2, 3), (4, 5), (1, 1)):
        x, y = browser.cell(i, j)
        browser.pointer(("move", x, y))
        assert browser.api("tipLines")[:2] == [shown[i], shown[j]]
    # The groups' table and the pair's title hold the names as text.
    members = driver.execute_script(
        "return Array.from(document.querySelectorAll('#groups-body tr'), (r) => r.cells[3].textContent).join(', ');")
    for name in shown:
        assert name in members
    browser.api("show", 1, 0)
    title = driver.find_element("id", "pair-title")
    assert title.text == shown[1] + " and " + shown[0]
    assert driver.execute_script("return window.injected") is None


def test_a_name_of_other_scripts_is_found_by_the_search(browser, hostile):
    browser.open(hostile["page"])
    box = browser.driver.find_element("id", "search")
    box.clear()
    box.send_keys("\u6e2c\u5b9a")
    buttons = browser.driver.find_elements("css selector", "#matches button")
    assert [b.text for b in buttons] == [HOSTILE[3][1]]


@pytest.fixture(scope="module")
def awkward(tmp_path_factory):
    """A set with a file of nan, a file of zeros, and three waves."""
    folder = tmp_path_factory.mktemp("awkward")
    t = np.arange(COUNT)
    names = ["wave0.xy", "nan.xy", "zero.xy", "wave1.xy", "wave2.xy"]
    write_xy(folder / "wave0.xy", np.sin(t / 3.0))
    (folder / "nan.xy").write_text("".join("%d nan\n" % k for k in range(COUNT)))
    write_xy(folder / "zero.xy", np.zeros(COUNT))
    write_xy(folder / "wave1.xy", np.sin(t / 3.0 + 1))
    write_xy(folder / "wave2.xy", np.cos(t / 5.0))
    done = run_matrix(["--report", "awkward.html", "--cluster-at", "0.5", "-o", "t.tsv", str(S), *names], folder)
    return {"folder": folder, "names": names, "page": folder / "awkward.html",
            "table": table_of((folder / "t.tsv").read_bytes()), "groups": done.stdout}


def test_nan_and_zero_files_show_the_tables_values(browser, awkward):
    browser.open(awkward["page"])
    for i, j in ((1, 0), (1, 1), (2, 3), (2, 2), (0, 3)):
        x, y = browser.cell(i, j)
        browser.pointer(("move", x, y))
        assert browser.api("tipLines")[2] == "value " + awkward["table"][i + 1][j + 1], (i, j)


@pytest.mark.parametrize("i, j", [(2, 0), (0, 2), (2, 2), (1, 0), (1, 1), (4, 3)])
def test_profiles_of_nan_and_zero_files_are_the_librarys(browser, awkward, i, j):
    if browser.driver.current_url != awkward["page"].as_uri():
        browser.open(awkward["page"])
    folder = awkward["folder"]
    library = lagscan.lag_profile(lagscan.read_xy(folder / awkward["names"][i]),
                                  lagscan.read_xy(folder / awkward["names"][j]), S)
    shown = browser.driver.execute_script(NORMALISED_BITS, i, j)
    assert shown["normalised"] == expected_bits(library.normalised)
    assert shown["bestLag"] == library.best_lag
    browser.api("show", i, j)
    assert "wins" in browser.driver.find_element("id", "pair-words").text


def test_groups_with_a_nan_file_are_the_programs(browser, awkward):
    browser.open(awkward["page"])
    rows = [line.split("\t") for line in awkward["groups"].decode().splitlines()[1:]]
    names = awkward["names"]
    expected = [0] * len(names)
    for row in rows:
        expected[names.index(row[0])] = int(row[1]) - 1
    assert browser.api("groups")["groupOf"] == expected


def test_a_set_of_one_file(browser, tmp_path):
    write_xy(tmp_path / "only.xy", np.sin(np.arange(COUNT) / 2.0))
    out = run_matrix(["--report", "one.html", str(S), "only.xy"], tmp_path).stdout.decode()
    browser.open(tmp_path / "one.html")
    assert browser.api("names") == ["only.xy"]
    assert browser.api("groups")["sizes"] == [1]
    x, y = browser.cell(0, 0)
    browser.pointer(("move", x, y), ("click",))
    assert browser.api("tipLines")[:3] == ["only.xy", "only.xy", "value " + out.splitlines()[1].split("\t")[1]]
    assert browser.api("shown")["i"] == 0
    values = lagscan.read_xy(tmp_path / "only.xy")
    assert browser.driver.execute_script(NORMALISED_BITS, 0, 0)["normalised"] == \
        expected_bits(lagscan.lag_profile(values, values, S).normalised)


def test_a_reference_against_one_file(browser, tmp_path):
    write_xy(tmp_path / "ref.xy", np.sin(np.arange(COUNT) / 2.0))
    write_xy(tmp_path / "one.xy", np.cos(np.arange(COUNT) / 2.0))
    run_matrix(["--against", "ref.xy", "--report", "a.html", str(S), "one.xy"], tmp_path)
    browser.open(tmp_path / "a.html")
    assert browser.api("names") == ["ref.xy", "one.xy"]
    assert browser.api("shown")["j"] == 1
