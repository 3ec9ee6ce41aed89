"""Builds bench/kernel_bench.cpp with the host c++, the project's flags and a kernel set's
(src/kernel_sets.txt, through tests/kernel_sets.py), runs it and returns its JSON: per relation, one element at a time against the library's kernel, and the
literal area-ratio search against the kernel on the same targets."""

import json
import os
import pathlib
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


def run_harness(isa, quick):
    with tempfile.TemporaryDirectory() as build:
        binary = pathlib.Path(build) / "kernel_bench"
        kernel_set = kernel_sets.by_name(isa)
        sources = [ROOT / "bench" / "kernel_bench.cpp", kernel_sets.RELATIONS / "power_tables.cpp"]
        kernel_sets.compile(
            [*FLAGS, *kernel_set.arguments, *map(str, sources), "-o", str(binary)], binary
        )
        run = subprocess.run(
            [str(binary), *(["--quick"] if quick else [])],
            check=True,
            capture_output=True,
            text=True,
            env={**os.environ, **kernel_set.environment},
        )
    return json.loads(run.stdout)


if __name__ == "__main__":
    if sys.argv[1:] == ["--module-kernel"]:
        print(module_kernel())
