// The arithmetic behind the plain and checked operators, for code that runs
// many operations on values it already knows to be valid (the square root's
// Newton loop, the logarithm's reductions, the curves' checked formulas): no
// scale checks and no exceptions. A failure comes back as the message the plain
// operator would throw.
#pragma once

#include "decimal/decimal.hpp"

namespace quarlen::detail {

// Each returns the result, or ZERO with `fault` set to the message the
// plain operator would throw. (A flag beside a value returned in registers
// costs less than a wrapped result returned through memory.) Every operand
// must have a scale of at most 28.
Decimal add(Decimal a, Decimal b, const char*& fault) noexcept;
Decimal subtract(Decimal a, Decimal b, const char*& fault) noexcept;
Decimal multiply(Decimal a, Decimal b, const char*& fault) noexcept;
Decimal divide(Decimal a, Decimal b, const char*& fault) noexcept;

// a / TWO, exactly as the division gives it; it cannot fail.
Decimal halve(Decimal a) noexcept;

}  // namespace quarlen::detail
