"""Accuracy against 50-digit values (tests/exact.py): the README's accuracy tables and the
relations' contract comments are what `python3 tests/exact.py --write` makes of its record
of the full sample (tests/accuracy.json), and every figure they state holds on a prefix of
that sample and on a sample drawn with another seed at other values of ga; both samples
meet NaN only beyond the edges the README states; and the values the README
gives for a user to pass back work.

VENTAROXI_ACCURACY_SAMPLES sets the Mach numbers per ga of the prefix (default 8, for each
of the full sample's named gases); the other sample has four times as many, for two gases
drawn in each band."""

import math
import re
from functools import cache

import numpy as np
import pytest

from support import readme_text, require, source_tree, workload

require("mpmath")
import exact  # noqa: E402  (needs mpmath)
from mpmath import mpf  # noqa: E402

import ventaroxi as vx  # noqa: E402

import generated  # noqa: E402
import nan_edges  # noqa: E402
from functions import FUNCTIONS  # noqa: E402

README = readme_text()
SAMPLE = workload("VENTAROXI_ACCURACY_SAMPLES", 8)
SECOND_SEED = 7  # any seed but the full sample's

NUMBER = r"\d+(?:\.\d+)?(?:e[+-]?\d+)?"


@cache
def full():
    return exact.recorded()


@cache
def measured(seed=exact.SEED):
    if seed == exact.SEED:
        return exact.measure(exact.CASES, exact.sample(SAMPLE, named_only=True))
    return exact.measure(exact.CASES, exact.sample(SAMPLE * 4, seed, per_band=2))


@pytest.mark.parametrize("seed", [exact.SEED, SECOND_SEED], ids=["prefix", "second seed"])
@pytest.mark.parametrize("case", exact.CASES, ids=lambda case: case.label)
def test_measured_error_within_stated_bound(case, seed):
    stated_bands, bands = full()[case.label].bands, measured(seed)[case.label].bands
    for band, (stated_regions, regions) in enumerate(zip(stated_bands, bands, strict=True)):
        for region, worst in regions.items():
            where = f"{exact.band_name(band)}, {region}"
            stated = exact.bound(case, stated_regions[region])
            if stated is None:
                assert worst.points == 0, f"{where}: {worst.points} points, and no figure stated"
                continue
            error, multiple = stated
            assert worst.error <= error, f"{where}: {worst.error:.3g} at {worst.at}, stated {error}"
            if multiple is not None:
                assert worst.multiple <= multiple, (
                    f"{where}: {worst.multiple:.3g} times the bound at {worst.at_multiple}, "
                    f"stated {multiple}"
                )


def test_every_function_is_measured():
    assert {case.function for case in exact.CASES} == set(vx.__all__)
    assert set(full()) == {case.label for case in exact.CASES}


def test_record_is_of_the_full_sample():
    record = generated.read_record(exact.RECORD)
    assert record["gases"] == list(exact.FULL_GAS)
    assert record["mach_numbers_per_ga"] == exact.FULL_SAMPLE
    assert {exact.band_of(ga) for ga in exact.drawn_gas(SECOND_SEED, 2)} == {0, 1, 2, 3}
    assert not set(exact.drawn_gas(SECOND_SEED, 2)) & set(exact.FULL_GAS)


def test_readme_tables_are_written_from_the_record():
    # As `python3 tests/exact.py --render` would write them: it would change nothing.
    assert generated.block(README, "accuracy") == exact.readme_tables(full())
    assert generated.with_block(README, "accuracy", exact.readme_tables(full())) == README


@pytest.mark.parametrize("function", vx.__all__)
def test_contract_comment_is_written_from_the_record(function):
    header = source_tree() / "src" / "relations" / FUNCTIONS[function].header
    text = header.read_text(encoding="utf-8")
    sentence = exact.comment_sentence(function, full())
    assert generated.comment_sentence(text, function, exact.OPENING) == sentence
    assert generated.with_comment_sentence(text, function, exact.OPENING, sentence) == text
    lines = generated.wrapped_comment(sentence)
    assert max(map(len, lines)) <= 100
    assert not any(line.endswith(".") for line in lines[:-1])


def test_sample_is_a_prefix_of_the_full_sample():
    # The stated figures come from the full sample, so the smaller one cannot exceed them
    # by chance.
    assert exact.mach_numbers(50, 3)[:50] == exact.mach_numbers(exact.FULL_SAMPLE, 3)[:50]
    assert exact.sample(5)[3] == (exact.FULL_GAS[3], exact.mach_numbers(5, 3))
    named = len(exact.NAMED_GAS)
    assert exact.sample(5, named_only=True) == exact.sample(5)[:named]


@pytest.mark.parametrize(
    "relation",
    [
        exact.to_t,
        exact.po_p,
        exact.rhoo_rho,
        exact.v_cpto,
        exact.mcpto_apo,
        exact.mcpto_ap,
        exact.a_acrit,
        exact.f_mcpto,
        exact.mash,
        exact.posh_po,
    ],
    ids=lambda relation: relation.__name__,
)
@pytest.mark.parametrize("M", ["0.6", "0.9", "1.7", "40"])
def test_reference_slopes_are_the_derivatives(relation, M):
    # The exact roots and the conditioning bounds rest on the written-out slopes.
    import mpmath

    g, x = mpf("1.3"), mpf(M)
    slope = relation(x, g)[1]
    numeric = mpmath.diff(lambda y: relation(y, g)[0], x)
    assert abs(slope - numeric) <= abs(numeric) * mpf(10) ** -30


@pytest.mark.parametrize(
    ("relation", "M", "ga", "value"),
    [  # values an independent route gives: the forward relations' round values at ga = 1.4
        (exact.to_t, "2", "1.4", "1.8"),
        (exact.a_acrit, "2", "1.4", "1.6875"),
        (exact.mash, "2", "1.4", "0.57735026918962576451"),
        (exact.posh_po, "1", "1.4", "1"),
        (exact.f_mcpto, "1", "1.4", "0.98974331861078702"),
    ],
)
def test_reference_values(relation, M, ga, value):
    assert abs(relation(mpf(M), mpf(ga))[0] - mpf(value)) < mpf(10) ** -16


# ---- where the iterations give NaN -----------------------------------------------------


@pytest.mark.parametrize("seed", [exact.SEED, SECOND_SEED], ids=["prefix", "second seed"])
@pytest.mark.parametrize("case", [c for c in exact.CASES if c.inverse], ids=lambda case: case.label)
def test_sample_meets_nan_only_beyond_the_stated_edge(case, seed):
    # The edges themselves are tests/test_edges.py's; both samples must agree with them.
    for M, ga in measured(seed)[case.label].nans:
        edge = nan_edges.stated_edge(case.label, ga)
        assert nan_edges.nan_is_stated(case.label, M, ga), f"NaN at M = {M}, ga = {ga}, edge {edge}"


# ---- values the README gives to pass back ---------------------------------------------


def quoted(pattern):
    found = re.search(pattern, README)
    assert found, pattern
    return found[1]


def test_quoted_choking_value_is_the_largest_accepted_target():
    text = quoted(rf"the choking value \(({NUMBER}) for γ = 1\.4")
    value = float(text)
    assert repr(value) == text
    assert value == exact.choking_value(1.4)
    for sup in (False, True):
        assert abs(vx.Ma_from_mcpTo_APo(np.array([value]), 1.4, sup)[0] - 1) < 2e-6
        assert math.isnan(vx.Ma_from_mcpTo_APo(np.array([math.nextafter(value, 2)]), 1.4, sup)[0])


def test_quoted_impulse_minimum_is_the_double_nearest_it_and_is_accepted():
    text = quoted(rf"minimum at M = 1 \(({NUMBER}) for γ = 1\.4")
    value = float(text)
    assert repr(value) == text
    minimum = exact.extremum(exact.case_named("Ma_from_F_mcpTo, sup=True"), 1.4)
    assert float(minimum) == value and value < minimum  # the README says it lies just below
    for sup in (False, True):
        assert abs(vx.Ma_from_F_mcpTo(np.array([value]), 1.4, sup)[0] - 1) < 2e-6


def test_quoted_velocity_bound_is_the_largest_accepted_velocity():
    text = quoted(rf"largest accepted \\\|V\\\| is ({NUMBER})")
    value = float(text)
    assert repr(value) == text and value < math.sqrt(2)
    assert math.isfinite(vx.Ma_from_V_cpTo(np.array([value]), 1.4)[0])
    assert math.isnan(vx.Ma_from_V_cpTo(np.array([math.nextafter(value, 2)]), 1.4)[0])


def test_quoted_impulse_bound_is_the_largest_supersonic_target():
    text = quoted(rf"largest supersonic target is ({NUMBER}) for γ = 1\.4")
    value = float(text)
    assert repr(value) == text
    assert value == math.sqrt(2) and mpf(value) > mpf(2).sqrt()  # the README: just above √2
    assert math.isfinite(vx.Ma_from_F_mcpTo(np.array([value]), 1.4, True)[0])
    assert math.isnan(vx.Ma_from_F_mcpTo(np.array([math.nextafter(value, 2)]), 1.4, True)[0])
