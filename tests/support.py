"""Helpers shared by the test modules."""

import importlib
import importlib.metadata
import math
import os
import pathlib
import struct
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import ventaroxi

# The checkout these tests came from, if they run from one: they also run from a copy of
# tests/ beside an installed ventaroxi, where README.md, meson.build, src/, examples/,
# bench/ and docs/ are absent.
SOURCE_TREE = pathlib.Path(__file__).resolve().parent.parent
IN_SOURCE_TREE = (SOURCE_TREE / "meson.build").is_file() and (
    "'ventaroxi'" in (SOURCE_TREE / "meson.build").read_text(encoding="utf-8")
)
OUTSIDE_SOURCE_TREE = (
    f"needs the source checkout (README.md, meson.build, src/, examples/, bench/, docs/): "
    f"{SOURCE_TREE} is not one, so these tests run against an installed ventaroxi"
)
needs_source_tree = pytest.mark.skipif(not IN_SOURCE_TREE, reason=OUTSIDE_SOURCE_TREE)


def source_tree():
    """The checkout's root. Outside one it skips the calling test, or the whole module when
    a module calls it while it is imported."""
    if not IN_SOURCE_TREE:
        pytest.skip(OUTSIDE_SOURCE_TREE, allow_module_level=True)
    return SOURCE_TREE


def readme_text():
    """The README: the checkout's, or else the installed distribution's long description,
    which is the same file, so that its recipes are also tried against an installed wheel."""
    if IN_SOURCE_TREE:
        return (SOURCE_TREE / "README.md").read_text(encoding="utf-8")
    try:
        metadata = importlib.metadata.metadata("ventaroxi")
    except importlib.metadata.PackageNotFoundError:
        metadata = None
    # The body, which the importlib_metadata backport (that Dask brings) moves to this field.
    description = metadata and (metadata.get("Description") or metadata.get_payload())
    if not description:
        pytest.skip(
            OUTSIDE_SOURCE_TREE + ", whose metadata carries no README", allow_module_level=True
        )
    return description


def bits(value):
    """The IEEE 754 bit pattern of a double, so that -0.0 and 0.0 (and NaNs) compare apart."""
    return struct.unpack("<q", struct.pack("<d", float(value)))[0]


def same_double(actual, expected):
    """Equal to the last bit, with any NaN matching any NaN."""
    if math.isnan(expected):
        return math.isnan(actual)
    return bits(actual) == bits(expected)


def ulps_apart(a, b):
    """Distance in units in the last place between two finite doubles of the same sign."""
    return abs(bits(a) - bits(b))


def evaluate(function, values, *rest):
    """Calls `function` on a one-dimensional float64 array and returns Python floats."""
    return getattr(ventaroxi, function)(np.array(values, dtype=np.float64), *rest).tolist()


def c_order_strides(shape):
    """The byte strides of a C-ordered float64 array of this shape; all 0 when it is empty."""
    if 0 in shape:
        return (0,) * len(shape)
    strides, stride = [], 8
    for length in reversed(shape):
        strides.append(stride)
        stride *= length
    return tuple(reversed(strides))


def child_environment():
    """This process's environment, with a path on which a child finds the same ventaroxi."""
    return dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))


def require(module):
    """Imports an optional dependency, skipping the test without it, unless the environment
    sets VENTAROXI_REQUIRE_OPTIONAL=1 (CI does), where its absence is a failure."""
    if os.environ.get("VENTAROXI_REQUIRE_OPTIONAL") == "1":
        return importlib.import_module(module)
    return pytest.importorskip(module)


def workload(variable, default):
    """The size of a repeated or randomised check: `default` in an ordinary run, the value of
    the environment variable `variable` in the reliability run, which asks for full counts."""
    return type(default)(os.environ.get(variable, default))


def record_figure(name, value):
    """Appends the line `name value` to the file that VENTAROXI_FIGURES names, if any, where
    the reliability run collects the figures it prints and checks against their bounds."""
    path = os.environ.get("VENTAROXI_FIGURES")
    if path:
        with open(path, "a", encoding="utf-8") as figures:
            figures.write(f"{name} {value}\n")


def under_address_sanitizer():
    """AddressSanitizer keeps freed blocks in quarantine, so resident memory grows with every
    allocation there: it reports leaks itself, and resident-memory bounds are left to the
    other runs. Without /proc (a plain chroot) the preloaded runtime is looked for instead,
    as the sanitizer runs load it."""
    try:
        with open("/proc/self/maps", encoding="ascii", errors="replace") as maps:
            return "libasan" in maps.read()
    except FileNotFoundError:
        return "libasan" in os.environ.get("LD_PRELOAD", "")


def run_python(code, *arguments, timeout=120):
    """Runs the dedented `code` with `arguments` in a fresh interpreter that finds the same
    ventaroxi as this one, and returns the finished process with its text output."""
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code), *arguments],
        capture_output=True,
        text=True,
        env=child_environment(),
        timeout=timeout,
    )


def has_proc():
    """Whether /proc is mounted: a plain chroot has none."""
    return os.path.exists("/proc/self/statm")


def resident_bytes():
    """The process's resident memory, as the kernel counts it; the test is skipped where
    /proc is absent, since nothing else tells the current (not the peak) figure."""
    if not has_proc():
        pytest.skip("no /proc here: the process's resident memory cannot be read")
    with open("/proc/self/statm", encoding="ascii") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGESIZE")


class Floaty:
    """Converts to float through `__float__` only."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class Indexy:
    """Converts to float through `__index__` only."""

    def __index__(self):
        return 2
