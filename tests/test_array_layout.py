"""Mapping over every layout of input array, and the shape, strides and owner of results."""

import hashlib

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from numpy.lib.stride_tricks import as_strided

import ventaroxi as vx

from support import c_order_strides, workload

GA = 1.4


def relation(values):
    """V/sqrt(cp To) is odd and one-to-one, so a misplaced element cannot go unnoticed."""
    return vx.V_cpTo_from_Ma(values, GA)


def expected_values(view):
    flat = np.ascontiguousarray(view).reshape(-1)
    return relation(flat).reshape(view.shape)


def checksum(array):
    return hashlib.sha256(np.ascontiguousarray(array).view(np.uint8).tobytes()).hexdigest()


def check(view, strides):
    before = checksum(view)
    result = relation(view)
    assert type(result) is np.ndarray and result.dtype == np.float64
    assert result.shape == view.shape and result.strides == strides
    assert result.flags.writeable and not result.flags.owndata
    assert type(result.base).__name__ == "PySliceContainer"
    np.testing.assert_array_equal(result, expected_values(view))
    assert checksum(view) == before
    return result


BASE = np.arange(1.0, 121.0) / 7


@pytest.mark.parametrize(
    "make_view",
    [
        lambda: BASE[:24].reshape(2, 3, 4),
        lambda: BASE[:24].reshape(2, 3, 4).T,
        lambda: BASE[:24].reshape(2, 3, 4).transpose(1, 0, 2),
        lambda: BASE[:24].reshape(2, 3, 4).transpose(2, 0, 1)[::-1, :, ::-1],
        lambda: BASE[:12].reshape(3, 4)[:, ::-1],
        lambda: BASE[:12].reshape(3, 4)[::-1, ::-1],
        lambda: BASE[::-1],
        lambda: BASE[3:4],
        lambda: BASE[2::200],
        lambda: BASE[:0],
        lambda: BASE[:12].reshape(3, 1, 4),
        lambda: as_strided(BASE[:12], shape=(3, 1, 4), strides=(32, 1000, 8)),
        lambda: as_strided(BASE[:12], shape=(1, 12, 1), strides=(-7, 8, 5)),
        lambda: np.asfortranarray(BASE[:30].reshape(5, 6))[::-1],
        lambda: np.empty((0, 3)),
        lambda: np.empty((4, 0, 2)).transpose(2, 0, 1),
    ],
)
def test_one_block_keeps_its_strides(make_view):
    view = make_view()
    check(view, view.strides)


@pytest.mark.parametrize(
    "make_view",
    [
        lambda: BASE[::2],
        lambda: BASE[:24].reshape(4, 6)[:, 1:5],
        lambda: BASE[:24].reshape(4, 6)[::2, ::-3],
        lambda: np.broadcast_to(BASE[:3], (4, 3)),
        lambda: np.broadcast_to(BASE[:1], (5,)),
        lambda: as_strided(BASE[:12], shape=(3, 4), strides=(16, 8)),  # overlapping rows
        lambda: np.broadcast_to(np.empty((0, 1)), (0, 5)),
        lambda: BASE[:60].reshape(3, 4, 5).transpose(2, 1, 0)[1:, :, ::2],
    ],
)
def test_other_layouts_give_c_ordered_results(make_view):
    view = make_view()
    result = check(view, c_order_strides(view.shape))
    assert result.flags.c_contiguous


def test_zero_dimensional_input_gives_zero_dimensional_result():
    result = check(np.array(0.5), ())
    assert result[()] == relation(np.array([0.5]))[0]


@pytest.mark.parametrize("offset", [1, 3, 4])
def test_misaligned_data_is_read_at_its_addresses(offset):
    raw = bytearray(8 * 40 + offset)
    contiguous = np.frombuffer(raw, dtype=np.float64, count=40, offset=offset)
    contiguous[...] = BASE[:40]  # frombuffer on a bytearray is writeable
    check(contiguous, (8,))
    check(contiguous.reshape(5, 8)[:, ::3], c_order_strides((5, 3)))


def test_byte_strides_that_are_not_multiples_of_eight():
    packed = np.zeros((4, 5), dtype=[("flag", "u1"), ("value", "f8")])
    packed["value"] = BASE[:20].reshape(4, 5)
    view = packed["value"]
    assert view.strides == (45, 9)
    check(view, c_order_strides(view.shape))
    check(view[:, ::-2], c_order_strides((4, 3)))


def test_long_strided_runs_cross_the_staging_buffer():
    big = np.arange(3000.0).reshape(1000, 3) / 1000
    check(big[:, ::2], c_order_strides((1000, 2)))
    check(big[:, ::2].T[::-1], c_order_strides((2, 1000)))


def test_subclass_in_plain_ndarray_out():
    class Tagged(np.ndarray):
        pass

    view = BASE[:6].reshape(2, 3).view(Tagged)
    assert type(relation(view)) is np.ndarray


def test_result_is_writeable_and_independent_of_the_input():
    source = BASE[:10].copy()
    result = relation(source)
    result[:] = -1.0
    np.testing.assert_array_equal(source, BASE[:10])
    assert relation(source)[0] == expected_values(source)[0]


def test_result_keeps_its_storage_alive_through_views():
    result = relation(BASE[:100])
    tail = result[50:]
    expected = expected_values(BASE[50:100])
    del result
    np.testing.assert_array_equal(tail, expected)


def test_thirty_two_dimensions_work():
    view = np.full((1,) * 31 + (2,), 0.5)
    check(view, view.strides)


@pytest.mark.skipif(
    np.lib.NumpyVersion(np.__version__).major < 2, reason="NumPy 1 stops at 32 axes"
)
def test_thirty_three_dimensions_are_a_fault():
    with pytest.raises(BaseException) as raised:
        relation(np.zeros((1,) * 33))
    assert type(raised.value).__name__ == "PanicException"
    assert type(raised.value).__bases__ == (BaseException,)
    assert "32" in str(raised.value)


def test_result_that_cannot_be_allocated_raises_memory_error():
    huge = np.broadcast_to(np.array(0.5), (2**40,))
    with pytest.raises(MemoryError):
        relation(huge)
    assert relation(BASE[:3]).shape == (3,)  # the module is still usable afterwards


def test_result_memory_is_traced():
    import tracemalloc

    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        result = relation(np.zeros(100_000))
        held = tracemalloc.get_traced_memory()[0] - before
        del result
        released = tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()
    assert 800_000 <= held < 900_000
    assert released < 10_000


def gap_free(view):
    """Whether the elements fill one block, in some order of axes."""
    shape, strides = view.shape, view.strides
    if strides == c_order_strides(shape):
        return True
    if view.ndim == 1:
        return shape[0] < 2 or strides[0] == -8
    below = 1
    for axis in sorted(range(view.ndim), key=lambda a: abs(strides[a])):
        if shape[axis] != 1 and abs(strides[axis]) != 8 * below:
            return False
        below *= shape[axis]
    return True


@st.composite
def views(draw):
    ndim = draw(st.integers(1, 4))
    shape = draw(st.lists(st.integers(1, 5), min_size=ndim, max_size=ndim))
    array = (np.arange(float(np.prod(shape))) + 1).reshape(shape) / 3
    if draw(st.booleans()):
        array = array.transpose(draw(st.permutations(range(ndim))))
    slices = tuple(
        slice(draw(st.integers(0, 1)), None, draw(st.sampled_from([1, 1, -1, 2, -2, 3])))
        for _ in range(ndim)
    )
    return array[slices]


@settings(max_examples=workload("VENTAROXI_LAYOUT_EXAMPLES", 300), deadline=None)
@given(views())
def test_any_view_maps_to_its_values_with_the_promised_strides(view):
    check(view, view.strides if gap_free(view) else c_order_strides(view.shape))
