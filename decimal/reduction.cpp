#include "decimal/reduction.hpp"

#include <algorithm>
#include <array>

#include "decimal/powers_of_ten.hpp"

namespace quarlen::detail {

namespace {

// Digits are removed from the bottom of `magnitude`. The most significant
// removed digit is kept apart because it decides the rounding; all the lower
// removed digits only matter as "any of them non-zero".
class DigitRemover {
public:
    explicit DigitRemover(Uint192 magnitude) noexcept : kept_(magnitude) {}

    void remove(int count) noexcept {
        if (count <= 0) return;
        removed_ += count;
        // The previous deciding digit now lies below the new ones.
        lower_nonzero_ = lower_nonzero_ || deciding_digit_ != 0;
        int below = count - 1;
        while (below >= 19) {
            if (kept_.divide_by_pow10(19) != 0) lower_nonzero_ = true;
            below -= 19;
        }
        // The last (at most 19) digits in one division: the remainder's top
        // digit decides, the ones under it only count as non-zero or not.
        const std::uint64_t below_unit = pow10_u64(below);
        const std::uint64_t removed_digits = kept_.divide_by_pow10(below + 1);
        deciding_digit_ = removed_digits / below_unit;
        if (removed_digits % below_unit != 0) lower_nonzero_ = true;
    }

    // Half to even over all removed digits.
    bool rounds_up() const noexcept {
        if (deciding_digit_ != 5) return deciding_digit_ > 5;
        return lower_nonzero_ || (kept_.word[0] & 1) != 0;
    }

    const Uint192& kept() const noexcept { return kept_; }
    int removed() const noexcept { return removed_; }

private:
    Uint192 kept_;
    int removed_ = 0;
    std::uint64_t deciding_digit_ = 0;
    bool lower_nonzero_ = false;
};

// A value of at least 2^(bits - 1) divided by 10^d is still at least 2^96
// while 10^d <= 2^(bits - 97), so at least floor((bits - 97) * log10 2)
// digits must go. 0.30102 is just below log10 2, keeping this a lower bound.
int digits_needed_at_least(int bit_length) noexcept {
    if (bit_length <= 97) return 0;
    return (bit_length - 97) * 30102 / 100000;
}

// 2^96 * 10^k for k = 0..28: a value below the k-th entry loses its excess
// over 96 bits by removing k digits, so the exact count of digits to remove
// is found by comparison rather than by dividing one more digit at a time.
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

int digits_needed(const Uint192& magnitude) noexcept {
    int digits = digits_needed_at_least(magnitude.bit_length());
    while (digits < kThresholds && !(magnitude < kTwoPow96TimesPow10[static_cast<std::size_t>(digits)])) ++digits;
    return digits;
}

}  // namespace

std::optional<Decimal> reduce(Uint192 magnitude, int scale, bool negative) noexcept {
    if (scale <= static_cast<int>(Decimal::kMaxScale) && magnitude.fits_in_96_bits()) {
        return Decimal::from_parts(magnitude.low_128(), static_cast<std::uint32_t>(scale), negative);
    }

    DigitRemover remover(magnitude);
    remover.remove(std::max(scale - static_cast<int>(Decimal::kMaxScale), digits_needed(magnitude)));
    // Only a magnitude beyond the table's reach still needs this.
    while (!remover.kept().fits_in_96_bits()) remover.remove(1);

    uint128 result = remover.kept().low_128();
    if (remover.rounds_up()) {
        if (result == Decimal::kMaxMagnitude) {
            // The increment would reach 2^96: round the exact value at one
            // digit fewer instead.
            remover.remove(1);
            result = remover.kept().low_128() + (remover.rounds_up() ? 1 : 0);
        } else {
            ++result;
        }
    }
    if (remover.removed() > scale) return std::nullopt;
    return Decimal::from_parts(result, static_cast<std::uint32_t>(scale - remover.removed()), negative);
}

}  // namespace quarlen::detail
