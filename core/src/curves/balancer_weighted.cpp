#include "core/src/curves/balancer_weighted.hpp"

#include "core/src/validation.hpp"
#include "decimal/powers.hpp"

namespace quarlen {

namespace {

// How far the weights may sum from 1; a sum of exactly 0.99 or 1.01 passes.
constexpr Decimal kWeightSumTolerance = Decimal::from_parts(1, 2, false);  // 0.01

// The power failed; `where` is "quote" or "sizing".
std::unexpected<SizingError> powd_failure(Decimal base, Decimal exponent, StaticText where) {
    return invalid("failed to compute powd({}, {}) in Balancer {}", base, exponent, where);
}

}  // namespace

Sized<BalancerWeightedPool> BalancerWeightedPool::create(std::vector<Decimal> reserves, std::vector<Decimal> weights,
                                                         Decimal fee_retention, std::uint64_t input_index,
                                                         std::uint64_t output_index) {
    const std::size_t n = reserves.size();
    if (n < 2) return invalid("pool must have at least 2 assets, got {}", n);
    if (weights.size() != n)
        return invalid("reserves count ({}) must match weights count ({})", n, weights.size());
    if (input_index >= n || output_index >= n)
        return invalid("indices out of bounds: input_index={}, output_index={}, total={}", input_index, output_index,
                       n);
    if (input_index == output_index) return invalid("input_index and output_index must be distinct");
    // Every reserve is checked before any weight, even those of assets that
    // never trade in this direction.
    for (std::size_t k = 0; k < n; ++k) {
        if (!reserves[k].is_positive())
            return invalid("reserve {} must be > 0, got {}", k, reserves[k]);
    }
    Decimal weight_sum = ZERO;
    for (std::size_t k = 0; k < n; ++k) {
        if (!weights[k].is_positive())
            return invalid("weight {} must be > 0, got {}", k, weights[k]);
        weight_sum = weight_sum + weights[k];
    }
    if ((weight_sum - ONE).abs() > kWeightSumTolerance)
        return invalid("weights must sum to approximately 1.0, got sum {}", weight_sum);
    if (const Rejection rejected = check_fee_retention(fee_retention)) return *rejected;
    return BalancerWeightedPool(std::move(reserves), std::move(weights), fee_retention, input_index, output_index);
}

Sized<Decimal> BalancerWeightedPool::quote(Decimal delta_in) const {
    if (const Rejection rejected = check_input_not_negative(delta_in)) return *rejected;
    if (delta_in.is_zero()) return ZERO;

    const Decimal effective_in = fee_retention_ * delta_in;
    const Decimal ratio = input_reserve() / (input_reserve() + effective_in);
    const Decimal exponent = input_weight() / output_weight();
    const std::optional<Decimal> power = powd(ratio, exponent);
    if (!power) return powd_failure(ratio, exponent, "quote");
    const Decimal output = output_reserve() * (ONE - *power);
    if (output.is_negative())
        return invalid("computed negative output ({}) for delta_in {}", output, delta_in);
    return output;
}

Decimal BalancerWeightedPool::spot_rate() const {
    return (input_weight() / output_weight()) * ((output_reserve() * fee_retention_) / input_reserve());
}

Sized<SizingResult> BalancerWeightedPool::optimal_size(Decimal reference_price,
                                                        const SizingConstraints& constraints) const {
    if (const Rejection rejected = check_reference_price(reference_price)) return *rejected;

    if (spot_rate() <= reference_price) return no_arbitrage();

    // Where the marginal output equals the price:
    //   ((R_i + f d) / R_i)^((w_i + w_o) / w_o) = (w_i R_o f) / (w_o R_i P).
    // The products are formed left to right; the grouping fixes the rounding.
    const Decimal base = ((input_weight() * output_reserve()) * fee_retention_) /
                         ((output_weight() * input_reserve()) * reference_price);
    const Decimal exponent = output_weight() / (input_weight() + output_weight());
    const std::optional<Decimal> growth = powd(base, exponent);
    if (!growth) return powd_failure(base, exponent, "sizing");
    const Decimal size = (input_reserve() * (*growth - ONE)) / fee_retention_;
    if (!size.is_positive()) return no_arbitrage();

    // The profit is concave in the size, so a max_size below the optimum is
    // the best size allowed and the result stays proven.
    return settle(*this, reference_price, constraints, size, sizing_tier(), std::nullopt);
}

}  // namespace quarlen
