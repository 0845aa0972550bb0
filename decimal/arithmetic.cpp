// Addition, subtraction and multiplication: each forms the exact result and
// hands it to the reduction rule.
#include "decimal/decimal.hpp"
#include "decimal/digit_shift.hpp"
#include "decimal/kernels.hpp"
#include "decimal/reduction.hpp"
#include "decimal/scale_guard.hpp"
#include "decimal/wide_integer.hpp"

namespace quarlen {

namespace {

using detail::Uint192;

constexpr uint128 kTwoPow32 = uint128{1} << 32;
constexpr uint128 kTwoPow64 = uint128{1} << 64;

constexpr uint128 kMaxOverTen = Decimal::kMaxMagnitude / 10;

constexpr const char* kAdditionOverflow = "Addition overflowed";
constexpr const char* kSubtractionOverflow = "Subtraction overflowed";
constexpr const char* kMultiplicationOverflow = "Multiplication overflowed";

// Every function below returns its result, or sets `overflow` (and returns
// ZERO) where the operator overflows: a flag beside a value returned in
// registers is cheaper than a wrapped one returned through memory.

Decimal fit(uint128 magnitude, int scale, bool negative, bool& overflow) noexcept {
    if (magnitude <= Decimal::kMaxMagnitude) {
        return Decimal::from_parts(magnitude, static_cast<std::uint32_t>(scale), negative);
    }
    return detail::reduce(Uint192::from(magnitude), scale, negative, overflow);
}

// ±big * 10^raise ± small at `scale`, reduced. Raising big may need more
// than 96 bits; then the digits it must lose are known from big alone, and
// the result is combined from big * 10^(raise - removed) and the digits of
// small above 10^removed, with the rounding decided by small's remainder.
// No 192-bit sum is formed. The scale is held 64 bits wide: spilled as an
// int, it was read back as a whole word, which stalls the load.
Decimal sum_across_scales(uint128 big, int raise, uint128 small, std::int64_t scale, bool big_negative, bool small_negative,
                          bool& overflow) noexcept {
    const int fit = detail::digits_that_fit(big);
    const bool same_sign = big_negative == small_negative;
    if (fit >= raise) {
        // The raised magnitude fits 96 bits, so the exact result fits 97.
        const uint128 raised = big * detail::pow10(raise);
        if (!same_sign) {
            if (raised >= small) return Decimal::from_parts(raised - small, static_cast<std::uint32_t>(scale), big_negative);
            return Decimal::from_parts(small - raised, static_cast<std::uint32_t>(scale), small_negative);
        }
        const uint128 sum = raised + small;
        if (sum <= Decimal::kMaxMagnitude) return Decimal::from_parts(sum, static_cast<std::uint32_t>(scale), big_negative);
        // Below 2^97: one digit goes, and the rounding cannot carry.
        const detail::RemovedDigits cut = detail::remove_digits(sum, 1);
        return detail::round_removed(cut.kept, cut.removed, 1, scale, big_negative, overflow);
    }

    // The raised magnitude exceeds 2^96 - 1 and so outweighs small: the
    // result has big's sign, and loses at least the digits big must lose.
    int removed = raise - fit;
    const uint128 base = big * detail::pow10(fit);  // at most 2^96 - 1
    const detail::RemovedDigits small_cut = detail::remove_digits(small, removed);
    uint128 kept = 0;
    uint128 rest = small_cut.removed;
    if (same_sign) {
        kept = base + small_cut.kept;
        if (kept > Decimal::kMaxMagnitude) {
            // The sum carried into a new digit: one more goes.
            const detail::RemovedDigits last = detail::remove_digits(kept, 1);
            rest += last.removed * detail::pow10(removed);
            kept = last.kept;
            ++removed;
        }
    } else {
        // base * 10^removed - small = kept * 10^removed + rest with
        // 0 <= rest < 10^removed.
        kept = base - small_cut.kept;
        if (rest != 0) {
            --kept;
            rest = detail::pow10(removed) - rest;
        }
        // The difference may need one digit fewer: when ten times the kept
        // part and the first digit of the rest still fit.
        if (kept <= kMaxOverTen) {
            const detail::RemovedDigits lead =
                removed > 1 ? detail::remove_digits(rest, removed - 1) : detail::RemovedDigits{rest, 0};
            if (kept * 10 + lead.kept <= Decimal::kMaxMagnitude) {
                kept = kept * 10 + lead.kept;
                rest = lead.removed;
                --removed;
            }
        }
    }
    return detail::round_removed(kept, rest, removed, scale, big_negative, overflow);
}

// a + b, or a - b when `subtract` is set: the operand with the smaller scale
// is raised to the larger one, as if the sum were formed exactly and then
// reduced.
Decimal exact_sum(Decimal a, Decimal b, bool subtract, bool& overflow) noexcept {
    const bool a_negative = a.is_negative();
    const bool b_negative = b.is_negative() != subtract;

    if (a.scale() == b.scale()) {
        // Both magnitudes are below 2^96, so neither the sum nor the
        // difference can wrap 128 bits.
        const int scale = static_cast<int>(a.scale());
        const uint128 ma = a.magnitude();
        const uint128 mb = b.magnitude();
        if (a_negative == b_negative) return fit(ma + mb, scale, a_negative, overflow);
        // A zero difference comes out non-negative through from_parts.
        if (ma >= mb) return Decimal::from_parts(ma - mb, static_cast<std::uint32_t>(scale), a_negative);
        return Decimal::from_parts(mb - ma, static_cast<std::uint32_t>(scale), b_negative);
    }

    // Selected by value: references to either operand would keep both in
    // memory.
    const bool a_raised = a.scale() < b.scale();
    const Decimal lower = a_raised ? a : b;
    const Decimal higher = a_raised ? b : a;
    return sum_across_scales(lower.magnitude(), static_cast<int>(higher.scale() - lower.scale()), higher.magnitude(),
                             static_cast<int>(higher.scale()), a_raised ? a_negative : b_negative,
                             a_raised ? b_negative : a_negative, overflow);
}

Decimal exact_product(Decimal a, Decimal b, bool& overflow) noexcept {
    const uint128 ma = a.magnitude();
    const uint128 mb = b.magnitude();
    const int scale = static_cast<int>(a.scale() + b.scale());
    const bool negative = a.is_negative() != b.is_negative();

    if (ma < kTwoPow32 && mb < kTwoPow32) {
        const std::uint64_t product = static_cast<std::uint64_t>(ma) * static_cast<std::uint64_t>(mb);
        if (scale <= static_cast<int>(Decimal::kMaxScale)) {
            return Decimal::from_parts(product, static_cast<std::uint32_t>(scale), negative);
        }
        return detail::reduce(Uint192::from(product), scale, negative, overflow);
    }
    if (ma < kTwoPow64 && mb < kTwoPow64) {
        const uint128 product = ma * mb;
        if (scale <= static_cast<int>(Decimal::kMaxScale)) return fit(product, scale, negative, overflow);
        return detail::reduce(Uint192::from(product), scale, negative, overflow);
    }
    return detail::reduce(detail::multiply(ma, mb), scale, negative, overflow);
}

bool both_valid(Decimal a, Decimal b) noexcept { return detail::has_valid_scale(a) && detail::has_valid_scale(b); }

void require_both_valid(Decimal a, Decimal b) {
    detail::require_valid_scale(a);
    detail::require_valid_scale(b);
}

// The plain operators' general case: the result, or the fault.
template <typename Operation>
Decimal or_fault(Operation operation, const char* message) {
    bool overflow = false;
    const Decimal result = operation(overflow);
    if (overflow) throw DecimalFault(message);
    return result;
}

// The checked forms: the result, or no value.
template <typename Operation>
std::optional<Decimal> or_nothing(Operation operation) noexcept {
    bool overflow = false;
    const Decimal result = operation(overflow);
    if (overflow) return std::nullopt;
    return result;
}

// The cores: the result, or the fault's message.
template <typename Operation>
Decimal or_message(Operation operation, const char* message, const char*& fault) noexcept {
    bool overflow = false;
    const Decimal result = operation(overflow);
    if (overflow) fault = message;
    return result;
}

}  // namespace

Decimal detail::add(Decimal a, Decimal b, const char*& fault) noexcept {
    return or_message([&](bool& overflow) { return exact_sum(a, b, false, overflow); }, kAdditionOverflow, fault);
}

Decimal detail::subtract(Decimal a, Decimal b, const char*& fault) noexcept {
    return or_message([&](bool& overflow) { return exact_sum(a, b, true, overflow); }, kSubtractionOverflow, fault);
}

Decimal detail::multiply(Decimal a, Decimal b, const char*& fault) noexcept {
    return or_message([&](bool& overflow) { return exact_product(a, b, overflow); }, kMultiplicationOverflow, fault);
}

Decimal Decimal::add_general(Decimal a, Decimal b) {
    require_both_valid(a, b);
    return or_fault([&](bool& overflow) { return exact_sum(a, b, false, overflow); }, kAdditionOverflow);
}

Decimal Decimal::subtract_general(Decimal a, Decimal b) {
    require_both_valid(a, b);
    return or_fault([&](bool& overflow) { return exact_sum(a, b, true, overflow); }, kSubtractionOverflow);
}

Decimal Decimal::multiply_general(Decimal a, Decimal b) {
    require_both_valid(a, b);
    return or_fault([&](bool& overflow) { return exact_product(a, b, overflow); }, kMultiplicationOverflow);
}

std::optional<Decimal> Decimal::checked_add(Decimal other) const noexcept {
    if (!both_valid(*this, other)) return std::nullopt;
    return or_nothing([&](bool& overflow) { return exact_sum(*this, other, false, overflow); });
}

std::optional<Decimal> Decimal::checked_sub(Decimal other) const noexcept {
    if (!both_valid(*this, other)) return std::nullopt;
    return or_nothing([&](bool& overflow) { return exact_sum(*this, other, true, overflow); });
}

std::optional<Decimal> Decimal::checked_mul(Decimal other) const noexcept {
    if (!both_valid(*this, other)) return std::nullopt;
    return or_nothing([&](bool& overflow) { return exact_product(*this, other, overflow); });
}

}  // namespace quarlen
