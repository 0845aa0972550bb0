#include "core/src/curves/stableswap.hpp"

#include "core/src/checked.hpp"
#include "core/src/power_of_ten_units.hpp"
#include "core/src/validation.hpp"
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
Checked relative_change(Checked next, Checked current) {
    const Checked difference = next - current;
    if (!difference) return difference;
    const Checked change = difference->abs();
    return current->is_zero() ? change : change / current->abs();
}

// The solves below take their amounts in any one unit: every term of the
// invariant is homogeneous in the reserves and D. Each returns the fault of
// the first step that left the number's range in its Checked.

// Newton on y^2 + (b - D) y = c for the new balance y of the output coin,
// starting from y = D.
Sized<Checked> solve_output_balance(Checked b, Checked c, Checked d) {
    Checked y = d;
    for (std::uint32_t pass = 1; pass <= kMaxNewtonPasses; ++pass) {
        const Checked denominator = ((TWO * y) + b) - d;
        if (!denominator) return denominator;
        if (denominator->is_zero()) return did_not_converge(pass);
        const Checked next = ((y * y) + c) / denominator;
        const Checked change = relative_change(next, y);
        if (!change) return change;
        if (*change < kTolerance) return next;
        y = next;
    }
    return did_not_converge(kMaxNewtonPasses);
}

struct SolvedInvariant {
    Checked d;
    std::uint32_t passes;
};

// Newton on A*NN*S + D = A*NN*D + D^(n+1) / (NN * prod x), from D = S.
Sized<SolvedInvariant> newton_invariant(const std::vector<Decimal>& reserves, Decimal amplification) {
    const std::uint64_t n = reserves.size();
    const Decimal coins = Decimal::from_u64(n);
    const Decimal coins_plus_one = Decimal::from_u64(n + 1);
    // Faults with "Pow overflowed" from 22 coins on, in any unit.
    const Decimal coins_power = powi(coins, n);
    Checked sum = ZERO;
    for (const Decimal reserve : reserves) sum = sum + reserve;

    const Checked ann = Checked(amplification) * coins_power;
    Checked d = sum;
    for (std::uint32_t pass = 1; pass <= kMaxNewtonPasses; ++pass) {
        // D^(n+1) / (n^n * prod x), one reserve at a time so it stays in range.
        Checked d_product = d;
        for (const Decimal reserve : reserves) d_product = (d_product * d) / (Checked(coins) * reserve);
        const Checked numerator = ((ann * sum) + (d_product * coins)) * d;
        const Checked denominator = ((ann - ONE) * d) + (coins_plus_one * d_product);
        if (!numerator) return SolvedInvariant{numerator, pass};
        if (!denominator) return SolvedInvariant{denominator, pass};
        if (denominator->is_zero()) return did_not_converge(pass);
        const Checked next = numerator / denominator;
        const Checked change = relative_change(next, d);
        if (!change) return SolvedInvariant{change, pass};
        if (*change < kTolerance) return SolvedInvariant{next, pass};
        d = next;
    }
    return did_not_converge(kMaxNewtonPasses);
}

// x_1 less its balance once delta_in of coin 0 is paid in, for the invariant d.
Sized<Checked> raw_output(const std::vector<Decimal>& reserves, Decimal amplification, Checked delta_in, Checked d) {
    const std::uint64_t n = reserves.size();
    const Decimal coins = Decimal::from_u64(n);
    const Checked ann = Checked(amplification) * powi(coins, n);
    const Checked new_input = Checked(reserves[0]) + delta_in;

    // The invariant's terms over every coin but the output one: their sum S'
    // and c = D^(n+1) / (n^n * Ann * prod x), built up one coin at a time.
    Checked c = d;
    Checked partial_sum = ZERO;
    for (std::size_t k = 0; k < reserves.size(); ++k) {
        if (k == 1) continue;
        const Checked x = k == 0 ? new_input : Checked(reserves[k]);
        partial_sum = partial_sum + x;
        c = (c * d) / (x * coins);
    }
    c = (c * d) / (ann * coins);
    const Checked b = partial_sum + (d / ann);
    if (!c) return c;
    if (!b) return b;

    const Sized<Checked> new_output = solve_output_balance(b, c, d);
    if (!new_output || !*new_output) return new_output;
    return Checked(reserves[1]) - *new_output;
}

// The largest of the amounts; the amounts stated in `units`.
Decimal largest(const std::vector<Decimal>& amounts) {
    Decimal result = ZERO;
    for (const Decimal amount : amounts) result = max(result, amount);
    return result;
}
std::vector<Decimal> in_units(const std::vector<Decimal>& amounts, const PowerOfTenUnits& units) {
    std::vector<Decimal> result;
    result.reserve(amounts.size());
    for (const Decimal amount : amounts) result.push_back(units.to_units(amount));
    return result;
}

}  // namespace

Sized<StableSwapPool> StableSwapPool::create(std::vector<Decimal> reserves, Decimal amplification,
                                             Decimal fee_retention) {
    if (reserves.size() <= 1)
        return invalid("reserves must contain at least 2 assets, got {}", reserves.size());
    for (std::size_t k = 0; k < reserves.size(); ++k) {
        if (!reserves[k].is_positive())
            return invalid("reserves[{}] must be > 0, got {}", k, reserves[k]);
    }
    if (amplification < ONE) return invalid("amplification must be >= 1, got {}", amplification);
    if (const Rejection rejected = check_fee_retention(fee_retention)) return *rejected;
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
    const Sized<SolvedInvariant> direct = newton_invariant(reserves_, amplification_);
    if (!direct) return std::unexpected(direct.error());
    if (direct->d) return Invariant{*direct->d, direct->passes};

    // A * n^n * S * D passes 2^96 - 1 for large pools with many coins or a
    // high amplification, and D^(n+1) / (n^n * prod x) * D for very
    // unbalanced ones: solve again with the reserves in units where the
    // largest is about a million. D scales with them.
    const PowerOfTenUnits units = PowerOfTenUnits::around(largest(reserves_));
    const Sized<SolvedInvariant> rescaled = newton_invariant(in_units(reserves_, units), amplification_);
    if (!rescaled) return std::unexpected(rescaled.error());
    return Invariant{units.from_units(rescaled->d).value_or_fault_of(direct->d), rescaled->passes};
}

const Sized<Decimal>& StableSwapPool::invariant() const {
    return invariant_.get([this]() -> Sized<Decimal> {
        const Sized<Invariant> solved = solve_invariant();
        if (!solved) return std::unexpected(solved.error());
        return solved->d;
    });
}

Sized<Decimal> StableSwapPool::quote_with_invariant(Decimal delta_in, Decimal d) const {
    if (const Rejection rejected = check_input_not_negative(delta_in)) return *rejected;

    const Sized<Checked> direct = raw_output(reserves_, amplification_, delta_in, d);
    if (!direct) return std::unexpected(direct.error());
    Decimal raw = **direct;
    if (!*direct) {
        // Out of range as the invariant above can be: the same quote with
        // every amount in units where the largest is about a million.
        const PowerOfTenUnits units = PowerOfTenUnits::around(max(largest(reserves_), max(delta_in, d)));
        const Sized<Checked> rescaled =
            raw_output(in_units(reserves_, units), amplification_, units.to_units(delta_in), units.to_units(d));
        if (!rescaled) return std::unexpected(rescaled.error());
        raw = units.from_units(*rescaled).value_or_fault_of(*direct);
    }

    const Decimal output_reserve = reserves_[1];
    if (raw.is_negative()) {
        // The Newton residue can leave the balance a hair above x_1 for tiny
        // inputs; that is a zero output, anything larger is a real failure.
        if (raw.abs() / output_reserve < kTolerance)
            raw = ZERO;
        else
            return invalid("computed negative raw output {}", raw);
    }
    // The fee comes out of the output; the input entered the invariant in full.
    return raw * fee_retention_;
}

Sized<Decimal> StableSwapPool::quote(Decimal delta_in) const {
    // The invariant's failure comes first, even for a negative delta_in.
    const Sized<Decimal>& d = invariant();
    if (!d) return std::unexpected(d.error());
    return quote_with_invariant(delta_in, *d);
}

Sized<Decimal> StableSwapPool::spot_rate() const {
    const Sized<Decimal>& solved = invariant();
    if (!solved) return std::unexpected(solved.error());
    const Decimal d = *solved;
    const std::uint64_t n = reserves_.size();
    const Decimal coins = Decimal::from_u64(n);
    const Decimal ann = amplification_ * powi(coins, n);
    // T / x_k as (D / x_k) * prod_j D / (n x_j): ratios near one for any pool
    // not far from balance, where D^(n+1) itself would pass the number's range.
    Decimal shares = ONE;
    for (const Decimal reserve : reserves_) shares = shares * (d / (coins * reserve));
    const Decimal slope_in = ann + shares * (d / reserves_[0]);
    const Decimal slope_out = ann + shares * (d / reserves_[1]);
    return (slope_in / slope_out) * fee_retention_;
}

Sized<SizingResult> StableSwapPool::optimal_size(Decimal reference_price, const SizingConstraints& constraints) const {
    if (const Rejection rejected = check_reference_price(reference_price)) return *rejected;
    if (!is_well_posed()) return did_not_converge(0);

    const Sized<Decimal>& solved = invariant();
    if (!solved) return std::unexpected(solved.error());
    const Decimal d = *solved;
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

    return settle(quote_at, reference_price, constraints, size, sizing_tier(), steps);
}

}  // namespace quarlen
