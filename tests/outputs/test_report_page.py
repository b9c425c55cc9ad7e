"""The report page of a set of 24 files in Chromium: hover, the pair and its
profile to the library's bits, zoom, the groups at a threshold and at K,
the search, the ranked list of --against, and the same page from Python."""

from __future__ import annotations

import struct
from pathlib import Path

import numpy as np
import pytest

import lagscan
from conftest import groups_of, run_matrix, table_of, write_xy

S = 11
COUNT = 160


def bits(values):
    return [struct.pack("<d", float(v)).hex() for v in values]


# The page's doubles as the hex of their bytes, so that nothing in between
# (JSON, Python's float) could round them.
PROFILE_BITS = """
const p = window.lagscanReport.profile(arguments[0], arguments[1]);
const hex = (v) => { const b = new Uint8Array(new Float64Array([v]).buffer);
                     return Array.from(b, (x) => x.toString(16).padStart(2, '0')).join(''); };
return {lags: p.lags, sums: p.sums.map(hex), normalised: p.normalised.map(hex), bestLag: p.bestLag,
        approximate: p.approximate};
"""


@pytest.fixture(scope="module")
def run(tmp_path_factory):
    """24 files in 6 families of shifted, noisy waves; the page, the table and
    a list of each file's nearest."""
    folder = tmp_path_factory.mktemp("set")
    rng = np.random.default_rng(7)
    t = np.arange(COUNT)
    names = []
    for k in range(24):
        family = k % 6
        wave = np.sin(t / (3.0 + family) + family) + 0.25 * rng.standard_normal(COUNT)
        wave = np.roll(wave, k // 6)  # each member a few samples later
        name = "w%02d.xy" % k
        write_xy(folder / name, wave)
        names.append(name)
    table = run_matrix(["--report", "set.html", S.__str__(), *names], folder).stdout
    nearest = run_matrix(["--top", "10", S.__str__(), *names], folder).stdout
    return {"folder": folder, "names": names, "table": table_of(table), "nearest": nearest.decode(),
            "page": folder / "set.html"}


@pytest.fixture
def page(browser, run):
    """The set's page, opened again when another test left it."""
    if browser.driver.current_url != run["page"].resolve().as_uri():
        timing = browser.open(run["page"])
        assert timing["ready"] > 0
    return browser


def test_the_page_holds_the_names_and_the_whole_table(page, run):
    assert page.api("names") == run["names"]
    assert page.api("exactTable") is True
    assert page.api("exactSignals") is True


@pytest.mark.parametrize("i, j", [(0, 6), (3, 17), (5, 5), (23, 0)])
def test_hovering_a_cell_shows_both_names_its_value_and_groups(page, run, i, j):
    x, y = page.cell(i, j)
    page.pointer(("move", x, y))
    lines = page.api("tipLines")
    names = run["names"]
    groups = page.api("groups")["groupOf"]
    # The value exactly as the table prints it, with the run's 9 digits.
    value = run["table"][i + 1][j + 1]
    assert lines == [names[i], names[j], "value " + value, "groups %d and %d" % (groups[i] + 1, groups[j] + 1)]


@pytest.mark.parametrize("i, j", [(0, 6), (1, 13), (2, 20), (7, 4), (9, 9)])
def test_clicking_a_cell_draws_the_pair_and_its_profile_to_the_librarys_bits(page, run, i, j):
    x, y = page.cell(i, j)
    page.pointer(("move", x, y), ("click",))
    assert page.api("shown") == {"i": i, "j": j, "bestLag": page.api("shown")["bestLag"], "shifted": True,
                                 "approximate": False}
    a = lagscan.read_xy(run["folder"] / run["names"][i])
    b = lagscan.read_xy(run["folder"] / run["names"][j])
    library = lagscan.lag_profile(a, b, S)
    shown = page.driver.execute_script(PROFILE_BITS, i, j)
    assert shown["lags"] == list(library.lags)
    assert shown["sums"] == bits(library.sums)
    assert shown["normalised"] == bits(library.normalised)
    assert shown["bestLag"] == library.best_lag
    assert page.api("shown")["bestLag"] == library.best_lag
    words = page.driver.find_element("id", "pair-words").text
    assert ("Lag %d wins" % library.best_lag) in words
    # Both plots drew something besides their white frame.
    for canvas in ("pair-plot", "profile-plot"):
        coloured = page.driver.execute_script(
            "const c = document.getElementById(arguments[0]); const d = c.getContext('2d')"
            ".getImageData(0, 0, c.width, c.height).data; let n = 0;"
            "for (let k = 0; k < d.length; k += 4) if (d[k] !== d[k + 2]) ++n; return n;", canvas)
        assert coloured > 100, canvas


def test_the_shift_toggle_plots_the_second_signal_unshifted(page):
    page.api("show", 0, 6)
    page.driver.find_element("id", "shifted").click()
    assert page.api("shown")["shifted"] is False
    page.driver.find_element("id", "shifted").click()
    assert page.api("shown")["shifted"] is True


def test_dragging_a_rectangle_zooms_and_a_double_click_resets(page, run):
    page.api("reset")
    view = page.api("view")
    assert view == {"r0": 0, "r1": 24, "c0": 0, "c1": 24}
    box = page.driver.execute_script(
        "const r = document.getElementById('map-overlay').getBoundingClientRect(); return [r.left, r.top, r.width];")
    left, top, width = box
    cell = width / 24
    # From the cell at leaf positions (2, 3) to (9, 12).
    page.pointer(("move", left + 3.5 * cell, top + 2.5 * cell), ("down",),
                 ("move", left + 8 * cell, top + 6 * cell),
                 ("move", left + 12.5 * cell, top + 9.5 * cell), ("up",))
    assert page.api("view") == {"r0": 2, "r1": 10, "c0": 3, "c1": 13}
    # Hovering a zoomed cell names the files at those leaf positions.
    page.pointer(("move", left + 1, top + 1))
    lines = page.api("tipLines")
    order = page.api("order")
    # The zoomed view's first row is the file at leaf position 2, its first
    # column the one at position 3.
    assert lines[:2] == [run["names"][order[2]], run["names"][order[3]]]
    page.pointer(("move", left + width / 2, top + width / 2), ("double",))
    assert page.api("view") == {"r0": 0, "r1": 24, "c0": 0, "c1": 24}


def test_clicking_a_branch_zooms_to_its_files(page):
    page.api("reset")
    box = page.driver.execute_script(
        "const r = document.getElementById('tree').getBoundingClientRect(); return [r.left, r.top, r.width, r.height];")
    left, top, width, height = box
    # Just left of the leaves: the lowest join above the first leaf.
    page.pointer(("move", left + width - 6, top + height / 48), ("click",))
    view = page.api("view")
    assert view["r0"] == 0 and view["c0"] == 0
    assert 2 <= view["r1"] < 24 and view["r1"] == view["c1"]


@pytest.mark.parametrize("threshold", ["0.9", "0.5", "0.2", "-0.3", "1", "-1"])
def test_moving_the_cut_gives_the_groups_of_cluster_at(page, run, threshold):
    folder = run["folder"]
    run_matrix(["--cluster-at", threshold, "--clusters-out", "g.tsv", "-o", "/dev/null", str(S), *run["names"]], folder)
    expected = groups_of(folder / "g.tsv", run["names"])
    box = page.driver.find_element("id", "threshold-value")
    box.clear()
    box.send_keys(threshold + "\n")
    page.driver.execute_script("document.getElementById('threshold-value').dispatchEvent(new Event('change'))")
    assert page.api("groups") == expected
    assert page.api("groupsAt", float(threshold)) == expected
    # The table of groups lists each with its size and medoid.
    rows = page.driver.execute_script(
        "return Array.from(document.querySelectorAll('#groups-body tr'), (r) => Array.from(r.cells, (c) => c.textContent));")
    assert [(int(r[1]), r[2]) for r in rows] == [(size, run["names"][m]) for size, m in
                                                 zip(expected["sizes"], expected["medoids"])]


def test_a_cut_at_the_height_of_a_join_keeps_that_join_as_the_program_does(page, run):
    # The threshold 1 - height of joins: the comparison at the boundary.
    tree = run["folder"] / "tree.tsv"
    run_matrix(["--tree-out", str(tree), "-o", "/dev/null", str(S), *run["names"]], run["folder"])
    for line in tree.read_text().splitlines()[::4]:
        height = float(line.split("\t")[2])
        t = repr(1.0 - height)
        run_matrix(["--cluster-at", t, "--clusters-out", "g.tsv", "-o", "/dev/null", str(S), *run["names"]],
                   run["folder"])
        assert page.api("groupsAt", float(t)) == groups_of(run["folder"] / "g.tsv", run["names"]), t


@pytest.mark.parametrize("k", [1, 3, 6, 24])
def test_the_k_box_gives_the_groups_of_clusters(page, run, k):
    folder = run["folder"]
    run_matrix(["--clusters", str(k), "--clusters-out", "g.tsv", "-o", "/dev/null", str(S), *run["names"]], folder)
    expected = groups_of(folder / "g.tsv", run["names"])
    box = page.driver.find_element("id", "clusters")
    box.clear()
    box.send_keys(str(k) + "\n")
    page.driver.execute_script("document.getElementById('clusters').dispatchEvent(new Event('change'))")
    assert page.api("groups") == expected


def test_the_search_finds_a_file_and_lists_its_nearest(page, run):
    box = page.driver.find_element("id", "search")
    box.clear()
    box.send_keys("w13")
    buttons = page.driver.find_elements("css selector", "#matches button")
    assert [b.text for b in buttons] == ["w13.xy"]
    buttons[0].click()
    assert page.driver.find_element("id", "found-name").text == "w13.xy"
    listed = [item.text for item in page.driver.find_elements("css selector", "#nearest li")]
    # --top 10's lines for w13.xy: "w13.xy<TAB>other<TAB>value".
    expected = ["%s %s" % tuple(line.split("\t")[1:]) for line in run["nearest"].splitlines()
                if line.startswith("w13.xy\t")]
    assert listed == expected
    assert len(listed) == 10


def test_the_ranked_list_of_against_overlays_the_reference_on_each_match(browser, run, tmp_path):
    folder = run["folder"]
    names = run["names"]
    out = run_matrix(["--against", names[0], "--report", str(tmp_path / "against.html"), str(S), *names[1:]],
                     folder).stdout.decode()
    browser.open(tmp_path / "against.html")
    ranked = browser.driver.execute_script(
        "return Array.from(document.querySelectorAll('#ranked-body tr'), (r) => [r.cells[1].textContent,"
        " r.cells[2].textContent, r.cells[3].querySelectorAll('canvas').length]);")
    expected = [line.split("\t") for line in out.splitlines()[1:]]
    assert [r[:2] for r in ranked] == expected
    assert all(r[2] == 1 for r in ranked)
    assert browser.api("names") == names
    reference = lagscan.read_xy(folder / names[0])
    for j in (1, 5, 22):
        library = lagscan.lag_profile(reference, lagscan.read_xy(folder / names[j]), S)
        shown = browser.driver.execute_script(PROFILE_BITS, 0, j)
        assert shown["normalised"] == bits(library.normalised)
        assert shown["bestLag"] == library.best_lag
    # The first match is shown at once.
    assert browser.api("shown")["i"] == 0


def test_lagscan_report_writes_the_programs_page(run, tmp_path):
    paths = [str(run["folder"] / name) for name in run["names"]]
    lagscan.report(paths, S, tmp_path / "py.html", names=run["names"])
    assert (tmp_path / "py.html").read_bytes() == run["page"].read_bytes()
    assert [p.name for p in tmp_path.iterdir()] == ["py.html"]  # no temporary file stays


def test_lagscan_report_refuses_to_write_over_an_input(run):
    paths = [run["folder"] / name for name in run["names"][:3]]
    before = paths[1].read_bytes()
    with pytest.raises(ValueError, match="would overwrite an input"):
        lagscan.report(paths, S, paths[1])
    assert paths[1].read_bytes() == before


def test_a_screenshot_of_the_page_is_kept(page, run):
    page.api("reset")
    box = page.driver.find_element("id", "threshold-value")
    box.clear()
    box.send_keys("0.5\n")
    page.driver.execute_script("document.getElementById('threshold-value').dispatchEvent(new Event('change'))")
    x, y = page.cell(2, 8)
    page.pointer(("move", x, y), ("click",))
    page.driver.execute_script("window.scrollTo(0, 0)")
    x, y = page.cell(2, 8)
    page.pointer(("move", x, y))
    shot = page.screenshot("report-24-files.png")
    assert shot.stat().st_size > 10000


@pytest.mark.parametrize("arguments, message", [
    ({"names": ["a", "b"]}, "names: 2 names for 3 sequences"),
    ({"clusters": 2, "cluster_at": 0.5}, "clusters and cluster_at cut the tree in two ways: give one"),
    ({"clusters": 4}, "clusters: there are only 3 sequences"),
    ({"cluster_at": 1.5}, "cluster_at: give a similarity from -1 to 1"),
    ({"digits": 18}, "digits must be from 1 to 17"),
])
def test_lagscan_report_refuses_what_does_not_fit_and_writes_nothing(tmp_path, arguments, message):
    waves = [np.sin(np.arange(20) / k) for k in (2.0, 3.0, 4.0)]
    with pytest.raises(ValueError, match="^" + message + "$"):
        lagscan.report(waves, 5, tmp_path / "r.html", **arguments)
    assert list(tmp_path.iterdir()) == []


def test_lagscan_report_names_arrays_by_their_place(tmp_path, browser):
    waves = [np.sin(np.arange(30) / k) for k in (2.0, 3.0, 4.0)]
    lagscan.report(waves, 5, tmp_path / "r.html", clusters=2)
    browser.open(tmp_path / "r.html")
    assert browser.api("names") == ["1", "2", "3"]
    assert len(browser.api("groups")["sizes"]) == 2


@pytest.mark.parametrize("digits", ["1", "3", "9", "17"])
def test_every_value_reads_as_the_table_prints_it(browser, run, tmp_path, digits):
    folder = run["folder"]
    run_matrix(["--digits", digits, "-o", str(tmp_path / "t.tsv"), "--report", str(tmp_path / "d.html"), str(S),
                *run["names"]], folder)
    browser.open(tmp_path / "d.html")
    shown = browser.driver.execute_script(
        "const v = window.lagscanReport; const n = v.names().length; const out = [];"
        "for (let i = 0; i < n; ++i) { const row = [];"
        "  for (let j = 0; j < n; ++j) row.push(v.valueText(v.value(i, j))); out.push(row); } return out;")
    table = table_of((tmp_path / "t.tsv").read_bytes())
    assert shown == [row[1:] for row in table[1:]]


# Ties (0.125 to two digits is 0.12 in the C library, which rounds a tie to
# even, where JavaScript's toPrecision gives 0.13), exponents of one and
# three digits, signed zero, the largest and smallest doubles.
FORMATTED = [0.125, 0.375, 2.5, 3.5, -0.625, 1.0, -0.0, 0.0, 1e-5, 0.0001, 123456.0, 1234567.0, 9.9999e-5,
             0.999999999, 1e300, -1.5e-300, 5e-324, 1.7976931348623157e308, float("inf"), float("-inf"),
             0.1, 2.0 / 3.0, -1.0 / 3.0, 1e16, 12345678901234567890.0]


@pytest.mark.parametrize("digits", [1, 2, 3, 9, 16, 17])
def test_values_are_formatted_as_the_c_library_formats_them(page, digits):
    # As text, which JSON carries for infinities too; Number() reads it back
    # to the same double.
    texts = [repr(v).replace("inf", "Infinity") for v in FORMATTED]
    shown = page.driver.execute_script(
        "return arguments[0].map((v) => window.lagscanReport.valueText(Number(v), arguments[1]));", texts, digits)
    assert shown == ["%.*g" % (digits, v) for v in FORMATTED]
