// Rounding an exact intermediate back into a Decimal.
#pragma once

#include <cstdint>

#include "decimal/decimal.hpp"
#include "decimal/digit_shift.hpp"
#include "decimal/powers_of_ten.hpp"
#include "decimal/wide_integer.hpp"

namespace quarlen::detail {

// Brings an exact result (magnitude at `scale`, which may exceed 28) within
// the limits of a Decimal: the fewest trailing digits are removed that leave
// a scale of at most 28 and a magnitude of at most 2^96 - 1, rounding half to
// even over all removed digits. A carry past 2^96 - 1 removes one digit more.
// Sets `overflow` (and returns ZERO) when the limits could only be met at a
// negative scale. The scale is at most 56, that of a product.
Decimal reduce(const Uint192& magnitude, int scale, bool negative, bool& overflow) noexcept;

// The exact result of kept * 10^removed + rest (rest < 10^removed) at
// `scale`, rounded half to even at scale - removed; a carry past 2^96 - 1
// rounds at one digit more.
inline Decimal round_removed(uint128 kept, uint128 rest, int removed, std::int64_t scale, bool negative,
                             bool& overflow) noexcept {
    if (removed > 0) {
        const uint128 half = pow10(removed) / 2;
        if (rest > half || (rest == half && (kept & 1) != 0)) {
            if (kept == Decimal::kMaxMagnitude) {
                // At one digit more the last digit, 5, and any rest round up.
                kept = kRoundedTwoPow96Tenth;
                ++removed;
            } else {
                ++kept;
            }
        }
    }
    if (removed > scale) {
        overflow = true;
        return ZERO;
    }
    return Decimal::from_parts(kept, static_cast<std::uint32_t>(scale - removed), negative);
}

}  // namespace quarlen::detail
