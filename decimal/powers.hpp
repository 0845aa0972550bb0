// Integer and decimal powers, the exponential and the natural logarithm of
// the Decimal number. Each works through a wide intermediate (a 192-bit
// magnitude with its own scale) and rounds to a Decimal once, at the end.
#pragma once

#include <cstdint>
#include <optional>

#include "decimal/decimal.hpp"

namespace quarlen {

// x^n by repeated squaring; n = 0 gives ONE. A result beyond the Decimal
// range throws DecimalFault("Pow overflowed").
Decimal powi(Decimal x, std::uint64_t n);

// x^y: integer exponents (after normalizing y) take the integer path,
// others go through ln and exp. No value when the result is out of range or
// an integer exponent does not fit 32 bits.
std::optional<Decimal> powd(Decimal x, Decimal y);

// e^x, or no value when the result is beyond the Decimal range.
std::optional<Decimal> exp(Decimal x);

// The natural logarithm. Throws DecimalFault with "Unable to calculate ln for
// zero", "Unable to calculate ln for negative numbers" or "Calculation of ln
// failed for unknown reasons".
Decimal ln(Decimal x);

// The logarithm, or no value where ln would fault.
std::optional<Decimal> checked_ln(Decimal x);

}  // namespace quarlen
