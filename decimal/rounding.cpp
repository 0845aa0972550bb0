// Conversions that drop or strip digits: trunc, ceil, normalize, to_u64.
#include <limits>

#include "decimal/decimal.hpp"
#include "decimal/powers_of_ten.hpp"
#include "decimal/scale_guard.hpp"

namespace quarlen {

namespace {

// The integer part of the magnitude. Any magnitude is below 10^29, so at a
// scale beyond 28 (only reachable against from_parts's contract) it is zero.
uint128 integer_part(Decimal value) noexcept {
    if (value.scale() > Decimal::kMaxScale) return 0;
    return value.magnitude() / detail::pow10(static_cast<int>(value.scale()));
}

}  // namespace

Decimal Decimal::trunc() const noexcept { return from_parts(integer_part(*this), 0, is_negative()); }

Decimal Decimal::ceil() const {
    detail::require_valid_scale(*this);
    const uint128 whole = integer_part(*this);
    const bool has_fraction = magnitude() % detail::pow10(static_cast<int>(scale())) != 0;
    // Raising a positive value with a fraction cannot overflow: with a scale
    // of at least 1 the integer part is at most (2^96 - 1) / 10. A negative
    // value's ceiling is its truncation (and -0.5 becomes a plain zero).
    if (has_fraction && !is_negative()) return from_parts(whole + 1, 0, false);
    return from_parts(whole, 0, is_negative());
}

Decimal Decimal::normalize() const noexcept {
    uint128 digits = magnitude();
    std::uint32_t digits_after_point = scale();
    while (digits_after_point > 0 && digits % 10 == 0) {
        digits /= 10;
        --digits_after_point;
    }
    return from_parts(digits, digits_after_point, is_negative());
}

std::optional<std::uint64_t> Decimal::to_u64() const noexcept {
    // The sign alone decides: -0.5 has no unsigned value even though its
    // truncation is zero.
    if (is_negative()) return std::nullopt;
    const uint128 whole = integer_part(*this);
    if (whole > std::numeric_limits<std::uint64_t>::max()) return std::nullopt;
    return static_cast<std::uint64_t>(whole);
}

}  // namespace quarlen
