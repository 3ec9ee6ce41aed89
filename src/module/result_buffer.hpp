// Storage for one call's results.
#pragma once

#include <cstddef>
#include <utility>

namespace ventaroxi {

// Frees storage that came from ResultBuffer; the signature the owner object records.
void release_result_storage(double* data) noexcept;

// Owns the result storage of one call until it is handed to the array's owner object.
// Long results are aligned for whole-vector stores; all are registered with Python's allocation
// tracing, so tracemalloc sees result arrays as it sees NumPy's own.
class ResultBuffer {
public:
    ResultBuffer() noexcept = default;
    // Nothing is allocated for zero elements. Returns false when the memory is not there.
    [[nodiscard]] bool allocate(std::size_t count) noexcept;

    ResultBuffer(ResultBuffer&& other) noexcept : data_(std::exchange(other.data_, nullptr)) {}
    ResultBuffer& operator=(ResultBuffer&&) = delete;
    ResultBuffer(const ResultBuffer&) = delete;
    ResultBuffer& operator=(const ResultBuffer&) = delete;
    ~ResultBuffer() { release_result_storage(data_); }

    double* data() const noexcept { return data_; }
    // The caller takes over the storage and must free it with release_result_storage.
    double* release() noexcept { return std::exchange(data_, nullptr); }

private:
    double* data_ = nullptr;
};

}  // namespace ventaroxi
