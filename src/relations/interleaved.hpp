// Several vectors of lanes evaluated side by side, operation by operation: a relation
// written for any element type, evaluated on Interleaved<Lanes, k>, issues each of its
// steps for k independent vectors before the next step. A long dependent chain (one power
// is a chain of some ninety cycles on the processors measured) then has k vectors in flight
// instead of one, in an order the processor can issue as it reads it.
// Every vector is evaluated by exactly the operations it would be evaluated by alone, so the
// bits are those of one vector at a time.
#pragma once

#include "lanes.hpp"

#include <cstddef>
#include <type_traits>

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

template <class Vector, int k>
struct Interleaved {
    Vector vector[k];
};

// How many vectors the kernels evaluate side by side (run.hpp): the number that measured
// fastest for the power relations with 2, 4 and 8 lanes alike on AMD Zen 4 (2 left the
// chains waiting; 4 spilled registers with 2 and 4 lanes and gained nothing with 8).
// bench/power_bound.py measures the power alone. VENTAROXI_VECTORS_IN_FLIGHT overrides it,
// for measuring another.
#if defined(VENTAROXI_VECTORS_IN_FLIGHT)
inline constexpr int vectors_in_flight = VENTAROXI_VECTORS_IN_FLIGHT;
#else
inline constexpr int vectors_in_flight = 3;
#endif

// f applied to the vectors of each argument in turn; a result of the same shape.
template <class Vector, int k, class F, class... Rest>
[[gnu::always_inline]] inline auto each(F f, const Interleaved<Vector, k>& first,
                                        const Rest&... rest)
{
    Interleaved<decltype(f(first.vector[0], rest.vector[0]...)), k> result;
    for (int j = 0; j < k; ++j) {
        result.vector[j] = f(first.vector[j], rest.vector[j]...);
    }
    return result;
}

// The operators of the vectors, element-wise, with another interleaved value or with a scalar
// on either side (a scalar is in every lane, as with the vectors themselves).
#define VENTAROXI_INTERLEAVED_OPERATOR(op)                                                         \
    template <class V, int k>                                                                      \
    [[gnu::always_inline]] inline auto operator op(const Interleaved<V, k>& a,                     \
                                                   const Interleaved<V, k>& b)                     \
    {                                                                                              \
        return each([](V x, V y) { return x op y; }, a, b);                                        \
    }                                                                                              \
    template <class V, int k, class S>                                                             \
        requires std::is_arithmetic_v<S>                                                           \
    [[gnu::always_inline]] inline auto operator op(const Interleaved<V, k>& a, S b)                \
    {                                                                                              \
        return each([b](V x) { return x op b; }, a);                                               \
    }                                                                                              \
    template <class V, int k, class S>                                                             \
        requires std::is_arithmetic_v<S>                                                           \
    [[gnu::always_inline]] inline auto operator op(S a, const Interleaved<V, k>& b)                \
    {                                                                                              \
        return each([a](V x) { return a op x; }, b);                                               \
    }

VENTAROXI_INTERLEAVED_OPERATOR(+)
VENTAROXI_INTERLEAVED_OPERATOR(-)
VENTAROXI_INTERLEAVED_OPERATOR(*)
VENTAROXI_INTERLEAVED_OPERATOR(/)
VENTAROXI_INTERLEAVED_OPERATOR(&)
VENTAROXI_INTERLEAVED_OPERATOR(|)
VENTAROXI_INTERLEAVED_OPERATOR(^)
VENTAROXI_INTERLEAVED_OPERATOR(<<)
VENTAROXI_INTERLEAVED_OPERATOR(>>)
VENTAROXI_INTERLEAVED_OPERATOR(<)
VENTAROXI_INTERLEAVED_OPERATOR(>)
VENTAROXI_INTERLEAVED_OPERATOR(<=)
VENTAROXI_INTERLEAVED_OPERATOR(>=)
VENTAROXI_INTERLEAVED_OPERATOR(==)
VENTAROXI_INTERLEAVED_OPERATOR(!=)

#undef VENTAROXI_INTERLEAVED_OPERATOR

template <class V, int k>
[[gnu::always_inline]] inline Interleaved<V, k> operator-(const Interleaved<V, k>& a)
{
    return each([](V x) { return -x; }, a);
}

template <class V, int k>
[[gnu::always_inline]] inline Interleaved<V, k> operator~(const Interleaved<V, k>& a)
{
    return each([](V x) { return ~x; }, a);
}

template <class V, int k, class Other>
[[gnu::always_inline]] inline Interleaved<V, k>& operator+=(Interleaved<V, k>& a, const Other& b)
{
    a = a + b;
    return a;
}

template <int k>
[[gnu::always_inline]] inline Interleaved<Lanes, k> sqrt(const Interleaved<Lanes, k>& x)
{
    return each([](Lanes v) { return sqrt(v); }, x);
}

template <int k>
[[gnu::always_inline]] inline Interleaved<Lanes, k> fabs(const Interleaved<Lanes, k>& x)
{
    return each([](Lanes v) { return fabs(v); }, x);
}

template <int k>
[[gnu::always_inline]] inline Interleaved<Lanes, k> load_interleaved(const double* from)
{
    Interleaved<Lanes, k> lanes;
    for (std::ptrdiff_t j = 0; j < k; ++j) {
        lanes.vector[j] = load_lanes(from + j * lane_count);
    }
    return lanes;
}

template <int k>
[[gnu::always_inline]] inline void store_interleaved(double* to, const Interleaved<Lanes, k>& lanes)
{
    for (std::ptrdiff_t j = 0; j < k; ++j) {
        store_lanes(to + j * lane_count, lanes.vector[j]);
    }
}

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
