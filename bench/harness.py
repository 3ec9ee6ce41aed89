"""Builds bench/kernel_bench.cpp with the host c++, the project's flags and a kernel set's
(src/kernel_sets.txt, through tests/kernel_sets.py), runs it and returns its JSON: per
relation, one element at a time against the library's kernel, and the literal area-ratio
search against the kernel on the same targets.

  python bench/harness.py --module-kernel          the set the module chooses here
  python bench/harness.py --compare A B [ROUNDS]   each row's time on set A over set B"""

import json
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))
import kernel_sets  # noqa: E402  (the tests' reader of src/kernel_sets.txt)

# The flags meson builds every source with, at the optimisation of its release build.
FLAGS = [*kernel_sets.compile_flags("-O3"), f"-I{kernel_sets.UNIT_SOURCES}"]


def module_kernel():
    """The kernel set the module chooses in a process like this one: the first offered set
    that the processor runs and whose power gives the bits of this process's pow, or the
    fallback. The choice is the module's own code (src/relations/power_choice.cpp), built
    into power_choice_test with the power of each offered set, and run here."""
    with tempfile.TemporaryDirectory() as build:
        binary = kernel_sets.power_choice_test(build, "-O3")
        return subprocess.run(
            [str(binary), "--which"], check=True, capture_output=True, text=True
        ).stdout.strip()


def build_harness(isa, directory):
    binary = pathlib.Path(directory) / f"kernel_bench_{isa}"
    kernel_set = kernel_sets.by_name(isa)
    sources = [ROOT / "bench" / "kernel_bench.cpp", kernel_sets.RELATIONS / "power_tables.cpp"]
    kernel_sets.compile(
        [*FLAGS, *kernel_set.arguments, *map(str, sources), "-o", str(binary)], binary
    )
    return binary


def run_built(binary, isa, quick):
    run = subprocess.run(
        [str(binary), *(["--quick"] if quick else [])],
        check=True,
        capture_output=True,
        text=True,
        env={**os.environ, **kernel_sets.by_name(isa).environment},
    )
    return json.loads(run.stdout)


def run_harness(isa, quick):
    with tempfile.TemporaryDirectory() as build:
        return run_built(build_harness(isa, build), isa, quick)


def compare(first, second, rounds, quick):
    """Each row's kernel time on `first`'s lanes over that on `second`'s: the median of
    `rounds` ratios, each from runs of the two harnesses one after the other (the machine's
    load drifts less between them than over a whole comparison). Every row must be identical
    to one element at a time."""
    ratios = {}
    with tempfile.TemporaryDirectory() as build:
        binaries = {isa: build_harness(isa, build) for isa in (first, second)}
        for _ in range(rounds):
            times = {}
            for isa, binary in binaries.items():
                for row in run_built(binary, isa, quick)["rows"]:
                    assert row["identical"], row
                    times.setdefault(f"{row['section']} {row['label']}", {})[isa] = row["kernel_ns"]
            for label, pair in times.items():
                ratios.setdefault(label, []).append(pair[first] / pair[second])
    return {label: statistics.median(values) for label, values in ratios.items()}


if __name__ == "__main__":
    if sys.argv[1:] == ["--module-kernel"]:
        print(module_kernel())
    elif sys.argv[1:2] == ["--compare"]:
        # --compare FIRST SECOND [ROUNDS]: each row's time on FIRST over that on SECOND.
        first, second, *rounds = sys.argv[2:]
        for label, ratio in compare(first, second, int(*rounds or [5]), quick=False).items():
            print(f"{label:40s} {ratio:5.2f}")
