"""The module and Python's threads and signals: the GIL is released while
computing, Ctrl-C stops a long matrix within a second and leaves the
interpreter usable, and progress reaches the caller."""

import os
import signal
import subprocess
import sys
import threading
import time

import pytest

import lagscan
from conftest import CHILD_SECONDS, random_values


def counting_while(call):
    """How many times another Python thread went round its loop while call
    ran on this one."""
    count = 0
    running = True

    def count_up():
        nonlocal count
        while running:
            count += 1
            time.sleep(0.001)

    counter = threading.Thread(target=count_up)
    counter.start()
    time.sleep(0.05)
    try:
        before = count
        started = time.monotonic()
        call()
        seconds = time.monotonic() - started
        during = count - before
    finally:
        running = False
        counter.join()
    return during, seconds


def long_correlation():
    a, b = random_values(2_000_000, 1), random_values(2_000_000, 2)
    return lambda: lagscan.correlation(a, b, 1601, threads=1)


def long_matrix():
    sets = [random_values(20_000, k) for k in range(60)]
    return lambda: lagscan.matrix(sets, 401, threads=1)


def long_against():
    sets = [random_values(20_000, k) for k in range(300)]
    return lambda: lagscan.against(sets[0], sets, 1601, threads=1)


# name: the data of a call of a few tenths of a second on one thread (some
# 10^10 multiply-adds), and the call; the data is made first, as numpy's
# generator itself lets other threads run.
LONG_CALLS = {"correlation": long_correlation, "matrix": long_matrix, "against": long_against}


@pytest.mark.parametrize("name", LONG_CALLS)
def test_other_threads_run_during_a_call(name):
    during, seconds = counting_while(LONG_CALLS[name]())
    assert seconds > 0.1, "the call is too short to show anything"
    # Holding the GIL, the counter would not move at all (at most once, when
    # the interpreter switches threads before the call takes the GIL).
    assert during >= 10, "%d rounds of the other thread in %.2f s" % (during, seconds)


def test_calls_from_several_threads_at_once_give_the_same_bits():
    sets = [random_values(3000, k) for k in range(12)]
    expected = {
        "matrix": lagscan.matrix(sets, 51).tobytes(),
        "fast": lagscan.matrix(sets, 51, fast=True).tobytes(),
        "against": lagscan.against(sets[0], sets, 51).tobytes(),
        "profile": lagscan.lag_profile(sets[1], sets[2], 51).normalised.tobytes(),
    }
    calls = {
        "matrix": lambda: lagscan.matrix(sets, 51, threads=2).tobytes(),
        "fast": lambda: lagscan.matrix(sets, 51, fast=True, threads=2).tobytes(),
        "against": lambda: lagscan.against(sets[0], sets, 51, threads=1).tobytes(),
        "profile": lambda: lagscan.lag_profile(sets[1], sets[2], 51).normalised.tobytes(),
    }
    results = {}

    def run(name, k):
        results[name, k] = calls[name]()

    threads = [threading.Thread(target=run, args=(name, k)) for name in calls for k in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=CHILD_SECONDS)
    assert len(results) == len(threads)
    for (name, _), got in results.items():
        assert got == expected[name], name


def test_progress_reaches_the_caller_on_its_thread():
    calls = []

    def report(done, total):
        calls.append((done, total, threading.get_ident()))

    lagscan.matrix([random_values(20_000, k) for k in range(40)], 201, threads=2, progress=report)
    assert calls, "no progress was reported during a run of some seconds"
    assert {ident for _, _, ident in calls} == {threading.get_ident()}
    totals = {total for _, total, _ in calls}
    assert len(totals) == 1
    done = [d for d, _, _ in calls]
    assert done == sorted(done) and 0 <= done[0] and done[-1] <= totals.pop()


def test_an_exception_in_the_report_cancels_the_run():
    class Stop(Exception):
        pass

    def report(done, total):
        raise Stop()

    started = time.monotonic()
    with pytest.raises(Stop):
        lagscan.matrix([random_values(20_000, k) for k in range(200)], 201, threads=1, progress=report)
    assert time.monotonic() - started < 5  # the whole run would take minutes


# A child interpreter that computes a long matrix, says so once the work is
# under way (its first report of pairs done), and reports the monotonic time
# at which KeyboardInterrupt reached it; then it shows that it still works.
CHILD = r"""
import sys, time
import numpy as np
import lagscan
count, n, s, fast = %s
sets = [np.random.default_rng(k).standard_normal(n) for k in range(count)]
said = False
def report(done, total):
    global said
    if done > 0 and not said:
        said = True
        print("under way", flush=True)
try:
    lagscan.matrix(sets, s, fast=fast, threads=1, progress=report)
    print("finished", flush=True)
except KeyboardInterrupt:
    print("interrupted %%r" %% time.monotonic(), flush=True)
print("after", lagscan.correlation([1.0, 2.0, 3.0], [1.0, 2.0, 3.0], 3), flush=True)
"""


# name: (sets, values per set, s, fast): seconds (fast) to minutes (exact) of
# work on one thread.
LONG_MATRICES = {
    "exact": (600, 10_000, 1001, False),
    "fast": (4000, 2_000, 101, True),
}


@pytest.mark.parametrize("how", LONG_MATRICES)
def test_ctrl_c_stops_a_long_matrix_within_a_second(how):
    child = subprocess.Popen([sys.executable, "-c", CHILD % (LONG_MATRICES[how],)], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, env=os.environ)
    try:
        assert child.stdout.readline() == "under way\n"
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=CHILD_SECONDS)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    lines = out.splitlines()
    assert len(lines) == 2 and lines[0].startswith("interrupted "), (out, err)
    delay = float(lines[0].split()[1]) - sent
    assert delay < 1.0, "KeyboardInterrupt came %.2f s after the signal" % delay
    assert lines[1] == "after 1.0"
    assert child.returncode == 0, err


PROGRESS_CHILD = r"""
import sys
%s
import numpy as np
import lagscan
sets = [np.random.default_rng(k).standard_normal(20_000) for k in range(40)]
lagscan.matrix(sets, 201, threads=1, progress=True)
print("done", flush=True)
"""


@pytest.mark.parametrize("tqdm", [True, False])
def test_progress_true_draws_on_standard_error(tqdm):
    if tqdm:
        pytest.importorskip("tqdm")
    hide = "" if tqdm else "sys.modules['tqdm'] = None  # as if tqdm were not installed"
    done = subprocess.run([sys.executable, "-c", PROGRESS_CHILD % hide], capture_output=True, timeout=CHILD_SECONDS)
    # Bytes: text mode would read each carriage return as a line end.
    err = done.stderr.decode()
    assert done.returncode == 0, err
    assert done.stdout == b"done\n"
    if tqdm:
        assert "lagscan:" in err and "pair" in err and "%|" in err
    else:
        # A line redrawn in place, up to the whole, then cleared.
        assert err.startswith("\rlagscan: 0% (0 of 780)\r") and "\rlagscan: 100% (780 of 780)" in err, err
        assert err.endswith("\r\033[K")
