#include "core/src/curves/concentrated_liquidity.hpp"

#include "core/src/checked.hpp"
#include "core/src/validation.hpp"

namespace quarlen {

namespace {

// The gross input that moves the price from where the range now holds
// `x_now` of X down to the range's lower bound. Quote and sizing both use
// this, with the same operations in the same order, so a size equal to the
// summed capacities quotes to the lower bound without the capacity error.
Decimal gross_capacity(const TickRange& range, Decimal x_now, Decimal fee_retention) {
    return ((range.liquidity / range.sqrt_price_lower) - x_now) / fee_retention;
}

// The checks a single range must pass, in order. A range of a list is named
// by its position ("tick range 2: liquidity must be > 0, got 0"); the one
// range of a pool built from its parameters is not.
Rejection range_fault(const TickRange& range, std::optional<std::size_t> position) {
    if (!range.liquidity.is_positive())
        return position ? invalid("tick range {}: liquidity must be > 0, got {}", *position, range.liquidity)
                        : invalid("liquidity must be > 0, got {}", range.liquidity);
    if (!range.sqrt_price_lower.is_positive())
        return position
                   ? invalid("tick range {}: sqrt_price_lower must be > 0, got {}", *position, range.sqrt_price_lower)
                   : invalid("sqrt_price_lower must be > 0, got {}", range.sqrt_price_lower);
    if (range.sqrt_price_upper <= range.sqrt_price_lower)
        return position ? invalid("tick range {}: sqrt_price_upper ({}) must be > sqrt_price_lower ({})", *position,
                                  range.sqrt_price_upper, range.sqrt_price_lower)
                        : invalid("sqrt_price_upper ({}) must be > sqrt_price_lower ({})", range.sqrt_price_upper,
                                  range.sqrt_price_lower);
    return std::nullopt;
}

// The current price must lie within the ranges, bounds included.
Rejection check_current_inside(Decimal current, Decimal lower, Decimal upper) {
    if (lower <= current && current <= upper) return std::nullopt;
    return invalid("sqrt_price_current ({}) is outside [{}, {}]", current, lower, upper);
}

}  // namespace

Sized<ConcentratedLiquidity> ConcentratedLiquidity::create(Decimal liquidity, Decimal sqrt_price_lower,
                                                           Decimal sqrt_price_upper, Decimal sqrt_price_current,
                                                           Decimal fee_retention) {
    const TickRange range{sqrt_price_lower, sqrt_price_upper, liquidity};
    if (const Rejection rejected = range_fault(range, std::nullopt)) return *rejected;
    if (const Rejection rejected = check_current_inside(sqrt_price_current, sqrt_price_lower, sqrt_price_upper))
        return *rejected;
    if (const Rejection rejected = check_fee_retention(fee_retention)) return *rejected;
    return ConcentratedLiquidity({range}, liquidity, sqrt_price_lower, sqrt_price_upper, sqrt_price_current,
                                 fee_retention);
}

Sized<ConcentratedLiquidity> ConcentratedLiquidity::from_ranges(std::vector<TickRange> ranges,
                                                                Decimal sqrt_price_current, Decimal fee_retention) {
    if (ranges.empty()) return invalid("tick ranges must not be empty");
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        if (const Rejection rejected = range_fault(ranges[i], i)) return *rejected;
        if (i > 0 && ranges[i].sqrt_price_lower != ranges[i - 1].sqrt_price_upper)
            return invalid("tick range {}: sqrt_price_lower ({}) must equal the sqrt_price_upper ({}) of tick range {}",
                           i, ranges[i].sqrt_price_lower, ranges[i - 1].sqrt_price_upper, i - 1);
    }
    const Decimal lowest = ranges.front().sqrt_price_lower;
    const Decimal highest = ranges.back().sqrt_price_upper;
    if (const Rejection rejected = check_current_inside(sqrt_price_current, lowest, highest)) return *rejected;
    if (const Rejection rejected = check_fee_retention(fee_retention)) return *rejected;

    ConcentratedLiquidity pool(std::move(ranges), ZERO, lowest, highest, sqrt_price_current, fee_retention);
    pool.liquidity_ = pool.ranges_[pool.start_].liquidity;
    return pool;
}

std::size_t ConcentratedLiquidity::starting_range(const std::vector<TickRange>& ranges,
                                                  Decimal sqrt_price_current) noexcept {
    for (std::size_t j = ranges.size(); j-- > 0;) {
        if (ranges[j].sqrt_price_lower <= sqrt_price_current && sqrt_price_current <= ranges[j].sqrt_price_upper)
            return j;
    }
    return 0;  // not reached: the current price lies within the ranges
}

Sized<Decimal> ConcentratedLiquidity::quote(Decimal delta_in) const {
    if (const Rejection rejected = check_input_not_negative(delta_in)) return *rejected;
    if (delta_in.is_zero()) return ZERO;


    // The walk tracks the gross input taken by the ranges passed whole as the
    // running sum of their capacities, the same sum the sizing forms, rather
    // than subtracting each capacity from what is left: with several ranges
    // the rounded differences of a long subtraction chain can exceed the last
    // capacity by a unit in the last digit, and the sizing's own size would
    // then fail with the capacity error. With one range both forms are the
    // same operations on the same values.
    const Decimal f = fee_retention_;
    Decimal passed = ZERO;
    Decimal s = sqrt_price_current_;
    Decimal total = ZERO;
    for (std::size_t j = start_ + 1; j-- > 0;) {
        const TickRange& range = ranges_[j];
        const Decimal L = range.liquidity;
        const Decimal through_range = passed + gross_capacity(range, L / s, f);
        if (delta_in <= through_range) {
            // The trade ends inside this range: the X side grows by the net
            // input, and the new price follows from X = L / s.
            const Decimal net_in = f * (delta_in - passed);
            const Decimal s_new = L / ((L / s) + net_in);
            total += L * (s - s_new);
            break;
        }
        // The whole range down to its lower bound; the next range down starts
        // from this bound.
        total += L * (s - range.sqrt_price_lower);
        passed = through_range;
        s = range.sqrt_price_lower;
        if (j == 0)
            return invalid("trade of size {} exceeds total liquidity capacity across all tick ranges", delta_in);
    }
    if (total.is_negative())
        return invalid("computed negative output ({}) for delta_in {}", total, delta_in);
    return total;
}

Decimal ConcentratedLiquidity::spot_rate() const {
    return (fee_retention_ * sqrt_price_current_) * sqrt_price_current_;
}

std::optional<MobiusQuote> ConcentratedLiquidity::mobius_quote() const {
    if (start_ != 0) return std::nullopt;
    const TickRange& range = ranges_[0];
    const Decimal L = range.liquidity;
    const Decimal x = L / sqrt_price_current_;
    // The capacity by the quote's own operations, so the quote takes it whole.
    return MobiusQuote{x / fee_retention_, L * sqrt_price_current_, gross_capacity(range, x, fee_retention_)};
}

Sized<SizingResult> ConcentratedLiquidity::optimal_size(Decimal reference_price,
                                                        const SizingConstraints& constraints) const {
    if (const Rejection rejected = check_reference_price(reference_price)) return *rejected;
    const Decimal f = fee_retention_;
    // Spot test: the marginal rate of the first unit is f * P with P = s^2.
    if (spot_rate() <= reference_price) return no_arbitrage();


    // Inside a range the output is concave in the input, so the first range in
    // which the marginal rate falls to the reference price holds the optimum;
    // every range passed on the way is taken whole.
    Decimal cumulative = ZERO;
    Decimal s = sqrt_price_current_;
    Decimal size = ZERO;
    for (std::size_t j = start_ + 1; j-- > 0;) {
        const TickRange& range = ranges_[j];
        const Decimal L = range.liquidity;
        const Decimal x = L / s;
        const Decimal y = L * s;
        const Decimal marginal_rate = (f * y) / x;
        if (marginal_rate <= reference_price) {
            size = cumulative;
            break;
        }
        // r is the X side L / sqrt(P_new) at the price where f * P_new equals
        // the reference price; the gross input to get there is (r - x) / f.
        // x * y is L^2, which passes 2^96 - 1 for liquidity from about 2.8e14,
        // and a small price lifts the quotient past it sooner. There the root
        // is taken as L * sqrt(f / P): the same value, every factor in range.
        const Checked radicand = ((Checked(x) * y) * f) / reference_price;
        const Decimal root_of = radicand ? *radicand : f / reference_price;
        const std::optional<Decimal> root = root_of.sqrt();
        if (!root) return invalid("failed to compute sqrt of radicand {}", root_of);
        const Decimal r = radicand ? *root : (Checked(L) * *root).value_or_fault_of(radicand);
        const Decimal to_stationary = (r - x) / f;
        const Decimal capacity = gross_capacity(range, x, f);
        if (to_stationary <= capacity) {
            size = cumulative + max(to_stationary, ZERO);
            break;
        }
        cumulative += capacity;
        s = range.sqrt_price_lower;
        if (j == 0) size = cumulative;  // every range used down to its lower bound
    }

    return settle(*this, reference_price, constraints, size, sizing_tier(), std::nullopt);
}

}  // namespace quarlen
