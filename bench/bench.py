"""Measures ventaroxi against NumPy expressions, pygasflow and the machine's floors, and
reports the performance goals as ratios measured in one run.

    PYTHONPATH=builddir python3 bench/bench.py [--quick] [--out DIR]

Exits with 1 when a self-check fails: a kernel result that differs from the one-at-a-time
evaluation, or a strided view whose results differ from the contiguous array's. The goals
themselves are reported, PASS or MISS, and never fail the run."""

import argparse
import datetime
import json
import os
import pathlib
import platform
import subprocess
import sys
import time

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import baselines
import goals as goal_module
import report
from cases import AREA, GA, NEWTON, all_cases
from harness import ROOT, kernel_sets, module_kernel, run_harness
from layouts import load_build
from measure import FULL, QUICK, Policy, peak_extra_bytes, time_contenders

import ventaroxi

FULL_SIZES, QUICK_SIZES = [1, 1000, 1_000_000, 10_000_000], [1, 1000, 100_000]
POWER_EXPONENT = 1.7
# Agreement with the library: closed forms to a few ulps; solves to well inside ten times
# the Newton step tolerance (roots next to a double or triple root stop that far away).
CLOSED_FORM_TOLERANCE, SOLVE_TOLERANCE = 1e-12, 1e-5


def strided_view(values):
    """The same values as every second element of an array twice as long."""
    base = np.empty(2 * values.size)
    base[0::2] = values
    base[1::2] = values[::-1]
    return base[0::2]


def same_bits(a, b):
    return a.shape == b.shape and np.array_equal(
        np.ascontiguousarray(a).view(np.uint64), np.ascontiguousarray(b).view(np.uint64)
    )


def agreement(actual, expected, iterative):
    expected = np.asarray(expected, dtype=float)
    actual = np.asarray(actual, dtype=float).reshape(expected.shape)  # a peer may return a scalar
    nan_actual, nan_expected = np.isnan(actual), np.isnan(expected)
    both = ~nan_actual & ~nan_expected
    equal = actual[both] == expected[both]  # also infinities of one sign
    with np.errstate(all="ignore"):
        difference = np.where(equal, 0.0, np.abs(actual[both] - expected[both]))
        relative = difference / np.abs(expected[both])
    bound = (
        SOLVE_TOLERANCE + 1e-9 * np.abs(expected[both])
        if iterative
        else CLOSED_FORM_TOLERANCE * np.abs(expected[both])
    )
    nan_mismatches = int(np.count_nonzero(nan_actual != nan_expected))
    return {
        "max_relative": float(np.max(relative, initial=0.0)),
        "nan_mismatches": nan_mismatches,
        "outside": int(np.count_nonzero(~(difference <= bound))),
        "agrees": nan_mismatches == 0 and bool(np.all(difference <= bound)),
    }


def without_nan(value):
    """The value with every NaN float replaced by None, so that the JSON is standard."""
    if isinstance(value, float) and value != value:
        return None
    if isinstance(value, dict):
        return {k: without_nan(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [without_nan(v) for v in value]
    return value


def contenders_for(case, x, peer_x, against):
    library = getattr(ventaroxi, case.function)
    contenders = {
        "library": (library, case.arguments(x)),
        "baseline": (getattr(baselines, case.function), case.arguments(x)),
        "negative": (np.negative, (x,)),
    }
    if against:
        contenders["against"] = (getattr(against, case.function), case.arguments(x))
    if case.needs_pow:
        contenders["power"] = (np.power, (x, POWER_EXPONENT))
    if case.peer:
        contenders["peer"] = (case.peer.call, (peer_x, GA))
    return contenders


def memory_of(contenders, timings, policy):
    """Peak extra memory of the library wherever its call ran, and of the references whose
    call is short."""
    memory = {}
    for name, (function, args) in contenders.items():
        timing = timings[name]
        limit = policy.max_call if name == "library" else policy.max_call / 4
        if not timing.extrapolated_from and timing.per_element * timing.elements <= limit:
            memory[name] = peak_extra_bytes(function, args)
    return memory


def measure_layout(case, layout, x, peer_x, policy, history, against):
    contenders = contenders_for(case, x, peer_x, against)
    timings, results = time_contenders(contenders, x.size, policy, history)
    library_time = timings["library"].per_element
    row = {
        "label": case.label,
        "function": case.function,
        "sup": case.sup,
        "goal": case.goal,
        "elements": x.size,
        "layout": layout,
        "peer_name": case.peer.name if case.peer else None,
        "times": {name: t.as_dict() for name, t in timings.items()},
        "ratios": {
            name: library_time / t.per_element for name, t in timings.items() if name != "library"
        },
        "memory": memory_of(contenders, timings, policy),
        "agreement": {},
    }
    library = results.get("library")
    if library is not None and "baseline" in results:
        row["agreement"]["baseline"] = agreement(
            results["baseline"], library, case.goal in (NEWTON, AREA)
        )
    if library is not None and "peer" in results:
        peer = np.asarray(results["peer"], dtype=float)
        peer = case.peer.from_peer(peer) if case.peer.from_peer else peer
        row["agreement"]["peer"] = agreement(peer, library, case.goal in (NEWTON, AREA))
    return row, library


def measure_case(case, sizes, policy, checks, against):
    all_values = case.inputs(max(sizes))
    history = {"contiguous": {}, "strided": {}}
    rows, same, different = [], [], []
    for n in sizes:
        values = all_values[:n].copy()
        peer_values = case.peer.to_peer(values) if case.peer and case.peer.to_peer else values
        results = {}
        for layout, x, peer_x in [
            ("contiguous", values, peer_values),
            ("strided", strided_view(values), strided_view(peer_values)),
        ]:
            row, results[layout] = measure_layout(
                case, layout, x, peer_x, policy, history[layout], against
            )
            rows.append(row)
        if results["contiguous"] is not None and results["strided"] is not None:
            (same if same_bits(results["contiguous"], results["strided"]) else different).append(
                f"{n:,}"
            )
    text = f"{case.label}: strided view gives the contiguous bits at {', '.join(same) or 'no size'}"
    checks.append(
        {
            "passed": bool(same) and not different,
            "text": text + (f"; DIFFERENT BITS at {', '.join(different)}" if different else ""),
        }
    )
    return rows


def measure_one_element(cases, quick):
    """Whole one-element calls against np.negative on one element: many short samples of
    many loops each, taken in turns, so that the median survives the other processes of a
    busy machine."""
    samples = 7 if quick else 21
    policy = Policy(
        repeats=samples,
        min_repeats=samples,
        min_sample=0.005 if quick else 0.02,
        max_call=1.0,
        budget=1e9,
    )
    out = {}
    for case in cases:
        x = case.inputs(1)
        contenders = {
            "library": (getattr(ventaroxi, case.function), case.arguments(x)),
            "negative": (np.negative, (x,)),
        }
        timings, _ = time_contenders(contenders, 1, policy, {})
        out[case.label] = {name: t.per_element * 1e9 for name, t in timings.items()}
        out[case.label].update({f"{name}_min": min(t.samples) * 1e9 for name, t in timings.items()})
        out[case.label]["loops"] = timings["negative"].loops
    return out


def harness_checks(harness, cases):
    checks = []
    labels = {c.label for c in cases}
    seen = {h["label"] for h in harness["rows"] if h["section"] == "relation"}
    searched = {h["label"] for h in harness["rows"] if h["section"] == "area_search"}
    checks.append(
        {
            "passed": seen == labels,
            "text": f"harness covers all {len(labels)} relations"
            + ("" if seen == labels else f": missing {sorted(labels - seen)}"),
        }
    )
    checks.append(
        {
            "passed": searched == {"Ma_from_A_Acrit[sub]", "Ma_from_A_Acrit[sup]"},
            "text": "harness runs the literal area-ratio search on both branches",
        }
    )
    for h in harness["rows"]:
        what = "kernel = one at a time" if h["section"] == "relation" else "kernel = literal search"
        text = f"{h['label']}: {what}, bit for bit, on {h['elements']} elements"
        if not h["identical"]:
            text += f": {h['mismatches']} differ, first {h.get('first_mismatch')}"
        checks.append({"passed": h["identical"], "text": text})
    return checks


def vector_flags():
    """The processor's vector instruction sets, as /proc/cpuinfo names them (empty elsewhere)."""
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            flags = next(line for line in cpuinfo if line.startswith(("flags", "Features")))
    except (OSError, StopIteration):
        return []
    vector = ("sse", "ssse", "avx", "fma", "f16c", "asimd", "sve")
    return sorted(f for f in flags.split(":", 1)[1].split() if f.startswith(vector))


def numpy_dispatch():
    """The SIMD targets NumPy dispatches to in this process: those it was built for that the
    processor has and NPY_DISABLE_CPU_FEATURES leaves enabled."""
    try:
        from numpy._core import _multiarray_umath as umath
    except ImportError:  # NumPy 1
        from numpy.core import _multiarray_umath as umath
    features = umath.__cpu_features__
    return [t for t in umath.__cpu_baseline__ + umath.__cpu_dispatch__ if features.get(t)]


def environment():
    def version(module):
        try:
            return __import__(module).__version__
        except ImportError:
            return "not installed"

    cpu = (
        next(
            (
                line.split(":", 1)[1].strip()
                for line in open("/proc/cpuinfo")
                if line.startswith("model name")
            ),
            platform.processor(),
        )
        if os.path.exists("/proc/cpuinfo")
        else platform.processor()
    )
    commit = (
        subprocess.run(
            ["git", "-C", str(ROOT), "describe", "--always", "--dirty"],
            capture_output=True,
            text=True,
        ).stdout.strip()
        or "unknown"
    )
    return {
        "cpu": cpu,
        "cpu_flags": vector_flags(),
        "cores": os.cpu_count(),
        "kernel": module_kernel(),
        "numpy_dispatch": numpy_dispatch(),
        "commit": commit,
        "date": datetime.datetime.now().isoformat(timespec="seconds"),
        "python": platform.python_version(),
        "numpy": np.__version__,
        "scipy": version("scipy"),
        "pygasflow": version("pygasflow"),
    }


def print_report(result, goals):
    env = result["environment"]
    print(
        f"kernel {env['kernel']} (the module's choice in this process), {env['cpu']}, commit {env['commit']}; "
        "ratios are ventaroxi's time over the reference's, ~ marks an extrapolation"
    )
    if result["rows"]:
        print(report.plain(*report.ratio_table(result["rows"])), end="\n\n")
    print(report.plain(*report.harness_table(result["harness"])), end="\n\n")
    for row in result["rows"]:
        for name, a in row["agreement"].items():
            if not a["agrees"]:
                print(
                    f"DISAGREEMENT {row['label']} {row['layout']} {row['elements']:,} vs {name}: "
                    f"max relative {a['max_relative']:.2e}, {a['outside']} outside, "
                    f"{a['nan_mismatches']} NaN mismatches"
                )
    for goal in goals:
        print(goal_module.summary_line(goal))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument(
        "--quick", action="store_true", help="small sizes, few repeats: under a minute"
    )
    parser.add_argument("--out", type=pathlib.Path, default=ROOT / "bench" / "results")
    parser.add_argument("--only", help="measure only the functions whose label contains this text")
    parser.add_argument(
        "--harness-isa",
        choices=["module", *(k.name for k in kernel_sets.kernel_sets())],
        default="module",
        help="kernel set of the C++ harness: the module's choice here, or a set of this machine",
    )
    parser.add_argument(
        "--harness-only", action="store_true", help="run the C++ harness and its checks alone"
    )
    parser.add_argument(
        "--against",
        metavar="SO",
        help="another build of the module (its .so) to time in the same turns, such as main's",
    )
    options = parser.parse_args()
    against = load_build(options.against) if options.against else None
    policy, sizes = (QUICK, QUICK_SIZES) if options.quick else (FULL, FULL_SIZES)
    goal_sizes = sizes[-1:] if options.quick else sizes[-2:]
    cases = (
        []
        if options.harness_only
        else [c for c in all_cases() if not options.only or options.only in c.label]
    )

    machine = environment()  # before measuring: the commit that is measured
    machine["against"] = options.against
    isa = machine["kernel"] if options.harness_isa == "module" else options.harness_isa
    print(
        f"kernel: {machine['kernel']} (the module's choice in this process); harness built for {isa}",
        file=sys.stderr,
    )
    harness = run_harness(isa, options.quick)
    checks = harness_checks(harness, all_cases())
    rows = []
    for case in cases:
        started = time.perf_counter()
        rows += measure_case(case, sizes, policy, checks, against)
        print(
            f"measured {case.label} in {time.perf_counter() - started:.1f} s",
            file=sys.stderr,
            flush=True,
        )
    one_element = measure_one_element(cases, options.quick)
    goals = goal_module.evaluate(rows, harness, one_element, goal_sizes) if cases else []

    result = {
        "command": "python3 bench/bench.py" + "".join(f" {a}" for a in sys.argv[1:]),
        "environment": machine,
        "harness_isa": isa,
        "sizes": sizes,
        "goal_sizes": goal_sizes,
        "rows": rows,
        "harness": harness,
        "one_element": one_element,
        "goals": [g.as_dict() for g in goals],
        "checks": checks,
    }
    options.out.mkdir(parents=True, exist_ok=True)
    stem = "harness-" + isa if options.harness_only else "quick" if options.quick else "bench"
    (options.out / f"{stem}.json").write_text(json.dumps(without_nan(result), indent=1) + "\n")
    (options.out / f"{stem}.md").write_text(
        report.markdown_report(result, goals, goal_module.summary_line)
    )

    print_report(result, goals)
    failed = [c for c in checks if not c["passed"]]
    for check in failed:
        print(f"CHECK FAILED: {check['text']}")
    print(
        f"{len(checks) - len(failed)} checks passed, {len(failed)} failed; "
        f"results in {options.out / stem}.json and .md"
    )
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
