#include "core/src/curves/stableswap.hpp"

#include <string>

#include "decimal/powers.hpp"

namespace quarlen {

namespace {

// Relative tolerance of both Newton solves and of the bisection.
constexpr Decimal kTolerance = Decimal::from_parts(1, 6, false);  // 0.000001
// The finite-difference step as a share of x_0: sqrt(kTolerance) as the
// number's square root gives it, 0.0010000000000000000000000000 (scale 28;
// the scale carries into the step). A constant rather than a root per call.
constexpr Decimal kStepShare = Decimal::from_parts(uint128{10000000000000ULL} * 1000000000000ULL, 28, false);
// Passes allowed to each Newton solve.
constexpr std::uint32_t kMaxNewtonPasses = 255;
// Steps allowed to the bracket and the bisection together.
constexpr std::uint32_t kMaxSearchSteps = 256;

// |next - current| relative to |current|; the absolute change when current
// is zero, where the ratio has no meaning.
Decimal relative_change(Decimal next, Decimal current) {
    const Decimal change = (next - current).abs();
    return current.is_zero() ? change : change / current.abs();
}

// Newton on y^2 + (b - D) y = c for the new balance y of the output coin,
// starting from y = D.
Sized<Decimal> solve_output_balance(Decimal b, Decimal c, Decimal d) {
    Decimal y = d;
    for (std::uint32_t pass = 1; pass <= kMaxNewtonPasses; ++pass) {
        const Decimal denominator = ((TWO * y) + b) - d;
        if (denominator.is_zero()) return did_not_converge(pass);
        const Decimal next = ((y * y) + c) / denominator;
        if (relative_change(next, y) < kTolerance) return next;
        y = next;
    }
    return did_not_converge(kMaxNewtonPasses);
}

}  // namespace

Sized<StableSwapPool> StableSwapPool::create(std::vector<Decimal> reserves, Decimal amplification,
                                             Decimal fee_retention) {
    if (reserves.size() <= 1)
        return invalid("reserves must contain at least 2 assets, got " + std::to_string(reserves.size()));
    for (std::size_t k = 0; k < reserves.size(); ++k) {
        if (!reserves[k].is_positive())
            return invalid(got("reserves[" + std::to_string(k) + "] must be > 0, got ", reserves[k]));
    }
    if (amplification < ONE) return invalid(got("amplification must be >= 1, got ", amplification));
    if (!fee_retention.is_positive() || fee_retention > ONE)
        return invalid(got("fee_retention must be in (0, 1], got ", fee_retention));
    return StableSwapPool(std::move(reserves), amplification, fee_retention);
}

bool StableSwapPool::is_well_posed() const noexcept {
    if (amplification_ < ONE) return false;
    for (const Decimal reserve : reserves_) {
        if (!reserve.is_positive()) return false;
    }
    return true;
}

Sized<StableSwapPool::Invariant> StableSwapPool::solve_invariant() const {
    const std::uint64_t n = reserves_.size();
    const Decimal coins = Decimal::from_u64(n);
    const Decimal coins_plus_one = Decimal::from_u64(n + 1);
    // Faults with "Pow overflowed" from 22 coins on.
    const Decimal coins_power = powi(coins, n);
    Decimal sum = ZERO;
    for (const Decimal reserve : reserves_) sum = sum + reserve;

    // Newton on A*NN*S + D = A*NN*D + D^(n+1) / (NN * prod x), from D = S.
    Decimal d = sum;
    for (std::uint32_t pass = 1; pass <= kMaxNewtonPasses; ++pass) {
        // D^(n+1) / (n^n * prod x), one reserve at a time so it stays in range.
        Decimal d_product = d;
        for (const Decimal reserve : reserves_) d_product = (d_product * d) / (coins * reserve);
        const Decimal ann = amplification_ * coins_power;
        const Decimal numerator = ((ann * sum) + (d_product * coins)) * d;
        const Decimal denominator = ((ann - ONE) * d) + (coins_plus_one * d_product);
        if (denominator.is_zero()) return did_not_converge(pass);
        const Decimal next = numerator / denominator;
        if (relative_change(next, d) < kTolerance) return Invariant{next, pass};
        d = next;
    }
    return did_not_converge(kMaxNewtonPasses);
}

Sized<Decimal> StableSwapPool::quote_with_invariant(Decimal delta_in, Decimal d) const {
    if (delta_in.is_negative()) return invalid(got("delta_in must be >= 0, got ", delta_in));

    const std::uint64_t n = reserves_.size();
    const Decimal coins = Decimal::from_u64(n);
    const Decimal ann = amplification_ * powi(coins, n);
    const Decimal new_input = reserves_[0] + delta_in;

    // The invariant's terms over every coin but the output one: their sum S'
    // and c = D^(n+1) / (n^n * Ann * prod x), built up one coin at a time.
    Decimal c = d;
    Decimal partial_sum = ZERO;
    for (std::size_t k = 0; k < reserves_.size(); ++k) {
        if (k == 1) continue;
        const Decimal x = k == 0 ? new_input : reserves_[k];
        partial_sum = partial_sum + x;
        c = (c * d) / (x * coins);
    }
    c = (c * d) / (ann * coins);
    const Decimal b = partial_sum + (d / ann);

    const Sized<Decimal> new_output = solve_output_balance(b, c, d);
    if (!new_output) return new_output;

    const Decimal output_reserve = reserves_[1];
    Decimal raw = output_reserve - *new_output;
    if (raw.is_negative()) {
        // The Newton residue can leave the balance a hair above x_1 for tiny
        // inputs; that is a zero output, anything larger is a real failure.
        if (raw.abs() / output_reserve < kTolerance)
            raw = ZERO;
        else
            return invalid(got("computed negative raw output ", raw));
    }
    // The fee comes out of the output; the input entered the invariant in full.
    return raw * fee_retention_;
}

Sized<Decimal> StableSwapPool::quote(Decimal delta_in) const {
    // The invariant's failure comes first, even for a negative delta_in.
    const Sized<Invariant> invariant = solve_invariant();
    if (!invariant) return std::unexpected(invariant.error());
    return quote_with_invariant(delta_in, invariant->d);
}

Sized<SizingResult> StableSwapPool::optimal_size(Decimal reference_price, const SizingConstraints& constraints) const {
    if (!reference_price.is_positive()) return invalid_reference_price(reference_price);
    if (!is_well_posed()) return did_not_converge(0);

    const Sized<Invariant> invariant = solve_invariant();
    if (!invariant) return std::unexpected(invariant.error());
    const Decimal d = invariant->d;
    const auto quote_at = [this, d](Decimal size) { return quote_with_invariant(size, d); };

    // The finite-difference step: a thousandth of x_0.
    const Decimal step = reserves_[0] * kStepShare;

    // Marginal profit at `size`: a difference quotient of the quote minus the
    // price, centred where it can be and one-sided at the left end.
    const auto marginal_profit = [&](Decimal size) -> Sized<Decimal> {
        const Decimal lower = size > step ? size - step : ZERO;
        const Decimal upper = size + step;
        const Decimal width = upper - lower;
        if (!width.is_positive()) return -reference_price;
        const Sized<Decimal> out_lower = quote_at(lower);
        if (!out_lower) return out_lower;
        const Sized<Decimal> out_upper = quote_at(upper);
        if (!out_upper) return out_upper;
        return ((*out_upper - *out_lower) / width) - reference_price;
    };

    const Sized<Decimal> slope_at_zero = marginal_profit(ZERO);
    if (!slope_at_zero) return std::unexpected(slope_at_zero.error());
    if (!slope_at_zero->is_positive()) return no_arbitrage();

    // Bracket by doubling from the step itself until the marginal profit is no
    // longer positive. `steps` is shared with the bisection below.
    std::uint32_t steps = 0;
    Decimal upper = step;
    for (;;) {
        const Sized<Decimal> slope = marginal_profit(upper);
        if (!slope) return std::unexpected(slope.error());
        if (!slope->is_positive()) break;
        upper = upper * TWO;
        ++steps;
        if (steps == kMaxSearchSteps) return did_not_converge(kMaxSearchSteps);
    }

    // Bisect [0, upper] down to a relative width of the tolerance.
    Decimal lower = ZERO;
    while ((upper - lower) > kTolerance * upper) {
        const Decimal middle = (lower + upper) / TWO;
        if (steps == kMaxSearchSteps - 1) return did_not_converge(kMaxSearchSteps);
        const Sized<Decimal> slope = marginal_profit(middle);
        if (!slope) return std::unexpected(slope.error());
        if (slope->is_positive())
            lower = middle;
        else
            upper = middle;
        ++steps;
    }
    const Decimal size = (lower + upper) / TWO;

    return settle(quote_at, reference_price, constraints, size, NumericallyGuaranteed{is_well_posed()}, steps);
}

}  // namespace quarlen
