// Concentrated-liquidity pool in square-root-price form. Liquidity L is
// active between a lower and an upper square-root price; within a range at
// square-root price s the pool holds L / s of X and L * s of Y. Trades pay X
// in and take Y out, so the price (Y per X) falls as a trade walks down
// through the ranges. Sizing is a closed form per range.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "core/src/mobius_quote.hpp"
#include "core/src/sizing.hpp"

namespace quarlen {

struct TickRange {
    Decimal sqrt_price_lower;  // > 0
    Decimal sqrt_price_upper;  // > sqrt_price_lower
    Decimal liquidity;         // > 0, active inside the range
};

class ConcentratedLiquidity {
public:
    // A pool of one range. Checks, in order: liquidity > 0,
    // sqrt_price_lower > 0, sqrt_price_upper > sqrt_price_lower,
    // sqrt_price_current within [lower, upper], 0 < fee_retention <= 1.
    static Sized<ConcentratedLiquidity> create(Decimal liquidity, Decimal sqrt_price_lower, Decimal sqrt_price_upper,
                                               Decimal sqrt_price_current, Decimal fee_retention);

    // A pool of several ranges, in ascending price order (index 0 lowest).
    // Each range must start exactly where the one below it ends: the walk
    // moves from a range's lower bound straight into the next range down, so
    // a gap would be priced as if the lower range's liquidity filled it, and
    // an overlap would count liquidity twice. Checks, in order: at least one
    // range; per range from index 0, the single-range checks of liquidity and
    // bounds (messages prefixed "tick range {i}: "), then contiguity with the
    // range below; sqrt_price_current within [lowest lower, highest upper];
    // 0 < fee_retention <= 1. The scalar accessors then report the lowest
    // lower bound, the highest upper bound and the liquidity of the range the
    // current price lies in.
    static Sized<ConcentratedLiquidity> from_ranges(std::vector<TickRange> ranges, Decimal sqrt_price_current,
                                                    Decimal fee_retention);

    Sized<Decimal> quote(Decimal delta_in) const;
    Sized<SizingResult> optimal_size(Decimal reference_price, const SizingConstraints& constraints) const;

    // f * P at the current price P = s^2: the output per unit of input for
    // the smallest trades.
    Decimal spot_rate() const;
    // L / s: the X side of the range the price is in.
    Decimal typical_input() const { return liquidity_ / sqrt_price_current_; }
    GuaranteeTier sizing_tier() const { return ProvenOptimal{}; }
    // Within one range the quote is L s f d / (L / s + f d): virtual reserves
    // (L / s) / f and L s, up to the range's capacity. That is the whole quote
    // when the walk starts in the lowest range (always, for one range); none
    // otherwise, since the ranges below change the curve.
    std::optional<MobiusQuote> mobius_quote() const;

    const std::vector<TickRange>& ranges() const noexcept { return ranges_; }
    Decimal liquidity() const noexcept { return liquidity_; }
    Decimal sqrt_price_lower() const noexcept { return sqrt_price_lower_; }
    Decimal sqrt_price_upper() const noexcept { return sqrt_price_upper_; }
    Decimal sqrt_price_current() const noexcept { return sqrt_price_current_; }
    Decimal fee_retention() const noexcept { return fee_retention_; }

private:
    ConcentratedLiquidity(std::vector<TickRange> ranges, Decimal liquidity, Decimal sqrt_price_lower,
                          Decimal sqrt_price_upper, Decimal sqrt_price_current, Decimal fee_retention)
        : ranges_(std::move(ranges)),
          liquidity_(liquidity),
          sqrt_price_lower_(sqrt_price_lower),
          sqrt_price_upper_(sqrt_price_upper),
          sqrt_price_current_(sqrt_price_current),
          fee_retention_(fee_retention),
          start_(starting_range(ranges_, sqrt_price_current)) {}

    // The index of the range the walk starts in: the highest one that holds
    // the current price (a price on the bound between two ranges starts in
    // the upper one, whose remaining capacity is then zero). The factories
    // have checked that one does.
    static std::size_t starting_range(const std::vector<TickRange>& ranges, Decimal sqrt_price_current) noexcept;

    std::vector<TickRange> ranges_;  // ascending; quote and sizing walk these
    Decimal liquidity_;              // what the pool was built with; not read
    Decimal sqrt_price_lower_;       //   by quote or sizing, which read the
    Decimal sqrt_price_upper_;       //   ranges instead
    Decimal sqrt_price_current_;
    Decimal fee_retention_;
    std::size_t start_;  // the range the walk starts in, found once
};

}  // namespace quarlen
