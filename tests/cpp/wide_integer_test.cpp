// The 192-bit intermediate against GMP, with words drawn mostly from the
// carry and borrow extremes (0, 1, all ones) that random values rarely reach.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "decimal/digit_shift.hpp"
#include "decimal/trailing_zeros.hpp"
#include "decimal/wide_integer.hpp"
#include "decimal_reference.hpp"

namespace quarlen {
namespace {

using detail::Uint192;

mpz_class to_mpz(const Uint192& wide) {
    mpz_class result = reference::to_mpz(wide.word[2]);
    result <<= 128;
    return result + reference::to_mpz(wide.low_128());
}

Uint192 to_wide(const mpz_class& value) {
    Uint192 wide;
    mpz_class rest = value;
    for (std::uint64_t& word : wide.word) {
        word = mpz_class(rest % (mpz_class(1) << 64)).get_ui();
        rest >>= 64;
    }
    return wide;
}

mpz_class pow5(int exponent) {
    mpz_class result;
    mpz_ui_pow_ui(result.get_mpz_t(), 5, static_cast<unsigned long>(exponent));
    return result;
}

class WordSource {
public:
    std::uint64_t word() {
        switch (engine_() % 4) {
            case 0: return 0;
            case 1: return ~std::uint64_t{0};
            case 2: return engine_() % 2;
            default: return engine_();
        }
    }
    // Below 2^96, as every magnitude is.
    uint128 magnitude() { return (uint128{static_cast<std::uint32_t>(word())} << 64) | word(); }
    // Below 2^190, so that a sum of two stays below 2^192.
    Uint192 wide() {
        Uint192 value;
        value.word[0] = word();
        value.word[1] = word();
        value.word[2] = word() >> 2;
        return value;
    }

private:
    std::mt19937_64 engine_{0x5eed0007};
};

TEST(WideInteger, MatchesExactArithmeticAtTheCarryExtremes) {
    WordSource source;
    for (int i = 0; i < 20000; ++i) {
        const uint128 a = source.magnitude();
        const uint128 b = source.magnitude();
        ASSERT_EQ(to_mpz(detail::multiply(a, b)), reference::to_mpz(a) * reference::to_mpz(b));

        Uint192 x = source.wide();
        Uint192 y = source.wide();
        if (x < y) std::swap(x, y);
        ASSERT_EQ(to_mpz(x + y), to_mpz(x) + to_mpz(y));
        ASSERT_EQ(to_mpz(x - y), to_mpz(x) - to_mpz(y));
        ASSERT_EQ(x <=> y, to_mpz(x) == to_mpz(y) ? std::strong_ordering::equal : std::strong_ordering::greater);
        ASSERT_EQ(x.bit_length(), static_cast<int>(x.is_zero() ? 0 : mpz_sizeinbase(to_mpz(x).get_mpz_t(), 2)));
    }
}

// The division helpers (one divq; the 3-by-2-word step with its
// reciprocal; digits removed by a fixed-point reciprocal; exact division by
// powers of five) against exact division, at the same extremes and at the
// edges of their preconditions, where a wrong correction shows up as a
// quotient one off.
TEST(WideInteger, DivisionHelpersMatchExactDivision) {
    WordSource source;
    const auto wide_value = [&source] { return (uint128{source.word()} << 64) | source.word(); };
    for (int i = 0; i < 20000; ++i) {
        // The 3-by-2 step: divisor of 65 to 128 bits, top two words below it.
        uint128 divisor = wide_value() | (uint128{1} << 64);
        const detail::TwoWordDivisor two_word(divisor);
        const uint128 shifted = divisor << two_word.shift();
        const uint128 top = wide_value() % shifted;
        const std::uint64_t next = source.word();
        uint128 remainder = 0;
        const std::uint64_t quotient = two_word.divide(static_cast<std::uint64_t>(top >> 64),
                                                       static_cast<std::uint64_t>(top), next, remainder);
        const mpz_class numerator = (reference::to_mpz(top) << 64) + reference::to_mpz(next);
        ASSERT_EQ(mpz_class(reference::to_mpz(quotient)), numerator / reference::to_mpz(shifted));
        ASSERT_EQ(reference::to_mpz(remainder), numerator % reference::to_mpz(shifted));

        // Removing 1..38 digits from a value whose quotient stays below 2^127.
        const int digits = 1 + static_cast<int>(source.word() % 38);
        const mpz_class power = reference::pow10(digits);
        const mpz_class largest = std::min(mpz_class(mpz_class(1) << 127), mpz_class(((mpz_class(1) << 192) - power) / power));
        const mpz_class kept = source.word() % 4 == 0 ? mpz_class(largest - source.word() % 3)
                                                       : mpz_class(reference::to_mpz(wide_value()) % largest);
        const mpz_class value = kept * power + reference::to_mpz(wide_value()) % power;
        const detail::RemovedDigits cut = detail::remove_digits(to_wide(value), digits);
        ASSERT_EQ(reference::to_mpz(cut.kept), value / power) << digits;
        ASSERT_EQ(reference::to_mpz(cut.removed), value % power) << digits;
        ASSERT_EQ(to_mpz(detail::multiply_by_pow10(cut.kept >> 96, digits)), reference::to_mpz(cut.kept >> 96) * power);
        const uint128 narrow = wide_value();
        const detail::RemovedDigits narrow_cut = detail::remove_digits(narrow, digits);
        ASSERT_EQ(reference::to_mpz(narrow_cut.kept), reference::to_mpz(narrow) / power) << digits;
        ASSERT_EQ(reference::to_mpz(narrow_cut.removed), reference::to_mpz(narrow) % power) << digits;

        // Exact division by 5^m and 10^m, and the count of trailing zeros.
        const int m = static_cast<int>(source.word() % 29);
        uint128 magnitude = source.magnitude();
        if (source.word() % 2 == 0) magnitude = (magnitude >> 70) * reference::to_uint128(pow5(m));
        uint128 by_five = magnitude;
        const mpz_class five_power = pow5(m);
        const bool five_divides = reference::to_mpz(magnitude) % five_power == 0;
        ASSERT_EQ(detail::divide_exactly_by_pow5(by_five, m), five_divides);
        ASSERT_EQ(reference::to_mpz(by_five), five_divides ? mpz_class(reference::to_mpz(magnitude) / five_power)
                                                         : reference::to_mpz(magnitude));
        if (magnitude != 0) {
            uint128 stripped = magnitude;
            const int zeros = detail::remove_trailing_zeros(stripped);
            ASSERT_EQ(reference::to_mpz(stripped) * reference::pow10(zeros), reference::to_mpz(magnitude));
            ASSERT_NE(stripped % 10, 0u);
        }
    }
    // The same helpers in constant evaluation, where no divq is emitted.
    static_assert(detail::divide_128_by_64(3, 7, 10).quotient == ((uint128{3} << 64) | 7) / 10);
    static_assert(detail::remove_digits(~uint128{0}, 20).kept == ~uint128{0} / detail::pow10(20));
}

}  // namespace
}  // namespace quarlen
