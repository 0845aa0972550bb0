// Two-coin CryptoSwap pool: balances priced by an invariant D that blends a
// constant sum and a constant product, with amplification A and gamma
// setting how far from balance the flat region reaches:
//
//   K0 = 4 x0 x1 / D^2,  K = A K0 gamma^2 / (gamma + 1 - K0)^2,
//   K D (x0 + x1) + x0 x1 = K D^2 + D^2 / 4.
//
// The pool never changes, so D is solved once, when it is built; a quote
// then solves the same invariant for the output with D fixed. Both solves are
// Newton iterations with the analytic derivative, kept inside a bracket that
// is known to hold the root. The sizing is a golden-section search of fixed
// length.
#pragma once

#include <array>
#include <cstdint>
#include <variant>

#include "core/src/computed_once.hpp"
#include "core/src/sizing.hpp"

namespace quarlen {

class CryptoSwapPool {
public:
    // Checks, in order: both balances > 0, amplification_a > 0, gamma > 0,
    // 0 < fee_retention <= 1, input_index 0 or 1. A pool that passes is
    // built even when its invariant cannot be solved; its quotes then report
    // why.
    static Sized<CryptoSwapPool> create(Decimal balance_0, Decimal balance_1, Decimal amplification_a, Decimal gamma,
                                        Decimal fee_retention, std::uint64_t input_index);

    // Output of coin 1 - input_index for delta_in of coin input_index
    // (delta_in >= 0; the fee is taken from the input). Never negative and
    // never more than the pool holds.
    Sized<Decimal> quote(Decimal delta_in) const;
    Sized<SizingResult> optimal_size(Decimal reference_price, const SizingConstraints& constraints) const;

    // The invariant D of the pool's balances, or why it has none.
    Sized<Decimal> invariant() const;
    // The output per unit of input for the smallest trades, fee included:
    // the slope of the invariant's level curve at the pool's balances.
    Sized<Decimal> spot_rate() const;
    Decimal typical_input() const { return balance_in(); }
    GuaranteeTier sizing_tier() const { return NumericallyGuaranteed{true}; }

    const std::array<Decimal, 2>& balances() const noexcept { return balances_; }
    Decimal amplification_a() const noexcept { return amplification_a_; }
    Decimal gamma() const noexcept { return gamma_; }
    Decimal fee_retention() const noexcept { return fee_retention_; }
    std::uint64_t input_index() const noexcept { return input_index_; }

private:
    // The invariant and the terms of the curve at the pool's own balances:
    // everything a quote needs besides its input.
    struct Curve {
        Decimal invariant;            // D
        Decimal excess;               // x0 + x1 - D, never negative
        Decimal share_out;            // x_j / D
        Decimal balance_ratio;        // K0 = 4 x0 x1 / D^2
        Decimal pole_distance;        // gamma + 1 - K0, where K would be infinite at 0
        Decimal amplification;        // K
        Decimal pole_gain;            // A * gamma / (gamma + 1 - K0)^2
        Decimal sum_excess;           // (x0 + x1) / D - 1
        Decimal gamma_plus_one;
        Decimal gamma_plus_one_squared;
        Decimal start_rate;           // output per unit of input for the smallest trades, before the fee
        Decimal start_bend;           // how the rate falls with the trade: see start_curve
    };
    // The solve's outcome, kept for every quote: the curve, the error the
    // quotes report, or the fault of the plain arithmetic that they raise.
    using Outcome = std::variant<Curve, SizingError, DecimalFault>;

    CryptoSwapPool(std::array<Decimal, 2> balances, Decimal amplification_a, Decimal gamma, Decimal fee_retention,
                   std::uint64_t input_index)
        : balances_(balances), amplification_a_(amplification_a), gamma_(gamma), fee_retention_(fee_retention),
          input_index_(input_index), outcome_(solve_outcome()) {}

    Outcome solve_outcome() const;
    Sized<Curve> solve_curve() const;
    // The solved curve, or the error it was left with; raises a kept fault.
    Sized<const Curve*> curve() const;
    // The output for an input of `added` (the fee already taken).
    Sized<Decimal> output_for(const Curve& curve, Decimal added) const;
    // The balance of the output coin left after an input that brings the
    // input coin's balance to share_new * D, solved for directly: the way
    // output_for finishes a trade too large for its own solve.
    Sized<Decimal> balance_left(const Curve& curve, Decimal share_new) const;
    // The search objective: quote(size) - reference_price * size, with a
    // failing quote counted as a large loss.
    Decimal profit_at(Decimal reference_price, Decimal size) const;

    Decimal balance_in() const noexcept { return balances_[input_index_]; }
    Decimal balance_out() const noexcept { return balances_[1 - input_index_]; }

    std::array<Decimal, 2> balances_;
    Decimal amplification_a_;
    Decimal gamma_;
    Decimal fee_retention_;       // share of the input kept after the fee
    std::uint64_t input_index_;   // coin paid in; the other coin is paid out
    Outcome outcome_;             // the invariant, solved once
    ComputedOnce<Sized<Decimal>> probe_;  // the quote for the probe size, worked out on first use
};

}  // namespace quarlen
