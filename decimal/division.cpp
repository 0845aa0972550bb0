// Division: quotient digits are produced in chunks of up to nine until the
// remainder vanishes, the scale reaches 28 or no further digit fits, the last
// digit is rounded half to even, and an inexact quotient loses some trailing
// zeros by a fixed sequence. Callers see that representation, so every step
// below is kept exactly as it is.
#include <algorithm>
#include <cstdint>

#include "decimal/decimal.hpp"
#include "decimal/powers_of_ten.hpp"
#include "decimal/scale_guard.hpp"
#include "decimal/wide_integer.hpp"

namespace quarlen {

namespace {

constexpr std::uint64_t kTwoPow32 = std::uint64_t{1} << 32;
constexpr int kMaxScale = static_cast<int>(Decimal::kMaxScale);
constexpr int kChunkDigits = 9;

// 2^96 / 10 rounded, the quotient when rounding carries past 2^96 - 1.
constexpr uint128 kRoundedTwoPow96Tenth = uint128{7922816251426433759ULL} * 1000000000 + 354395034;
static_assert(kRoundedTwoPow96Tenth * 10 == Decimal::kMaxMagnitude + 5);  // 2^96 + 4

constexpr const char* kOverflow = "Division overflowed";
constexpr const char* kByZero = "Division by zero";

struct Quotient {
    uint128 magnitude = 0;
    int scale = 0;
    const char* fault = nullptr;  // set when there is no quotient
};

// The digits that follow once the remainder is scaled by 10^digits.
template <typename Remainder>
struct NextDigits {
    uint128 quotient;
    Remainder remainder;
};

// The three kinds of divisor, each with the division its remainders need.
// Below 2^32: every remainder and scaled remainder stays in 64 bits.
struct ShortDivisor {
    using Remainder = std::uint64_t;
    std::uint64_t divisor;
    std::uint64_t value() const noexcept { return divisor; }
    NextDigits<Remainder> divide(Remainder scaled) const noexcept { return {scaled / divisor, scaled % divisor}; }
};

// 2^32 to 2^64 - 1: a 128-bit remainder divided by a 64-bit divisor.
struct MiddleDivisor {
    using Remainder = uint128;
    std::uint64_t divisor;
    uint128 value() const noexcept { return divisor; }
    NextDigits<Remainder> divide(Remainder scaled) const noexcept {
        const detail::Divided128 d = detail::divide_by_64(scaled, divisor);
        return {d.quotient, d.remainder};
    }
};

// 2^64 and up: the quotient of each step fits 64 bits; the divisor's
// reciprocal is worked out once for the whole division.
struct LongDivisor {
    using Remainder = uint128;
    detail::WideDivisor divisor;
    uint128 value() const noexcept { return divisor.value(); }
    NextDigits<Remainder> divide(Remainder scaled) const noexcept {
        const detail::DividedWide d = divisor.divide(scaled);
        return {d.quotient, d.remainder};
    }
};

template <typename Divisor, typename Remainder = typename Divisor::Remainder>
NextDigits<Remainder> append_digits(uint128 quotient, Remainder remainder, const Divisor& divisor,
                                    int digits) noexcept {
    // remainder < divisor and 10^9 < 2^30: a 32-bit divisor keeps this below
    // 2^62, a 96-bit one below 2^126.
    const Remainder scaled = remainder * static_cast<Remainder>(detail::pow10_u64(digits));
    const NextDigits<Remainder> next = divisor.divide(scaled);
    return {quotient * detail::pow10(digits) + next.quotient, next.remainder};
}

// The largest count of digits, at most `limit`, by which the quotient can be
// raised and still fit in 96 bits.
int digits_that_fit(uint128 quotient, int limit) noexcept {
    int digits = limit;
    // quotient < 2^96 and 10^9 < 2^30: the product never wraps 128 bits.
    while (digits > 0 && quotient * detail::pow10(digits) > Decimal::kMaxMagnitude) --digits;
    return digits;
}

// Removes trailing zeros of an inexact quotient in the fixed order the
// results are known by: it tests the low 32 bits first, so it can leave
// zeros in place (10 / 4 stays 2.50).
void strip_trailing_zeros(Quotient& q) noexcept {
    const auto low_word = [&q] { return static_cast<std::uint32_t>(q.magnitude); };
    // Each test divides once and keeps the quotient when nothing remains.
    const auto strip = [&q](std::uint64_t power, int digits) {
        const detail::Divided128 d = detail::divide_by_64(q.magnitude, power);
        if (d.remainder != 0) return false;
        q.magnitude = d.quotient;
        q.scale -= digits;
        return true;
    };
    while (low_word() == 0 && q.scale >= 8 && strip(100000000, 8)) {
    }
    if (low_word() % 16 == 0 && q.scale >= 4) strip(10000, 4);
    if (low_word() % 4 == 0 && q.scale >= 2) strip(100, 2);
    if (low_word() % 2 == 0 && q.scale >= 1) strip(10, 1);
}

// Continues the division from the integer quotient and remainder. Remainder
// is std::uint64_t for a divisor below 2^32 (all remainder arithmetic then
// stays in 64 bits) and uint128 otherwise; both give the same digits.
template <typename Divisor, typename Remainder = typename Divisor::Remainder>
Quotient extend_quotient(uint128 quotient, Remainder remainder, const Divisor& divisor, int scale) noexcept {
    bool extended = false;
    for (;;) {
        if (remainder == 0) {
            if (scale >= 0) break;
            // Exact but still at a negative scale: raise it towards scale 0.
            const int digits = std::min(kChunkDigits, -scale);
            quotient *= detail::pow10(digits);
            if (quotient > Decimal::kMaxMagnitude) return {0, 0, kOverflow};
            scale += digits;
            continue;
        }
        extended = true;
        int digits = digits_that_fit(quotient, std::min(kChunkDigits, kMaxScale - scale));
        if (digits > 0) {
            NextDigits<Remainder> next = append_digits<Divisor>(quotient, remainder, divisor, digits);
            if (next.quotient > Decimal::kMaxMagnitude) {
                // The appended digits carried past 2^96 - 1; one digit fewer
                // always fits, since quotient * 10^digits did.
                --digits;
                if (digits > 0) next = append_digits<Divisor>(quotient, remainder, divisor, digits);
            }
            if (digits > 0) {
                quotient = next.quotient;
                remainder = next.remainder;
                scale += digits;
                continue;
            }
        }
        // No further digit fits: round the last one half to even on the
        // remainder. 2 * remainder < 2^97 cannot wrap.
        const uint128 twice_remainder = uint128{remainder} * 2;
        if (twice_remainder > divisor.value() || (twice_remainder == divisor.value() && (quotient & 1) != 0)) {
            ++quotient;
            if (quotient > Decimal::kMaxMagnitude) {
                quotient = kRoundedTwoPow96Tenth;
                --scale;
            }
        }
        break;
    }
    // A quotient that only a negative scale could hold exceeds the range.
    if (scale < 0) return {0, 0, kOverflow};
    Quotient result{quotient, scale, nullptr};
    if (extended) strip_trailing_zeros(result);
    return result;
}

Quotient divide(Decimal a, Decimal b) noexcept {
    const uint128 dividend = a.magnitude();
    const uint128 divisor = b.magnitude();
    if (divisor == 0) return {0, 0, kByZero};
    const int natural_scale = static_cast<int>(a.scale()) - static_cast<int>(b.scale());

    if (divisor < kTwoPow32) {
        // Short path: the dividend's top 64 bits, then the remainder with
        // its last 32 bits; every remainder stays below 2^32, so two 64-bit
        // divisions do it.
        const std::uint64_t d = static_cast<std::uint64_t>(divisor);
        const std::uint64_t upper = static_cast<std::uint64_t>(dividend >> 32);
        const std::uint64_t lower = ((upper % d) << 32) | static_cast<std::uint32_t>(dividend);
        const uint128 quotient = (uint128{upper / d} << 32) | (lower / d);
        return extend_quotient(quotient, lower % d, ShortDivisor{d}, natural_scale);
    }
    if ((divisor >> 64) == 0) {
        const MiddleDivisor middle{static_cast<std::uint64_t>(divisor)};
        const NextDigits<uint128> integer = middle.divide(dividend);
        return extend_quotient(integer.quotient, integer.remainder, middle, natural_scale);
    }
    const LongDivisor wide{detail::WideDivisor(divisor)};
    const NextDigits<uint128> integer = wide.divide(dividend);
    return extend_quotient(integer.quotient, integer.remainder, wide, natural_scale);
}

std::optional<Decimal> to_decimal(const Quotient& q, bool negative) noexcept {
    if (q.fault != nullptr) return std::nullopt;
    return Decimal::from_parts(q.magnitude, static_cast<std::uint32_t>(q.scale), negative);
}

}  // namespace

Decimal operator/(Decimal a, Decimal b) {
    detail::require_valid_scale(a);
    detail::require_valid_scale(b);
    const Quotient q = divide(a, b);
    if (q.fault != nullptr) throw DecimalFault(q.fault);
    return *to_decimal(q, a.is_negative() != b.is_negative());
}

std::optional<Decimal> Decimal::checked_div(Decimal other) const noexcept {
    if (!detail::has_valid_scale(*this) || !detail::has_valid_scale(other)) return std::nullopt;
    return to_decimal(divide(*this, other), negative_ != other.negative_);
}

}  // namespace quarlen
