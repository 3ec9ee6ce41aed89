"""Builds and runs the C++ unit tests of the relations, which check on plain doubles what
Python cannot reach: the Newton stop rules, the area-ratio search against its full run, the
power function on lanes against the C library's pow, every relation on lanes against itself
one element at a time, and the choice of kernel set by the platform's pow.

Each unit is built for every kernel set of src/kernel_sets.txt for this architecture, and run
where the processor runs the set (skipped otherwise), as `meson test` does. The C library
picks its own pow by processor features; each set is compared with the C library's pow under
the GLIBC_TUNABLES of its row (the baseline set with the non-fused pow, which masking FMA
selects). A set whose power is the platform's pow runs the units that do not test the power
itself."""

import os
import pathlib
import platform
import subprocess

import pytest

import kernel_sets
from kernel_sets import RELATIONS, UNIT_SOURCES
from support import source_tree

source_tree()  # the units are built from the checkout's sources: without it the module skips

UNITS = ["newton_test", "area_ratio_search_test", "power_test", "lanes_test"]
# The relations on lanes, and the area-ratio search, whose windows must hold whatever power
# the lanes have.
PLATFORM_POWER_UNITS = ("lanes_test", "area_ratio_search_test")
CASES = [
    (unit, s.name)
    for s in kernel_sets.kernel_sets()
    for unit in UNITS
    if s.power == "lanes" or unit in PLATFORM_POWER_UNITS
]


# The units check logic and bits, which no optimisation level changes under the IEEE flags of
# compile_flags.txt; meson builds them at -O3 (release) and -O0 (debug), so here they are built
# at -O1, which compiles in about 60 % of -O2's time (a minute less for the eight-lane units).
OPTIMISATION = "-O1"


@pytest.mark.parametrize(("unit", "name"), CASES)
def test_cpp_unit(unit, name, tmp_path):
    kernel_set = kernel_sets.by_name(name)
    if not kernel_sets.runs(kernel_set):
        pytest.skip(f"this processor lacks some of {' '.join(kernel_set.features)}")
    binary = tmp_path / unit
    sources = [str(UNIT_SOURCES / f"{unit}.cpp"), str(RELATIONS / "power_tables.cpp")]
    flags = [*kernel_sets.compile_flags(OPTIMISATION), *kernel_set.arguments]
    kernel_sets.compile([*flags, *sources, "-o", str(binary)], unit)
    run = subprocess.run(
        [str(binary)],
        capture_output=True,
        text=True,
        timeout=600,
        env={**os.environ, **kernel_set.environment},
    )
    assert run.returncode == 0, run.stdout + run.stderr


MUSL_LIBC = pathlib.Path("/usr/lib/x86_64-linux-musl/libc.a")  # Debian's musl-dev
MUSL_POW_MEMBERS = [
    "pow.lo",
    "pow_data.lo",
    "exp_data.lo",
    "__math_invalid.lo",
    "__math_oflow.lo",
    "__math_uflow.lo",
    "__math_xflow.lo",
    "__math_divzero.lo",
]


def musl_pow_object(directory):
    """musl's pow and the tables and helpers it needs, as one object whose only global
    symbol is musl_pow, so that it cannot be confused with the C library's own pow."""
    subprocess.run(["ar", "x", str(MUSL_LIBC), *MUSL_POW_MEMBERS], cwd=directory, check=True)
    linked = directory / "musl_pow_linked.o"
    subprocess.run(["ld", "-r", "-o", str(linked), *MUSL_POW_MEMBERS], cwd=directory, check=True)
    renamed = directory / "musl_pow.o"
    subprocess.run(
        [
            "objcopy",
            "--redefine-sym",
            "pow=musl_pow",
            "--keep-global-symbol=musl_pow",
            str(linked),
            str(renamed),
        ],
        check=True,
    )
    return renamed


def power_choice_binary(directory):
    """power_choice_test with the candidates of the offered kernel sets and of both variants,
    and musl's pow where Debian's musl-dev is installed (on x86-64)."""
    musl = []
    if MUSL_LIBC.exists():
        musl = ["-DVENTAROXI_MUSL_POW", str(musl_pow_object(directory))]
    elif os.environ.get("VENTAROXI_REQUIRE_OPTIONAL") == "1":
        pytest.fail(f"{MUSL_LIBC} is missing: install Debian's musl-dev")
    return kernel_sets.power_choice_test(directory, OPTIMISATION, musl), bool(musl)


@pytest.fixture(scope="module")
def power_choice(tmp_path_factory):
    return power_choice_binary(tmp_path_factory.mktemp("power_choice"))


@pytest.mark.parametrize("setting", [None, "glibc.cpu.hwcaps=-FMA", "glibc.cpu.hwcaps=-AVX2,-FMA"])
def test_kernel_choice_by_the_platform_pow(setting, power_choice):
    binary, with_musl = power_choice
    environment = {k: v for k, v in os.environ.items() if k != "GLIBC_TUNABLES"}
    if setting:
        environment["GLIBC_TUNABLES"] = setting
    run = subprocess.run(
        [str(binary)], capture_output=True, text=True, timeout=600, env=environment
    )
    print(run.stdout)
    assert run.returncode == 0, run.stdout + run.stderr
    assert ("musl's pow chooses the non-fused kernels" in run.stdout) == with_musl
    if setting and platform.machine() == "x86_64":
        # glibc's non-fused pow: the baseline kernels reproduce it, the AVX2 ones do not.
        assert "kernel set chosen in this process: baseline" in run.stdout
