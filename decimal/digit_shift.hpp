// Adding and removing decimal digits at the bottom of a wide magnitude: a
// multiplication by a power of ten, and a division by one, by divqs while
// the power fits a word and otherwise by one multiplication with a
// fixed-point reciprocal and a small correction.
#pragma once

#include <array>
#include <cstdint>

#include "decimal/decimal.hpp"
#include "decimal/powers_of_ten.hpp"
#include "decimal/wide_integer.hpp"

namespace quarlen::detail {

// 2^96 / 10 rounded: a magnitude that rounding carries past 2^96 - 1 is
// rounded again at one digit more, to this.
inline constexpr uint128 kRoundedTwoPow96Tenth = Decimal::kMaxMagnitude / 10 + 1;
static_assert(kRoundedTwoPow96Tenth * 10 == Decimal::kMaxMagnitude + 5);  // 2^96 + 4

// 10^0 .. 10^57: every power below 2^192.
inline constexpr int kMaxWidePow10 = 57;
inline constexpr auto kPow10Wide = [] {
    std::array<Uint192, kMaxWidePow10 + 1> table{};
    table[0].word[0] = 1;
    for (std::size_t k = 1; k < table.size(); ++k) {
        std::uint64_t carry = 0;
        for (int i = 0; i < 3; ++i) {
            const uint128 column = uint128{table[k - 1].word[i]} * 10 + carry;
            table[k].word[i] = static_cast<std::uint64_t>(column);
            carry = static_cast<std::uint64_t>(column >> 64);
        }
    }
    return table;
}();

// value * 10^digits for a value below 2^128 and 0 <= digits <= 57, when the
// product is below 2^192 (every caller knows it is: the words above are not
// formed).
constexpr Uint192 multiply_by_pow10(uint128 value, int digits) noexcept {
    const Uint192& power = kPow10Wide[static_cast<std::size_t>(digits)];
    const std::uint64_t v0 = static_cast<std::uint64_t>(value);
    const std::uint64_t v1 = static_cast<std::uint64_t>(value >> 64);
    const uint128 low = uint128{v0} * power.word[0];
    if (digits <= 19) {
        // A one-word power: two products.
        const uint128 high = uint128{v1} * power.word[0] + (low >> 64);
        Uint192 product;
        product.word[0] = static_cast<std::uint64_t>(low);
        product.word[1] = static_cast<std::uint64_t>(high);
        product.word[2] = static_cast<std::uint64_t>(high >> 64);
        return product;
    }
    // Each partial sum stays below 2^128: (2^64 - 1)^2 + 2 (2^64 - 1) = 2^128 - 1.
    const uint128 middle = (low >> 64) + uint128{v0} * power.word[1];
    const uint128 cross = static_cast<std::uint64_t>(middle) + uint128{v1} * power.word[0];
    Uint192 product;
    product.word[0] = static_cast<std::uint64_t>(low);
    product.word[1] = static_cast<std::uint64_t>(cross);
    // Only the low 64 bits of the top word are kept; the rest would be zero.
    product.word[2] = static_cast<std::uint64_t>(middle >> 64) + static_cast<std::uint64_t>(cross >> 64) +
                      v0 * power.word[2] + v1 * power.word[1];
    return product;
}

// The high 128 bits of a * b.
constexpr uint128 multiply_high(uint128 a, uint128 b) noexcept {
    const std::uint64_t a0 = static_cast<std::uint64_t>(a);
    const std::uint64_t a1 = static_cast<std::uint64_t>(a >> 64);
    const std::uint64_t b0 = static_cast<std::uint64_t>(b);
    const std::uint64_t b1 = static_cast<std::uint64_t>(b >> 64);
    const uint128 low_low = uint128{a0} * b0;
    const uint128 low_high = uint128{a0} * b1;
    const uint128 high_low = uint128{a1} * b0;
    // Three terms below 2^64 each: no overflow.
    const uint128 middle = (low_low >> 64) + static_cast<std::uint64_t>(low_high) + static_cast<std::uint64_t>(high_low);
    return uint128{a1} * b1 + (low_high >> 64) + (high_low >> 64) + (middle >> 64);
}

// The most digits a magnitude can be raised by and still fit 96 bits. A
// magnitude of b bits can take the most a value of 2^(b - 1) can, or one
// fewer (the span of a bit length is less than a factor of ten), and the
// table of (2^96 - 1) / 10^k tells which.
inline constexpr auto kMaxMagnitudeOverPow10 = [] {
    std::array<uint128, 39> table{};
    for (int k = 0; k <= 38; ++k) table[static_cast<std::size_t>(k)] = Decimal::kMaxMagnitude / pow10(k);
    return table;
}();

// For each bit length: the most digits a value of that length may take,
// with the largest magnitude that takes them, in one entry so that one load
// serves both.
struct DigitsForBits {
    uint128 limit;  // (2^96 - 1) / 10^digits
    int digits;
};

inline constexpr auto kMostDigitsForBits = [] {
    std::array<DigitsForBits, 97> table{};
    table[0] = {0, 38};  // zero takes any number of digits
    for (int bits = 1; bits <= 96; ++bits) {
        int digits = 0;
        while (digits < 38 && (uint128{1} << (bits - 1)) <= kMaxMagnitudeOverPow10[static_cast<std::size_t>(digits + 1)])
            ++digits;
        table[static_cast<std::size_t>(bits)] = {kMaxMagnitudeOverPow10[static_cast<std::size_t>(digits)], digits};
    }
    return table;
}();

// The largest k (at most 38) with magnitude * 10^k <= 2^96 - 1, for a
// magnitude below 2^96.
constexpr int digits_that_fit(uint128 magnitude) noexcept {
    const DigitsForBits& entry = kMostDigitsForBits[static_cast<std::size_t>(bit_length(magnitude))];
    return magnitude <= entry.limit ? entry.digits : entry.digits - 1;
}

// Removing `digits` digits divides by 10^digits. Up to 19 digits the power
// fits a word and one divq per quotient word does it (measured faster than
// multiplying). Beyond, with s the largest shift for which
// 2^s <= 10^digits, the quotient is (value >> s) * (2^s / 10^digits) plus
// less than one, and 2^s / 10^digits lies in (1/2, 1]: it is held as the
// 128-bit fraction floor(2^(128 + s) / 10^digits).
inline constexpr int kMaxRemovableDigits = 38;

struct Pow10Reciprocal {
    int shift;
    uint128 fraction;
};

inline constexpr auto kPow10Reciprocals = [] {
    std::array<Pow10Reciprocal, kMaxRemovableDigits + 1> table{};
    for (int digits = 1; digits <= kMaxRemovableDigits; ++digits) {
        const uint128 power = pow10(digits);
        const int shift = bit_length(power) - 1;
        // floor(2^(128 + shift) / power) by long division, one bit at a time;
        // power < 2^127 keeps the running remainder within 128 bits.
        uint128 remainder = 0;
        uint128 fraction = 0;
        for (int bit = 128 + shift; bit >= 0; --bit) {
            remainder = remainder * 2 + (bit == 128 + shift ? 1 : 0);
            const bool one = remainder >= power;
            if (one) remainder -= power;
            if (bit < 128) fraction |= uint128{one} << bit;
        }
        table[static_cast<std::size_t>(digits)] = {shift, fraction};
    }
    return table;
}();

struct RemovedDigits {
    uint128 kept;     // value / 10^digits
    uint128 removed;  // value % 10^digits
};

// value / 10^digits and its remainder, for 1 <= digits <= 38 and a value
// below 2^127 * 10^digits (so the quotient is below 2^127).
constexpr RemovedDigits remove_digits(const Uint192& value, int digits) noexcept {
    if (digits <= 19) {
        // The top word is below the power, as the quotient fits 128 bits.
        const Divided128 q = divide_192_by_64(value.word[2], value.word[1], value.word[0], pow10_u64(digits));
        return {q.quotient, q.remainder};
    }
    const Pow10Reciprocal& reciprocal = kPow10Reciprocals[static_cast<std::size_t>(digits)];
    const uint128 power = pow10(digits);
    // The estimate falls short of the quotient by at most two: once for the
    // bits shifted out, once for the truncated fraction, and the product's
    // own truncation cannot reach a third. The remainder of the estimate is
    // then below 3 * 10^38 < 2^128, so it is exact in 128-bit arithmetic.
    uint128 kept = multiply_high(value.shifted_right(reciprocal.shift), reciprocal.fraction);
    uint128 removed = value.low_128() - kept * power;
    // Two corrections, each taken about as often as not: selected, not
    // branched on.
    for (int step = 0; step < 2; ++step) {
        const bool over = removed >= power;
        removed -= over ? power : 0;
        kept += over ? 1 : 0;
    }
    return {kept, removed};
}

// The same for a 128-bit value, for 1 <= digits <= 38: by divqs alone,
// beyond 19 digits in two steps, 10^19 and then the rest of the power.
constexpr RemovedDigits remove_digits(uint128 value, int digits) noexcept {
    constexpr int kWordDigits = 19;
    if (digits <= kWordDigits) {
        const Divided128 d = divide_by_64(value, pow10_u64(digits));
        return {d.quotient, d.remainder};
    }
    const Divided128 low = divide_by_64(value, pow10_u64(kWordDigits));
    const Divided128 high = divide_by_64(low.quotient, pow10_u64(digits - kWordDigits));
    return {high.quotient, uint128{high.remainder} * pow10_u64(kWordDigits) + low.remainder};
}

}  // namespace quarlen::detail
