// Addition, subtraction and multiplication: each forms the exact result and
// hands it to the reduction rule.
#include <algorithm>

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

constexpr const char* kAdditionOverflow = "Addition overflowed";
constexpr const char* kSubtractionOverflow = "Subtraction overflowed";
constexpr const char* kMultiplicationOverflow = "Multiplication overflowed";

std::optional<Decimal> fit(uint128 magnitude, int scale, bool negative) noexcept {
    if (magnitude <= Decimal::kMaxMagnitude) {
        return Decimal::from_parts(magnitude, static_cast<std::uint32_t>(scale), negative);
    }
    return detail::reduce(Uint192::from(magnitude), scale, negative);
}

// a + b, or a - b when `subtract` is set: the operand with the smaller scale
// is raised to the larger one, so the sum is exact before it is reduced.
std::optional<Decimal> exact_sum(Decimal a, Decimal b, bool subtract) noexcept {
    const bool a_negative = a.is_negative();
    const bool b_negative = b.is_negative() != subtract;

    if (a.scale() == b.scale()) {
        // Both magnitudes are below 2^96, so neither the sum nor the
        // difference can wrap 128 bits.
        const int scale = static_cast<int>(a.scale());
        const uint128 ma = a.magnitude();
        const uint128 mb = b.magnitude();
        if (a_negative == b_negative) return fit(ma + mb, scale, a_negative);
        // A zero difference comes out non-negative through from_parts.
        if (ma >= mb) return Decimal::from_parts(ma - mb, static_cast<std::uint32_t>(scale), a_negative);
        return Decimal::from_parts(mb - ma, static_cast<std::uint32_t>(scale), b_negative);
    }

    // The raised magnitude is below 2^96 * 10^28 < 2^190, and so is the sum.
    const bool a_raised = a.scale() < b.scale();
    const Decimal& lower = a_raised ? a : b;
    const Decimal& higher = a_raised ? b : a;
    const bool lower_negative = a_raised ? a_negative : b_negative;
    const bool higher_negative = a_raised ? b_negative : a_negative;
    const int scale = static_cast<int>(higher.scale());
    const Uint192 raised = detail::multiply_by_pow10(lower.magnitude(), scale - static_cast<int>(lower.scale()));
    const Uint192 other = Uint192::from(higher.magnitude());
    if (lower_negative == higher_negative) return detail::reduce(raised + other, scale, lower_negative);
    if (raised >= other) return detail::reduce(raised - other, scale, lower_negative);
    return detail::reduce(other - raised, scale, higher_negative);
}

std::optional<Decimal> exact_product(Decimal a, Decimal b) noexcept {
    const uint128 ma = a.magnitude();
    const uint128 mb = b.magnitude();
    const int scale = static_cast<int>(a.scale() + b.scale());
    const bool negative = a.is_negative() != b.is_negative();

    if (ma < kTwoPow32 && mb < kTwoPow32) {
        const std::uint64_t product = static_cast<std::uint64_t>(ma) * static_cast<std::uint64_t>(mb);
        if (scale <= static_cast<int>(Decimal::kMaxScale)) {
            return Decimal::from_parts(product, static_cast<std::uint32_t>(scale), negative);
        }
        return detail::reduce(Uint192::from(product), scale, negative);
    }
    if (ma < kTwoPow64 && mb < kTwoPow64) {
        const uint128 product = ma * mb;
        if (scale <= static_cast<int>(Decimal::kMaxScale)) return fit(product, scale, negative);
        return detail::reduce(Uint192::from(product), scale, negative);
    }
    return detail::reduce(detail::multiply(ma, mb), scale, negative);
}

detail::Outcome outcome(const std::optional<Decimal>& value, const char* fault) noexcept {
    if (!value) return {ZERO, fault};
    return {*value};
}

bool both_valid(Decimal a, Decimal b) noexcept { return detail::has_valid_scale(a) && detail::has_valid_scale(b); }

void require_both_valid(Decimal a, Decimal b) {
    detail::require_valid_scale(a);
    detail::require_valid_scale(b);
}

}  // namespace

detail::Outcome detail::add(Decimal a, Decimal b) noexcept { return outcome(exact_sum(a, b, false), kAdditionOverflow); }

detail::Outcome detail::subtract(Decimal a, Decimal b) noexcept {
    return outcome(exact_sum(a, b, true), kSubtractionOverflow);
}

detail::Outcome detail::multiply(Decimal a, Decimal b) noexcept {
    return outcome(exact_product(a, b), kMultiplicationOverflow);
}

Decimal Decimal::add_general(Decimal a, Decimal b) {
    require_both_valid(a, b);
    if (const std::optional<Decimal> sum = exact_sum(a, b, false)) return *sum;
    throw DecimalFault(kAdditionOverflow);
}

Decimal Decimal::subtract_general(Decimal a, Decimal b) {
    require_both_valid(a, b);
    if (const std::optional<Decimal> difference = exact_sum(a, b, true)) return *difference;
    throw DecimalFault(kSubtractionOverflow);
}

Decimal Decimal::multiply_general(Decimal a, Decimal b) {
    require_both_valid(a, b);
    if (const std::optional<Decimal> product = exact_product(a, b)) return *product;
    throw DecimalFault(kMultiplicationOverflow);
}

std::optional<Decimal> Decimal::checked_add(Decimal other) const noexcept {
    if (!both_valid(*this, other)) return std::nullopt;
    return exact_sum(*this, other, false);
}

std::optional<Decimal> Decimal::checked_sub(Decimal other) const noexcept {
    if (!both_valid(*this, other)) return std::nullopt;
    return exact_sum(*this, other, true);
}

std::optional<Decimal> Decimal::checked_mul(Decimal other) const noexcept {
    if (!both_valid(*this, other)) return std::nullopt;
    return exact_product(*this, other);
}

}  // namespace quarlen
