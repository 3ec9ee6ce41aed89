"""The power function's bits follow the C library's pow, whichever variant of it the process
gets, and any other pow put in its place. glibc picks its pow by processor features, which GLIBC_TUNABLES can mask from it: with
FMA or AVX2 masked it takes its non-fused variant, even where the module could run its fused
AVX2 kernels. In each setting a child process compares every function, bit for bit, with
each relation evaluated one element at a time through its scalar steps by a small C++
library loaded into that same process, so that its pow is the process's own."""

import json
import math
import os
import platform
import subprocess

import pytest

import kernel_sets
from functions import WITH_SUP
from support import record_figure, run_python, source_tree, workload

ROOT = source_tree()
# The flags meson builds every source with, and an optimisation level.
FLAGS = [*(ROOT / "src" / "relations" / "compile_flags.txt").read_text().split(), "-O2"]
# GLIBC_TUNABLES, or "perturbed": tests/cpp/perturbed_pow.cpp preloaded, a pow that no kernel set
# reproduces, so that the module evaluates its powers one element at a time.
SETTINGS = {
    "unmasked": None,
    "no FMA": "glibc.cpu.hwcaps=-FMA",
    "no AVX2": "glibc.cpu.hwcaps=-AVX2",
    "no AVX2, no FMA": "glibc.cpu.hwcaps=-AVX2,-FMA",
    "perturbed": "perturbed",
}
# And every mask under which a kernel set's units compare its power (src/kernel_sets.txt).
SETTINGS |= {
    f"the {s.name} units' mask": s.tunables
    for s in kernel_sets.kernel_sets()
    if s.tunables and s.tunables not in SETTINGS.values()
}

CHILD = r"""
import ctypes, json, math, sys
import numpy as np
import ventaroxi as vx

reference = ctypes.CDLL(sys.argv[1]).ventaroxi_reference
reference.argtypes = [ctypes.c_char_p, ctypes.c_double, ctypes.c_int, ctypes.c_void_p,
                      ctypes.c_void_p, ctypes.c_size_t]
count, every_combination, slow_pick = int(sys.argv[2]), sys.argv[3] == "1", int(sys.argv[4])
rng = np.random.default_rng(20261209)
quarter = count // 4
# Mach numbers on both sides of 1, and ratios from just above 1 to 1000 and their reciprocals.
x = np.concatenate([rng.uniform(0, 1, quarter), rng.uniform(1, 6, quarter),
                    1 + 10 ** rng.uniform(-6, 0, quarter), 10 ** rng.uniform(-3, 3, count - 3 * quarter)])
SUP = set(sys.argv[5].split(","))  # the functions that take sup
GA = (1.4, 1.3, 5 / 3)
differing, compared = {}, 0
for function in vx.__all__:
    differing[function] = 0
    combinations = [(ga, sup) for ga in GA for sup in ((False, True) if function in SUP else (False,))]
    if function == "Ma_from_A_Acrit" and not every_combination:
        # Its scalar search takes some 50 us an element: one combination per setting.
        combinations = [combinations[slow_pick % len(combinations)]]
    for ga, sup in combinations:
        got = getattr(vx, function)(x, ga, *((sup,) if function in SUP else ()))
        expected = np.empty_like(x)
        assert reference(function.encode(), ga, sup, x.ctypes.data, expected.ctypes.data, x.size) == 0
        differing[function] += int(np.count_nonzero(got.view(np.uint64) != expected.view(np.uint64)))
        compared += x.size
print(json.dumps({"differing": differing, "compared": compared, "sample": math.pow(1.1, 3.3).hex()}))
"""


def build_library(source, library):
    include = f"-I{ROOT / 'src' / 'relations'}"
    build = subprocess.run(
        ["c++", *FLAGS, "-fPIC", "-shared", include, *source, "-o", str(library), "-ldl"],
        capture_output=True,
        text=True,
    )
    assert build.returncode == 0, build.stderr
    return library


@pytest.fixture(scope="module")
def libraries(tmp_path_factory):
    directory = tmp_path_factory.mktemp("pow")
    reference = [ROOT / "tests/cpp/relation_reference.cpp", ROOT / "src/relations/power_tables.cpp"]
    return (
        build_library(reference, directory / "relation_reference.so"),
        build_library([ROOT / "tests/cpp/perturbed_pow.cpp"], directory / "perturbed_pow.so"),
    )


@pytest.mark.skipif(platform.libc_ver()[0] != "glibc", reason="GLIBC_TUNABLES is glibc's")
@pytest.mark.parametrize("setting", SETTINGS)
def test_every_function_gives_the_bits_of_the_process_pow(setting, libraries, monkeypatch):
    reference_library, perturbed_pow = libraries
    monkeypatch.delenv("GLIBC_TUNABLES", raising=False)
    if setting == "perturbed":
        # After whatever is preloaded already (AddressSanitizer's runtime must stay first).
        preloaded = os.environ.get("LD_PRELOAD", "")
        monkeypatch.setenv("LD_PRELOAD", f"{preloaded} {perturbed_pow}".strip())
    elif SETTINGS[setting] is not None:
        monkeypatch.setenv("GLIBC_TUNABLES", SETTINGS[setting])
    count = workload("VENTAROXI_POW_ELEMENTS", 100_000)
    every_combination = workload("VENTAROXI_POW_EVERY_COMBINATION", "0")
    pick = str(list(SETTINGS).index(setting))
    child = run_python(
        CHILD,
        *(str(reference_library), str(count), every_combination, pick, ",".join(WITH_SUP)),
        timeout=1800,
    )
    assert child.returncode == 0, child.stderr
    outcome = json.loads(child.stdout)
    differing = {f: n for f, n in outcome["differing"].items() if n}
    record_figure(
        f"pow_differing_{setting.replace(' ', '_').replace(',', '')}", sum(differing.values())
    )
    assert not differing, f"{setting}: {differing} of {outcome['compared']} elements differ"
    # The preloaded pow was the child's: its math.pow, which calls pow, was one ulp up.
    assert (outcome["sample"] != math.pow(1.1, 3.3).hex()) == (setting == "perturbed")
