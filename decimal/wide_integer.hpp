// A small exact unsigned integer of 192 bits. It holds the intermediates that
// do not fit a 96-bit magnitude: the product of two magnitudes (< 2^192), a
// magnitude brought to a larger scale (< 2^96 * 10^28 < 2^190), and a
// dividend raised by the quotient's extra digits (< 2^96 * divisor).
#pragma once

#include <bit>
#include <compare>
#include <cstdint>

#include "decimal/decimal.hpp"

namespace quarlen::detail {

// The number of significant bits (0 for zero).
constexpr int bit_length(uint128 value) noexcept {
    const std::uint64_t high = static_cast<std::uint64_t>(value >> 64);
    if (high != 0) return 64 + static_cast<int>(std::bit_width(high));
    return static_cast<int>(std::bit_width(static_cast<std::uint64_t>(value)));
}

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

// (high middle low) / divisor and its remainder, for high < divisor (the
// quotient fits 128 bits): one divq per quotient word.
constexpr Divided128 divide_192_by_64(std::uint64_t high, std::uint64_t middle, std::uint64_t low,
                                      std::uint64_t divisor) noexcept {
    const Divided64 upper = divide_128_by_64(high, middle, divisor);
    const Divided64 lower = divide_128_by_64(upper.remainder, low, divisor);
    return {(uint128{upper.quotient} << 64) | lower.quotient, lower.remainder};
}

// floor((2^128 - 1) / d) - 2^64 for a d with its top bit set: the
// reciprocal that turns a division by d into multiplications (Moller and
// Granlund, "Improved division by invariant integers", 2011).
constexpr std::uint64_t reciprocal_word(std::uint64_t d) noexcept {
    // ~d < d, as d's top bit is set.
    return divide_128_by_64(~d, ~std::uint64_t{0}, d).quotient;
}

// A divisor of 65 to 128 bits shifted up until its top bit is set, with the
// reciprocal that turns each 3-by-2-word division step into multiplications.
// The reciprocal v is floor((2^192 - 1) / d) - 2^64 for the shifted divisor d.
class TwoWordDivisor {
public:
    explicit constexpr TwoWordDivisor(uint128 divisor) noexcept
        : shift_(std::countl_zero(static_cast<std::uint64_t>(divisor >> 64))),
          // The divisor is below 2^128 with a non-zero high word: the shift
          // is below 64, which the mask tells the compiler (one shld).
          high_(static_cast<std::uint64_t>((divisor << (shift_ & 63)) >> 64)),
          low_(static_cast<std::uint64_t>(divisor) << (shift_ & 63)),
          reciprocal_(reciprocal_of(high_, low_)) {}

    // How far the divisor (and so every dividend) is shifted.
    constexpr int shift() const noexcept { return shift_; }

    // (n2 n1 n0) / d for (n2 n1) < d, where d is the shifted divisor: the
    // quotient word, with the remainder (below d) left in `remainder`.
    constexpr std::uint64_t divide(std::uint64_t n2, std::uint64_t n1, std::uint64_t n0,
                                   uint128& remainder) const noexcept {
        const uint128 divisor = (uint128{high_} << 64) | low_;
        const uint128 estimate = uint128{reciprocal_} * n2 + ((uint128{n2} << 64) | n1);
        std::uint64_t quotient = static_cast<std::uint64_t>(estimate >> 64);
        const std::uint64_t fraction = static_cast<std::uint64_t>(estimate);
        // n - (quotient + 1) d, modulo 2^128: the estimate is the quotient
        // or one more, and the fraction word tells which.
        const std::uint64_t top = n1 - quotient * high_;
        uint128 rest = ((uint128{top} << 64) | n0) - uint128{low_} * quotient - divisor;
        ++quotient;
        // That goes either way about as often, so it is applied as a mask
        // rather than a branch; the last correction is rare.
        const std::uint64_t over = std::uint64_t{0} - std::uint64_t{static_cast<std::uint64_t>(rest >> 64) >= fraction};
        quotient += over;
        rest += (uint128{high_ & over} << 64) | (low_ & over);
        if (rest >= divisor) [[unlikely]] {
            ++quotient;
            rest -= divisor;
        }
        remainder = rest;
        return quotient;
    }

private:
    static constexpr std::uint64_t reciprocal_of(std::uint64_t high, std::uint64_t low) noexcept {
        // The reciprocal of the top word alone, then corrected for the low
        // word, each step at most twice.
        std::uint64_t v = reciprocal_word(high);
        std::uint64_t p = high * v + low;
        if (p < low) {
            --v;
            if (p >= high) {
                --v;
                p -= high;
            }
            p -= high;
        }
        const uint128 t = uint128{v} * low;
        const std::uint64_t t_high = static_cast<std::uint64_t>(t >> 64);
        p += t_high;
        if (p < t_high) {
            --v;
            if (p > high || (p == high && static_cast<std::uint64_t>(t) >= low)) --v;
        }
        return v;
    }

    int shift_;
    std::uint64_t high_;
    std::uint64_t low_;
    std::uint64_t reciprocal_;
};

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

    // value >> bits for 0 <= bits < 192, as far as it fits 128 bits.
    constexpr uint128 shifted_right(int bits) const noexcept {
        if (bits == 0) return low_128();
        if (bits < 64) {
            return (uint128{word[2] << (64 - bits) | word[1] >> bits} << 64) | (word[1] << (64 - bits) | word[0] >> bits);
        }
        if (bits == 64) return (uint128{word[2]} << 64) | word[1];
        if (bits < 128) return (uint128{word[2] >> (bits - 64)} << 64) | (word[2] << (128 - bits) | word[1] >> (bits - 64));
        return word[2] >> (bits - 128);
    }

    friend constexpr std::strong_ordering operator<=>(const Uint192& a, const Uint192& b) noexcept {
        for (int i = 2; i >= 0; --i) {
            if (a.word[i] != b.word[i]) return a.word[i] <=> b.word[i];
        }
        return std::strong_ordering::equal;
    }
    friend constexpr bool operator==(const Uint192& a, const Uint192& b) noexcept = default;
};

// The sum must stay below 2^192.
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
