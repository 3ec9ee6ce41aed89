"""Where the iterative inverses give NaN for a target inside their domain, and why.

Each Newton inverse stops on an absolute figure, 1e-6 (on the computed step, or on the change
made to the stored iterate), and runs at most 100 iterations. A target inside the domain
gives NaN in three ways, each with its own edge in the Mach number of the root:

- "cycle": the target lies within a few ulps of the value the relation tends to (√2 for the
  impulse function, √(k/γ) for the Mach number behind a shock), so the residual is a whole
  number of that value's ulps, and the evaluation error moves it by a few of them from one
  iterate to the next. Where a few ulps of residual over the slope reach 1e-6, the
  iteration can fall into a cycle of two iterates whose steps exceed 1e-6 and run out of
  iterations. Isolated targets, between finite roots; the share peaks and then falls again
  where the cycle's two steps no longer lead back to its start.
- "spacing": at large Mach numbers the evaluation error of a relation that falls or rises
  like a power of M is a step of a fixed relative size of M, and from 2^31 on neighbouring
  doubles are themselves 1e-6 or more apart; the iterate then cannot always settle to a
  change below 1e-6 (fixed loop) or a step below it (general solver).
- "cap": the climb from 1.5 towards a root whose value falls like M^(−2/(γ−1)) multiplies M
  by about 1 + (γ−1)/2 per iteration (the value falls by about e per step), and the
  static-pressure mass flow overshoots to about the square of its root on its first step and
  halves its way back; beyond some Mach number 100 iterations are too few, and NaN is the
  rule.

The edge below which no NaN can occur is derived: from a bound on the relation's rounding
error (counted operation by operation under "error bounds") and its slope, or for the cap by
bisection on where every target gives NaN. Scans then find the first NaN and the share of
NaN per decade.

    python3 tests/nan_edges.py [--coarse N] [--dense N] [--only TEXT] [--write | --render]

prints the README's table (per relation and band of γ); --write also saves the record,
tests/nan_edges.json, and writes the README's block and the contract comments' sentence.
"""

import math
import time
from dataclasses import dataclass
from pathlib import Path

import numpy as np

import ventaroxi as vx

import generated

EPS = 2.0**-53  # the largest relative rounding error of one operation
POW_ERROR = 1.08 * EPS  # pow is within 0.54 ulp, at most 1.08 EPS relative
TOLERANCE = 1e-6
SQRT2 = math.sqrt(2)

HIGHEST = 1e155  # beyond every root whose target is a double (M² overflows at 1.3e154)
LOWEST = 1e-300

# The γ bands of the statements, as the accuracy tables have them: low ≤ γ < high, the last
# one closed.
BANDS = ((1.01, 1.05), (1.05, 1.2), (1.2, 1.7), (1.7, 3.0))


# ---- the relations, in doubles: targets for the scans, and the slope as a log-derivative --


def impulse(M, ga):
    """The impulse function F/(m·√(cp·To)) in doubles, a target generator only."""
    C = math.sqrt(ga - 1) / ga
    return C * (1 + ga * M * M) / (M * np.sqrt(1 + (ga - 1) / 2 * M * M))


def shock_limit(ga):
    """√(k/γ): the value the Mach number behind a shock tends to as M grows."""
    return math.sqrt((ga - 1) / 2 / ga)


def impulse_minimum(ga):
    """The smallest double at or above the impulse function's minimum at M = 1."""
    from mpmath import mpf, sqrt

    g = mpf(ga)
    exact = sqrt(g - 1) / g * (1 + g) / sqrt(1 + (g - 1) / 2)
    nearest = float(exact)
    return nearest if nearest >= exact else math.nextafter(nearest, math.inf)


def choking_value(ga):
    """The largest target Ma_from_mcpTo_APo accepts: mcpTo_APo at M = 1 as the module forms it."""
    return float(vx.mcpTo_APo_from_Ma(np.array([1.0]), ga)[0])


def log_slope(name, M, ga):
    """d ln f / d ln M of the exact relation, written to keep its digits at large M."""
    k = (ga - 1) / 2
    m2 = M * M
    if name == "F_mcpTo":
        return (m2 - 1) / ((1 + ga * m2) * (1 + k * m2))
    if name == "Mash":
        # Half the log-derivative of (1 + k M²)/(γM² − k), its two terms combined.
        return -m2 * (k * k + ga) / ((1 + k * m2) * (ga * m2 - k))
    if name == "mcpTo_APo":
        return 1 - (ga + 1) * m2 / (2 * (1 + k * m2))
    if name == "mcpTo_AP":
        return 1 + k * m2 / (1 + k * m2)
    if name == "Posh_Po":
        return 4 * ga / ((ga - 1) * ((ga - 1) * m2 + 2)) - 4 * ga * m2 / (
            (ga - 1) * (2 * ga * m2 - ga + 1)
        )
    raise KeyError(name)


def forward_value(name, M, ga):
    """The relation's value in doubles (the bound needs it to a few digits only)."""
    if name == "F_mcpTo":
        return impulse(M, ga)
    if name == "Mash":
        return math.sqrt((1 + (ga - 1) / 2 * M * M) / (ga * M * M - (ga - 1) / 2))
    raise KeyError(name)


# ---- error bounds of the evaluation inside each iteration ----------------------------------
#
# n(M): a bound on |computed − exact| of the residual's forward value at an iterate near M,
# leaving out the rounding of the per-call constants, which shifts every iterate's value alike
# and cancels in the difference of two iterates. Each operation rounds by at most EPS
# relative; an error in a power's base is multiplied by the exponent.


def bound_F_mcpTo(M, ga):
    # square (in N and σ: 1 − 1/2), γ·square, + 1, C·(…), /x, k·square (1/2), + 1 (1/2), √,
    # 1/σ: 7.5 EPS before the final rounding, which adds half an ulp of the value.
    value = float(impulse(M, ga))
    return 7.5 * EPS * value + math.ulp(value) / 2


def bound_Mash(M, ga):
    # k·square, + 1, square·γ, − k, the quotient, halved by the root (the square's own
    # error cancels to |w − v|), then the root's rounding, half an ulp.
    k = (ga - 1) / 2
    m2 = M * M
    w, v = k * m2 / (k * m2 + 1), ga * m2 / (ga * m2 - k)
    value = forward_value("Mash", M, ga)
    return (abs(w - v) + w + 1 + v + 1 + 1) / 2 * EPS * value + math.ulp(value) / 2


def bound_mcpTo_APo(M, ga):
    # The base k·square + 1 (3 EPS) raised to |e| = (γ+1)/(2(γ−1)), pow, D·x and the product.
    e = (ga + 1) / (2 * (ga - 1))
    return 3 * e * EPS + POW_ERROR + 2 * EPS  # relative


def bound_mcpTo_AP(M, ga):
    # square·k (half of 2 EPS through the root), + 1 (half), √, D·x, the product.
    return 4.5 * EPS  # relative


def bound_Posh_Po(M, ga):
    # u = pc·square − ro and v = dc/square + ro, raised to 1/(γ−1) and γ/(γ−1); two pows,
    # their product and its reciprocal.
    m2 = M * M
    pc, ro, dc = 2 * ga / (ga + 1), (ga - 1) / (ga + 1), 2 / (ga + 1)
    u, v = pc * m2 - ro, dc / m2 + ro
    u_error = (2 * pc * m2 / u + 1) * EPS
    v_error = (2 * (dc / m2) / v + 1) * EPS
    return u_error / (ga - 1) + v_error * ga / (ga - 1) + 2 * POW_ERROR + 2 * EPS  # relative


@dataclass(frozen=True)
class Inverse:
    """One iterative inverse on one branch, as the scans and the derivation see it."""

    label: str  # as in the README: the function, then the branch
    function: str
    relation: str  # the forward quantity, for log_slope
    sup: object  # the flag passed, or None
    form: str  # "general" (tests the computed step) or "fixed" (tests the change made)
    quantized: bool  # the target lies near a limit: the residual is whole ulps of it
    capped: bool  # far roots need more than 100 iterations
    bound: object  # n(M, γ): absolute where quantized, relative otherwise; None: no edge

    @property
    def subsonic(self):
        return self.sup is False

    def call(self, t, ga):
        f = getattr(vx, self.function)
        return f(t, ga) if self.sup is None else f(t, ga, self.sup)

    def forward(self, M, ga):
        """The forward relation in doubles: the module's where it has one."""
        with np.errstate(all="ignore"):
            if self.relation == "F_mcpTo":
                return impulse(M, ga)
            return getattr(vx, f"{self.relation}_from_Ma")(M, ga)

    def targets(self, M, ga):
        """Doubles inside the domain made from the Mach numbers M (each is just a double
        target whose exact root lies next to M), and the mask of those kept."""
        t = self.forward(M, ga)
        with np.errstate(all="ignore"):
            if self.relation == "F_mcpTo":
                keep = (t >= impulse_minimum(ga)) & (t < SQRT2 if self.sup else True)
            elif self.relation == "Mash":
                keep = (t > shock_limit(ga)) & (t <= 1)
            elif self.relation == "mcpTo_APo":
                # Up to the choking value the module accepts (targets just below the exact
                # maximum that it refuses are one of the surprises, not a failed solve).
                keep = (t > 0 if self.sup else t >= 0) & (t <= choking_value(ga))
            elif self.relation == "A_Acrit":
                keep = t >= 1
            elif self.relation == "Posh_Po":
                keep = (t > 0) & (t <= 1)
            else:
                keep = np.ones(t.shape, bool)
        return t, keep & np.isfinite(t)

    def wrong(self, t, result, ga):
        """Finite results whose forward value misses the target by more than 1e-6 relative."""
        with np.errstate(all="ignore"):
            back = self.forward(result, ga)
            return np.isfinite(result) & ~(np.abs(back - t) <= 1e-6 * np.abs(t))

    def step_bound(self, M, ga):
        """The largest step (general solver) or change (fixed loop) that an iterate next to
        the root M can still take once the iteration has converged.

        After convergence, the value at an iterate is the target plus that iterate's
        evaluation error minus the previous one's, plus the slope times the rounding of the
        iterate (half its ulp), so the residual is at most 2 n + |s|·ulp(M)/2."""
        spacing = math.ulp(M)
        if self.quantized:
            value = forward_value(self.relation, M, ga)
            slope = abs(value * log_slope(self.relation, M, ga) / M)
            unit = math.ulp(value)
            residual = 2 * self.bound(M, ga) + slope * spacing / 2
            step = math.floor(residual / unit) * unit / slope
        else:
            step = 2 * self.bound(M, ga) * M / abs(log_slope(self.relation, M, ga)) + spacing / 2
        if self.form == "general":
            return step
        # The fixed loop tests the change made, whole ulps of M: a step rounds to j ulps
        # only if it is at least (j − 1/2) ulps.
        return math.floor(step / spacing + 0.5) * spacing

    def can_fail(self, M, ga):
        """Whether an iteration with root M can end with a step or change that fails."""
        largest = self.step_bound(M, ga)
        return largest > TOLERANCE if self.form == "general" else largest >= TOLERANCE


INVERSES = (
    Inverse(
        "Ma_from_F_mcpTo, sup=True",
        "Ma_from_F_mcpTo",
        "F_mcpTo",
        True,
        "general",
        True,
        False,
        bound_F_mcpTo,
    ),
    Inverse("Ma_from_Mash", "Ma_from_Mash", "Mash", None, "general", True, False, bound_Mash),
    Inverse(
        "Ma_from_mcpTo_APo, sup=True",
        "Ma_from_mcpTo_APo",
        "mcpTo_APo",
        True,
        "fixed",
        False,
        True,
        bound_mcpTo_APo,
    ),
    Inverse(
        "Ma_from_mcpTo_AP",
        "Ma_from_mcpTo_AP",
        "mcpTo_AP",
        None,
        "fixed",
        False,
        True,
        bound_mcpTo_AP,
    ),
    Inverse(
        "Ma_from_Posh_Po", "Ma_from_Posh_Po", "Posh_Po", None, "general", False, True, bound_Posh_Po
    ),
    # Scanned for NaN, none expected: the subsonic roots converge within a few iterations
    # at every Mach number, and the area-ratio search has no failure.
    Inverse(
        "Ma_from_F_mcpTo, sup=False",
        "Ma_from_F_mcpTo",
        "F_mcpTo",
        False,
        "general",
        False,
        False,
        None,
    ),
    Inverse(
        "Ma_from_mcpTo_APo, sup=False",
        "Ma_from_mcpTo_APo",
        "mcpTo_APo",
        False,
        "fixed",
        False,
        False,
        None,
    ),
    Inverse(
        "Ma_from_A_Acrit, sup=False",
        "Ma_from_A_Acrit",
        "A_Acrit",
        False,
        "bisection",
        False,
        False,
        None,
    ),
    Inverse(
        "Ma_from_A_Acrit, sup=True",
        "Ma_from_A_Acrit",
        "A_Acrit",
        True,
        "bisection",
        False,
        False,
        None,
    ),
)


def bound_edge(inverse, ga, lowest=2.0, highest=1e30):
    """The smallest root M at which the converged iteration can fail, by the error bound, on
    a grid of 200 Mach numbers a decade refined by bisection; None below `highest`.

    From M = 2: next to M = 1, where the slope vanishes, the iteration converges only
    linearly and stops about 1e-6 from the root, long before the evaluation error matters."""
    if inverse.bound is None:
        return None
    machs = np.logspace(math.log10(lowest), math.log10(highest), 200 * 30)
    previous = machs[0]
    for M in machs:
        if inverse.can_fail(float(M), ga):
            low, high = float(previous), float(M)
            while high - low > low * 1e-12:
                middle = math.sqrt(low * high)
                if inverse.can_fail(middle, ga):
                    high = middle
                else:
                    low = middle
            return high
        previous = M
    return None


def all_nan_from(inverse, ga, M, points=8):
    """Whether every target made from [M, M(1 + 1e-6)] gives NaN (so too where none is
    inside the domain)."""
    t, keep = inverse.targets(M * (1 + 1e-6 * np.arange(points) / points), ga)
    return bool(np.isnan(inverse.call(t[keep], ga)).all())


def cap_edge(inverse, ga, highest=HIGHEST):
    """Where 100 iterations stop being enough, so that every target beyond gives NaN: found
    by bisection on the Mach number, as the start of the part where all targets give NaN.
    Below it the 100th change or step sweeps through 1e-6 over a few parts in 10^4."""
    if not inverse.capped or not all_nan_from(inverse, ga, highest / 10):
        return None
    low, high = 2.0, highest / 10
    while high - low > low * 1e-9:
        middle = math.sqrt(low * high)
        if all_nan_from(inverse, ga, middle):
            high = middle
        else:
            low = middle
    return high


# The relative width below the cap's edge left to the sweep of its last step through 1e-6
# (the scans find it within a few parts in a thousand).
CAP_ZONE = 1e-2


def derived_edge(inverse, ga):
    """No target whose root lies below this gives NaN: the error bound's edge, or the cap's
    less the width of its last step's sweep."""
    bound, cap = bound_edge(inverse, ga), cap_edge(inverse, ga)
    edges = [M for M in (bound, cap * (1 - CAP_ZONE) if cap is not None else None) if M]
    return min(edges, default=None)


# ---- scans ----------------------------------------------------------------------------------


def grid(low, high, per_decade):
    """Mach numbers 10^((i + 1/2)/per_decade) in [low, high): the grid that the scans use, so
    that a Mach number stated to a few digits can be found on it again."""
    first = math.ceil(math.log10(low) * per_decade - 0.5)
    last = math.ceil(math.log10(high) * per_decade - 0.5)
    return first, last


@dataclass
class Scan:
    """The distinct targets made from the grid over [low, high): how many, the Mach numbers
    (and targets) whose result was NaN, in increasing order, and where results were wrong."""

    per_decade: float
    count: int
    nan_machs: np.ndarray
    nan_targets: np.ndarray
    decade_counts: dict  # floor(log10 M) -> (targets, NaN)
    last_finite: float  # the Mach number farthest from 1 whose target gave a finite root
    last: float  # the Mach number farthest from 1 whose target lies inside the domain
    wrong: list  # (M, target, result) of finite results whose forward value misses the target

    def first(self, subsonic=False):
        """The NaN closest to M = 1, or None."""
        if not self.nan_machs.size:
            return None
        return float(self.nan_machs.max() if subsonic else self.nan_machs.min())


def scan(inverse, ga, low, high, per_decade, chunk=1_000_000):
    """Every target made from the grid over [low, high), each distinct target once;
    `per_decade` may be a list [(up to, per decade), ...] of several densities."""
    if isinstance(per_decade, list):
        parts, start = [], low
        for end, density in per_decade:
            if min(end, high) > start:
                parts.append(scan(inverse, ga, start, min(end, high), density, chunk))
            start = max(start, end)
        return merged(parts, inverse.subsonic)
    first, last = grid(low, high, per_decade)
    count, machs, targets, decades, wrong = 0, [], [], {}, []
    far = min if inverse.subsonic else max
    last_finite = last_inside = math.nan
    for start in range(first, last, chunk):
        M = 10.0 ** ((np.arange(start, min(last, start + chunk)) + 0.5) / per_decade)
        t, keep = inverse.targets(M, ga)
        if not keep.any():
            if count:  # the targets have left the domain, for good
                break
            continue
        # Near a limit, neighbouring Mach numbers give the same target: keep its first.
        t, where = np.unique(t[keep], return_index=True)
        M = M[keep][where]
        result = inverse.call(t, ga)
        nan = np.isnan(result)
        count += M.size
        last_inside = far(float(far(M)), last_inside) if count > M.size else float(far(M))
        if not nan.all():
            edge = float(far(M[~nan]))
            last_finite = edge if math.isnan(last_finite) else far(edge, last_finite)
        missed = inverse.wrong(t, result, ga)
        if missed.any():  # a few, the Mach numbers farthest from 1 first
            picked = np.argsort(M[missed] if inverse.subsonic else -M[missed])[:3]
            wrong += list(
                zip(M[missed][picked], t[missed][picked], result[missed][picked], strict=True)
            )
            wrong = [(float(a), float(b), float(c)) for a, b, c in wrong][:6]
        machs.append(M[nan])
        targets.append(t[nan])
        decade = np.floor(np.log10(M)).astype(int)
        for d in np.unique(decade):
            inside = decade == d
            n, k = decades.get(int(d), (0, 0))
            decades[int(d)] = (n + int(inside.sum()), k + int(nan[inside].sum()))
    machs = np.concatenate(machs) if machs else np.empty(0)
    targets = np.concatenate(targets) if targets else np.empty(0)
    order = np.argsort(machs)
    return Scan(
        per_decade, count, machs[order], targets[order], decades, last_finite, last_inside, wrong
    )


def merged(parts, subsonic):
    far = min if subsonic else max
    decades = {}
    for part in parts:
        for d, (n, k) in part.decade_counts.items():
            n0, k0 = decades.get(d, (0, 0))
            decades[d] = (n0 + n, k0 + k)
    finite = [p.last_finite for p in parts if not math.isnan(p.last_finite)]
    inside = [p.last for p in parts if not math.isnan(p.last)]
    machs = np.concatenate([p.nan_machs for p in parts])
    targets = np.concatenate([p.nan_targets for p in parts])
    order = np.argsort(machs)
    return Scan(
        parts[0].per_decade,
        sum(p.count for p in parts),
        machs[order],
        targets[order],
        decades,
        far(finite) if finite else math.nan,
        far(inside) if inside else math.nan,
        [w for p in parts for w in p.wrong][:6],
    )


# ---- the edges of one relation at one γ -------------------------------------------------------


def edges(inverse, ga, coarse, dense):
    """What the scans find at one γ: `coarse` Mach numbers a decade over every decade of the
    branch, and `dense` a decade from a third of the derived edge to the first NaN and
    around the edge of the rule. A dictionary, for the record."""
    if inverse.subsonic or inverse.form == "bisection":
        low, high = (LOWEST, 1.0) if inverse.subsonic else (1.0, HIGHEST)
        wide = scan(inverse, ga, low, high, coarse)
        return {
            "ga": ga,
            "count": wide.count,
            "first": wide.first(inverse.subsonic),
            "wrong": wide.wrong,
        }
    derived = derived_edge(inverse, ga)
    # Beyond the cap every target gives NaN after 100 iterations: a hundredth of the density
    # shows it as well.
    cap = cap_edge(inverse, ga)
    wide = scan(
        inverse, ga, 1, HIGHEST, [(cap * 30, coarse), (HIGHEST, coarse / 100)] if cap else coarse
    )
    # NaN is the rule beyond the cap (then found again on the dense grid), or else beyond the
    # last finite root when a decade or more of targets follows it (a few of the last doubles
    # below a limit failing is not a rule).
    rule = None
    if cap is not None or wide.last_finite * 10 < wide.last:
        edge = cap if cap is not None else wide.last_finite
        rule = scan(inverse, ga, edge / 1.5, edge * 1.5, dense).last_finite
    first, first_target, wrong = wide.first(), None, list(wide.wrong)
    if first is not None or derived is not None:
        low = max(1.0, min(M for M in (derived, first) if M is not None) / 3)
        near = scan(inverse, ga, low, first * 1.01 if first is not None else derived * 30, dense)
        wrong += near.wrong
        found = min(
            (s for s in (near, wide) if s.first() is not None), key=Scan.first, default=None
        )
        if found is not None:
            first, first_target = found.first(), float(found.nan_targets[0])
    # The share of NaN per decade short of the rule, over decades of a thousand targets or more.
    shares = [
        k / n
        for d, (n, k) in wide.decade_counts.items()
        if n >= 1000 and (rule is None or 10 ** (d + 1) <= rule)
    ]
    return {
        "ga": ga,
        "derived": derived,
        "first": first,
        "first_target": first_target,
        "rule": rule,
        "peak": max(shares, default=0.0),
        "last": wide.last,
        "count": wide.count,
        "wrong": wrong,
        "top": last_doubles(inverse, ga) if inverse.quantized else None,
    }


def last_doubles(inverse, ga, count=1_000_000):
    """Every one of the `count` doubles next to the limit (below √2, above √(k/γ)): how many
    give NaN, and the root of the one farthest from the limit, roughly."""
    limit = SQRT2 if inverse.relation == "F_mcpTo" else shock_limit(ga)
    edge = np.array([limit]).view(np.int64)[0]
    if inverse.relation == "F_mcpTo":
        bits = edge - 1 - np.arange(count, dtype=np.int64)  # the double nearest √2 lies above it
    else:
        bits = edge + 1 + np.arange(count, dtype=np.int64)
    t = bits.view(np.float64)
    nan = np.isnan(inverse.call(t, ga))
    if inverse.relation == "F_mcpTo":  # √2 − F ≈ √2/(γ(γ−1)M²)
        reach = math.sqrt(SQRT2 / (ga * (ga - 1) * abs(SQRT2 - t[-1])))
    else:  # Mash − √(k/γ) ≈ √(k/γ)(1/k + k/γ)/(2M²)
        k = (ga - 1) / 2
        reach = math.sqrt(limit * (1 / k + k / ga) / (2 * abs(t[-1] - limit)))
    return [count, int(nan.sum()), reach]


# ---- next to M = 1, where the stagnation-pressure ratio has a triple root -----------------------
#
# Posh_Po = 1 − c·(M − 1)³ next to M = 1, and its slope vanishes as (M − 1)². For a target
# within a few hundred ulps below 1 the residual at an iterate within about 1e-5 of 1 is a few
# ulps of 1, and that over the vanishing slope is a step above 1e-6: the iterate wanders about
# M = 1, crosses it, and can run out of its 100 iterations.

NEAR_ONE_DOUBLES = 2000  # the doubles below 1 tried, and 1 itself
NEAR_ONE_GASES = 2001  # a band


def near_one(ga, count=NEAR_ONE_DOUBLES):
    """The j of the targets 1 − j·2^-53, 0 ≤ j ≤ count, for which Ma_from_Posh_Po gives NaN."""
    t = 1 - np.arange(count + 1) * 2.0**-53
    return np.flatnonzero(np.isnan(vx.Ma_from_Posh_Po(t, ga))).tolist()


def near_one_root(j, ga):
    """M − 1 at the root of the target 1 − j·2^-53, from 50-digit values."""
    import exact
    from mpmath import findroot, mp, mpf

    with mp.workdps(50):
        target = 1 - mpf(j) * mpf(2) ** -53
        delta = (mpf(j) * mpf(2) ** -53 * 3 / (2 * mpf(ga))) ** (mpf(1) / 3)  # a first guess
        root = findroot(lambda M: exact.posh_po(M, mpf(ga))[0] - target, 1 + delta)
        return float(root - 1)


def near_one_in_bands(gases=NEAR_ONE_GASES):
    """Per band of γ, over `gases` values: how many have a NaN next to 1, the most NaN at one
    γ, and the farthest from 1, in units of 2^-53."""
    out = []
    for band in BANDS:
        found = [(near_one(float(ga)), float(ga)) for ga in np.linspace(*band, gases)]
        most = max(found, key=lambda f: len(f[0]))
        far = max(found, key=lambda f: max(f[0], default=-1))
        out.append(
            {
                "band": list(band),
                "gases": gases,
                "with": sum(bool(f) for f, _ in found),
                "most": [len(most[0]), most[1]],
                "farthest": [max(far[0]), far[1]],
            }
        )
    return out


def near_one_zone(band):
    """The targets the README leaves to NaN next to 1: within twice the farthest found."""
    return 2 * band["farthest"][0]


# ---- over the γ bands ---------------------------------------------------------------------------


def band_of(inverse, band):
    """The band as it holds for this inverse: the shock inverse gives NaN everywhere from
    γ = 2 on (its start, 0.5, then lies at or below the pole), so its last band stops short."""
    if inverse.function == "Ma_from_Mash" and band[1] >= 2:
        return (band[0], MASH_LAST)
    return band


MASH_LAST = 1.999  # the last γ scanned below 2 for the shock inverse


def inside(band):
    """The band's ends as scanned: its upper end belongs to the next band, but for the last."""
    low, high = band
    return low, high if high in (BANDS[-1][1], MASH_LAST) else high - 0.001


def scanned_gases(band, count=5):
    return [round(float(g), 6) for g in np.linspace(*inside(band), count)]


def derived_in_band(inverse, band, count=51):
    """The smallest derived edge over `count` values of γ across the band, and its γ."""
    values = [
        (derived_edge(inverse, float(ga)), float(ga)) for ga in np.linspace(*inside(band), count)
    ]
    values = [(M, ga) for M, ga in values if M is not None]
    return list(min(values)) if values else None


def measure(coarse, dense, only="", log=print):
    """The record: per inverse, per band, the derived edge and what the scans found."""
    record = {"coarse": coarse, "dense": dense, "inverses": {}}
    for inverse in INVERSES:
        if only not in inverse.label:
            continue
        bands = []
        for band in BANDS:
            band = band_of(inverse, band)
            per_gas = []
            for ga in scanned_gases(band):
                started = time.time()
                # The inverses without an edge are scanned over 300 decades at a tenth of the
                # density, the area-ratio search (a thousand evaluations an element) at 1/100.
                density = (
                    coarse / 100
                    if inverse.form == "bisection"
                    else (coarse / 10 if inverse.bound is None else coarse)
                )
                per_gas.append(edges(inverse, ga, density, dense))
                log(
                    f"  {inverse.label}, γ = {ga:g}: {per_gas[-1]} [{time.time() - started:.0f} s]",
                    flush=True,
                )
            bands.append(
                {"band": list(band), "derived": derived_in_band(inverse, band), "gases": per_gas}
            )
        record["inverses"][inverse.label] = bands
    record["near-one"] = near_one_in_bands()
    return record


# ---- the README's table -------------------------------------------------------------------------

RECORD = Path(__file__).resolve().parent / "nan_edges.json"
BLOCK = "nan-edges"
COMMAND = "python3 tests/nan_edges.py --write"


def recorded():
    """The measured edges, as tests/nan_edges.json holds them."""
    return generated.read_record(RECORD)


def rounded(M, digits, down=False, up=False):
    """M to `digits` significant digits, rounded down if `down` (a stated edge or first NaN
    then stays on the safe side of the one found) or up if `up` (where NaN is the rule)."""
    exponent = math.floor(math.log10(M)) - digits + 1
    scaled = M / 10.0**exponent
    if down:
        scaled = math.floor(scaled * (1 + 1e-12))
    elif up:
        scaled = math.ceil(scaled * (1 - 1e-12))
    return round(scaled) * 10.0**exponent


def figure(M, digits=3, down=False, up=False):
    """A number to `digits` significant digits (rounded down if `down`, up if `up`): 1 270,
    3.5e9."""
    value = rounded(M, digits, down, up)
    if 1e-3 <= value < 1e5:
        decimals = max(0, digits - 1 - math.floor(math.log10(value)))
        head, _, tail = f"{value:.{decimals}f}".partition(".")
        return f"{int(head):,}".replace(",", "\u202f") + ("." + tail if tail else "")
    mantissa, _, power = f"{value:.{digits - 1}e}".partition("e")
    return f"{mantissa.rstrip('0').rstrip('.')}e{int(power)}"


def power_of_ten(count):
    """10⁴, 10⁶: a density that is a power of ten, as the README writes it."""
    digits = str(round(math.log10(count)))
    return "10" + digits.translate(str.maketrans("0123456789-", "⁰¹²³⁴⁵⁶⁷⁸⁹⁻"))


def band_text(band):
    low, high = band
    if high == MASH_LAST:
        return f"{low:g} ≤ γ < 2"
    return f"{low:g} ≤ γ {'≤' if high == BANDS[-1][1] else '<'} {high:g}"


def stated_edge(label, ga, record=None):
    """The README's "no NaN below" for this inverse at this γ (the record's derived edge of
    the band, rounded down as stated); 1 where every target gives NaN; None where the README
    states no NaN at all."""
    record = record or recorded()
    if label == "Ma_from_Mash" and ga >= 2:
        return 1.0
    for band in record["inverses"].get(label, []):
        low, high = band["band"]
        last = high in (BANDS[-1][1], MASH_LAST)
        if band["derived"] and (
            low <= ga < high or (last and ga <= high) or (high == MASH_LAST and ga < 2)
        ):
            return rounded(band["derived"][0], 2, down=True)
    return None


def nan_is_stated(label, M, ga, record=None):
    """Whether the README says that a target whose root is M may give NaN at this γ: beyond
    the band's edge, or next to 1 for the stagnation-pressure ratio."""
    record = record or recorded()
    edge = stated_edge(label, ga, record)
    if edge is not None and M >= edge:
        return True
    if label != "Ma_from_Posh_Po":
        return False
    band = next(b for b in reversed(record["near-one"]) if b["band"][0] <= ga)
    return M - 1 <= near_one_root(near_one_zone(band), band["band"][0])


def label_text(label):
    name, comma, branch = label.partition(",")
    return f"`{name}`{comma}{branch}"


def rule_text(rules):
    """Where NaN becomes the rule over the band's scanned γ: from the lowest to the highest
    edge, each with its γ (rounded up: short of it some roots are finite)."""
    low, high = min(rules), max(rules)
    text = f"{figure(low[0], up=True)} (γ = {low[1]:g})"
    if figure(high[0], up=True) != figure(low[0], up=True):
        text += f" to {figure(high[0], up=True)} (γ = {high[1]:g})"
    return text


def band_row(label, band):
    gases = band["gases"]
    found = [(g["first"], g["ga"]) for g in gases if g["first"] is not None]
    rules = [(g["rule"], g["ga"]) for g in gases]
    derived = band["derived"]
    cells = [
        label_text(label),
        band_text(band["band"]),
        figure(derived[0], 2, down=True) if derived else "none",
        f"{figure(min(found)[0], down=True)} (γ = {min(found)[1]:g})" if found else "none",
        "never" if any(M is None for M, _ in rules) else rule_text(rules),
        f"{max(g['peak'] for g in gases):.0%}",
    ]
    return "| " + " | ".join(cells) + " |"


def render(record):
    lines = [
        "| Function | γ | no NaN below | first NaN found | NaN the rule beyond | most NaN in a"
        " decade short of that |",
        "|---|---|---|---|---|---|",
    ]
    quiet = []
    for inverse in INVERSES:
        bands = record["inverses"].get(inverse.label)
        if bands is None:
            continue
        if inverse.bound is None:
            if all(g["first"] is None for band in bands for g in band["gases"]):
                quiet.append(f"`{inverse.function}` (sup={inverse.sup})")
            continue
        lines += [band_row(inverse.label, band) for band in bands]
        if inverse.function == "Ma_from_Mash":
            lines.append("| `Ma_from_Mash` | 2 ≤ γ ≤ 3 | — | every target | every target | — |")
    coarse, dense = record["coarse"], record["dense"]
    lines += [
        "",
        f"Scanned at five values of γ a band: {power_of_ten(coarse)} Mach numbers a decade over"
        " every decade of the root (each distinct target once), and"
        f' {power_of_ten(dense)} a decade from a third of the "no NaN below" edge to just'
        " past the first NaN, and within a factor of 1.5 of the edge of the rule.",
    ]
    for label, limit in (("Ma_from_F_mcpTo, sup=True", "√2"), ("Ma_from_Mash", "√(k/γ)")):
        tops = [g["top"] for band in record["inverses"].get(label, []) for g in band["gases"]]
        if tops:
            lines[-1] += (
                f" Of the {power_of_ten(tops[0][0])} doubles next to {limit},"
                f" {label_text(label)} gives NaN for at most {max(t[1] for t in tops)}."
            )
    near = record.get("near-one")
    if near:
        parts = []
        for band in near:
            zone = near_one_zone(band)
            low = band["band"][0]
            parts.append(
                f"at most {band['most'][0]} for {band_text(band['band'])}, all within"
                f" {zone}·2⁻⁵³ of 1 (roots within {figure(near_one_root(zone, low), 2, up=True)}"
                " of 1)"
            )
        lines[-1] += (
            f" Next to M = 1, of the {NEAR_ONE_DOUBLES} doubles below 1 and 1 itself,"
            f" `Ma_from_Posh_Po` gives NaN for a few at some of {near[0]['gases']} values of γ a"
            f" band: {'; '.join(parts)}; the distances are twice the farthest found."
        )
    if quiet:
        lines[-1] += (
            f" No NaN at all for {', '.join(quiet)}: the subsonic Newton inverses converge to"
            " steps of a few ulps of M, far below 1e-6, the area ratio's search cannot fail,"
            " and scans from M = 1 to 1e-300 (up to 1e155 for the supersonic"
            f" area ratio) at {power_of_ten(coarse / 10)} a decade"
            f" ({power_of_ten(coarse / 100)} for the area ratio) found none."
        )
    return "\n".join(lines) + "\n"


# ---- the contract comments' sentence on the edges ----------------------------------------------

OPENING = "Inside the domain"
STRUCTS = {  # label -> (header, struct) whose contract comment states the edges
    "Ma_from_F_mcpTo, sup=True": ("flow_inverses.hpp", "Ma_from_F_mcpTo"),
    "Ma_from_mcpTo_APo, sup=True": ("flow_inverses.hpp", "Ma_from_mcpTo_APo"),
    "Ma_from_mcpTo_AP": ("flow_inverses.hpp", "Ma_from_mcpTo_AP"),
    "Ma_from_Mash": ("shock_inverses.hpp", "Ma_from_Mash"),
    "Ma_from_Posh_Po": ("shock_inverses.hpp", "Ma_from_Posh_Po"),
}


def comment_sentences(record):
    """{(header, struct): sentence}: the lowest and highest of the bands' edges, in ASCII."""

    def ascii_figure(M, digits=3, down=False, up=False):
        return figure(M, digits, down, up).replace("\u202f", "")

    sentences = {}
    for label, where in STRUCTS.items():
        bands = record["inverses"].get(label)
        if bands is None:
            continue
        derived = sorted(band["derived"] for band in bands if band["derived"])
        low, high = (ascii_figure(M, 2, down=True) for M, _ in (derived[0], derived[-1]))
        text = (
            f"no NaN for roots below {low}"
            if low == high
            else f"no NaN for roots below {low} to {high}, depending on ga"
        )
        rules = [g["rule"] for band in bands for g in band["gases"]]
        if all(rules):
            text += (
                f"; NaN is the rule beyond {ascii_figure(min(rules), up=True)} to"
                f" {ascii_figure(max(rules), up=True)}"
            )
        branch = " (sup true)" if "sup=True" in label else ""
        sentences[where] = (
            f"{OPENING}{branch}, for 1.01 <= ga <= 3: {text}; the README's"
            ' "NaN inside the domain" has them per band of ga.'
        )
    return sentences


def main(argv=None):
    parser = generated.tool_parser(__doc__.splitlines()[0])
    # The densities tests/nan_edges.json was measured with.
    parser.add_argument("--coarse", type=float, default=1e4, help="Mach numbers a decade")
    parser.add_argument("--dense", type=float, default=1e6, help="near the edges")
    parser.add_argument("--only", default="", help="the inverses whose label contains this")
    arguments = parser.parse_args(argv)
    if arguments.render:
        record = recorded()
    else:
        record = measure(arguments.coarse, arguments.dense, arguments.only)
        if arguments.only and RECORD.exists():  # measured again: the others as recorded
            measured, record = record, recorded()
            record["inverses"].update(measured["inverses"])
            record["near-one"] = measured["near-one"]
    if generated.publish(arguments, RECORD, record, {BLOCK: render(record)}):
        generated.write_comment_sentences(comment_sentences(record), OPENING)


if __name__ == "__main__":
    main()
