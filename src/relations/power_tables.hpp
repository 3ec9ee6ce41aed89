// Tables of the vector power function (see power_tables.cpp). Plain data, shared by the
// kernels of every instruction set.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ventaroxi::relations::power_tables {

inline constexpr std::size_t log_table_bits = 7;
inline constexpr std::size_t log_table_size = std::size_t{1} << log_table_bits;
inline constexpr std::size_t exp_table_bits = 7;
inline constexpr std::size_t exp_table_size = std::size_t{1} << exp_table_bits;

// The padding makes each entry four doubles wide, so an entry is found by a shift.
struct LogEntry {
    double invc;
    double pad;
    double logc;
    double logctail;
};

extern const LogEntry log_table[log_table_size];
extern const std::uint64_t exp_table[2 * exp_table_size];

}  // namespace ventaroxi::relations::power_tables
