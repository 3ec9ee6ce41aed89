"""The hostile caller (hostile_caller.py) and threads that change an array's description
while calls run, each in child processes: a crash ends one child and is counted, and the
rules decide every outcome (the TypeError of a refused array, or the relation over the
array as it was when it was checked)."""

import json

import pytest

from support import record_figure, run_python, workload

CHILDREN = 4
THREAD_CHILDREN = 2


@pytest.fixture(scope="module")
def tally():
    counts = {"calls": 0, "thread_calls": 0, "crashes": 0, "mismatches": 0, "completed": 0}
    yield counts
    if counts["completed"] == CHILDREN + THREAD_CHILDREN:
        record_figure("hostile_calls", counts["calls"])
        record_figure("hostile_thread_calls", counts["thread_calls"])
        record_figure("hostile_crashes", counts["crashes"])
        record_figure("hostile_mismatches", counts["mismatches"])


def outcome_of(child, tally):
    """The child's JSON line, the child counted as completed; a child that died or printed
    none is counted as a crash and fails the test."""
    if child.returncode != 0 or not child.stdout.strip():
        tally["crashes"] += 1
        pytest.fail(f"the child died ({child.returncode}): {child.stderr[-2000:]}")
    tally["completed"] += 1
    return json.loads(child.stdout.strip().splitlines()[-1])


@pytest.mark.parametrize("seed", range(CHILDREN))
def test_hostile_conversions(seed, tally):
    calls = workload("VENTAROXI_HOSTILE_CALLS", 4000) // CHILDREN
    child = run_python(
        "import sys, hostile_caller; hostile_caller.main(int(sys.argv[1]), int(sys.argv[2]))",
        str(seed),
        str(calls),
        timeout=1200,
    )
    outcome = outcome_of(child, tally)
    tally["calls"] += outcome["calls"]
    tally["mismatches"] += outcome["mismatches"]
    assert outcome["mismatches"] == 0, outcome["examples"]


# A thread changes the array's description over and over while this thread calls a function
# whose `ga` conversion runs Python code (Fraction.__float__), so that the interpreter may
# switch threads in the middle of the call; the switch interval is made tiny to switch often.
TOGGLING = r"""
import json, sys, threading, time
from fractions import Fraction
import numpy as np
import ventaroxi as vx

change, seconds = sys.argv[1], float(sys.argv[2])
sys.setswitchinterval(1e-6)
a = np.linspace(1.0, 3.0, 4096)
values = a.copy()
# Mash_from_Ma takes any float64 array, To_T_from_Ma only one-dimensional ones.
function = vx.Mash_from_Ma if change == "dtype" else vx.To_T_from_Ma
expected = {(4096,): function(values, 1.4)}
stop = False

def toggle():
    # Each change is followed by a switch, so that a call may start on either description.
    while not stop:
        if change == "dtype":
            a.dtype = np.float32
            time.sleep(0)
            a.dtype = np.float64
        else:
            a.shape = (64, 64)
            time.sleep(0)
            a.shape = (4096,)
        time.sleep(0)

thread = threading.Thread(target=toggle)
thread.start()
message = "argument 'Ma': 'ndarray' object cannot be converted to 'PyArray<T, D>'"
calls = refused = wrong = 0
end = time.monotonic() + seconds
while time.monotonic() < end:
    calls += 1
    try:
        result = function(a, Fraction(7, 5))
    except TypeError as error:
        refused += 1
        wrong += str(error) != message
        continue
    reference = expected.get(result.shape)
    wrong += reference is None or result.tobytes() != reference.tobytes()
stop = True
thread.join()
print(json.dumps({"calls": calls, "refused": refused, "wrong": wrong}))
"""


@pytest.mark.parametrize("change", ["dtype", "shape"])
def test_threads_changing_the_description_during_calls(change, tally):
    seconds = workload("VENTAROXI_THREAD_SECONDS", 1.0)
    child = run_python(TOGGLING, change, str(seconds), timeout=600)
    outcome = outcome_of(child, tally)
    tally["thread_calls"] += outcome["calls"]
    tally["mismatches"] += outcome["wrong"]
    assert outcome["calls"] > outcome["refused"] > 0 and outcome["wrong"] == 0, outcome
