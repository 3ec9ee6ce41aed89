"""Helpers shared by the test modules."""

import math
import struct

import numpy as np

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
