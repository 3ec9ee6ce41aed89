"""Builds and runs the C++ unit tests of the relations, which check on plain doubles what
Python cannot reach: the Newton stop rules, the area-ratio search against its full run, the
power function on lanes against the C library's pow, every relation on lanes against itself
one element at a time, and the choice of kernel set by the platform's pow.

Each unit is built for the baseline instruction set and, where the processor has them, for
AVX2 with FMA, like the module's two kernel sets. The C library picks its own pow by the same
processor features; the baseline build is compared with the C library's non-fused pow, which
GLIBC_TUNABLES selects by masking those features from it. The per_element build, the module's
set for a pow that no lane kernel reproduces, is compared with whatever pow the process has."""

import functools
import os
import pathlib
import platform
import subprocess
import tempfile

import pytest

UNIT_SOURCES = pathlib.Path(__file__).resolve().parent / "cpp"
RELATIONS = UNIT_SOURCES.parent.parent / "src" / "relations"
# The flags meson builds every source with, one per line, an optimisation level, and where the
# units find the relations' headers.
FLAGS = [*(RELATIONS / "compile_flags.txt").read_text().split(), "-O2", f"-I{RELATIONS}"]
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
    # Under user-mode emulation the host's processor answers, not the one the tests'
    # programs are built for.
    if platform.machine() not in ("x86_64", "AMD64"):
        return False
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
    "per_element": (["-DVENTAROXI_ISA=per_element", "-DVENTAROXI_POW_PER_ELEMENT"], {}),
}


# The per_element set differs from the baseline only in its power, which is pow itself: the
# relations on its lanes are what it has to show, and the area-ratio search, whose windows
# must hold whatever power the lanes have.
PER_ELEMENT_UNITS = ("lanes_test", "area_ratio_search_test")
CASES = [(u, v) for u in UNITS for v in VARIANTS if v != "per_element" or u in PER_ELEMENT_UNITS]


@pytest.mark.parametrize(("unit", "variant"), CASES)
def test_cpp_unit(unit, variant, tmp_path):
    if variant == "avx2" and not has_avx2_and_fma():
        pytest.skip("this processor has no AVX2 with FMA")
    flags, environment = VARIANTS[variant]
    binary = tmp_path / unit
    sources = [str(UNIT_SOURCES / f"{unit}.cpp"), str(RELATIONS / "power_tables.cpp")]
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
    """power_choice_test with the candidates of the host's kernel sets and of both variants,
    and musl's pow where Debian's musl-dev is installed (on x86-64)."""
    candidates = {
        "baseline": [],
        "test_fused": ["-DVENTAROXI_POW_FUSED=1"],
        "test_unfused": ["-DVENTAROXI_POW_FUSED=0"],
    }
    if platform.machine() == "x86_64":
        candidates["avx2"] = ["-mavx2", "-mfma"]
    objects = []
    for name, flags in candidates.items():
        obj = directory / f"power_candidate_{name}.o"
        build = subprocess.run(
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
            capture_output=True,
            text=True,
        )
        assert build.returncode == 0, build.stderr
        objects.append(str(obj))
    musl = []
    if MUSL_LIBC.exists():
        musl = ["-DVENTAROXI_MUSL_POW", str(musl_pow_object(directory))]
    elif os.environ.get("VENTAROXI_REQUIRE_OPTIONAL") == "1":
        pytest.fail(f"{MUSL_LIBC} is missing: install Debian's musl-dev")
    binary = directory / "power_choice_test"
    sources = [
        str(UNIT_SOURCES / "power_choice_test.cpp"),
        *(str(RELATIONS / f) for f in ("power_choice.cpp", "power_tables.cpp")),
    ]
    build = subprocess.run(
        ["c++", *FLAGS, *sources, *objects, *musl, "-o", str(binary)],
        capture_output=True,
        text=True,
    )
    assert build.returncode == 0, build.stderr
    return binary, bool(musl)


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
