"""Builds and runs the C++ unit tests of the relations, which check on plain doubles what
Python cannot reach: the Newton stop rules, the area-ratio search against its full run, the
power function on lanes against the C library's pow, and every relation on lanes against
itself one element at a time.

Each unit is built for the baseline instruction set and, where the processor has them, for
AVX2 with FMA, like the module's two kernel sets. The C library picks its own pow by the same
processor features; the baseline build is compared with the C library's baseline pow, which
GLIBC_TUNABLES selects by masking those features from it."""

import functools
import os
import pathlib
import subprocess
import tempfile

import pytest

RELATIONS = pathlib.Path(__file__).resolve().parent.parent / "src" / "relations"
# The flags meson builds every source with, one per line, and an optimisation level.
FLAGS = [*(RELATIONS / "compile_flags.txt").read_text().split(), "-O2"]
UNITS = ["newton_test", "area_ratio_search_test", "power_test", "lanes_test"]


# Asks the processor itself (CPUID, and XGETBV for the operating system's support of the
# AVX state), as the module's run-time dispatch does, so that no /proc is needed.
PROBE = """
int main() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? 0 : 1;
}
"""


@functools.cache
def has_avx2_and_fma():
    with tempfile.TemporaryDirectory() as folder:
        source, binary = pathlib.Path(folder, "probe.cpp"), pathlib.Path(folder, "probe")
        source.write_text(PROBE, encoding="ascii")
        build = subprocess.run(
            ["c++", str(source), "-o", str(binary)], capture_output=True, text=True
        )
        assert build.returncode == 0, build.stderr
        return subprocess.run([str(binary)]).returncode == 0


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
