// A small exact unsigned integer of 192 bits. It holds the intermediates that
// do not fit a 96-bit magnitude: the product of two magnitudes (< 2^192) and a
// magnitude brought to a larger scale (< 2^96 * 10^28 < 2^190), with room for
// the sum of two of the latter.
#pragma once

#include <bit>
#include <compare>
#include <cstdint>

#include "decimal/decimal.hpp"

namespace quarlen::detail {

// (high * 2^64 + low) / divisor and its remainder, for high < divisor (so
// the quotient fits 64 bits). On x86-64 this is the one divq instruction; a
// plain 128-bit division would call the runtime library's general routine,
// which dominated the arithmetic's profile.
struct Divided64 {
    std::uint64_t quotient;
    std::uint64_t remainder;
};

constexpr Divided64 divide_128_by_64(std::uint64_t high, std::uint64_t low, std::uint64_t divisor) noexcept {
#if defined(__x86_64__)
    if !consteval {
        std::uint64_t quotient;
        std::uint64_t remainder;
        __asm__("divq %[divisor]"
                : "=a"(quotient), "=d"(remainder)
                : [divisor] "rm"(divisor), "a"(low), "d"(high)
                : "cc");
        return {quotient, remainder};
    }
#endif
    const uint128 dividend = (uint128{high} << 64) | low;
    return {static_cast<std::uint64_t>(dividend / divisor), static_cast<std::uint64_t>(dividend % divisor)};
}

// value / divisor and value % divisor for any 128-bit value.
struct Divided128 {
    uint128 quotient;
    std::uint64_t remainder;
};

constexpr Divided128 divide_by_64(uint128 value, std::uint64_t divisor) noexcept {
    const std::uint64_t high = static_cast<std::uint64_t>(value >> 64);
    const std::uint64_t low = static_cast<std::uint64_t>(value);
    if (high < divisor) {
        const Divided64 d = divide_128_by_64(high, low, divisor);
        return {d.quotient, d.remainder};
    }
    const Divided64 d = divide_128_by_64(high % divisor, low, divisor);
    return {(uint128{high / divisor} << 64) | d.quotient, d.remainder};
}

// value / divisor and value % divisor for a divisor of at least 2^64, where
// the quotient always fits 64 bits: one divq on the divisor's top 64 bits
// gives the quotient or one more, as in the classic normalized estimate.
struct DividedWide {
    std::uint64_t quotient;
    uint128 remainder;
};

constexpr DividedWide divide_by_wide(uint128 value, uint128 divisor) noexcept {
    const int shift = std::countl_zero(static_cast<std::uint64_t>(divisor >> 64));
    const std::uint64_t top = static_cast<std::uint64_t>((divisor << shift) >> 64);
    // value / 2 < 2^127, so its top word is below the normalized top word.
    const uint128 half = value >> 1;
    const std::uint64_t estimate =
        divide_128_by_64(static_cast<std::uint64_t>(half >> 64), static_cast<std::uint64_t>(half), top).quotient;
    // estimate * 2^shift / 2^63 is the true quotient or one more, at most one less.
    std::uint64_t quotient = static_cast<std::uint64_t>((uint128{estimate} << shift) >> 63);
    if (quotient != 0) --quotient;
    uint128 remainder = value - uint128{quotient} * divisor;
    if (remainder >= divisor) {
        ++quotient;
        remainder -= divisor;
    }
    return {quotient, remainder};
}

// A fixed divisor of at least 2^64 with its normalized top word and that
// word's reciprocal, for a long division that divides by it again and
// again: each step then costs two multiplications instead of a divq
// (division by invariant integers, Moller and Granlund).
class WideDivisor {
public:
    explicit constexpr WideDivisor(uint128 divisor) noexcept
        : value_(divisor),
          shift_(std::countl_zero(static_cast<std::uint64_t>(divisor >> 64))),
          top_(static_cast<std::uint64_t>((divisor << shift_) >> 64)),
          // floor((2^128 - 1) / top) - 2^64; ~top < top as top's high bit is set.
          reciprocal_(divide_128_by_64(~top_, ~std::uint64_t{0}, top_).quotient) {}

    constexpr uint128 value() const noexcept { return value_; }

    // As divide_by_wide(value, divisor).
    constexpr DividedWide divide(uint128 value) const noexcept {
        const uint128 half = value >> 1;
        const std::uint64_t estimate =
            divide_top(static_cast<std::uint64_t>(half >> 64), static_cast<std::uint64_t>(half));
        std::uint64_t quotient = static_cast<std::uint64_t>((uint128{estimate} << shift_) >> 63);
        if (quotient != 0) --quotient;
        uint128 remainder = value - uint128{quotient} * value_;
        if (remainder >= value_) {
            ++quotient;
            remainder -= value_;
        }
        return {quotient, remainder};
    }

private:
    // (high * 2^64 + low) / top for high < top.
    constexpr std::uint64_t divide_top(std::uint64_t high, std::uint64_t low) const noexcept {
        const uint128 product = uint128{reciprocal_} * high + ((uint128{high} << 64) | low);
        std::uint64_t quotient = static_cast<std::uint64_t>(product >> 64) + 1;
        std::uint64_t remainder = low - quotient * top_;
        if (remainder > static_cast<std::uint64_t>(product)) {
            --quotient;
            remainder += top_;
        }
        if (remainder >= top_) ++quotient;
        return quotient;
    }

    uint128 value_;
    int shift_;
    std::uint64_t top_;
    std::uint64_t reciprocal_;
};

// A fixed 64-bit divisor shifted up until its high bit is set, with the
// reciprocal of the shifted value, so that dividing a long number by it
// word by word costs multiplications instead of one divq per word (the
// same method as WideDivisor).
class NormalizedDivisor {
public:
    explicit constexpr NormalizedDivisor(std::uint64_t divisor) noexcept
        : shift_(std::countl_zero(divisor)),
          normalized_(divisor << shift_),
          reciprocal_(divide_128_by_64(~normalized_, ~std::uint64_t{0}, normalized_).quotient) {}

    constexpr int shift() const noexcept { return shift_; }

    // (high * 2^64 + low) / normalized and its remainder, for high < normalized.
    constexpr Divided64 divide(std::uint64_t high, std::uint64_t low) const noexcept {
        const uint128 product = uint128{reciprocal_} * high + ((uint128{high} << 64) | low);
        std::uint64_t quotient = static_cast<std::uint64_t>(product >> 64) + 1;
        std::uint64_t remainder = low - quotient * normalized_;
        if (remainder > static_cast<std::uint64_t>(product)) {
            --quotient;
            remainder += normalized_;
        }
        if (remainder >= normalized_) {
            ++quotient;
            remainder -= normalized_;
        }
        return {quotient, remainder};
    }

private:
    int shift_;
    std::uint64_t normalized_;
    std::uint64_t reciprocal_;
};

// 10^1 .. 10^19, normalized, for removing decimal digits.
inline constexpr auto kPow10Divisors = [] {
    struct Table {
        NormalizedDivisor divisor[20] = {
            NormalizedDivisor(1), NormalizedDivisor(10), NormalizedDivisor(100), NormalizedDivisor(1000),
            NormalizedDivisor(10000), NormalizedDivisor(100000), NormalizedDivisor(1000000),
            NormalizedDivisor(10000000), NormalizedDivisor(100000000), NormalizedDivisor(1000000000),
            NormalizedDivisor(10000000000ULL), NormalizedDivisor(100000000000ULL),
            NormalizedDivisor(1000000000000ULL), NormalizedDivisor(10000000000000ULL),
            NormalizedDivisor(100000000000000ULL), NormalizedDivisor(1000000000000000ULL),
            NormalizedDivisor(10000000000000000ULL), NormalizedDivisor(100000000000000000ULL),
            NormalizedDivisor(1000000000000000000ULL), NormalizedDivisor(10000000000000000000ULL)};
    };
    return Table{};
}();

// value / divisor and value % divisor for any non-zero 128-bit divisor.
struct Divided {
    uint128 quotient;
    uint128 remainder;
};

constexpr Divided divide(uint128 value, uint128 divisor) noexcept {
    if ((divisor >> 64) == 0) {
        const Divided128 d = divide_by_64(value, static_cast<std::uint64_t>(divisor));
        return {d.quotient, d.remainder};
    }
    const DividedWide d = divide_by_wide(value, divisor);
    return {d.quotient, d.remainder};
}

struct Uint192 {
    // Lowest word first.
    std::uint64_t word[3] = {0, 0, 0};

    static constexpr Uint192 from(uint128 value) noexcept {
        Uint192 wide;
        wide.word[0] = static_cast<std::uint64_t>(value);
        wide.word[1] = static_cast<std::uint64_t>(value >> 64);
        return wide;
    }

    constexpr bool is_zero() const noexcept { return (word[0] | word[1] | word[2]) == 0; }
    constexpr bool fits_in_96_bits() const noexcept { return word[2] == 0 && (word[1] >> 32) == 0; }
    // The low 128 bits; the whole value when word[2] is zero.
    constexpr uint128 low_128() const noexcept { return (uint128{word[1]} << 64) | word[0]; }

    constexpr int bit_length() const noexcept {
        for (int i = 2; i >= 0; --i) {
            const std::uint64_t w = word[i];
            if (w != 0) return 64 * i + static_cast<int>(std::bit_width(w));
        }
        return 0;
    }

    // Divides in place by a non-zero divisor and returns the remainder.
    constexpr std::uint64_t divide_by(std::uint64_t divisor) noexcept {
        std::uint64_t remainder = 0;
        // Leading zero words divide to zero with nothing left over.
        int top = 2;
        while (top > 0 && word[top] == 0) --top;
        for (int i = top; i >= 0; --i) {
            // remainder < divisor, so each step's quotient fits 64 bits.
            const Divided64 step = divide_128_by_64(remainder, word[i], divisor);
            word[i] = step.quotient;
            remainder = step.remainder;
        }
        return remainder;
    }

    // Divides in place by 10^digits (0..19) and returns the remainder.
    constexpr std::uint64_t divide_by_pow10(int digits) noexcept {
        const NormalizedDivisor& divisor = kPow10Divisors.divisor[digits];
        const int shift = divisor.shift();
        int top = 2;
        while (top > 0 && word[top] == 0) --top;
        // The number shifted left by `shift`, taken a word at a time from
        // the top; the bits pushed out of the top word start the remainder.
        std::uint64_t remainder = shift == 0 ? 0 : word[top] >> (64 - shift);
        for (int i = top; i >= 0; --i) {
            const std::uint64_t below = (i == 0 || shift == 0) ? 0 : word[i - 1] >> (64 - shift);
            const Divided64 step = divisor.divide(remainder, (word[i] << shift) | below);
            word[i] = step.quotient;
            remainder = step.remainder;
        }
        return remainder >> shift;
    }

    friend constexpr std::strong_ordering operator<=>(const Uint192& a, const Uint192& b) noexcept {
        for (int i = 2; i >= 0; --i) {
            if (a.word[i] != b.word[i]) return a.word[i] <=> b.word[i];
        }
        return std::strong_ordering::equal;
    }
    friend constexpr bool operator==(const Uint192& a, const Uint192& b) noexcept = default;
};

// The sum must stay below 2^192; every caller adds two values below 2^190.
constexpr Uint192 operator+(const Uint192& a, const Uint192& b) noexcept {
    Uint192 sum;
    uint128 carry = 0;
    for (int i = 0; i < 3; ++i) {
        const uint128 column = carry + a.word[i] + b.word[i];
        sum.word[i] = static_cast<std::uint64_t>(column);
        carry = column >> 64;
    }
    return sum;
}

// Requires a >= b.
constexpr Uint192 operator-(const Uint192& a, const Uint192& b) noexcept {
    Uint192 difference;
    std::uint64_t borrow = 0;
    for (int i = 0; i < 3; ++i) {
        const std::uint64_t subtrahend = b.word[i] + borrow;
        // A borrow out happens when b's word plus the incoming borrow wrapped
        // to zero or exceeds a's word.
        const bool wrapped = subtrahend < borrow;
        difference.word[i] = a.word[i] - subtrahend;
        borrow = (wrapped || a.word[i] < subtrahend) ? 1 : 0;
    }
    return difference;
}

// The exact product of two values below 2^96 each (so below 2^192).
constexpr Uint192 multiply(uint128 a, uint128 b) noexcept {
    const std::uint64_t a_low = static_cast<std::uint64_t>(a);
    const std::uint64_t a_high = static_cast<std::uint64_t>(a >> 64);  // < 2^32
    const std::uint64_t b_low = static_cast<std::uint64_t>(b);
    const std::uint64_t b_high = static_cast<std::uint64_t>(b >> 64);  // < 2^32

    const uint128 low_low = uint128{a_low} * b_low;
    const uint128 low_high = uint128{a_low} * b_high;   // < 2^96
    const uint128 high_low = uint128{a_high} * b_low;   // < 2^96
    const uint128 high_high = uint128{a_high} * b_high; // < 2^64

    Uint192 product;
    product.word[0] = static_cast<std::uint64_t>(low_low);
    // Three terms below 2^64 each: no overflow of the 128-bit column.
    const uint128 middle = (low_low >> 64) + static_cast<std::uint64_t>(low_high) + static_cast<std::uint64_t>(high_low);
    product.word[1] = static_cast<std::uint64_t>(middle);
    const uint128 top = (middle >> 64) + (low_high >> 64) + (high_low >> 64) + high_high;
    product.word[2] = static_cast<std::uint64_t>(top);
    return product;
}

}  // namespace quarlen::detail
