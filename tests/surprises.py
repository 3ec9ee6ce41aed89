"""Results inside a relation's domain that a reader of the formulas would not expect: where
each occurs, as a function of γ, why, and a check of each against 50-digit values.

    python3 tests/surprises.py [--write | --render]

prints the README's table of them (and with --write saves tests/surprises.json and writes
the README block); tests/test_edges.py runs every check at the γ of the table and at a γ
drawn from each surprise's range.
"""

import math
from dataclasses import dataclass
from pathlib import Path

import exact
import numpy as np
from mpmath import mp, mpf
from mpmath import sqrt as msqrt

import ventaroxi as vx

import generated

mp.dps = 50

SMALLEST = 2.2250738585072014e-308  # the smallest normal double
LARGEST = 1.7976931348623157e308
EPS = 2.0**-53
ULP_OF_ONE = 2.0**-52


def one(function, x, *rest):
    return float(getattr(vx, function)(np.array([x], dtype=np.float64), *rest)[0])


def bits(x):
    return int(np.array([x]).view(np.int64)[0])


def double(b):
    return float(np.array([b], dtype=np.int64).view(np.float64)[0])


def first_double(holds, low, high):
    """The smallest positive double in (low, high] at which `holds` is true, `holds` being
    false at low and true at high and turning true once."""
    a, b = bits(low), bits(high)
    if holds(low) or not holds(high):
        raise ValueError(f"no change of {holds} between {low!r} and {high!r}")
    while b - a > 1:
        middle = (a + b) // 2
        a, b = (a, middle) if holds(double(middle)) else (middle, b)
    return double(b)


def between(a, b):
    """The geometric mean of two positive doubles, without overflow."""
    return math.sqrt(a) * math.sqrt(b)


def exact_value(relation, M, ga):
    return getattr(exact, relation)(mpf(M), mpf(ga))[0]


def relative(value, reference):
    return float(abs(mpf(value) - reference) / abs(reference))


# ---- the surprises, each as figures at one γ and a check of them ---------------------------


def posh_zero(ga):
    """Posh_Po_from_Ma gives 0 from M₀ on, while the exact value stays normal up to M₁."""
    pc = 2 * ga / (ga + 1)
    guess = math.sqrt(LARGEST ** (ga - 1) / pc)
    start = first_double(lambda M: one("Posh_Po_from_Ma", M, ga) == 0, guess / 2, guess * 2)
    below = first_double(
        lambda M: exact_value("posh_po", M, ga) < SMALLEST, start, start * 1e3 ** (1 / (ga - 1))
    )
    return {"from": start, "to": math.nextafter(below, 0)}


def check_posh_zero(ga, figures):
    start, end = figures["from"], figures["to"]
    assert start < end
    # The power of u overflows: u above 1.8e308^(γ−1).
    pc, ro = 2 * ga / (ga + 1), (ga - 1) / (ga + 1)
    assert abs(start / math.sqrt((LARGEST ** (ga - 1) + ro) / pc) - 1) < 1e-9
    assert one("Posh_Po_from_Ma", math.nextafter(start, 0), ga) > 0
    for M in (start, between(start, end), end):
        assert one("Posh_Po_from_Ma", M, ga) == 0
        assert exact_value("posh_po", M, ga) >= SMALLEST


def posh_subsonic_inf(ga):
    """Posh_Po_from_Ma gives +inf just above the pole √(k/γ), where the exact value is finite.

    Above the pole the computed pressure ratio rises with M: below 0 it gives NaN, then as
    long as its power underflows to 0, +inf, then finite values; the exact value falls from
    +inf, and is finite from the first double where it is at most 1.8e308."""
    pole = msqrt((mpf(ga) - 1) / (2 * mpf(ga)))
    above = float(pole)
    while mpf(above) <= pole:
        above = math.nextafter(above, 1)
    value = lambda M: one("Posh_Po_from_Ma", M, ga)  # noqa: E731
    high = float(pole) * 1.1
    if exact_value("posh_po", above, ga) <= LARGEST:
        finite = above
    else:
        finite = first_double(lambda M: exact_value("posh_po", M, ga) <= LARGEST, above, high)
    if not math.isnan(value(above)):
        numbers = above
    else:
        numbers = first_double(lambda M: not math.isnan(value(M)), above, high)
    if math.isfinite(value(numbers)):
        return None
    end = math.nextafter(first_double(lambda M: math.isfinite(value(M)), numbers, high), 0)
    start = max(finite, numbers)
    return {"from": start, "to": end} if start <= end else None


def check_posh_subsonic_inf(ga, figures):
    if figures is None:
        return
    for M in (figures["from"], figures["to"]):
        assert math.isinf(one("Posh_Po_from_Ma", M, ga))
        assert exact_value("posh_po", M, ga) <= LARGEST
    assert one("Posh_Po_from_Ma", math.nextafter(figures["to"], 1), ga) < math.inf


INTEGER_EXPONENT_GASES = (2.0, 1.5, 1.25, 1.125, 1.0625, 1.03125, 1.015625)


def integer_exponent(ga):
    """Below the pole, Posh_Po_from_Ma gives the formula's finite value where 1/(γ − 1) is an
    integer in doubles: the value at 0.9 times the pole."""
    if ga not in INTEGER_EXPONENT_GASES:
        return None
    M = 0.9 * math.sqrt((ga - 1) / (2 * ga))
    return {"M": M, "value": one("Posh_Po_from_Ma", M, ga)}


def check_integer_exponent(ga, figures):
    M = 0.9 * math.sqrt((ga - 1) / (2 * ga))
    if figures is None:
        assert math.isnan(one("Posh_Po_from_Ma", M, ga))
        return
    n = 1 / (ga - 1)
    assert n == round(n)
    value = one("Posh_Po_from_Ma", M, ga)
    assert value == figures["value"] and (value < 0) == (round(n) % 2 == 1)
    assert relative(value, exact_value("posh_po", M, ga)) < 1e-12


def area_overflow(ga):
    """A_Acrit_from_Ma gives +inf from M₀ on, the exact value staying finite up to M₁; the
    supersonic inverse gives about M₀ for every target above the largest finite value."""
    k, h = (ga - 1) / 2, (ga + 1) / 2
    guess = math.sqrt(LARGEST ** (2 * (ga - 1) / (ga + 1)) * h / k)
    start = first_double(lambda M: math.isinf(one("A_Acrit_from_Ma", M, ga)), guess / 4, guess * 4)
    high = start
    while exact_value("a_acrit", high, ga) <= LARGEST:
        high *= 4
    end = first_double(lambda M: exact_value("a_acrit", M, ga) > LARGEST, start, high)
    largest = one("A_Acrit_from_Ma", math.nextafter(start, 0), ga)
    result = one("Ma_from_A_Acrit", LARGEST, ga, True)
    error = 1 - result / math.nextafter(end, 0)  # against the root of the largest double
    return {
        "from": start,
        "to": math.nextafter(end, 0),
        "largest": largest,
        "result": result,
        "error": error,
    }


def check_area_overflow(ga, figures):
    start, end = figures["from"], figures["to"]
    for M in (start, between(start, end)):
        assert math.isinf(one("A_Acrit_from_Ma", M, ga))
        assert exact_value("a_acrit", M, ga) <= LARGEST
    largest = one("A_Acrit_from_Ma", math.nextafter(start, 0), ga)
    assert largest == figures["largest"] < LARGEST
    for t in (math.nextafter(largest, math.inf), between(largest, LARGEST), LARGEST):
        assert one("Ma_from_A_Acrit", t, ga, True) == figures["result"]
    assert abs(figures["result"] / start - 1) < 1e-15
    # The root of the largest double lies at the end of the range: the error stated is right.
    assert (
        exact_value("a_acrit", end, ga)
        <= LARGEST
        < exact_value("a_acrit", math.nextafter(end, math.inf), ga)
    )


def exact_choking(ga):
    g = mpf(ga)
    return g / msqrt(g - 1) * ((g + 1) / 2) ** (-(g + 1) / (2 * (g - 1)))


def choking(ga):
    """How many doubles lie between the module's choking value and the exact maximum, when
    the module's lies below it: targets that Ma_from_mcpTo_APo refuses."""
    accepted = one("mcpTo_APo_from_Ma", 1.0, ga)
    refused, x = 0, math.nextafter(accepted, math.inf)
    while mpf(x) <= exact_choking(ga):
        refused, x = refused + 1, math.nextafter(x, math.inf)
    return {"value": accepted, "refused": refused}


def choking_bound(ga):
    """At most this many: the rounding of 1 + k (times |e|), of e (times |e| ln(1 + k)), pow,
    D and the product, each in units of the double spacing, which is at least EPS relative."""
    e = (ga + 1) / (2 * (ga - 1))
    return math.ceil(2 * (e * (1 + 2 * math.log1p((ga - 1) / 2)) + 3.54))


BANDS = ((1.01, 1.05), (1.05, 1.2), (1.2, 1.7), (1.7, 3.0))


def choking_in_bands(count=2001):
    """Per band of γ: the most doubles refused over `count` values of γ, where, and the share
    of those γ with any refused."""
    out = []
    for band in BANDS:
        found = [(choking(float(ga))["refused"], float(ga)) for ga in np.linspace(*band, count)]
        most = max(found)
        out.append(
            {
                "band": list(band),
                "most": most[0],
                "at": most[1],
                "share": sum(n > 0 for n, _ in found) / count,
            }
        )
    return out


# What the README tells a caller to pass instead of a target t that may lie in that gap.
PASS_INSTEAD = "np.minimum(t, vx.mcpTo_APo_from_Ma(np.array([1.0]), ga))"


def check_choking(ga, figures):
    found = choking(ga)
    assert found == figures and found["refused"] <= choking_bound(ga)
    value = found["value"]
    # Every refused double, the choking value itself and a target well below it.
    refused = [math.nextafter(value, math.inf)]
    while len(refused) <= found["refused"]:
        refused.append(math.nextafter(refused[-1], math.inf))
    refused = np.array(refused[:-1])
    assert all(mpf(float(x)) <= exact_choking(ga) for x in refused)
    t = np.concatenate([refused, [value, value * 0.9]])
    instead = eval(PASS_INSTEAD, {"np": np, "vx": vx, "t": t, "ga": ga})
    for sup in (False, True):
        assert np.isnan(vx.Ma_from_mcpTo_APo(refused, ga, sup)).all()
        assert math.isnan(one("Ma_from_mcpTo_APo", math.nextafter(value, math.inf), ga, sup))
        roots = vx.Ma_from_mcpTo_APo(instead, ga, sup)
        assert (np.abs(roots[:-1] - 1) < 5e-6).all(), roots
        assert math.isfinite(roots[-1]) and (roots[-1] > 1) == sup


def small_ratio_bound(M, ga, exponent):
    """The relative error of Ma_from_Po_P and Ma_from_rhoo_rho at a small root M. The power
    of 1/target lies kM² above 1 and is rounded there to half an ulp of 1 (pow is within 0.54
    ulp), after 1/target's own rounding (a quarter ulp, times |e|): M² is off by δ relative,
    M by √(1 ± δ) − 1, about δ/2 while δ is small."""
    delta = 2 * (0.54 + abs(exponent) / 4) * ULP_OF_ONE / ((ga - 1) * M * M)
    return max(math.sqrt(1 + delta) - 1, 1 - math.sqrt(max(0.0, 1 - delta))) + 4 * EPS


def small_ratio(ga):
    """The bound at M = 1e-6, and the root below which the result can be 0."""
    out = {}
    for function, exponent in (("Ma_from_Po_P", (1 - ga) / ga), ("Ma_from_rhoo_rho", 1 - ga)):
        out[function] = small_ratio_bound(1e-6, ga, exponent)
    out["zero below"] = math.sqrt(ULP_OF_ONE / (ga - 1))
    return out


def check_small_ratio(ga, figures):
    g = mpf(ga)
    for function, exponent in (("Ma_from_Po_P", (1 - ga) / ga), ("Ma_from_rhoo_rho", 1 - ga)):
        steps = np.unique(np.round(10 ** np.linspace(0, 9, 40)).astype(np.int64))
        targets = 1 + steps * ULP_OF_ONE
        results = getattr(vx, function)(targets, ga)
        power = (g - 1) / g if function == "Ma_from_Po_P" else g - 1
        for t, result in zip(targets.tolist(), results.tolist(), strict=True):
            root = msqrt(2 / (g - 1) * (mpf(t) ** power - 1))
            error = float(abs(mpf(result) - root) / root)
            assert error <= small_ratio_bound(float(root), ga, exponent), (function, t, result)
        assert figures[function] == small_ratio_bound(1e-6, ga, exponent)


def subnormal_power(ga):
    """mcpTo_APo_from_Ma from M_s on, where the power (1 + kM²)^e is subnormal; from M_10 on,
    where it lies below 2.5e-314, its rounding alone can reach 1e-10 relative."""
    k, e = (ga - 1) / 2, ((ga + 1) * -0.5) / (ga - 1)
    start = math.sqrt((SMALLEST ** (1 / e) - 1) / k)
    lossy = math.sqrt(((2.0**-1074 / 1e-10 / 2) ** (1 / e) - 1) / k)
    return {"from": start, "1e-10 from": lossy}


def check_subnormal_power(ga, figures):
    D = ga / math.sqrt(ga - 1)
    errors = []
    for M in figures["1e-10 from"] * np.linspace(0.5, 2, 16):
        M = float(M)
        value = one("mcpTo_APo_from_Ma", M, ga)
        exact_ = exact_value("mcpto_apo", M, ga)
        if exact_ < 2.0**-1074 or M * M * (ga - 1) / 2 > LARGEST:
            continue
        errors.append(relative(value, exact_))
        # Beside the subnormal rounding, the usual error: 1 + kM² (3 EPS) and e (2 EPS, times
        # ln q) amplified by |e|, pow, D and the products.
        e, q = (ga + 1) / (2 * (ga - 1)), 1 + (ga - 1) / 2 * M * M
        usual = EPS * (e * (3 + 2 * math.log(q)) + 4.6)
        bound = 2.0**-1074 * (D * M + 1) / (2 * float(exact_)) + usual
        assert errors[-1] <= bound, (M, value)
    assert max(errors) > 1e-11  # the loss is real beyond M_10


def small_roots_bound(function, ga):
    """Absolute error at roots near 0: the last step starts within 1e-6 of the root and the
    relation's cubic term leaves c·(1e-6)³, c = k (static pressure) or (γ + 1)/2."""
    return ((ga - 1) / 2 if function == "Ma_from_mcpTo_AP" else (ga + 1) / 2) * 1e-18


def powers_of_ten(exponents):
    """10**x through the platform's pow, one at a time: NumPy's own power gives other last bits
    on other versions and processors, and a sample must be the same points everywhere."""
    return np.array([10.0 ** float(x) for x in exponents])


def small_roots(ga):
    out = {}
    for function, forward in (
        ("Ma_from_mcpTo_AP", "mcpTo_AP_from_Ma"),
        ("Ma_from_mcpTo_APo", "mcpTo_APo_from_Ma"),
    ):
        M = powers_of_ten(np.linspace(-45, -9, 721))
        t = getattr(vx, forward)(M, ga)
        D = mpf(ga) / msqrt(mpf(ga) - 1)
        result = getattr(vx, function)(t, ga)
        out[function] = max(float(abs(mpf(r) - mpf(x) / D)) for r, x in zip(result, t, strict=True))
    return out


def check_small_roots(ga, figures):
    found = small_roots(ga)
    for function, error in found.items():
        # Roots this small are t/D to far below an ulp: the absolute error is |result − t/D|.
        assert error <= small_roots_bound(function, ga) * 1.01 + 1e-9 * 4 * EPS
        assert error == figures[function]


def first_iterate(ga):
    """Ma_from_mcpTo_AP returns its first iterate for the targets where the slope overflows
    there and the value does not: the range of such targets, and result over target."""
    if not ga > 1.5:
        return None
    t = powers_of_ten(np.linspace(153.9, 154.6, 20001))
    result = vx.Ma_from_mcpTo_AP(t, ga)
    wrong = np.flatnonzero(np.isfinite(result) & (result > 1e100))
    if not wrong.size:
        return None
    low = first_double(
        lambda x: one("Ma_from_mcpTo_AP", x, ga) < math.inf, t[wrong[0] - 1], t[wrong[0]]
    )
    high = first_double(
        lambda x: math.isnan(one("Ma_from_mcpTo_AP", x, ga)), t[wrong[-1]], t[wrong[-1] + 1]
    )
    return {
        "from": low,
        "to": math.nextafter(high, 0),
        "ratio": one("Ma_from_mcpTo_AP", low, ga) / low,
    }


def first_step(t, ga):
    """The first Newton iterate of Ma_from_mcpTo_AP from 0.5, in doubles."""
    D, k = ga / math.sqrt(ga - 1), (ga - 1) * 0.5
    f = (0.5 * 0.5) * k
    g = f + 1
    root = math.sqrt(g)
    return 0.5 - ((D * 0.5) * root - t) / ((D * (g + f)) / root)


def check_first_iterate(ga, figures):
    if figures is None:
        return
    for t in (figures["from"], between(figures["from"], figures["to"]), figures["to"]):
        result = one("Ma_from_mcpTo_AP", t, ga)
        assert result == first_step(t, ga)
        root = msqrt(mpf(t) / (mpf(ga) / msqrt(mpf(ga) - 1) * msqrt((mpf(ga) - 1) / 2)))
        assert mpf(result) > root * 1e70  # the root is about √(t/(D√k)), near 1e77
    assert math.isnan(one("Ma_from_mcpTo_AP", math.nextafter(figures["from"], 0), ga))


@dataclass(frozen=True)
class Surprise:
    name: str
    functions: str  # as the README names them
    span: tuple  # the γ where it occurs: low, high (inclusive), for the draws of the test
    gases_text: str  # the γ where it occurs, as the README says it
    gases: tuple  # the γ the README gives figures for
    figures: object  # γ -> dict of figures, or None where it does not occur at that γ
    check: object  # (γ, figures) -> None, asserting
    where: object  # {γ: figures} -> the README's text of where
    gives: str
    why: str


def number(x, digits=3):
    """x to `digits` significant digits, in plain or e notation as a reader would write it."""
    mantissa, _, power = f"{x:.{digits - 1}e}".partition("e")
    power = int(power)
    if -3 <= power < 5:
        return f"{x:.{max(0, digits - 1 - power)}f}"
    return f"{mantissa.rstrip('0').rstrip('.')}e{power}"


def at_gases(figures_by_ga, text):
    """`text(figures)` at each γ, the first with "at γ = ", the others with "at"."""
    parts = [
        f"{text(f)} at {'γ = ' if not i else ''}{ga:.10g}"
        for i, (ga, f) in enumerate((ga, f) for ga, f in figures_by_ga.items() if f)
    ]
    return ", ".join(parts)


SURPRISES = (
    Surprise(
        "posh-zero",
        "`Posh_Po_from_Ma`",
        (1.01, 1.99),
        "1.01 to below 2",
        (1.01, 1.03, 1.05, 1.1, 1.4, 1.7),
        posh_zero,
        check_posh_zero,
        lambda fs: (
            "M from √((γ + 1)/(2γ)·1.8e308^(γ − 1)) to where the value falls below"
            " 2.2e-308: " + at_gases(fs, lambda f: f"{number(f['from'])} to {number(f['to'])}")
        ),
        "0, where the value is a normal double",
        "the pressure ratio across the shock, raised to 1/(γ − 1), overflows before the"
        " reciprocal is taken",
    ),
    Surprise(
        "posh-subsonic-inf",
        "`Posh_Po_from_Ma`",
        (1.01, 1.05),
        "1.01 to 1.05",
        (1.01, 1.02, 1.03, 1.04, 1.05),
        posh_subsonic_inf,
        check_posh_subsonic_inf,
        lambda fs: (
            "M just above √(k/γ): "
            + at_gases(fs, lambda f: f"{number(f['from'], 9)} to {number(f['to'], 9)}")
            + "; above γ = 1.05, at most the double or two where the pressure ratio is computed"
            " as exactly 0"
        ),
        "+inf, where the value is finite",
        "next to that pole the pressure ratio tends to 0 and its power underflows to 0, while"
        " the density ratio's power stays finite",
    ),
    Surprise(
        "integer-exponent",
        "`Posh_Po_from_Ma`",
        (1.015625, 2.0),
        "1 + 2^-j: " + ", ".join(f"{ga:.10g}" for ga in INTEGER_EXPONENT_GASES),
        INTEGER_EXPONENT_GASES,
        integer_exponent,
        check_integer_exponent,
        lambda fs: (
            "\\|M\\| < √(k/γ), where 1/(γ − 1) is an integer in doubles; "
            + at_gases({2.0: fs.get(2.0)}, lambda f: f"M = {f['M']:g} gives {f['value']:.6g}")
        ),
        "the formula's finite value instead of NaN, negative where 1/(γ − 1) is odd",
        "pow of a negative base is defined for an integer exponent",
    ),
    Surprise(
        "area-overflow",
        "`A_Acrit_from_Ma`; `Ma_from_A_Acrit` with sup=True",
        (1.01, 2.99),
        "1.01 to below 3",
        (1.01, 1.03, 1.05, 1.4, 2.0),
        area_overflow,
        check_area_overflow,
        lambda fs: (
            "M from M₀ to M₁; V, the largest finite value, lies just below M₀, and for"
            " targets above it the inverse's M₀ lies up to E below the root: "
            + at_gases(
                fs,
                lambda f: (
                    f"{number(f['from'], 5)} to {number(f['to'])} (V = {number(f['largest'])},"
                    f" E = {100 * f['error']:.3g} %)"
                ),
            )
        ),
        "+inf where the value is finite; the inverse gives M₀ for every target above V",
        "the power ((1 + kM²)/((γ + 1)/2))^((γ + 1)/(2(γ − 1))) overflows before it is"
        " multiplied by 1/M",
    ),
    Surprise(
        "choking",
        "`Ma_from_mcpTo_APo`",
        (1.01, 3.0),
        "1.01 to 3",
        (1.01, 1.03, 1.2, 1.33, 1.4),
        choking,
        check_choking,
        lambda fs: (
            "targets just below the exact choking maximum, above the module's choking"
            " value; doubles refused: " + at_gases(fs, lambda f: f"{f['refused']}")
        ),
        f"NaN; pass `{PASS_INSTEAD}`, which puts the module's choking value in their place,"
        " instead",
        "the choking value pow(1 + k, e)·D is rounded, and the rounding of 1 + k is multiplied"
        " by \\|e\\| = (γ + 1)/(2(γ − 1))",
    ),
    Surprise(
        "small-ratio",
        "`Ma_from_Po_P`, `Ma_from_rhoo_rho`",
        (1.01, 3.0),
        "1.01 to 3",
        (1.01, 1.05, 1.4, 3.0),
        small_ratio,
        check_small_ratio,
        lambda fs: (
            "roots below 1e-4, where the error grows as 1/M² (the bound at M = 1e-6: "
            + at_gases(
                fs,
                lambda f: f"{number(f['Ma_from_Po_P'], 2)} and {number(f['Ma_from_rhoo_rho'], 2)}",
            )
            + "); 0 for roots below about √(2.2e-16/(γ − 1))"
        ),
        "a relative error up to about (0.54 + \\|e\\|/4)·2.2e-16/((γ − 1)M²), e the exponent"
        " applied to 1/target, while that is small",
        "the power of 1/target lies (γ − 1)M²/2 above 1, where it is rounded to half an ulp of 1",
    ),
    Surprise(
        "subnormal-power",
        "`mcpTo_APo_from_Ma`",
        (1.01, 3.0),
        "1.01 to 3",
        (1.01, 1.05, 1.4, 2.0),
        subnormal_power,
        check_subnormal_power,
        lambda fs: (
            "M above M_s, the relative error reaching 1e-10 above M_10: "
            + at_gases(fs, lambda f: f"{number(f['from'])} and {number(f['1e-10 from'])}")
        ),
        "a relative error up to 2^-1075·(D·M + 1)/value, D = γ/√(γ − 1)",
        "the power (1 + kM²)^e is subnormal and keeps only its bits above 2^-1075",
    ),
    Surprise(
        "small-roots",
        "`Ma_from_mcpTo_AP`; `Ma_from_mcpTo_APo` with sup=False",
        (1.01, 3.0),
        "1.01 to 3",
        (1.01, 1.2, 1.32, 1.4, 3.0),
        small_roots,
        check_small_roots,
        lambda fs: (
            "roots below 1e-9 (largest absolute error found over roots 1e-45 to 1e-9: "
            + at_gases(
                fs,
                lambda f: (
                    f"{number(f['Ma_from_mcpTo_AP'], 2)} and {number(f['Ma_from_mcpTo_APo'], 2)}"
                ),
            )
            + ")"
        ),
        "an absolute error up to (γ − 1)/2·1e-18 and (γ + 1)/2·1e-18: 0, or a root of the"
        " wrong sign, for roots below about 1e-19",
        "the last step starts up to 1e-6 from the root, and the relation's cubic term leaves"
        " that distance cubed, times k or (γ + 1)/2",
    ),
    Surprise(
        "first-iterate",
        "`Ma_from_mcpTo_AP`",
        (1.5000001, 3.0),
        "above 1.5, to 3",
        (1.6, 2.0, 2.5, 3.0),
        first_iterate,
        check_first_iterate,
        lambda fs: (
            "targets from " + at_gases(fs, lambda f: f"{number(f['from'])} to {number(f['to'])}")
        ),
        "its first iterate, about 0.4·target, instead of the root (near 1e77)",
        "at the first iterate the slope D·(1 + 2kx²)/√(1 + kx²) overflows while the value"
        " does not, so the step is 0 and the change passes",
    ),
)


# ---- the record and the README's table --------------------------------------------------------

RECORD = Path(__file__).resolve().parent / "surprises.json"
BLOCK = "surprises"


def measure():
    record = {s.name: {repr(ga): s.figures(ga) for ga in s.gases} for s in SURPRISES}
    record["choking-bands"] = choking_in_bands()
    return record


def render(record):
    lines = ["| Function | γ | Where | Gives | Why |", "|---|---|---|---|---|"]
    for s in SURPRISES:
        figures = {float(ga): f for ga, f in record[s.name].items()}
        where = s.where(figures)
        if s.name == "choking":
            where += "; the most over 2001 values of γ a band: " + ", ".join(
                f"{b['most']} (γ = {b['at']:.6g}; some at {b['share']:.0%} of them) for"
                f" {b['band'][0]:g} ≤ γ ≤ {b['band'][1]:g}"
                for b in record["choking-bands"]
            )
        lines.append(f"| {s.functions} | {s.gases_text} | {where} | {s.gives} | {s.why} |")
    return "\n".join(lines) + "\n"


def main(argv=None):
    parser = generated.tool_parser(__doc__.splitlines()[0])
    arguments = parser.parse_args(argv)
    record = generated.read_record(RECORD) if arguments.render else measure()
    for s in SURPRISES:  # confirm every figure before stating it
        for ga, figures in record[s.name].items():
            s.check(float(ga), figures)
    generated.publish(arguments, RECORD, record, {BLOCK: render(record)})


if __name__ == "__main__":
    main()
