// Testing for and removing trailing decimal zeros without dividing: 10^m
// divides a value when its low m bits are zero and 5^m divides the rest, and
// an odd divisor divides exactly by multiplication with its inverse modulo
// 2^128 (x * inverse lands at most at floor((2^128 - 1) / 5^m) exactly when
// 5^m divides x).
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>

#include "decimal/decimal.hpp"

namespace quarlen::detail {

// Enough for every trailing zero of a magnitude (10^29 > 2^96).
inline constexpr int kMaxPow5 = 28;

struct Pow5Inverse {
    uint128 inverse;  // 5^m * inverse = 1 modulo 2^128
    uint128 limit;    // floor((2^128 - 1) / 5^m)
};

inline constexpr auto kPow5Inverses = [] {
    std::array<Pow5Inverse, kMaxPow5 + 1> table{};
    uint128 power = 1;
    for (Pow5Inverse& entry : table) {
        // Newton's step doubles the correct low bits; an odd number is its
        // own inverse modulo 8, so six steps reach 192 > 128 bits.
        uint128 inverse = power;
        for (int step = 0; step < 6; ++step) inverse *= 2 - power * inverse;
        entry = {inverse, ~uint128{0} / power};
        power *= 5;
    }
    return table;
}();

// value / 5^m when 5^m divides value (0 <= m <= 28); false, leaving value
// as it is, otherwise.
constexpr bool divide_exactly_by_pow5(uint128& value, int m) noexcept {
    const Pow5Inverse& entry = kPow5Inverses[static_cast<std::size_t>(m)];
    const uint128 quotient = value * entry.inverse;
    if (quotient > entry.limit) return false;
    value = quotient;
    return true;
}

// value / 10^m when 10^m divides value (0 <= m <= 28); false, leaving value
// as it is, otherwise.
constexpr bool divide_exactly_by_pow10(uint128& value, int m) noexcept {
    const std::uint64_t low_bits = (std::uint64_t{1} << m) - 1;
    if ((static_cast<std::uint64_t>(value) & low_bits) != 0) return false;
    uint128 odd_part = value >> m;
    if (!divide_exactly_by_pow5(odd_part, m)) return false;
    value = odd_part;
    return true;
}

// Removes the trailing decimal zeros of a non-zero magnitude below 2^96 and
// returns how many there were (at most 28).
constexpr int remove_trailing_zeros(uint128& value) noexcept {
    int zeros = 0;
    for (const int step : {16, 8, 4, 2, 1}) {
        if (divide_exactly_by_pow10(value, step)) zeros += step;
    }
    return zeros;
}

}  // namespace quarlen::detail
