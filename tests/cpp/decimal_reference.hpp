// An exact model of the Decimal rules in GMP integers, for the randomized
// comparisons. Each rule is restated from the exact value (rationals, not
// digit loops), so it shares no arithmetic with the implementation.
#pragma once

#include <gmpxx.h>

#include <algorithm>
#include <optional>
#include <string>

#include "decimal/decimal.hpp"

namespace quarlen::reference {

inline mpz_class to_mpz(uint128 value) {
    mpz_class result(static_cast<unsigned long>(value >> 64));
    result <<= 64;
    result += static_cast<unsigned long>(value);
    return result;
}

inline uint128 to_uint128(const mpz_class& value) {
    const mpz_class high = value >> 64;
    const mpz_class low = value - (high << 64);
    return (uint128{high.get_ui()} << 64) | low.get_ui();
}

inline mpz_class pow10(int exponent) {
    mpz_class result;
    mpz_ui_pow_ui(result.get_mpz_t(), 10, static_cast<unsigned long>(exponent));
    return result;
}

inline const mpz_class& max_magnitude() {
    static const mpz_class value = (mpz_class(1) << 96) - 1;
    return value;
}

inline bool is_odd(const mpz_class& value) { return mpz_odd_p(value.get_mpz_t()) != 0; }

// ±value / 10^scale.
inline mpz_class signed_magnitude(Decimal d) {
    const mpz_class m = to_mpz(d.magnitude());
    return d.is_negative() ? mpz_class(-m) : m;
}

inline Decimal make(const mpz_class& magnitude, int scale, bool negative) {
    return Decimal::from_parts(to_uint128(magnitude), static_cast<std::uint32_t>(scale), negative);
}

// magnitude / 10^digits rounded half to even over the whole remainder.
inline mpz_class round_half_even(const mpz_class& magnitude, int digits) {
    const mpz_class unit = pow10(digits);
    mpz_class kept = magnitude / unit;
    const mpz_class twice_rest = 2 * (magnitude - kept * unit);
    if (twice_rest > unit || (twice_rest == unit && is_odd(kept))) kept += 1;
    return kept;
}

// The reduction rule: the fewest digits removed whose half-even rounding
// fits both limits; no value when that needs a negative scale.
inline std::optional<Decimal> reduce(const mpz_class& magnitude, int scale, bool negative) {
    for (int removed = std::max(0, scale - 28);; ++removed) {
        const mpz_class kept = round_half_even(magnitude, removed);
        if (kept > max_magnitude()) continue;
        if (removed > scale) return std::nullopt;
        return make(kept, scale - removed, negative);
    }
}

inline std::optional<Decimal> add(Decimal a, Decimal b) {
    const int scale = static_cast<int>(std::max(a.scale(), b.scale()));
    const mpz_class sum = signed_magnitude(a) * pow10(scale - static_cast<int>(a.scale())) +
                          signed_magnitude(b) * pow10(scale - static_cast<int>(b.scale()));
    return reduce(abs(sum), scale, sum < 0);
}

// -1, 0 or 1 as a is below, equal to or above b.
inline int compare(Decimal a, Decimal b) {
    const int scale = static_cast<int>(std::max(a.scale(), b.scale()));
    const mpz_class difference = signed_magnitude(a) * pow10(scale - static_cast<int>(a.scale())) -
                                 signed_magnitude(b) * pow10(scale - static_cast<int>(b.scale()));
    return sgn(difference);
}

inline std::optional<Decimal> multiply(Decimal a, Decimal b) {
    return reduce(to_mpz(a.magnitude()) * to_mpz(b.magnitude()), static_cast<int>(a.scale() + b.scale()),
                  a.is_negative() != b.is_negative());
}

// The exact quotient |a / b| written at scale t: its integer part, whether
// nothing is left over, and how the leftover compares with one half.
struct QuotientAtScale {
    mpz_class digits;
    bool exact;
    int rest_against_half;
};

inline QuotientAtScale quotient_at(const mpz_class& ma, const mpz_class& mb, int natural_scale, int t) {
    mpz_class numerator = ma;
    mpz_class denominator = mb;
    if (t >= natural_scale) {
        numerator *= pow10(t - natural_scale);
    } else {
        denominator *= pow10(natural_scale - t);
    }
    const mpz_class digits = numerator / denominator;
    const mpz_class rest = numerator - digits * denominator;
    return {digits, rest == 0, cmp(2 * rest, denominator)};
}

inline mpz_class rounded(const QuotientAtScale& q) {
    mpz_class digits = q.digits;
    if (q.rest_against_half > 0 || (q.rest_against_half == 0 && is_odd(digits))) digits += 1;
    return digits;
}

// Division as the rule produces it: the natural scale when exact; otherwise
// digits in chunks of at most nine (fewer when the quotient would pass 96
// bits or scale 28) until exact or full, the last digit rounded, and then the
// fixed trailing-zero sequence. Empty for a zero divisor or an overflow; the
// caller tells those apart.
inline std::optional<Decimal> divide(Decimal a, Decimal b) {
    const mpz_class ma = to_mpz(a.magnitude());
    const mpz_class mb = to_mpz(b.magnitude());
    if (mb == 0) return std::nullopt;
    const bool negative = a.is_negative() != b.is_negative();
    const int natural = static_cast<int>(a.scale()) - static_cast<int>(b.scale());

    const QuotientAtScale first = quotient_at(ma, mb, natural, natural);
    if (first.exact) {
        if (natural >= 0) return make(first.digits, natural, negative);
        const QuotientAtScale raised = quotient_at(ma, mb, natural, 0);
        if (raised.digits > max_magnitude()) return std::nullopt;
        return make(raised.digits, 0, negative);
    }

    int scale = natural;
    mpz_class q;
    for (;;) {
        int chunk = std::min(9, 28 - scale);
        while (chunk > 0 && quotient_at(ma, mb, natural, scale + chunk).digits > max_magnitude()) --chunk;
        if (chunk == 0) {
            q = rounded(quotient_at(ma, mb, natural, scale));
            if (q > max_magnitude()) {
                --scale;
                q = rounded(quotient_at(ma, mb, natural, scale));
            }
            break;
        }
        scale += chunk;
        const QuotientAtScale here = quotient_at(ma, mb, natural, scale);
        if (here.exact) {
            if (scale < 0) {
                q = quotient_at(ma, mb, natural, 0).digits;
                if (q > max_magnitude()) return std::nullopt;
                scale = 0;
            } else {
                q = here.digits;
            }
            break;
        }
    }
    if (scale < 0) return std::nullopt;

    const mpz_class two_pow_32 = mpz_class(1) << 32;
    const auto low_word = [&] { return mpz_class(q % two_pow_32); };
    while (low_word() == 0 && scale >= 8 && q % 100000000 == 0) {
        q /= 100000000;
        scale -= 8;
    }
    if (low_word() % 16 == 0 && scale >= 4 && q % 10000 == 0) {
        q /= 10000;
        scale -= 4;
    }
    if (low_word() % 4 == 0 && scale >= 2 && q % 100 == 0) {
        q /= 100;
        scale -= 2;
    }
    if (low_word() % 2 == 0 && scale >= 1 && q % 10 == 0) {
        q /= 10;
        scale -= 1;
    }
    return make(q, scale, negative);
}

// The square root's Newton iteration run in this model: half the value to
// start (the value itself when that rounds to zero), then
// r <- (r + x / r) / 2 until a pass changes nothing, at most 999 passes.
// No value for a negative argument; a fault message when the model's own
// steps overflow or it never settles.
struct Root {
    std::optional<Decimal> value;
    const char* fault = nullptr;
};

inline Root sqrt(Decimal x) {
    if (x.is_negative()) return {};
    if (x.is_zero()) return {ZERO};
    std::optional<Decimal> root = divide(x, TWO);
    if (root->is_zero()) root = x;
    for (int pass = 0; pass < 999; ++pass) {
        const Decimal last = *root;
        const std::optional<Decimal> quotient = divide(x, last);
        if (!quotient) return {std::nullopt, "Division overflowed"};
        const std::optional<Decimal> sum = add(last, *quotient);
        if (!sum) return {std::nullopt, "Addition overflowed"};
        root = divide(*sum, TWO);
        if (compare(*root, last) == 0) return {root};
    }
    return {std::nullopt, "geo mean circuit breaker"};
}

// The text form built from the digits of the magnitude.
inline std::string text(Decimal d) {
    std::string digits = to_mpz(d.magnitude()).get_str();
    const std::size_t scale = d.scale();
    if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
    if (scale > 0) digits.insert(digits.size() - scale, 1, '.');
    return (d.is_negative() ? "-" : "") + digits;
}

// The plain parse of sign, integer digits and fraction digits (no
// underscores): the most fraction digits, at most 28, that keep the
// truncated magnitude within 96 bits, then the first dropped digit rounds up
// when 5 or more; a carry out of 96 bits gives up one more digit.
inline std::optional<Decimal> parse(bool negative, const std::string& integer_digits,
                                    const std::string& fraction_digits) {
    const std::string all_digits = integer_digits + fraction_digits;
    const mpz_class whole(all_digits.empty() ? "0" : all_digits, 10);
    const int fraction = static_cast<int>(fraction_digits.size());
    if (whole / pow10(fraction) > max_magnitude()) return std::nullopt;

    int kept_fraction = std::min(fraction, 28);
    while (whole / pow10(fraction - kept_fraction) > max_magnitude()) --kept_fraction;
    const auto keep = [&](int digits_after_point) {
        const int dropped = fraction - digits_after_point;
        mpz_class kept = whole / pow10(dropped);
        if (dropped > 0 && (whole / pow10(dropped - 1)) % 10 >= 5) kept += 1;
        return kept;
    };
    mpz_class kept = keep(kept_fraction);
    if (kept > max_magnitude()) {
        if (kept_fraction == 0) return std::nullopt;
        kept = keep(--kept_fraction);
    }
    return make(kept, kept_fraction, negative);
}

}  // namespace quarlen::reference
