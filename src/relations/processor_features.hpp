// Whether this processor runs a kernel set: every feature of its row of kernel_sets.txt,
// each asked by __builtin_cpu_supports. For the vector extensions that asks the operating
// system too (XGETBV): a feature whose registers the system does not save reads as absent.
// Plain C++, no interpreter: the dispatch and the units' runner share it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

namespace ventaroxi {

struct ProcessorFeature {
    std::string_view name;
    bool (*present)();
};

// Every feature a row may name.
#if defined(__x86_64__)
inline constexpr std::array<ProcessorFeature, 6> processor_features = {{
    {"avx2", [] { return __builtin_cpu_supports("avx2") != 0; }},
    {"fma", [] { return __builtin_cpu_supports("fma") != 0; }},
    {"avx512f", [] { return __builtin_cpu_supports("avx512f") != 0; }},
    {"avx512dq", [] { return __builtin_cpu_supports("avx512dq") != 0; }},
    {"avx512vl", [] { return __builtin_cpu_supports("avx512vl") != 0; }},
    {"avx512bw", [] { return __builtin_cpu_supports("avx512bw") != 0; }},
}};
#else
inline constexpr std::array<ProcessorFeature, 0> processor_features{};
#endif

// Calls `each(feature)` for the features that `names` lists (separated by spaces) until one
// returns false; false then, also for a name that is no feature's.
template <class Each>
constexpr bool every_feature(std::string_view names, Each each)
{
    while (!names.empty()) {
        const std::size_t end = names.find(' ');
        const std::string_view name = names.substr(0, end);
        names = end == std::string_view::npos ? std::string_view{} : names.substr(end + 1);
        if (name.empty()) {
            continue;
        }
        // Compared with the end, never with nullptr: GCC's -fsanitize=undefined makes a
        // pointer's comparison with nullptr no constant expression, and the compile-time
        // checks run this.
        const auto found = std::ranges::find(processor_features, name, &ProcessorFeature::name);
        if (found == processor_features.end() || !each(*found)) {
            return false;
        }
    }
    return true;
}

// Whether every name is a feature that processor_features can ask about.
constexpr bool known_features(std::string_view names)
{
    return every_feature(names, [](const ProcessorFeature&) { return true; });
}

inline bool processor_has(std::string_view names)
{
#if defined(__x86_64__)
    __builtin_cpu_init();  // idempotent; needed where this runs before the constructors
#endif
    return every_feature(names, [](const ProcessorFeature& feature) { return feature.present(); });
}

}  // namespace ventaroxi
