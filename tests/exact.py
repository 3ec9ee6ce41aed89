"""The nineteen relations in 50-digit arithmetic, and the library's error against them.

Forward values come from the closed forms with the double Mach number and the double ga
taken exactly; an inverse's exact value is the root, on its branch, of the exact forward
relation at the double target, found by Newton's method in 50 digits from the Mach number
the target was made from. The impulse function, which has no forward function in the
module, is taken from its closed form √(γ−1)/γ · (1 + γM²)/(M·√(1 + k·M²)).

Errors are reported per region of the exact Mach number: ulps of the exact value for the
forward relations; relative error for the inverses, also as a multiple of the conditioning
bound, ½ ulp of the target (relative) times |f/(M·f′)|, the error that rounding the target
alone would cause.

    python3 tests/exact.py [MACH_NUMBERS_PER_GA]

prints the measured table (default 20 000 Mach numbers per ga, the full sample, about ten
minutes on two cores); tests/test_accuracy.py measures a prefix of the same sample.
"""

import math
import os
import sys
from concurrent.futures import ProcessPoolExecutor
from dataclasses import dataclass, field

import numpy as np
from mpmath import mp, mpf, sqrt

import ventaroxi as vx

from functions import FUNCTIONS, SHOCK

mp.dps = 50

GAS = (1.05, 1.1, 1.2, 1.3, 1.4, 1.5, 5 / 3)
FULL_SAMPLE = 20_000
SEED = 20_131

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


@dataclass(frozen=True)
class Case:
    """One row of the accuracy table: a function on one branch of Mach numbers."""

    label: str
    function: str
    exact: object
    lowest: float  # the branch: lowest < M < highest, or M = 1 where that belongs to it
    highest: float
    sup: object = None  # the branch flag passed, if the function takes one

    @property
    def inverse(self):
        return self.function.startswith("Ma_from_")

    def arguments(self, ga):
        return (ga,) if self.sup is None else (ga, self.sup)

    def holds(self, M, ga):
        low = self.lowest if self.lowest != SHOCK else math.sqrt((ga - 1) / 2 / ga)
        # M = 1 belongs to the supersonic side, and to the subsonic one of an inverse.
        return low < M < self.highest or (M == 1 and (self.highest == INF or self.sup is False))


INF = math.inf


# A case per branch of each function, in the table's order.
CASES = [
    Case(
        ", ".join(filter(None, (row.name, branch.label))),
        row.name,
        EXACT[row.quantity],
        branch.lowest,
        branch.highest,
        branch.sup,
    )
    for row in FUNCTIONS.values()
    for branch in row.branches
]


# ---- the sample -------------------------------------------------------------------------


def mach_numbers(count, ga_index):
    """`count` Mach numbers for one ga, the first `count` of one fixed sequence, so that a
    smaller sample is a prefix of a larger one: a quarter each log-uniform on [1e-4, 1e3]
    (twice), next to 1 (1 ± 10^u, u uniform on [−8, −1.3]) and uniform on [0.2, 5], then
    the extremes."""
    size = max(count, FULL_SAMPLE)
    rng = np.random.default_rng([SEED, ga_index])
    logs = 10.0 ** rng.uniform(-4, 3, size)
    near = 1 + rng.choice([-1.0, 1.0], size) * 10.0 ** rng.uniform(-8, -1.3, size)
    middle = rng.uniform(0.2, 5, size)
    category = np.arange(size) % 4
    drawn = np.where(category < 2, logs, np.where(category == 2, near, middle))[:count]
    extremes = [
        1e-4,
        1e3,
        0.05,
        20.0,
        0.5,
        2.0,
        10.0,
        1.0,
        1 - 1e-8,
        1 + 1e-8,
        1 - 2**-52,
        1 + 2**-51,
    ]
    return [*drawn.tolist(), *extremes]


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
    """What one case gave over the sample: the worst error per region, and the inputs
    inside the domain that gave NaN (with the Mach number they belong to)."""

    regions: dict = field(default_factory=lambda: {name: Worst() for name in REGIONS})
    nans: list = field(default_factory=list)

    def merge(self, other):
        for name in REGIONS:
            self.regions[name].merge(other.regions[name])
        self.nans += other.nans


def measure_case(case, ga, machs):
    measured = Measured()
    g = mpf(ga)
    machs = [M for M in machs if case.holds(M, ga)]
    if not case.inverse:
        got = getattr(vx, case.function)(np.array(machs), *case.arguments(ga)).tolist()
        for M, value in zip(machs, got, strict=True):
            exact = case.exact(mpf(M), g)[0]
            if math.isnan(value):
                measured.nans.append((M, ga))
                continue
            error = float(abs(mpf(value) - exact)) / ulp(exact)
            measured.regions[region(M)].add(error, None, M, ga)
        return measured
    targets = [float(case.exact(mpf(M), g)[0]) for M in machs]
    kept = [(M, t) for M, t in zip(machs, targets, strict=True) if inside_domain(case, t, ga)]
    got = getattr(vx, case.function)(np.array([t for _, t in kept]), *case.arguments(ga)).tolist()
    for (M, t), value in zip(kept, got, strict=True):
        if math.isnan(value):
            measured.nans.append((M, ga))
            continue
        root = exact_root(case, t, M, ga)
        f, slope = case.exact(root, g)
        error = float(abs(mpf(value) - root) / root)
        bound = 0.5 * ulp(t) / abs(t) * float(abs(f / (root * slope))) if slope != 0 else math.inf
        measured.regions[region(float(root))].add(error, error / bound, M, ga)
    return measured


def measure(cases, count, gases=GAS):
    """Measured per case label, over `count` Mach numbers per ga (plus the extremes)."""
    results = {case.label: Measured() for case in cases}
    for index, ga in enumerate(GAS):
        if ga not in gases:
            continue
        machs = mach_numbers(count, index)
        for case in cases:
            results[case.label].merge(measure_case(case, ga, machs))
    return results


def _measure_one_ga(job):
    count, ga = job
    return measure(CASES, count, (ga,))


def measure_in_parallel(count, workers=2):
    results = {case.label: Measured() for case in CASES}
    with ProcessPoolExecutor(workers) as pool:
        for part in pool.map(_measure_one_ga, [(count, ga) for ga in GAS]):
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


def table(results):
    lines = [
        "| case | " + " | ".join(REGIONS) + " | worst at | NaN inside the domain |",
        "|---" * (len(REGIONS) + 3) + "|",
    ]
    for case in CASES:
        measured = results[case.label]
        worst = max(measured.regions.values(), key=lambda w: w.error)
        nans = measured.nans
        nan_text = f"{len(nans)}, from M = {min(M for M, _ in nans):.4g}" if nans else "none"
        cells = [figure(case, measured.regions[name]) for name in REGIONS]
        lines.append(f"| {case.label} | " + " | ".join(cells) + f" | {where(worst)} | {nan_text} |")
    return "\n".join(lines)


# ---- where the iterations stop converging ---------------------------------------------

ITERATIVE = (
    "Ma_from_mcpTo_APo, sup=False",
    "Ma_from_mcpTo_APo, sup=True",
    "Ma_from_mcpTo_AP",
    "Ma_from_F_mcpTo, sup=False",
    "Ma_from_F_mcpTo, sup=True",
    "Ma_from_Mash",
    "Ma_from_Posh_Po",
    "Ma_from_A_Acrit, sup=False",
    "Ma_from_A_Acrit, sup=True",
)


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


def scan(case, ga, per_decade, start=1.0, decades=300):
    """Mach numbers on the case's branch from `start` away from 1 over `decades` decades (not
    past 1e±300), `per_decade` to a decade, stopping where the target leaves the doubles
    (underflows, overflows or rounds onto the edge of the domain); with the targets made from
    them and the library's results."""
    g = mpf(ga)
    sign = 1 if case.highest == INF else -1
    first = math.log10(start) * per_decade * sign
    machs, targets = [], []
    for step in range(1, decades * per_decade + 1):
        exponent = sign * (first + step) / per_decade
        if abs(exponent) > 300:
            break
        # Off the round values, where targets can be special.
        M = 10.0**exponent * (1 + 0.37 / per_decade)
        t = float(case.exact(mpf(M), g)[0])
        if not inside_domain(case, t, ga):
            if machs:
                break
            continue
        machs.append(M)
        targets.append(t)
    got = getattr(vx, case.function)(np.array(targets), *case.arguments(ga)).tolist()
    return machs, targets, got


def first_nan(case, ga, per_decade, start=1.0, decades=300):
    """The first Mach number of a scan whose target gives NaN, or None; and the last
    Mach number scanned."""
    machs, _, got = scan(case, ga, per_decade, start, decades)
    return next((M for M, value in zip(machs, got, strict=True) if math.isnan(value)), None), machs[
        -1
    ]


def decade_below(M, case):
    """The round decade a decade before M, going away from 1 on the case's branch."""
    if case.highest == INF:
        return 10.0 ** (math.floor(math.log10(M)) - 1)
    return 10.0 ** (math.ceil(math.log10(M)) + 1)


def threshold(case, ga):
    """(the Mach number beyond which NaN begins, found to three digits, and the share of NaN
    in the decade above it); (None, 0, the last Mach number scanned) if no target gives NaN."""
    coarse, last = first_nan(case, ga, 20)
    if coarse is None:
        return None, 0.0, last
    # On the grid that tests/test_accuracy.py checks: 200 to a decade, on round decades,
    # over the two decades around the coarse finding.
    fine, _ = first_nan(case, ga, 200, decade_below(coarse, case), 2)
    first = fine if fine is not None else coarse
    _, _, got = scan(case, ga, 100, first, 1)
    return first, sum(map(math.isnan, got)) / max(len(got), 1), last


def threshold_table():
    lines = [
        "| case | " + " | ".join(f"γ = {ga:.4g}" for ga in GAS) + " |",
        "|---" * (len(GAS) + 1) + "|",
    ]
    for label in ITERATIVE:
        case = case_named(label)
        cells = []
        for ga in GAS:
            first, share, last = threshold(case, ga)
            cells.append(f"none to {last:.3g}" if first is None else f"{first:.3g} ({share:.0%})")
        lines.append(f"| {label} | " + " | ".join(cells) + " |")
    return "\n".join(lines)


# ---- the figures to state: the measurement with headroom -------------------------------

STEPS = (1, 1.2, 1.5, 2, 2.5, 3, 4, 5, 6, 8, 10)


def rounded_up(value, headroom=1.25):
    """The first of 1, 1.2, 1.5, 2, 2.5, 3, 4, 5, 6, 8 times a power of ten at or above
    `value` times `headroom`."""
    if value == 0:
        return 0
    scaled = value * headroom
    power = 10 ** math.floor(math.log10(scaled))
    step = next(step for step in STEPS if step * power >= scaled * (1 - 1e-12))
    return step * power


def stated(case, worst):
    if worst.points == 0:
        return "—"
    if not case.inverse:
        return f"{rounded_up(max(worst.error, 0.5)):g} ulp"
    return f"{rounded_up(worst.error):.2g} ({rounded_up(worst.multiple):g}×)"


def stated_table(results):
    rows = []
    for case in CASES:
        name, _, branch = case.label.partition(", ")
        label = f"`{name}`" + (f", {branch}" if branch else "")
        cells = [stated(case, results[case.label].regions[region]) for region in REGIONS]
        rows.append(f"| {label} | " + " | ".join(cells) + " |")
    return "\n".join(rows)


if __name__ == "__main__":
    count = int(sys.argv[1]) if len(sys.argv) > 1 else FULL_SAMPLE
    results = measure_in_parallel(count, int(os.environ.get("VENTAROXI_WORKERS", "2")))
    print(table(results))
    print()
    print(stated_table(results))
    print()
    print(threshold_table())
