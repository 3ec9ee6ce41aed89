"""An independent model of how a ventaroxi function matches and converts its arguments.

Written from the documented calling rules (the function table, the matching of positional
and keyword arguments, the conversion of each parameter and the message texts), not from the
C++ sources. `predict` tells, for one call, what the module
must do: raise a given exception with a given message, raise the fault for an array of more
than 32 dimensions, or compute, and with which converted array, `ga` and `sup`.

Where the rules defer to the interpreter (what its float conversion accepts, the
value it gives and the text of its errors, and the truth slot of a NumPy boolean), the model
asks the interpreter through an equivalent public route, named where it is used.
"""

import math
from dataclasses import dataclass
from typing import Any

import numpy as np

from functions import FUNCTIONS

# The function table, in registration order: parameters, positional-only and required
# counts, rank and how `sup` is taken, per function.
SIGNATURES = FUNCTIONS

NO_CAUSE = object()  # the outcome does not say what the exception's __cause__ must be


@dataclass
class Raises:
    """The call raises exactly `type` with `message`; for a wrapped TypeError, with `cause`."""

    type: type
    message: str
    cause: Any = NO_CAUSE


@dataclass
class DimensionFault:
    """The call raises PanicException for an array of more than 32 dimensions;
    the wording of its message is left to the implementer, so only "32" is asked of it."""


@dataclass
class Computes:
    """The call returns the relation mapped over `array` with these converted arguments."""

    array: np.ndarray
    ga: float
    sup: bool


class _Failure(Exception):
    """Carries a predicted outcome out of the model's steps."""

    def __init__(self, outcome):
        super().__init__()
        self.outcome = outcome


def parameter_list(names):
    """'a'; 'a' and 'b'; 'a', 'b', and 'c', as the messages list parameter names."""
    quoted = [f"'{name}'" for name in names]
    if len(quoted) == 1:
        return quoted[0]
    if len(quoted) == 2:
        return f"{quoted[0]} and {quoted[1]}"
    return ", ".join(quoted[:-1]) + ", and " + quoted[-1]


def _type_error(message):
    return _Failure(Raises(TypeError, message))


def qualified_name(kind):
    """{q}: the type's __qualname__, or the stand-in when it cannot be read as text."""
    try:
        name = type.__dict__["__qualname__"].__get__(kind)
        name.encode("utf-8")
    except Exception:
        return "<failed to extract type name>"
    return name


def _match(function, signature, positional, keywords):
    """Matching: the slot vector, or the matching error."""
    count, parameters = len(positional), signature.parameters
    slots = list(positional[: len(parameters)]) + [None] * (len(parameters) - count)
    filled = [i < count for i in range(len(parameters))]
    if count > len(parameters):
        takes = (
            f"{len(parameters)}"
            if signature.required == len(parameters)
            else f"from {signature.required} to {len(parameters)}"
        )
        verb = "was" if count == 1 else "were"
        raise _type_error(
            f"{function}() takes {takes} positional arguments but {count} {verb} given"
        )
    positional_only_given = []
    for name, value in keywords:
        unexpected = _type_error(f"{function}() got an unexpected keyword argument '{name!s}'")
        try:
            text = str.__str__(name).encode("utf-8")  # the name's own text, not its str()
        except UnicodeEncodeError:
            raise unexpected from None
        matches = [i for i, p in enumerate(parameters) if p.encode("utf-8") == text]
        if not matches:
            raise unexpected
        index = matches[0]
        if index < signature.positional_only:
            positional_only_given.append(parameters[index])
            continue
        if filled[index]:
            raise _type_error(
                f"{function}() got multiple values for argument '{parameters[index]}'"
            )
        slots[index], filled[index] = value, True
    if positional_only_given:
        raise _type_error(
            f"{function}() got some positional-only arguments passed as keyword arguments: "
            + parameter_list(positional_only_given)
        )
    missing = [parameters[i] for i in range(signature.required) if not filled[i]]
    if count < signature.required and missing:
        what = (
            "1 required positional argument"
            if len(missing) == 1
            else f"{len(missing)} required positional arguments"
        )
        raise _type_error(f"{function}() missing {what}: {parameter_list(missing)}")
    return slots, filled


def _named(parameter, error):
    """The error a conversion raised, as the call reports it: a TypeError gets the
    parameter's name in front and keeps its cause; any other error passes unchanged."""
    if type(error) is TypeError:
        cause = error.__cause__
        return _Failure(Raises(TypeError, f"argument '{parameter}': {error!s}", cause))
    return _Failure(Raises(type(error), str(error)))


def _convert_array(obj, parameter, signature):
    """The first argument: a float64 array (or subclass) of an accepted dimensionality."""
    kind = type(obj)
    accepted = (
        issubclass(kind, np.ndarray)
        and (not signature.one_dimensional or np.ndarray.ndim.__get__(obj) == 1)
        and np.ndarray.dtype.__get__(obj) == np.dtype(np.float64)  # PyArray_EquivTypes
    )
    if not accepted:
        raise _named(
            parameter,
            TypeError(f"'{qualified_name(kind)}' object cannot be converted to 'PyArray<T, D>'"),
        )
    return obj


def interpreter_float(obj):
    """PyFloat_AsDouble, which converts `ga` whenever it is not an exact float.
    math.ldexp(x, 0) hands its first argument to that same conversion (argument clinic's
    "d" format), passes on its error unchanged and returns x exactly, NaNs and -0.0 too."""
    return math.ldexp(obj, 0)


def _convert_ga(obj):
    """`ga`: an exact float as it is, anything else through the interpreter's conversion."""
    if type(obj) is float:
        return obj
    try:
        return interpreter_float(obj)
    except BaseException as error:
        raise _named("ga", error) from None


def _is_numpy_bool_type(kind):
    try:
        module = kind.__module__
        name = type.__dict__["__name__"].__get__(kind)
    except Exception:
        return False
    if not isinstance(module, str) or str.__str__(module) != "numpy":
        return False
    return isinstance(name, str) and str.__str__(name) in ("bool_", "bool")


def _convert_sup(obj):
    """`sup`: a bool, or a NumPy boolean through its truth slot."""
    kind = type(obj)
    if kind is bool:
        return obj is True
    if not _is_numpy_bool_type(kind):
        raise _named(
            "sup", TypeError(f"'{qualified_name(kind)}' object cannot be converted to 'PyBool'")
        )
    if not any("__bool__" in vars(base) for base in kind.__mro__):  # no truth slot
        raise _named(
            "sup", TypeError(f"object of type '{kind!s}' does not define a '__bool__' conversion")
        )
    try:
        # The type has a truth slot, so bool() is exactly a call of it.
        return bool(obj)
    except BaseException as error:
        raise _named("sup", error) from None


def judged_again(function, array, ga, sup):
    """The outcome for an array that passed the first conversion, judged once more after the
    conversions of `ga` and `sup`, whose code (a `__float__`, a truth slot, another thread)
    may have changed it: the array rule applied to the array as it stands then, with the
    same error the first conversion would give; otherwise the computation over the array
    as it is then."""
    signature = SIGNATURES[function]
    try:
        _convert_array(array, signature.parameters[0], signature)
    except _Failure as failure:
        return failure.outcome
    if np.ndarray.ndim.__get__(array) > 32:
        return DimensionFault()
    return Computes(array, ga, sup)


def predict(function, positional, keywords):
    """The outcome of `function(*positional, **dict(keywords))`; `keywords` is a sequence of
    (name, value) pairs in the order of the call's keyword-name tuple."""
    signature = SIGNATURES[function]
    try:
        slots, filled = _match(function, signature, list(positional), keywords)
        array = _convert_array(slots[0], signature.parameters[0], signature)
        ga = _convert_ga(slots[1])
        sup = False
        if signature.sup == "defaults_false" and filled[2]:
            sup = _convert_sup(slots[2])
        elif signature.sup == "none_is_false" and slots[2] is not None:
            sup = _convert_sup(slots[2])
    except _Failure as failure:
        return failure.outcome
    if np.ndarray.ndim.__get__(array) > 32:
        return DimensionFault()
    return Computes(array, ga, sup)
