#include "core/src/curves/curve_cryptoswap.hpp"

#include <string>

#include "core/src/golden_section.hpp"

namespace quarlen {

namespace {

constexpr Decimal FOUR = Decimal::from_int(4);
// Both Newton solves stop on a residual or a step below this.
constexpr Decimal kNewtonTolerance = Decimal::from_parts(1, 6, false);
// The finite-difference step: this share of the current value, and at least this much.
constexpr Decimal kStepShare = Decimal::from_parts(1, 4, false);
// The output balance never drops below this, so the residual's 4 * b0 * b1 stays positive.
constexpr Decimal kOutputFloor = Decimal::from_parts(1, 6, false);
constexpr int kNewtonPasses = 100;
// The zero-size test quotes this much and compares the average rate.
constexpr Decimal kProbeSize = Decimal::from_parts(1, 3, false);
// The objective of a size whose quote fails: far below any real profit.
constexpr Decimal kFailedQuoteProfit = Decimal::from_int(-1'000'000'000);
constexpr std::uint32_t kSearchPasses = 64;

}  // namespace

Sized<CryptoSwapPool> CryptoSwapPool::create(Decimal balance_0, Decimal balance_1, Decimal amplification_a,
                                             Decimal gamma, Decimal fee_retention, std::uint64_t input_index) {
    if (!balance_0.is_positive() || !balance_1.is_positive()) {
        std::string detail = got("balances must be > 0, got [", balance_0);
        detail += ", ";
        detail += balance_1.to_string();
        detail += "]";
        return invalid(std::move(detail));
    }
    if (!amplification_a.is_positive()) return invalid(got("amplification_a must be > 0, got ", amplification_a));
    if (!gamma.is_positive()) return invalid(got("gamma must be > 0, got ", gamma));
    if (!fee_retention.is_positive() || fee_retention > ONE)
        return invalid(got("fee_retention must be in (0, 1], got ", fee_retention));
    if (input_index >= 2) return invalid("input_index must be 0 or 1, got " + std::to_string(input_index));
    return CryptoSwapPool({balance_0, balance_1}, amplification_a, gamma, fee_retention, input_index);
}

Decimal CryptoSwapPool::residual(Decimal balance_0, Decimal balance_1, Decimal invariant) const {
    const Decimal sum = balance_0 + balance_1;
    const Decimal product4 = (FOUR * balance_0) * balance_1;
    const Decimal invariant_squared = invariant * invariant;
    // How balanced the coins are against D: 1 at balance, falling away from it.
    const Decimal balance_ratio = min(product4 / invariant_squared, ONE);
    const Decimal gamma_over = gamma_ / ((gamma_ + ONE) - balance_ratio);
    // The effective amplification, fading as the pool leaves balance.
    const Decimal amplification = ((amplification_a_ * balance_ratio) * gamma_over) * gamma_over;
    const Decimal left = ((amplification * invariant) * gamma_) + invariant;
    const Decimal right =
        (((amplification_a_ * gamma_) * balance_ratio) * sum) + ((invariant_squared * invariant) / product4);
    return left - right;
}

Decimal CryptoSwapPool::residual_after_trade(Decimal new_in, Decimal out, Decimal invariant) const {
    return input_index_ == 0 ? residual(new_in, out, invariant) : residual(out, new_in, invariant);
}

Sized<Decimal> CryptoSwapPool::solve_d() const {
    const Decimal product = balances_[0] * balances_[1];
    const std::optional<Decimal> root = product.sqrt();
    if (!root) return invalid(got("failed to sqrt(x0 * x1) for prod ", product));

    // Newton from the balanced value 2 * sqrt(x0 * x1), with the slope taken
    // over a forward step. Whatever value the passes reach is kept.
    const Decimal invariant = [&] {
        Decimal d = TWO * *root;
        for (int pass = 0; pass < kNewtonPasses; ++pass) {
            const Decimal f = residual(balances_[0], balances_[1], d);
            if (f.abs() < kNewtonTolerance) return d;
            const Decimal step = max(d * kStepShare, kStepShare);
            const Decimal f_step = residual(balances_[0], balances_[1], d + step);
            const Decimal slope = (f_step - f) / step;
            if (slope.is_zero()) return d;
            const Decimal next = d - (f / slope);
            if ((next - d).abs() < kNewtonTolerance) return next;
            d = next;
        }
        return d;
    }();

    // The iteration is unguarded and can cross zero on lopsided pools; a
    // negative D describes no curve, and quoting from it gives a
    // plausible-looking but meaningless output.
    if (!invariant.is_positive()) return invalid(got("invariant D must be > 0, got ", invariant));
    return invariant;
}

Sized<Decimal> CryptoSwapPool::quote(Decimal delta_in) const {
    if (delta_in.is_negative()) return invalid(got("delta_in must be >= 0, got ", delta_in));
    if (delta_in.is_zero()) return ZERO;
    const Sized<Decimal> solved = solve_d();
    if (!solved) return solved;
    const Decimal invariant = *solved;

    const Decimal new_in = balance_in() + (delta_in * fee_retention_);
    // The output balance cannot exceed the one that balances new_in against D.
    const Decimal out_cap = (invariant * invariant) / (FOUR * new_in);
    const Decimal out_before = balance_out();

    Decimal out = min(out_cap, out_before);
    for (int pass = 0; pass < kNewtonPasses; ++pass) {
        const Decimal f = residual_after_trade(new_in, out, invariant);
        if (f.abs() < kNewtonTolerance) break;
        const Decimal step = max(out * kStepShare, kStepShare);
        const Decimal f_step = residual_after_trade(new_in, out + step, invariant);
        const Decimal slope = (f_step - f) / step;
        if (slope.is_zero()) break;
        const Decimal next = max(min(out - (f / slope), out_cap), kOutputFloor);
        const bool settled = (next - out).abs() < kNewtonTolerance;
        out = next;
        if (settled) break;
    }
    // An output balance above the old one is no output, not an error.
    return max(out_before - out, ZERO);
}

Decimal CryptoSwapPool::profit_at(Decimal reference_price, Decimal size) const {
    const Sized<Decimal> out = quote(size);
    if (!out) return kFailedQuoteProfit;
    return *out - (reference_price * size);
}

Sized<SizingResult> CryptoSwapPool::optimal_size(Decimal reference_price, const SizingConstraints& constraints) const {
    if (!reference_price.is_positive()) return invalid_reference_price(reference_price);

    // A small probe's average rate stands in for the marginal rate at zero.
    const Sized<Decimal> probe = quote(kProbeSize);
    if (!probe) return std::unexpected(probe.error());
    if ((*probe / kProbeSize) <= reference_price) return no_arbitrage();

    Decimal upper = balance_in() * TWO;
    if (constraints.max_size) upper = min(*constraints.max_size, upper);

    // Golden-section search of fixed length for the largest profit on [0, upper].
    const GoldenSection search = golden_section_search(
        ZERO, upper, TieMoves::upper_end, [&](Decimal size) { return profit_at(reference_price, size); },
        kSearchPasses);

    return settle(*this, reference_price, constraints, search.midpoint(), NumericallyGuaranteed{true}, kSearchPasses);
}

}  // namespace quarlen
