"""Builds bench/kernel_bench.cpp with the host c++ and the module's kernel flags, runs it and
returns its JSON: per relation, one element at a time against the library's kernel, and the
literal area-ratio search against the kernel on the same targets."""

import json
import os
import pathlib
import subprocess
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
RELATIONS = ROOT / "src" / "relations"
FLAGS = ["-std=c++20", "-O3", "-ffp-contract=off", "-fno-math-errno", "-Wall", "-Wextra"]
ISA_FLAGS = {"avx2": ["-mavx2", "-mfma", "-DVENTAROXI_ISA=avx2"], "baseline": []}
# The C library chooses its scalar pow by the same processor features as the module chooses
# its kernels; the baseline kernels are compared with the baseline pow.
ISA_ENVIRONMENT = {"avx2": {}, "baseline": {"GLIBC_TUNABLES": "glibc.cpu.hwcaps=-AVX2,-FMA"}}


def cpu_flags():
    try:
        text = pathlib.Path("/proc/cpuinfo").read_text()
    except OSError:
        return set()
    for line in text.splitlines():
        if line.startswith("flags"):
            return set(line.split(":", 1)[1].split())
    return set()


def module_kernel():
    """The kernel set the module picks on this processor: AVX2+FMA when both are present."""
    return "avx2" if {"avx2", "fma"} <= cpu_flags() else "baseline"


def run_harness(isa, quick):
    with tempfile.TemporaryDirectory() as build:
        binary = pathlib.Path(build) / "kernel_bench"
        command = [
            "c++",
            *FLAGS,
            *ISA_FLAGS[isa],
            f"-I{RELATIONS}",
            str(ROOT / "bench" / "kernel_bench.cpp"),
            str(RELATIONS / "power_tables.cpp"),
            "-o",
            str(binary),
        ]
        subprocess.run(command, check=True)
        run = subprocess.run(
            [str(binary), *(["--quick"] if quick else [])],
            check=True,
            capture_output=True,
            text=True,
            env={**os.environ, **ISA_ENVIRONMENT[isa]},
        )
    return json.loads(run.stdout)


if __name__ == "__main__":
    import sys

    if sys.argv[1:] == ["--module-kernel"]:
        print(module_kernel())
