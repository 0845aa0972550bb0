// Division: the digit chunks, the last-digit rounding, the fixed trailing-zero
// stripping and the overflow corners.
#include <gtest/gtest.h>

#include "decimal_test_support.hpp"

namespace quarlen {
namespace {

using testing::dec;
using testing::fault_of;

struct Case {
    const char* dividend;
    const char* divisor;
    const char* quotient;
};

void expect_quotients(std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        const Decimal q = dec(c.dividend) / dec(c.divisor);
        EXPECT_EQ(q.to_string(), c.quotient) << c.dividend << " / " << c.divisor;
        EXPECT_FALSE(q.is_zero() && q.is_negative()) << c.dividend << " / " << c.divisor;
        EXPECT_EQ(dec(c.dividend).checked_div(dec(c.divisor))->to_string(), c.quotient);
    }
}

TEST(DecimalDivision, RoundsTheTwentyEighthDigitHalfToEven) {
    expect_quotients({
        {"1", "3", "0.3333333333333333333333333333"},
        {"2", "3", "0.6666666666666666666666666667"},
        {"22", "7", "3.1428571428571428571428571429"},
        {"-1", "3", "-0.3333333333333333333333333333"},
        {"-6", "-3", "2"},
    });
}

TEST(DecimalDivision, StripsTrailingZerosOnlyByTheFixedSequence) {
    expect_quotients({
        {"10", "4", "2.50"},
        {"5", "2", "2.50"},
        {"3", "4", "0.75"},
        {"1", "16", "0.0625"},
        {"1", "1024", "0.00097656250"},
        {"1", "0.25", "4"},
        {"1", "-4", "-0.25"},
        {"7", "0.0000000000000000000000000002", "35000000000000000000000000000"},
    });
}

TEST(DecimalDivision, ExactQuotientKeepsItsNaturalScale) {
    expect_quotients({
        {"1.00", "0.5", "2.0"},
        {"0.00", "5", "0.00"},
        {"0", "0.5", "0"},
        {"4.000", "2", "2.000"},
        {"1", "0.0000000000000000000000000001", "10000000000000000000000000000"},
    });
}

TEST(DecimalDivision, QuotientTooSmallToShowIsAPlainZero) {
    expect_quotients({
        {"0.0000000000000000000000000001", "3", "0"},
        {"-0.0000000000000000000000000001", "3", "0"},
        {"0.0000000000000000000000000002", "-4", "0"},
        {"0.0000000000000000000000000003", "4", "0.0000000000000000000000000001"},
    });
}

TEST(DecimalDivision, AppendedDigitsThatWouldPassTheLimitLeaveOneDigitFewer) {
    // 2^95 * 10^-27 / 5: the next digit would make the quotient 2^96.
    expect_quotients({{"39.614081257132168796771975168", "5", "7.922816251426433759354395034"}});
}

TEST(DecimalDivision, RoundingCarryPastTheLimitDropsADigit) {
    // The last kept quotient is 2^96 - 1 with remainder 5/7: rounding up
    // gives 2^96, which becomes 7922816251426433759354395034 one digit up.
    expect_quotients({{"55.459713759985036315480765235", "7", "7.922816251426433759354395034"}});
    // The same digits at scale 0 have no digit left to drop.
    EXPECT_EQ(fault_of([] { return dec("55459713759985036315480765235") / dec("0.7"); }), "Division overflowed");
}

TEST(DecimalDivision, FaultsOnZeroDivisorAndOnQuotientsBeyondTheRange) {
    EXPECT_EQ(fault_of([] { return ONE / ZERO; }), "Division by zero");
    EXPECT_EQ(fault_of([] { return ZERO / dec("0.000"); }), "Division by zero");
    EXPECT_FALSE(ONE.checked_div(ZERO));
    // Exact, but the negative scale cannot be raised to 0 within 96 bits.
    EXPECT_EQ(fault_of([] { return dec("10000000000000000000000000000") / dec("0.001"); }), "Division overflowed");
    // Inexact, and no digit fits even at scale 0.
    EXPECT_EQ(fault_of([] { return dec("79228162514264337593543950335") / dec("0.11"); }), "Division overflowed");
    EXPECT_FALSE(dec("79228162514264337593543950335").checked_div(dec("0.3")));
    EXPECT_EQ(fault_of([] { return dec("79228162514264337593543950335") / dec("0.9"); }), "Division overflowed");
}

TEST(DecimalDivision, ShortAndLongDivisorPathsAgree) {
    // The same ratio with the divisor below and above 2^32, at equal scales.
    const char* pairs[][2] = {{"1", "3"}, {"2", "3"}, {"10", "4"}, {"22", "7"}, {"1", "1024"},
                              {"792281625142643375", "4294967295"}};
    const Decimal widen = dec("100000000000");  // pushes any divisor past 2^32
    for (const auto& pair : pairs) {
        const Decimal short_path = dec(pair[0]) / dec(pair[1]);
        const Decimal long_path = (dec(pair[0]) * widen) / (dec(pair[1]) * widen);
        EXPECT_EQ(long_path.to_string(), short_path.to_string()) << pair[0] << " / " << pair[1];
    }
}

}  // namespace
}  // namespace quarlen
