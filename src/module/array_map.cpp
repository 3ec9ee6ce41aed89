#include "array_map.hpp"

#include "strided_walk.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <numeric>

namespace ventaroxi {
namespace {

constexpr std::ptrdiff_t element_size = sizeof(double);

std::size_t element_count(const StridedView& view)
{
    std::size_t count = 1;
    for (int axis = 0; axis < view.ndim; ++axis) {
        count *= static_cast<std::size_t>(view.shape[axis]);
    }
    return count;
}

bool has_zero_length(const StridedView& view)
{
    return std::any_of(view.shape, view.shape + view.ndim, [](std::ptrdiff_t n) { return n == 0; });
}

// The byte strides of a C-ordered array of this shape; all 0 when the array is empty.
void c_order_strides(const StridedView& view, std::ptrdiff_t* strides)
{
    const bool empty = has_zero_length(view);
    std::ptrdiff_t stride = element_size;
    for (int axis = view.ndim - 1; axis >= 0; --axis) {
        strides[axis] = empty ? 0 : stride;
        stride *= view.shape[axis];
    }
}

// Whether the elements fill one block of memory without gaps, in some order of axes.
bool is_gap_free_block(const StridedView& view)
{
    // The common case first, without the C-order strides of 32 axes formed and compared.
    if (view.ndim == 1) {
        return view.shape[0] < 2 || std::abs(view.strides[0]) == element_size;
    }
    std::array<std::ptrdiff_t, max_dimensions> c_strides{};
    c_order_strides(view, c_strides.data());
    if (std::equal(view.strides, view.strides + view.ndim, c_strides.begin())) {
        return true;
    }
    std::array<int, max_dimensions> axes{};
    std::iota(axes.begin(), axes.begin() + view.ndim, 0);
    std::stable_sort(axes.begin(), axes.begin() + view.ndim, [&](int a, int b) {
        return std::abs(view.strides[a]) < std::abs(view.strides[b]);
    });
    std::ptrdiff_t elements_below = 1;
    for (int rank = 0; rank < view.ndim; ++rank) {
        const int axis = axes[rank];
        if (view.shape[axis] != 1 &&
            std::abs(view.strides[axis]) != element_size * elements_below) {
            return false;
        }
        elements_below *= view.shape[axis];
    }
    return true;
}

// Bytes from the lowest-addressed element of a block up to element (0, ..., 0).
std::ptrdiff_t offset_of_first_element(const StridedView& view)
{
    std::ptrdiff_t offset = 0;
    for (int axis = 0; axis < view.ndim; ++axis) {
        if (view.strides[axis] < 0 && view.shape[axis] >= 2) {
            offset += -view.strides[axis] * (view.shape[axis] - 1);
        }
    }
    return offset;
}

void map_block(const char* lowest, std::size_t count, BoundRelation relation, double* out)
{
    if (reinterpret_cast<std::uintptr_t>(lowest) % alignof(double) == 0) {
        relation.apply(relation.constants, reinterpret_cast<const double*>(lowest), out, count);
        return;
    }
    // Misaligned data is read as a flat run through the staging buffer.
    const auto length = static_cast<std::ptrdiff_t>(count);
    const std::ptrdiff_t stride = element_size;
    map_strided(StridedView{1, &length, &stride, lowest}, relation, out);
}

}  // namespace

bool map_elements(const StridedView& view, BoundRelation relation, MappedResult& result)
{
    const std::size_t count = has_zero_length(view) ? 0 : element_count(view);
    if (!result.buffer.allocate(count)) {
        return false;
    }
    if (view.ndim == 0 || is_gap_free_block(view)) {
        const std::ptrdiff_t offset = count == 0 ? 0 : offset_of_first_element(view);
        if (count != 0) {
            map_block(view.data - offset, count, relation, result.buffer.data());
        }
        result.data_offset = offset;
        std::copy(view.strides, view.strides + view.ndim, result.strides.begin());
        return true;
    }
    if (count != 0) {
        map_strided(view, relation, result.buffer.data());
    }
    result.data_offset = 0;
    c_order_strides(view, result.strides.data());
    return true;
}

}  // namespace ventaroxi
