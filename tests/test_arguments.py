"""Matching and conversion of arguments, and every message of a malformed call."""

import re

import numpy as np
import pytest

import ventaroxi as vx

from support import Floaty, Indexy

X = np.array([0.5, 2.0])


def message_of(call):
    with pytest.raises(TypeError) as raised:
        call()
    assert type(raised.value) is TypeError
    return str(raised.value)


@pytest.mark.parametrize(
    "call, message",
    [
        (
            lambda: vx.To_T_from_Ma(),
            "To_T_from_Ma() missing 2 required positional arguments: 'Ma' and 'ga'",
        ),
        (lambda: vx.Ma_from_To_T(X), "Ma_from_To_T() missing 1 required positional argument: 'ga'"),
        (
            lambda: vx.V_cpTo_from_Ma(ga=1.4),
            "V_cpTo_from_Ma() missing 1 required positional argument: 'Ma'",
        ),
        (
            lambda: vx.To_T_from_Ma(X, 1.4, True),
            "To_T_from_Ma() takes 2 positional arguments but 3 were given",
        ),
        (
            lambda: vx.Ma_from_V_cpTo(X, 1, 2, 3, 4),
            "Ma_from_V_cpTo() takes 2 positional arguments but 5 were given",
        ),
        (lambda: vx.To_T_from_Ma(X, Ma=X), "To_T_from_Ma() got multiple values for argument 'Ma'"),
        (
            lambda: vx.Ma_from_Po_P(X, 1.4, ga=1.4),
            "Ma_from_Po_P() got multiple values for argument 'ga'",
        ),
        (
            lambda: vx.To_T_from_Ma(X, 1.4, gamma=1.4),
            "To_T_from_Ma() got an unexpected keyword argument 'gamma'",
        ),
        (
            lambda: vx.To_T_from_Ma(X, 1.4, **{"\udc80": 1}),
            "To_T_from_Ma() got an unexpected keyword argument '\udc80'",
        ),
        (
            lambda: vx.To_T_from_Ma(ma=X, ga=1.4),
            "To_T_from_Ma() got an unexpected keyword argument 'ma'",
        ),
    ],
)
def test_matching_messages(call, message):
    assert message_of(call) == message


def test_too_many_positional_is_reported_before_any_keyword():
    message = message_of(lambda: vx.To_T_from_Ma(X, 1.4, 1, bogus=1))
    assert message == "To_T_from_Ma() takes 2 positional arguments but 3 were given"


def test_keyword_errors_come_in_keyword_order():
    # The duplicate comes first, so it is reported rather than the unknown name after it.
    message = message_of(lambda: vx.Ma_from_To_T(X, 1.4, ga=2.0, bogus=1))
    assert message == "Ma_from_To_T() got multiple values for argument 'ga'"


def test_keywords_match_by_text_as_well_as_identity():
    class Name(str):
        pass

    built = "".join(["g", "a"])  # a name that is not the interned object
    expected = vx.To_T_from_Ma(X, 1.4)
    for name in (built, Name("ga")):
        np.testing.assert_array_equal(vx.To_T_from_Ma(X, **{name: 1.4}), expected)
    np.testing.assert_array_equal(vx.To_T_from_Ma(Ma=X, ga=1.4), expected)
    np.testing.assert_array_equal(vx.To_T_from_Ma(ga=1.4, Ma=X), expected)


def test_unexpected_keyword_is_written_as_its_str():
    class Shouting(str):
        def __str__(self):
            return self.upper()

    class Unprintable(str):
        def __str__(self):
            raise RuntimeError("no text")

    assert message_of(lambda: vx.To_T_from_Ma(X, **{Shouting("gamma"): 1})).endswith("'GAMMA'")
    assert message_of(lambda: vx.To_T_from_Ma(X, **{Unprintable("gamma"): 1})).endswith("'gamma'")


ARRAY_MESSAGE = "argument '{}': '{}' object cannot be converted to 'PyArray<T, D>'"


class Vector(np.ndarray):
    pass


@pytest.mark.parametrize(
    "function, argument, type_name",
    [
        ("rhoo_rho_from_Ma", [0.5], "list"),
        ("rhoo_rho_from_Ma", (0.5,), "tuple"),
        ("rhoo_rho_from_Ma", 0.5, "float"),
        ("rhoo_rho_from_Ma", 1, "int"),
        ("rhoo_rho_from_Ma", None, "NoneType"),
        ("rhoo_rho_from_Ma", np.float64(0.5), "float64"),
        ("rhoo_rho_from_Ma", np.arange(3), "ndarray"),
        ("rhoo_rho_from_Ma", np.ones(3, np.float32), "ndarray"),
        ("rhoo_rho_from_Ma", np.ones(3, np.float16), "ndarray"),
        ("rhoo_rho_from_Ma", np.ones(3, np.longdouble), "ndarray"),
        ("rhoo_rho_from_Ma", np.ones(3, complex), "ndarray"),
        ("rhoo_rho_from_Ma", np.ones(3, bool), "ndarray"),
        ("rhoo_rho_from_Ma", np.ones(3, object), "ndarray"),
        ("rhoo_rho_from_Ma", np.ones(3, ">f8" if np.little_endian else "<f8"), "ndarray"),
        ("Ma_from_Po_P", np.arange(3).view(Vector), "Vector"),
        ("To_T_from_Ma", np.array(0.5), "ndarray"),
        ("To_T_from_Ma", np.ones((2, 2)), "ndarray"),
        ("Po_P_from_Ma", np.ones((1, 3)), "ndarray"),
    ],
)
def test_array_conversion_refusals(function, argument, type_name):
    parameter = "Po_P" if function == "Ma_from_Po_P" else "Ma"
    message = message_of(lambda: getattr(vx, function)(argument, 1.4))
    assert message == ARRAY_MESSAGE.format(parameter, type_name)


@pytest.mark.parametrize(
    "argument",
    [
        np.array(0.5),
        np.ones((2, 3)),
        np.ones((2, 3))[:, ::-1],
        np.ones(4).view(Vector),
        np.ones(3, np.dtype("=f8")),
        np.ones(3, np.dtype("d")),
    ],
)
def test_array_conversion_acceptances(argument):
    result = vx.rhoo_rho_from_Ma(argument, 1.4)
    assert result.shape == argument.shape


def test_read_only_and_reversed_inputs_are_accepted():
    frozen = np.array([0.5, 1.0, 2.0])
    frozen.flags.writeable = False
    np.testing.assert_array_equal(vx.To_T_from_Ma(frozen, 1.4), vx.To_T_from_Ma(frozen.copy(), 1.4))
    np.testing.assert_array_equal(
        vx.To_T_from_Ma(frozen[::-1], 1.4), vx.To_T_from_Ma(frozen, 1.4)[::-1]
    )


@pytest.mark.parametrize("ga", [2, True, np.float64(2.0), np.int32(2), Floaty(2.0), Indexy(), 2.0])
def test_ga_accepts_what_float_accepts(ga):
    expected = vx.To_T_from_Ma(X, 2.0 if ga is not True else 1.0)
    np.testing.assert_array_equal(vx.To_T_from_Ma(X, ga), expected)


def test_ga_refusal_names_the_argument():
    # Only the prefix is ours; the rest is the interpreter's float conversion message.
    message = message_of(lambda: vx.To_T_from_Ma(X, "1.4"))
    assert message.startswith("argument 'ga': ") and "str" in message


def test_ga_errors_other_than_type_error_pass_unchanged():
    with pytest.raises(OverflowError):
        vx.To_T_from_Ma(X, 10**400)

    class Failing:
        def __float__(self):
            raise ZeroDivisionError("boom")

    with pytest.raises(ZeroDivisionError, match=r"^boom$"):
        vx.To_T_from_Ma(X, Failing())


def test_ga_type_error_subclass_is_not_renamed_and_cause_is_kept():
    class Special(TypeError):
        pass

    class RaisesSubclass:
        def __float__(self):
            raise Special("special")

    with pytest.raises(Special, match=r"^special$"):
        vx.To_T_from_Ma(X, RaisesSubclass())

    root = KeyError("root")

    class RaisesWithCause:
        def __float__(self):
            raise TypeError("plain") from root

    with pytest.raises(TypeError) as raised:
        vx.To_T_from_Ma(X, RaisesWithCause())
    assert str(raised.value) == "argument 'ga': plain"
    assert raised.value.__cause__ is root


def test_first_bad_argument_in_parameter_order_is_reported():
    assert message_of(lambda: vx.To_T_from_Ma([1], "a")) == ARRAY_MESSAGE.format("Ma", "list")
    assert re.match("argument 'ga': ", message_of(lambda: vx.To_T_from_Ma(X, "a")))
    # Matching comes before any conversion.
    assert message_of(lambda: vx.To_T_from_Ma([1], "a", 3)).startswith("To_T_from_Ma() takes 2")
