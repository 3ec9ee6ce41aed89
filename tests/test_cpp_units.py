"""Builds and runs the C++ unit tests of the relations, which check on plain doubles what
Python cannot reach (the Newton stop rules, the area-ratio search against its full run).
The same C++ compiler that builds the module is needed here."""

import pathlib
import subprocess

import pytest

RELATIONS = pathlib.Path(__file__).resolve().parent.parent / "src" / "relations"
FLAGS = ["-std=c++20", "-O2", "-ffp-contract=off", "-fno-math-errno", "-Wall", "-Wextra", "-Werror"]


@pytest.mark.parametrize("unit", ["newton_test", "area_ratio_search_test"])
def test_cpp_unit(unit, tmp_path):
    binary = tmp_path / unit
    build = subprocess.run(
        ["c++", *FLAGS, str(RELATIONS / f"{unit}.cpp"), "-o", str(binary)],
        capture_output=True,
        text=True,
    )
    assert build.returncode == 0, build.stderr
    run = subprocess.run([str(binary)], capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stdout + run.stderr
