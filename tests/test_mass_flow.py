"""Mass-flow functions and area ratio: mcpTo_APo_from_Ma, mcpTo_AP_from_Ma, A_Acrit_from_Ma."""

import math
import struct

import numpy as np
import pytest

import ventaroxi as vx

INF = math.inf
NAN = math.nan


def bits(x):
    return struct.pack("<d", float(x))


def one(function, value, ga):
    return float(function(np.array([value]), ga)[0])


def close12(x, expected):
    """Agreement to 12 significant digits, for values that go through pow."""
    return x == pytest.approx(expected, rel=1e-11, abs=0)


@pytest.mark.parametrize(
    "Ma, apo, ap, area",
    [
        (0.5, 0.956093018947, 1.1341296222213757, 1.33984375000),
        (2.0, 0.759120151618, 5.939696961966999, 1.68750000000),
        (1.0, 1.28101525586, 2.424871130596428, 1.0),
    ],
)
def test_values_at_ga_1_4(Ma, apo, ap, area):
    assert close12(one(vx.mcpTo_APo_from_Ma, Ma, 1.4), apo)
    # No pow in the static-pressure mass flow: its steps fix every bit.
    assert bits(one(vx.mcpTo_AP_from_Ma, Ma, 1.4)) == bits(ap)
    assert close12(one(vx.A_Acrit_from_Ma, Ma, 1.4), area)


def test_area_ratio_is_exactly_one_at_sonic_point():
    for ga in (1.1, 1.3, 1.4, 5 / 3, 2.0):
        assert one(vx.A_Acrit_from_Ma, 1.0, ga) == 1.0


@pytest.mark.parametrize(
    "Ma, apo, ap, area",
    [
        (0.0, 0.0, 0.0, INF),
        (-0.0, -0.0, -0.0, -INF),
        (INF, NAN, INF, NAN),
        (-INF, NAN, -INF, NAN),
        (1e200, 0.0, INF, INF),
        (-1e200, -0.0, -INF, -INF),
        (NAN, NAN, NAN, NAN),
    ],
)
def test_special_values(Ma, apo, ap, area):
    for function, expected in (
        (vx.mcpTo_APo_from_Ma, apo),
        (vx.mcpTo_AP_from_Ma, ap),
        (vx.A_Acrit_from_Ma, area),
    ):
        got = one(function, Ma, 1.4)
        if math.isnan(expected):
            assert math.isnan(got), function.__name__
        else:
            assert bits(got) == bits(expected), function.__name__


@pytest.mark.parametrize(
    "function", [vx.mcpTo_APo_from_Ma, vx.mcpTo_AP_from_Ma, vx.A_Acrit_from_Ma]
)
def test_odd_in_Ma(function):
    Ma = np.array([0.01, 0.3, 0.5, 1.0, 1.7, 2.0, 10.0, 123.456])
    assert np.array_equal(function(-Ma, 1.4), -function(Ma, 1.4))


def test_ga_equal_to_one():
    Ma = np.array([0.5, -2.0, 0.0, INF, 1e155])
    apo = vx.mcpTo_APo_from_Ma(Ma, 1.0)
    ap = vx.mcpTo_AP_from_Ma(Ma, 1.0)
    area = vx.A_Acrit_from_Ma(Ma, 1.0)
    for mass_flow in (apo, ap):
        assert list(mass_flow[:2]) == [INF, -INF]
        assert np.isnan(mass_flow[2:]).all()
    assert list(area[:3]) == [2.0, -0.5, INF]
    assert np.isnan(area[3:]).all()


def test_ga_nan_and_below_one():
    Ma = np.array([0.0, 0.5, 1.0, 2.0])
    for function in (vx.mcpTo_APo_from_Ma, vx.mcpTo_AP_from_Ma, vx.A_Acrit_from_Ma):
        assert np.isnan(function(Ma, NAN)).all()
    for function in (vx.mcpTo_APo_from_Ma, vx.mcpTo_AP_from_Ma):
        assert np.isnan(function(Ma, 0.9)).all()
    # Below 1 the area ratio still follows its steps: the base of pow stays positive.
    assert close12(one(vx.A_Acrit_from_Ma, 0.5, 0.9), 2 * (0.9875 / 0.95) ** -9.5)


def test_static_pressure_mass_flow_order_of_operations():
    """Without pow every bit is fixed; a contracted multiply-add or a reordering shows."""
    rng = np.random.default_rng(4)
    Ma = np.concatenate([rng.uniform(0, 20, 500), 10 ** rng.uniform(-8, 150, 500)])
    for ga in (1.1, 1.4, 1.67, 1.3333333333333333):
        c, k = (ga - 1) * 0.5, ga / math.sqrt(ga - 1)
        expected = [math.sqrt((m * m) * c + 1) * (k * m) for m in Ma]
        assert vx.mcpTo_AP_from_Ma(Ma, ga).tobytes() == np.array(expected).tobytes()


def test_mass_flow_is_largest_at_sonic_point():
    Ma = np.linspace(0.5, 1.5, 10001)
    for ga in (1.1, 1.4, 1.67):
        values = vx.mcpTo_APo_from_Ma(Ma, ga)
        assert Ma[np.argmax(values)] == pytest.approx(1.0, abs=1e-4)
