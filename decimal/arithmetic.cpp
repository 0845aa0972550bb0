// Addition, subtraction and multiplication: each forms the exact result and
// hands it to the reduction rule.
#include <algorithm>

#include "decimal/decimal.hpp"
#include "decimal/powers_of_ten.hpp"
#include "decimal/reduction.hpp"
#include "decimal/scale_guard.hpp"
#include "decimal/wide_integer.hpp"

namespace quarlen {

namespace {

using detail::Uint192;

constexpr uint128 kTwoPow32 = uint128{1} << 32;
constexpr uint128 kTwoPow64 = uint128{1} << 64;

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
    const int scale = static_cast<int>(std::max(a.scale(), b.scale()));

    if (a.scale() == b.scale()) {
        // Both magnitudes are below 2^96, so neither the sum nor the
        // difference can wrap 128 bits.
        const uint128 ma = a.magnitude();
        const uint128 mb = b.magnitude();
        if (a_negative == b_negative) return fit(ma + mb, scale, a_negative);
        // A zero difference comes out non-negative through from_parts.
        if (ma >= mb) return Decimal::from_parts(ma - mb, static_cast<std::uint32_t>(scale), a_negative);
        return Decimal::from_parts(mb - ma, static_cast<std::uint32_t>(scale), b_negative);
    }

    // Raising the smaller-scale magnitude often stays within 128 bits (a
    // small integer brought to 28 digits after the point): then the exact
    // sum is formed there, and one that fits 96 bits needs no reduction.
    {
        uint128 wa = a.magnitude();
        uint128 wb = b.magnitude();
        uint128& raised = a.scale() < b.scale() ? wa : wb;
        const int raise = scale - static_cast<int>(std::min(a.scale(), b.scale()));
        if (!__builtin_mul_overflow(raised, detail::pow10(raise), &raised)) {
            uint128 result = 0;
            bool negative = a_negative;
            if (a_negative == b_negative) {
                if (__builtin_add_overflow(wa, wb, &result)) result = ~uint128{0};  // reduced below
            } else if (wa >= wb) {
                result = wa - wb;
            } else {
                result = wb - wa;
                negative = b_negative;
            }
            if (result <= Decimal::kMaxMagnitude)
                return Decimal::from_parts(result, static_cast<std::uint32_t>(scale), negative);
        }
    }

    const Uint192 wa = detail::multiply(a.magnitude(), detail::pow10(scale - static_cast<int>(a.scale())));
    const Uint192 wb = detail::multiply(b.magnitude(), detail::pow10(scale - static_cast<int>(b.scale())));
    if (a_negative == b_negative) return detail::reduce(wa + wb, scale, a_negative);
    if (wa >= wb) return detail::reduce(wa - wb, scale, a_negative);
    return detail::reduce(wb - wa, scale, b_negative);
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

bool both_valid(Decimal a, Decimal b) noexcept { return detail::has_valid_scale(a) && detail::has_valid_scale(b); }

void require_both_valid(Decimal a, Decimal b) {
    detail::require_valid_scale(a);
    detail::require_valid_scale(b);
}

}  // namespace

Decimal Decimal::add_general(Decimal a, Decimal b) {
    require_both_valid(a, b);
    if (const std::optional<Decimal> sum = exact_sum(a, b, false)) return *sum;
    throw DecimalFault("Addition overflowed");
}

Decimal Decimal::subtract_general(Decimal a, Decimal b) {
    require_both_valid(a, b);
    if (const std::optional<Decimal> difference = exact_sum(a, b, true)) return *difference;
    throw DecimalFault("Subtraction overflowed");
}

Decimal Decimal::multiply_general(Decimal a, Decimal b) {
    require_both_valid(a, b);
    if (const std::optional<Decimal> product = exact_product(a, b)) return *product;
    throw DecimalFault("Multiplication overflowed");
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
