"""The strided walk's reorderings: dropped length-1 axes, merged axes, outer axes read
forward, direct runs, and the tiled walk of transposed views. Whatever order the elements
are visited in, each result must be bit for bit the function of a contiguous copy, laid out
in C order."""

import numpy as np
import pytest
from numpy.lib.stride_tricks import as_strided

import ventaroxi as vx

from support import c_order_strides

GA = 1.4
# A closed form without pow, one with two pows, and a Newton inverse: different lane paths.
FUNCTIONS = [
    (vx.Mash_from_Ma, (1.0, 5.0)),
    (vx.Posh_Po_from_Ma, (1.0, 5.0)),
    (vx.Ma_from_mcpTo_AP, (0.0, 3.0)),
]


def values(count, low, high, seed=7):
    """Distinct values in random order: a misplaced element shows."""
    return np.random.default_rng(seed).uniform(low, high, count)


def strided(base, shape, strides, offset=0):
    """A view of `base` (1-D float64) with these byte strides, starting `offset` elements in."""
    return as_strided(base[offset:], shape=shape, strides=strides)


def transposed(rows, columns, step=1, order="F"):
    """A (rows, columns) view whose first axis reads in shorter steps than its last."""
    return lambda v: np.asarray(
        v[: rows * step * columns].reshape(rows * step, columns), order=order
    )[::step]


LAYOUTS = {
    "(N, 1) column": lambda v: v[:3000].reshape(1000, 3)[:, :1],
    "(1, N, 1) with odd strides": lambda v: strided(v, (1, 700, 1), (-5, 16, 3)),
    "sliced C block": lambda v: v[:90_000].reshape(300, 300)[7:-5, 3:-70],
    "sliced C block, 3-D": lambda v: v[:24_000].reshape(20, 30, 40)[2:, 1:-1, :39],
    "mergeable outer axes": lambda v: v[:24_000].reshape(20, 30, 40)[:, :, ::2],
    "reversed outer axes": lambda v: v[:24_000].reshape(20, 30, 40)[::-1, ::-2, 1:],
    "reversed everything": lambda v: v[:6000].reshape(60, 100)[::-1, ::-3],
    "reversed 1-D strided": lambda v: v[:5001][::-2],
    "Fortran strided": transposed(50, 60, step=2),
    "Fortran, long rows": transposed(37, 1100, step=2),
    "Fortran, long rows, contiguous columns": lambda v: np.asfortranarray(
        v[:40_000].reshape(10, 4000)
    )[:, ::2],
    "Fortran, long rows, reversed": lambda v: transposed(33, 1500, step=2)(v)[::-1, ::-1],
    "transposed C, long rows": lambda v: v[:21_000].reshape(2100, 10)[::2].T,
    "Fortran 3-D, long rows": lambda v: np.asfortranarray(v[:30_600].reshape(3, 5, 2040))[
        ::-1, :, ::2
    ],
    "broadcast rows": lambda v: np.broadcast_to(v[:1500], (4, 1500)),
    "broadcast columns, long": lambda v: np.broadcast_to(v[:5, None], (5, 1100)),
    "byte strides not of 8, long rows": lambda v: strided(v, (9, 1500), (8, 77)),
    "zero-size": lambda v: v[:0].reshape(0, 1)[:, ::2],
    "zero-size, transposed": lambda v: np.empty((3, 0, 2000), order="F")[::2],
}


def misaligned(count, low, high):
    """Float64 values at an address that is not a multiple of 8."""
    raw = np.zeros(8 * count + 8, dtype=np.uint8)
    out = raw[3 : 3 + 8 * count].view(np.float64)
    out[...] = values(count, low, high)
    return out


@pytest.mark.parametrize("function, mach", FUNCTIONS, ids=lambda f: getattr(f, "__name__", ""))
@pytest.mark.parametrize("layout", LAYOUTS, ids=str)
def test_any_walk_gives_the_contiguous_bits_in_c_order(function, mach, layout):
    view = LAYOUTS[layout](values(100_000, *mach))
    result = function(view, GA)
    expected = function(np.ascontiguousarray(view), GA)
    assert result.shape == view.shape
    if not (view.flags.c_contiguous or view.flags.f_contiguous):
        assert result.strides == c_order_strides(view.shape)
    assert result.tobytes() == expected.tobytes()


@pytest.mark.parametrize(
    "make_view",
    [
        lambda v: strided(v, (9, 1500), (8, 77)),  # packed record fields: strides not of 8
        lambda v: strided(v, (1500, 9), (-77, 8), offset=14_430),
        lambda v: v.reshape(100, 200)[:, ::3],
        lambda v: v.reshape(4, 5000)[:, ::2].T[::-1],
        lambda v: v.reshape(5, 4000)[:, ::2],  # long rows of a misaligned array
    ],
)
def test_misaligned_input_in_every_walk(make_view):
    base = misaligned(20_000, 1.0, 5.0)
    view = make_view(base)
    result = vx.Posh_Po_from_Ma(view, GA)
    assert result.strides == c_order_strides(view.shape)
    assert result.tobytes() == vx.Posh_Po_from_Ma(np.ascontiguousarray(view), GA).tobytes()


def test_thirty_two_axes_with_length_one_and_reversed_ones():
    shape = (2,) * 10 + (4,) + (1,) * 21
    array = values(2**12, 1.0, 5.0).reshape(shape)
    index = [slice(None)] * 32
    index[0], index[10] = slice(None, None, -1), slice(None, None, 2)
    view = np.moveaxis(array[tuple(index)], 10, 25)  # a strided axis among length-1 ones
    result = vx.Mash_from_Ma(view, GA)
    assert result.ndim == 32
    assert result.strides == c_order_strides(view.shape)
    assert result.tobytes() == vx.Mash_from_Ma(np.ascontiguousarray(view), GA).tobytes()
