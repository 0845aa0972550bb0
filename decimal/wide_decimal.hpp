// The wide intermediate of the powers, the exponential and the logarithm: a
// signed magnitude of up to 192 bits with its own scale. Partial results are
// carried at a few more digits than a Decimal shows, so the series and the
// repeated squarings round far below the Decimal's last digit, and only the
// final conversion decides that digit.
#pragma once

#include <cstdint>
#include <optional>

#include "decimal/decimal.hpp"
#include "decimal/wide_integer.hpp"

namespace quarlen::detail {

// Every product, sum and quotient is cut back to at most this many digits
// after the point (and to 192 bits, giving up more digits for large values),
// rounding half to even. Eight digits beyond the Decimal's 28 keep the
// roundings of a 100-term series well below the final digit; the known
// results of ln, exp and powd come out the same for any working scale from
// 31 to 37.
inline constexpr int kWorkingScale = 36;

// How the final conversion to a Decimal treats the dropped digits.
enum class FinalRounding {
    // The Decimal's own reduction rule.
    HalfEven,
    // Up by one unit whenever any dropped digit is non-zero.
    AwayFromZero,
};

struct WideDecimal {
    Uint192 magnitude;
    int scale = 0;  // 0..kWorkingScale
    bool negative = false;

    static WideDecimal from(Decimal value) noexcept {
        return {Uint192::from(value.magnitude()), static_cast<int>(value.scale()), value.is_negative()};
    }
    static WideDecimal from_int(std::int64_t value) noexcept { return from(Decimal::from_int(value)); }

    bool is_zero() const noexcept { return magnitude.is_zero(); }
};

// Each operation forms its exact result and cuts it back to the working
// scale and 192 bits. No value when even scale 0 cannot hold it.
std::optional<WideDecimal> multiply(const WideDecimal& a, const WideDecimal& b) noexcept;
std::optional<WideDecimal> add(const WideDecimal& a, const WideDecimal& b) noexcept;
// a / divisor for a non-zero divisor, at the working scale.
std::optional<WideDecimal> divide(const WideDecimal& a, std::uint32_t divisor) noexcept;
// 1 / value for a non-zero value, at the working scale.
std::optional<WideDecimal> reciprocal(Decimal value) noexcept;

// The Decimal nearest under `rounding`, with the fewest digits removed that
// fit 96 bits and scale 28; no value when the result needs a negative scale.
std::optional<Decimal> to_decimal(const WideDecimal& value, FinalRounding rounding) noexcept;

}  // namespace quarlen::detail
