// The one engine that maps a relation over every element of an array of any layout.
// It knows strides and memory order and nothing of formulas: each relation reaches it as a
// BoundRelation that turns a contiguous run of inputs into a contiguous run of results.
#pragma once

#include "../relations/bound_relation.hpp"
#include "result_buffer.hpp"

#include <array>
#include <cstddef>

namespace ventaroxi {

inline constexpr int max_dimensions = 32;

// What the engine reads of an input array. Byte strides are signed and need not be
// multiples of 8; `data` is the address of element (0, ..., 0) and need not be aligned.
struct StridedView {
    int ndim;
    const std::ptrdiff_t* shape;
    const std::ptrdiff_t* strides;
    const char* data;
};

// What the engine is given of an input array: its description, copied out of the array
// object at the point of use (see describe_array), so that nothing the engine or the
// wrapping of the result reads belongs to the array object itself.
struct ArrayDescription {
    int ndim = 0;
    std::array<std::ptrdiff_t, max_dimensions> shape{};
    std::array<std::ptrdiff_t, max_dimensions> strides{};
    const char* data = nullptr;

    StridedView view() const { return {ndim, shape.data(), strides.data(), data}; }
};

// The results, and where element (0, ..., 0) and each axis lie in the buffer.
struct MappedResult {
    ResultBuffer buffer;
    std::ptrdiff_t data_offset = 0;
    std::array<std::ptrdiff_t, max_dimensions> strides{};
};

// Applies `relation` to every element of `view` (at most max_dimensions axes). An input that
// is one gap-free block keeps its memory order and strides in the result; any other input
// gives a C-ordered result. Returns false, with nothing allocated, when the result buffer
// cannot be allocated.
[[nodiscard]] bool map_elements(const StridedView& view, BoundRelation relation,
                                MappedResult& result);

}  // namespace ventaroxi
