"""Builds bench/kernel_bench.cpp with the host c++ and the module's kernel flags, runs it and
returns its JSON: per relation, one element at a time against the library's kernel, and the
literal area-ratio search against the kernel on the same targets."""

import json
import os
import pathlib
import platform
import subprocess
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
RELATIONS = ROOT / "src" / "relations"
UNIT_SOURCES = ROOT / "tests" / "cpp"
FLAGS = ["-std=c++20", "-O3", "-ffp-contract=off", "-fno-math-errno", "-Wall", "-Wextra"]
ISA_FLAGS = {
    "avx2": ["-mavx2", "-mfma", "-DVENTAROXI_ISA=avx2"],
    "baseline": [],
    "per_element": ["-DVENTAROXI_ISA=per_element", "-DVENTAROXI_POW_PER_ELEMENT"],
}
# The baseline kernels reproduce the C library's non-fused pow, which GLIBC_TUNABLES selects
# by masking FMA and AVX2 from it; the others are compared with the pow this process gets.
ISA_ENVIRONMENT = {
    "avx2": {},
    "baseline": {"GLIBC_TUNABLES": "glibc.cpu.hwcaps=-AVX2,-FMA"},
    "per_element": {},
}


def module_kernel():
    """The kernel set the module chooses in a process like this one: the widest that the
    processor runs and whose power gives the bits of this process's pow, or per_element.
    The choice is the module's own code (src/relations/power_choice.cpp), built into
    power_choice_test with the power of each kernel set, and run here."""
    candidates = {"baseline": []}
    if platform.machine() == "x86_64":  # built on any x86-64, run only where it can run
        candidates["avx2"] = ["-mavx2", "-mfma"]
    with tempfile.TemporaryDirectory() as build:
        # The unit test also links the two variants at baseline instructions.
        candidates |= {
            "test_fused": ["-DVENTAROXI_POW_FUSED=1"],
            "test_unfused": ["-DVENTAROXI_POW_FUSED=0"],
        }
        objects = []
        for name, flags in candidates.items():
            obj = pathlib.Path(build) / f"{name}.o"
            subprocess.run(
                [
                    "c++",
                    *FLAGS,
                    *flags,
                    f"-DVENTAROXI_ISA={name}",
                    "-c",
                    str(RELATIONS / "power_candidate.cpp"),
                    "-o",
                    str(obj),
                ],
                check=True,
            )
            objects.append(str(obj))
        binary = pathlib.Path(build) / "power_choice_test"
        sources = [
            UNIT_SOURCES / "power_choice_test.cpp",
            RELATIONS / "power_choice.cpp",
            RELATIONS / "power_tables.cpp",
        ]
        subprocess.run(
            ["c++", *FLAGS, f"-I{RELATIONS}", *map(str, sources), *objects, "-o", str(binary)],
            check=True,
        )
        return subprocess.run(
            [str(binary), "--which"], check=True, capture_output=True, text=True
        ).stdout.strip()


def run_harness(isa, quick):
    with tempfile.TemporaryDirectory() as build:
        binary = pathlib.Path(build) / "kernel_bench"
        command = [
            "c++",
            *FLAGS,
            *ISA_FLAGS[isa],
            f"-I{RELATIONS}",
            f"-I{UNIT_SOURCES}",
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
