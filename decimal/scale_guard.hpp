// Every operation assumes a scale of at most 28; only from_parts, whose
// contract forbids it, could build a larger one. Tables of powers of ten are
// indexed by scales and scale differences, so such a value is refused up
// front rather than read past a table's end.
#pragma once

#include "decimal/decimal.hpp"

namespace quarlen::detail {

inline constexpr const char* kScaleFault = "Scale exceeds maximum supported scale";

constexpr bool has_valid_scale(Decimal value) noexcept { return value.scale() <= Decimal::kMaxScale; }

inline void require_valid_scale(Decimal value) {
    if (!has_valid_scale(value)) throw DecimalFault(kScaleFault);
}

}  // namespace quarlen::detail
