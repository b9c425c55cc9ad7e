"""The report page of 20,000 files (a packed set, --fast) in Chromium: within
its budget it holds block means, each file's nearest exactly and envelopes
of the signals, and says so; it opens, answers hovers and keeps the run's
groups with their medoids.

The run itself takes about two minutes on two busy processors, so this test
has a limit of its own (tests/outputs/CMakeLists.txt)."""

from __future__ import annotations

import numpy as np
import pytest

import lagscan
from conftest import run_matrix

N = 20000
COUNT = 64
S = 9


@pytest.fixture(scope="module")
def large(tmp_path_factory):
    folder = tmp_path_factory.mktemp("large")
    rng = np.random.default_rng(11)
    family = rng.integers(0, 40, N)
    t = np.arange(COUNT)
    values = np.sin(t[None, :] / (2 + 0.2 * family[:, None]) + family[:, None]) + 0.3 * rng.standard_normal((N, COUNT))
    np.save(folder / "set.npy", values)
    names = ["file%05d.xy" % k for k in range(N)]
    (folder / "set.names").write_text("".join(name + "\n" for name in names))
    groups = run_matrix(["--fast", "--clusters", "40", "--report", "large.html", str(S), "set.npy"], folder,
                        timeout=540).stdout.decode()
    return {"folder": folder, "values": values, "names": names, "groups": groups, "page": folder / "large.html"}


def test_the_page_of_20000_files_keeps_its_budget_and_opens(browser, large):
    size = large["page"].stat().st_size
    assert size < 16_000_000, size
    timing = browser.open(large["page"])
    assert timing["ready"] < 30_000
    driver = browser.driver
    assert len(browser.api("names")) == N
    assert browser.api("exactTable") is False
    assert browser.api("exactSignals") is False
    notes = driver.find_element("id", "notes").text
    assert "means of blocks of 40 files" in notes and "10 nearest files exactly" in notes
    assert "envelopes" in notes
    browser.screenshot("report-20000-files.png")


def test_the_runs_groups_come_with_their_medoids(browser, large):
    if browser.driver.current_url != large["page"].as_uri():
        browser.open(large["page"])
    rows = [line.split("\t") for line in large["groups"].splitlines()[1:]]
    names = large["names"]
    group_of = [0] * N
    medoids = {}
    for row in rows:
        k = int(row[0][4:9])
        group_of[k] = int(row[1]) - 1
        medoids[int(row[1]) - 1] = int(row[3][4:9])
    groups = browser.api("groups")
    assert groups["groupOf"] == group_of
    assert groups["medoids"] == [medoids[g] for g in range(40)]
    assert names[groups["medoids"][0]] in browser.driver.find_element("id", "groups-body").text
    # Another cut has no medoids to show: the page says why.
    assert browser.api("groupsInto", 12)["medoids"] is None


@pytest.mark.parametrize("i", [0, 777, 19999])
def test_each_files_nearest_are_held_exactly(browser, large, i):
    if browser.driver.current_url != large["page"].as_uri():
        browser.open(large["page"])
    values = large["values"]
    row = lagscan.against(values[i], values, S, fast=True)
    row[i] = -np.inf
    nearest = browser.api("nearest", i, 10)
    best = np.argsort(-row, kind="stable")[:10]
    assert [item["index"] for item in nearest] == list(best)
    for item in nearest:
        exact = lagscan.correlation(values[i], values[item["index"]], S)
        assert abs(item["value"] - exact) <= 1e-12
        assert browser.api("value", i, item["index"]) == item["value"]


def test_zoomed_in_at_20000_files_a_hover_names_the_cell(browser, large):
    if browser.driver.current_url != large["page"].as_uri():
        browser.open(large["page"])
    order = browser.api("order")
    position = {f: p for p, f in enumerate(order)}
    names = large["names"]
    nearest = browser.api("nearest", 5, 10)
    for i, j in ((5, 17), (5, nearest[0]["index"])):
        p, q = position[i], position[j]
        browser.api("zoom", max(0, p - 4), p + 5, max(0, q - 4), q + 5)
        x, y = browser.cell(i, j)
        browser.pointer(("move", x, y))
        lines = browser.api("tipLines")
        assert lines[:2] == [names[i], names[j]]
        if j == nearest[0]["index"]:
            assert lines[2] == "value " + browser.api("valueText", nearest[0]["value"])
        else:
            assert lines[2].startswith("block mean ")
    browser.api("reset")
