// Two-coin CryptoSwap pool: balances priced by an invariant D that blends a
// constant sum and a constant product, with amplification A and gamma
// setting how far from balance the flat region reaches. D and the output
// balance are found by Newton iterations on a forward finite difference; the
// sizing is a golden-section search of fixed length.
#pragma once

#include <array>
#include <cstdint>

#include "core/src/sizing.hpp"

namespace quarlen {

class CryptoSwapPool {
public:
    // Checks, in order: both balances > 0, amplification_a > 0, gamma > 0,
    // 0 < fee_retention <= 1, input_index 0 or 1.
    static Sized<CryptoSwapPool> create(Decimal balance_0, Decimal balance_1, Decimal amplification_a, Decimal gamma,
                                        Decimal fee_retention, std::uint64_t input_index);

    // Output of coin 1 - input_index for delta_in of coin input_index
    // (delta_in >= 0; the fee is taken from the input).
    Sized<Decimal> quote(Decimal delta_in) const;
    Sized<SizingResult> optimal_size(Decimal reference_price, const SizingConstraints& constraints) const;

    const std::array<Decimal, 2>& balances() const noexcept { return balances_; }
    Decimal amplification_a() const noexcept { return amplification_a_; }
    Decimal gamma() const noexcept { return gamma_; }
    Decimal fee_retention() const noexcept { return fee_retention_; }
    std::uint64_t input_index() const noexcept { return input_index_; }

private:
    CryptoSwapPool(std::array<Decimal, 2> balances, Decimal amplification_a, Decimal gamma, Decimal fee_retention,
                   std::uint64_t input_index)
        : balances_(balances), amplification_a_(amplification_a), gamma_(gamma), fee_retention_(fee_retention),
          input_index_(input_index) {}

    // The invariant residual F(b0, b1, D); zero on the curve.
    Decimal residual(Decimal balance_0, Decimal balance_1, Decimal invariant) const;
    // The residual with the input coin's balance at new_in and the output
    // coin's at out, each in its own position.
    Decimal residual_after_trade(Decimal new_in, Decimal out, Decimal invariant) const;
    // The invariant D of the pool's own balances; an error also when it is
    // not positive, since no quote can be read off such a D.
    Sized<Decimal> solve_d() const;
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
};

}  // namespace quarlen
