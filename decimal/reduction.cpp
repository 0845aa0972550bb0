#include "decimal/reduction.hpp"

#include <algorithm>
#include <array>

#include "decimal/digit_shift.hpp"
#include "decimal/powers_of_ten.hpp"

namespace quarlen::detail {

namespace {

constexpr int kMaxScale = static_cast<int>(Decimal::kMaxScale);

// 2^96 * 10^k for k = 0..28: a value below the k-th entry loses its excess
// over 96 bits by removing k digits.
constexpr int kThresholds = 29;
constexpr auto kTwoPow96TimesPow10 = [] {
    std::array<Uint192, kThresholds> table{};
    for (int k = 0; k < kThresholds; ++k) {
        const uint128 power = pow10(k);  // below 2^94
        table[static_cast<std::size_t>(k)].word[1] = static_cast<std::uint64_t>(power << 32);
        table[static_cast<std::size_t>(k)].word[2] = static_cast<std::uint64_t>(power >> 32);
    }
    return table;
}();

// For each bit length, the fewest digits any value of that length may need
// to lose; a value of 2^(bits - 1) to 2^bits spans less than a factor of
// ten, so it needs that many or one more, which one comparison settles.
constexpr int kMaxBits = 192;
constexpr auto kFewestDigitsForBits = [] {
    std::array<int, kMaxBits + 1> table{};
    for (int bits = 1; bits <= kMaxBits; ++bits) {
        Uint192 smallest;  // 2^(bits - 1)
        smallest.word[(bits - 1) / 64] = std::uint64_t{1} << ((bits - 1) % 64);
        int digits = 0;
        while (digits < kThresholds && !(smallest < kTwoPow96TimesPow10[static_cast<std::size_t>(digits)])) ++digits;
        table[static_cast<std::size_t>(bits)] = digits;
    }
    return table;
}();

// The fewest trailing digits whose removal leaves the magnitude below 2^96
// (before rounding). Beyond the table, at 29 digits, every 192-bit value fits.
int digits_needed(const Uint192& magnitude) noexcept {
    const int digits = kFewestDigitsForBits[static_cast<std::size_t>(magnitude.bit_length())];
    if (digits >= kThresholds) return digits;
    return magnitude < kTwoPow96TimesPow10[static_cast<std::size_t>(digits)] ? digits : digits + 1;
}

}  // namespace

Decimal reduce(const Uint192& magnitude, int scale, bool negative, bool& overflow) noexcept {
    if (scale <= kMaxScale && magnitude.fits_in_96_bits()) {
        return Decimal::from_parts(magnitude.low_128(), static_cast<std::uint32_t>(scale), negative);
    }
    // At most 29 digits for the magnitude (2^192 < 2^96 * 10^29) and 28 for
    // a product's scale of 56: well within what remove_digits takes. A
    // rounding carry past 2^96 - 1 settles at one digit more without a
    // second division (round_removed).
    const int removed = std::max(scale - kMaxScale, digits_needed(magnitude));

    const RemovedDigits cut = remove_digits(magnitude, removed);
    return round_removed(cut.kept, cut.removed, removed, scale, negative, overflow);
}

}  // namespace quarlen::detail
