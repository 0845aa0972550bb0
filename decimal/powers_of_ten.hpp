// Powers of ten as 64-bit and 128-bit integers, shared by the arithmetic,
// division, parsing and text conversion of the Decimal number.
#pragma once

#include <array>
#include <cstdint>

#include "decimal/decimal.hpp"

namespace quarlen::detail {

// 10^0 .. 10^19: every power that fits in 64 bits.
inline constexpr std::array<std::uint64_t, 20> kPow10U64 = [] {
    std::array<std::uint64_t, 20> table{};
    std::uint64_t power = 1;
    for (std::uint64_t& entry : table) {
        entry = power;
        power *= 10;
    }
    return table;
}();

// 10^0 .. 10^38: every power that fits in 128 bits.
inline constexpr std::array<uint128, 39> kPow10 = [] {
    std::array<uint128, 39> table{};
    uint128 power = 1;
    for (uint128& entry : table) {
        entry = power;
        power *= 10;
    }
    return table;
}();

inline constexpr uint128 pow10(int exponent) noexcept { return kPow10[static_cast<std::size_t>(exponent)]; }
inline constexpr std::uint64_t pow10_u64(int exponent) noexcept {
    return kPow10U64[static_cast<std::size_t>(exponent)];
}

}  // namespace quarlen::detail
