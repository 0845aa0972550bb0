// The number every quantity in quarlen is held in: an exact base-ten value
// with a 96-bit magnitude and a scale of 0..28 digits after the point.
//
// Arithmetic comes in two forms. The plain operators (+ - * /) either
// complete exactly as the rounding rules say or throw DecimalFault with the
// fault's fixed message; the checked_* forms return no value instead. Nothing
// here allocates except the text conversions that build a std::string.
#pragma once

#include <compare>
#include <cstdint>
#include <exception>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace quarlen {

// Thrown by the plain operators (and the few other operations documented to
// fault). The message is always a string literal, so the exception itself
// never allocates and can be copied freely.
class DecimalFault : public std::exception {
public:
    // Not constexpr: std::exception's constructor is not constexpr in the
    // standard library we build with.
    explicit DecimalFault(const char* message) noexcept : message_(message) {}
    const char* what() const noexcept override { return message_; }

private:
    const char* message_;
};

// The unsigned 128-bit integer the implementation computes magnitudes in.
__extension__ typedef unsigned __int128 uint128;

class Decimal {
public:
    static constexpr std::uint32_t kMaxScale = 28;
    // 2^96 - 1, the largest magnitude.
    static constexpr uint128 kMaxMagnitude = (uint128{1} << 96) - 1;

    // Zero with scale 0.
    constexpr Decimal() noexcept = default;

    // Builds a value from its parts. The magnitude must be below 2^96 and the
    // scale at most 28; a negative zero is stored as zero.
    static constexpr Decimal from_parts(uint128 magnitude, std::uint32_t scale, bool negative) noexcept {
        Decimal d;
        d.lo_ = static_cast<std::uint64_t>(magnitude);
        d.hi_ = static_cast<std::uint32_t>(magnitude >> 64) |
                (std::uint64_t{static_cast<std::uint8_t>(scale)} << kScaleShift) |
                (std::uint64_t{negative && magnitude != 0} << kSignShift);
        return d;
    }
    static constexpr Decimal from_int(std::int64_t value) noexcept {
        const bool negative = value < 0;
        const std::uint64_t magnitude =
            negative ? std::uint64_t{0} - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
        return from_parts(magnitude, 0, negative);
    }
    static constexpr Decimal from_u64(std::uint64_t value) noexcept { return from_parts(value, 0, false); }

    constexpr uint128 magnitude() const noexcept { return (uint128{magnitude_high()} << 64) | lo_; }
    constexpr std::uint32_t scale() const noexcept { return static_cast<std::uint8_t>(hi_ >> kScaleShift); }
    // The sign flag: set only for values below zero.
    constexpr bool is_negative() const noexcept { return ((hi_ >> kSignShift) & 1) != 0; }
    constexpr bool is_zero() const noexcept { return lo_ == 0 && magnitude_high() == 0; }
    constexpr bool is_positive() const noexcept { return !is_zero() && !is_negative(); }

    // Plain operators: exact under the rounding rules, or DecimalFault with
    // "Addition overflowed", "Subtraction overflowed", "Multiplication
    // overflowed", "Division overflowed" or "Division by zero".
    //
    // The commonest cases are settled inline, with exactly the results the
    // general routines give: a sum or difference of two values at the same
    // scale, and a product of two magnitudes below 2^64 that fits as it is.
    friend Decimal operator+(Decimal a, Decimal b) { return add_or_subtract(a, b, false); }
    friend Decimal operator-(Decimal a, Decimal b) { return add_or_subtract(a, b, true); }
    friend Decimal operator*(Decimal a, Decimal b) {
        if ((a.magnitude_high() | b.magnitude_high()) == 0 && a.scale() + b.scale() <= kMaxScale) {
            const uint128 product = uint128{a.lo_} * b.lo_;
            if (product <= kMaxMagnitude)
                return from_parts(product, a.scale() + b.scale(), a.is_negative() != b.is_negative());
        }
        return multiply_general(a, b);
    }
    friend Decimal operator/(Decimal a, Decimal b);
    Decimal& operator+=(Decimal other) { return *this = *this + other; }
    Decimal& operator-=(Decimal other) { return *this = *this - other; }
    Decimal& operator*=(Decimal other) { return *this = *this * other; }
    Decimal& operator/=(Decimal other) { return *this = *this / other; }

    // Sign flipped; magnitude and scale unchanged (zero stays non-negative).
    constexpr Decimal operator-() const noexcept { return from_parts(magnitude(), scale(), !is_negative()); }

    // Checked forms: no value where the plain operator would fault.
    std::optional<Decimal> checked_add(Decimal other) const noexcept;
    std::optional<Decimal> checked_sub(Decimal other) const noexcept;
    std::optional<Decimal> checked_mul(Decimal other) const noexcept;
    std::optional<Decimal> checked_div(Decimal other) const noexcept;

    // Ordering and equality by value, never by representation (1.5 == 1.50).
    friend bool operator==(Decimal a, Decimal b) noexcept;
    friend std::strong_ordering operator<=>(Decimal a, Decimal b) noexcept;

    // Sign cleared; magnitude and scale unchanged.
    constexpr Decimal abs() const noexcept { return from_parts(magnitude(), scale(), false); }
    // Digits after the point dropped (towards zero); scale 0.
    Decimal trunc() const noexcept;
    // Smallest integer >= the value; scale 0.
    Decimal ceil() const;
    // Trailing zeros after the point removed.
    Decimal normalize() const noexcept;
    // The value truncated towards zero, or no value when negative or beyond 64 bits.
    std::optional<std::uint64_t> to_u64() const noexcept;

    // Newton's iteration in this number's own arithmetic; no value for a
    // negative argument. Faults with "geo mean circuit breaker" if the
    // iteration fails to settle within 999 passes.
    std::optional<Decimal> sqrt() const;

    // Plain form: optional sign, digits, at most one point, '_' between digits.
    static std::expected<Decimal, std::string> parse(std::string_view text);
    // Scientific form: a plain mantissa, 'e' or 'E', a signed integer exponent.
    static std::expected<Decimal, std::string> parse_scientific(std::string_view text);

    // Text form: sign, integer digits, and exactly `scale` digits after the point.
    std::string to_string() const;
    // Writes the text form into `out` (at least kMaxTextLength bytes) and
    // returns the number of characters written; no allocation.
    static constexpr std::size_t kMaxTextLength = 64;
    std::size_t format_to(char* out) const noexcept;

private:
    static Decimal add_or_subtract(Decimal a, Decimal b, bool subtract) {
        if (a.scale() == b.scale() && a.scale() <= kMaxScale) {
            // Both magnitudes are below 2^96: neither result wraps 128 bits.
            const uint128 ma = a.magnitude();
            const uint128 mb = b.magnitude();
            const bool b_negative = b.is_negative() != subtract;
            if (a.is_negative() == b_negative) {
                if (ma + mb <= kMaxMagnitude) return from_parts(ma + mb, a.scale(), a.is_negative());
            } else {
                // A zero difference comes out non-negative through from_parts.
                return ma >= mb ? from_parts(ma - mb, a.scale(), a.is_negative())
                                : from_parts(mb - ma, a.scale(), b_negative);
            }
        }
        return subtract ? subtract_general(a, b) : add_general(a, b);
    }
    // Every case, faults included (arithmetic.cpp).
    static Decimal add_general(Decimal a, Decimal b);
    static Decimal subtract_general(Decimal a, Decimal b);
    static Decimal multiply_general(Decimal a, Decimal b);

    // The second word packs the magnitude's high 32 bits, the scale and the
    // sign, so that building and taking apart a value is register arithmetic
    // (separate narrow fields made the compiler assemble each result in
    // memory and read it back whole, which stalls the load).
    static constexpr int kScaleShift = 32;
    static constexpr int kSignShift = 40;
    constexpr std::uint32_t magnitude_high() const noexcept { return static_cast<std::uint32_t>(hi_); }

    std::uint64_t lo_ = 0;  // low 64 bits of the magnitude
    std::uint64_t hi_ = 0;  // bits 0-31: high bits of the magnitude; 32-39: scale (digits after the
                            // point, 0..28); 40: sign, set only for non-zero values below zero
};

static_assert(sizeof(Decimal) == 16, "Decimal is a 16-byte value type");

// min returns a when a <= b; max returns b only when a < b: on ties the
// first argument wins for both.
inline Decimal min(Decimal a, Decimal b) noexcept { return a <= b ? a : b; }
inline Decimal max(Decimal a, Decimal b) noexcept { return a < b ? b : a; }

inline constexpr Decimal ZERO = Decimal::from_parts(0, 0, false);
inline constexpr Decimal ONE = Decimal::from_parts(1, 0, false);
inline constexpr Decimal TWO = Decimal::from_parts(2, 0, false);
inline constexpr Decimal TEN = Decimal::from_parts(10, 0, false);

}  // namespace quarlen
