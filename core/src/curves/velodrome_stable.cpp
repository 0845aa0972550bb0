#include "core/src/curves/velodrome_stable.hpp"

#include "core/src/checked.hpp"
#include "core/src/golden_section.hpp"
#include "core/src/power_of_ten_units.hpp"
#include "core/src/validation.hpp"

#include <cstdint>

namespace quarlen {

namespace {

constexpr Decimal THREE = Decimal::from_int(3);
// Newton settles when a step is within 0.0000001 of max(|y|, 1).
constexpr Decimal kNewtonTolerance = Decimal::from_parts(1, 7, false);
constexpr std::uint32_t kNewtonPasses = 64;
// The bracket doubles at most this often, so it ends at 256 * x at the most.
constexpr int kBracketRounds = 8;
// The search stops once the interval is this share of reserve_x wide...
constexpr Decimal kSearchTolerance = Decimal::from_parts(1, 6, false);
// ...or after this many passes, which is not an error.
constexpr std::uint32_t kSearchPasses = 128;

// Newton on F(y) = y * (new_x^2 + y^2) - target, with target = k / new_x,
// from the pool's own y, the amounts stated in any one unit; `one` is the
// amount 1 in that unit, below which the convergence test is absolute. The
// Checked holds the fault of the first step that left the number's range.
Sized<Checked> newton_balance(Checked x, Checked y, Checked sum_of_squares, Checked new_x, Decimal one) {
    const Checked new_x_squared = new_x * new_x;
    // k / new_x with k = x * y * (x^2 + y^2) never formed whole: dividing x
    // by new_x first keeps the product in range for larger reserves.
    const Checked target = ((x / new_x) * y) * sum_of_squares;
    if (!new_x_squared) return new_x_squared;
    if (!target) return target;

    Checked current = y;
    for (std::uint32_t pass = 1; pass <= kNewtonPasses; ++pass) {
        const Checked y_squared = current * current;
        const Checked residual = (current * (new_x_squared + y_squared)) - target;
        if (!residual) return residual;
        const Checked slope = (THREE * y_squared) + new_x_squared;
        if (!slope) return slope;
        if (!slope->is_positive()) return did_not_converge(pass);
        const Checked next = current - (residual / slope);
        if (!next) return next;
        // Absolute below 1, relative above it; a step exactly at the bound settles.
        const Checked step = current - next;
        const Checked settles_within = Checked(kNewtonTolerance) * max(next->abs(), one);
        if (!step) return step;
        if (!settles_within) return settles_within;
        if (step->abs() <= *settles_within) return next;
        current = next;
    }
    return did_not_converge(kNewtonPasses);
}

// dy/dx of the invariant at balances x and y, before the fee:
// y (3x^2 + y^2) / x (x^2 + 3y^2), in any one unit.
Checked rate_at_balances(Checked x, Checked y) {
    const Checked x_squared = x * x;
    const Checked y_squared = y * y;
    const Checked numerator = y * ((THREE * x_squared) + y_squared);
    const Checked denominator = x * (x_squared + (THREE * y_squared));
    return numerator / denominator;
}

}  // namespace

Sized<VelodromeStablePool> VelodromeStablePool::create(Decimal reserve_x, Decimal reserve_y, Decimal fee_retention) {
    if (const Rejection rejected = check_positive("reserve_x", reserve_x)) return *rejected;
    if (const Rejection rejected = check_positive("reserve_y", reserve_y)) return *rejected;
    if (const Rejection rejected = check_fee_retention(fee_retention)) return *rejected;
    const Decimal sum_of_squares = (reserve_x * reserve_x) + (reserve_y * reserve_y);
    return VelodromeStablePool(reserve_x, reserve_y, fee_retention, sum_of_squares);
}

Sized<Decimal> VelodromeStablePool::solve_y(Decimal new_x) const {
    if (const Rejection rejected = check_positive("x_new", new_x)) return *rejected;
    const Sized<Checked> direct = newton_balance(reserve_x_, reserve_y_, sum_of_squares_, new_x, ONE);
    if (!direct) return std::unexpected(direct.error());
    if (*direct) return **direct;

    // The cubes pass 2^96 - 1 from reserves of a few thousand million (or
    // vanish for amounts near 10^-10): solve the same pool in units where the
    // larger of new_x and y is about a million. new_x >= x, since the input
    // is never negative.
    const PowerOfTenUnits units = PowerOfTenUnits::around(max(new_x, reserve_y_));
    const Decimal x = units.to_units(reserve_x_);
    const Decimal y = units.to_units(reserve_y_);
    const Sized<Checked> rescaled =
        newton_balance(x, y, (x * x) + (y * y), units.to_units(new_x), units.to_units(ONE));
    if (!rescaled) return std::unexpected(rescaled.error());
    return units.from_units(*rescaled).value_or_fault_of(*direct);
}

Sized<Decimal> VelodromeStablePool::quote(Decimal delta_in) const {
    if (const Rejection rejected = check_input_not_negative(delta_in)) return *rejected;
    if (delta_in.is_zero()) return ZERO;
    const Decimal new_x = reserve_x_ + (delta_in * fee_retention_);
    const Sized<Decimal> new_y = solve_y(new_x);
    if (!new_y) return std::unexpected(new_y.error());
    // Newton may settle a hair above y for tiny inputs: that is no output, not an error.
    if (*new_y <= reserve_y_) return reserve_y_ - *new_y;
    return ZERO;
}

Decimal VelodromeStablePool::spot_rate() const {
    return spot_rate_.get([this] {
        const Checked direct = rate_at_balances(reserve_x_, reserve_y_);
        if (direct) return *direct * fee_retention_;
        // The rate is a ratio of amounts, the same in any units.
        const PowerOfTenUnits units = PowerOfTenUnits::around(max(reserve_x_, reserve_y_));
        const Checked rescaled = rate_at_balances(units.to_units(reserve_x_), units.to_units(reserve_y_));
        return rescaled.value_or_fault_of(direct) * fee_retention_;
    });
}

Decimal VelodromeStablePool::profit_at(Decimal reference_price, Decimal size) const {
    const Sized<Decimal> out = quote(size);
    return (out ? *out : ZERO) - (reference_price * size);
}

Sized<SizingResult> VelodromeStablePool::optimal_size(Decimal reference_price,
                                                      const SizingConstraints& constraints) const {
    if (const Rejection rejected = check_reference_price(reference_price)) return *rejected;
    if (spot_rate() <= reference_price) return no_arbitrage();

    // Double the upper end until the whole trade no longer pays the price on
    // average: past that point the profit is already negative.
    Decimal upper = reserve_x_;
    for (int round = 0; round < kBracketRounds; ++round) {
        const Sized<Decimal> out = quote(upper);
        if (!out || (*out / upper) < reference_price) break;
        upper = upper * TWO;
    }

    // Golden-section search for the largest profit on [0, upper], until the
    // interval is narrower than the tolerance or the passes run out.
    const Decimal tolerance = kSearchTolerance * reserve_x_;
    const GoldenSection search = golden_section_search(
        ZERO, upper, TieMoves::lower_end, [&](Decimal size) { return profit_at(reference_price, size); },
        [&](Decimal lower, Decimal upper_end, std::uint32_t passes) {
            return (upper_end - lower) > tolerance && passes < kSearchPasses;
        });

    return settle(*this, reference_price, constraints, search.midpoint(), sizing_tier(), search.passes);
}

}  // namespace quarlen
