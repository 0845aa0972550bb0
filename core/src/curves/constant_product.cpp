#include "core/src/curves/constant_product.hpp"

#include "core/src/validation.hpp"

namespace quarlen {

Sized<CpmmPool> CpmmPool::create(Decimal x, Decimal y, Decimal fee_retention) {
    if (const Rejection rejected = check_positive("x", x)) return *rejected;
    if (const Rejection rejected = check_positive("y", y)) return *rejected;
    if (const Rejection rejected = check_fee_retention(fee_retention)) return *rejected;
    return CpmmPool(x, y, fee_retention);
}

Sized<Decimal> CpmmPool::quote(Decimal delta_in) const {
    const Decimal effective_in = fee_retention_ * delta_in;
    const Decimal new_x = x_ + effective_in;
    if (const Rejection rejected = check_positive("x + fee_retention * delta_in", new_x)) return *rejected;
    // (y * fee_retention) first, then the input: the grouping fixes the rounding.
    const Decimal numerator = (y_ * fee_retention_) * delta_in;
    return numerator / new_x;
}

Decimal CpmmPool::spot_rate() const { return (fee_retention_ * y_) / x_; }

MobiusQuote CpmmPool::mobius_quote() const { return MobiusQuote{x_ / fee_retention_, y_, std::nullopt}; }

Sized<SizingResult> CpmmPool::optimal_size(Decimal reference_price, const SizingConstraints& constraints) const {
    if (const Rejection rejected = check_reference_price(reference_price)) return *rejected;

    if (spot_rate() <= reference_price) return no_arbitrage();

    // The profit's stationary point: the marginal rate
    // fee_retention * x * y / (x + fee_retention * d)^2 equals the price there.
    const Decimal radicand = ((x_ * y_) * fee_retention_) / reference_price;
    const std::optional<Decimal> root = radicand.sqrt();
    if (!root) return invalid("failed to compute sqrt of radicand {}", radicand);
    const Decimal size = (*root - x_) / fee_retention_;

    return settle(*this, reference_price, constraints, size, sizing_tier(), std::nullopt);
}

}  // namespace quarlen
