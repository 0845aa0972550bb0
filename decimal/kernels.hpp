// The arithmetic behind the plain and checked operators, for code inside the
// number that runs many operations on values it already knows to be valid
// (the square root's Newton loop, the logarithm's reductions): no scale
// checks and no exceptions. A failure comes back as the message the plain
// operator would throw.
#pragma once

#include "decimal/decimal.hpp"

namespace quarlen::detail {

struct Outcome {
    Decimal value;
    const char* fault = nullptr;  // set when there is no value

    bool ok() const noexcept { return fault == nullptr; }
};

// Every operand must have a scale of at most 28.
Outcome add(Decimal a, Decimal b) noexcept;
Outcome subtract(Decimal a, Decimal b) noexcept;
Outcome multiply(Decimal a, Decimal b) noexcept;
Outcome divide(Decimal a, Decimal b) noexcept;

// a / TWO, exactly as the division gives it; it cannot fail.
Decimal halve(Decimal a) noexcept;

}  // namespace quarlen::detail
