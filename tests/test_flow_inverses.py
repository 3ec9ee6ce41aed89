"""Inverses of the flow functions: Ma_from_A_Acrit, Ma_from_mcpTo_APo, Ma_from_mcpTo_AP and
Ma_from_F_mcpTo."""

import math
import struct

import numpy as np
import pytest

import ventaroxi as vx

INF = math.inf
NAN = math.nan
GAS = [1.1, 1.2, 1.3, 1.4, 1.5, 1.67]


def bits(x):
    return struct.pack("<d", float(x))


def one(function, value, *args):
    return float(function(np.array([value], dtype=float), *args)[0])


def relative_error(got, expected):
    return np.max(np.abs(got - expected) / expected)


def impulse(M, ga):
    """F/(m sqrt(cp To)), which has no forward function in the module."""
    C, k = math.sqrt(ga - 1) / ga, (ga - 1) * 0.5
    return C * (1 + ga * M * M) / (M * math.sqrt(1 + k * M * M))


def plain_impulse_solve(t, ga, start):
    """The impulse-function Newton solve from one start value, with no second attempt,
    operation for operation in IEEE doubles; it involves no pow, so it is exact."""
    f = np.float64
    ga, t, x = f(ga), f(t), f(start)
    C, k = np.sqrt(ga - 1) / ga, (ga - 1) * f(0.5)
    with np.errstate(all="ignore"):
        for _ in range(100):
            square = x * x
            sigma = np.sqrt(k * square + 1)
            residual = (C * (ga * square + 1) / x) * (1 / sigma) - t
            slope = C * (square - 1) / (square * ((sigma * sigma) * sigma))
            step = residual / slope
            x = x - step
            if not abs(step) > 1e-6:
                break
    if abs(step) > 1e-6 or np.isnan(x):
        return NAN
    return float(x)


# ---- Ma_from_A_Acrit ------------------------------------------------------------------


@pytest.mark.parametrize("sup", [False, True])
@pytest.mark.parametrize("t", [1.0, 0.99, 0.5, 0.0, -0.0, -1.0, -INF])
def test_area_ratio_at_or_below_one_gives_exactly_one(t, sup):
    assert bits(one(vx.Ma_from_A_Acrit, t, 1.4, sup)) == bits(1.0)


def test_area_ratio_values():
    assert one(vx.Ma_from_A_Acrit, 2.0, 1.4, False) == pytest.approx(0.305903834189, rel=1e-11)
    assert one(vx.Ma_from_A_Acrit, 2.0, 1.4, True) == pytest.approx(2.19719812165, rel=1e-11)


def test_area_ratio_infinite_target():
    # The first supersonic midpoint already evaluates to +inf; subsonic, the search ends
    # at the first halving point whose reciprocal overflows.
    assert one(vx.Ma_from_A_Acrit, INF, 1.4, True) == 8.988465674311579e307
    assert one(vx.Ma_from_A_Acrit, INF, 1.4, False) == 2.0**-1024


@pytest.mark.parametrize("sup", [False, True, None])
def test_area_ratio_nan_target_gives_nan(sup):
    """A NaN target has no Mach number; the plain search would report its first midpoint."""
    assert math.isnan(one(vx.Ma_from_A_Acrit, NAN, 1.4, sup))


@pytest.mark.parametrize("sup", [True, False])
def test_area_ratio_with_nan_ga_gives_nan_except_at_one(sup):
    got = vx.Ma_from_A_Acrit(np.array([0.5, 1.0, 2.0, math.inf]), NAN, sup)
    assert np.isnan(got[[0, 2, 3]]).all() and got[1] == 1.0


def test_area_ratio_ga_equal_to_one():
    assert one(vx.Ma_from_A_Acrit, 2.0, 1.0, False) == 0.5
    got = vx.Ma_from_A_Acrit(np.array([2.0, 0.5, 1e10, 1.0]), 1.0, True)
    assert list(got) == [8.988465674311579e307] * 3 + [1.0]


def test_area_ratio_every_target_is_a_mach_number():
    """Only a NaN target gives NaN: huge, tiny and impossible targets settle somewhere."""
    t = np.concatenate([10.0 ** np.arange(-300, 309, 7), [5e-324, 1.7976931348623157e308]])
    for sup in (False, True):
        got = vx.Ma_from_A_Acrit(t, 1.4, sup)
        assert not np.isnan(got).any()
        assert ((got <= 1) if not sup else (got >= 1)).all()


# ---- Ma_from_mcpTo_APo ----------------------------------------------------------------


def test_mass_flow_at_the_choking_maximum_converges_to_either_side_of_one():
    for ga in (1.1, 1.4, 1.67):
        m_star = vx.mcpTo_APo_from_Ma(np.array([1.0]), ga)
        below = vx.Ma_from_mcpTo_APo(m_star, ga)[0]
        above = vx.Ma_from_mcpTo_APo(m_star, ga, True)[0]
        assert 1 - 2e-6 < below < 1 < above < 1 + 2e-6


@pytest.mark.parametrize("sup", [False, True])
def test_mass_flow_above_the_choking_maximum_gives_nan(sup):
    m_star = float(vx.mcpTo_APo_from_Ma(np.array([1.0]), 1.4)[0])
    t = np.array([np.nextafter(m_star, 2), 1.3, 2.0, INF, -INF, NAN])
    assert np.isnan(vx.Ma_from_mcpTo_APo(t, 1.4, sup)).all()


def test_mass_flow_values():
    t = 0.7591201516179238  # the value at M = 2
    assert one(vx.Ma_from_mcpTo_APo, t, 1.4, True) == pytest.approx(2.0, rel=1e-15)
    assert one(vx.Ma_from_mcpTo_APo, t, 1.4, False) == pytest.approx(0.372244486202750, rel=1e-11)
    assert one(vx.Ma_from_mcpTo_APo, t, 1.4) == one(vx.Ma_from_mcpTo_APo, t, 1.4, False)


def test_mass_flow_zero_and_negative_targets():
    assert bits(one(vx.Ma_from_mcpTo_APo, 0.0, 1.4, False)) == bits(0.0)
    assert one(vx.Ma_from_mcpTo_APo, -0.1, 1.4, False) == pytest.approx(-0.0452309, rel=1e-6)
    assert np.isnan(vx.Ma_from_mcpTo_APo(np.array([0.0, -0.1]), 1.4, True)).all()


def test_static_pressure_mass_flow_values():
    got = vx.Ma_from_mcpTo_AP(np.array([0.0, 5.939696961966999, -1.0]), 1.4)
    assert bits(got[0]) == bits(0.0)
    assert got[1] == pytest.approx(2.0, rel=1e-15)
    assert got[2] == pytest.approx(-0.443135917, rel=1e-9)
    at_100 = vx.mcpTo_AP_from_Ma(np.array([100.0]), 1.4)
    assert vx.Ma_from_mcpTo_AP(at_100, 1.4)[0] == pytest.approx(100.0, rel=1e-15)


def test_static_pressure_mass_flow_failures():
    # 1e300 overflows the square of the first iterate.
    t = np.array([INF, -INF, NAN, 1e300])
    assert np.isnan(vx.Ma_from_mcpTo_AP(t, 1.4)).all()


@pytest.mark.parametrize(
    "function, sup",
    [(vx.Ma_from_mcpTo_APo, True), (vx.Ma_from_mcpTo_AP, None), (vx.Ma_from_F_mcpTo, False)],
)
def test_newton_relations_with_ga_equal_to_one_give_nan(function, sup):
    args = (1.0,) if sup is None else (1.0, sup)
    assert np.isnan(function(np.array([0.5, 1.0, 2.0]), *args)).all()


# ---- Ma_from_F_mcpTo -------------------------------------------------------------------


def test_impulse_values():
    t = impulse(0.5, 1.4)
    assert one(vx.Ma_from_F_mcpTo, t, 1.4, False) == pytest.approx(0.5, rel=1e-15)
    # The supersonic point of equal impulse.
    assert one(vx.Ma_from_F_mcpTo, t, 1.4, True) == pytest.approx(math.sqrt(7), rel=1e-11)


def test_impulse_at_its_minimum_converges_near_one():
    for ga in (1.1, 1.4, 1.67):
        minimum = impulse(1.0, ga)
        for sup in (False, True):
            assert one(vx.Ma_from_F_mcpTo, minimum, ga, sup) == pytest.approx(1.0, abs=2e-6)


@pytest.mark.parametrize("sup", [False, True, None])
def test_impulse_without_a_root_gives_nan(sup):
    t = np.array([0.98, 0.9, 0.5, 0.1, 0.0, -0.5, -1.0, -5.0, INF, -INF, NAN])
    assert np.isnan(vx.Ma_from_F_mcpTo(t, 1.4, sup)).all()


def test_impulse_above_its_supersonic_limit_gives_nan():
    # The function tends to sqrt(2) from below; the double nearest sqrt(2) can still be
    # met where rounding lifts the computed value onto it, so only clearly larger targets.
    assert np.isnan(vx.Ma_from_F_mcpTo(np.array([1.42, 1.5, 2.0, 10.0, 1e10]), 1.4, True)).all()


@pytest.mark.parametrize("ga", GAS)
def test_impulse_subsonic_round_trip_down_to_small_mach_numbers(ga):
    """The solve from 0.5 alone fails below about M = 0.27 and, for ga below about 1.2,
    can land on the supersonic root; the second solve from C/t finds the subsonic one.
    The step tolerance is absolute, which leaves up to about 2e-8 relative near M = 0.01
    and a few 1e-10 next to the minimum at M = 1."""
    M = np.geomspace(1e-8, 0.999, 4001)
    t = np.array([impulse(m, ga) for m in M])
    got = vx.Ma_from_F_mcpTo(t, ga, False)
    assert relative_error(got, M) < 3e-8
    away_from_tolerance = (M < 1e-3) | (M >= 0.05)
    assert relative_error(got[away_from_tolerance], M[away_from_tolerance]) < 1e-9


@pytest.mark.parametrize("ga", [1.1, 1.4, 1.67])
def test_impulse_results_of_the_plain_solve_stay_bit_identical(ga):
    """The second solve runs only after the plain one fails or lands above Mach 1; every
    other result is the plain solve's, bit for bit, on both branches."""
    t = np.concatenate(
        [[impulse(m, ga) for m in np.geomspace(0.01, 50, 600)], np.linspace(-2, 3, 400)]
    )
    for sup, start in ((False, 0.5), (True, 1.5)):
        got = vx.Ma_from_F_mcpTo(t, ga, sup)
        plain = [plain_impulse_solve(x, ga, start) for x in t]
        kept = [not math.isnan(p) and (sup or p <= 1) for p in plain]
        assert got[kept].tobytes() == np.array(plain)[kept].tobytes()
        if sup:
            assert np.array_equal(np.isnan(got), np.isnan(plain))
    # The retry does reach targets the plain solve loses.
    assert any(math.isnan(plain_impulse_solve(impulse(m, ga), ga, 0.5)) for m in (0.1, 0.2))


def test_impulse_subsonic_branch_never_returns_a_supersonic_root():
    ga = 1.1
    t = np.array([impulse(m, ga) for m in np.linspace(0.2, 0.27, 2001)])
    plain = [plain_impulse_solve(x, ga, 0.5) for x in t]
    assert np.nanmax(plain) > 2  # the plain solve does land on the other side here
    got = vx.Ma_from_F_mcpTo(t, ga, False)
    assert (got < 1).all()


# ---- Round trips -----------------------------------------------------------------------

SUBSONIC = np.linspace(0.05, 0.95, 181)
SUPERSONIC = np.geomspace(1.05, 10, 181)


@pytest.mark.parametrize("ga", GAS)
@pytest.mark.parametrize(
    "forward, inverse, M, sup",
    [
        (vx.A_Acrit_from_Ma, vx.Ma_from_A_Acrit, SUBSONIC, False),
        (vx.A_Acrit_from_Ma, vx.Ma_from_A_Acrit, SUPERSONIC, True),
        (vx.mcpTo_APo_from_Ma, vx.Ma_from_mcpTo_APo, SUBSONIC, False),
        (vx.mcpTo_APo_from_Ma, vx.Ma_from_mcpTo_APo, SUPERSONIC, True),
        (vx.mcpTo_AP_from_Ma, vx.Ma_from_mcpTo_AP, np.concatenate([SUBSONIC, SUPERSONIC]), None),
    ],
)
def test_round_trip(forward, inverse, M, sup, ga):
    args = (ga,) if sup is None else (ga, sup)
    assert relative_error(inverse(forward(M, ga), *args), M) < 1e-10


@pytest.mark.parametrize("ga", GAS)
def test_impulse_supersonic_round_trip(ga):
    M = SUPERSONIC
    t = np.array([impulse(m, ga) for m in M])
    assert relative_error(vx.Ma_from_F_mcpTo(t, ga, True), M) < 1e-10
