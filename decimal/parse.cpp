// Text to Decimal, plain and scientific.
//
// Decisions for the corners the accepted form leaves open:
//  - A point may lead or trail: ".5" is 0.5 and "1." is 1 (scale 0); a sign
//    followed by nothing, or by a lone point, has no digits.
//  - '_' is ignored anywhere after the first digit, including next to the
//    point and at the end ("1_", "1_.5", "1._5"); before the first digit it
//    is "must start lead with a number" ("_1", "-_1", "._1").
//  - A sign is accepted only as the first character; any other '+' or '-'
//    is an unknown character, as are spaces.
//  - The text is read left to right and the first problem met is reported,
//    so "1.2.x" reports two decimal points and an integer part that
//    overflows is reported at its overflowing digit.
//  - Scientific form: the marker is the first 'e' or 'E'; the mantissa is a
//    plain number (with the plain rounding of surplus digits); the exponent
//    is an optional '+' or '-' followed by at least one digit and nothing
//    else (no '_'). Without a marker the text is "Failed to parse".
//  - A mantissa whose own digits overflow 96 bits is "Number exceeds maximum
//    value that can be represented.", whatever the exponent; any other
//    mantissa or exponent problem is "Failed to parse". An exponent of more
//    than 18 significant digits is also "Failed to parse".
//  - A negative exponent that carries the scale (mantissa scale minus
//    exponent) past 28 fails with that scale in the message, zeros or not:
//    1.000e-28 and 0e-30 are refused like 1.5e-28.
//  - A positive exponent raises the magnitude; a zero mantissa stays zero
//    for any exponent.
#include <string>

#include "decimal/decimal.hpp"
#include "decimal/powers_of_ten.hpp"

namespace quarlen {

namespace {

enum class PlainError {
    empty,
    no_digits,
    two_points,
    underscore_first,
    unknown_character,
    integer_overflow,
    rounding_overflow,
};

const char* plain_message(PlainError error) noexcept {
    switch (error) {
        case PlainError::empty: return "Invalid decimal: empty";
        case PlainError::no_digits: return "Invalid decimal: no digits found";
        case PlainError::two_points: return "Invalid decimal: two decimal points";
        case PlainError::underscore_first: return "Invalid decimal: must start lead with a number";
        case PlainError::unknown_character: return "Invalid decimal: unknown character";
        case PlainError::integer_overflow: return "Invalid decimal: overflow from too many digits";
        case PlainError::rounding_overflow: return "Invalid decimal: overflow from mantissa after rounding";
    }
    return "Invalid decimal: unknown character";
}

std::expected<Decimal, PlainError> parse_plain(std::string_view text) noexcept {
    if (text.empty()) return std::unexpected(PlainError::empty);

    std::size_t position = 0;
    bool negative = false;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        position = 1;
    }

    uint128 magnitude = 0;
    std::uint32_t digits_after_point = 0;
    bool seen_point = false;
    bool seen_digit = false;
    // Once a digit no longer fits, the rest are only checked, not read.
    bool dropping = false;
    bool round_up = false;

    for (; position < text.size(); ++position) {
        const char c = text[position];
        if (c >= '0' && c <= '9') {
            seen_digit = true;
            if (dropping) continue;
            const unsigned digit = static_cast<unsigned>(c - '0');
            const uint128 next = magnitude * 10 + digit;  // magnitude < 2^96: no wrap
            const bool scale_full = seen_point && digits_after_point == Decimal::kMaxScale;
            if (scale_full || next > Decimal::kMaxMagnitude) {
                if (!seen_point) return std::unexpected(PlainError::integer_overflow);
                // The first surplus digit alone decides the rounding.
                dropping = true;
                round_up = digit >= 5;
                continue;
            }
            magnitude = next;
            if (seen_point) ++digits_after_point;
        } else if (c == '.') {
            if (seen_point) return std::unexpected(PlainError::two_points);
            seen_point = true;
        } else if (c == '_') {
            if (!seen_digit) return std::unexpected(PlainError::underscore_first);
        } else {
            return std::unexpected(PlainError::unknown_character);
        }
    }
    if (!seen_digit) return std::unexpected(PlainError::no_digits);

    if (round_up) {
        if (magnitude < Decimal::kMaxMagnitude) {
            ++magnitude;
        } else {
            // The carry would reach 2^96: drop one more digit. The last digit
            // of 2^96 - 1 is 5, so that rounds up too.
            if (digits_after_point == 0) return std::unexpected(PlainError::rounding_overflow);
            magnitude = magnitude / 10 + 1;
            --digits_after_point;
        }
    }
    return Decimal::from_parts(magnitude, digits_after_point, negative);
}

constexpr const char* kMalformed = "Failed to parse";
constexpr const char* kTooLarge = "Number exceeds maximum value that can be represented.";
constexpr int kMaxExponentDigits = 18;

// An optional sign and at least one digit; no value when malformed or too long.
std::optional<std::int64_t> parse_exponent(std::string_view text) noexcept {
    std::size_t position = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        position = 1;
    }
    if (position == text.size()) return std::nullopt;
    std::int64_t value = 0;
    int significant_digits = 0;
    for (; position < text.size(); ++position) {
        const char c = text[position];
        if (c < '0' || c > '9') return std::nullopt;
        if (value != 0 || c != '0') ++significant_digits;
        if (significant_digits > kMaxExponentDigits) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

}  // namespace

std::expected<Decimal, std::string> Decimal::parse(std::string_view text) {
    const std::expected<Decimal, PlainError> parsed = parse_plain(text);
    if (!parsed) return std::unexpected(std::string(plain_message(parsed.error())));
    return *parsed;
}

std::expected<Decimal, std::string> Decimal::parse_scientific(std::string_view text) {
    const std::size_t marker = text.find_first_of("eE");
    if (marker == std::string_view::npos) return std::unexpected(std::string(kMalformed));

    const std::expected<Decimal, PlainError> mantissa = parse_plain(text.substr(0, marker));
    const std::optional<std::int64_t> exponent = parse_exponent(text.substr(marker + 1));
    if (!mantissa) {
        const bool overflow =
            mantissa.error() == PlainError::integer_overflow || mantissa.error() == PlainError::rounding_overflow;
        return std::unexpected(std::string(overflow && exponent ? kTooLarge : kMalformed));
    }
    if (!exponent) return std::unexpected(std::string(kMalformed));

    uint128 magnitude = mantissa->magnitude();
    const bool negative = mantissa->is_negative();
    // |exponent| < 10^18, so this cannot wrap.
    const std::int64_t resulting_scale = static_cast<std::int64_t>(mantissa->scale()) - *exponent;
    constexpr std::int64_t kMaxScale64 = Decimal::kMaxScale;

    // The scale the text asks for is the scale the value gets: a text that
    // asks for more than 28 digits after the point is refused, even when the
    // surplus digits are zeros, rather than silently changing its scale.
    if (resulting_scale > kMaxScale64) {
        return std::unexpected("Scale exceeds the maximum precision allowed: " + std::to_string(resulting_scale) +
                               " > " + std::to_string(Decimal::kMaxScale));
    }
    if (resulting_scale < 0) {
        if (magnitude == 0) return ZERO;
        // Any non-zero magnitude raised by 29 or more digits exceeds 2^96.
        if (-resulting_scale > kMaxScale64) return std::unexpected(std::string(kTooLarge));
        const uint128 limit = Decimal::kMaxMagnitude / detail::pow10(static_cast<int>(-resulting_scale));
        if (magnitude > limit) return std::unexpected(std::string(kTooLarge));
        return Decimal::from_parts(magnitude * detail::pow10(static_cast<int>(-resulting_scale)), 0, negative);
    }
    return Decimal::from_parts(magnitude, static_cast<std::uint32_t>(resulting_scale), negative);
}

}  // namespace quarlen
