// Proactive-market-maker pool with targets. The pool holds a base and a quote
// asset, each with a target (its balance at rest) and a reserve (what it holds
// now), and prices at an oracle price i (quote per base) corrected by how far
// the side a trade runs into stands from its target:
//   - while the pool is short of the asset the trader pays in, each unit paid
//     earns a premium over the oracle rate that falls linearly to zero at the
//     target;
//   - beyond the target the output follows from the targets through a
//     quadratic in the curvature k.
// The direction is fixed at construction. Sizing is a golden-section search of
// fixed length.
#pragma once

#include <expected>

#include "core/src/computed_once.hpp"
#include "core/src/sizing.hpp"

namespace quarlen {

class DodoPmmPool {
public:
    // Checks, in order: both targets > 0, both reserves > 0, oracle_price > 0,
    // 0 < k <= 1, 0 < fee_retention <= 1. No relation between targets and
    // reserves is required: a pool off its curve is valid.
    static Sized<DodoPmmPool> create(Decimal base_target, Decimal quote_target, Decimal base_reserve,
                                     Decimal quote_reserve, Decimal oracle_price, Decimal k, Decimal fee_retention,
                                     bool is_sell_base);

    // Output for delta_in of the input asset (base when selling base), never
    // more than the pool holds of the output asset.
    Sized<Decimal> quote(Decimal delta_in) const;
    Sized<SizingResult> optimal_size(Decimal reference_price, const SizingConstraints& constraints) const;

    // The output per unit of input for the smallest trades, fee included:
    // the premium's rate while the input side is short of its target, the
    // root's rate beyond it; zero where the output stays put at first (at
    // zero until the root covers a shortfall, or at the whole reserve).
    Sized<Decimal> spot_rate() const;
    Decimal typical_input() const { return is_sell_base_ ? base_reserve_ : quote_reserve_; }
    GuaranteeTier sizing_tier() const { return EmpiricallyValidated{true}; }

    Decimal base_target() const noexcept { return base_target_; }
    Decimal quote_target() const noexcept { return quote_target_; }
    Decimal base_reserve() const noexcept { return base_reserve_; }
    Decimal quote_reserve() const noexcept { return quote_reserve_; }
    Decimal oracle_price() const noexcept { return oracle_price_; }
    Decimal k() const noexcept { return k_; }
    Decimal fee_retention() const noexcept { return fee_retention_; }
    bool is_sell_base() const noexcept { return is_sell_base_; }

private:
    DodoPmmPool(Decimal base_target, Decimal quote_target, Decimal base_reserve, Decimal quote_reserve,
                Decimal oracle_price, Decimal k, Decimal fee_retention, bool is_sell_base)
        : base_target_(base_target),
          quote_target_(quote_target),
          base_reserve_(base_reserve),
          quote_reserve_(quote_reserve),
          oracle_price_(oracle_price),
          k_(k),
          fee_retention_(fee_retention),
          is_sell_base_(is_sell_base) {}

    // The root of k z^2 + T z - T v = 0, or the discriminant that had no root.
    using Root = std::expected<Decimal, Decimal>;

    // The output for `a` of the input asset after the fee, before the cap at
    // what the pool holds.
    Sized<Decimal> sell_base(Decimal a) const;
    Sized<Decimal> sell_quote(Decimal a) const;
    Decimal premium(Decimal deficit, Decimal target) const;
    Root root_selling_base(Decimal r) const;
    Root root_selling_quote(Decimal r) const;

    Decimal base_target_;    // B0
    Decimal quote_target_;   // Q0
    Decimal base_reserve_;   // B
    Decimal quote_reserve_;  // Q
    Decimal oracle_price_;   // i, quote per base
    Decimal k_;
    Decimal fee_retention_;
    bool is_sell_base_;  // true: base in, quote out
    ComputedOnce<Sized<Decimal>> probe_;  // the quote for the probe size, worked out on first use
};

}  // namespace quarlen
