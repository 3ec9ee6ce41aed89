"""Builds and runs the C++ unit tests of the relations, which check on plain doubles what
Python cannot reach: the Newton stop rules, the area-ratio search against its full run, the
power function on lanes against the C library's pow, and every relation on lanes against
itself one element at a time.

Each unit is built for the baseline instruction set and, where the processor has them, for
AVX2 with FMA, like the module's two kernel sets. The C library picks its own pow by the same
processor features; the baseline build is compared with the C library's baseline pow, which
GLIBC_TUNABLES selects by masking those features from it."""

import os
import pathlib
import platform
import subprocess

import pytest

RELATIONS = pathlib.Path(__file__).resolve().parent.parent / "src" / "relations"
FLAGS = ["-std=c++20", "-O2", "-ffp-contract=off", "-fno-math-errno", "-Wall", "-Wextra", "-Werror"]
UNITS = ["newton_test", "area_ratio_search_test", "power_test", "lanes_test"]


def has_avx2_and_fma():
    # Under user-mode emulation /proc/cpuinfo describes the host, not the processor the
    # tests' programs are built for.
    if platform.machine() not in ("x86_64", "AMD64"):
        return False
    flags = (
        pathlib.Path("/proc/cpuinfo").read_text() if pathlib.Path("/proc/cpuinfo").exists() else ""
    )
    return " avx2" in flags and " fma" in flags


VARIANTS = {
    "baseline": ([], {"GLIBC_TUNABLES": "glibc.cpu.hwcaps=-AVX2,-FMA"}),
    "avx2": (["-mavx2", "-mfma", "-DVENTAROXI_ISA=avx2"], {}),
}


@pytest.mark.parametrize("variant", VARIANTS)
@pytest.mark.parametrize("unit", UNITS)
def test_cpp_unit(unit, variant, tmp_path):
    if variant == "avx2" and not has_avx2_and_fma():
        pytest.skip("this processor has no AVX2 with FMA")
    flags, environment = VARIANTS[variant]
    binary = tmp_path / unit
    sources = [str(RELATIONS / f"{unit}.cpp"), str(RELATIONS / "power_tables.cpp")]
    build = subprocess.run(
        ["c++", *FLAGS, *flags, *sources, "-o", str(binary)], capture_output=True, text=True
    )
    assert build.returncode == 0, build.stderr
    run = subprocess.run(
        [str(binary)],
        capture_output=True,
        text=True,
        timeout=600,
        env={**os.environ, **environment},
    )
    assert run.returncode == 0, run.stdout + run.stderr
