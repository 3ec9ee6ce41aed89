// Each relation one element at a time through its scalar steps, with the pow of the process
// that loads this library: the reference for the module's kernels under every choice of
// the C library's pow. Built and loaded (ctypes) by tests/test_platform_pow.py.
#include "relation_list.hpp"

#include <cstddef>
#include <string_view>

using namespace ventaroxi::relations;

namespace {

template <class Relation>
void one_at_a_time(double ga, bool sup, const double* in, double* out, std::size_t count)
{
    const Relation relation = make_relation<Relation>(ga, sup);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = relation(in[i]);
        asm volatile("" ::: "memory");  // one element after another, never vectorised
    }
}

using Reference = void (*)(double, bool, const double*, double*, std::size_t);

constexpr auto references =
    Relations::rows<Reference>([]<class Relation>() { return &one_at_a_time<Relation>; });

}  // namespace

// Returns 0, or -1 for a name that is no relation's.
extern "C" int ventaroxi_reference(const char* name, double ga, int sup, const double* in,
                                   double* out, std::size_t count)
{
    for (std::size_t row = 0; row < Relations::size; ++row) {
        if (relation_names[row] == name) {
            references[row](ga, sup != 0, in, out, count);
            return 0;
        }
    }
    return -1;
}
