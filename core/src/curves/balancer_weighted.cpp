#include "core/src/curves/balancer_weighted.hpp"

#include <string>

#include "decimal/powers.hpp"

namespace quarlen {

namespace {

// How far the weights may sum from 1; a sum of exactly 0.99 or 1.01 passes.
constexpr Decimal kWeightSumTolerance = Decimal::from_parts(1, 2, false);  // 0.01

// "failed to compute powd(base, exponent) in Balancer <where>"
std::string powd_failure(Decimal base, Decimal exponent, const char* where) {
    return "failed to compute powd(" + base.to_string() + ", " + exponent.to_string() + ") in Balancer " + where;
}

}  // namespace

Sized<BalancerWeightedPool> BalancerWeightedPool::create(std::vector<Decimal> reserves, std::vector<Decimal> weights,
                                                         Decimal fee_retention, std::uint64_t input_index,
                                                         std::uint64_t output_index) {
    const std::size_t n = reserves.size();
    if (n < 2) return invalid("pool must have at least 2 assets, got " + std::to_string(n));
    if (weights.size() != n)
        return invalid("reserves count (" + std::to_string(n) + ") must match weights count (" +
                       std::to_string(weights.size()) + ")");
    if (input_index >= n || output_index >= n)
        return invalid("indices out of bounds: input_index=" + std::to_string(input_index) +
                       ", output_index=" + std::to_string(output_index) + ", total=" + std::to_string(n));
    if (input_index == output_index) return invalid("input_index and output_index must be distinct");
    // Every reserve is checked before any weight, even those of assets that
    // never trade in this direction.
    for (std::size_t k = 0; k < n; ++k) {
        if (!reserves[k].is_positive())
            return invalid(got("reserve " + std::to_string(k) + " must be > 0, got ", reserves[k]));
    }
    Decimal weight_sum = ZERO;
    for (std::size_t k = 0; k < n; ++k) {
        if (!weights[k].is_positive())
            return invalid(got("weight " + std::to_string(k) + " must be > 0, got ", weights[k]));
        weight_sum = weight_sum + weights[k];
    }
    if ((weight_sum - ONE).abs() > kWeightSumTolerance)
        return invalid(got("weights must sum to approximately 1.0, got sum ", weight_sum));
    if (!fee_retention.is_positive() || fee_retention > ONE)
        return invalid(got("fee_retention must be in (0, 1], got ", fee_retention));
    return BalancerWeightedPool(std::move(reserves), std::move(weights), fee_retention, input_index, output_index);
}

Sized<Decimal> BalancerWeightedPool::quote(Decimal delta_in) const {
    if (delta_in.is_negative()) return invalid(got("delta_in must be >= 0, got ", delta_in));
    if (delta_in.is_zero()) return ZERO;

    const Decimal effective_in = fee_retention_ * delta_in;
    const Decimal ratio = input_reserve() / (input_reserve() + effective_in);
    const Decimal exponent = input_weight() / output_weight();
    const std::optional<Decimal> power = powd(ratio, exponent);
    if (!power) return invalid(powd_failure(ratio, exponent, "quote"));
    const Decimal output = output_reserve() * (ONE - *power);
    if (output.is_negative())
        return invalid("computed negative output (" + output.to_string() + ") for delta_in " + delta_in.to_string());
    return output;
}

Decimal BalancerWeightedPool::spot_rate() const {
    return (input_weight() / output_weight()) * ((output_reserve() * fee_retention_) / input_reserve());
}

Sized<SizingResult> BalancerWeightedPool::optimal_size(Decimal reference_price,
                                                        const SizingConstraints& constraints) const {
    if (!reference_price.is_positive()) return invalid_reference_price(reference_price);

    if (spot_rate() <= reference_price) return no_arbitrage();

    // Where the marginal output equals the price:
    //   ((R_i + f d) / R_i)^((w_i + w_o) / w_o) = (w_i R_o f) / (w_o R_i P).
    // The products are formed left to right; the grouping fixes the rounding.
    const Decimal base = ((input_weight() * output_reserve()) * fee_retention_) /
                         ((output_weight() * input_reserve()) * reference_price);
    const Decimal exponent = output_weight() / (input_weight() + output_weight());
    const std::optional<Decimal> growth = powd(base, exponent);
    if (!growth) return invalid(powd_failure(base, exponent, "sizing"));
    const Decimal size = (input_reserve() * (*growth - ONE)) / fee_retention_;
    if (!size.is_positive()) return no_arbitrage();

    // The profit is concave in the size, so a max_size below the optimum is
    // the best size allowed and the result stays proven.
    return settle(*this, reference_price, constraints, size, sizing_tier(), std::nullopt);
}

}  // namespace quarlen
