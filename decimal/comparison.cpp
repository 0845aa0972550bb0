// Ordering by value across scales.
#include <compare>

#include "decimal/decimal.hpp"
#include "decimal/powers_of_ten.hpp"
#include "decimal/wide_integer.hpp"

namespace quarlen {

namespace {

// Orders ma / 10^sa against mb / 10^sb, both non-negative.
std::strong_ordering compare_magnitudes(uint128 ma, std::uint32_t sa, uint128 mb, std::uint32_t sb) noexcept {
    if (sa == sb) return ma <=> mb;
    if (sa > sb) return 0 <=> compare_magnitudes(mb, sb, ma, sa);
    // Here a has the smaller scale and is raised to b's. A non-zero magnitude
    // raised by 29 or more digits is at least 10^29 > 2^96 and so beats any
    // magnitude, which keeps the table lookup in range for any stored scale.
    const int raise = static_cast<int>(sb - sa);
    if (raise > static_cast<int>(Decimal::kMaxScale)) {
        if (ma != 0) return std::strong_ordering::greater;
        return mb == 0 ? std::strong_ordering::equal : std::strong_ordering::less;
    }
    // A magnitude below 2^64 raised by at most 19 digits fits one 64 x 64 product.
    if ((ma >> 64) == 0 && raise <= 19)
        return uint128{static_cast<std::uint64_t>(ma)} * detail::pow10_u64(raise) <=> mb;
    // Factors of x and y bits multiply to at least 2^(x + y - 2): beyond 128
    // bits in all that is at least 2^127 and outweighs any magnitude; within
    // them the product fits 128 bits.
    const uint128 power = detail::pow10(raise);
    if (detail::bit_length(ma) + detail::bit_length(power) > 128) return std::strong_ordering::greater;
    return ma * power <=> mb;
}

}  // namespace

std::strong_ordering operator<=>(Decimal a, Decimal b) noexcept {
    // Zero is never stored negative, so the signs alone settle mixed pairs.
    if (a.is_negative() != b.is_negative()) {
        return a.is_negative() ? std::strong_ordering::less : std::strong_ordering::greater;
    }
    const std::strong_ordering by_magnitude = compare_magnitudes(a.magnitude(), a.scale(), b.magnitude(), b.scale());
    return a.is_negative() ? 0 <=> by_magnitude : by_magnitude;
}

bool operator==(Decimal a, Decimal b) noexcept { return (a <=> b) == 0; }

}  // namespace quarlen
