// Text form and both parse forms: accepted shapes, surplus-digit rounding and
// every error message.
#include <gtest/gtest.h>

#include "decimal_test_support.hpp"

namespace quarlen {
namespace {

struct Parsed {
    const char* text;
    const char* expected;  // the text form of the result, or the error message
};

void expect_plain(std::initializer_list<Parsed> cases) {
    for (const Parsed& c : cases) {
        const auto parsed = Decimal::parse(c.text);
        EXPECT_EQ(parsed ? parsed->to_string() : parsed.error(), c.expected) << '"' << c.text << '"';
    }
}

void expect_scientific(std::initializer_list<Parsed> cases) {
    for (const Parsed& c : cases) {
        const auto parsed = Decimal::parse_scientific(c.text);
        EXPECT_EQ(parsed ? parsed->to_string() : parsed.error(), c.expected) << '"' << c.text << '"';
    }
}

TEST(DecimalTextForm, ShowsExactlyScaleDigitsAfterThePoint) {
    EXPECT_EQ(Decimal::from_parts(5, 2, false).to_string(), "0.05");
    EXPECT_EQ(Decimal::from_parts(150, 2, false).to_string(), "1.50");
    EXPECT_EQ(Decimal::from_parts(0, 3, true).to_string(), "0.000");
    EXPECT_EQ(Decimal::from_parts(1, 28, true).to_string(), "-0.0000000000000000000000000001");
    EXPECT_EQ(Decimal::from_parts(Decimal::kMaxMagnitude, 28, true).to_string(), "-7.9228162514264337593543950335");
    EXPECT_EQ(Decimal::from_parts(Decimal::kMaxMagnitude, 0, false).to_string(), "79228162514264337593543950335");
    // 10^19 exactly: the split into 64-bit halves must keep the inner zeros.
    EXPECT_EQ(Decimal::from_parts(uint128{10000000000000000000ULL}, 19, false).to_string(), "1.0000000000000000000");
    char buffer[Decimal::kMaxTextLength];
    const Decimal value = Decimal::from_parts(12345, 4, true);
    EXPECT_EQ(std::string(buffer, value.format_to(buffer)), "-1.2345");
}

TEST(DecimalPlainParse, AcceptsSignsPointsAndUnderscores) {
    expect_plain({
        {"1_000.5", "1000.5"},
        {"+7", "7"},
        {"-0", "0"},
        {"-0.00", "0.00"},
        {"007", "7"},
        {"1.", "1"},
        {".5", "0.5"},
        {"-.5", "-0.5"},
        {"1_", "1"},
        {"1._5", "1.5"},
        {"1__2_.3_", "12.3"},
        {"79228162514264337593543950335", "79228162514264337593543950335"},
        {"0.0000000000000000000000000001", "0.0000000000000000000000000001"},
    });
    EXPECT_FALSE(Decimal::parse("-0")->is_negative());
}

TEST(DecimalPlainParse, SurplusDigitsRoundOnTheFirstDroppedDigitOnly) {
    expect_plain({
        // 30 digits after the point: the 29th decides, the 30th is ignored.
        {"0.123456789012345678901234567851", "0.1234567890123456789012345679"},
        {"0.123456789012345678901234567849", "0.1234567890123456789012345678"},
        {"0.00000000000000000000000000005", "0.0000000000000000000000000001"},
        {"0.00000000000000000000000000004999", "0.0000000000000000000000000000"},
        // Beyond 96 bits the fraction is cut sooner.
        {"7922816251426433759354395033.4", "7922816251426433759354395033.4"},
        {"79228162514264337593543950334.6", "79228162514264337593543950335"},
        {"79228162514264337593543950335.4", "79228162514264337593543950335"},
        // A carry out of 96 bits removes one more digit.
        {"7.92281625142643375935439503355", "7.922816251426433759354395034"},
        {"7922816251426433759354395033.59", "7922816251426433759354395034"},
        // Ignored digits must still be valid characters.
        {"0.12345678901234567890123456789x", "Invalid decimal: unknown character"},
        {"0.1234567890123456789012345678901.2", "Invalid decimal: two decimal points"},
    });
}

TEST(DecimalPlainParse, ReportsEachErrorWithItsMessage) {
    expect_plain({
        {"", "Invalid decimal: empty"},
        {"-", "Invalid decimal: no digits found"},
        {"+", "Invalid decimal: no digits found"},
        {".", "Invalid decimal: no digits found"},
        {"-.", "Invalid decimal: no digits found"},
        {"1.2.3", "Invalid decimal: two decimal points"},
        {"..1", "Invalid decimal: two decimal points"},
        {"_1", "Invalid decimal: must start lead with a number"},
        {"-_1", "Invalid decimal: must start lead with a number"},
        {"._1", "Invalid decimal: must start lead with a number"},
        {"abc", "Invalid decimal: unknown character"},
        {" 1", "Invalid decimal: unknown character"},
        {"1 ", "Invalid decimal: unknown character"},
        {"--1", "Invalid decimal: unknown character"},
        {"1-", "Invalid decimal: unknown character"},
        {"1e5", "Invalid decimal: unknown character"},
        {"79228162514264337593543950336", "Invalid decimal: overflow from too many digits"},
        {"-123456789012345678901234567890.5", "Invalid decimal: overflow from too many digits"},
        {"79228162514264337593543950335.5", "Invalid decimal: overflow from mantissa after rounding"},
    });
    EXPECT_EQ(Decimal::parse(std::string_view("1\0", 2)).error(), "Invalid decimal: unknown character");
}

TEST(DecimalScientificParse, ScalesThePlainMantissa) {
    expect_scientific({
        {"1E-7", "0.0000001"},
        {"1e0", "1"},
        {"1.5e3", "1500"},
        {"1.50e1", "15.0"},
        {"-2.5E+2", "-250"},
        {"-0e5", "0"},
        {"1_000e-3", "1.000"},
        {".5e1", "5"},
        {"1e0000000000000000000000005", "100000"},
        {"1e-28", "0.0000000000000000000000000001"},
        {"1e28", "10000000000000000000000000000"},
        {"7.9228162514264337593543950335e28", "79228162514264337593543950335"},
        {"0e-28", "0.0000000000000000000000000000"},
        {"0e99999", "0"},
    });
}

TEST(DecimalScientificParse, ReportsEachErrorWithItsMessage) {
    expect_scientific({
        {"1e-29", "Scale exceeds the maximum precision allowed: 29 > 28"},
        {"1.50e-28", "Scale exceeds the maximum precision allowed: 30 > 28"},
        // Zeros count too: the text's own scale is never silently changed.
        {"1.000e-28", "Scale exceeds the maximum precision allowed: 31 > 28"},
        {"100e-30", "Scale exceeds the maximum precision allowed: 30 > 28"},
        {"0e-40", "Scale exceeds the maximum precision allowed: 40 > 28"},
        {"1e-999999999999999999", "Scale exceeds the maximum precision allowed: 999999999999999999 > 28"},
        {"1e29", "Number exceeds maximum value that can be represented."},
        {"7.9228162514264337593543950336e28", "Number exceeds maximum value that can be represented."},
        {"123456789012345678901234567890e-5", "Number exceeds maximum value that can be represented."},
        {"1e999999999999999999", "Number exceeds maximum value that can be represented."},
        {"1.5", "Failed to parse"},
        {"e5", "Failed to parse"},
        {"1e", "Failed to parse"},
        {"1e+", "Failed to parse"},
        {"1e5x", "Failed to parse"},
        {"1e1_0", "Failed to parse"},
        {"1e5e3", "Failed to parse"},
        {"1.2.3e4", "Failed to parse"},
        {"1e-1000000000000000000", "Failed to parse"},
        {"123456789012345678901234567890e", "Failed to parse"},
    });
}

}  // namespace
}  // namespace quarlen
