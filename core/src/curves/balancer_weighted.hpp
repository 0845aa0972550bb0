// Weighted pool: n >= 2 assets, each with a reserve and a weight, priced by
// the weighted-product invariant. A pool fixes one direction, from the asset
// at input_index to the one at output_index; the other assets only count in
// the weight-sum check. The sizing is a closed form through a decimal power.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "core/src/sizing.hpp"

namespace quarlen {

class BalancerWeightedPool {
public:
    // Checks, in order: at least 2 reserves, as many weights as reserves,
    // both indices in range, distinct indices, every reserve > 0, every
    // weight > 0, weights summing to 1 within 0.01, 0 < fee_retention <= 1.
    static Sized<BalancerWeightedPool> create(std::vector<Decimal> reserves, std::vector<Decimal> weights,
                                              Decimal fee_retention, std::uint64_t input_index,
                                              std::uint64_t output_index);

    // Output for delta_in >= 0; the fee is taken from the input.
    Sized<Decimal> quote(Decimal delta_in) const;
    Sized<SizingResult> optimal_size(Decimal reference_price, const SizingConstraints& constraints) const;

    // (w_i / w_o) * R_o * f / R_i: the output per unit of input for the
    // smallest trades.
    Decimal spot_rate() const;
    Decimal typical_input() const { return input_reserve(); }
    GuaranteeTier sizing_tier() const { return ProvenOptimal{}; }

    const std::vector<Decimal>& reserves() const noexcept { return reserves_; }
    const std::vector<Decimal>& weights() const noexcept { return weights_; }
    Decimal fee_retention() const noexcept { return fee_retention_; }
    std::uint64_t input_index() const noexcept { return input_index_; }
    std::uint64_t output_index() const noexcept { return output_index_; }

private:
    BalancerWeightedPool(std::vector<Decimal> reserves, std::vector<Decimal> weights, Decimal fee_retention,
                         std::uint64_t input_index, std::uint64_t output_index)
        : reserves_(std::move(reserves)),
          weights_(std::move(weights)),
          fee_retention_(fee_retention),
          input_index_(input_index),
          output_index_(output_index) {}

    Decimal input_reserve() const noexcept { return reserves_[input_index_]; }
    Decimal output_reserve() const noexcept { return reserves_[output_index_]; }
    Decimal input_weight() const noexcept { return weights_[input_index_]; }
    Decimal output_weight() const noexcept { return weights_[output_index_]; }

    std::vector<Decimal> reserves_;
    std::vector<Decimal> weights_;
    Decimal fee_retention_;  // share of the input kept after the fee
    std::uint64_t input_index_;
    std::uint64_t output_index_;
};

}  // namespace quarlen
