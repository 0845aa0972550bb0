#include "core/src/route.hpp"

#include <array>
#include <cstdint>

#include "core/src/golden_section.hpp"
#include "core/src/validation.hpp"

namespace quarlen {

namespace {

// The search narrows the size to this share of itself...
constexpr Decimal kSizeTolerance = Decimal::from_parts(1, 12, false);  // 1e-12
// ...which takes about 58 passes from a bracket whose ends are a factor of 4
// apart; the cap only guards against a profit that never settles.
constexpr std::uint32_t kMaxSearchPasses = 200;
// The bracket doubles or halves from its start at most this often: 2^90
// times a pool's depth is far beyond any trade, 2^-90 far below it.
constexpr std::uint32_t kMaxBracketSteps = 90;
// How far a size is pulled back, in turn, when the chain cannot quote it;
// the largest size it quotes is then found to within the first of them.
constexpr std::array kPullBacks{
    Decimal::from_parts(1, 24, false), Decimal::from_parts(1, 20, false), Decimal::from_parts(1, 16, false),
    Decimal::from_parts(1, 12, false), Decimal::from_parts(1, 8, false),  Decimal::from_parts(1, 4, false),
};

}  // namespace

std::expected<Route, std::string> Route::create(std::vector<SharedCurve> legs) {
    if (legs.empty() || legs.size() > kMaxLegs)
        return std::unexpected("a route must have 1 to " + std::to_string(kMaxLegs) + " legs, got " +
                               std::to_string(legs.size()));
    return Route(std::move(legs));
}

Sized<Decimal> Route::quote(Decimal delta_in) const {
    Decimal amount = delta_in;
    for (const SharedCurve& leg : legs_) {
        const Sized<Decimal> out = leg->quote(amount);
        if (!out) return out;
        amount = *out;
    }
    return amount;
}

Sized<Decimal> Route::spot_rate() const {
    return spot_rate_.get([this]() -> Sized<Decimal> {
        Decimal rate = ONE;
        for (const SharedCurve& leg : legs_) {
            const Sized<Decimal> leg_rate = leg->spot_rate();
            if (!leg_rate) return leg_rate;
            rate = rate * *leg_rate;
        }
        return rate;
    });
}

// Each leg's typical input carried back to the route's input at the spot
// rates of the legs before it: where the trade is of the order of the
// shallowest pool. One unit of input when no leg tells.
Decimal Route::typical_input() const {
    std::optional<Decimal> shallowest;
    Decimal rate = ONE;  // the route's input to this leg's, for the smallest trades
    for (const SharedCurve& leg : legs_) {
        const std::optional<Decimal> depth = leg->typical_input().checked_div(rate);
        if (depth && depth->is_positive()) shallowest = shallowest ? min(*shallowest, *depth) : *depth;
        const Sized<Decimal> leg_rate = leg->spot_rate();
        const std::optional<Decimal> next = leg_rate ? rate.checked_mul(*leg_rate) : std::nullopt;
        if (!next || !next->is_positive()) break;
        rate = *next;
    }
    return shallowest.value_or(ONE);
}

GuaranteeTier Route::sizing_tier() const {
    ComposedFrom composed;
    composed.legs.reserve(legs_.size());
    for (const SharedCurve& leg : legs_) composed.legs.push_back(leg->sizing_tier());
    return composed;
}

std::optional<MobiusQuote> Route::mobius_quote() const {
    return mobius_quote_.get([this]() -> std::optional<MobiusQuote> {
        std::optional<MobiusQuote> chain;
        for (const SharedCurve& leg : legs_) {
            const std::optional<MobiusQuote> next = leg->mobius_quote();
            if (!next) return std::nullopt;
            chain = chain ? then(*chain, *next) : *next;
        }
        return chain;
    });
}

Sized<SizingResult> Route::optimal_size(Decimal reference_price, const SizingConstraints& constraints) const {
    // A route of one pool is that pool: the same size, profit and iterations,
    // its tier listed as the one leg.
    if (legs_.size() == 1) {
        Sized<SizingResult> sized = legs_.front()->optimal_size(reference_price, constraints);
        if (sized) sized->guarantee_tier = ComposedFrom{{std::move(sized->guarantee_tier)}};
        return sized;
    }

    if (const Rejection rejected = check_reference_price(reference_price)) return *rejected;
    // The chain's rate for the smallest trades, every leg's fee included.
    const Sized<Decimal> spot = spot_rate();
    if (!spot) return std::unexpected(spot.error());
    if (*spot <= reference_price) return no_arbitrage();

    GuaranteeTier tier = sizing_tier();
    if (const std::optional<MobiusQuote> chain = mobius_quote())
        return settle_at(stationary_input(*chain, reference_price), reference_price, constraints, std::move(tier),
                         std::nullopt);
    return search(reference_price, constraints, std::move(tier));
}

// The profit of the chained quote is searched on a bracket found from the
// route's typical input, the size of its shallowest pool: doubled while the
// profit still rises from one probe to the next, or halved while it does not
// rise from the half to the whole. For a profit that rises to one peak and
// falls after it, the peak then lies between the ends, which are a factor of
// 4 apart (or 0 and the smallest probe). Starting at the pools' own scale
// keeps the probes clear of sizes so small against a pool that its quote is
// only its solver's noise. A size the chain cannot quote (past a leg's
// capacity) counts as the worst profit, so the doubling also stops where a
// leg starts to fail, and the golden-section search keeps to the sizes every
// leg accepts.
Sized<SizingResult> Route::search(Decimal reference_price, const SizingConstraints& constraints,
                                  GuaranteeTier tier) const {
    const auto profit = [&](Decimal size) {
        const Sized<Decimal> out = quote(size);
        return out ? *out - reference_price * size : kWorstProfit;
    };

    std::uint32_t steps = 0;
    const Decimal start = typical_input();
    Decimal lower = start;
    // A start at the top of the number's range cannot double: it is searched below.
    Decimal upper = start.checked_mul(TWO).value_or(start);
    const Decimal profit_at_start = profit(lower);
    const Decimal profit_at_double = profit(upper);
    if (profit_at_double > profit_at_start) {
        // Rising at the start: the peak lies beyond `lower`.
        Decimal probe = upper;
        Decimal probe_profit = profit_at_double;
        while (steps < kMaxBracketSteps) {
            const std::optional<Decimal> next = probe.checked_mul(TWO);
            if (!next) break;
            ++steps;
            const Decimal next_profit = profit(*next);
            upper = *next;
            if (next_profit <= probe_profit) break;
            lower = probe;
            probe = *next;
            probe_profit = next_profit;
        }
    } else {
        // Not rising from the start to its double: the peak lies below `upper`.
        Decimal probe = start;
        Decimal probe_profit = profit_at_start;
        lower = ZERO;
        while (steps < kMaxBracketSteps) {
            ++steps;
            const Decimal half = probe / TWO;
            const Decimal half_profit = profit(half);
            if (half_profit < probe_profit) {
                lower = half;
                break;
            }
            upper = probe;
            probe = half;
            probe_profit = half_profit;
        }
    }

    // Ties move the upper end, towards the smaller sizes, so that the lower
    // end is always a size the chain quotes (or zero).
    const GoldenSection found = golden_section_search(
        lower, upper, TieMoves::upper_end, profit, [](Decimal low, Decimal high, std::uint32_t passes) {
            return (high - low) > kSizeTolerance * high && passes < kMaxSearchPasses;
        });
    return settle_at(found.midpoint(), reference_price, constraints, std::move(tier), steps + found.passes);
}

// A size at a leg's capacity can pass it once the legs before have rounded
// their outputs (a closed form capped at a later leg's capacity, or a search
// whose bracket closed round the capacity). Amounts far below one keep fewer
// significant digits at 28 places, and a leg's output can move in steps much
// coarser than its input (a range of large liquidity pays L (s - s_new), the
// difference in units of the 28th place times L), so that rounding can reach
// well past the last digit of the size: the size is pulled back until the
// chain quotes it, and then moved up again, by bisection, to the largest
// size it quotes.
Decimal Route::admissible(Decimal size) const {
    if (!size.is_positive() || quote(size)) return size;
    Decimal failing = size;
    for (const Decimal pull_back : kPullBacks) {
        Decimal quoted = size - size * pull_back;
        if (!quote(quoted)) {
            failing = quoted;
            continue;
        }
        while (failing - quoted > kPullBacks.front() * quoted) {
            const Decimal middle = (quoted + failing) / TWO;
            if (middle == quoted || middle == failing) break;  // neighbours in the last place
            (quote(middle) ? quoted : failing) = middle;
        }
        return quoted;
    }
    return size;  // no size close to it quotes: settling reports the leg's error
}

Sized<SizingResult> Route::settle_at(Decimal size, Decimal reference_price, const SizingConstraints& constraints,
                                     GuaranteeTier tier, std::optional<std::uint32_t> iterations) const {
    if (constraints.max_size) size = min(size, *constraints.max_size);
    return settle(*this, reference_price, constraints, admissible(size), std::move(tier), iterations);
}

}  // namespace quarlen
