// The text form: sign, integer digits, and exactly `scale` digits after the
// point.
#include <algorithm>
#include <cstring>

#include "decimal/decimal.hpp"
#include "decimal/wide_integer.hpp"

namespace quarlen {

namespace {

constexpr std::uint64_t kTenPow19 = 10000000000000000000ULL;

// Writes the magnitude's decimal digits, most significant first, and returns
// their count (at least one).
int magnitude_digits(uint128 magnitude, char* digits) noexcept {
    // A 96-bit magnitude splits into a high part below 2^33 and a low part of
    // 19 digits, so the rest runs in 64-bit arithmetic.
    const detail::Divided128 split = detail::divide_by_64(magnitude, kTenPow19);
    const std::uint64_t high = static_cast<std::uint64_t>(split.quotient);
    std::uint64_t low = split.remainder;
    char reversed[40];
    int count = 0;
    if (high == 0) {
        do {
            reversed[count++] = static_cast<char>('0' + low % 10);
            low /= 10;
        } while (low != 0);
    } else {
        for (int i = 0; i < 19; ++i) {
            reversed[count++] = static_cast<char>('0' + low % 10);
            low /= 10;
        }
        std::uint64_t rest = high;
        while (rest != 0) {
            reversed[count++] = static_cast<char>('0' + rest % 10);
            rest /= 10;
        }
    }
    std::reverse_copy(reversed, reversed + count, digits);
    return count;
}

// The longest scale whose text still fits: "-0." and 61 digits. Only values
// built against from_parts's contract (scale above 28) come near it.
constexpr int kWritableScale = static_cast<int>(Decimal::kMaxTextLength) - 3;

}  // namespace

std::size_t Decimal::format_to(char* out) const noexcept {
    char digits[40];
    const int digit_count = magnitude_digits(magnitude(), digits);
    const int digits_after_point = std::min(static_cast<int>(scale()), kWritableScale);

    char* cursor = out;
    if (is_negative()) *cursor++ = '-';
    if (digit_count > digits_after_point) {
        const int integer_digits = digit_count - digits_after_point;
        std::memcpy(cursor, digits, static_cast<std::size_t>(integer_digits));
        cursor += integer_digits;
        if (digits_after_point > 0) {
            *cursor++ = '.';
            std::memcpy(cursor, digits + integer_digits, static_cast<std::size_t>(digits_after_point));
            cursor += digits_after_point;
        }
    } else {
        // Below one: "0." then the leading zeros of the fraction.
        const int leading_zeros = digits_after_point - digit_count;
        *cursor++ = '0';
        *cursor++ = '.';
        std::memset(cursor, '0', static_cast<std::size_t>(leading_zeros));
        cursor += leading_zeros;
        std::memcpy(cursor, digits, static_cast<std::size_t>(digit_count));
        cursor += digit_count;
    }
    return static_cast<std::size_t>(cursor - out);
}

std::string Decimal::to_string() const {
    char text[kMaxTextLength];
    return std::string(text, format_to(text));
}

}  // namespace quarlen
