"""The nineteen relations in 50-digit arithmetic, and the library's error against them.

Forward values come from the closed forms with the double Mach number and the double ga
taken exactly; an inverse's exact value is the root, on its branch, of the exact forward
relation at the double target, found by Newton's method in 50 digits from the Mach number
the target was made from. The impulse function, which has no forward function in the
module, is taken from its closed form √(γ−1)/γ · (1 + γM²)/(M·√(1 + k·M²)).

Errors are reported per band of ga and per region of the exact Mach number: ulps of the
exact value for the forward relations; relative error for the inverses, also as a multiple of
the conditioning bound, ½ ulp of the target (relative) times |f/(M·f′)|, the error that
rounding the target alone would cause. A point where an intermediate of the relation (a power,
the result) lies outside the normal doubles is not counted in the figures: there the result
over- or underflows, and the tables say where that happens instead.

    python3 tests/exact.py [MACH_NUMBERS_PER_GA]          print the measured tables
    python3 tests/exact.py --write [MACH_NUMBERS_PER_GA]  measure, record in tests/accuracy.json
                                                          and write the README and comments
    python3 tests/exact.py --render                       write them from tests/accuracy.json

The default is the full sample (FULL_SAMPLE Mach numbers for each of the ga of FULL_GAS),
which takes the better part of an hour on two shared cores (run it under nice);
tests/test_accuracy.py measures a prefix of it and a sample drawn with another seed.
"""

import math
import os
import sys
import textwrap
from concurrent.futures import ProcessPoolExecutor
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np
from mpmath import mp, mpf, sqrt

import ventaroxi as vx

import generated
from functions import FUNCTIONS, SHOCK

mp.dps = 50

# Bands of ga, each from its first value up to the next band's; the last includes its end.
BANDS = ((1.01, 1.05), (1.05, 1.2), (1.2, 1.7), (1.7, 3.0))
# The gases of the full sample: these (each band's ends among them, where its figures are
# set by the neighbouring band's), and RANDOM_PER_BAND drawn uniformly in each band.
NAMED_GAS = (1.01, 1.02, 1.03, 1.04, 1.049, 1.05, 1.1, 1.15, 1.199, 1.2, 1.25, 1.3, 1.33)
NAMED_GAS += (1.4, 1.5, 1.6, 5 / 3, 1.699, 1.7, 2.0, 2.5, 3.0)
RANDOM_PER_BAND = 12
FULL_SAMPLE = 1_000
SEED = 20_131
RECORD = Path(__file__).resolve().parent / "accuracy.json"


def band_of(ga):
    return next(
        i for i, (low, high) in enumerate(BANDS) if low <= ga < high or ga == high == BANDS[-1][1]
    )


def band_name(index):
    low, high = BANDS[index]
    closing = "≤" if index == len(BANDS) - 1 else "<"
    return f"{low:g} ≤ γ {closing} {high:g}"


def drawn_gas(seed, per_band):
    rng = np.random.default_rng([seed, 0])
    return tuple(float(ga) for low, high in BANDS for ga in rng.uniform(low, high, per_band))


FULL_GAS = NAMED_GAS + drawn_gas(SEED, RANDOM_PER_BAND)

# Regions of the exact Mach number, in the order of the README's accuracy table.
REGIONS = ("M < 0.05", "|M − 1| ≤ 0.05", "M > 20", "elsewhere")


def region(M):
    if M < 0.05:
        return REGIONS[0]
    if abs(M - 1) <= 0.05:
        return REGIONS[1]
    if M > 20:
        return REGIONS[2]
    return REGIONS[3]


# ---- the exact relations: each gives (f, df/dM) at an mpf M for an mpf ga ------------


def _q(M, g):
    return 1 + (g - 1) / 2 * M * M


def _power_of_q(a):
    def relation(M, g):
        q = _q(M, g)
        return q ** a(g), a(g) * q ** (a(g) - 1) * (g - 1) * M

    return relation


def to_t(M, g):
    return _q(M, g), (g - 1) * M


def v_cpto(M, g):
    q = _q(M, g)
    return M * sqrt(g - 1) / sqrt(q), sqrt(g - 1) / q**1.5


def mcpto_apo(M, g):
    q, D, b = _q(M, g), g / sqrt(g - 1), -(g + 1) / (2 * (g - 1))
    return D * M * q**b, D * q ** (b - 1) * (q + b * (g - 1) * M * M)


def mcpto_ap(M, g):
    q, D = _q(M, g), g / sqrt(g - 1)
    return D * M * sqrt(q), D * (q + (g - 1) / 2 * M * M) / sqrt(q)


def a_acrit(M, g):
    q, e = _q(M, g), (g + 1) / (2 * (g - 1))
    f = (q / ((g + 1) / 2)) ** e / M
    return f, f * (e * (g - 1) * M / q - 1 / M)


def f_mcpto(M, g):
    q, C = _q(M, g), sqrt(g - 1) / g
    return C * (1 + g * M * M) / (M * sqrt(q)), C * (M * M - 1) / (M * M * q**1.5)


def mash(M, g):
    k = (g - 1) / 2
    d = g * M * M - k
    return sqrt(_q(M, g) / d), -M * (g + 1) ** 2 / (4 * d**1.5 * sqrt(_q(M, g)))


def posh_po(M, g):
    m = M * M
    X = (g + 1) * m / ((g - 1) * m + 2)
    Y = (2 * g * m - (g - 1)) / (g + 1)
    f = X ** (g / (g - 1)) * Y ** (-1 / (g - 1))
    slope = g / (g - 1) * (2 / M - 2 * (g - 1) * M / ((g - 1) * m + 2)) - 4 * g * M / (
        (g - 1) * (2 * g * m - (g - 1))
    )
    return f, f * slope


po_p = _power_of_q(lambda g: g / (g - 1))
rhoo_rho = _power_of_q(lambda g: 1 / (g - 1))


# The exact relation of each quantity (tests/functions.py names the quantity of each function).
EXACT = {
    "To_T": to_t,
    "Po_P": po_p,
    "rhoo_rho": rhoo_rho,
    "V_cpTo": v_cpto,
    "mcpTo_APo": mcpto_apo,
    "mcpTo_AP": mcpto_ap,
    "A_Acrit": a_acrit,
    "F_mcpTo": f_mcpto,
    "Mash": mash,
    "Posh_Po": posh_po,
}


# What else the library forms on the way, beyond the result itself, that can leave the
# doubles: each relation's powers (a stagnation ratio's static-to-stagnation reciprocal, the
# power in the mass flow and the area ratio, the shock's two powers and their product).
def _shock_powers(M, g, f):
    m = M * M
    u = (2 * g * m - (g - 1)) / (g + 1)
    v = ((g - 1) * m + 2) / ((g + 1) * m)
    return [u ** (1 / (g - 1)), v ** (g / (g - 1)), 1 / f]


INTERMEDIATES = {
    "Po_P": lambda M, g, f: [1 / f],
    "rhoo_rho": lambda M, g, f: [1 / f],
    "mcpTo_APo": lambda M, g, f: [f * sqrt(g - 1) / (g * M)],
    "A_Acrit": lambda M, g, f: [f * M],
    "Posh_Po": _shock_powers,
}

SMALLEST_NORMAL, LARGEST = 2.0**-1022, sys.float_info.max


def inside_the_doubles(quantity, M, g, f):
    """Whether the exact result and the relation's intermediates at M are normal doubles."""
    values = [f, *INTERMEDIATES.get(quantity, lambda *_: [])(M, g, f)]
    return all(SMALLEST_NORMAL <= abs(value) <= LARGEST for value in values)


@dataclass(frozen=True)
class Case:
    """One row of the accuracy table: a function on one branch of Mach numbers."""

    label: str
    function: str
    exact: object
    lowest: float  # the branch: lowest < M < highest, or M = 1 where that belongs to it
    highest: float
    sup: object = None  # the branch flag passed, if the function takes one
    quantity: str = ""

    @property
    def inverse(self):
        return self.function.startswith("Ma_from_")

    def arguments(self, ga):
        return (ga,) if self.sup is None else (ga, self.sup)

    def holds(self, M, ga):
        low = self.lowest if self.lowest != SHOCK else SHOCK_MARGIN * math.sqrt((ga - 1) / 2 / ga)
        # M = 1 belongs to the supersonic side, and to the subsonic one of an inverse.
        return low < M < self.highest or (M == 1 and (self.highest == INF or self.sup is False))


INF = math.inf
# Below M = 1 the shock relations are measured from this multiple of √((γ − 1)/(2γ)) up:
# towards that pole γM² − k cancels, and their error grows without bound.
SHOCK_MARGIN = 1.1


# A case per branch of each function, in the table's order.
CASES = [
    Case(
        ", ".join(filter(None, (row.name, branch.label))),
        row.name,
        EXACT[row.quantity],
        branch.lowest,
        branch.highest,
        branch.sup,
        row.quantity,
    )
    for row in FUNCTIONS.values()
    for branch in row.branches
]


# ---- the sample -------------------------------------------------------------------------


def mach_numbers(count, ga_index, seed=SEED):
    """`count` Mach numbers for one ga, the first `count` of one fixed sequence, so that a
    smaller sample is a prefix of a larger one: three eighths log-uniform on [1e-6, 1e6], a
    quarter next to 1 (1 ± 10^u, u uniform on [−9, −1.3]), an eighth as close to the edges
    of the regions (0.05, 0.95, 1.05, 20), a quarter uniform on [0.2, 5]; then the extremes."""
    size = max(count, FULL_SAMPLE)
    rng = np.random.default_rng([seed, ga_index])
    logs = 10.0 ** rng.uniform(-6, 6, size)
    near = 1 + rng.choice([-1.0, 1.0], size) * 10.0 ** rng.uniform(-9, -1.3, size)
    edges = rng.choice([0.05, 0.95, 1.05, 20.0], size) * (
        1 + rng.choice([-1.0, 1.0], size) * 10.0 ** rng.uniform(-9, -1.3, size)
    )
    middle = rng.uniform(0.2, 5, size)
    category = np.arange(size) % 8
    drawn = np.select([category < 3, category < 5, category == 5], [logs, near, edges], middle)[
        :count
    ]
    extremes = [1e-6, 1e6, 0.05, 0.95, 1.05, 20.0, 0.5, 2.0, 10.0, 1.0]
    extremes += [1 - 1e-8, 1 + 1e-8, 1 - 2**-52, 1 + 2**-51]
    return [*drawn.tolist(), *extremes]


def sample(count, seed=SEED, per_band=2, named_only=False):
    """[(ga, Mach numbers)]: with SEED, the first `count` Mach numbers of the full sample at
    each of its gases (or of its named ones); with another seed, `per_band` gases drawn in
    each band and `count` Mach numbers drawn with that seed."""
    if seed == SEED:
        gases = NAMED_GAS if named_only else FULL_GAS  # the named ones come first
    else:
        gases = drawn_gas(seed, per_band)
    return [(ga, mach_numbers(count, index, seed)) for index, ga in enumerate(gases)]


# ---- measurement ------------------------------------------------------------------------


def ulp(x):
    return math.ulp(float(x))


def exact_root(case, t, start, ga):
    """The root of exact f(M) = t on the case's branch, by Newton's method in 50 digits from
    `start`, halving towards the branch's edge whenever a step would leave it."""
    g, T, x = mpf(ga), mpf(t), mpf(start)
    low = mpf(case.lowest if case.lowest != SHOCK else 0)
    high = mpf(case.highest) if case.highest != INF else None
    if (low == 1 or high == 1) and case.exact(mpf(1), g)[0] == T:
        return mpf(1)  # the extremum itself, where Newton's method converges only slowly
    for _ in range(300):
        f, slope = case.exact(x, g)
        if f == T:
            return x
        if slope == 0:  # the extremum at M = 1: step into the branch
            new = x * (1 - mpf(10) ** -9 if case.highest == 1 else 1 + mpf(10) ** -9)
        else:
            new = x - (f - T) / slope
        if new <= low:
            new = (x + low) / 2
        elif high is not None and new >= high:
            new = (x + high) / 2
        if abs(new - x) <= abs(new) * mpf(10) ** -35:
            return new
        x = new
    raise ArithmeticError(f"{case.label}: no root of {t!r} from {start!r} at ga = {ga!r}")


def extremum(case, ga):
    """The value at M = 1 of the relations whose two branches meet there."""
    return case.exact(mpf(1), mpf(ga))[0]


def target_has_root(case, t, ga):
    if case.sup is None:
        if case.function == "Ma_from_Posh_Po":
            return 0 < t <= 1
        if case.function == "Ma_from_Mash":
            return t <= 1 and mpf(t) > sqrt((mpf(ga) - 1) / (2 * mpf(ga)))
        return True
    top = extremum(case, ga)
    return mpf(t) <= top if case.function == "Ma_from_mcpTo_APo" else mpf(t) >= top


@dataclass
class Worst:
    """The largest error met in one region, and where."""

    error: float = 0.0
    multiple: float = 0.0
    at: tuple = ()
    at_multiple: tuple = ()
    points: int = 0

    def add(self, error, multiple, M, ga):
        self.points += 1
        if error > self.error:
            self.error, self.at = error, (M, ga)
        if multiple is not None and multiple > self.multiple:
            self.multiple, self.at_multiple = multiple, (M, ga)

    def merge(self, other):
        if other.error > self.error:
            self.error, self.at = other.error, other.at
        if other.multiple > self.multiple:
            self.multiple, self.at_multiple = other.multiple, other.at_multiple
        self.points += other.points


@dataclass
class Measured:
    """What one case gave over the sample, per band of ga: the worst error per region; where
    (the exact Mach number) an intermediate left the doubles, as [lowest, highest, count];
    and the inputs inside the domain that gave NaN, as (M, ga)."""

    bands: list = field(default_factory=lambda: [{r: Worst() for r in REGIONS} for _ in BANDS])
    outside: list = field(default_factory=lambda: [[math.inf, 0.0, 0] for _ in BANDS])
    nans: list = field(default_factory=list)

    def merge(self, other):
        for mine, theirs in zip(self.bands, other.bands, strict=True):
            for name in REGIONS:
                mine[name].merge(theirs[name])
        for mine, theirs in zip(self.outside, other.outside, strict=True):
            mine[:] = [min(mine[0], theirs[0]), max(mine[1], theirs[1]), mine[2] + theirs[2]]
        self.nans += other.nans

    def note_outside(self, M, ga):
        span = self.outside[band_of(ga)]
        span[:] = [min(span[0], M), max(span[1], M), span[2] + 1]

    def worst(self, region, bands=None):
        """The worst of `region` over the bands given (all by default)."""
        total = Worst()
        for index in range(len(BANDS)) if bands is None else bands:
            total.merge(self.bands[index][region])
        return total

    def as_json(self):
        return {
            "bands": [{r: vars(w) for r, w in band.items()} for band in self.bands],
            "outside": [span if span[2] else None for span in self.outside],
            "nans": len(self.nans),
        }

    @classmethod
    def from_json(cls, record):
        measured = cls()
        for band, stored in zip(measured.bands, record["bands"], strict=True):
            for name in REGIONS:
                band[name] = Worst(
                    **{k: tuple(v) if k.startswith("at") else v for k, v in stored[name].items()}
                )
        measured.outside = [span or [math.inf, 0.0, 0] for span in record["outside"]]
        return measured


def measure_case(case, ga, machs):
    measured = Measured()
    regions = measured.bands[band_of(ga)]
    g = mpf(ga)
    machs = [M for M in machs if case.holds(M, ga)]
    if not case.inverse:
        got = getattr(vx, case.function)(np.array(machs), *case.arguments(ga)).tolist()
        for M, value in zip(machs, got, strict=True):
            exact = case.exact(mpf(M), g)[0]
            if not inside_the_doubles(case.quantity, mpf(M), g, exact):
                measured.note_outside(M, ga)
                continue
            if math.isnan(value):
                measured.nans.append((M, ga))
                continue
            error = float(abs(mpf(value) - exact)) / ulp(exact)
            regions[region(M)].add(error, None, M, ga)
        return measured
    targets = [float(case.exact(mpf(M), g)[0]) for M in machs]
    kept = [(M, t) for M, t in zip(machs, targets, strict=True) if inside_domain(case, t, ga)]
    got = getattr(vx, case.function)(np.array([t for _, t in kept]), *case.arguments(ga)).tolist()
    for (M, t), value in zip(kept, got, strict=True):
        if not inside_the_doubles(case.quantity, mpf(M), g, mpf(t)):
            measured.note_outside(M, ga)
            continue
        if math.isnan(value):
            measured.nans.append((M, ga))
            continue
        root = exact_root(case, t, M, ga)
        f, slope = case.exact(root, g)
        error = float(abs(mpf(value) - root) / root)
        bound = 0.5 * ulp(t) / abs(t) * float(abs(f / (root * slope))) if slope != 0 else math.inf
        regions[region(float(root))].add(error, error / bound, M, ga)
    return measured


def measure(cases, samples):
    """Measured per case label over `samples`, a list of (ga, Mach numbers)."""
    results = {case.label: Measured() for case in cases}
    for ga, machs in samples:
        for case in cases:
            results[case.label].merge(measure_case(case, ga, machs))
    return results


def _measure_one_ga(job):
    return measure(CASES, [job])


def measure_in_parallel(samples, workers=2):
    results = {case.label: Measured() for case in CASES}
    with ProcessPoolExecutor(workers) as pool:
        for part in pool.map(_measure_one_ga, samples):
            for label, measured in part.items():
                results[label].merge(measured)
    return results


# ---- the table --------------------------------------------------------------------------


def figure(case, worst):
    if worst.points == 0:
        return "—"
    if not case.inverse:
        return f"{worst.error:.3g} ulp"
    return f"{worst.error:.2g} ({worst.multiple:.3g}×)"


def where(worst):
    M, ga = worst.at
    return f"M = {M:.6g}, γ = {ga:.4g}"


def table(results, band):
    """The measured figures of one band, where the worst was met, and the NaN."""
    lines = [
        f"{band_name(band)}:",
        "",
        "| case | " + " | ".join(REGIONS) + " | worst at | NaN inside the domain |",
        "|---" * (len(REGIONS) + 3) + "|",
    ]
    for case in CASES:
        measured = results[case.label]
        regions = measured.bands[band]
        worst = max(regions.values(), key=lambda w: w.error)
        nans = [M for M, ga in measured.nans if band_of(ga) == band]
        nan_text = f"{len(nans)}, from M = {min(nans):.4g}" if nans else "none"
        cells = [figure(case, regions[name]) for name in REGIONS]
        at = where(worst) if worst.points else "—"
        lines.append(f"| {case.label} | " + " | ".join(cells) + f" | {at} | {nan_text} |")
    return "\n".join(lines)


# ---- the domain of the inverses -------------------------------------------------------


def case_named(label):
    return next(case for case in CASES if case.label == label)


def choking_value(ga):
    """The largest target that Ma_from_mcpTo_APo accepts: its choking maximum as the library
    forms it, pow(1 + k, p)·D in doubles with the C library's pow, which can differ from the
    double nearest the exact maximum."""
    k, p = (ga - 1) * 0.5, ((ga + 1) / (ga - 1)) * (-0.5)
    return math.pow(1 + k, p) * (ga / math.sqrt(ga - 1))


def inside_domain(case, t, ga):
    """Whether the double target has an exact root on the case's branch (and, for the
    choking value, is one the library accepts)."""
    if not math.isfinite(t) or (t == 0 and case.sup is not False):
        return False
    if case.function == "Ma_from_mcpTo_APo" and t > choking_value(ga):
        return False
    if case.function == "Ma_from_F_mcpTo" and case.sup and not t < math.sqrt(2):
        return False
    return target_has_root(case, t, ga)


# ---- the figures to state: the measurement with headroom -------------------------------

STEPS = (1, 1.2, 1.5, 2, 2.5, 3, 4, 5, 6, 8, 10)


# The margin of the stated figures over the full sample's worst. Another sample meets larger
# errors than the full one's worst: where an iteration's last step lands, and the rounding
# error of an exponent, vary from one target and ga to the next with a long tail, and a
# band's figure is set near its end, where the neighbouring band's errors begin.
HEADROOM = 2


def rounded_up(value, headroom=HEADROOM):
    """The first of 1, 1.2, 1.5, 2, 2.5, 3, 4, 5, 6, 8 times a power of ten at or above
    `value` times `headroom`."""
    if value == 0:
        return 0
    scaled = value * headroom
    power = 10 ** math.floor(math.log10(scaled))
    step = next(step for step in STEPS if step * power >= scaled * (1 - 1e-12))
    return step * power


def bound(case, worst):
    """The figure stated for a measured worst: None where the sample has no point, (ulps,
    None) for a forward relation, (relative error, multiple of the conditioning bound)."""
    if worst.points == 0:
        return None
    if not case.inverse:
        return rounded_up(max(worst.error, 0.5)), None
    return rounded_up(worst.error), rounded_up(worst.multiple)


def stated(case, worst, times="×"):
    figure = bound(case, worst)
    if figure is None:
        return "—"
    error, multiple = figure
    return f"{error:g} ulp" if multiple is None else f"{error:.2g} ({multiple:g}{times})"


def _cell(text):
    return text.replace("|", "\\|")


def _span(outside):
    lowest, highest, count = outside
    if count == 0:
        return "—"
    return f"M = {lowest:.3g}" if lowest == highest else f"M {lowest:.3g} to {highest:.3g}"


def readme_tables(results):
    """The README's accuracy tables, one per band of ga, from the measured results."""
    gases = ", ".join(f"{ga:.4g}" for ga in NAMED_GAS)
    lines = textwrap.wrap(
        f"Sample: γ = {gases} and {RANDOM_PER_BAND} values drawn uniformly in each band;"
        f" {FULL_SAMPLE} Mach numbers for each γ.",
        92,
    )
    for band in range(len(BANDS)):
        lines += [
            "",
            f"**{band_name(band)}**",
            "",
            "| Function | " + " | ".join(map(_cell, REGIONS)) + " | not counted |",
            "|---" * (len(REGIONS) + 2) + "|",
        ]
        for case in CASES:
            name, _, branch = case.label.partition(", ")
            label = f"`{name}`" + (f", {branch}" if branch else "")
            measured = results[case.label]
            cells = [stated(case, measured.bands[band][r]) for r in REGIONS]
            cells.append(_span(measured.outside[band]))
            lines.append(f"| {label} | " + " | ".join(cells) + " |")
    return "\n".join(lines) + "\n"


# How the contract comments name the branches and the regions.
BRANCH_WORDS = {"sup=False": "sup false", "sup=True": "sup true", "M < 1": "below Ma = 1"}
REGION_WORDS = {
    REGIONS[0]: "for Ma < 0.05",
    REGIONS[1]: "within 0.05 of Ma = 1",
    REGIONS[2]: "above Ma = 20",
    REGIONS[3]: "elsewhere",
}
OPENING = "Measured against exact values"


def comment_sentence(function, results):
    """The contract comment's sentence on accuracy: per branch and region, the figure of the
    worst band of ga."""
    cases = [case for case in CASES if case.function == function]
    parts = []
    for case in cases:
        figures = [
            f"{stated(case, results[case.label].worst(r), 'x')} {REGION_WORDS[r]}"
            for r in REGIONS
            if results[case.label].worst(r).points
        ]
        branch = case.label.partition(", ")[2]
        words = BRANCH_WORDS.get(branch, "Ma >= 1") + ": " if len(cases) > 1 else ""
        parts.append(words + ", ".join(figures))
    low, high = BANDS[0][0], BANDS[-1][1]
    return (
        f"{OPENING}, worst over {low:g} <= ga <= {high:g} (the README gives each band)"
        + (", " if len(cases) > 1 else ": ")
        + "; ".join(parts)
        + "."
    )


def comment_sentences(results):
    return {
        (row.header, row.name): comment_sentence(row.name, results) for row in FUNCTIONS.values()
    }


# ---- the record of the full sample -------------------------------------------------------


def save(results, count):
    record = {
        "command": f"python3 tests/exact.py --write {count}",
        "gases": list(FULL_GAS),
        "mach_numbers_per_ga": count,
        "cases": {label: measured.as_json() for label, measured in results.items()},
    }
    generated.write_record(RECORD, record)


def recorded():
    """The results of the full sample, as tests/accuracy.json holds them."""
    record = generated.read_record(RECORD)
    return {label: Measured.from_json(stored) for label, stored in record["cases"].items()}


def render(results):
    """Writes the README's accuracy tables and the contract comments' sentences."""
    generated.write_readme_blocks({"accuracy": readme_tables(results)})
    generated.write_comment_sentences(comment_sentences(results), OPENING)


def main(argv=None):
    parser = generated.tool_parser(__doc__.splitlines()[0])
    parser.add_argument("count", nargs="?", type=int, default=FULL_SAMPLE, help="Mach numbers a ga")
    arguments = parser.parse_args(argv)
    if arguments.render:
        render(recorded())
        return
    workers = int(os.environ.get("VENTAROXI_WORKERS", "2"))
    results = measure_in_parallel(sample(arguments.count), workers)
    for band in range(len(BANDS)):
        print(table(results, band), end="\n\n")
    if arguments.write:
        save(results, arguments.count)
        render(results)
    else:
        print(readme_tables(results))


if __name__ == "__main__":
    main()
