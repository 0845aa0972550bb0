// The StableSwap invariant is never returned to Python, so its value and the
// Newton pass count are pinned here.
#include <gtest/gtest.h>

#include <variant>

#include "core/src/curves/stableswap.hpp"
#include "decimal_test_support.hpp"

namespace quarlen {
namespace {

using testing::dec;

TEST(StableSwapInvariant, TwoCoinPoolSettlesInTwoPasses) {
    const auto pool = StableSwapPool::create({dec("1000"), dec("2000")}, dec("100"), dec("0.997"));
    ASSERT_TRUE(pool.has_value());
    const auto invariant = pool->solve_invariant();
    ASSERT_TRUE(invariant.has_value());
    // 29 significant digits: the last quotient of the division rule still fits 96 bits.
    EXPECT_EQ(invariant->d.to_string(), "2999.0680311226205594554638845");
    EXPECT_EQ(invariant->passes, 2u);
    // A quote on the invariant the pool keeps matches one on a D solved afresh.
    EXPECT_EQ(pool->quote(dec("10"))->to_string(), pool->quote_with_invariant(dec("10"), invariant->d)->to_string());
    EXPECT_EQ(pool->quote(dec("10"))->to_string(), "10.011222855927228772821499062");
}

TEST(StableSwapInvariant, ZeroDenominatorReportsItsPass) {
    // D^(n+1) underflows to zero, the first pass gives D = 0 and the second
    // divides by zero.
    const auto pool = StableSwapPool::create({dec("0.000000000000000000000000001"), dec("0.000000000000000000000000001")}, dec("100"), dec("1"));
    ASSERT_TRUE(pool.has_value());
    const auto invariant = pool->solve_invariant();
    ASSERT_FALSE(invariant.has_value());
    const auto* error = std::get_if<DidNotConverge>(&invariant.error().value());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->iterations_attempted, 2u);
}

}  // namespace
}  // namespace quarlen
