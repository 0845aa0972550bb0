// Stable pool priced by x^3 * y + x * y^3 = k: flat near the peg, curving
// away from it. The pool always sells coin X for coin Y. A quote solves the
// new Y balance by Newton's iteration; the sizing brackets the profitable
// region by doubling and narrows it with a golden-section search.
#pragma once

#include "core/src/computed_once.hpp"
#include "core/src/sizing.hpp"

namespace quarlen {

class VelodromeStablePool {
public:
    // Checks reserve_x > 0, reserve_y > 0, 0 < fee_retention <= 1, in that order.
    static Sized<VelodromeStablePool> create(Decimal reserve_x, Decimal reserve_y, Decimal fee_retention);

    // Output of Y for delta_in of X (delta_in >= 0; the fee is taken from the input).
    Sized<Decimal> quote(Decimal delta_in) const;
    Sized<SizingResult> optimal_size(Decimal reference_price, const SizingConstraints& constraints) const;

    // Output per unit of input at zero size, fee included.
    Decimal spot_rate() const;
    Decimal typical_input() const { return reserve_x_; }
    GuaranteeTier sizing_tier() const { return NumericallyGuaranteed{true}; }

    Decimal reserve_x() const noexcept { return reserve_x_; }
    Decimal reserve_y() const noexcept { return reserve_y_; }
    Decimal fee_retention() const noexcept { return fee_retention_; }

private:
    VelodromeStablePool(Decimal reserve_x, Decimal reserve_y, Decimal fee_retention, Decimal sum_of_squares)
        : reserve_x_(reserve_x), reserve_y_(reserve_y), fee_retention_(fee_retention),
          sum_of_squares_(sum_of_squares) {}

    // The Y balance that keeps the invariant once X stands at new_x.
    Sized<Decimal> solve_y(Decimal new_x) const;
    // The search objective: quote(size) - reference_price * size, with a
    // failing quote counted as no output.
    Decimal profit_at(Decimal reference_price, Decimal size) const;

    Decimal reserve_x_;       // balance of coin X, the input coin
    Decimal reserve_y_;       // balance of coin Y, the output coin
    Decimal fee_retention_;   // share of the input kept after the fee
    Decimal sum_of_squares_;  // x^2 + y^2; the invariant is x * y * sum_of_squares
    ComputedOnce<Decimal> spot_rate_;  // the pool's own, worked out on first use
};

}  // namespace quarlen
