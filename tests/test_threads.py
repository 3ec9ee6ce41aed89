"""Calls from many threads: identical results, one-time set-up done once, the lock held."""

import itertools
import json
import sys
import threading
import time

import numpy as np
import pytest

import ventaroxi as vx

from functions import FUNCTIONS
from support import record_figure, run_python, workload

THREADS = 8
SECONDS = workload("VENTAROXI_THREAD_SECONDS", 0.5)

# Each function's argument spans its domain and a little beyond, with the values that take
# special paths: NaN, infinities, signed zeros.
SPECIAL = [np.nan, np.inf, -np.inf, 0.0, -0.0, 1.0]


def argument(function):
    values = np.concatenate([np.linspace(-0.5, 6.0, 250), SPECIAL])
    if not FUNCTIONS[function].one_dimensional:
        values = values.reshape(16, 16)
    values.flags.writeable = False
    return values


def calls():
    """Every function, with sup both ways where it has one."""
    for row in FUNCTIONS.values():
        for rest in dict.fromkeys((row.rest(1.4, True), row.rest(1.4, False))):
            yield getattr(vx, row.name), (argument(row.name), *rest)


CALLS = list(calls())


def bit_patterns(result):
    return np.ascontiguousarray(result).view(np.int64)


@pytest.fixture
def small_switch_interval():
    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # a switch between nearly every two calls
    yield
    sys.setswitchinterval(previous)


@pytest.mark.usefixtures("small_switch_interval")
def test_threads_get_the_results_of_one_thread():
    expected = [bit_patterns(function(*args)) for function, args in CALLS]
    counts, failures = [0] * THREADS, []
    start = threading.Barrier(THREADS)

    def work(thread):
        try:
            start.wait()
            deadline = time.monotonic() + SECONDS
            while time.monotonic() < deadline:
                # Each thread goes round the functions from its own starting point, so that
                # different functions run side by side.
                for k in range(len(CALLS)):
                    index = (k + 3 * thread) % len(CALLS)
                    function, args = CALLS[index]
                    patterns = bit_patterns(function(*args))
                    counts[thread] += 1
                    if not np.array_equal(patterns, expected[index]):
                        failures.append((thread, function.__name__))
        except BaseException as error:  # reported by the main thread
            failures.append((thread, repr(error)))

    workers = [threading.Thread(target=work, args=(t,)) for t in range(THREADS)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    record_figure("thread_mismatches", len(failures))
    record_figure("thread_calls", sum(counts))
    assert failures == []
    assert min(counts) >= len(CALLS)


RACE = """
import json, sys, threading
{setup}
import ventaroxi as vx

sys.setswitchinterval(1e-6)
start = threading.Barrier({threads})
outcomes = [None] * {threads}

def first_call(thread):
    start.wait()
    try:
        outcomes[thread] = {first_call}
    except BaseException as error:
        outcomes[thread] = ["raised", id(type(error)), type(error).__name__, str(error)]

workers = [threading.Thread(target=first_call, args=(t,)) for t in range({threads})]
for worker in workers:
    worker.start()
for worker in workers:
    worker.join()
print(json.dumps(outcomes))
"""

FIRST_CALLS = {
    # The NumPy table is fetched and the owner type of results created by the first calls.
    "results": (
        "import numpy as np\nx = np.linspace(0.5, 3.0, 1000)",
        "(lambda r: [id(type(r.base)), type(r.base).__name__, r.tobytes().hex()])"
        "(vx.Ma_from_A_Acrit(vx.A_Acrit_from_Ma(x, 1.4), 1.4, True))",
    ),
    # The fault's class is created by whichever fault comes first.
    "faults": (
        "import numpy as np\ndeep = np.zeros((1,) * 33)",
        "vx.Mash_from_Ma(deep, 1.4)",
    ),
    # NumPy itself is imported by the first calls, while the others wait for the fetch.
    "numpy import": ("", "vx.Mash_from_Ma([2.0], 1.4)"),
}


@pytest.mark.parametrize("case", FIRST_CALLS)
def test_racing_first_calls_of_a_process_agree(case):
    if case == "faults" and np.lib.NumpyVersion(np.__version__).major < 2:
        pytest.skip("NumPy 1 stops at 32 axes")
    setup, first_call = FIRST_CALLS[case]
    code = RACE.format(setup=setup, first_call=first_call, threads=THREADS)
    for _ in range(3):  # a fresh process each time: the race is only at the first call
        child = run_python(code)
        assert child.returncode == 0, child.stderr
        assert child.stderr == ""
        outcomes = json.loads(child.stdout)
        assert all(outcome == outcomes[0] for outcome in outcomes), outcomes
    expected_name = {"results": "PySliceContainer", "faults": "PanicException"}
    if case == "numpy import":
        message = "argument 'Ma': 'list' object cannot be converted to 'PyArray<T, D>'"
        assert outcomes[0][2:] == ["TypeError", message]
    elif case == "faults":
        assert outcomes[0][2] == "PanicException" and "32" in outcomes[0][3]
    else:
        assert outcomes[0][1] == expected_name[case]
        x = np.linspace(0.5, 3.0, 1000)
        expected = vx.Ma_from_A_Acrit(vx.A_Acrit_from_Ma(x, 1.4), 1.4, True)
        assert outcomes[0][2] == expected.tobytes().hex()


def longest_pause(ticks, begin, end):
    """The longest stretch of [begin, end] in which the ticking thread recorded nothing."""
    marks = [begin, *(t for t in ticks if begin < t < end), end]
    return max(b - a for a, b in itertools.pairwise(marks))


def ticks_around(call):
    """Runs `call` while another thread records timestamps as fast as it can."""
    ticks, stop = [], threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(time.perf_counter())

    ticker = threading.Thread(target=tick)
    ticker.start()
    while len(ticks) < 1000:  # the ticker is running before the call starts
        time.sleep(0.001)
    begin = time.perf_counter()
    call()
    end = time.perf_counter()
    after = len(ticks)
    while len(ticks) < after + 1000:  # and still runs after it
        time.sleep(0.001)
    stop.set()
    ticker.join()
    return ticks, begin, end


# A search per element that takes some 150 ns: a call of several hundred ms.
LONG_CALL_INPUT = np.linspace(1.0, 10.0, 3_000_000)


@pytest.mark.parametrize(
    "call, holds_lock",
    [
        (lambda: vx.Ma_from_A_Acrit(LONG_CALL_INPUT, 1.4, True), True),
        # The same criterion on a NumPy call that is known to let other threads run.
        (lambda: np.sort(np.random.default_rng(1).random(6_000_000)), False),
    ],
    ids=["ventaroxi call", "numpy sort, for contrast"],
)
def test_a_call_holds_the_interpreter_lock_throughout(call, holds_lock):
    previous = sys.getswitchinterval()
    sys.setswitchinterval(0.001)  # the ticker may take the lock at the edges of the call only
    try:
        ticks, begin, end = ticks_around(call)
    finally:
        sys.setswitchinterval(previous)
    duration = end - begin
    assert duration > 0.05  # long enough to tell a held lock from scheduling noise
    # Held: the ticker can only run in the instants around the call, before the call takes
    # the lock or after it returns, so most of the call is one silent stretch. Released, it
    # ticks on the other core (or between time slices of a shared one) all the way through.
    assert (longest_pause(ticks, begin, end) > 0.5 * duration) == holds_lock
