// Ordering, the digit-dropping conversions and the square root.
#include <gtest/gtest.h>

#include <limits>

#include "decimal_test_support.hpp"

namespace quarlen {
namespace {

using testing::dec;

TEST(DecimalOrdering, ComparesValuesNotRepresentations) {
    EXPECT_EQ(dec("1.5"), dec("1.50"));
    EXPECT_EQ(dec("0"), dec("0.000"));
    EXPECT_EQ(dec("-0"), ZERO);
    EXPECT_LT(dec("-0.1"), ZERO);
    EXPECT_GT(dec("0.0000000000000000000000000001"), ZERO);
    EXPECT_LT(dec("-2"), dec("-1.5"));
    EXPECT_GT(dec("79228162514264337593543950335"), dec("7.9228162514264337593543950335"));
    EXPECT_LT(dec("7.9228162514264337593543950334"), dec("7.922816251426433759354395034"));
    EXPECT_GT(dec("-7.9228162514264337593543950334"), dec("-7.922816251426433759354395034"));
    EXPECT_EQ(dec("10000000000000000000000000000"), dec("10000000000000000000000000000.0"));
}

TEST(DecimalOrdering, MinAndMaxReturnTheFirstArgumentOnTies) {
    EXPECT_EQ(min(dec("1.5"), dec("1.50")).scale(), 1u);
    EXPECT_EQ(max(dec("1.5"), dec("1.50")).scale(), 1u);
    EXPECT_EQ(max(dec("1.5"), dec("1.51")).to_string(), "1.51");
    EXPECT_EQ(min(dec("-1"), dec("1")).to_string(), "-1");
}

TEST(DecimalSign, NegationAndAbsKeepScaleAndNeverMakeNegativeZero) {
    EXPECT_FALSE((-dec("0.00")).is_negative());
    EXPECT_EQ((-dec("0.00")).to_string(), "0.00");
    EXPECT_EQ((-dec("1.50")).to_string(), "-1.50");
    EXPECT_EQ(dec("-1.50").abs().to_string(), "1.50");
    EXPECT_EQ(Decimal::from_int(std::numeric_limits<std::int64_t>::min()).to_string(), "-9223372036854775808");
}

TEST(DecimalRounding, TruncCeilAndNormalize) {
    struct Case {
        const char* value;
        const char* truncated;
        const char* ceiling;
        const char* normalized;
    };
    const Case cases[] = {
        {"1.99", "1", "2", "1.99"},
        {"-1.99", "-1", "-1", "-1.99"},
        {"1.00", "1", "1", "1"},
        {"-0.5", "0", "0", "-0.5"},
        {"0.000", "0", "0", "0"},
        {"100", "100", "100", "100"},
        {"-2.50", "-2", "-2", "-2.5"},
        {"7.9228162514264337593543950335", "7", "8", "7.9228162514264337593543950335"},
        {"7922816251426433759354395033.5", "7922816251426433759354395033", "7922816251426433759354395034",
         "7922816251426433759354395033.5"},
    };
    for (const Case& c : cases) {
        const Decimal value = dec(c.value);
        EXPECT_EQ(value.trunc().to_string(), c.truncated) << c.value;
        EXPECT_EQ(value.ceil().to_string(), c.ceiling) << c.value;
        EXPECT_EQ(value.normalize().to_string(), c.normalized) << c.value;
        EXPECT_FALSE(value.trunc().is_zero() && value.trunc().is_negative()) << c.value;
        EXPECT_FALSE(value.ceil().is_zero() && value.ceil().is_negative()) << c.value;
    }
}

TEST(DecimalRounding, ToU64TruncatesAndRefusesSignAndOverflow) {
    EXPECT_EQ(dec("18446744073709551615.9").to_u64(), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(dec("1.9999").to_u64(), 1u);
    EXPECT_EQ(dec("0.000").to_u64(), 0u);
    EXPECT_FALSE(dec("18446744073709551616").to_u64());
    EXPECT_FALSE(dec("-0.5").to_u64());
    EXPECT_FALSE(dec("-1").to_u64());
}

TEST(DecimalSqrt, RepresentationFollowsTheIteration) {
    const char* cases[][2] = {
        {"4", "2"},
        {"2", "1.4142135623730950488016887242"},
        {"1.5", "1.2247448713915890490986420374"},
        {"0.25", "0.500000000000000000000"},
        {"100", "10.000000000000000000000000000"},
        // The StableSwap sizing's step share, which it holds as a constant.
        {"0.000001", "0.0010000000000000000000000000"},
        {"0", "0"},
        {"0.000", "0"},
    };
    for (const auto& c : cases) EXPECT_EQ(dec(c[0]).sqrt()->to_string(), c[1]) << c[0];
    EXPECT_FALSE(dec("-1").sqrt());
    EXPECT_FALSE(dec("-0.0000000000000000000000000001").sqrt());
}

TEST(DecimalSqrt, ExtremesSettleWithoutFault) {
    // Halving the smallest value rounds to zero, so the iteration starts at x.
    EXPECT_EQ(*dec("0.0000000000000000000000000001").sqrt(), dec("0.00000000000001"));
    EXPECT_EQ(*dec("0.0000000000000000000000000004").sqrt(), dec("0.00000000000002"));
    // sqrt(2^96 - 1) = 2^48 - 1.8e-15, rounded within 29 digits.
    EXPECT_EQ(dec("79228162514264337593543950335").sqrt()->to_string(), "281474976710656.00000000000000");
}

}  // namespace
}  // namespace quarlen
