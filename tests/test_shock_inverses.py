"""Normal-shock inverses: Ma_from_Mash and Ma_from_Posh_Po."""

import math

import numpy as np
import pytest

import ventaroxi as vx

INF = math.inf
NAN = math.nan
GAS = [1.1, 1.2, 1.3, 1.4, 1.5, 1.67]


def at(function, values, ga=1.4):
    return function(np.array(values, dtype=float), ga)


@pytest.mark.parametrize(
    "Mash, Ma, rel",
    [
        (1.0, 1.0, 1e-15),
        (0.9, 1.1153974, 1e-7),
        (0.5, math.sqrt(7), 1e-15),
        (0.4, 6.5574385, 1e-7),
        (0.378, 165.396, 1e-5),
    ],
)
def test_mach_number_behind(Mash, Ma, rel):
    assert at(vx.Ma_from_Mash, [Mash])[0] == pytest.approx(Ma, rel=rel, abs=0)


def test_mach_number_behind_without_a_root_gives_nan():
    # Above 1 (the next double included) is rejected outright; below sqrt(0.4/2.8), about
    # 0.3779645, there is no root.
    t = [1.0000000000000002, 1.5, INF, 0.3779, 0.0, -0.0, -1.0, -INF, NAN]
    assert np.isnan(at(vx.Ma_from_Mash, t)).all()


def test_mach_number_behind_for_other_ga():
    assert math.isnan(at(vx.Ma_from_Mash, [0.4], 1.67)[0])  # the limit is about 0.4479
    # With ga = 1 the relation is 1/M.
    ga_one = at(vx.Ma_from_Mash, [0.5, 0.4, 0.0], 1.0)
    assert ga_one[:2] == pytest.approx([2.0, 2.5], rel=2.3e-16)
    assert math.isnan(ga_one[2])
    # From ga = 2 on, the start value 0.5 is not above the pole.
    assert np.isnan(at(vx.Ma_from_Mash, [0.9, 0.5], 2.0)).all()
    assert np.isnan(at(vx.Ma_from_Mash, [0.9], 2.5)).all()
    assert at(vx.Ma_from_Mash, [0.9], 1.99)[0] == pytest.approx(1.11996, rel=1e-5)


@pytest.mark.parametrize(
    "Posh_Po, Ma, rel",
    [
        (0.99999, 1.02002, 1e-5),
        (0.9, 1.5870045, 1e-7),
        (0.5, 2.4975411, 1e-7),
        (0.1, 4.3936383, 1e-7),
        (0.001, 12.649466, 1e-7),
        (1e-12, 815.14, 1e-5),
        # Above 1 the iteration may settle below Mach 1, where the relation takes that value.
        (1.01, 0.82667, 1e-5),
        (1.2, 0.62740, 1e-5),
    ],
)
def test_mach_number_from_stagnation_pressure_ratio(Posh_Po, Ma, rel):
    assert at(vx.Ma_from_Posh_Po, [Posh_Po])[0] == pytest.approx(Ma, rel=rel, abs=0)


def test_stagnation_pressure_ratio_of_one_sits_on_a_triple_root():
    assert 1 < at(vx.Ma_from_Posh_Po, [1.0])[0] < 1 + 1e-5
    assert 1 - 1e-5 < at(vx.Ma_from_Posh_Po, [1.0], 1.67)[0] < 1


def test_stagnation_pressure_ratio_at_the_start_value_is_met_exactly():
    t = vx.Posh_Po_from_Ma(np.array([1.5]), 1.4)
    assert vx.Ma_from_Posh_Po(t, 1.4)[0] == 1.5


def test_stagnation_pressure_ratio_without_a_root_gives_nan():
    t = [0.0, -0.0, -1.0, INF, -INF, NAN, 1e-300, 1.5, 2.0]
    assert np.isnan(at(vx.Ma_from_Posh_Po, t)).all()
    assert np.isnan(at(vx.Ma_from_Posh_Po, [0.5, 0.9, 1.0], 1.0)).all()


def test_stagnation_pressure_ratio_may_settle_on_a_negative_root():
    # The relation depends on M^2 only.
    assert at(vx.Ma_from_Posh_Po, [1.5], 1.67)[0] == pytest.approx(-0.5759, rel=1e-4)


@pytest.mark.parametrize("ga", GAS)
@pytest.mark.parametrize(
    "forward, inverse",
    [(vx.Mash_from_Ma, vx.Ma_from_Mash), (vx.Posh_Po_from_Ma, vx.Ma_from_Posh_Po)],
)
def test_round_trip(forward, inverse, ga):
    M = np.geomspace(1.05, 10, 361)
    got = inverse(forward(M, ga), ga)
    assert np.max(np.abs(got - M) / M) < 1e-10
