// The CryptoSwap pool solves its invariant in ratios to D and its quotes as a
// change from the pool's own balances. These tests hold both to the
// invariant written the plain way, K D (x0 + x1) + x0 x1 = K D^2 + D^2 / 4.
#include <gtest/gtest.h>

#include <string>

#include "core/src/curves/curve_cryptoswap.hpp"
#include "decimal_test_support.hpp"

namespace quarlen {
namespace {

using testing::dec;

// (left - right) / D^2 of the invariant, each term formed whole.
Decimal plain_residual(Decimal x0, Decimal x1, Decimal d, Decimal a, Decimal gamma) {
    const Decimal d_squared = d * d;
    const Decimal k0 = (Decimal::from_int(4) * x0 * x1) / d_squared;
    const Decimal pole = (gamma + ONE) - k0;
    const Decimal k = (a * k0 * gamma * gamma) / (pole * pole);
    return ((k * d * (x0 + x1) + x0 * x1) - (k * d_squared + d_squared / Decimal::from_int(4))) / d_squared;
}

TEST(CryptoSwapInvariant, EqualBalancesGiveTheirSumExactly) {
    for (const char* balance : {"1000", "0.000001", "1000000000.123456789012345678", "39614081257132168796771975167"}) {
        const auto pool = CryptoSwapPool::create(dec(balance), dec(balance), dec("5000"), dec("0.000001"), ONE, 0);
        ASSERT_TRUE(pool.has_value());
        EXPECT_EQ(pool->invariant().value(), dec(balance) + dec(balance)) << balance;
    }
}

TEST(CryptoSwapInvariant, InvariantAndQuotesStayOnTheCurve) {
    const Decimal limit = dec("0.00000000000000000001");
    for (const char* balance : {"1000", "250000.123456", "1000000000.123456789012345678"}) {
        for (const char* ratio : {"0.3333333333", "1.1", "3"}) {
            for (const char* a : {"1", "100", "5000"}) {
                for (const char* gamma : {"0.000001", "0.000145", "0.1"}) {
                    const Decimal x0 = dec(balance);
                    const Decimal x1 = x0 * dec(ratio);
                    const std::string pool_text = std::string(balance) + " x " + ratio + " A " + a + " gamma " + gamma;
                    for (std::uint64_t i : {0u, 1u}) {
                        const auto pool = CryptoSwapPool::create(x0, x1, dec(a), dec(gamma), dec("0.997"), i);
                        ASSERT_TRUE(pool.has_value());
                        const Decimal d = pool->invariant().value();
                        EXPECT_GE(d, (TWO * *x0.sqrt()) * *x1.sqrt()) << pool_text;
                        EXPECT_LE(d, x0 + x1) << pool_text;
                        EXPECT_LE(plain_residual(x0, x1, d, dec(a), dec(gamma)).abs(), limit) << pool_text;

                        const Decimal in = i == 0 ? x0 : x1;
                        const Decimal out_before = i == 0 ? x1 : x0;
                        Decimal last = ZERO;
                        for (const char* share : {"0.000000001", "0.0001", "0.1", "1", "2"}) {
                            const Decimal delta = in * dec(share);
                            const Decimal out = pool->quote(delta).value();
                            EXPECT_GE(out, last) << pool_text << " share " << share;
                            EXPECT_LE(out, out_before) << pool_text << " share " << share;
                            const Decimal new_in = in + delta * dec("0.997");
                            const Decimal y = out_before - out;
                            const Decimal residual = i == 0 ? plain_residual(new_in, y, d, dec(a), dec(gamma))
                                                            : plain_residual(y, new_in, d, dec(a), dec(gamma));
                            EXPECT_LE(residual.abs(), limit) << pool_text << " share " << share;
                            last = out;
                        }
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace quarlen
