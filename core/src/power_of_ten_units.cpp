#include "core/src/power_of_ten_units.hpp"

#include <algorithm>

#include "decimal/powers_of_ten.hpp"

namespace quarlen {

namespace {

constexpr int kMaxExponent = static_cast<int>(Decimal::kMaxScale);
// The power of ten at which the largest amount ends up.
constexpr int kOrdinaryMagnitude = 6;

// floor(log10(value)) for a value > 0: the digits of its magnitude, less one,
// less those after the point.
int order_of_magnitude(Decimal value) noexcept {
    int digits = 1;
    while (digits < 30 && detail::pow10(digits) <= value.magnitude()) ++digits;
    return digits - 1 - static_cast<int>(value.scale());
}

// 10^exponent for |exponent| <= 28: 10^28 still fits in 96 bits.
Decimal power_of_ten(int exponent) noexcept {
    if (exponent >= 0) return Decimal::from_parts(detail::pow10(exponent), 0, false);
    return Decimal::from_parts(1, static_cast<std::uint32_t>(-exponent), false);
}

}  // namespace

PowerOfTenUnits PowerOfTenUnits::around(Decimal largest) noexcept {
    const int exponent = order_of_magnitude(largest) - kOrdinaryMagnitude;
    return PowerOfTenUnits(std::clamp(exponent, -kMaxExponent, kMaxExponent));
}

Decimal PowerOfTenUnits::to_units(Decimal amount) const { return amount * power_of_ten(-exponent_); }

Checked PowerOfTenUnits::from_units(Checked amount) const { return amount * power_of_ten(exponent_); }

}  // namespace quarlen
