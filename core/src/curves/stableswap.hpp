// StableSwap pool: n >= 2 coins priced by the StableSwap invariant with
// amplification A. A trade always pays coin 0 in and takes coin 1 out; the
// other coins only take part in the invariant and never change.
//
// Neither the invariant D nor the new output balance has a closed form: both
// are Newton iterations in the number's own arithmetic. The optimal size is
// found numerically, by bracketing and bisecting a finite-difference estimate
// of the marginal profit, so the result is NumericallyGuaranteed.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "core/src/computed_once.hpp"
#include "core/src/sizing.hpp"

namespace quarlen {

class StableSwapPool {
public:
    // Checks, in order: at least 2 reserves, every reserve > 0 from position
    // 0, amplification >= 1, 0 < fee_retention <= 1.
    static Sized<StableSwapPool> create(std::vector<Decimal> reserves, Decimal amplification, Decimal fee_retention);

    // Output of coin 1 for delta_in of coin 0, on the pool's invariant.
    Sized<Decimal> quote(Decimal delta_in) const;
    // Quotes every probe of the search on the pool's invariant.
    Sized<SizingResult> optimal_size(Decimal reference_price, const SizingConstraints& constraints) const;

    // The output per unit of input for the smallest trades, fee included:
    // f (Ann + T / x_0) / (Ann + T / x_1) with T = D^(n+1) / (n^n prod x),
    // the slope of the invariant's level curve at the pool's balances.
    Sized<Decimal> spot_rate() const;
    Decimal typical_input() const { return reserves_[0]; }
    GuaranteeTier sizing_tier() const { return NumericallyGuaranteed{is_well_posed()}; }

    // The invariant D and the Newton passes that found it.
    struct Invariant {
        Decimal d;
        std::uint32_t passes;
    };
    // Newton's solve of D, run afresh.
    Sized<Invariant> solve_invariant() const;
    // The quote for a D solved beforehand.
    Sized<Decimal> quote_with_invariant(Decimal delta_in, Decimal d) const;
    // A >= 1 and every reserve > 0: what the Newton solves assume. A pool
    // built by create always is.
    bool is_well_posed() const noexcept;

    const std::vector<Decimal>& reserves() const noexcept { return reserves_; }
    Decimal amplification() const noexcept { return amplification_; }
    Decimal fee_retention() const noexcept { return fee_retention_; }

private:
    // D, or the error of its solve: computed the first time a quote or a
    // sizing needs it, then kept, since the pool never changes.
    const Sized<Decimal>& invariant() const;

    StableSwapPool(std::vector<Decimal> reserves, Decimal amplification, Decimal fee_retention)
        : reserves_(std::move(reserves)), amplification_(amplification), fee_retention_(fee_retention) {}

    std::vector<Decimal> reserves_;  // x_0 is paid in, x_1 taken out
    Decimal amplification_;          // A
    Decimal fee_retention_;          // share of the output kept after the fee
    ComputedOnce<Sized<Decimal>> invariant_;
};

}  // namespace quarlen
