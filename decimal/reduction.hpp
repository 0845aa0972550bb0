// Rounding an exact intermediate back into a Decimal.
#pragma once

#include <optional>

#include "decimal/decimal.hpp"
#include "decimal/wide_integer.hpp"

namespace quarlen::detail {

// Brings an exact result (magnitude at `scale`, which may exceed 28) within
// the limits of a Decimal: the fewest trailing digits are removed that leave
// a scale of at most 28 and a magnitude of at most 2^96 - 1, rounding half to
// even over all removed digits. A carry past 2^96 - 1 removes one digit more.
// Sets `overflow` (and returns ZERO) when the limits could only be met at a
// negative scale. The scale is at most 56, that of a product.
Decimal reduce(const Uint192& magnitude, int scale, bool negative, bool& overflow) noexcept;

}  // namespace quarlen::detail
