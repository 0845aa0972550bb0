// Division. The documented procedure produces quotient digits in chunks of
// up to nine until the remainder vanishes, the scale reaches 28 or no
// further digit fits in 96 bits, rounds the last digit half to even, and
// strips some trailing zeros of an inexact quotient by a fixed sequence.
// Callers see that representation, so it is kept exactly; but it is reached
// in one division rather than chunk by chunk:
//
// - An inexact quotient always ends at the same scale T whatever the
//   chunking: the largest scale up to 28 at which the quotient still fits
//   96 bits. So A * 10^K (K = T - natural scale) is divided once and the
//   last digit rounded on the remainder.
// - An exact quotient stops at the first chunk boundary where nothing is
//   left over; that boundary follows from its count of trailing zeros.
#include <algorithm>
#include <array>
#include <cstdint>

#include "decimal/decimal.hpp"
#include "decimal/digit_shift.hpp"
#include "decimal/kernels.hpp"
#include "decimal/scale_guard.hpp"
#include "decimal/trailing_zeros.hpp"
#include "decimal/wide_integer.hpp"

namespace quarlen {

namespace {

using detail::Uint192;

constexpr int kMaxScale = static_cast<int>(Decimal::kMaxScale);
constexpr int kChunkDigits = 9;
constexpr int kMagnitudeBits = 96;

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

// The digits K appended to the quotient must keep A * 10^K / B below 2^96,
// that is 10^K < 2^96 * B / A. With a and b the bit lengths of A and B that
// bound lies between 2^(e - 1) and 2^(e + 1), e = 96 + b - a, so the answer
// is the largest K with 10^K < 2^(e + 1) or one less (2 log10 2 < 1).
constexpr int kMaxBitGap = 2 * kMagnitudeBits - 1;
constexpr auto kMostDigitsForBitGap = [] {
    std::array<int, kMaxBitGap + 1> table{};
    for (int gap = 0; gap <= kMaxBitGap; ++gap) {
        // 10^K < 2^(gap + 1) exactly when 10^K has at most gap + 1 bits (K > 0).
        int digits = 0;
        while (digits < detail::kMaxWidePow10 &&
               detail::kPow10Wide[static_cast<std::size_t>(digits + 1)].bit_length() <= gap + 1)
            ++digits;
        table[static_cast<std::size_t>(gap)] = digits;
    }
    return table;
}();
static_assert(kMostDigitsForBitGap[1] == 0 && kMostDigitsForBitGap[3] == 1 && kMostDigitsForBitGap[191] == 57);

// The dividend raised by the most digits, at most `limit`, that keep the
// quotient by `divisor` within 96 bits.
struct ScaledDividend {
    Uint192 value;  // dividend * 10^digits, below 2^96 * divisor
    int digits;
};

ScaledDividend scale_dividend(uint128 dividend, uint128 divisor, int limit) noexcept {
    const int gap = kMagnitudeBits + detail::bit_length(divisor) - detail::bit_length(dividend);
    const int digits = std::min(kMostDigitsForBitGap[static_cast<std::size_t>(gap)], limit);
    if (digits == 0) return {Uint192::from(dividend), 0};

    // Form it one digit short, then try the last digit: times ten, it must
    // stay below 2^96 * divisor, i.e. its value / 2^64 below divisor * 2^32.
    const Uint192 shorter = detail::multiply_by_pow10(dividend, digits - 1);
    Uint192 longer;
    std::uint64_t carry = 0;
    for (int i = 0; i < 3; ++i) {
        const uint128 column = uint128{shorter.word[i]} * 10 + carry;
        longer.word[i] = static_cast<std::uint64_t>(column);
        carry = static_cast<std::uint64_t>(column >> 64);
    }
    const uint128 longer_top = (uint128{longer.word[2]} << 64) | longer.word[1];
    const bool fits = carry == 0 && longer_top < (divisor << 32);
    return fits ? ScaledDividend{longer, digits} : ScaledDividend{shorter, digits - 1};
}

struct IntegerQuotient {
    uint128 quotient;
    uint128 remainder;
};

// value / divisor for a value below 2^96 * divisor.
IntegerQuotient divide_scaled(const Uint192& value, uint128 divisor) noexcept {
    if ((divisor >> 64) == 0) {
        // One divq per quotient word; the top word is below the divisor
        // because the quotient fits 128 bits.
        const std::uint64_t d = static_cast<std::uint64_t>(divisor);
        const detail::Divided64 high = detail::divide_128_by_64(value.word[2], value.word[1], d);
        const detail::Divided64 low = detail::divide_128_by_64(high.remainder, value.word[0], d);
        return {(uint128{high.quotient} << 64) | low.quotient, low.remainder};
    }
    // Two 3-by-2-word steps on the dividend shifted as the divisor is (by
    // 32 to 63 bits, as the divisor is below 2^96); the shifted dividend is
    // below 2^96 * 2^128, so it has four words and its top two are below
    // the shifted divisor.
    const detail::TwoWordDivisor d(divisor);
    const int shift = d.shift();
    const std::uint64_t n3 = value.word[2] >> (64 - shift);
    const std::uint64_t n2 = (value.word[2] << shift) | (value.word[1] >> (64 - shift));
    const std::uint64_t n1 = (value.word[1] << shift) | (value.word[0] >> (64 - shift));
    const std::uint64_t n0 = value.word[0] << shift;
    uint128 rest = 0;
    const std::uint64_t high = d.divide(n3, n2, n1, rest);
    const std::uint64_t low = d.divide(static_cast<std::uint64_t>(rest >> 64), static_cast<std::uint64_t>(rest), n0, rest);
    return {(uint128{high} << 64) | low, rest >> shift};
}

// Removes trailing zeros of an inexact quotient in the fixed order the
// results are known by: it tests the low 32 bits first, so it can leave
// zeros in place (10 / 4 stays 2.50). The bit tests already guarantee the
// power of two in each 10^k, so only 5^k remains to be tested.
void strip_trailing_zeros(Quotient& q) noexcept {
    const auto low_word = [&q] { return static_cast<std::uint32_t>(q.magnitude); };
    const auto strip = [&q](int digits) {
        uint128 odd_part = q.magnitude >> digits;
        if (!detail::divide_exactly_by_pow5(odd_part, digits)) return false;
        q.magnitude = odd_part;
        q.scale -= digits;
        return true;
    };
    while (low_word() == 0 && q.scale >= 8 && strip(8)) {
    }
    if (low_word() % 16 == 0 && q.scale >= 4) strip(4);
    if (low_word() % 4 == 0 && q.scale >= 2) strip(2);
    if (low_word() % 2 == 0 && q.scale >= 1) strip(1);
}

// value / 10^digits for a value that 10^digits divides.
uint128 without_zeros(uint128 value, int digits) noexcept {
    detail::divide_exactly_by_pow10(value, digits);
    return value;
}

// An exact quotient: A * 10^digits = quotient * B, at scale natural + digits.
Quotient settle_exact(uint128 quotient, int digits, int natural_scale) noexcept {
    const int scale = natural_scale + digits;
    // The digits were limited by the 96 bits, not by scale 28, so the value
    // at scale 0 would need more than 96 bits.
    if (scale < 0) return {0, 0, kOverflow};
    uint128 stripped = quotient;
    const int zeros = std::min(detail::remove_trailing_zeros(stripped), digits);
    if (zeros == digits) {
        // Exact at the natural scale already, or raised from a negative one
        // to scale 0: either way no digit was appended.
        const int kept_scale = std::max(natural_scale, 0);
        return {without_zeros(quotient, scale - kept_scale), kept_scale, nullptr};
    }
    // The quotient grew in chunks of nine digits from the natural scale and
    // stopped at the first chunk boundary where nothing was left over; one
    // below scale 0 was raised to scale 0.
    const int chunks = (digits - zeros + kChunkDigits - 1) / kChunkDigits;
    const int stop = std::clamp(natural_scale + kChunkDigits * chunks, 0, scale);
    Quotient result{without_zeros(quotient, scale - stop), stop, nullptr};
    strip_trailing_zeros(result);
    return result;
}

Quotient divide_magnitudes(Decimal a, Decimal b) noexcept {
    const uint128 dividend = a.magnitude();
    const uint128 divisor = b.magnitude();
    if (divisor == 0) return {0, 0, kByZero};
    const int natural_scale = static_cast<int>(a.scale()) - static_cast<int>(b.scale());
    // Zero divides exactly; a negative natural scale is raised to 0.
    if (dividend == 0) return {0, std::max(natural_scale, 0), nullptr};

    const ScaledDividend scaled = scale_dividend(dividend, divisor, kMaxScale - natural_scale);
    const IntegerQuotient division = divide_scaled(scaled.value, divisor);
    if (division.remainder == 0) return settle_exact(division.quotient, scaled.digits, natural_scale);

    // Inexact: round the last digit half to even on the remainder. Twice the
    // remainder is below 2^97 and cannot wrap.
    Quotient result{division.quotient, natural_scale + scaled.digits, nullptr};
    const uint128 twice_remainder = division.remainder * 2;
    if (twice_remainder > divisor || (twice_remainder == divisor && (result.magnitude & 1) != 0)) {
        ++result.magnitude;
        if (result.magnitude > Decimal::kMaxMagnitude) {
            result.magnitude = kRoundedTwoPow96Tenth;
            --result.scale;
        }
    }
    // A quotient that only a negative scale could hold exceeds the range.
    if (result.scale < 0) return {0, 0, kOverflow};
    strip_trailing_zeros(result);
    return result;
}

detail::Outcome to_outcome(const Quotient& q, bool negative) noexcept {
    if (q.fault != nullptr) return {ZERO, q.fault};
    return {Decimal::from_parts(q.magnitude, static_cast<std::uint32_t>(q.scale), negative)};
}

}  // namespace

detail::Outcome detail::divide(Decimal a, Decimal b) noexcept {
    return to_outcome(divide_magnitudes(a, b), a.is_negative() != b.is_negative());
}

Decimal detail::halve(Decimal a) noexcept {
    const uint128 m = a.magnitude();
    const int scale = static_cast<int>(a.scale());
    // Even: exact at the same scale.
    if ((m & 1) == 0) return Decimal::from_parts(m >> 1, a.scale(), a.is_negative());
    // Odd: the first chunk appends k digits (at most nine, up to scale 28,
    // within 96 bits) and ends exact, m * 10^k / 2 = 5m * 10^(k - 1). The
    // stripping sequence then removes 4, 2 and 1 of those k - 1 zeros as
    // far as they go, which leaves one of them only when k = 9.
    constexpr uint128 kMaxForNineDigits = Decimal::kMaxMagnitude / 500000000;
    if (scale <= kMaxScale - kChunkDigits && m <= kMaxForNineDigits)
        return Decimal::from_parts(m * 50, static_cast<std::uint32_t>(scale + 2), a.is_negative());
    if (scale < kMaxScale && m <= Decimal::kMaxMagnitude / 5)
        return Decimal::from_parts(m * 5, static_cast<std::uint32_t>(scale + 1), a.is_negative());
    // No digit fits: the general rounding path.
    return divide(a, TWO).value;
}

Decimal operator/(Decimal a, Decimal b) {
    detail::require_valid_scale(a);
    detail::require_valid_scale(b);
    const detail::Outcome q = detail::divide(a, b);
    if (!q.ok()) throw DecimalFault(q.fault);
    return q.value;
}

std::optional<Decimal> Decimal::checked_div(Decimal other) const noexcept {
    if (!detail::has_valid_scale(*this) || !detail::has_valid_scale(other)) return std::nullopt;
    const detail::Outcome q = detail::divide(*this, other);
    if (!q.ok()) return std::nullopt;
    return q.value;
}

}  // namespace quarlen
