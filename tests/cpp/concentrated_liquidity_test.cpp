// Concentrated liquidity over several tick ranges: only the C++ factory
// builds such pools, so the walk across range bounds is tested here.
//
// The two-range pool used throughout, fee_retention 1:
//   range 0: sqrt price 1 .. 2, L = 4  -> X capacity 4/1 - 4/2 = 2, Y 4 * (2 - 1) = 4
//   range 1: sqrt price 2 .. 4, L = 8  -> X capacity 8/2 - 8/4 = 2, Y 8 * (4 - 2) = 16
// With the price at the top (s = 4), an input of d <= 2 stays in range 1 and
// pays 8 * (4 - 8 / (2 + d)); beyond that range 1 pays all 16 and range 0
// continues from s = 2 with 4 * (2 - 4 / (2 + (d - 2))).
#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "core/src/curves/concentrated_liquidity.hpp"
#include "decimal_test_support.hpp"

namespace quarlen {
namespace {

using testing::dec;

ConcentratedLiquidity two_ranges(const char* current, const char* fee = "1") {
    auto pool = ConcentratedLiquidity::from_ranges({{dec("1"), dec("2"), dec("4")}, {dec("2"), dec("4"), dec("8")}},
                                                   dec(current), dec(fee));
    EXPECT_TRUE(pool.has_value());
    return *pool;
}

std::string detail_of(const SizingError& error) {
    const auto* invalid_reserves = std::get_if<InvalidReserves>(&error.value());
    return invalid_reserves ? invalid_reserves->detail() : std::string(error.name());
}

template <class T>
std::string error_of(const Sized<T>& outcome) {
    return outcome ? "no error" : detail_of(outcome.error());
}

// |a - b| within 1e-25: for values whose exact form does not fit the digits.
void expect_near(Decimal actual, const char* expected) {
    EXPECT_LE((actual - dec(expected)).abs(), dec("0.0000000000000000000000001"))
        << actual.to_string() << " vs " << expected;
}

TEST(ConcentratedLiquidityRanges, QuoteWalksDownAcrossTheBound) {
    const ConcentratedLiquidity pool = two_ranges("4");
    expect_near(*pool.quote(dec("1")), "10.666666666666666666666666667");  // 8 * (4 - 8/3)
    EXPECT_EQ(*pool.quote(dec("2")), dec("16"));  // exactly down to the bound
    expect_near(*pool.quote(dec("3")), "18.666666666666666666666666667");  // 16 + 4 * (2 - 4/3)
    EXPECT_EQ(*pool.quote(dec("4")), dec("20"));  // both capacities, without the capacity error
    EXPECT_EQ(error_of(pool.quote(dec("4.0000001"))),
              "trade of size 4.0000001 exceeds total liquidity capacity across all tick ranges");
}

TEST(ConcentratedLiquidityRanges, PriceOnTheBoundStartsInTheUpperRangeWithNothingLeftInIt) {
    // Range 1 holds s = 2 at its lower bound: zero capacity, so the trade is
    // priced by range 0 alone, as a one-range pool would price it.
    const ConcentratedLiquidity pool = two_ranges("2");
    const ConcentratedLiquidity lower_only = *ConcentratedLiquidity::create(dec("4"), dec("1"), dec("2"), dec("2"), ONE);
    EXPECT_EQ(pool.liquidity(), dec("8"));
    EXPECT_EQ(*pool.quote(dec("1")), *lower_only.quote(dec("1")));
    EXPECT_EQ(pool.optimal_size(dec("3"), {})->optimal_delta, lower_only.optimal_size(dec("3"), {})->optimal_delta);
}

TEST(ConcentratedLiquidityRanges, SizingFindsTheRangeWhereTheMarginalRateMeetsThePrice) {
    const ConcentratedLiquidity pool = two_ranges("4");
    // Marginal rate f * s^2 is 16 at the top, 4 at the bound and 1 at the bottom.
    struct Case {
        const char* price;
        const char* size;
        const char* profit;
    };
    for (const Case& c : {
             Case{"9", "0.6666666666666666666666666667", "2"},  // inside range 1: 8 - 9 * 2/3
             Case{"4", "2", "8"},                                      // exactly at the bound
             Case{"2.25", "2.6666666666666666666666666667", "12"},     // range 1 whole, then into range 0
             Case{"0.5", "4", "18"},                                   // everything down to the bottom
         }) {
        const Sized<SizingResult> result = pool.optimal_size(dec(c.price), {});
        ASSERT_TRUE(result.has_value()) << c.price << ": " << detail_of(result.error());
        expect_near(result->optimal_delta, c.size);
        expect_near(result->expected_profit, c.profit);
        EXPECT_TRUE(std::holds_alternative<ProvenOptimal>(result->guarantee_tier.value()));
        EXPECT_FALSE(result->iterations.has_value());
    }
    EXPECT_EQ(error_of(pool.optimal_size(dec("16"), {})), "NoArbitrageOpportunity");
    // The cap applies to the walked total: 2 in range 1 at price 0.5 earns 16 - 1.
    SizingConstraints capped;
    capped.max_size = dec("2");
    EXPECT_EQ(pool.optimal_size(dec("0.5"), capped)->expected_profit, dec("15"));
}

TEST(ConcentratedLiquidityRanges, SizeOfAllRangesQuotesWithoutTheCapacityError) {
    // Awkward bounds and a fee, so every capacity is rounded: the sizing sums
    // the same capacities the quote subtracts, and the quote at that sum must
    // still reach the bottom rather than report the capacity error.
    const auto pool = ConcentratedLiquidity::from_ranges(
        {{dec("0.7"), dec("0.93"), dec("1234.5")},
         {dec("0.93"), dec("1.01"), dec("77.7")},
         {dec("1.01"), dec("1.3"), dec("999.9")}},
        dec("1.2"), dec("0.997"));
    ASSERT_TRUE(pool.has_value());
    const Sized<SizingResult> result = pool->optimal_size(dec("0.0001"), {});
    ASSERT_TRUE(result.has_value()) << detail_of(result.error());
    // Y of all three ranges from s = 1.2 down: 999.9*0.19 + 77.7*0.08 + 1234.5*0.23.
    expect_near(*pool->quote(result->optimal_delta), "480.132");
}

TEST(ConcentratedLiquidityRanges, CapacitiesOfVeryDifferentSizeStillAddUp) {
    // 500000 + 0.00700700700... does not fit 28 digits, so the summed size is
    // rounded up; subtracting the upper capacity back out of it leaves more
    // than the lower range holds. The quote compares against the same rounded
    // sum instead, so the size the sizing returns is a size the pool takes.
    const auto pool = ConcentratedLiquidity::from_ranges(
        {{dec("0.999"), dec("1.0"), dec("7")}, {dec("1.0"), dec("2.0"), dec("1000000")}}, dec("2"), ONE);
    ASSERT_TRUE(pool.has_value());
    const Sized<SizingResult> result = pool->optimal_size(dec("0.0000001"), {});
    ASSERT_TRUE(result.has_value()) << detail_of(result.error());
    EXPECT_EQ(result->optimal_delta.to_string(), "500000.00700700700700700700701");
    expect_near(*pool->quote(result->optimal_delta), "1000000.007");  // 1000000 * 1 + 7 * 0.001
    EXPECT_EQ(error_of(pool->quote(dec("500000.00700700700700700700702"))),
              "trade of size 500000.00700700700700700700702 exceeds total liquidity capacity across all tick ranges");
}

TEST(ConcentratedLiquidityRanges, FactoryChecks) {
    const TickRange low{dec("1"), dec("2"), dec("4")};
    const TickRange high{dec("2"), dec("4"), dec("8")};
    struct Case {
        std::vector<TickRange> ranges;
        const char* current;
        const char* fee;
        const char* detail;
    };
    for (const Case& c : std::initializer_list<Case>{
             {{}, "1", "1", "tick ranges must not be empty"},
             {{low, {dec("2"), dec("4"), ZERO}}, "1", "1", "tick range 1: liquidity must be > 0, got 0"},
             {{{dec("-1"), dec("2"), ONE}}, "1", "1", "tick range 0: sqrt_price_lower must be > 0, got -1"},
             {{low, {dec("2"), dec("2.0"), ONE}}, "1", "1",
              "tick range 1: sqrt_price_upper (2.0) must be > sqrt_price_lower (2)"},
             // A gap, an overlap and a descending order are all refused.
             {{low, {dec("2.5"), dec("4"), ONE}}, "1", "1",
              "tick range 1: sqrt_price_lower (2.5) must equal the sqrt_price_upper (2) of tick range 0"},
             {{low, {dec("1.5"), dec("4"), ONE}}, "1", "1",
              "tick range 1: sqrt_price_lower (1.5) must equal the sqrt_price_upper (2) of tick range 0"},
             {{high, low}, "1", "1",
              "tick range 1: sqrt_price_lower (1) must equal the sqrt_price_upper (4) of tick range 0"},
             {{low, high}, "4.01", "0", "sqrt_price_current (4.01) is outside [1, 4]"},
             {{low, high}, "0.99", "1", "sqrt_price_current (0.99) is outside [1, 4]"},
             {{low, high}, "1", "1.5", "fee_retention must be in (0, 1], got 1.5"},
         }) {
        EXPECT_EQ(error_of(ConcentratedLiquidity::from_ranges(c.ranges, dec(c.current), dec(c.fee))), c.detail);
    }
}

TEST(ConcentratedLiquidityRanges, OneRangeFromTheFactoryIsTheConstructorsPool) {
    const auto made = ConcentratedLiquidity::create(dec("1000"), dec("0.9"), dec("1.1"), ONE, dec("0.997"));
    const auto listed =
        ConcentratedLiquidity::from_ranges({{dec("0.9"), dec("1.1"), dec("1000")}}, ONE, dec("0.997"));
    ASSERT_TRUE(made && listed);
    EXPECT_EQ(listed->liquidity(), dec("1000"));
    EXPECT_EQ(listed->sqrt_price_lower(), dec("0.9"));
    EXPECT_EQ(listed->sqrt_price_upper(), dec("1.1"));
    EXPECT_EQ(made->quote(dec("50"))->to_string(), listed->quote(dec("50"))->to_string());
    EXPECT_EQ(made->optimal_size(dec("0.98"), {})->expected_profit.to_string(),
              listed->optimal_size(dec("0.98"), {})->expected_profit.to_string());
}

}  // namespace
}  // namespace quarlen
