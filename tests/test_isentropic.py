"""Isentropic ratios and velocity from Mach number, and their closed-form inverses."""

import math

import numpy as np
import pytest

import ventaroxi as vx

from support import evaluate, same_double, ulps_apart

GA = 1.4
INF = math.inf
NAN = math.nan
SQRT5 = 2.23606797749979
OVERFLOWING_MA = 1.5e154  # Ma*Ma overflows to +inf

# Values that the steps fix to the last bit; an FMA-contracted or reassociated build gets
# several of them wrong.
EXACT_FORWARD = [
    ("To_T_from_Ma", 1.4584, 1.4253861119999998),
    ("To_T_from_Ma", 2.0, 1.7999999999999998),
    ("To_T_from_Ma", 1.0, 1.2),
    ("To_T_from_Ma", 0.5, 1.05),
    ("V_cpTo_from_Ma", 1.0, 0.5773502691896257),
    ("V_cpTo_from_Ma", 2.0, 0.9428090415820632),
    ("V_cpTo_from_Ma", 0.5, 0.30860669992418377),
    ("Ma_from_To_T", 1.2, 1.0),
    ("Ma_from_To_T", 2.0, SQRT5),
    ("Ma_from_V_cpTo", 1.0, SQRT5),
    ("Ma_from_V_cpTo", -1.0, SQRT5),
]


@pytest.mark.parametrize("function, x, expected", EXACT_FORWARD)
def test_values_exact_to_the_last_bit(function, x, expected):
    assert same_double(evaluate(function, [x], GA)[0], expected)


@pytest.mark.parametrize(
    "function, x, expected",
    [
        ("Po_P_from_Ma", 1.0, 1.89292915874),
        ("Po_P_from_Ma", 2.0, 7.82444906687),
        ("Po_P_from_Ma", 0.5, 1.18621263804),
        ("rhoo_rho_from_Ma", 1.0, 1.57744096561),
        ("rhoo_rho_from_Ma", 2.0, 4.34691614826),
        ("rhoo_rho_from_Ma", 0.5, 1.12972632195),
    ],
)
def test_power_values_to_twelve_digits(function, x, expected):
    assert evaluate(function, [x], GA)[0] == pytest.approx(expected, rel=5e-12)


# Each relation written out in the same order of operations in Python, whose floats are
# IEEE doubles with no contraction: the compiled relations must agree bit for bit, or to
# one ulp where the math library's pow is involved.
def reference(function, x, ga):
    c = (ga - 1) * 0.5
    q = (x * x) * c + 1
    if function == "To_T_from_Ma":
        return 1 / (1 / q)
    if function == "Po_P_from_Ma":
        return 1 / math.pow(q, ga / (1 - ga))
    if function == "rhoo_rho_from_Ma":
        return 1 / math.pow(q, 1 / (1 - ga))
    if function == "V_cpTo_from_Ma":
        return (1 / math.sqrt(q)) * (math.sqrt(ga - 1) * x)
    if function == "Ma_from_To_T":
        return math.sqrt((1 / (1 / x) - 1) * (2 / (ga - 1)))
    if function == "Ma_from_Po_P":
        return math.sqrt((math.pow(1 / x, (1 - ga) / ga) - 1) * (2 / (ga - 1)))
    if function == "Ma_from_rhoo_rho":
        return math.sqrt((math.pow(1 / x, 1 - ga) - 1) * (2 / (ga - 1)))
    s = x * x
    return math.sqrt(((1 / (ga - 1)) * s) / (s * (-0.5) + 1))


FORWARD = ["To_T_from_Ma", "Po_P_from_Ma", "rhoo_rho_from_Ma", "V_cpTo_from_Ma"]
INVERSE = ["Ma_from_To_T", "Ma_from_Po_P", "Ma_from_rhoo_rho", "Ma_from_V_cpTo"]
USES_POW = {"Po_P_from_Ma", "rhoo_rho_from_Ma", "Ma_from_Po_P", "Ma_from_rhoo_rho"}


@pytest.mark.parametrize("function", FORWARD + INVERSE)
@pytest.mark.parametrize("ga", [1.1, 1.3, 1.4, 5 / 3])
def test_order_of_operations_over_many_inputs(function, ga):
    rng = np.random.default_rng(20261208)
    if function in FORWARD:
        x = rng.uniform(-20, 20, 2000)
    elif function == "Ma_from_V_cpTo":
        x = rng.uniform(-1.414, 1.414, 2000)
    else:
        x = rng.uniform(1, 50, 2000)
    results = getattr(vx, function)(x, ga).tolist()
    allowed = 1 if function in USES_POW else 0
    for value, result in zip(x.tolist(), results, strict=True):
        assert ulps_apart(result, reference(function, value, ga)) <= allowed, value


@pytest.mark.parametrize(
    "Ma, To_T, Po_P, rhoo_rho, V_cpTo",
    [
        (0.0, 1.0, 1.0, 1.0, 0.0),
        (-0.0, 1.0, 1.0, 1.0, -0.0),
        (NAN, NAN, NAN, NAN, NAN),
        (INF, INF, INF, INF, NAN),
        (-INF, INF, INF, INF, NAN),
        (OVERFLOWING_MA, INF, INF, INF, 0.0),
        (-OVERFLOWING_MA, INF, INF, INF, -0.0),
    ],
)
def test_forward_special_values(Ma, To_T, Po_P, rhoo_rho, V_cpTo):
    for function, expected in zip(FORWARD, [To_T, Po_P, rhoo_rho, V_cpTo], strict=True):
        assert same_double(evaluate(function, [Ma], GA)[0], expected), function


@pytest.mark.parametrize("Ma", [0.3, 1.0, 2.5, 17.0])
def test_forward_symmetry_in_ma(Ma):
    for function in FORWARD:
        plus, minus = evaluate(function, [Ma, -Ma], GA)
        assert minus == (-plus if function == "V_cpTo_from_Ma" else plus), function


@pytest.mark.parametrize(
    "Ma, ratio, V_cpTo",
    [
        (0.5, 1.0, 0.0),
        (-3.0, 1.0, -0.0),
        (1e150, 1.0, 0.0),
        (OVERFLOWING_MA, NAN, NAN),
        (INF, NAN, NAN),
    ],
)
def test_forward_with_ga_one(Ma, ratio, V_cpTo):
    for function in FORWARD[:3]:
        assert same_double(evaluate(function, [Ma], 1.0)[0], ratio), function
    assert same_double(evaluate("V_cpTo_from_Ma", [Ma], 1.0)[0], V_cpTo)


def test_forward_with_ga_below_one_and_nan():
    assert evaluate("To_T_from_Ma", [2.0], 0.5) == [0.0]
    assert evaluate("Po_P_from_Ma", [2.0], 0.5) == [INF]
    assert evaluate("rhoo_rho_from_Ma", [2.0], 0.5) == [INF]
    assert all(math.isnan(v) for v in evaluate("V_cpTo_from_Ma", [0.0, 0.5, 2.0], 0.9))
    for function in FORWARD:
        assert all(math.isnan(v) for v in evaluate(function, [0.0, 1.0, 3.0], NAN)), function


@pytest.mark.parametrize(
    "function, x, expected",
    [
        (
            "Ma_from_To_T",
            [1.0, 0.5, 0.0, -2.0, -INF, INF, NAN, 1e308],
            [0.0, NAN, NAN, NAN, NAN, INF, NAN, INF],
        ),
        (
            "Ma_from_Po_P",
            [1.0, 0.5, 0.0, -2.0, -INF, INF, NAN],
            [0.0, NAN, NAN, NAN, INF, INF, NAN],
        ),
        (
            "Ma_from_rhoo_rho",
            [1.0, 0.5, 0.0, -2.0, -INF, INF, NAN],
            [0.0, NAN, NAN, NAN, INF, INF, NAN],
        ),
        (
            "Ma_from_V_cpTo",
            [0.0, -0.0, 1.4142135623730951, 1.5, -1.5, INF, -INF, NAN, 1e-310],
            [0.0, 0.0, NAN, NAN, NAN, NAN, NAN, NAN, 0.0],
        ),
    ],
)
def test_inverse_special_values(function, x, expected):
    for value, result, wanted in zip(x, evaluate(function, x, GA), expected, strict=True):
        assert same_double(result, wanted), value


def test_velocity_just_below_root_two_is_finite_and_large():
    (Ma,) = evaluate("Ma_from_V_cpTo", [1.414213562373095], GA)
    assert 1e8 < Ma < 1e9


@pytest.mark.parametrize(
    "function, x, expected",
    [
        ("Ma_from_To_T", [2.0, 1.0, 0.5], [INF, NAN, NAN]),
        ("Ma_from_Po_P", [2.0, 1.0, 0.5], [NAN, NAN, NAN]),
        ("Ma_from_rhoo_rho", [2.0, 1.0, 0.5], [NAN, NAN, NAN]),
        ("Ma_from_V_cpTo", [0.5, -1.0, 0.0], [INF, INF, NAN]),
    ],
)
def test_inverses_with_ga_one(function, x, expected):
    for value, result, wanted in zip(x, evaluate(function, x, 1.0), expected, strict=True):
        assert same_double(result, wanted), value


@pytest.mark.parametrize("ga", np.linspace(1.1, 1.67, 7).tolist())
@pytest.mark.parametrize(
    "forward, inverse",
    list(
        zip(
            FORWARD,
            ["Ma_from_To_T", "Ma_from_Po_P", "Ma_from_rhoo_rho", "Ma_from_V_cpTo"],
            strict=True,
        )
    ),
)
def test_round_trip(forward, inverse, ga):
    Ma = np.geomspace(0.1, 10, 400)
    Ma_back = getattr(vx, inverse)(getattr(vx, forward)(Ma, ga), ga)
    np.testing.assert_allclose(Ma_back, Ma, rtol=1e-12, atol=0)
