// The 192-bit intermediate against GMP, with words drawn mostly from the
// carry and borrow extremes (0, 1, all ones) that random values rarely reach.
#include <gtest/gtest.h>

#include <random>

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
    // Below 2^190, as every sum operand is.
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

        const std::uint64_t divisor = reference::pow10(1 + static_cast<int>(x.word[0] % 19)).get_ui();
        const mpz_class before = to_mpz(x);
        const std::uint64_t remainder = x.divide_by(divisor);
        ASSERT_EQ(to_mpz(x), before / divisor);
        ASSERT_EQ(mpz_class(remainder), mpz_class(before % divisor));
    }
}

// The division helpers the arithmetic's fast paths use (one divq, and the
// reciprocal methods for a fixed divisor) against exact division, at the
// same extremes; a wrong correction step shows up as a quotient one off.
TEST(WideInteger, DivisionHelpersMatchExactDivision) {
    WordSource source;
    const auto wide_value = [&source] { return (uint128{source.word()} << 64) | source.word(); };
    for (int i = 0; i < 20000; ++i) {
        const uint128 value = wide_value();
        const mpz_class exact = reference::to_mpz(value);

        uint128 divisor = wide_value();
        if (divisor == 0) divisor = 1;
        const detail::Divided any = detail::divide(value, divisor);
        ASSERT_EQ(reference::to_mpz(any.quotient), exact / reference::to_mpz(divisor));
        ASSERT_EQ(reference::to_mpz(any.remainder), exact % reference::to_mpz(divisor));

        if ((divisor >> 64) != 0) {
            const detail::DividedWide wide = detail::WideDivisor(divisor).divide(value);
            ASSERT_EQ(mpz_class(wide.quotient), exact / reference::to_mpz(divisor));
            ASSERT_EQ(reference::to_mpz(wide.remainder), exact % reference::to_mpz(divisor));
        }

        Uint192 x = source.wide();
        const int digits = static_cast<int>(x.word[1] % 20);
        const mpz_class before = to_mpz(x);
        const mpz_class power = reference::pow10(digits);
        const std::uint64_t remainder = x.divide_by_pow10(digits);
        ASSERT_EQ(to_mpz(x), before / power);
        ASSERT_EQ(mpz_class(remainder), mpz_class(before % power));
    }
    // The same helpers in constant evaluation, where no divq is emitted.
    static_assert(detail::divide_128_by_64(3, 7, 10).quotient == ((uint128{3} << 64) | 7) / 10);
    static_assert(detail::WideDivisor(uint128{1} << 70).divide(~uint128{0}).quotient == (~uint128{0}) >> 70);
}

}  // namespace
}  // namespace quarlen
