// Integer and decimal powers, the exponential and the logarithm: the digits
// callers depend on, the faults and limits, and randomized comparisons with
// exact powers and with a 300-bit reference for ln and exp.
#include <gmpxx.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "decimal/powers.hpp"
#include "decimal/wide_decimal.hpp"
#include "decimal_reference.hpp"
#include "decimal_test_support.hpp"

namespace quarlen {
namespace {

using testing::dec;
using testing::fault_of;

std::string text(const std::optional<Decimal>& value) { return value ? value->to_string() : "no value"; }

constexpr std::uint64_t kLargestU64 = std::numeric_limits<std::uint64_t>::max();

// ---------------------------------------------------------------------------
// powi

TEST(Powi, ExactPowersKeepTheProductsRepresentation) {
    EXPECT_EQ(powi(dec("2"), 10).to_string(), "1024");
    EXPECT_EQ(powi(dec("1.5"), 2).to_string(), "2.25");
    EXPECT_EQ(powi(dec("1.50"), 2).to_string(), "2.2500");
    EXPECT_EQ(powi(dec("1.50"), 1).to_string(), "1.50");
    EXPECT_EQ(powi(dec("-2"), 3).to_string(), "-8");
    EXPECT_EQ(powi(dec("-2"), 4).to_string(), "16");
    EXPECT_EQ(powi(dec("3"), 3).to_string(), "27");  // a three-coin StableSwap's n^n
    EXPECT_EQ(powi(dec("2"), 95).to_string(), "39614081257132168796771975168");
    EXPECT_EQ(powi(dec("0.1"), 28).to_string(), "0.0000000000000000000000000001");
    for (const char* x : {"0", "-3.5", "79228162514264337593543950335", "0.0000000000000000000000000001"}) {
        EXPECT_EQ(powi(dec(x), 0).to_string(), "1") << x;
    }
}

TEST(Powi, TinyResultsRoundToAPlainZero) {
    EXPECT_EQ(powi(dec("0.1"), 29).to_string(), "0.0000000000000000000000000000");
    const Decimal odd_power = powi(dec("-0.1"), 29);
    EXPECT_TRUE(odd_power.is_zero());
    EXPECT_FALSE(odd_power.is_negative());
    EXPECT_TRUE(powi(dec("0.5"), kLargestU64).is_zero());
}

TEST(Powi, ResultsBeyondTheRangeFault) {
    EXPECT_EQ(powi(dec("10"), 28).to_string(), "10000000000000000000000000000");
    EXPECT_EQ(fault_of([] { powi(dec("10"), 29); }), "Pow overflowed");
    EXPECT_EQ(fault_of([] { powi(dec("-10"), 29); }), "Pow overflowed");
    EXPECT_EQ(fault_of([] { powi(dec("2"), 96); }), "Pow overflowed");
    // Far past the intermediate's 192 bits, and with a 64-bit exponent.
    EXPECT_EQ(fault_of([] { powi(dec("1.0000001"), kLargestU64); }), "Pow overflowed");
    EXPECT_EQ(powi(dec("-1"), kLargestU64).to_string(), "-1");
    EXPECT_EQ(powi(dec("1"), kLargestU64).to_string(), "1");
}

// A power whose exact digits never outgrow the intermediate is never rounded
// before the end, so it must equal the exact power under the reduction rule;
// any other power must be within one unit of it.
TEST(Powi, AgreesWithTheExactPower) {
    std::mt19937_64 engine(20260102);
    const mpz_class wide_limit = mpz_class(1) << 192;
    int unrounded = 0;
    for (int i = 0; i < 4000; ++i) {
        const int digits = 1 + static_cast<int>(engine() % 12);
        const int scale = static_cast<int>(engine() % static_cast<std::uint64_t>(digits + 1));
        const std::uint64_t magnitude = engine() % reference::pow10(digits).get_ui();
        const bool negative = (engine() & 1) != 0;
        const std::uint64_t n = 1 + engine() % 40;
        const Decimal x = Decimal::from_parts(magnitude, static_cast<std::uint32_t>(scale), negative);

        mpz_class exact;
        mpz_pow_ui(exact.get_mpz_t(), reference::to_mpz(magnitude).get_mpz_t(), n);
        const int exact_scale = scale * static_cast<int>(n);
        const bool result_negative = negative && (n % 2) == 1;
        const std::optional<Decimal> expected = reference::reduce(exact, exact_scale, result_negative);

        if (!expected) {
            EXPECT_EQ(fault_of([&] { powi(x, n); }), "Pow overflowed") << x.to_string() << "^" << n;
            continue;
        }
        const Decimal got = powi(x, n);
        if (exact < wide_limit && exact_scale <= detail::kWorkingScale) {
            ++unrounded;
            EXPECT_EQ(got.to_string(), expected->to_string()) << x.to_string() << "^" << n;
        } else {
            const Decimal unit = Decimal::from_parts(1, expected->scale(), false);
            EXPECT_LE((got - *expected).abs(), unit) << x.to_string() << "^" << n;
        }
    }
    EXPECT_GT(unrounded, 500);  // both branches were exercised
}

// ---------------------------------------------------------------------------
// exp

TEST(Exp, KnownDigits) {
    const char* cases[][2] = {
        {"0", "1"},
        {"1", "2.7182818284590452353602874714"},
        {"-1", "0.3678794411714423215955237702"},
        {"0.5", "1.6487212707001281468486507879"},
        {"10", "22026.46579480671651695790065"},
        // The exact value is ...184428.06: e^66 of the rounded constant
        // dominates, and the rounding away from zero gives the final 2.
        {"66", "46071866343312915426773184482"},
        {"0.0000000000000000000000000001", "1.0000000000000000000000000001"},
        {"-0.0000000000000000000000000001", "0.9999999999999999999999999999"},
    };
    for (const auto& c : cases) EXPECT_EQ(text(exp(dec(c[0]))), c[1]) << c[0];
}

TEST(Exp, NoValueBeyondTheRange) {
    EXPECT_TRUE(exp(dec("66.5")).has_value());  // about 7.6e28, just inside
    EXPECT_EQ(text(exp(dec("66.6"))), "no value");
    EXPECT_EQ(text(exp(dec("67"))), "no value");
    EXPECT_EQ(text(exp(dec("79228162514264337593543950335"))), "no value");
    // A negative argument is the reciprocal of its mirror, so it has a value
    // exactly when the mirror has; e^-66 is below the smallest unit.
    EXPECT_EQ(text(exp(dec("-66"))), "0");
    EXPECT_EQ(text(exp(dec("-67"))), "no value");
    EXPECT_EQ(text(exp(dec("-79228162514264337593543950335"))), "no value");
}

// ---------------------------------------------------------------------------
// ln

TEST(Ln, KnownDigits) {
    const char* cases[][2] = {
        {"1", "0"},
        {"1.000", "0"},
        // Powers of ten are exactly k ln 10, trailing zeros removed.
        {"10", "2.302585092994045684017991454"},
        {"100", "4.605170185988091368035982908"},
        {"0.1", "-2.302585092994045684017991454"},
        {"10000000000000000000000000000", "64.472382603833279152503760712"},
        // The reduction by e lands on exactly one: no series.
        {"2.7182818284590452353602874714", "1"},
        {"27.182818284590452353602874714", "3.302585092994045684017991454"},
        // The last digits are the algorithm's, not the true logarithm's.
        {"2", "0.6931471805599453094172321216"},
        {"0.5", "-0.6931471805599453094172321205"},
        {"3", "1.098612288668109691395245237"},
        {"0.000001", "-13.815510557964274104107948724"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ln(dec(c[0])).to_string(), c[1]) << c[0];
        EXPECT_EQ(text(checked_ln(dec(c[0]))), c[1]) << c[0];
    }
}

TEST(Ln, ZeroAndNegativeArgumentsFault) {
    EXPECT_EQ(fault_of([] { ln(dec("0")); }), "Unable to calculate ln for zero");
    EXPECT_EQ(fault_of([] { ln(dec("0.000")); }), "Unable to calculate ln for zero");
    EXPECT_EQ(fault_of([] { ln(dec("-1")); }), "Unable to calculate ln for negative numbers");
    EXPECT_EQ(fault_of([] { ln(dec("-0.0000000000000000000000000001")); }),
              "Unable to calculate ln for negative numbers");
    EXPECT_FALSE(checked_ln(dec("0")).has_value());
    EXPECT_FALSE(checked_ln(dec("-2")).has_value());
}

// ---------------------------------------------------------------------------
// powd

TEST(Powd, KnownDigits) {
    const char* cases[][3] = {
        // Through ln and exp, so not the square root's digits.
        {"4", "0.5", "2.0000000000000000000000000003"},
        {"2", "0.5", "1.4142135623730950488016887244"},
        // Integer exponents, after removing trailing zeros, take powi.
        {"2", "10", "1024"},
        {"0.5", "2.0", "0.25"},
        {"2", "2.000", "4"},
        {"-2", "3", "-8"},
        // A negative integer exponent divides one by the power.
        {"2", "-4", "0.0625"},
        {"4", "-1.0", "0.25"},
    };
    for (const auto& c : cases) EXPECT_EQ(text(powd(dec(c[0]), dec(c[1]))), c[2]) << c[0] << "^" << c[1];
}

TEST(Powd, ShortcutsForZeroAndOne) {
    EXPECT_EQ(text(powd(dec("0"), dec("0"))), "1");
    EXPECT_EQ(text(powd(dec("-7.5"), dec("0.00"))), "1");
    EXPECT_EQ(text(powd(dec("0"), dec("2.5"))), "0");
    EXPECT_EQ(text(powd(dec("1.00"), dec("123456.789"))), "1");
    EXPECT_EQ(text(powd(dec("1"), dec("4294967296"))), "1");
    EXPECT_EQ(text(powd(dec("1.50"), dec("1"))), "1.50");  // the base itself, unchanged
}

TEST(Powd, NoValueInsteadOfFaults) {
    // Zero to a negative power has no value (not a zero).
    EXPECT_EQ(text(powd(dec("0"), dec("-1"))), "no value");
    EXPECT_EQ(text(powd(dec("0"), dec("-0.5"))), "no value");
    // Integer exponents must fit 32 bits.
    EXPECT_EQ(text(powd(dec("2"), dec("4294967296"))), "no value");
    EXPECT_EQ(text(powd(dec("2"), dec("-4294967296"))), "no value");
    // Out of range on the integer path is no value, not powi's fault.
    EXPECT_EQ(text(powd(dec("1.0000001"), dec("4294967295"))), "no value");
    EXPECT_EQ(text(powd(dec("10"), dec("29"))), "no value");
    // The power underflows to zero, so its reciprocal does not exist.
    EXPECT_EQ(text(powd(dec("0.00000000000000000001"), dec("-2"))), "no value");
    // ln x * y beyond the range is no value rather than a multiplication fault.
    EXPECT_EQ(text(powd(dec("100000000000000000000"), dec("7922816251426433759354395033.5"))), "no value");
    EXPECT_EQ(text(powd(dec("100000000000000000000"), dec("-7922816251426433759354395033.5"))), "no value");
    EXPECT_EQ(text(powd(dec("3"), dec("61.5"))), "no value");
}

TEST(Powd, NegativeBaseWithFractionalExponentTakesTheSignOfTheBase) {
    EXPECT_EQ(text(powd(dec("-4"), dec("0.5"))), "-2.0000000000000000000000000003");
}

// ---------------------------------------------------------------------------
// Randomized accuracy against a 300-bit reference. The known digits show the
// algorithm's own error, and these bounds pin its size: ln 10 held to 27
// decimals puts up to about 1e-27 into every logarithm of a value below one
// or above ten, e^n of the rounded constant puts about 1e-27 relative into
// exp, and powd multiplies the logarithm's error by the exponent. Results
// below one can only be as good as their 28th decimal.

constexpr mp_bitcnt_t kBits = 300;

mpf_class big(Decimal value) { return mpf_class(value.to_string(), kBits); }

mpf_class reference_exp(const mpf_class& x) {
    // Halve until tiny, sum the Taylor series, square back.
    mpf_class r(x, kBits);
    int halvings = 0;
    while (abs(r) > 1e-3) {
        r /= 2;
        ++halvings;
    }
    mpf_class sum(1, kBits);
    mpf_class term(1, kBits);
    const mpf_class tiny("1e-95", kBits);
    for (unsigned i = 1; abs(term) > tiny; ++i) {
        term = term * r / i;
        sum += term;
    }
    for (int i = 0; i < halvings; ++i) sum *= sum;
    return sum;
}

mpf_class reference_ln(const mpf_class& x) {
    // Halley's iteration from the double logarithm triples the correct
    // digits each pass: 16, 48, 144.
    mpf_class y(std::log(x.get_d()), kBits);
    for (int pass = 0; pass < 4; ++pass) {
        const mpf_class e = reference_exp(y);
        y += 2 * (x - e) / (x + e);
    }
    return y;
}

// |got - exact| <= relative * |exact| + absolute.
::testing::AssertionResult close(Decimal got, const mpf_class& exact, double relative, double absolute) {
    const mpf_class error = abs(big(got) - exact);
    const mpf_class bound = relative * abs(exact) + absolute;
    if (error <= bound) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << got.to_string() << " is off by " << error.get_d() << " (bound "
                                         << bound.get_d() << ")";
}

class Source {
public:
    explicit Source(std::uint64_t seed) : engine_(seed) {}

    // A positive decimal m * 10^-s with `digits` significant digits.
    Decimal positive(int min_exponent, int max_exponent) {
        for (;;) {
            const int digits = 1 + below(28);
            const int exponent = min_exponent + below(max_exponent - min_exponent + 1);  // of the leading digit
            const int scale = digits - 1 - exponent;
            if (scale < 0 || scale > 28) continue;
            const mpz_class low = reference::pow10(digits - 1);
            mpz_class random(static_cast<unsigned long>(engine_()));
            random = (random << 64) + static_cast<unsigned long>(engine_());
            const mpz_class magnitude = low + random % (9 * low);
            if (magnitude > reference::max_magnitude()) continue;
            return reference::make(magnitude, scale, false);
        }
    }

    // Uniform in [low, high) with `scale` digits after the point (at most
    // 28): a double's fifteen digits, then random ones.
    Decimal uniform(double low, double high, int scale) {
        const double value = low + (high - low) * std::uniform_real_distribution<double>(0, 1)(engine_);
        const double widest = std::max(std::abs(low), std::abs(high));
        const int coarse = std::min(scale, 15 - static_cast<int>(std::ceil(std::log10(widest))));
        const long long units = std::llround(value * std::pow(10.0, coarse));
        const Decimal result = Decimal::from_parts(static_cast<uint128>(std::llabs(units)),
                                                   static_cast<std::uint32_t>(coarse), units < 0);
        const int fine_digits = std::min(scale - coarse, 19);
        if (fine_digits <= 0) return result;
        const std::uint64_t fine = engine_() % reference::pow10(fine_digits).get_ui();
        return result + Decimal::from_parts(fine, static_cast<std::uint32_t>(coarse + fine_digits), false);
    }

    int below(int bound) { return static_cast<int>(engine_() % static_cast<std::uint64_t>(bound)); }

private:
    std::mt19937_64 engine_;
};

TEST(PowersAccuracy, LnAcrossTheWholeRange) {
    Source source(7001);
    for (int i = 0; i < 1500; ++i) {
        const Decimal x = source.positive(-28, 28);
        EXPECT_TRUE(close(ln(x), reference_ln(big(x)), 1e-27, 1.5e-27)) << "ln " << x.to_string();
    }
}

TEST(PowersAccuracy, LnNearOne) {
    Source source(7002);
    for (int i = 0; i < 500; ++i) {
        const Decimal x = source.uniform(0.9, 1.1, 10 + source.below(12));
        EXPECT_TRUE(close(ln(x), reference_ln(big(x)), 0, 1.5e-27)) << "ln " << x.to_string();
    }
}

TEST(PowersAccuracy, Exp) {
    Source source(7003);
    for (int i = 0; i < 1500; ++i) {
        const Decimal x = source.uniform(-64, 66, source.below(20));
        const std::optional<Decimal> got = exp(x);
        ASSERT_TRUE(got.has_value()) << "exp " << x.to_string();
        EXPECT_TRUE(close(*got, reference_exp(big(x)), 3e-27, 1.5e-28)) << "exp " << x.to_string();
    }
}

TEST(PowersAccuracy, PowdAsBalancerUsesIt) {
    // Balance ratios near one raised to weight ratios.
    Source source(7004);
    for (int i = 0; i < 1000; ++i) {
        const Decimal x = source.uniform(0.05, 3, 6 + source.below(20));
        const Decimal y = source.uniform(-6, 6, 1 + source.below(15));
        const std::optional<Decimal> got = powd(x, y);
        ASSERT_TRUE(got.has_value()) << x.to_string() << "^" << y.to_string();
        const mpf_class exact = reference_exp(big(y) * reference_ln(big(x)));
        const double exponent = std::abs(std::stod(y.to_string()));
        EXPECT_TRUE(close(*got, exact, 2e-27 * (1 + exponent), 1.5e-28)) << x.to_string() << "^" << y.to_string();
    }
}

}  // namespace
}  // namespace quarlen
