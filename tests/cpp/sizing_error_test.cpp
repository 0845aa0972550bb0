// The text an error writes on demand: every kind of value in its place, and
// the record display around it.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "core/src/sizing_error.hpp"
#include "decimal_test_support.hpp"

namespace quarlen {
namespace {

using testing::dec;

std::string text_of(const std::unexpected<SizingError>& error) { return error.error().to_string(); }

TEST(SizingErrorText, EveryValueKindFillsItsPlaceInOrder) {
    const InvalidReserves four("{} of {}: {} [{}]", StaticText("name"), std::numeric_limits<std::uint64_t>::max(),
                               dec("-0.050"), std::uint64_t{0});
    EXPECT_EQ(four.detail(), "name of 18446744073709551615: -0.050 [0]");
    // A value at either end of the message, and none at all.
    EXPECT_EQ(InvalidReserves("{}", dec("1.0")).detail(), "1.0");
    EXPECT_EQ(InvalidReserves("{} must be > 0, got {}", StaticText("x"), ZERO).detail(), "x must be > 0, got 0");
    EXPECT_EQ(InvalidReserves("bins must not be empty").detail(), "bins must not be empty");
}

TEST(SizingErrorText, RecordDisplayOfEachKind) {
    EXPECT_EQ(text_of(invalid("x must be > 0, got {}", dec("-1"))),
              R"(InvalidReserves { detail: "x must be > 0, got -1" })");
    // Quotes and backslashes inside the detail are escaped.
    EXPECT_EQ(text_of(invalid("{}", StaticText(R"(a "b" \c)"))), R"(InvalidReserves { detail: "a \"b\" \\c" })");
    EXPECT_EQ(text_of(did_not_converge(0)), "DidNotConverge { iterations_attempted: 0 }");
    EXPECT_EQ(text_of(no_profitable_size()), "NoProfitableSize");
    EXPECT_EQ(text_of(no_arbitrage()), "NoArbitrageOpportunity");
}

}  // namespace
}  // namespace quarlen
