// Integer and decimal powers, the exponential and the natural logarithm.
//
// The range reductions use rounded constants and the Decimal's own
// multiplication, so results match the true values to about 27 significant
// digits and their last digit or two are this algorithm's own. Callers (and
// the tests) rely on those exact digits: ln 2 = 0.6931471805599453094172321216
// and exp 66 = 46071866343312915426773184482, for instance. The roundings
// below are chosen to produce them; do not "improve" one without checking
// every known value again.
#include "decimal/powers.hpp"

#include <cstdint>
#include <limits>

#include "decimal/kernels.hpp"
#include "decimal/scale_guard.hpp"
#include "decimal/wide_decimal.hpp"

namespace quarlen {

namespace {

using detail::FinalRounding;
using detail::WideDecimal;

constexpr Decimal kE =
    Decimal::from_parts(uint128{27182818284590452ULL} * 1000000000000ULL + 353602874714ULL, 28, false);
constexpr Decimal kInverseE =
    Decimal::from_parts(uint128{3678794411714423215ULL} * 1000000000ULL + 955237702ULL, 28, false);
// ln 10 to 27 digits after the point.
constexpr Decimal kLn10 = Decimal::from_parts(uint128{2302585092994045684ULL} * 1000000000ULL + 17991454ULL, 27, false);

// e^67 already exceeds 2^96, so no larger integer part can have a value;
// refusing it early also spares squaring e up to a 64-bit exponent.
constexpr std::uint64_t kLargestExpIntegerPart = 66;
// The series stop at their first negligible term or at these caps.
constexpr int kLastExpTerm = 98;
constexpr std::uint32_t kLastLnDenominator = 199;

constexpr const char* kLnOfZero = "Unable to calculate ln for zero";
constexpr const char* kLnOfNegative = "Unable to calculate ln for negative numbers";
constexpr const char* kLnFailed = "Calculation of ln failed for unknown reasons";

// At the working scale a term of a series is negligible once it rounds to
// zero: everything a Decimal shows, and eight digits beyond, is summed.
bool negligible(const WideDecimal& term) noexcept { return term.is_zero(); }

// x^n by repeated squaring, every product cut back in the wide intermediate.
// No value when a product outgrows the intermediate even at scale 0 (then
// the power is far beyond any Decimal).
std::optional<WideDecimal> wide_power(Decimal x, std::uint64_t n) noexcept {
    WideDecimal result = WideDecimal::from(ONE);
    WideDecimal base = WideDecimal::from(x);
    while (n != 0) {
        if ((n & 1) != 0) {
            const std::optional<WideDecimal> product = detail::multiply(result, base);
            if (!product) return std::nullopt;
            result = *product;
        }
        n >>= 1;
        // The last squaring is skipped: it is not needed and could overflow
        // where the result does not.
        if (n != 0) {
            const std::optional<WideDecimal> square = detail::multiply(base, base);
            if (!square) return std::nullopt;
            base = *square;
        }
    }
    return result;
}

std::optional<Decimal> checked_powi(Decimal x, std::uint64_t n) noexcept {
    const std::optional<WideDecimal> power = wide_power(x, n);
    if (!power) return std::nullopt;
    return detail::to_decimal(*power, FinalRounding::HalfEven);
}

// Σ r^i / i! for 0 <= r < 1, each term formed from the previous one.
std::optional<WideDecimal> exp_series(Decimal r) noexcept {
    const WideDecimal wide_r = WideDecimal::from(r);
    WideDecimal total = WideDecimal::from(ONE);
    WideDecimal term = total;
    for (int i = 1; i <= kLastExpTerm; ++i) {
        const std::optional<WideDecimal> raised = detail::multiply(term, wide_r);
        if (!raised) return std::nullopt;
        const std::optional<WideDecimal> next = detail::divide(*raised, static_cast<std::uint32_t>(i));
        if (!next) return std::nullopt;
        term = *next;
        if (negligible(term)) break;
        const std::optional<WideDecimal> sum = detail::add(total, term);
        if (!sum) return std::nullopt;
        total = *sum;
    }
    return total;
}

std::optional<Decimal> exp_of_positive(Decimal x) noexcept {
    const std::optional<std::uint64_t> whole = x.to_u64();
    if (!whole || *whole > kLargestExpIntegerPart) return std::nullopt;
    const std::optional<Decimal> fraction = x.checked_sub(Decimal::from_u64(*whole));
    if (!fraction) return std::nullopt;

    const std::optional<WideDecimal> series = exp_series(*fraction);
    const std::optional<WideDecimal> integer_factor = wide_power(kE, *whole);
    if (!series || !integer_factor) return std::nullopt;
    const std::optional<WideDecimal> product = detail::multiply(*integer_factor, *series);
    if (!product) return std::nullopt;
    // Rounding away from zero on any dropped digit, not to nearest, is what
    // gives the known digits (exp 66 = ...482 among them).
    const std::optional<Decimal> result = detail::to_decimal(*product, FinalRounding::AwayFromZero);
    if (!result) return std::nullopt;
    return result->normalize();
}

// The logarithm, or the message of the fault it would raise.
struct LnOutcome {
    Decimal value;
    const char* fault = nullptr;
};

LnOutcome failed(const char* message) noexcept { return {ZERO, message}; }

// Σ t^i / i over the odd i, which is ln((1 + t) / (1 - t)) / 2.
std::optional<WideDecimal> atanh_series(Decimal t) noexcept {
    const WideDecimal wide_t = WideDecimal::from(t);
    const std::optional<WideDecimal> t_squared = detail::multiply(wide_t, wide_t);
    if (!t_squared) return std::nullopt;
    WideDecimal total = wide_t;
    WideDecimal power = wide_t;
    for (std::uint32_t i = 3; i <= kLastLnDenominator; i += 2) {
        const std::optional<WideDecimal> next_power = detail::multiply(power, *t_squared);
        if (!next_power) return std::nullopt;
        power = *next_power;
        const std::optional<WideDecimal> term = detail::divide(power, i);
        if (!term) return std::nullopt;
        if (negligible(*term)) break;
        const std::optional<WideDecimal> sum = detail::add(total, *term);
        if (!sum) return std::nullopt;
        total = *sum;
    }
    return total;
}

LnOutcome logarithm(Decimal x) noexcept {
    if (x.is_zero()) return failed(kLnOfZero);
    if (x.is_negative()) return failed(kLnOfNegative);
    if (x.magnitude() == 1 && x.scale() == 0) return {ZERO};

    // Decade reduction to 1 <= x < 10. Neither step can overflow: a value
    // below one gains one digit, and a division by ten always has a quotient.
    // The loops call the operators' cores: x is known to be valid.
    const char* fault = nullptr;
    std::int64_t decades = 0;
    while (x < ONE) {
        x = detail::multiply(x, TEN, fault);
        if (fault != nullptr) return failed(kLnFailed);
        --decades;
    }
    while (x >= TEN) {
        x = detail::divide(x, TEN, fault);
        if (fault != nullptr) return failed(kLnFailed);
        ++decades;
    }
    const std::optional<Decimal> decades_part = Decimal::from_int(decades).checked_mul(kLn10);
    if (!decades_part) return failed(kLnFailed);
    if (x == ONE) return {decades_part->normalize()};

    // Reduction by e to 1/e < x < 1 (or exactly one, when the rounded
    // constants land there).
    std::int64_t e_steps = 0;
    while (x >= ONE) {
        x = detail::multiply(x, kInverseE, fault);
        if (fault != nullptr) return failed(kLnFailed);
        ++e_steps;
    }
    while (x <= kInverseE) {
        x = detail::multiply(x, kE, fault);
        if (fault != nullptr) return failed(kLnFailed);
        --e_steps;
    }

    // ln x = 2 atanh t with t = (x - 1) / (x + 1). t is formed by the
    // Decimal's division: that rounding is part of the known digits.
    WideDecimal series = WideDecimal::from(ZERO);
    const std::optional<Decimal> below_one = x.checked_sub(ONE);
    if (!below_one) return failed(kLnFailed);
    if (!below_one->is_zero()) {
        const std::optional<Decimal> above_one = x.checked_add(ONE);
        if (!above_one) return failed(kLnFailed);
        const std::optional<Decimal> t = below_one->checked_div(*above_one);
        if (!t) return failed(kLnFailed);
        const std::optional<WideDecimal> sum = atanh_series(*t);
        if (!sum) return failed(kLnFailed);
        series = *sum;
    }

    const std::optional<WideDecimal> doubled = detail::multiply(series, WideDecimal::from(TWO));
    if (!doubled) return failed(kLnFailed);
    const std::optional<WideDecimal> whole =
        detail::add(WideDecimal::from(*decades_part), WideDecimal::from_int(e_steps));
    if (!whole) return failed(kLnFailed);
    const std::optional<WideDecimal> total = detail::add(*whole, *doubled);
    if (!total) return failed(kLnFailed);
    const std::optional<Decimal> result = detail::to_decimal(*total, FinalRounding::HalfEven);
    if (!result) return failed(kLnFailed);
    return {result->normalize()};
}

}  // namespace

Decimal powi(Decimal x, std::uint64_t n) {
    detail::require_valid_scale(x);
    if (const std::optional<Decimal> power = checked_powi(x, n)) return *power;
    throw DecimalFault("Pow overflowed");
}

std::optional<Decimal> exp(Decimal x) {
    detail::require_valid_scale(x);
    if (x.is_zero()) return ONE;
    if (!x.is_negative()) return exp_of_positive(x);

    const std::optional<Decimal> mirrored = exp_of_positive(-x);
    if (!mirrored) return std::nullopt;
    const std::optional<WideDecimal> inverse = detail::reciprocal(*mirrored);
    if (!inverse) return std::nullopt;
    const std::optional<Decimal> result = detail::to_decimal(*inverse, FinalRounding::HalfEven);
    if (!result) return std::nullopt;
    return result->normalize();
}

Decimal ln(Decimal x) {
    detail::require_valid_scale(x);
    const LnOutcome outcome = logarithm(x);
    if (outcome.fault != nullptr) throw DecimalFault(outcome.fault);
    return outcome.value;
}

std::optional<Decimal> checked_ln(Decimal x) {
    detail::require_valid_scale(x);
    const LnOutcome outcome = logarithm(x);
    if (outcome.fault != nullptr) return std::nullopt;
    return outcome.value;
}

std::optional<Decimal> powd(Decimal x, Decimal y) {
    detail::require_valid_scale(x);
    detail::require_valid_scale(y);
    if (y.is_zero()) return ONE;
    // Zero to a negative power would be a division by zero: no value, rather
    // than a zero that a caller would take for a result.
    if (x.is_zero()) return y.is_negative() ? std::nullopt : std::optional<Decimal>(ZERO);
    if (x == ONE) return ONE;
    if (y == ONE) return x;

    y = y.normalize();
    if (y.scale() == 0) {
        const uint128 exponent = y.magnitude();
        if (exponent > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
        // Out of range is no value here, where powi would fault.
        const std::optional<Decimal> power = checked_powi(x, static_cast<std::uint64_t>(exponent));
        if (!power) return std::nullopt;
        if (y.is_negative()) return ONE.checked_div(*power);
        return power;
    }

    const std::optional<Decimal> log = checked_ln(x.abs());
    // The base is non-zero here, so a failure has no known cause.
    if (!log) throw DecimalFault(kLnFailed);
    // Checked, so an exponent too large for the product is no value rather
    // than a multiplication fault.
    const std::optional<Decimal> exponent = log->checked_mul(y);
    if (!exponent) return std::nullopt;
    const std::optional<Decimal> power = exp(*exponent);
    if (!power) return std::nullopt;
    return x.is_negative() ? -*power : *power;
}

}  // namespace quarlen
