// PySliceContainer: the Python object that owns a result array's storage and is its base.
#pragma once

#include "py_ref.hpp"
#include "python.hpp"

#include <cstddef>

namespace ventaroxi {

struct OwnedStorage {
    double* data;
    void (*release)(double* data) noexcept;
};

// Returns a new container that releases `storage` when it is destroyed. When the container
// cannot be made, the storage is released at once and an empty reference is returned with
// the error pending.
PyRef new_slice_container(OwnedStorage storage);

}  // namespace ventaroxi
