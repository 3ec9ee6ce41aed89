"""An interrupt stays an interrupt and an out-of-memory stays an out-of-memory wherever a call
runs Python code (the recognition of `sup`, the first call's NumPy set-up, the messages of
refused calls): a BaseException that is not an Exception, and a MemoryError, reach the caller
unchanged; only an ordinary Exception counts as "cannot be read". A fault's cause is written
to standard error without sys.excepthook, and PanicException cannot be changed from Python.
Cases whose process may end run in a child."""

import json
import platform
import shutil
import subprocess

import numpy as np
import pytest

import ventaroxi as vx

from support import record_figure, run_python, under_address_sanitizer, workload

STOPS = [KeyboardInterrupt, SystemExit, GeneratorExit, MemoryError]
A = np.linspace(1.5, 3.0, 8)


def raising(error):
    raise error


class Unprintable(str):
    """A text whose str() raises the error it carries."""

    def __str__(self):
        raise self.error


def unprintable(text, error):
    text = Unprintable(text)
    text.error = error
    return text


def keyword_raising(error):
    return lambda: vx.To_T_from_Ma(A, **{unprintable("gamma", error): 1.4})


def sup_whose_module_raises(error):
    meta = type("Meta", (type,), {"__module__": property(lambda cls: raising(error))})
    return lambda: vx.Ma_from_A_Acrit(A, 1.4, meta("bool", (), {"__bool__": lambda s: True})())


def ga_whose_type_error_text_raises(error):
    ga = type("Ga", (), {"__float__": lambda s: raising(TypeError(unprintable("", error)))})()
    return lambda: vx.Mash_from_Ma(A, ga)


# Where a call runs Python code that may raise, and what an ordinary error there gives.
WHERE = {
    "keyword's str()": (
        keyword_raising,
        "To_T_from_Ma() got an unexpected keyword argument 'gamma'",
    ),
    "sup's type's __module__": (
        sup_whose_module_raises,
        "argument 'sup': 'bool' object cannot be converted to 'PyBool'",
    ),
    # The TypeError of ga's conversion is reported as it came, without its name.
    "ga's TypeError's str()": (ga_whose_type_error_text_raises, None),
}


@pytest.mark.parametrize("kind", [*STOPS, ValueError], ids=lambda kind: kind.__name__)
@pytest.mark.parametrize("where", WHERE)
def test_an_error_raised_by_python_code_in_a_call(where, kind):
    make_call, ordinary_message = WHERE[where]
    error = kind("raised in the call")
    expected = kind if kind in STOPS else TypeError
    with pytest.raises(expected) as raised:
        make_call(error)()
    if kind in STOPS:
        assert raised.value is error
    elif ordinary_message is None:
        assert raised.value.args[0].error is error
    else:
        assert str(raised.value) == ordinary_message


# The first call fetches NumPy's table; a stub NumPy raises there, then the real one is used.
NUMPY_SET_UP = r"""
import pathlib, sys
stub = pathlib.Path(sys.argv[1])
(stub / "numpy").mkdir()
(stub / "numpy" / "__init__.py").write_text(sys.argv[2])
sys.path.insert(0, str(stub))
import ventaroxi
try:
    ventaroxi.rhoo_rho_from_Ma(None, 1.4)
except BaseException as error:
    print(type(error).__name__)
sys.path.remove(str(stub))
import numpy
print(ventaroxi.To_T_from_Ma(numpy.array([2.0]), 1.4).tolist())
"""

LOUD_CAUSE = """
class Loud:
    def __str__(self):
        raise KeyboardInterrupt
raise ImportError(Loud())
"""


@pytest.mark.parametrize(
    "stub, raised",
    [(f"raise {kind.__name__}", kind.__name__) for kind in STOPS]
    + [(LOUD_CAUSE, "KeyboardInterrupt"), ("raise ImportError", "PanicException")],
)
def test_numpy_set_up_interrupted_or_out_of_memory(tmp_path, stub, raised):
    child = run_python(NUMPY_SET_UP, str(tmp_path), stub)
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == [raised, "[1.7999999999999998]"]


@pytest.fixture
def nomemory():
    """The children below fail the interpreter's allocations with _testcapi.set_nomemory."""
    probe = run_python("import _testcapi; _testcapi.set_nomemory")
    if probe.returncode != 0:
        pytest.skip("this interpreter has no _testcapi.set_nomemory")


# Each allocation of a computing call fails in turn, with a sys.excepthook that would end the
# process: NumPy's failure to create the result must be written out, not handed to the hook.
EXCEPTHOOK = r"""
import io, json, sys, _testcapi
import numpy as np
import ventaroxi as vx

a = np.ones(3)
vx.Mash_from_Ma(a, 1.4)
try:
    vx.Mash_from_Ma(np.ones((1,) * 33), 1.4)  # the fault's class made too
except BaseException:
    pass

class Interrupting(io.StringIO):
    def write(self, text):
        raise KeyboardInterrupt

exec(sys.argv[1])
sys.excepthook = lambda *args: sys.exit(3)
outcomes = []
for start in range(30):
    _testcapi.set_nomemory(start, start + 1)
    try:
        vx.Mash_from_Ma(a, 1.4)
    except BaseException as error:
        _testcapi.remove_mem_hooks()
        outcomes.append([type(error).__name__, str(error), type(error.__cause__).__name__])
    else:
        _testcapi.remove_mem_hooks()
names = ("last_type", "last_value", "last_traceback", "last_exc")
print(json.dumps({"outcomes": outcomes, "last": [n for n in names if hasattr(sys, n)]}))
"""

OUT_OF_MEMORY = ["MemoryError", "", "NoneType"]
NO_OWNER = ["PanicException", "Failed to create slice container: MemoryError: ", "MemoryError"]
NO_ARRAY = ["PanicException", "Python API call failed", "MemoryError"]
INTERRUPT = ["KeyboardInterrupt", "", "NoneType"]

# What is done to sys.stderr or the traceback module; the outcome of NumPy's failure; whether
# the cause is written.
STREAMS = {
    "as it is": ("", NO_ARRAY, True),
    "print_exception unusable": ("import traceback; traceback.print_exception = 0", NO_ARRAY, True),
    "stderr None": ("sys.stderr = None", NO_ARRAY, False),
    "stderr interrupted": ("sys.stderr = Interrupting()", INTERRUPT, False),
}


@pytest.mark.parametrize("stream", STREAMS)
def test_result_creation_failure_is_printed_without_excepthook(nomemory, stream):
    setting, expected, printed = STREAMS[stream]
    child = run_python(EXCEPTHOOK, setting)
    assert child.returncode == 0, child.stderr
    report = json.loads(child.stdout)
    outcomes = report["outcomes"]
    assert expected in outcomes, outcomes
    assert all(o in [OUT_OF_MEMORY, NO_OWNER, expected] for o in outcomes), outcomes
    assert report["last"] == []
    # From CPython 3.13 the interpreter's own writer, the fallback, dumps a MemoryError as an
    # object whose "type name" is MemoryError.
    written = sum(line.endswith("MemoryError") for line in child.stderr.splitlines())
    assert written == (outcomes.count(expected) if printed else 0), child.stderr


# Every refused call of each kind, with its allocations failing one at a time and from one on;
# the sweep of a kind ends when failing every allocation from some point leaves the message.
# The call is made from a frame whose object exists already: where the interpreter must make
# one to record an error, a failure there loses the error (a SystemError follows) whatever
# function raised it.
SWEEP = r"""
import json, sys, _testcapi
import numpy as np
import ventaroxi as vx

a, single, listed = np.ones(3), np.ones(3, np.float32), [0.5]
no_truth = type("bool", (), {"__module__": "numpy"})()
REFUSED = {
    "too many positional": (vx.To_T_from_Ma, (a, 1.4, True), {}),
    "unexpected keyword": (vx.Ma_from_mcpTo_APo, (a, 1.4), {"gamma": 1.4}),
    "multiple values": (vx.To_T_from_Ma, (a,), {"Ma": a}),
    "positional-only": (vx.Ma_from_mcpTo_APo, (), {"mcpTo_APo": a, "ga": 1.4}),
    "missing": (vx.Ma_from_F_mcpTo, (), {}),
    "array (list)": (vx.rhoo_rho_from_Ma, (listed, 1.4), {}),
    "array (float32)": (vx.rhoo_rho_from_Ma, (single, 1.4), {}),
    "ga": (vx.Mash_from_Ma, (a, "x"), {}),
    "sup": (vx.Ma_from_A_Acrit, (a, 1.4, 1), {}),
    "sup without truth": (vx.Ma_from_A_Acrit, (a, 1.4, no_truth), {}),
}

def outcome(call, start=None, stop=0):
    function, args, kwargs = call
    sys._getframe()
    if start is not None:
        _testcapi.set_nomemory(start, stop)
    try:
        function(*args, **kwargs)
    except BaseException as error:
        _testcapi.remove_mem_hooks()
        return error
    _testcapi.remove_mem_hooks()
    return None

tally = {"calls": 0, "wrong": 0, "examples": []}
for kind, call in REFUSED.items():
    refusal = outcome(call)
    assert type(refusal) is TypeError, (kind, refusal)
    message = str(refusal)
    for start in range(1000):
        for stop in (start + 1, 0):
            got = outcome(call, start, stop)
            tally["calls"] += 1
            right = isinstance(got, MemoryError) or (type(got) is TypeError and str(got) == message)
            if not right:
                tally["wrong"] += 1
                tally["examples"] = (tally["examples"] + [f"{kind} at {start}: {got!r}"])[:5]
        if not isinstance(got, MemoryError):
            break
print(json.dumps(tally))
"""


def test_allocation_failure_sweep_over_refused_calls(nomemory):
    child = run_python(SWEEP, timeout=600)
    assert child.returncode == 0, child.stderr
    tally = json.loads(child.stdout)
    record_figure("nomemory_refused_calls", tally["calls"])
    record_figure("nomemory_wrong_outcomes", tally["wrong"])
    assert tally["calls"] > 100 and tally["wrong"] == 0, tally


# A SIGALRM handler raises KeyboardInterrupt at random moments, mostly inside the Python code
# that a call runs; each call must end in KeyboardInterrupt or in its normal outcome, and an
# interrupt raised during a call must come out of it. The alarm's latest moment follows the
# outcomes, so that about half the calls are interrupted however busy the machine is.
INTERRUPTED = r"""
import json, random, signal, sys
import numpy as np
import ventaroxi as vx

rng, calls = random.Random(int(sys.argv[1])), int(sys.argv[2])

def busy(value):
    sum(range(1000))  # long enough for an alarm to land here often
    return value

meta = type("Meta", (type,), {"__module__": property(lambda cls: busy(cls.claimed))})
numpy_bool, other_bool = (
    meta("bool", (), {"claimed": module, "__bool__": lambda s: True})()
    for module in ("numpy", "elsewhere")
)
ga = type("Ga", (), {"__float__": lambda s: busy(1.4)})()
a = np.linspace(1.5, 3.0, 8)
CASES = [
    (lambda: vx.Ma_from_A_Acrit(a, 1.4, numpy_bool), vx.Ma_from_A_Acrit(a, 1.4, True)),
    (lambda: vx.Ma_from_A_Acrit(a, 1.4, other_bool),
     "argument 'sup': 'bool' object cannot be converted to 'PyBool'"),
    (lambda: vx.Mash_from_Ma(a, ga), vx.Mash_from_Ma(a, 1.4)),
]
armed, fired = False, 0

def alarm(signum, frame):
    global fired
    if armed:
        fired += 1
        raise KeyboardInterrupt

def normal(outcome, expected):
    if isinstance(expected, str):
        return type(outcome) is TypeError and str(outcome) == expected
    return isinstance(outcome, np.ndarray) and outcome.tobytes() == expected.tobytes()

def ran_python_code_of_the_call(error):
    traceback = error.__traceback__
    while traceback is not None and traceback.tb_frame.f_code is not busy.__code__:
        traceback = traceback.tb_next
    return traceback is not None

signal.signal(signal.SIGALRM, alarm)
latest = 20e-6
tally = {"calls": 0, "interrupts": 0, "inside": 0, "wrong": 0, "examples": []}
for _ in range(calls):
    call, expected = rng.choice(CASES)
    before = fired
    try:
        try:
            armed = True
            signal.setitimer(signal.ITIMER_REAL, rng.uniform(1e-6, latest))
            outcome = call()
        finally:
            armed = False
            signal.setitimer(signal.ITIMER_REAL, 0)
    except KeyboardInterrupt as error:
        tally["interrupts"] += 1
        tally["inside"] += ran_python_code_of_the_call(error)
        outcome = KeyboardInterrupt
    except BaseException as error:
        outcome = error
    latest *= 1.1 if outcome is KeyboardInterrupt else 1 / 1.1
    tally["calls"] += 1
    if outcome is not KeyboardInterrupt and (fired > before or not normal(outcome, expected)):
        tally["wrong"] += 1
        tally["examples"] = (tally["examples"] + [repr(outcome)[:200]])[:5]
print(json.dumps(tally))
"""


def test_interrupts_at_random_moments():
    calls = workload("VENTAROXI_INTERRUPT_CALLS", 400)
    child = run_python(INTERRUPTED, "20261215", str(calls))
    assert child.returncode == 0, child.stderr
    tally = json.loads(child.stdout)
    record_figure("interrupt_calls", tally["calls"])
    record_figure("interrupts_seen", tally["interrupts"])
    record_figure("interrupts_from_python_code_in_calls", tally["inside"])
    record_figure("interrupt_wrong_outcomes", tally["wrong"])
    assert tally["calls"] == calls and tally["wrong"] == 0, tally
    assert tally["inside"] >= calls // 10, tally  # the alarms did land in calls


# The fault comes from a call made while NumPy cannot be imported (a failed fetch is not
# remembered, so every call faults the same way): NumPy 1 cannot make the 33-axis array
# that would otherwise give one.
FROZEN = r"""
import sys, weakref

class HideNumPy:
    def find_spec(self, name, path=None, target=None):
        if name == "numpy" or name.startswith("numpy."):
            raise ModuleNotFoundError(f"No module named {name!r}")

sys.meta_path.insert(0, HideNumPy())
import ventaroxi as vx

def fault():
    try:
        vx.Mash_from_Ma(object(), 1.4)
    except BaseException as error:
        return error

P = type(fault())
try:
    exec(sys.argv[1])
except TypeError:
    print("refused")
error = fault()
print(type(error) is P, P.__bases__ == (BaseException,), weakref.ref(error)() is error, error)
"""


@pytest.mark.parametrize(
    "attempt",
    [
        "P.__bases__ = (Exception,)",
        "P.__new__ = staticmethod(lambda cls, *args: ValueError(*args))",
        "P.__init__ = lambda self, *args: None",
        "P.__str__ = lambda self: 'changed'",
        "P.marker = 1",
        "P.__name__ = 'Changed'",
        "P.__module__ = 'builtins'",
    ],
)
def test_panic_exception_cannot_be_changed(attempt):
    child = run_python(FROZEN, attempt)
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == [
        "refused",
        "True True True Failed to access NumPy array API capsule: "
        "ModuleNotFoundError: No module named 'numpy'",
    ]


# An operator new that fails on demand, preloaded: a refused call's message text is built in
# C++ strings.
FAILING_NEW = r"""
#include <cstdlib>
#include <new>
static bool failing = false;
extern "C" __attribute__((visibility("default"))) void fail_new(int on) { failing = on; }
void* operator new(std::size_t size)
{
    void* block = failing ? nullptr : std::malloc(size + 1);
    return block != nullptr ? block : throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
"""

BAD_ALLOC = r"""
import ctypes, sys
import numpy as np
import ventaroxi as vx

fail_new, a = ctypes.CDLL(sys.argv[1]).fail_new, np.ones(3)
for on in (1, 0):
    fail_new(on)
    try:
        vx.To_T_from_Ma(a, 1.4, True)
    except BaseException as error:
        fail_new(0)
        print(type(error).__name__, error)
"""


@pytest.mark.skipif(platform.libc_ver()[0] != "glibc", reason="preloads through LD_PRELOAD")
@pytest.mark.skipif(shutil.which("c++") is None, reason="no C++ compiler to build the preload")
@pytest.mark.skipif(under_address_sanitizer(), reason="the sanitizer's operator new comes first")
def test_out_of_memory_while_a_message_is_built_in_cpp(tmp_path, monkeypatch):
    source, library = tmp_path / "failing_new.cpp", tmp_path / "failing_new.so"
    source.write_text(FAILING_NEW)
    build = subprocess.run(["c++", "-fPIC", "-shared", source, "-o", library], capture_output=True)
    assert build.returncode == 0, build.stderr
    monkeypatch.setenv("LD_PRELOAD", str(library))
    child = run_python(BAD_ALLOC, str(library))
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == [
        "MemoryError ",
        "TypeError To_T_from_Ma() takes 2 positional arguments but 3 were given",
    ]
