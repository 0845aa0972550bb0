// Arithmetic of the wide intermediate. Every operation forms its exact result
// in up to 384 bits and cuts it back to the working scale and 192 bits with a
// single rounding over all the dropped digits.
#include "decimal/wide_decimal.hpp"

#include <algorithm>
#include <bit>

#include "decimal/powers_of_ten.hpp"
#include "decimal/reduction.hpp"

namespace quarlen::detail {

namespace {

constexpr int kWideBits = 192;
constexpr int kDecimalBits = 96;
constexpr int kMaxDecimalScale = static_cast<int>(Decimal::kMaxScale);

// An exact result before it is cut back: the product of two 192-bit
// magnitudes, or a magnitude raised to a larger scale.
struct Uint384 {
    static constexpr int kWords = 6;
    std::uint64_t word[kWords] = {0, 0, 0, 0, 0, 0};  // lowest first

    static Uint384 from(const Uint192& value) noexcept {
        Uint384 wide;
        for (int i = 0; i < 3; ++i) wide.word[i] = value.word[i];
        return wide;
    }

    Uint192 low_192() const noexcept { return Uint192{{word[0], word[1], word[2]}}; }
    uint128 low_128() const noexcept { return (uint128{word[1]} << 64) | word[0]; }

    int used_words() const noexcept {
        int used = kWords;
        while (used > 0 && word[used - 1] == 0) --used;
        return used;
    }

    int bit_length() const noexcept {
        const int used = used_words();
        if (used == 0) return 0;
        return 64 * (used - 1) + static_cast<int>(std::bit_width(word[used - 1]));
    }

    bool is_zero() const noexcept { return used_words() == 0; }

    // Divides in place by a non-zero divisor and returns the remainder: one
    // divq a word.
    std::uint64_t divide_by(std::uint64_t divisor) noexcept {
        std::uint64_t remainder = 0;
        for (int i = used_words() - 1; i >= 0; --i) {
            const Divided64 step = divide_128_by_64(remainder, word[i], divisor);
            word[i] = step.quotient;
            remainder = step.remainder;
        }
        return remainder;
    }

    // Divides in place by a non-zero divisor below 2^96 and returns the
    // remainder. Beyond 64 bits the quotient is formed 32 bits at a time, so
    // each step divides a value below 2^128.
    uint128 divide_by(uint128 divisor) noexcept {
        if ((divisor >> 64) == 0) return divide_by(static_cast<std::uint64_t>(divisor));
        uint128 remainder = 0;
        for (int i = 2 * used_words() - 1; i >= 0; --i) {
            std::uint64_t& target = word[i / 2];
            const int shift = 32 * (i % 2);
            const uint128 current = (remainder << 32) | ((target >> shift) & 0xFFFFFFFFu);
            const std::uint64_t digit = static_cast<std::uint64_t>(current / divisor);  // < 2^32
            remainder = current % divisor;
            target = (target & ~(std::uint64_t{0xFFFFFFFFu} << shift)) | (digit << shift);
        }
        return remainder;
    }

    void increment() noexcept {
        for (std::uint64_t& w : word) {
            if (++w != 0) return;
        }
    }

    friend std::strong_ordering operator<=>(const Uint384& a, const Uint384& b) noexcept {
        for (int i = kWords - 1; i >= 0; --i) {
            if (a.word[i] != b.word[i]) return a.word[i] <=> b.word[i];
        }
        return std::strong_ordering::equal;
    }
    friend bool operator==(const Uint384& a, const Uint384& b) noexcept = default;
};

Uint384 multiply_wide(const Uint192& a, const Uint192& b) noexcept {
    Uint384 product;
    for (int i = 0; i < 3; ++i) {
        if (a.word[i] == 0) continue;
        std::uint64_t carry = 0;
        for (int j = 0; j < 3; ++j) {
            // At most (2^64 - 1)^2 + 2 (2^64 - 1) = 2^128 - 1.
            const uint128 column = uint128{a.word[i]} * b.word[j] + product.word[i + j] + carry;
            product.word[i + j] = static_cast<std::uint64_t>(column);
            carry = static_cast<std::uint64_t>(column >> 64);
        }
        product.word[i + 3] = carry;
    }
    return product;
}

Uint384 raise(const Uint192& magnitude, int digits) noexcept {
    if (digits == 0) return Uint384::from(magnitude);
    return multiply_wide(magnitude, Uint192::from(pow10(digits)));
}

// The sum of two values whose total stays below 2^384.
Uint384 sum(const Uint384& a, const Uint384& b) noexcept {
    Uint384 total;
    std::uint64_t carry = 0;
    for (int i = 0; i < Uint384::kWords; ++i) {
        const uint128 column = uint128{a.word[i]} + b.word[i] + carry;
        total.word[i] = static_cast<std::uint64_t>(column);
        carry = static_cast<std::uint64_t>(column >> 64);
    }
    return total;
}

// a - b for a >= b.
Uint384 difference(const Uint384& a, const Uint384& b) noexcept {
    Uint384 result;
    std::uint64_t borrow = 0;
    for (int i = 0; i < Uint384::kWords; ++i) {
        const uint128 subtrahend = uint128{b.word[i]} + borrow;
        result.word[i] = static_cast<std::uint64_t>(uint128{a.word[i]} - subtrahend);
        borrow = uint128{a.word[i]} < subtrahend ? 1 : 0;
    }
    return result;
}

// Removes trailing digits, lowest first, remembering what the removed digits
// were worth: the most recent chunk (the most significant removed digits)
// exactly, everything below it only as "any of them non-zero".
class DigitCutter {
public:
    explicit DigitCutter(const Uint384& magnitude) noexcept : kept_(magnitude) {}

    void remove(int count) noexcept {
        while (count > 0) {
            const int chunk = std::min(count, 19);
            lower_nonzero_ = lower_nonzero_ || top_ != 0;
            top_unit_ = pow10_u64(chunk);
            top_ = kept_.divide_by(top_unit_);
            removed_ += chunk;
            count -= chunk;
        }
    }

    bool rounds_up(FinalRounding rounding) const noexcept {
        if (rounding == FinalRounding::AwayFromZero) return top_ != 0 || lower_nonzero_;
        const std::uint64_t half = top_unit_ / 2;  // 5 * 10^(chunk - 1); 0 before any removal
        if (top_ != half) return top_ > half;
        return removed_ > 0 && (lower_nonzero_ || (kept_.word[0] & 1) != 0);
    }

    const Uint384& kept() const noexcept { return kept_; }
    int removed() const noexcept { return removed_; }

private:
    Uint384 kept_;
    int removed_ = 0;
    std::uint64_t top_ = 0;
    std::uint64_t top_unit_ = 1;
    bool lower_nonzero_ = false;
};

struct Cut {
    Uint384 magnitude;
    int scale;
};

// A value of at least 2^(bits - 1) divided by 10^d still needs more than
// `limit` bits while 10^d <= 2^(bits - 1 - limit): at least
// floor((bits - 1 - limit) * log10 2) digits must go. 0.30102 is just below
// log10 2, so this never overshoots.
int digits_needed_at_least(int bits, int limit) noexcept {
    if (bits <= limit + 1) return 0;
    return (bits - 1 - limit) * 30102 / 100000;
}

// The fewest trailing digits removed that leave at most `max_scale` digits
// after the point and at most `max_bits` bits, rounded once over all of
// them. A rounding carry past the bit limit removes one digit more. No value
// when the limits could only be met at a negative scale.
std::optional<Cut> cut_back(const Uint384& magnitude, int scale, int max_scale, int max_bits,
                            FinalRounding rounding) noexcept {
    const int bits = magnitude.bit_length();
    const int digits = std::max(scale - max_scale, digits_needed_at_least(bits, max_bits));
    if (digits <= 0 && bits <= max_bits) return Cut{magnitude, scale};

    DigitCutter cutter(magnitude);
    cutter.remove(digits);
    while (cutter.kept().bit_length() > max_bits) cutter.remove(1);

    Uint384 kept = cutter.kept();
    if (cutter.rounds_up(rounding)) {
        kept.increment();
        if (kept.bit_length() > max_bits) {
            // The kept digits were all ones in binary up to the limit: round
            // the exact value at one digit fewer instead.
            cutter.remove(1);
            kept = cutter.kept();
            if (cutter.rounds_up(rounding)) kept.increment();
        }
    }
    if (cutter.removed() > scale) return std::nullopt;
    return Cut{kept, scale - cutter.removed()};
}

std::optional<WideDecimal> settle(const Uint384& magnitude, int scale, bool negative) noexcept {
    const std::optional<Cut> cut = cut_back(magnitude, scale, kWorkingScale, kWideBits, FinalRounding::HalfEven);
    if (!cut) return std::nullopt;
    const Uint192 kept = cut->magnitude.low_192();
    return WideDecimal{kept, cut->scale, negative && !kept.is_zero()};
}

// numerator / divisor rounded half to even, for a non-zero divisor below
// 2^96.
Uint384 rounded_quotient(Uint384 numerator, uint128 divisor) noexcept {
    const uint128 remainder = numerator.divide_by(divisor);
    // remainder < 2^96, so doubling it cannot wrap.
    const uint128 twice = remainder * 2;
    if (twice > divisor || (twice == divisor && (numerator.word[0] & 1) != 0)) numerator.increment();
    return numerator;
}

}  // namespace

std::optional<WideDecimal> multiply(const WideDecimal& a, const WideDecimal& b) noexcept {
    return settle(multiply_wide(a.magnitude, b.magnitude), a.scale + b.scale, a.negative != b.negative);
}

std::optional<WideDecimal> add(const WideDecimal& a, const WideDecimal& b) noexcept {
    const int scale = std::max(a.scale, b.scale);
    const Uint384 wa = raise(a.magnitude, scale - a.scale);
    const Uint384 wb = raise(b.magnitude, scale - b.scale);
    if (a.negative == b.negative) return settle(sum(wa, wb), scale, a.negative);
    if (wa >= wb) return settle(difference(wa, wb), scale, a.negative);
    return settle(difference(wb, wa), scale, b.negative);
}

std::optional<WideDecimal> divide(const WideDecimal& a, std::uint32_t divisor) noexcept {
    // Operands never carry more than the working scale, so the dividend is
    // only ever raised.
    const Uint384 numerator = raise(a.magnitude, kWorkingScale - a.scale);
    return settle(rounded_quotient(numerator, divisor), kWorkingScale, a.negative);
}

std::optional<WideDecimal> reciprocal(Decimal value) noexcept {
    // 10^(working scale + scale of value) <= 10^64 is below 2^213.
    const int digits = kWorkingScale + static_cast<int>(value.scale());
    const int first = std::min(digits, 38);
    const Uint384 numerator = multiply_wide(Uint192::from(pow10(first)), Uint192::from(pow10(digits - first)));
    return settle(rounded_quotient(numerator, value.magnitude()), kWorkingScale, value.is_negative());
}

std::optional<Decimal> to_decimal(const WideDecimal& value, FinalRounding rounding) noexcept {
    if (rounding == FinalRounding::HalfEven) {
        bool overflow = false;
        const Decimal result = reduce(value.magnitude, value.scale, value.negative, overflow);
        if (overflow) return std::nullopt;
        return result;
    }
    const std::optional<Cut> cut =
        cut_back(Uint384::from(value.magnitude), value.scale, kMaxDecimalScale, kDecimalBits, rounding);
    if (!cut) return std::nullopt;
    return Decimal::from_parts(cut->magnitude.low_128(), static_cast<std::uint32_t>(cut->scale), value.negative);
}

}  // namespace quarlen::detail
