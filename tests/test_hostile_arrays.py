"""Inputs that try to trip the mapping: aliasing, odd layouts, memory changing underneath,
refused dtypes and sizes, and subclasses that raise on every attribute."""

import ctypes
import gc
import hashlib
import struct
import sys
import threading
import time
import tracemalloc

import numpy as np
import pytest
from numpy.lib.stride_tricks import as_strided

import ventaroxi as vx

from functions import ANY_RANK, FUNCTIONS, ONE_DIMENSIONAL
from support import resident_bytes, under_address_sanitizer

GA = 1.4


def call(function, array):
    return FUNCTIONS[function](array, GA, True)


def expected(function, view):
    """The function of a fresh contiguous copy: no aliasing, no odd strides."""
    return call(function, np.array(view, order="C"))


def same_bits(a, b):
    return a.shape == b.shape and np.array_equal(
        np.ascontiguousarray(a).view(np.int64), np.ascontiguousarray(b).view(np.int64)
    )


def digest(buffer):
    return hashlib.sha256(bytes(buffer)).hexdigest()


VALUES = np.concatenate([np.linspace(0.2, 6.0, 61), [np.nan, np.inf, 0.0, -0.0]])

# Where each layout puts its elements in a buffer of garbage bytes: (first byte, byte stride).
LAYOUTS = {
    "aligned block": (16, 8),
    "misaligned block": (13, 8),
    "gaps": (5, 24),
    "gaps reversed": (5 + 24 * (len(VALUES) - 1), -24),
    "zero stride": (7, 0),
}


def hostile_view(layout, writeable):
    """A view of VALUES (or of its first value, for a zero stride) into a buffer of garbage."""
    first, stride = LAYOUTS[layout]
    raw = np.random.default_rng(first).integers(0, 256, 24 * len(VALUES) + 32, dtype=np.uint8)
    for i, value in enumerate(VALUES if stride else VALUES[:1]):
        struct.pack_into("<d", raw, first + i * stride, value)
    raw.flags.writeable = writeable
    view = np.ndarray((len(VALUES),), np.float64, raw, offset=first, strides=(stride,))
    return raw, view


@pytest.mark.parametrize("writeable", [True, False], ids=["writeable", "read-only"])
@pytest.mark.parametrize("layout", LAYOUTS)
@pytest.mark.parametrize("function", vx.__all__)
def test_input_buffer_is_untouched_and_never_shared(function, layout, writeable):
    raw, view = hostile_view(layout, writeable)
    before = digest(raw)  # every byte, the garbage between elements included
    result = call(function, view)
    assert digest(raw) == before
    assert type(result) is np.ndarray and not np.shares_memory(result, raw)
    assert same_bits(result, expected(function, view))
    result[...] = 0.0  # the result is the caller's to write
    assert digest(raw) == before


SHARED = np.linspace(0.3, 5.0, 48)


@pytest.mark.parametrize(
    "make_views",
    [
        lambda: (SHARED, SHARED[::-1], SHARED.reshape(6, 8).T),
        lambda: (as_strided(SHARED, shape=(45, 4), strides=(8, 8)),),  # overlapping windows
        # each row starts 5 elements in and runs back to its first element, never before it
        lambda: (as_strided(SHARED[5:], shape=(8, 6), strides=(40, -8))[:, ::-1],),
        lambda: (SHARED[1:], SHARED[:-1], SHARED[::3][::-1]),
    ],
    ids=["reversed and transposed", "overlapping rows", "rows overlapping backwards", "shifted"],
)
def test_views_aliasing_one_buffer(make_views):
    before = SHARED.tobytes()
    for function in vx.__all__:
        for view in make_views():
            if function in ONE_DIMENSIONAL and view.ndim != 1:
                continue
            result = call(function, view)
            assert not np.shares_memory(result, SHARED)
            assert same_bits(result, expected(function, view))
    assert SHARED.tobytes() == before


@pytest.mark.parametrize("function", vx.__all__)
def test_byte_swapped_float64_is_refused(function):
    parameter = FUNCTIONS[function].parameters[0]
    swapped = np.linspace(0.5, 2.0, 4).astype(np.dtype(np.float64).newbyteorder())
    for view in (swapped, swapped[::-1]):
        with pytest.raises(TypeError) as raised:
            call(function, view)
        assert str(raised.value) == (
            f"argument '{parameter}': 'ndarray' object cannot be converted to 'PyArray<T, D>'"
        )


@pytest.mark.skipif(
    np.lib.NumpyVersion(np.__version__).major < 2, reason="NumPy 1 stops at 32 axes"
)
@pytest.mark.parametrize("function", ANY_RANK)
@pytest.mark.parametrize(
    "make_deep",  # made in the test: NumPy 1 cannot make them even while collecting
    [
        lambda: np.zeros((1,) * 33),
        lambda: np.zeros((1,) * 32 + (0,)),
        lambda: np.broadcast_to(np.zeros(1), (2,) * 33),
    ],
    ids=["ones", "empty", "zero strides"],
)
def test_thirty_three_dimensions_are_a_fault(function, make_deep):
    deep = make_deep()
    with pytest.raises(BaseException) as raised:
        call(function, deep)
    assert type(raised.value).__name__ == "PanicException"
    assert "more than 32 dimensions" in str(raised.value)


def settled_memory():
    gc.collect()
    resident = resident_bytes()  # read first: its own allocations then count as settled
    return tracemalloc.get_traced_memory()[0], resident


# Element counts whose result cannot be had, up to the largest NumPy lets a view describe.
UNALLOCATABLE = [(2**40,), (2**20, 2**20), (2**30, 2**29), (2**59,)]


@pytest.mark.parametrize("shape", UNALLOCATABLE, ids=str)
def test_unallocatable_result_raises_memory_error_and_holds_nothing(shape):
    huge = np.broadcast_to(np.array(0.5), shape)
    tracemalloc.start()
    try:
        for function in ANY_RANK:
            with pytest.raises(MemoryError):
                call(function, huge)
        traced, resident = settled_memory()
        for _ in range(50):
            for function in ANY_RANK:
                with pytest.raises(MemoryError):
                    call(function, huge)
        traced_after, resident_after = settled_memory()
    finally:
        tracemalloc.stop()
    assert traced_after - traced < 1024
    assert resident_after - resident < 256 * 1024 or under_address_sanitizer()
    assert call("Mash_from_Ma", np.array([2.0])).shape == (1,)


def with_byte_six(values, byte):
    """The doubles with their seventh byte replaced: the two sets differ in that byte only,
    so however a copy interleaves their bytes, each element is one value or the other."""
    raw = values.copy().view(np.uint8).reshape(-1, 8)
    raw[:, 6] = byte
    return raw.reshape(-1).view(np.float64)


# 1.25 + small and 1.5 + small: 0x3FF4... and 0x3FF8..., each element its own value.
ELEMENTS = 1 << 20
OLD = with_byte_six(1.25 + np.arange(ELEMENTS) * 2.0**-44, 0xF4)
NEW = with_byte_six(OLD, 0xF8)


@pytest.mark.parametrize(
    "function, layout",
    [
        ("To_T_from_Ma", slice(None)),
        ("Mash_from_Ma", slice(None, None, -1)),
        ("Ma_from_To_T", slice(None, None, 3)),
        ("V_cpTo_from_Ma", slice(None)),
    ],
    ids=["block", "reversed block", "strided", "vector kernel"],
)
def test_memory_changed_by_another_thread_during_the_call(function, layout):
    target = OLD.copy()
    old_result, new_result = call(function, OLD[layout]), call(function, NEW[layout])
    assert not np.array_equal(old_result, new_result)
    stop, mixed, rounds = threading.Event(), 0, 0

    def mutate():
        # ctypes lets go of the interpreter lock for each copy, so the copies run while
        # the call holds it.
        while not stop.is_set():
            for source in (NEW, OLD):
                ctypes.memmove(target.ctypes.data, source.ctypes.data, target.nbytes)

    mutator = threading.Thread(target=mutate)
    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    mutator.start()
    try:
        # Generous, for sanitized builds on a busy machine: the loop ends at its third mixed
        # result, within a few rounds when nothing slows it.
        deadline = time.monotonic() + 20.0
        while time.monotonic() < deadline and (rounds < 20 or (mixed < 3 and rounds < 2000)):
            result = call(function, target[layout])
            rounds += 1
            assert result.shape == old_result.shape
            from_old = result.view(np.int64) == old_result.view(np.int64)
            from_new = result.view(np.int64) == new_result.view(np.int64)
            assert np.all(from_old | from_new)
            mixed += bool(from_old.any() and from_new.any())
    finally:
        stop.set()
        mutator.join()
        sys.setswitchinterval(previous)
    assert mixed > 0  # the memory did change while a call was reading it


class Refusing(Exception):
    pass


def refuse(*_):
    raise Refusing("no attributes for you")


def hostile_subclass(**members):
    return type("Hostile", (np.ndarray,), members)


ARMED = threading.local()  # set once the instance exists, so that making it still works


def refuse_when_armed(self, *_):
    if getattr(ARMED, "on", False):
        raise Refusing("finalize refused")


HOSTILE_SUBCLASSES = {
    "__getattribute__": hostile_subclass(__getattribute__=refuse),
    "__getattr__ and __getattribute__": hostile_subclass(
        __getattribute__=refuse, __getattr__=refuse
    ),
    "__array_finalize__": hostile_subclass(__array_finalize__=refuse_when_armed),
    "properties": hostile_subclass(
        **{
            name: property(refuse)
            for name in ("shape", "strides", "dtype", "ndim", "flags", "base", "data", "size")
        }
    ),
    "array protocols": hostile_subclass(
        __array__=refuse,
        __array_interface__=property(refuse),
        __array_struct__=property(refuse),
        __array_priority__=property(refuse),
        __array_ufunc__=refuse,
        __array_function__=refuse,
        __array_wrap__=refuse,
    ),
    "conversions": hostile_subclass(
        __float__=refuse, __index__=refuse, __len__=refuse, __iter__=refuse, __bool__=refuse
    ),
}


@pytest.mark.parametrize("function", ["To_T_from_Ma", "rhoo_rho_from_Ma", "Ma_from_A_Acrit"])
@pytest.mark.parametrize("subclass", HOSTILE_SUBCLASSES.values(), ids=HOSTILE_SUBCLASSES)
def test_subclass_that_refuses_attribute_access(function, subclass):
    plain = np.linspace(1.1, 4.0, 12)[::-1]
    ARMED.on = False
    hostile = plain.view(subclass)
    ARMED.on = True
    try:
        result = call(function, hostile)
    except Refusing:
        pytest.fail("the call looked at an attribute of its input")
    finally:
        ARMED.on = False
    assert type(result) is np.ndarray
    assert same_bits(result, expected(function, plain))
