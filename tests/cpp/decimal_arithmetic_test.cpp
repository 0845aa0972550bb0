// Addition, subtraction and multiplication: the reduction rule, the sign of
// zero, and the faults of the plain and checked forms.
#include <gtest/gtest.h>

#include <functional>

#include "decimal_test_support.hpp"

namespace quarlen {
namespace {

using testing::dec;
using testing::fault_of;

constexpr const char* kMax = "79228162514264337593543950335";

struct Case {
    const char* a;
    const char* b;
    const char* expected;
};

void expect_results(const std::function<Decimal(Decimal, Decimal)>& op, std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        const Decimal result = op(dec(c.a), dec(c.b));
        EXPECT_EQ(result.to_string(), c.expected) << c.a << " with " << c.b;
        EXPECT_FALSE(result.is_zero() && result.is_negative()) << c.a << " with " << c.b;
    }
}

TEST(DecimalAddition, KeepsTheLargerScaleAndRemovesOnlyTheDigitsThatDoNotFit) {
    expect_results(std::plus<>{}, {
        {"0.1", "0.2", "0.3"},
        {"1.50", "1", "2.50"},
        {"-2", "1", "-1"},
        {"1", "-0.001", "0.999"},
        // Scale 28 would need 49 digits: the fewest digits go, leaving scale 9.
        {"12345678901234567890.12345678", "0.0000000000000000000000000001", "12345678901234567890.123456780"},
        // Half to even lands on 2^96, so a second digit goes.
        {"7922816251426433759354395033.5", "0.05", "7922816251426433759354395034"},
        {kMax, "0.4", kMax},
        {"-1.5", "1.5", "0.0"},
        {"0", "-0", "0"},
    });
}

TEST(DecimalSubtraction, ExactZeroIsNonNegative) {
    expect_results(std::minus<>{}, {
        {"1", "1.00", "0.00"},
        {"-0.5", "-0.5", "0.0"},
        {"0", "0.1", "-0.1"},
        {"-7", "-10", "3"},
        {"0.3", "0.1", "0.2"},
    });
}

TEST(DecimalMultiplication, RoundsHalfToEvenOverAllRemovedDigits) {
    expect_results(std::multiplies<>{}, {
        {"0.0000000000000000000000000015", "0.5", "0.0000000000000000000000000008"},
        {"0.0000000000000000000000000025", "0.5", "0.0000000000000000000000000012"},
        // Removed digits 525: the digits past the first push it above half.
        {"0.0000000000000000000000000025", "0.501", "0.0000000000000000000000000013"},
        {kMax, "0.5", "39614081257132168796771975168"},
        {kMax, "1.0", kMax},
        // Too small to show: zero at scale 28, and never negative.
        {"0.00000000000000000001", "0.00000000000000000001", "0.0000000000000000000000000000"},
        {"-0.00000000000000000001", "0.00000000000000000001", "0.0000000000000000000000000000"},
        {"-0.5", "0", "0.0"},
        {"-1.5", "-2", "3.0"},
        {"4294967295", "4294967295", "18446744065119617025"},
        {"4294967296", "4294967296", "18446744073709551616"},
        {"18446744073709551615", "-4294967295", "-79228162495817593515539431425"},
    });
}

TEST(DecimalMultiplication, WideProductsKeepTwentyNineDigits) {
    // 0.9999999999999999999999999999^2 = 0.99999999999999999999999999980000...01
    EXPECT_EQ((dec("0.9999999999999999999999999999") * dec("0.9999999999999999999999999999")).to_string(),
              "0.9999999999999999999999999998");
    // 2^96 - 1 squared is far out of range.
    EXPECT_EQ(fault_of([] { return dec(kMax) * dec(kMax); }), "Multiplication overflowed");
    // 2^96 at scale 3 loses one digit, rounding up: both factors take the
    // 64-bit path, whose 128-bit product still needs the reduction.
    EXPECT_EQ((dec("28147497671065.6") * dec("2814749767106.56")).to_string(), "79228162514264337593543950.34");
    EXPECT_EQ(fault_of([] { return dec("281474976710656") * dec("281474976710656"); }), "Multiplication overflowed");
}

TEST(DecimalOverflow, PlainOperatorsFaultAndCheckedFormsGiveNoValue) {
    const Decimal max = dec(kMax);
    EXPECT_EQ(fault_of([&] { return max + ONE; }), "Addition overflowed");
    EXPECT_FALSE(max.checked_add(ONE));
    // M + 0.5 ties at an odd magnitude, rounds up to 2^96 and would need scale -1.
    EXPECT_EQ(fault_of([&] { return max + dec("0.5"); }), "Addition overflowed");
    EXPECT_EQ(fault_of([&] { return -max - ONE; }), "Subtraction overflowed");
    EXPECT_FALSE((-max).checked_sub(ONE));
    EXPECT_EQ(fault_of([&] { return max * TWO; }), "Multiplication overflowed");
    EXPECT_FALSE(max.checked_mul(TWO));

    EXPECT_EQ(max.checked_add(-ONE)->to_string(), "79228162514264337593543950334");
    EXPECT_EQ(max.checked_sub(max)->to_string(), "0");
    EXPECT_EQ(max.checked_mul(dec("0.5"))->to_string(), "39614081257132168796771975168");
}

TEST(DecimalOverflow, ScaleBeyondTwentyEightIsRefused) {
    // Only from_parts against its contract can build one; the tables of
    // powers of ten must never be read with it.
    const Decimal bad = Decimal::from_parts(1, 40, false);
    for (const auto& op : {std::function<Decimal()>([&] { return bad + ONE; }), std::function<Decimal()>([&] { return ONE - bad; }),
                           std::function<Decimal()>([&] { return bad * ONE; }), std::function<Decimal()>([&] { return ONE / bad; }),
                           std::function<Decimal()>([&] { return bad.ceil(); }), std::function<Decimal()>([&] { return *bad.sqrt(); })}) {
        EXPECT_EQ(fault_of(op), "Scale exceeds maximum supported scale");
    }
    EXPECT_FALSE(bad.checked_add(ONE));
    EXPECT_FALSE(ONE.checked_div(bad));
    EXPECT_LT(bad, Decimal::from_parts(1, 28, false));
    EXPECT_GT(bad, ZERO);
    EXPECT_EQ(bad.trunc(), ZERO);
}

}  // namespace
}  // namespace quarlen
