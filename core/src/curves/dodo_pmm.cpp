#include "core/src/curves/dodo_pmm.hpp"

#include "core/src/golden_section.hpp"
#include "core/src/validation.hpp"

namespace quarlen {

namespace {

constexpr Decimal FOUR = Decimal::from_parts(4, 0, false);
// The probe whose rate decides whether any trade can beat the reference price.
constexpr Decimal kProbeSize = Decimal::from_parts(1, 3, false);  // 0.001
// The search bracket is this many times the reserve of the input asset.
constexpr Decimal kBracketFactor = Decimal::from_parts(5, 0, false);
constexpr std::uint32_t kSearchPasses = 64;
// The profit the search sees for a size whose quote fails: worse than any real one.
constexpr Decimal kFailedProfit = Decimal::from_int(-1000000000);

}  // namespace

Sized<DodoPmmPool> DodoPmmPool::create(Decimal base_target, Decimal quote_target, Decimal base_reserve,
                                       Decimal quote_reserve, Decimal oracle_price, Decimal k, Decimal fee_retention,
                                       bool is_sell_base) {
    if (!base_target.is_positive() || !quote_target.is_positive())
        return invalid("targets must be > 0: B0={}, Q0={}", base_target, quote_target);
    if (!base_reserve.is_positive() || !quote_reserve.is_positive())
        return invalid("reserves must be > 0: B={}, Q={}", base_reserve, quote_reserve);
    if (const Rejection rejected = check_positive("oracle_price", oracle_price)) return *rejected;
    if (const Rejection rejected = check_unit_interval("k", k)) return *rejected;
    if (const Rejection rejected = check_fee_retention(fee_retention)) return *rejected;
    return DodoPmmPool(base_target, quote_target, base_reserve, quote_reserve, oracle_price, k, fee_retention,
                       is_sell_base);
}

// The premium integral of a deficit d below the target T, in units of the
// oracle rate: d * (1 + k d / T), the integral of 1 + 2 k u / T over u in [0, d].
Decimal DodoPmmPool::premium(Decimal deficit, Decimal target) const {
    Decimal t = k_ * deficit;
    t = t / target;
    t = ONE + t;
    return deficit * t;
}

// Quote paid for r base beyond the base target: the positive root z of
// k z^2 + Q0 z - Q0 (i r) = 0.
DodoPmmPool::Root DodoPmmPool::root_selling_base(Decimal r) const {
    const Decimal q0 = quote_target_;
    Decimal c = q0 * oracle_price_;
    c = c * r;
    const Decimal disc = q0 * q0 + (FOUR * k_) * c;
    const std::optional<Decimal> s = disc.sqrt();
    if (!s) return std::unexpected(disc);
    return (*s - q0) / (TWO * k_);
}

// Base paid for r quote beyond the quote target: the positive root z of
// k z^2 + B0 z - B0 (r / i) = 0.
DodoPmmPool::Root DodoPmmPool::root_selling_quote(Decimal r) const {
    const Decimal b0 = base_target_;
    Decimal c = b0 * r;
    c = c / oracle_price_;
    const Decimal disc = b0 * b0 + (FOUR * k_) * c;
    const std::optional<Decimal> s = disc.sqrt();
    if (!s) return std::unexpected(disc);
    return (*s - b0) / (TWO * k_);
}

Sized<Decimal> DodoPmmPool::sell_base(Decimal a) const {
    const Decimal b0 = base_target_;
    const Decimal i = oracle_price_;
    const Decimal new_base = base_reserve_ + a;
    Decimal out;
    if (new_base <= b0) {
        // Base stays short: the premium earned shrinks from the current
        // deficit to the one after the trade.
        const Decimal before = premium(b0 - base_reserve_, b0);
        const Decimal after = premium(b0 - new_base, b0);
        out = i * before - i * after;
    } else if (base_reserve_ < b0) {
        // Crossing: fill the base deficit at its premium, the rest beyond the target.
        const Decimal first = i * premium(b0 - base_reserve_, b0);
        const Root z = root_selling_base(new_base - b0);
        if (!z) return invalid("negative discriminant in DODO crossing: {}", z.error());
        out = first + *z;
    } else {
        // Measured from the targets, not from the current quote reserve: a
        // pool off its curve pays (or withholds) the difference at once.
        const Root z = root_selling_base(new_base - b0);
        if (!z) return invalid("negative discriminant in DODO sell base: {}", z.error());
        const Decimal quote_after = quote_target_ - *z;
        out = quote_reserve_ - quote_after;
    }
    return out >= ZERO ? out : ZERO;
}

Sized<Decimal> DodoPmmPool::sell_quote(Decimal a) const {
    const Decimal q0 = quote_target_;
    const Decimal i = oracle_price_;
    const Decimal new_quote = quote_reserve_ + a;
    Decimal out;
    if (new_quote <= q0) {
        const Decimal before = premium(q0 - quote_reserve_, q0);
        const Decimal after = premium(q0 - new_quote, q0);
        out = before / i - after / i;
    } else if (quote_reserve_ < q0) {
        const Decimal first = premium(q0 - quote_reserve_, q0) / i;
        const Root z = root_selling_quote(new_quote - q0);
        if (!z) return invalid("negative discriminant in DODO crossing: {}", z.error());
        out = first + *z;
    } else {
        const Root z = root_selling_quote(new_quote - q0);
        if (!z) return invalid("negative discriminant in DODO sell quote: {}", z.error());
        const Decimal base_after = base_target_ - *z;
        out = base_reserve_ - base_after;
    }
    return out >= ZERO ? out : ZERO;
}

Sized<Decimal> DodoPmmPool::quote(Decimal delta_in) const {
    if (const Rejection rejected = check_input_not_negative(delta_in)) return *rejected;
    if (delta_in.is_zero()) return ZERO;
    const Decimal a = delta_in * fee_retention_;  // the fee comes off the input
    const Sized<Decimal> out = is_sell_base_ ? sell_base(a) : sell_quote(a);
    if (!out) return out;
    // The formulas alone can promise more than the pool holds (far beyond the
    // target the root outgrows the reserve); no pool pays out more than that.
    return min(*out, is_sell_base_ ? quote_reserve_ : base_reserve_);
}

Sized<Decimal> DodoPmmPool::spot_rate() const {
    const Decimal target_in = is_sell_base_ ? base_target_ : quote_target_;
    const Decimal reserve_in = is_sell_base_ ? base_reserve_ : quote_reserve_;
    const Decimal target_out = is_sell_base_ ? quote_target_ : base_target_;
    const Decimal reserve_out = is_sell_base_ ? quote_reserve_ : base_reserve_;
    // One unit of input at the oracle rate, in units of the output.
    const auto at_oracle = [&](Decimal amount) {
        return is_sell_base_ ? amount * oracle_price_ : amount / oracle_price_;
    };

    if (reserve_in < target_in) {
        // The premium integral P(d) = d (1 + k d / T) shrinks from the deficit
        // d0: its rate there is 1 + 2 k d0 / T.
        const Decimal premium_rate = ONE + ((TWO * k_) * (target_in - reserve_in)) / target_in;
        return fee_retention_ * at_oracle(premium_rate);
    }
    // Beyond the target the output is reserve_out - target_out + z(r), r the
    // input beyond the target and z the root of k z^2 + T z - T v = 0, v the
    // value of r at the oracle rate; its rate dz/dr is T v' / (2 k z + T).
    const Decimal beyond = reserve_in - target_in;
    const Root z = is_sell_base_ ? root_selling_base(beyond) : root_selling_quote(beyond);
    if (!z) {
        return is_sell_base_ ? invalid("negative discriminant in DODO sell base: {}", z.error())
                             : invalid("negative discriminant in DODO sell quote: {}", z.error());
    }
    const Decimal out_at_zero = (reserve_out - target_out) + *z;
    if (out_at_zero.is_negative() || out_at_zero >= reserve_out) return ZERO;
    return fee_retention_ * (at_oracle(target_out) / (((TWO * k_) * *z) + target_out));
}

Sized<SizingResult> DodoPmmPool::optimal_size(Decimal reference_price, const SizingConstraints& constraints) const {
    if (const Rejection rejected = check_reference_price(reference_price)) return *rejected;

    // The probe depends on the pool alone.
    const Sized<Decimal>& probe = probe_.get([this] { return quote(kProbeSize); });
    if (!probe) return std::unexpected(probe.error());
    const Decimal rate = *probe / kProbeSize;
    if (rate <= reference_price) return no_arbitrage();

    Decimal hi = (is_sell_base_ ? base_reserve_ : quote_reserve_) * kBracketFactor;
    if (constraints.max_size) hi = min(*constraints.max_size, hi);
    const Decimal lo = ZERO;

    // The fixed cost does not move the optimum, so the search leaves it out.
    const auto profit = [&](Decimal x) {
        const Sized<Decimal> out = quote(x);
        return out ? *out - reference_price * x : kFailedProfit;
    };

    // A fixed number of passes and no other stopping rule.
    const GoldenSection search = golden_section_search(lo, hi, TieMoves::upper_end, profit, kSearchPasses);

    // No unimodality test is made; the tier records the search's assumption.
    return settle(*this, reference_price, constraints, search.midpoint(), sizing_tier(), kSearchPasses);
}

}  // namespace quarlen
