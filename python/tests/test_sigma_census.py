"""The Python module against the command line and against sigma computed by
brute force: its answers, its refusals, and how it behaves in a Python
session (the GIL released, Ctrl-C, progress)."""
import os
import signal
import subprocess
import sys
import threading
import time

import numpy
import pytest

import sigma_census

PROGRAM = os.environ.get("SIGMA_CENSUS_PROGRAM", "sigma-census")


def sigma_table(top):
    sigma = [0] * (top + 1)
    for d in range(1, top + 1):
        for m in range(d, top + 1, d):
            sigma[m] += d
    return sigma


def command_line_histogram(L1, L2):
    out = subprocess.run([PROGRAM, "--format=tsv", str(L1), str(L2)], check=True, capture_output=True, text=True)
    rows = [line.split("\t") for line in out.stdout.splitlines()[1:]]
    return {int(n): int(k) for n, k in rows}


@pytest.mark.parametrize("L1, L2", [(1, 2_000_000), (10**12, 10**12 + 200_000), (2**63 - 20_001, 2**63 - 1)])
def test_histogram_and_counts_are_the_command_line_s(L1, L2):
    histogram = sigma_census.histogram(L1, L2)
    assert histogram == command_line_histogram(L1, L2)
    counts = sigma_census.counts(L1, L2)
    assert counts.dtype == numpy.int64 and counts.shape == (L2 - L1 + 1,)
    values, tally = numpy.unique(counts, return_counts=True)
    assert dict(zip(values.tolist(), tally.tolist())) == histogram


def test_counts_and_preimages_agree_with_brute_force():
    top = 20_000
    sigma = sigma_table(top)
    preimages = {}
    for m in range(1, top + 1):
        if sigma[m] <= top:
            preimages.setdefault(sigma[m], []).append(m)
    counts = sigma_census.counts(1, top)
    for S in range(1, top + 1):
        assert counts[S - 1] == len(preimages.get(S, []))
    # Each call sets up its own arithmetic (tens of milliseconds): a sample.
    for S in list(range(1, 25)) + [720, 1440, 4320, 10080, 17280, 19440, 19997]:
        assert sigma_census.preimages(S) == preimages.get(S, [])
        assert sigma_census.count(S) == len(preimages.get(S, []))


def test_bounds_outside_the_range_are_refused_with_the_reason():
    for L1, L2 in [(0, 5), (-3, 5), (1, 2**63), (1, 10**30), (2**64 + 1, 2**64 + 2)]:
        with pytest.raises(ValueError, match="outside"):
            sigma_census.histogram(L1, L2)
    with pytest.raises(ValueError, match="above"):
        sigma_census.counts(6, 5)
    with pytest.raises(ValueError, match="above"):
        sigma_census.histogram(6, 5)
    for bad in [1.5, "12", True, None]:
        with pytest.raises(TypeError):
            sigma_census.count(bad)
    with pytest.raises(ValueError, match="outside"):
        sigma_census.preimages(2**63)
    with pytest.raises(ValueError, match="15 preimages, more than limit = 14"):
        sigma_census.preimages(720, limit=14)
    with pytest.raises(ValueError, match="memory"):
        sigma_census.histogram(1, 10, memory=1000)


def test_progress_is_told_and_its_errors_reach_the_caller():
    seen = []
    sigma_census.histogram(1, 300_000_000, progress=seen.append, threads=1)
    assert seen and all(0 <= f <= 1 for f in seen)

    def fail(done):
        raise ArithmeticError("stop here")

    with pytest.raises(ArithmeticError, match="stop here"):
        sigma_census.histogram(1, 300_000_000, progress=fail)


def test_the_gil_is_released_while_computing():
    done = threading.Event()
    result = {}

    def work():
        result["histogram"] = sigma_census.histogram(1, 400_000_000, threads=1)
        done.set()

    worker = threading.Thread(target=work)
    worker.start()
    spins = 0
    while not done.is_set():
        spins += 1
    worker.join()
    assert sum(result["histogram"].values()) == 400_000_000
    assert spins > 10_000  # this thread ran Python code all along


def test_ctrl_c_raises_keyboard_interrupt_and_abandons_the_calculation():
    script = (
        "import sigma_census, sys\n"
        "print('started', flush=True)\n"
        "try:\n"
        "    sigma_census.histogram(1, 2**40)\n"
        "except KeyboardInterrupt:\n"
        "    print('interrupted', flush=True)\n"
    )
    # Python installs its Ctrl-C handler only where SIGINT is not ignored, and
    # a job started in the background by a shell without job control (nohup
    # ... &) ignores it, as does every process it starts: the child hears it.
    child = subprocess.Popen(
        [sys.executable, "-c", script],
        stdout=subprocess.PIPE,
        text=True,
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
    )
    assert child.stdout.readline() == "started\n"
    time.sleep(1)
    child.send_signal(signal.SIGINT)
    out, _ = child.communicate(timeout=60)  # abandoned, not finished: [1, 2^40] takes an hour
    assert out == "interrupted\n" and child.returncode == 0


def test_every_function_is_documented_and_the_version_is_the_program_s():
    for name in ["histogram", "counts", "count", "preimages"]:
        assert len(getattr(sigma_census, name).__doc__) > 40
    version = subprocess.run([PROGRAM, "--version"], check=True, capture_output=True, text=True).stdout
    assert version.startswith("sigma-census " + sigma_census.__version__ + " ")
