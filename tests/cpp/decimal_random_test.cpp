// Randomized comparisons with the exact GMP model, over magnitudes from tiny
// to 2^96 - 1 and every scale from 0 to 28. The seed is fixed so a failure
// repeats.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "decimal/digit_shift.hpp"
#include "decimal/kernels.hpp"
#include "decimal_reference.hpp"
#include "decimal_test_support.hpp"

namespace quarlen {
namespace {

constexpr int kArithmeticCases = 150000;
constexpr int kDivisionCases = 150000;
constexpr int kSqrtCases = 20000;
constexpr int kTextCases = 60000;
constexpr int kEdgeCases = 20000;

class DecimalSource {
public:
    explicit DecimalSource(std::uint64_t seed) : engine_(seed) {}

    std::uint64_t bits() { return engine_(); }
    int below(int bound) { return static_cast<int>(engine_() % static_cast<std::uint64_t>(bound)); }

    uint128 magnitude() {
        switch (below(11)) {
            case 0: return bits() % 1000;
            case 1: return (uint128{1} << 32) - 2 + bits() % 4;  // either side of the products' 32-bit paths
            case 2: return (uint128{1} << 64) - 2 + bits() % 4;  // either side of one-word and two-word divisors
            case 3: return Decimal::kMaxMagnitude - bits() % 1000;
            case 4: {
                const uint128 leading_digit = 1 + bits() % 7;
                return reference::to_uint128(reference::pow10(below(29))) * leading_digit;
            }
            // Where halving odd magnitudes stops fitting 9 and 1 more digits.
            case 5: return Decimal::kMaxMagnitude / 500000000 - 2 + bits() % 4;
            case 6: return Decimal::kMaxMagnitude / 5 - 2 + bits() % 4;
            // Either side of a bit length, where the digit tables switch.
            case 7: return (uint128{1} << (1 + below(95))) - 1 + bits() % 2;
            default: {
                // Uniform in the digit count, so every length is as likely.
                const int digits = 1 + below(29);
                const uint128 low = reference::to_uint128(reference::pow10(digits - 1));
                const uint128 high = digits == 29 ? Decimal::kMaxMagnitude
                                                  : reference::to_uint128(reference::pow10(digits)) - 1;
                const uint128 random = (uint128{bits()} << 64) | bits();
                return low + random % (high - low + 1);
            }
        }
    }

    Decimal decimal() {
        return Decimal::from_parts(magnitude(), static_cast<std::uint32_t>(below(29)), (bits() & 1) != 0);
    }

    // Sometimes the same value at another scale (exact zeros, exact
    // quotients), a divisor of its magnitude or a product of powers of two
    // and five (exact quotients whose first chunk boundary decides the
    // trailing zeros they keep).
    Decimal partner_of(Decimal first) {
        const std::uint32_t scale = static_cast<std::uint32_t>(below(29));
        switch (below(16)) {
            case 0: {
                const Decimal rescaled = first * Decimal::from_parts(1, static_cast<std::uint32_t>(below(3)), false);
                return below(2) == 0 ? rescaled : -rescaled;
            }
            case 1: {
                const uint128 factor = 1 + bits() % 100000;
                const uint128 divisor = first.magnitude() / factor;
                return Decimal::from_parts(divisor == 0 ? 1 : divisor, scale, (bits() & 1) != 0);
            }
            case 2: {
                const uint128 power_of_two = uint128{1} << below(40);
                return Decimal::from_parts(power_of_two * reference::to_uint128(pow5(below(20))), scale, false);
            }
            default: return decimal();
        }
    }

private:
    static mpz_class pow5(int exponent) {
        mpz_class result;
        mpz_ui_pow_ui(result.get_mpz_t(), 5, static_cast<unsigned long>(exponent));
        return result;
    }

    std::mt19937_64 engine_;
};

std::string show(Decimal d) {
    return d.to_string() + " (scale " + std::to_string(d.scale()) + (d.is_negative() ? ", negative)" : ")");
}

std::string show(const std::optional<Decimal>& d) { return d ? show(*d) : "no value"; }

bool same_representation(const std::optional<Decimal>& a, const std::optional<Decimal>& b) {
    if (!a || !b) return !a && !b;
    return a->magnitude() == b->magnitude() && a->scale() == b->scale() && a->is_negative() == b->is_negative();
}

template <typename Plain>
std::optional<Decimal> plain_or_nothing(Plain plain, const char* overflow_message) {
    try {
        return plain();
    } catch (const DecimalFault& fault) {
        EXPECT_STREQ(fault.what(), overflow_message);
        return std::nullopt;
    }
}

TEST(DecimalRandom, OrderingMatchesTheExactValues) {
    DecimalSource source(0x5eed0006);
    int failures = 0;
    for (int i = 0; i < kArithmeticCases && failures < 10; ++i) {
        const Decimal a = source.decimal();
        // Often the same digits at another scale, the hardest to order.
        const Decimal b = source.below(4) == 0
                              ? Decimal::from_parts(a.magnitude(), static_cast<std::uint32_t>(source.below(29)), a.is_negative())
                              : source.partner_of(a);
        const int expected = reference::compare(a, b);
        const std::strong_ordering order = a <=> b;
        const int got = order < 0 ? -1 : order > 0 ? 1 : 0;
        if (got != expected || (a == b) != (expected == 0)) {
            ++failures;
            ADD_FAILURE() << show(a) << " against " << show(b) << ": expected " << expected << ", got " << got;
        }
    }
}

TEST(DecimalRandom, AddSubtractAndMultiplyMatchTheExactReduction) {
    DecimalSource source(0x5eed0001);
    int failures = 0;
    for (int i = 0; i < kArithmeticCases && failures < 10; ++i) {
        const Decimal a = source.decimal();
        const Decimal b = source.partner_of(a);
        const std::optional<Decimal> sum = reference::add(a, b);
        const std::optional<Decimal> difference = reference::add(a, -b);
        const std::optional<Decimal> product = reference::multiply(a, b);

        const bool ok = same_representation(a.checked_add(b), sum) &&
                        same_representation(plain_or_nothing([&] { return a + b; }, "Addition overflowed"), sum) &&
                        same_representation(a.checked_sub(b), difference) &&
                        same_representation(plain_or_nothing([&] { return a - b; }, "Subtraction overflowed"), difference) &&
                        same_representation(a.checked_mul(b), product) &&
                        same_representation(plain_or_nothing([&] { return a * b; }, "Multiplication overflowed"), product);
        if (!ok) {
            ++failures;
            ADD_FAILURE() << show(a) << " and " << show(b) << ": expected sum " << show(sum) << ", difference "
                          << show(difference) << ", product " << show(product) << "; got " << show(a.checked_add(b))
                          << ", " << show(a.checked_sub(b)) << ", " << show(a.checked_mul(b));
        }
    }
}

TEST(DecimalRandom, DivisionMatchesTheDigitRule) {
    DecimalSource source(0x5eed0002);
    int failures = 0;
    for (int i = 0; i < kDivisionCases && failures < 10; ++i) {
        const Decimal a = source.decimal();
        Decimal b = source.partner_of(a);
        if (b.is_zero()) b = ONE;
        const std::optional<Decimal> expected = reference::divide(a, b);
        const std::optional<Decimal> plain = plain_or_nothing([&] { return a / b; }, "Division overflowed");
        if (!same_representation(a.checked_div(b), expected) || !same_representation(plain, expected)) {
            ++failures;
            ADD_FAILURE() << show(a) << " / " << show(b) << ": expected " << show(expected) << ", got "
                          << show(a.checked_div(b));
        }
        // The square root's closed-form halving is the division by TWO.
        const std::optional<Decimal> half = reference::divide(a, TWO);
        if (!same_representation(detail::halve(a), half)) {
            ++failures;
            ADD_FAILURE() << "half of " << show(a) << ": expected " << show(half) << ", got " << show(detail::halve(a));
        }
    }
}

// Operands whose exact results sit right at 2^96 - 1, where the rounding
// carries past the limit happen; random operands almost never land there.
TEST(DecimalRandom, ResultsAtTheTopOfTheRangeMatchTheExactRules) {
    DecimalSource source(0x5eed0008);
    int failures = 0;
    for (int i = 0; i < kEdgeCases && failures < 10; ++i) {
        const int scale = source.below(28);
        const uint128 gap = source.bits() % 50;
        // The exact sum is about (2^96 - 1) * 10 plus a last digit of 0..19.
        const Decimal a = Decimal::from_parts(Decimal::kMaxMagnitude - gap, static_cast<std::uint32_t>(scale), false);
        const Decimal b = Decimal::from_parts(gap * 10 + source.bits() % 20, static_cast<std::uint32_t>(scale + 1), false);
        // A quotient whose leading digits are those of 2^96 - 1, give or take.
        const std::uint64_t divisor = 2 + source.bits() % 8;
        const uint128 target = Decimal::kMaxMagnitude - source.bits() % 40;
        const Decimal dividend = Decimal::from_parts(target * divisor / 10 + source.bits() % divisor,
                                                     static_cast<std::uint32_t>(source.below(29)), false);
        const Decimal d = Decimal::from_parts(divisor, static_cast<std::uint32_t>(source.below(2)), false);

        // A sum across scales whose raised operand loses `lost` digits while
        // the other's last `lost` digits are exactly half a unit, give or
        // take one: the rounding ties and its neighbours.
        const int raise = 1 + source.below(28);
        const uint128 raised_magnitude = source.magnitude();
        const int lost = std::max(1, raise - detail::digits_that_fit(raised_magnitude));
        const uint128 unit = reference::to_uint128(reference::pow10(std::min(lost, 28)));
        const uint128 tail = unit / 2 + source.bits() % 3 - 1;
        const Decimal raised = Decimal::from_parts(raised_magnitude, static_cast<std::uint32_t>(28 - raise), (source.bits() & 1) != 0);
        const Decimal halfway = Decimal::from_parts((source.magnitude() / unit) * unit + tail, 28, (source.bits() & 1) != 0);

        const bool ok = same_representation(a.checked_add(b), reference::add(a, b)) &&
                        same_representation(a.checked_sub(-b), reference::add(a, b)) &&
                        same_representation(raised.checked_add(halfway), reference::add(raised, halfway)) &&
                        same_representation(raised.checked_sub(halfway), reference::add(raised, -halfway)) &&
                        same_representation(dividend.checked_div(d), reference::divide(dividend, d));
        if (!ok) {
            ++failures;
            ADD_FAILURE() << show(a) << " + " << show(b) << " = " << show(a.checked_add(b)) << ", expected "
                          << show(reference::add(a, b)) << "; " << show(raised) << " + " << show(halfway) << " = "
                          << show(raised.checked_add(halfway)) << ", expected " << show(reference::add(raised, halfway))
                          << "; " << show(dividend) << " / " << show(d) << " = " << show(dividend.checked_div(d))
                          << ", expected " << show(reference::divide(dividend, d));
        }
    }
}

// One more Newton step must give the same value, and the root must lie close
// to the true one: within one unit of its last digit, or three when it has 29
// digits. Then r + x / r needs a 30th digit, so the sum is rounded one place
// higher and its error, halved, can reach two and a half units of the root.
TEST(DecimalRandom, SqrtIsSettledAndCloseToTheTrueRoot) {
    DecimalSource source(0x5eed0003);
    const mpz_class ten_pow_28 = reference::pow10(28);
    int failures = 0;
    for (int i = 0; i < kSqrtCases && failures < 10; ++i) {
        const Decimal x = source.decimal().abs();
        const std::optional<Decimal> root = x.sqrt();
        ASSERT_TRUE(root) << show(x);
        EXPECT_EQ((-x).sqrt().has_value(), x.is_zero()) << show(x);
        if (x.is_zero()) continue;

        // (m - u)^2 / 10^2t <= x <= (m + u)^2 / 10^2t, scaled to integers.
        const mpz_class m = reference::to_mpz(root->magnitude());
        const int units = m >= ten_pow_28 ? 3 : 1;
        const int t = static_cast<int>(root->scale());
        const mpz_class x_scaled = reference::to_mpz(x.magnitude()) * reference::pow10(2 * t);
        const mpz_class unit_square = reference::pow10(static_cast<int>(x.scale()));
        const bool close = (m - units) * (m - units) * unit_square <= x_scaled &&
                           x_scaled <= (m + units) * (m + units) * unit_square;
        const bool settled = (*root + x / *root) / TWO == *root;
        // Digit for digit against the model's own iteration, for a share of
        // the cases (each takes a few dozen exact divisions).
        const bool as_modelled = i % 8 != 0 || same_representation(root, reference::sqrt(x).value);
        if (!close || !settled || !as_modelled || root->is_negative()) {
            ++failures;
            ADD_FAILURE() << "sqrt " << show(x) << " = " << show(root) << (close ? "" : " not close")
                          << (settled ? "" : " not settled") << (as_modelled ? "" : " not as modelled");
        }
    }
}

TEST(DecimalRandom, TextFormRoundTripsThroughParse) {
    DecimalSource source(0x5eed0004);
    int failures = 0;
    for (int i = 0; i < kTextCases && failures < 10; ++i) {
        const Decimal d = source.decimal();
        const std::string text = d.to_string();
        const auto parsed = Decimal::parse(text);
        if (text != reference::text(d) || !parsed || !same_representation(*parsed, d)) {
            ++failures;
            ADD_FAILURE() << show(d) << " printed as " << text << ", expected " << reference::text(d);
        }
    }
}

TEST(DecimalRandom, LongDigitStringsParseByTheSurplusDigitRule) {
    DecimalSource source(0x5eed0005);
    int failures = 0;
    for (int i = 0; i < kTextCases && failures < 10; ++i) {
        const bool negative = source.below(2) == 0;
        std::string integer_digits;
        std::string fraction_digits;
        const int integer_length = source.below(32);
        const int fraction_length = (integer_length == 0 ? 1 : 0) + source.below(36);
        const bool leading_zeros = source.below(4) == 0;
        for (int k = 0; k < integer_length; ++k) {
            integer_digits += static_cast<char>('0' + (leading_zeros && k < 3 ? 0 : source.below(10)));
        }
        // Runs of nines and zeros reach the rounding carries.
        const int digit_style = source.below(4);
        for (int k = 0; k < fraction_length; ++k) {
            const int digit = digit_style == 0 ? 9 : digit_style == 1 ? 0 : source.below(10);
            fraction_digits += static_cast<char>('0' + digit);
        }
        // Underscores are allowed anywhere after the first digit.
        std::string text = (negative ? "-" : "") + integer_digits + "." + fraction_digits;
        const std::size_t first_digit = text.find_first_of("0123456789");
        for (int k = source.below(4); k > 0; --k) {
            const int places_after_first_digit = static_cast<int>(text.size() - first_digit);
            text.insert(first_digit + 1 + static_cast<std::size_t>(source.below(places_after_first_digit)), 1, '_');
        }

        const std::optional<Decimal> expected = reference::parse(negative, integer_digits, fraction_digits);
        const auto parsed = Decimal::parse(text);
        const std::optional<Decimal> got = parsed ? std::optional<Decimal>(*parsed) : std::nullopt;
        if (!same_representation(got, expected)) {
            ++failures;
            ADD_FAILURE() << text << ": expected " << show(expected) << ", got "
                          << (parsed ? show(*parsed) : parsed.error());
        }
    }
}

}  // namespace
}  // namespace quarlen
