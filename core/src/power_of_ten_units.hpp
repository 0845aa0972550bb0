// Token amounts restated in units of a power of ten.
//
// The pool formulas are homogeneous in the token amounts: state every amount
// in units of 10^e and the answer comes out in the same units. Where a
// formula's intermediates leave the number's range in the caller's units (a
// product of three reserves of a few thousand million passes 2^96 - 1; one of
// three reserves of a ten-thousand-millionth rounds to zero at 28 places), a
// curve computes it again in units in which its amounts are of ordinary size
// and converts the answer back. It does so only where the computation in the
// caller's units failed, so every answer that could be computed there keeps
// its digits.
#pragma once

#include "core/src/checked.hpp"
#include "decimal/decimal.hpp"

namespace quarlen {

class PowerOfTenUnits {
public:
    // Units in which `largest` (> 0) lies in [10^6, 10^7): large enough that
    // the smaller amounts keep their digits, small enough that products of a
    // few such amounts stay far inside the range.
    static PowerOfTenUnits around(Decimal largest) noexcept;

    // An amount in these units: divided by the unit, exactly unless that
    // needs more than 28 digits after the point (then rounded half to even).
    Decimal to_units(Decimal amount) const;
    // An amount in these units, back in the caller's: multiplied by the
    // unit, with the fault of an answer the caller's units cannot hold.
    Checked from_units(Checked amount) const;

private:
    explicit PowerOfTenUnits(int exponent) noexcept : exponent_(exponent) {}

    int exponent_;  // the unit is 10^exponent_, with |exponent_| <= 28
};

}  // namespace quarlen
