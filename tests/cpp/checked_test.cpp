// The checked formulas the curves retry from must give the plain operators'
// digits, representation included, wherever those succeed, and the plain
// operators' fault where they do not; the units they retry in must convert
// amounts exactly while the digits fit.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/src/checked.hpp"
#include "core/src/power_of_ten_units.hpp"
#include "decimal_test_support.hpp"

namespace quarlen {
namespace {

using testing::dec;
using testing::fault_of;

// Magnitudes of every digit count, at every scale, either sign.
Decimal random_decimal(std::mt19937_64& engine) {
    const int digits = 1 + static_cast<int>(engine() % 29);
    uint128 magnitude = 1;
    for (int i = 1; i < digits; ++i) magnitude = magnitude * 10 + engine() % 10;
    if (magnitude > Decimal::kMaxMagnitude) magnitude = Decimal::kMaxMagnitude - engine() % 1000;
    if (engine() % 16 == 0) magnitude = 0;
    return Decimal::from_parts(magnitude, static_cast<std::uint32_t>(engine() % 29), engine() % 2 == 0);
}

Decimal largest_value() { return Decimal::from_parts(Decimal::kMaxMagnitude, 0, false); }

// The plain result's text, or its fault; and the checked one's the same way.
template <class Plain>
std::string plain_outcome(Plain plain) {
    std::string text;
    const std::string fault = fault_of([&] { text = plain().to_string(); });
    return fault == "no fault" ? text : fault;
}
std::string checked_outcome(Checked result) { return result ? result->to_string() : fault_of([&] { result.value(); }); }

TEST(Checked, GivesThePlainOperatorsDigitsOrTheirFault) {
    std::mt19937_64 engine(20240611);
    for (int i = 0; i < 200000; ++i) {
        const Decimal a = random_decimal(engine);
        const Decimal b = random_decimal(engine);
        const Checked ca = a;
        ASSERT_EQ(checked_outcome(ca + b), plain_outcome([&] { return a + b; })) << a.to_string() << " + " << b.to_string();
        ASSERT_EQ(checked_outcome(ca - b), plain_outcome([&] { return a - b; })) << a.to_string() << " - " << b.to_string();
        ASSERT_EQ(checked_outcome(ca * b), plain_outcome([&] { return a * b; })) << a.to_string() << " * " << b.to_string();
        ASSERT_EQ(checked_outcome(ca / b), plain_outcome([&] { return a / b; })) << a.to_string() << " / " << b.to_string();
        ASSERT_EQ(checked_outcome(-ca), (-a).to_string()) << "-" << a.to_string();
    }
}

TEST(Checked, TheFirstFaultPassesThroughTheRestOfAFormula) {
    const Checked largest = largest_value();
    const Checked overflowed = largest * TWO;
    EXPECT_EQ(checked_outcome((-overflowed / ZERO) + ONE), "Multiplication overflowed");
    EXPECT_EQ(checked_outcome(ONE + (Checked(ONE) / ZERO)), "Division by zero");
    // A retry that cannot hold its answer reports the first attempt's fault.
    EXPECT_EQ(fault_of([&] { (largest + ONE).value_or_fault_of(overflowed); }), "Multiplication overflowed");
    EXPECT_EQ((largest - ONE).value_or_fault_of(overflowed).to_string(), "79228162514264337593543950334");
}

TEST(PowerOfTenUnits, PutTheLargestAmountNearAMillionAndConvertBackExactly) {
    const PowerOfTenUnits large = PowerOfTenUnits::around(dec("5000000000.123456789012345678"));
    EXPECT_EQ(large.to_units(dec("5000000000.123456789012345678")).to_string(), "5000000.000123456789012345678");
    EXPECT_EQ(large.from_units(large.to_units(dec("7.5")))->to_string(), "7.5000");
    const PowerOfTenUnits small = PowerOfTenUnits::around(dec("0.000000000002"));
    EXPECT_EQ(small.to_units(dec("0.000000000002")).to_string(), "2000000.000000000000");
    EXPECT_EQ(small.from_units(dec("2000000"))->to_string(), "0.000000000002000000");
    EXPECT_EQ(checked_outcome(large.from_units(largest_value())), "Multiplication overflowed");
    // Digits beyond the 28th place round half to even.
    EXPECT_EQ(large.to_units(dec("0.0000000000000000000000012500")).to_string(), "0.0000000000000000000000000012");
    EXPECT_EQ(large.to_units(dec("0.0000000000000000000000013500")).to_string(), "0.0000000000000000000000000014");
}

}  // namespace
}  // namespace quarlen
