"""Timing and memory of one call: timeit with time.perf_counter, samples taken round-robin
across the contenders so that they share the machine's noise, and tracemalloc's peak."""

import math
import statistics
import time
import timeit
import tracemalloc
from dataclasses import dataclass, field

import numpy as np


@dataclass(frozen=True)
class Policy:
    repeats: int  # samples per contender, at most
    min_repeats: int  # samples per contender, at least (when measured at all)
    min_sample: float  # seconds per sample: cheap calls are looped until they take this long
    max_call: float  # a call predicted longer than this is not run: extrapolated instead
    budget: float  # seconds per contender and measurement, which caps the repeats


FULL = Policy(repeats=7, min_repeats=3, min_sample=0.05, max_call=15.0, budget=20.0)
QUICK = Policy(repeats=3, min_repeats=2, min_sample=0.005, max_call=0.25, budget=0.6)


@dataclass
class Timing:
    """Seconds per element: the median of the samples, their spread, or an extrapolation."""

    elements: int
    samples: list = field(default_factory=list)  # seconds per element, one per sample
    loops: int = 0
    extrapolated_from: int | None = None  # element count whose per-element time is used
    per_element: float = math.nan

    def finish(self):
        if self.samples:
            self.per_element = statistics.median(self.samples)
        return self

    def quartiles(self):
        if len(self.samples) < 2:
            return self.per_element, self.per_element
        q1, _, q3 = statistics.quantiles(self.samples, n=4, method="inclusive")
        return q1, q3

    def as_dict(self):
        q1, q3 = self.quartiles()
        return {
            "elements": self.elements,
            "ns_per_element": self.per_element * 1e9,
            "q1_ns": q1 * 1e9,
            "q3_ns": q3 * 1e9,
            "min_ns": min(self.samples, default=math.nan) * 1e9,
            "max_ns": max(self.samples, default=math.nan) * 1e9,
            "samples": len(self.samples),
            "loops": self.loops,
            "extrapolated_from": self.extrapolated_from,
        }


def statement(arity):
    """`f(a0, a1, ...)`: the call alone, with no wrapper or argument unpacking around it."""
    return "f(" + ", ".join(f"a{i}" for i in range(arity)) + ")"


def timer_for(function, args):
    names = {"f": function, **{f"a{i}": a for i, a in enumerate(args)}}
    return timeit.Timer(statement(len(args)), timer=time.perf_counter, globals=names)


def time_contenders(contenders, elements, policy, history):
    """Times each contender `name -> (function, args)` on `elements` elements.

    `history` maps a name to its last measured (seconds per element, element count). A
    call predicted from a measurement of 1000 elements or more to exceed policy.max_call is
    not run: its per-element time is carried over and marked as extrapolated. (A single
    element's time is mostly call overhead, and scipy's Newton takes another path for it,
    so it predicts nothing.) Returns (timings, results), `results` holding the value of one
    call of each contender that ran."""
    timings, results, plans = {}, {}, {}
    for name, (function, args) in contenders.items():
        known = history.get(name)
        if known and known[1] >= 1000 and known[0] * elements > policy.max_call:
            timings[name] = Timing(elements, extrapolated_from=known[1], per_element=known[0])
            continue
        start = time.perf_counter()
        results[name] = function(*args)  # warm-up, and the value for the checks
        once = time.perf_counter() - start
        if once >= policy.budget / 2:  # a long call: its one run is the sample
            timings[name] = Timing(elements, samples=[once / elements], loops=1)
            continue
        loops = max(1, math.ceil(policy.min_sample / once)) if once < policy.min_sample else 1
        repeats = int(min(policy.repeats, max(policy.min_repeats, policy.budget // (once * loops))))
        plans[name] = (timer_for(function, args), loops, repeats)
        timings[name] = Timing(elements, loops=loops)
    for round_number in range(max((p[2] for p in plans.values()), default=0)):
        for name, (timer, loops, repeats) in plans.items():
            if round_number < repeats:
                timings[name].samples.append(timer.timeit(loops) / loops / elements)
    for name, timing in timings.items():
        timing.finish()
        if timing.extrapolated_from is None:
            history[name] = (timing.per_element, elements)
    return timings, results


def peak_extra_bytes(function, args):
    """Traced memory at the call's peak beyond what was held before it, less the result's
    own size: what the call needed besides the array it returns."""
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        tracemalloc.reset_peak()
        result = function(*args)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    result_bytes = np.asarray(result).nbytes
    return {"extra_bytes": peak - before - result_bytes, "result_bytes": result_bytes}
