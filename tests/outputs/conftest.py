"""The report page in a real headless Chromium: the browser and its driver,
the program that writes the pages, and the data files they show.

Each test module starts one chromedriver with one Chromium and stops both
when it ends, whatever happened (the driver's quit, then the processes
themselves if they are still there). Every wait has a limit, so a page
that never becomes ready fails within a minute. Pages are opened from
file:// with the network cut off (no proxy, every host name unresolvable),
and each open checks the browser's console and network logs.
"""

from __future__ import annotations

import json
import os
import shutil
import subprocess
import tempfile
from pathlib import Path
from typing import Dict, List, Sequence

import pytest

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.actions.action_builder import ActionBuilder
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:  # pragma: no cover - the machine lacks python3-selenium
    pytest.exit("python3-selenium is not installed", returncode=77)

CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"
CHROMEDRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"
if not (os.access(CHROMIUM, os.X_OK) and os.access(CHROMEDRIVER, os.X_OK)):
    pytest.exit("chromium and chromium-driver are not installed", returncode=77)

MATRIX = os.environ.get("LAGSCAN_MATRIX", "")
ARTEFACTS = Path(os.environ.get("LAGSCAN_REPORT_ARTEFACTS", tempfile.gettempdir())) / "report-artefacts"
WAIT = 60  # seconds: the most any page or step may take


def run_matrix(args: Sequence[str], cwd: Path, timeout: float = 120) -> subprocess.CompletedProcess:
    """lagscan-matrix with args in cwd; a failed run fails the test with its stderr."""
    done = subprocess.run([MATRIX, *args], cwd=cwd, capture_output=True, timeout=timeout)
    assert done.returncode == 0, done.stderr.decode(errors="replace")
    return done


def write_xy(path: Path, values: Sequence[float]) -> None:
    path.write_text("".join("%d %r\n" % (k, float(v)) for k, v in enumerate(values)))


def table_of(tsv: bytes) -> List[List[str]]:
    """The cells of a TSV table as text, the header row first."""
    return [line.split("\t") for line in tsv.decode().splitlines()]


def groups_of(tsv: Path, names: Sequence[str]) -> Dict[str, object]:
    """--clusters-out's groups as the page's script interface gives them."""
    rows = [line.split("\t") for line in tsv.read_text().splitlines()[1:]]
    group_of = {row[0]: int(row[1]) - 1 for row in rows}
    medoid_of = {int(row[1]) - 1: names.index(row[3]) for row in rows}
    sizes = {int(row[1]) - 1: int(row[2]) for row in rows}
    return {
        "groupOf": [group_of[name] for name in names],
        "sizes": [sizes[g] for g in range(len(sizes))],
        "medoids": [medoid_of[g] for g in range(len(medoid_of))],
    }


class Browser:
    """A headless Chromium driven through chromedriver."""

    def __init__(self, profile: Path) -> None:
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in (
            "--headless=new",
            "--no-sandbox",  # the tests may run as root
            "--disable-gpu",
            "--disable-dev-shm-usage",
            "--window-size=1700,1300",
            "--user-data-dir=%s" % profile,
            # No network: no proxy lookups, no name resolves.
            "--no-proxy-server",
            "--host-resolver-rules=MAP * ~NOTFOUND",
            "--disable-background-networking",
            "--disable-component-update",
            "--no-first-run",
            "--no-default-browser-check",
        ):
            options.add_argument(argument)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
        self.service = Service(CHROMEDRIVER, log_path=os.devnull)
        self.driver = None
        self.service.start()
        try:
            self.driver = webdriver.Chrome(service=self.service, options=options)
            self.driver.set_page_load_timeout(WAIT)
            self.driver.set_script_timeout(WAIT)
        except BaseException:
            self.close()
            raise

    def close(self) -> None:
        try:
            if self.driver is not None:
                self.driver.quit()
        finally:
            process = getattr(self.service, "process", None)
            try:
                self.service.stop()
            finally:
                if process is not None and process.poll() is None:
                    process.kill()
                    process.wait(timeout=10)

    def open(self, page: Path) -> Dict[str, object]:
        """Opens the page, waits until it is ready and checks that it logged
        no error and asked for nothing but itself. Returns the page's timing."""
        driver = self.driver
        # Whatever the tab showed before (the browser's new-tab page at the
        # start) is left and its log dropped.
        driver.get("about:blank")
        driver.get_log("browser")
        driver.get_log("performance")
        url = page.resolve().as_uri()
        driver.get(url)
        WebDriverWait(driver, WAIT).until(
            lambda d: d.execute_script("return !!(window.lagscanReport && window.lagscanReport.ready)"))
        errors = [entry for entry in driver.get_log("browser") if entry["level"] in ("SEVERE", "WARNING")]
        assert errors == [], errors
        # The page's own requests (its target is its window), and those of
        # the whole browser: its own pages load from chrome://, but nothing
        # may reach for the network.
        page_requests = []
        network = []
        for entry in driver.get_log("performance"):
            log = json.loads(entry["message"])
            message = log["message"]
            if message["method"] != "Network.requestWillBeSent":
                continue
            request = message["params"]["request"]["url"]
            if log.get("webview") == driver.current_window_handle:
                page_requests.append(request)
            if not request.startswith(("chrome:", "file:", "data:", "about:", "devtools:")):
                network.append(request)
        assert page_requests == [url], page_requests
        assert network == [], network
        return driver.execute_script(
            "return {ready: window.lagscanReport.readyTime,"
            " load: performance.getEntriesByType('navigation')[0].loadEventEnd}")

    def api(self, call: str, *args):
        """window.lagscanReport.<call>(args...)."""
        return self.driver.execute_script("return window.lagscanReport.%s(...arguments)" % call, *args)

    def pointer(self, *steps) -> None:
        """Mouse steps at points of the window (its viewport): ("move", x, y),
        ("down",), ("up",), ("click",), ("double",)."""
        actions = ActionBuilder(self.driver)
        mouse = actions.pointer_action
        for step in steps:
            if step[0] == "move":
                mouse.move_to_location(int(round(step[1])), int(round(step[2])))
            elif step[0] == "down":
                mouse.pointer_down()
            elif step[0] == "up":
                mouse.pointer_up()
            elif step[0] == "click":
                mouse.click()
            elif step[0] == "double":
                mouse.double_click()
        actions.perform()

    def cell(self, i: int, j: int):
        """The map's cell of files i and j, scrolled into view: its centre."""
        self.driver.execute_script("document.getElementById('map').scrollIntoView({block: 'center'})")
        centre = self.api("cellCentre", i, j)
        return centre["x"], centre["y"]

    def screenshot(self, name: str) -> Path:
        ARTEFACTS.mkdir(parents=True, exist_ok=True)
        path = ARTEFACTS / name
        self.driver.save_screenshot(str(path))
        return path


@pytest.fixture(scope="module")
def browser(tmp_path_factory):
    b = Browser(tmp_path_factory.mktemp("chromium-profile"))
    try:
        yield b
    finally:
        b.close()
