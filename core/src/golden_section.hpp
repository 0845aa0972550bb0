// The golden-section search several curves use to find their largest profit
// on a bracket. It keeps the two inner points and their profits from pass to
// pass, so each pass evaluates the profit once.
#pragma once

#include <cstdint>

#include "decimal/decimal.hpp"

namespace quarlen {

// (sqrt(5) - 1) / 2 to 28 digits after the point: 0.6180339887498948482045868344.
inline constexpr Decimal kGoldenRatio =
    Decimal::from_parts(uint128{618033988749894848} * 10'000'000'000u + 2045868344u, 28, false);

// The profit a size whose quote fails counts as inside a search: the most
// negative number, below any real profit, so the search moves away from it.
inline constexpr Decimal kWorstProfit = Decimal::from_parts(Decimal::kMaxMagnitude, 0, true);

// Which end of the bracket moves when the two inner profits are equal.
enum class TieMoves { lower_end, upper_end };

struct GoldenSection {
    Decimal lower;
    Decimal upper;
    std::uint32_t passes;

    Decimal midpoint() const { return (lower + upper) / TWO; }
};

// Narrows [lower, upper] towards the largest `profit` while
// `keep_going(lower, upper, passes)` holds; the inner points are
// upper - phi * (upper - lower) and lower + phi * (upper - lower), the width
// formed anew from the bounds every time.
template <class Profit, class KeepGoing>
GoldenSection golden_section_search(Decimal lower, Decimal upper, TieMoves ties, const Profit& profit,
                                    const KeepGoing& keep_going) {
    Decimal inner_low = upper - kGoldenRatio * (upper - lower);
    Decimal inner_high = lower + kGoldenRatio * (upper - lower);
    Decimal profit_low = profit(inner_low);
    Decimal profit_high = profit(inner_high);
    std::uint32_t passes = 0;
    while (keep_going(lower, upper, passes)) {
        ++passes;
        const bool move_upper =
            ties == TieMoves::upper_end ? profit_low >= profit_high : profit_low > profit_high;
        if (move_upper) {
            upper = inner_high;
            inner_high = inner_low;
            profit_high = profit_low;
            inner_low = upper - kGoldenRatio * (upper - lower);
            profit_low = profit(inner_low);
        } else {
            lower = inner_low;
            inner_low = inner_high;
            profit_low = profit_high;
            inner_high = lower + kGoldenRatio * (upper - lower);
            profit_high = profit(inner_high);
        }
    }
    return GoldenSection{lower, upper, passes};
}

// The fixed-length form: exactly `passes` passes, no other stopping rule.
template <class Profit>
GoldenSection golden_section_search(Decimal lower, Decimal upper, TieMoves ties, const Profit& profit,
                                    std::uint32_t passes) {
    return golden_section_search(lower, upper, ties, profit,
                                 [passes](Decimal, Decimal, std::uint32_t done) { return done < passes; });
}

}  // namespace quarlen
