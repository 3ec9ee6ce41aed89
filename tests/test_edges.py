"""Where the iterative inverses give NaN inside their domain, and the other in-domain
surprises: what the README states, each checked here on a sample a CI run affords (the dense
scans that found the figures are tests/nan_edges.py's, the surprises tests/surprises.py's).

VENTAROXI_EDGES_SAMPLES sets the targets drawn below each stated edge (default 20 000);
VENTAROXI_EDGES_SEED the draws of γ and of the targets."""

import math

import numpy as np
import pytest

from support import needs_source_tree, require, workload

require("mpmath")
import generated  # noqa: E402
import nan_edges  # noqa: E402
import surprises  # noqa: E402

pytestmark = needs_source_tree

SAMPLE = workload("VENTAROXI_EDGES_SAMPLES", 20_000)
SEED = workload("VENTAROXI_EDGES_SEED", 21)
EDGES = nan_edges.recorded()
SURPRISES = generated.read_record(surprises.RECORD)


def test_readme_and_comments_state_the_records():
    assert generated.readme_block(nan_edges.BLOCK) == nan_edges.render(EDGES)
    assert generated.readme_block(surprises.BLOCK) == surprises.render(SURPRISES)
    for (header, struct), sentence in nan_edges.comment_sentences(EDGES).items():
        text = (generated.RELATIONS / header).read_text(encoding="utf-8")
        assert generated.comment_sentence(text, struct, nan_edges.OPENING) == sentence


ROWS = [
    (inverse, index)
    for inverse in nan_edges.INVERSES
    for index in range(len(nan_edges.BANDS))
    if inverse.bound is not None
]


def row_id(row):
    inverse, index = row
    return f"{inverse.label}, band {index}"


def drawn(band, index):
    return float(np.random.default_rng([SEED, index]).uniform(*band))


def below(edge, rng, count):
    """Mach numbers of the branch M > 1 below `edge`: half within a factor of 3 of it, a
    quarter log-uniform from 1, a quarter within 1e-12 to 0.1 of 1."""
    quarter = count // 4
    return np.concatenate(
        [
            edge * 10 ** rng.uniform(-math.log10(3), 0, count - 2 * quarter),
            edge ** rng.uniform(0, 1, quarter),
            1 + 10 ** rng.uniform(-12, -1, quarter),
        ]
    )


@pytest.mark.parametrize("row", ROWS, ids=map(row_id, ROWS))
def test_no_nan_below_the_stated_edge(row):
    inverse, index = row
    band = EDGES["inverses"][inverse.label][index]
    edge = nan_edges.rounded(band["derived"][0], 2, down=True)
    rng = np.random.default_rng([SEED, 100 + index])
    # At the γ of the band where the edge is lowest, and at one drawn from the band.
    for ga in (band["derived"][1], drawn(band["band"], index)):
        assert nan_edges.derived_edge(inverse, ga) >= edge
        M = below(edge, rng, SAMPLE)
        t, keep = inverse.targets(M, ga)
        if inverse.function == "Ma_from_Posh_Po":  # NaN next to 1 is stated on its own
            zone = nan_edges.near_one_zone(EDGES["near-one"][index])
            keep &= t < 1 - zone * 2.0**-53
        results = inverse.call(t[keep], ga)
        assert not np.isnan(results).any(), f"γ = {ga}: NaN at M = {M[keep][np.isnan(results)]}"


@pytest.mark.parametrize("row", ROWS, ids=map(row_id, ROWS))
def test_record_holds_the_derivation_of_today(row):
    # A change to an error bound or to the cap's search shows here, not only at a rescan. The
    # bounds go through NumPy's logarithms and powers, whose last bits vary with its version
    # and the processor's vector instructions: a relative 1e-12 is far below any stated digit.
    inverse, index = row
    band = EDGES["inverses"][inverse.label][index]
    assert [g["ga"] for g in band["gases"]] == nan_edges.scanned_gases(tuple(band["band"]))
    for g in band["gases"]:
        derived = nan_edges.derived_edge(inverse, g["ga"])
        assert derived == pytest.approx(g["derived"], rel=1e-12), g["ga"]
    derived = nan_edges.derived_in_band(inverse, tuple(band["band"]))
    assert derived == pytest.approx(band["derived"], rel=1e-12)


@pytest.mark.parametrize("row", ROWS, ids=map(row_id, ROWS))
def test_first_nan_found_is_a_nan_past_the_edge(row):
    inverse, index = row
    band = EDGES["inverses"][inverse.label][index]
    found = [g for g in band["gases"] if g["first"] is not None]
    assert all(g["first"] >= g["derived"] for g in found)  # the derivation holds at each γ
    first = min(found, key=lambda g: g["first"])
    assert math.isnan(inverse.call(np.array([first["first_target"]]), first["ga"])[0])
    t, _ = inverse.targets(np.array([first["first"]]), first["ga"])
    assert t[0] == first["first_target"]


RULED = [
    row
    for row in ROWS
    if all(g["rule"] is not None for g in EDGES["inverses"][row[0].label][row[1]]["gases"])
]


@pytest.mark.parametrize("row", RULED, ids=map(row_id, RULED))
def test_nan_is_the_rule_beyond_the_stated_edge(row):
    inverse, index = row
    for at in EDGES["inverses"][inverse.label][index]["gases"]:
        # From the next Mach number of the scan that found the edge over a decade: all NaN.
        step = 10 ** (1 / EDGES["dense"])
        M = at["rule"] * step * 10 ** np.linspace(0, 1, 500)
        t, keep = inverse.targets(M, at["ga"])
        assert keep.any() and np.isnan(inverse.call(t[keep], at["ga"])).all(), at["ga"]
        # At it, a finite root.
        t, _ = inverse.targets(np.array([at["rule"]]), at["ga"])
        assert math.isfinite(inverse.call(t, at["ga"])[0]), at["ga"]


@pytest.mark.parametrize("index", range(len(nan_edges.BANDS)))
def test_nan_next_to_one_only_within_the_stated_distance(index):
    band = EDGES["near-one"][index]
    most, at = band["most"]
    assert len(nan_edges.near_one(at)) == most > 0
    farthest, at = band["farthest"]
    assert max(nan_edges.near_one(at)) == farthest
    zone = nan_edges.near_one_zone(band)
    for ga in np.random.default_rng([SEED, 400 + index]).uniform(*band["band"], 20):
        assert max(nan_edges.near_one(float(ga)), default=0) <= zone, ga


QUIET = [inverse for inverse in nan_edges.INVERSES if inverse.bound is None]


@pytest.mark.parametrize("inverse", QUIET, ids=lambda inverse: inverse.label)
def test_no_nan_anywhere(inverse):
    rng = np.random.default_rng([SEED, 200])
    count = SAMPLE // 100 if inverse.form == "bisection" else SAMPLE
    for index, band in enumerate(nan_edges.BANDS):
        ga = drawn(band, index)
        exponents = rng.uniform(-300, 0, count) if inverse.subsonic else rng.uniform(0, 154, count)
        near_one = 10 ** rng.uniform(-12, -1, count // 4)
        M = np.concatenate([10**exponents, 1 - near_one if inverse.subsonic else 1 + near_one])
        t, keep = inverse.targets(M, ga)
        assert not np.isnan(inverse.call(t[keep], ga)).any()


@pytest.mark.parametrize("surprise", surprises.SURPRISES, ids=lambda s: s.name)
def test_surprise(surprise):
    # The figures the README gives, at its γ; then the surprise where a drawn γ puts it.
    for ga, figures in SURPRISES[surprise.name].items():
        assert surprise.figures(float(ga)) == figures
        surprise.check(float(ga), figures)
    ga = float(np.random.default_rng([SEED, 300]).uniform(*surprise.span))
    surprise.check(ga, surprise.figures(ga))


def test_choking_gap_is_widest_where_the_record_says():
    # The most refused doubles a band holds, at the γ the README names (of 2001 scanned).
    for band in SURPRISES["choking-bands"]:
        low, high = band["band"]
        assert low <= band["at"] <= high
        assert surprises.choking(band["at"])["refused"] == band["most"] > 0
