"""A hostile caller, run in a child process by test_fuzz_hostile.py, so that a crash ends the
child and not the suite.

Each call hands a function an array and a `ga` (and, for the three functions with `sup`, a
`sup`) whose conversion runs Python code: `__float__`, `__index__`, the truth slot of a type
that presents itself as NumPy's boolean, or the `__module__` of its metaclass. That code
changes the array: its dtype, shape, strides or size, its whole state (`__setstate__`), its
class or its values; now and then it first calls a function on the array itself. The rules,
as call_model.judged_again states them, say what must come of it: an array refused before
any conversion runs nothing and gives the array-conversion TypeError; otherwise the
conversions run, and the array is judged as it is after the last of them: refused, the same
TypeError; accepted, the result of the relation over the array as it is then (compared, bit
for bit, with the same call on a fresh copy).

main(seed, calls) prints one JSON line: calls made, nested calls made, mismatches, and the
first few mismatches described.
"""

import json
import random
import sys
import warnings

import numpy as np

import ventaroxi as vx

from call_model import SIGNATURES, Computes, Raises, judged_again
from functions import NAMES as FUNCTIONS
from functions import WITH_SUP


class Vector(np.ndarray):
    pass


def same_bits(a, b):
    return (
        type(a) is np.ndarray
        and a.shape == b.shape
        and a.dtype == np.float64
        and np.array_equal(
            np.ascontiguousarray(a).view(np.uint64), np.ascontiguousarray(b).view(np.uint64)
        )
    )


def call(function, array, ga, sup):
    return getattr(vx, function)(array, ga, *((sup,) if function in WITH_SUP else ()))


def plain_result(function, array, ga, sup):
    """The relation over a fresh C-ordered float64 copy of what the array holds now."""
    return call(
        function, np.array(np.ndarray.view(array, np.ndarray), np.float64, order="C"), ga, sup
    )


# Changes to the array -------------------------------------------------------------------


def new_dtype(rng, array):
    array.dtype = rng.choice(
        [
            np.int8,
            np.float32,
            np.complex128,
            ">f8" if np.little_endian else "<f8",
            np.float64,
            np.dtype(np.float64, metadata={"m": 1}),
            np.uint64,
        ]
    )


def new_shape(rng, array):
    size = array.size
    shapes = [(size,), (size, 1), (1, size), (1, 1, size)]
    if size % 2 == 0 and size:
        shapes += [(2, size // 2), (size // 2, 2, 1)]
    array.shape = rng.choice(shapes)


def new_strides(rng, array):
    # Any strides that stay inside the buffer: the array is a view of a bigger one.
    if array.ndim == 1 and array.size > 1:
        array.strides = (rng.choice([8, 16, -8, 0, 12]),)


def resized(rng, array):
    if array.base is None and array.flags.c_contiguous:
        array.resize(rng.choice([0, 1, 2, 3, array.size * 3, 4096]), refcheck=False)


def new_state(rng, array):
    """The whole array replaced in place: description and data."""
    kind = rng.choice(["float64", "int8", "2d"])
    if kind == "float64":
        state = (1, (3,), np.dtype(np.float64), False, np.array([1.5, 2.5, 3.5]).tobytes())
    elif kind == "int8":
        state = (1, (16,), np.dtype(np.int8), False, bytes(range(16)))
    else:
        state = (1, (2, 2), np.dtype(np.float64), True, np.array([0.5, 1.5, 2.5, 3.5]).tobytes())
    array.__setstate__(state)


def new_class(rng, array):
    array.__class__ = rng.choice([Vector, np.ndarray])


def new_values(rng, array):
    if array.flags.writeable and array.dtype.kind == "f":
        array[...] = rng.uniform(0, 5)


CHANGES = [new_dtype, new_shape, new_strides, resized, new_state, new_class, new_values]


class Hostile:
    """Runs its changes to the array, once, at its first conversion; optionally calls a
    function on the array first, and checks what that nested call gave."""

    def __init__(self, rng, array, tally, value):
        self.rng, self.array, self.tally, self.value = rng, array, tally, value
        self.changes = [rng.choice(CHANGES) for _ in range(rng.randint(1, 3))]
        self.nested = rng.random() < 0.25
        self.ran = False

    def strike(self):
        if self.ran:
            return
        self.ran = True
        if self.nested:
            self.tally["nested"] += 1
            check(self.tally, self.rng.choice(FUNCTIONS), self.array, 1.4, True)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # setting strides or dtype is deprecated in NumPy 2
            for change in self.changes:
                try:
                    change(self.rng, self.array)
                except (ValueError, TypeError, AttributeError):
                    pass  # NumPy refused this change; the others still run


class HostileFloat(Hostile):
    def __float__(self):
        self.strike()
        return self.value


class HostileIndex(Hostile):
    def __index__(self):
        self.strike()
        return 2


def hostile_bool_type(metaclass_strikes):
    """A type that passes for NumPy's boolean, whose truth slot (or whose metaclass's
    __module__, read to recognise it) runs the changes."""
    if metaclass_strikes:

        class Meta(type):
            @property
            def __module__(cls):
                instance = cls.current
                if instance is not None:
                    instance.strike()
                return "numpy"

        namespace = {"current": None, "__bool__": lambda self: True}
        kind = Meta("bool_", (Hostile,), namespace)
    else:
        kind = type(
            "bool",
            (Hostile,),
            {"__module__": "numpy", "__bool__": lambda self: self.strike() or True},
        )
    return kind


BOOL_TYPES = [hostile_bool_type(False), hostile_bool_type(True)]


def fresh_array(rng):
    kind = rng.choice(["owned", "view", "2d", "short"])
    values = np.array([rng.uniform(0, 5) for _ in range(8)])
    if kind == "owned":
        return values.copy()
    if kind == "view":
        base = np.repeat(values, 3)
        return base[: len(values)]
    if kind == "2d":
        return values.reshape(2, 4).copy()
    return values[-rng.randint(1, 8) :].copy()


def check(tally, function, array, ga, sup):
    """One call, its mismatch with the rules counted and, for the first few, described."""
    tally["calls"] += 1
    problem = mismatch(function, array, ga, sup)
    if problem is not None:
        tally["mismatches"] += 1
        if len(tally["examples"]) < 5:
            tally["examples"].append(problem)


def mismatch(function, array, ga, sup):
    """What is wrong with one call's outcome by the rules (call_model.judged_again), or None."""
    sup_value = True if isinstance(sup, Hostile) else sup
    ga_value = (
        ga.value if isinstance(ga, HostileFloat) else 2.0 if isinstance(ga, HostileIndex) else ga
    )
    refused_at_once = judged_again(function, array, ga_value, sup_value)
    try:
        got = call(function, array, ga, sup)
    except KeyboardInterrupt:
        raise
    except BaseException as error:
        got = error
    if isinstance(refused_at_once, Raises):
        # Refused by the first conversion: nothing else may have been converted.
        if (isinstance(ga, Hostile) and ga.ran) or (isinstance(sup, Hostile) and sup.ran):
            return f"{function}: ga or sup was converted although the array was refused"
        expected = refused_at_once
    else:
        expected = judged_again(function, array, ga_value, sup_value)
    if isinstance(expected, Computes):
        if not same_bits(got, plain_result(function, array, ga_value, sup_value)):
            return f"{function} on {array.dtype} {array.shape} {array.strides}: got {got!r:.200}"
        return None
    if isinstance(expected, Raises):
        if not (type(got) is expected.type and str(got) == expected.message):
            return (
                f"{function} on {array.dtype} {array.shape}: expected {expected}, got {got!r:.200}"
            )
        return None
    return f"{function}: no outcome expected for {array.shape}"


def one_call(rng, tally):
    function = rng.choice(FUNCTIONS)
    array = fresh_array(rng)
    if SIGNATURES[function].one_dimensional and array.ndim != 1 and rng.random() < 0.9:
        array = array.reshape(-1)
    if rng.random() < 0.05:
        array = array.astype(np.float32)  # refused before any conversion runs
    ga_kind = rng.choice([HostileFloat, HostileIndex, None])
    ga = ga_kind(rng, array, tally, rng.choice([1.4, 1.3, 5 / 3])) if ga_kind else 1.4
    sup = True
    if function in WITH_SUP and (ga_kind is None or rng.random() < 0.5):
        kind = rng.choice(BOOL_TYPES)
        sup = kind(rng, array, tally, True)
        kind.current = sup
    elif ga_kind is None:
        ga = HostileFloat(rng, array, tally, 1.4)
    check(tally, function, array, ga, sup)


def main(seed, calls):
    rng = random.Random(seed)
    tally = {"calls": 0, "nested": 0, "mismatches": 0, "examples": []}
    for _ in range(calls):
        one_call(rng, tally)
    print(json.dumps(tally))


if __name__ == "__main__":
    main(int(sys.argv[1]), int(sys.argv[2]))
