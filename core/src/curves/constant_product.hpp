// Constant-product pool: x * y is preserved by a trade after the fee is taken
// from the input. The sizing is a closed form with one square root.
#pragma once

#include "core/src/mobius_quote.hpp"
#include "core/src/sizing.hpp"

namespace quarlen {

class CpmmPool {
public:
    // Checks x > 0, y > 0, 0 < fee_retention <= 1, in that order.
    static Sized<CpmmPool> create(Decimal x, Decimal y, Decimal fee_retention);

    // Output for delta_in. The sign of delta_in is not checked: a negative
    // input quotes a negative output as long as x + fee_retention * delta_in > 0.
    Sized<Decimal> quote(Decimal delta_in) const;
    Sized<SizingResult> optimal_size(Decimal reference_price, const SizingConstraints& constraints) const;

    // (fee_retention * y) / x: the output per unit of input for the smallest trades.
    Decimal spot_rate() const;
    Decimal typical_input() const { return x_; }
    GuaranteeTier sizing_tier() const { return ProvenOptimal{}; }
    // The quote is f y d / (x + f d): virtual reserves x / f and y, no limit.
    MobiusQuote mobius_quote() const;

    Decimal x() const noexcept { return x_; }
    Decimal y() const noexcept { return y_; }
    Decimal fee_retention() const noexcept { return fee_retention_; }

private:
    CpmmPool(Decimal x, Decimal y, Decimal fee_retention) : x_(x), y_(y), fee_retention_(fee_retention) {}

    Decimal x_;              // reserve of the input asset
    Decimal y_;              // reserve of the output asset
    Decimal fee_retention_;  // share of the input kept after the fee
};

}  // namespace quarlen
