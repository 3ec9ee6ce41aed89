#include "result_buffer.hpp"

#include "python.hpp"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace ventaroxi {
namespace {

// Whole cache lines, so vector stores never straddle the buffer's start.
constexpr std::size_t alignment = 64;
// Shorter results take malloc's own alignment (16 bytes): glibc's aligned allocation carves
// each block out of a larger one and frees the rest, 50-90 ns a call (AMD Zen 4, glibc
// 2.36), a fifth of a one-element call, while the stores of a run this short that straddle
// a cache line cost no time that could be measured.
constexpr std::size_t aligned_from = 4096;
// Large results are asked to be backed by huge pages: filling a fresh result is otherwise
// dominated by one page fault per 4 KiB, which costs more than the arithmetic of the
// cheaper relations.
constexpr std::size_t huge_page_threshold = std::size_t{4} << 20;
constexpr std::uintptr_t page = 4096;

void advise_huge_pages(void* storage, std::size_t bytes)
{
    const auto start = reinterpret_cast<std::uintptr_t>(storage);
    const std::uintptr_t first_page = (start + page - 1) & ~(page - 1);
    // Advice only: where the operating system refuses it, nothing changes but the speed.
    madvise(reinterpret_cast<void*>(first_page), bytes - (first_page - start), MADV_HUGEPAGE);
}
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
    void* storage =
        bytes < aligned_from ? std::malloc(bytes) : std::aligned_alloc(alignment, bytes);
    if (storage == nullptr) {
        return false;
    }
    if (bytes >= huge_page_threshold) {
        advise_huge_pages(storage, bytes);
    }
    PyTraceMalloc_Track(trace_domain, reinterpret_cast<std::uintptr_t>(storage), bytes);
    data_ = static_cast<double*>(storage);
    return true;
}

void release_result_storage(double* data) noexcept
{
    if (data == nullptr) {
        return;
    }
    PyTraceMalloc_Untrack(trace_domain, reinterpret_cast<std::uintptr_t>(data));
    std::free(data);
}

}  // namespace ventaroxi
