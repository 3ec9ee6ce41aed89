"""References and memory over many calls, on every error path and every kind of success.

Needs nothing beyond NumPy, pytest and tests/support.py, so that it can be run on its own
under a debug interpreter, where the interpreter's total reference count is checked too."""

import gc
import sys
import tracemalloc
from dataclasses import dataclass, field

import numpy as np
import pytest

import ventaroxi as vx

from functions import FUNCTIONS
from support import has_proc, record_figure, resident_bytes, under_address_sanitizer, workload

CALLS = workload("VENTAROXI_LEAK_CALLS", 200)
WARM_UP = 20
# Growth allowed after warm-up, whatever the number of calls. Traced memory is exact once
# caches are emptied, so one small object leaked per call exceeds its bound within a few
# dozen calls; resident memory moves by pages and allocator arenas, so it is only a backstop
# for memory that tracing cannot see.
TRACED_BOUND = 1024
RSS_BOUND = 512 * 1024
LENGTH = 256


def fresh_float(value):
    """A float object of our own, so that its count is ours alone to watch."""
    return float(repr(value))


def name(text):
    """A keyword name built at run time: not the interned object, so its count is ours."""
    return "".join(list(text))


def values(shape=(LENGTH,), low=0.2, high=3.0):
    return np.linspace(low, high, int(np.prod(shape))).reshape(shape)


@dataclass
class Path:
    label: str
    function: str
    args: tuple
    kwargs: dict = field(default_factory=dict)
    raises: str | None = None  # the name of the exception type the call must raise
    # NumPy alone doing what the call asks of NumPy, where that moves the debug build's
    # total count (see interpreter_drift); None: nothing beyond a successful call's result.
    numpy_twin: object = None

    def watched(self):
        # Singletons and small integers are shared by the whole interpreter; their counts move
        # with anything that runs, so only objects made for this path are watched.
        objects = [*self.args, *self.kwargs, *self.kwargs.values()]
        return [o for o in objects if o is not None and not isinstance(o, (bool, int))]

    def call(self):
        function = getattr(vx, self.function)
        if self.raises is None:
            return function(*self.args, **self.kwargs)
        try:
            function(*self.args, **self.kwargs)
        except BaseException as error:
            if type(error).__name__ != self.raises:
                raise
            return None
        raise AssertionError(f"{self.label}: no {self.raises}")


class RaisesTypeError:
    def __float__(self):
        raise TypeError("no float") from KeyError("cause")


class RaisesValueError:
    def __float__(self):
        raise ValueError("no float")


# Classes that the conversion of sup takes for NumPy booleans by their names.
NoTruth = type("bool_", (), {"__module__": "numpy"})
FailingTruth = type("bool", (), {"__module__": "numpy", "__bool__": lambda self: 1 / 0})


def error_paths():
    x = values()
    ga = fresh_float(1.4)
    swapped = values().astype(values().dtype.newbyteorder())
    yield Path("too many positional", "To_T_from_Ma", (x, ga, ga), raises="TypeError")
    yield Path("too many, from-to", "Ma_from_mcpTo_APo", (x, ga, True, ga), raises="TypeError")
    yield Path("unexpected keyword", "To_T_from_Ma", (x, ga), {name("gamma"): ga}, "TypeError")
    yield Path("multiple values", "To_T_from_Ma", (x,), {name("Ma"): x}, "TypeError")
    positional_only = {name("mcpTo_APo"): x, name("ga"): ga}
    yield Path("positional-only", "Ma_from_mcpTo_APo", (), positional_only, "TypeError")
    yield Path("missing arguments", "Ma_from_F_mcpTo", (x,), raises="TypeError")
    yield Path("missing sup", "Ma_from_A_Acrit", (x,), {name("ga"): ga}, "TypeError")
    yield Path("list", "rhoo_rho_from_Ma", ([0.5, 1.5], ga), raises="TypeError")
    compare_kinds = lambda: np.dtype(np.int64) == np.dtype(np.float64)  # noqa: E731
    yield Path(
        "int64 array", "rhoo_rho_from_Ma", (np.arange(9), ga), {}, "TypeError", compare_kinds
    )
    yield Path("byte-swapped", "rhoo_rho_from_Ma", (swapped, ga), raises="TypeError")
    yield Path("two dimensions", "To_T_from_Ma", (values((4, 8)), ga), raises="TypeError")
    yield Path("ga a str", "To_T_from_Ma", (x, name("1.4")), raises="TypeError")
    yield Path("ga raises TypeError", "To_T_from_Ma", (x, RaisesTypeError()), raises="TypeError")
    yield Path("ga raises ValueError", "Mash_from_Ma", (x, RaisesValueError()), raises="ValueError")
    yield Path("ga overflows", "Mash_from_Ma", (x, 10**400), raises="OverflowError")
    yield Path("sup an int", "Ma_from_A_Acrit", (x, ga, 12345), raises="TypeError")
    yield Path("sup None refused", "Ma_from_mcpTo_APo", (x, ga, None), raises="TypeError")
    yield Path("sup no truth", "Ma_from_F_mcpTo", (x, ga, NoTruth()), raises="TypeError")
    yield Path(
        "sup truth raises", "Ma_from_F_mcpTo", (x, ga, FailingTruth()), raises="ZeroDivisionError"
    )
    if np.lib.NumpyVersion(np.__version__).major >= 2:  # NumPy 1 stops at 32 axes
        deep = np.zeros((1,) * 33)
        yield Path("33 dimensions", "A_Acrit_from_Ma", (deep, ga), raises="PanicException")
    huge = np.broadcast_to(np.array(0.5), (2**40,))
    yield Path("unallocatable", "Mash_from_Ma", (huge, ga), raises="MemoryError")


def success_paths():
    ga = fresh_float(1.4)
    for row in FUNCTIONS.values():
        # Values of the function's own domain, so the inverses run their full iterations.
        shape = (LENGTH,) if row.one_dimensional else (16, LENGTH // 16)
        args = (values(shape, *row.inputs), ga)
        if row.sup == "none_is_false":
            args += (True,)
        yield Path(row.name, row.name, args)
    block = values((16, 16))
    packed = np.zeros((8, 32), dtype=[("flag", "u1"), ("value", "f8")])
    packed["value"] = block.reshape(8, 32)
    layouts = {
        "C order": block,
        "Fortran order": np.asfortranarray(block),
        "reversed": values()[::-1],
        "strided": values((2 * LENGTH,))[::2],
        "odd byte strides": packed["value"],
        "zero stride": np.broadcast_to(values((16,)), (16, 16)),
        "empty": np.empty((0, 5)),
        "zero dimensions": np.array(0.5),
    }
    for label, array in layouts.items():
        yield Path(label, "rhoo_rho_from_Ma", (array, ga))
    yield Path("one dimension reversed", "To_T_from_Ma", (values()[::-1], ga))
    yield Path("one dimension empty", "Po_P_from_Ma", (values((0,)), ga))
    x = values((LENGTH,), 1.2, 4.0)
    yield Path("sup positional", "Ma_from_A_Acrit", (x, ga, False))
    yield Path("sup keyword", "Ma_from_A_Acrit", (x, ga), {name("sup"): True})
    yield Path("sup numpy bool", "Ma_from_F_mcpTo", (x, ga, np.True_))
    yield Path("sup None", "Ma_from_F_mcpTo", (x, ga, None))
    yield Path("sup default", "Ma_from_mcpTo_APo", (values((LENGTH,), 0.1, 1.1), ga))
    yield Path("all by keyword", "To_T_from_Ma", (), {name("ga"): ga, name("Ma"): x})
    yield Path("ga an int", "V_cpTo_from_Ma", (x, 2))


PATHS = [*error_paths(), *success_paths()]


def total_references():
    """The interpreter's total reference count; only a debug build keeps one."""
    return sys.gettotalrefcount() if hasattr(sys, "gettotalrefcount") else 0


@dataclass
class Growth:
    references: int  # over the watched objects, plus the interpreter's total on a debug build
    traced: int
    resident: int


def settle():
    """Collects garbage and empties the interpreter's attribute cache: on 3.11 the cache keeps
    the last looked-up name string of each slot, which would count as memory held."""
    gc.collect()
    clear_caches = getattr(sys, "_clear_internal_caches", None) or sys._clear_type_cache
    clear_caches()


def repeat(path, calls):
    for _ in range(calls):
        path.call()


def resident_or_nothing():
    """Resident memory where /proc tells it; without it that backstop alone stands aside."""
    return resident_bytes() if has_proc() else 0


def measure(path):
    watched = path.watched()
    repeat(path, WARM_UP)  # fills every cache a first call fills
    settle()
    # Indexed, so that no loop variable holds an extra reference while a count is read.
    counts = [sys.getrefcount(watched[i]) for i in range(len(watched))]
    total, traced, resident = (
        total_references(),
        tracemalloc.get_traced_memory()[0],
        resident_or_nothing(),
    )
    repeat(path, CALLS)
    settle()
    references = total_references() - total
    references += sum(sys.getrefcount(watched[i]) - counts[i] for i in range(len(watched)))
    return Growth(
        references, tracemalloc.get_traced_memory()[0] - traced, resident_or_nothing() - resident
    )


class Control(Path):
    """A call that involves no ventaroxi: its growth is the measurement's own."""

    def call(self):
        return self.args[0]()


NOTHING = Control("nothing", "", (lambda: None,))
ONE_ARRAY = lambda: np.empty(1)  # noqa: E731
_drift = {}


def interpreter_drift(path):
    """What the interpreter's total count grows by on this path without any leak: the
    measurement's own few references, and what NumPy's own work adds under CPython 3.14's
    debug build with NumPy 2, one for every array made and freed (np.empty alone shows it)
    and one for every comparison of dtypes of different kinds. Both are measured on calls
    that involve no ventaroxi: its result is one array, and refusing a dtype one comparison."""
    if not hasattr(sys, "gettotalrefcount"):
        return 0
    twin = path.numpy_twin or (ONE_ARRAY if path.raises is None else None)
    if "nothing" not in _drift:
        _drift["nothing"] = measure(NOTHING).references
    if twin is not None and twin not in _drift:
        _drift[twin] = measure(Control("twin", "", (twin,))).references - _drift["nothing"]
    return _drift["nothing"] + (_drift[twin] if twin is not None else 0)


LEAKED = {}


@pytest.fixture(scope="module", autouse=True)
def traced_and_recorded():
    tracemalloc.start()
    resident_or_nothing()  # its first run imports and caches what reading a file needs
    yield
    tracemalloc.stop()
    if len(LEAKED) == len(PATHS):  # only a run over every path gives the figure
        record_figure("references_leaked", sum(LEAKED.values()))


@pytest.mark.parametrize("path", PATHS, ids=[p.label for p in PATHS])
def test_repeated_calls_leak_nothing(path):
    growth = measure(path)
    leaked = growth.references - interpreter_drift(path)
    LEAKED[path.label] = leaked
    assert leaked == 0
    assert growth.traced < TRACED_BOUND
    # Resident memory also grows once when an allocator arena or a page of the interpreter's
    # own fills up; a leak grows it again over a second run of as many calls.
    assert (
        growth.resident < RSS_BOUND
        or measure(path).resident < RSS_BOUND
        or under_address_sanitizer()
    )
