"""Helpers shared by the test modules."""

import importlib
import math
import os
import struct
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import ventaroxi


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
    other runs."""
    with open("/proc/self/maps", encoding="ascii", errors="replace") as maps:
        return "libasan" in maps.read()


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


def resident_bytes():
    """The process's resident memory, as the kernel counts it."""
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
