// The checks that several pool families share, each with its one message.
// A check gives nothing for a valid value and, for an invalid one, the error
// to return, so that a constructor reads
//   if (const Rejection rejected = check_positive("x", x)) return *rejected;
// Each family keeps its own order of checks and its own composite messages.
#pragma once

#include <optional>

#include "core/src/sizing_error.hpp"
#include "decimal/decimal.hpp"

namespace quarlen {

using Rejection = std::optional<std::unexpected<SizingError>>;

// "{name} must be > 0, got {value}"
inline Rejection check_positive(StaticText name, Decimal value) noexcept {
    if (value.is_positive()) return std::nullopt;
    return invalid("{} must be > 0, got {}", name, value);
}

// "{name} must be in (0, 1], got {value}"
inline Rejection check_unit_interval(StaticText name, Decimal value) noexcept {
    if (value.is_positive() && value <= ONE) return std::nullopt;
    return invalid("{} must be in (0, 1], got {}", name, value);
}

// The share of a trade kept after the fee: 0 < fee_retention <= 1.
inline Rejection check_fee_retention(Decimal fee_retention) noexcept {
    return check_unit_interval("fee_retention", fee_retention);
}

// A quote's input: zero quotes to zero, a negative input is refused.
inline Rejection check_input_not_negative(Decimal delta_in) noexcept {
    if (!delta_in.is_negative()) return std::nullopt;
    return invalid("delta_in must be >= 0, got {}", delta_in);
}

// What every optimal-size procedure checks first.
inline Rejection check_reference_price(Decimal reference_price) noexcept {
    return check_positive("reference_price", reference_price);
}

}  // namespace quarlen
