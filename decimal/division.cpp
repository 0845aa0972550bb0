// Division. The digit rule produces quotient digits in chunks of up to nine
// until the remainder vanishes, the scale reaches 28 or no further digit
// fits in 96 bits, rounds the last digit half to even, and strips some
// trailing zeros of an inexact quotient by a fixed sequence. Callers see
// that representation, so it is kept exactly; but it is reached in one
// division rather than chunk by chunk:
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

constexpr const char* kOverflow = "Division overflowed";
constexpr const char* kByZero = "Division by zero";

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
// quotient by `divisor` within 96 bits: dividend * 10^digits, below
// 2^96 * divisor. Held as three scalar words, which the compiler keeps in
// registers (a selected struct was copied through memory).
struct ScaledDividend {
    std::uint64_t high;
    std::uint64_t middle;
    std::uint64_t low;
    int digits;
};

ScaledDividend scale_dividend(uint128 dividend, uint128 divisor, int limit) noexcept {
    const int gap = kMagnitudeBits + detail::bit_length(divisor) - detail::bit_length(dividend);
    const int most = kMostDigitsForBitGap[static_cast<std::size_t>(gap)];
    if (limit < most) {
        // Scale 28 stops the quotient first: with at most one digit fewer
        // than the bit lengths allow, it always fits.
        const Uint192 scaled = detail::multiply_by_pow10(dividend, limit);
        return {scaled.word[2], scaled.word[1], scaled.word[0], limit};
    }
    const int digits = most;
    if (digits == 0) return {0, static_cast<std::uint64_t>(dividend >> 64), static_cast<std::uint64_t>(dividend), 0};

    // Form it one digit short, then try the last digit: times ten, it must
    // stay below 2^96 * divisor, i.e. its value / 2^64 below divisor * 2^32.
    const Uint192 shorter = detail::multiply_by_pow10(dividend, digits - 1);
    const uint128 low = uint128{shorter.word[0]} * 10;
    const uint128 middle = uint128{shorter.word[1]} * 10 + static_cast<std::uint64_t>(low >> 64);
    const uint128 high = uint128{shorter.word[2]} * 10 + static_cast<std::uint64_t>(middle >> 64);
    const uint128 longer_top = (high << 64) | static_cast<std::uint64_t>(middle);
    const bool fits = (high >> 64) == 0 && longer_top < (divisor << 32);
    return {fits ? static_cast<std::uint64_t>(high) : shorter.word[2],
            fits ? static_cast<std::uint64_t>(middle) : shorter.word[1],
            fits ? static_cast<std::uint64_t>(low) : shorter.word[0], fits ? digits : digits - 1};
}

struct IntegerQuotient {
    uint128 quotient;
    uint128 remainder;
};

// The high word of (high low) shifted left by 0..63 bits: one shld. The
// mask tells the compiler the shift stays below 64.
constexpr std::uint64_t shift_in(std::uint64_t high, std::uint64_t low, int shift) noexcept {
    return static_cast<std::uint64_t>((((uint128{high} << 64) | low) << (shift & 63)) >> 64);
}

// value / divisor for a value below 2^96 * divisor.
IntegerQuotient divide_scaled(const ScaledDividend& value, uint128 divisor) noexcept {
    if ((divisor >> 64) == 0) {
        // One divq per quotient word: the top word is below the divisor, as
        // the quotient fits 128 bits. (A reciprocal costs a divq of its own
        // and measured slower.)
        const detail::Divided128 q =
            detail::divide_192_by_64(value.high, value.middle, value.low, static_cast<std::uint64_t>(divisor));
        return {q.quotient, q.remainder};
    }
    // Two words: the divisor is shifted until its top bit is set and the
    // value with it, and each quotient word comes from a 3-by-2-word step by
    // multiplications. Shifted by 32 to 63 bits (the divisor is below 2^96),
    // the value is below 2^96 * 2^128: four words, the top two below the
    // shifted divisor.
    const detail::TwoWordDivisor d(divisor);
    const int shift = d.shift();
    const std::uint64_t n3 = value.high >> ((64 - shift) & 63);
    const std::uint64_t n2 = shift_in(value.high, value.middle, shift);
    const std::uint64_t n1 = shift_in(value.middle, value.low, shift);
    const std::uint64_t n0 = value.low << shift;
    uint128 rest = 0;
    const std::uint64_t high = d.divide(n3, n2, n1, rest);
    const std::uint64_t low = d.divide(static_cast<std::uint64_t>(rest >> 64), static_cast<std::uint64_t>(rest), n0, rest);
    return {(uint128{high} << 64) | low, rest >> (shift & 63)};
}

// Removes trailing zeros of an inexact quotient in the fixed order the
// results are known by: it tests the low 32 bits first, so it can leave
// zeros in place (10 / 4 stays 2.50). The bit tests already guarantee the
// power of two in each 10^k, so only 5^k remains to be tested. Inlined into
// both callers: as a call it kept the quotient in memory.
[[gnu::always_inline]] inline void strip_trailing_zeros(uint128& magnitude, int& scale) noexcept {
    const auto low_word = [&magnitude] { return static_cast<std::uint32_t>(magnitude); };
    const auto strip = [&magnitude, &scale](int digits) {
        uint128 odd_part = magnitude >> digits;
        if (!detail::divide_exactly_by_pow5(odd_part, digits)) return false;
        magnitude = odd_part;
        scale -= digits;
        return true;
    };
    while (low_word() == 0 && scale >= 8 && strip(8)) {
    }
    // Every remaining step needs 5 to divide the magnitude; most often it
    // does not, and one test modulo 5 settles all three (2^64 = 1 mod 5, so
    // the two words' sum stands for the magnitude).
    const std::uint64_t low = static_cast<std::uint64_t>(magnitude);
    std::uint64_t word_sum = low + static_cast<std::uint64_t>(magnitude >> 64);
    word_sum += word_sum < low ? 1 : 0;
    if (word_sum * 0xCCCCCCCCCCCCCCCDULL > 0x3333333333333333ULL) return;
    if (low_word() % 16 == 0 && scale >= 4) strip(4);
    if (low_word() % 4 == 0 && scale >= 2) strip(2);
    if (low_word() % 2 == 0 && scale >= 1) strip(1);
}

// value / 10^digits for a value that 10^digits divides.
uint128 without_zeros(uint128 value, int digits) noexcept {
    detail::divide_exactly_by_pow10(value, digits);
    return value;
}

// An exact quotient, A * 10^digits = quotient * B at scale natural +
// digits, brought to the scale the digit rule stops at. Returns whether
// digits were appended (then the stripping applies); the magnitude and the
// scale are updated in place. The scale is not negative.
bool settle_exact(uint128& magnitude, int& scale, int digits, int natural_scale) noexcept {
    // Most often the quotient was exact at the natural scale already (or
    // raised from a negative one to scale 0): then no digit was appended,
    // and one exact division by 10^digits tells. A magnitude has at most 28
    // trailing zeros.
    uint128 stripped = magnitude;
    if (digits <= kMaxScale && detail::divide_exactly_by_pow10(stripped, digits)) {
        const int kept_scale = std::max(natural_scale, 0);
        magnitude = natural_scale >= 0 ? stripped : without_zeros(magnitude, scale);
        scale = kept_scale;
        return false;
    }
    const int zeros = std::min(detail::remove_trailing_zeros(stripped), digits);
    // The quotient grew in chunks of nine digits from the natural scale and
    // stopped at the first chunk boundary where nothing was left over; one
    // below scale 0 was raised to scale 0.
    const int chunks = (digits - zeros + kChunkDigits - 1) / kChunkDigits;
    const int stop = std::clamp(natural_scale + kChunkDigits * chunks, 0, scale);
    magnitude = without_zeros(magnitude, scale - stop);
    scale = stop;
    return true;
}

Decimal quotient(Decimal a, Decimal b, const char*& fault) noexcept {
    const uint128 dividend = a.magnitude();
    const uint128 divisor = b.magnitude();
    const bool negative = a.is_negative() != b.is_negative();
    if (divisor == 0) {
        fault = kByZero;
        return ZERO;
    }
    const int natural_scale = static_cast<int>(a.scale()) - static_cast<int>(b.scale());
    // Zero divides exactly; a negative natural scale is raised to 0.
    if (dividend == 0) return Decimal::from_parts(0, static_cast<std::uint32_t>(std::max(natural_scale, 0)), false);

    const ScaledDividend scaled = scale_dividend(dividend, divisor, kMaxScale - natural_scale);
    const IntegerQuotient division = divide_scaled(scaled, divisor);
    uint128 magnitude = division.quotient;
    int scale = natural_scale + scaled.digits;
    bool extended = true;
    if (division.remainder != 0) {
        // Inexact: round the last digit half to even on the remainder. Twice
        // the remainder is below 2^97 and cannot wrap.
        const uint128 twice_remainder = division.remainder * 2;
        const bool up = twice_remainder > divisor || (twice_remainder == divisor && (magnitude & 1) != 0);
        magnitude += up ? 1 : 0;
        if (magnitude > Decimal::kMaxMagnitude) [[unlikely]] {
            magnitude = detail::kRoundedTwoPow96Tenth;
            --scale;
        }
    }
    // A quotient that only a negative scale could hold exceeds the range.
    // (An exact one stopped short of scale 0 because 96 bits ran out, not
    // scale 28.)
    if (scale < 0) {
        fault = kOverflow;
        return ZERO;
    }
    if (division.remainder == 0) extended = settle_exact(magnitude, scale, scaled.digits, natural_scale);
    if (extended) strip_trailing_zeros(magnitude, scale);
    return Decimal::from_parts(magnitude, static_cast<std::uint32_t>(scale), negative);
}

}  // namespace

Decimal detail::divide(Decimal a, Decimal b, const char*& fault) noexcept { return quotient(a, b, fault); }

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
    // No digit fits: m / 2 is a tie, rounded to the even neighbour, and
    // the quotient counts as extended, so the stripping applies.
    uint128 magnitude = m >> 1;
    magnitude += magnitude & 1;
    int rounded_scale = scale;
    strip_trailing_zeros(magnitude, rounded_scale);
    return Decimal::from_parts(magnitude, static_cast<std::uint32_t>(rounded_scale), a.is_negative());
}

Decimal operator/(Decimal a, Decimal b) {
    detail::require_valid_scale(a);
    detail::require_valid_scale(b);
    const char* fault = nullptr;
    const Decimal q = quotient(a, b, fault);
    if (fault != nullptr) throw DecimalFault(fault);
    return q;
}

std::optional<Decimal> Decimal::checked_div(Decimal other) const noexcept {
    if (!detail::has_valid_scale(*this) || !detail::has_valid_scale(other)) return std::nullopt;
    const char* fault = nullptr;
    const Decimal q = quotient(*this, other, fault);
    if (fault != nullptr) return std::nullopt;
    return q;
}

}  // namespace quarlen
