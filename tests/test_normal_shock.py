"""Normal-shock relations: Mash_from_Ma and Posh_Po_from_Ma."""

import math
import struct

import numpy as np
import pytest

import ventaroxi as vx

INF = math.inf


def bits(x):
    return struct.pack("<d", float(x))


def at(function, values, ga=1.4):
    return function(np.array(values, dtype=float), ga)


@pytest.mark.parametrize(
    "Ma, mash, posh",
    [
        (1.0, 1.0, 1.0),
        (2.0, 0.5773502691896257, 0.720873861485),
        (3.0, 0.4751909633114914, 0.328343888191),
        (10.0, 0.3875752730434155, 0.00304475264342),
        # A subsonic Mach number is not rejected: the expressions give values above 1.
        (0.5, 2.6457513110645903, 2.25676746566),
    ],
)
def test_values_at_ga_1_4(Ma, mash, posh):
    # No pow behind the Mach number: its steps fix every bit.
    assert bits(at(vx.Mash_from_Ma, [Ma])[0]) == bits(mash)
    assert at(vx.Posh_Po_from_Ma, [Ma])[0] == pytest.approx(posh, rel=1e-11, abs=0)
    assert bits(at(vx.Posh_Po_from_Ma, [1.0])[0]) == bits(1.0)


@pytest.mark.parametrize("function", [vx.Mash_from_Ma, vx.Posh_Po_from_Ma])
def test_even_in_Ma(function):
    Ma = np.array([0.4, 0.5, 1.0, 1.5, 2.0, 7.5, 1e10, INF])
    assert function(-Ma, 1.4).tobytes() == function(Ma, 1.4).tobytes()


def test_no_shock_below_the_limit_gives_nan():
    # Ma^2 < (ga - 1)/(2 ga), |Ma| below about 0.378 at ga = 1.4.
    Ma = [0.0, -0.0, 0.1, 0.37, -0.377, math.nan]
    assert np.isnan(at(vx.Mash_from_Ma, Ma)).all()
    assert np.isnan(at(vx.Posh_Po_from_Ma, Ma)).all()


@pytest.mark.parametrize("Ma", [INF, -INF, 1e200])
def test_infinite_and_overflowing_Ma(Ma):
    assert math.isnan(at(vx.Mash_from_Ma, [Ma])[0])  # inf/inf
    assert bits(at(vx.Posh_Po_from_Ma, [Ma])[0]) == bits(0.0)


def test_ga_equal_to_one():
    assert list(at(vx.Mash_from_Ma, [0.5, 0.0, -4.0], 1.0)) == [2.0, INF, 0.25]
    posh = at(vx.Posh_Po_from_Ma, [1.0, -1.0, 0.5, 2.0], 1.0)
    assert list(posh[:2]) == [1.0, 1.0]
    assert np.isnan(posh[2:]).all()


def test_ga_nan():
    for function in (vx.Mash_from_Ma, vx.Posh_Po_from_Ma):
        assert np.isnan(at(function, [0.5, 1.0, 2.0], math.nan)).all()


def test_mach_number_order_of_operations():
    """Without pow every bit is fixed; a contracted multiply-add or a reordering shows."""
    rng = np.random.default_rng(8)
    Ma = np.concatenate([rng.uniform(0.38, 20, 500), 10 ** rng.uniform(0, 150, 500)])
    for ga in (1.1, 1.4, 1.67, 1.3333333333333333):
        c = (ga - 1) * 0.5
        expected = [math.sqrt((c * (m * m) + 1) / ((m * m) * ga - c)) for m in Ma]
        assert vx.Mash_from_Ma(Ma, ga).tobytes() == np.array(expected).tobytes()


def test_stagnation_pressure_at_sonic_point_for_other_ga():
    # The shock-free point need not round to exactly 1 when u or v does not.
    for ga in (1.1, 1.3, 5 / 3):
        assert at(vx.Posh_Po_from_Ma, [1.0], ga)[0] == pytest.approx(1.0, abs=1e-15)
