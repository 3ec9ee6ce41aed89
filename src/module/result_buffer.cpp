#include "result_buffer.hpp"

#include "python.hpp"

#include <cstdint>
#include <cstdlib>

namespace ventaroxi {
namespace {

// Whole cache lines, so vector stores never straddle the buffer's start.
constexpr std::size_t alignment = 64;
// Python's allocation tracing keeps our buffers apart from its own heap (domain 0).
constexpr unsigned int trace_domain = 0x76656e74;

}  // namespace

bool ResultBuffer::allocate(std::size_t count) noexcept
{
    if (count == 0) {
        return true;
    }
    if (count > (SIZE_MAX - alignment) / sizeof(double)) {
        return false;
    }
    const std::size_t bytes = (count * sizeof(double) + alignment - 1) / alignment * alignment;
    void* storage = std::aligned_alloc(alignment, bytes);
    if (storage == nullptr) {
        return false;
    }
    PyTraceMalloc_Track(trace_domain, reinterpret_cast<std::uintptr_t>(storage), bytes);
    data_ = static_cast<double*>(storage);
    count_ = count;
    return true;
}

void release_result_storage(double* data, std::size_t, std::size_t) noexcept
{
    if (data == nullptr) {
        return;
    }
    PyTraceMalloc_Untrack(trace_domain, reinterpret_cast<std::uintptr_t>(data));
    std::free(data);
}

}  // namespace ventaroxi
