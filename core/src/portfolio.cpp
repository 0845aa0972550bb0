#include "core/src/portfolio.hpp"

#include <optional>

#include "core/src/worker_pool.hpp"

namespace quarlen {

namespace {

constexpr Decimal kTolerance = Decimal::from_parts(1, 4, false);          // 0.0001
constexpr Decimal kFirstUpperBracket = Decimal::from_parts(10, 2, false);  // 0.10
// Doubling from 0.10 for up to 96 tries reaches 0.10 x 2^95, about 4e27, so
// even a pool priced near the top of the number's range is priced out of the
// budget before the bisection starts.
constexpr int kBracketTries = 96;
constexpr int kBisectionPasses = 48;

struct Allocation {
    Decimal total;
    std::vector<AllocatedPosition> positions;
};

AllocatedPosition unfunded(const std::string& id) {
    return AllocatedPosition{id, GuaranteeTier(ProvenOptimal{}).name(), ZERO, ZERO};
}

// Runs one opportunity's own arithmetic: its answer, or nothing when that
// arithmetic faults. Such a fault (its reference price raised past the
// largest number, a pool whose quote overflows at the size it wants) concerns
// that opportunity alone, so it leaves that one unfunded instead of aborting
// the whole allocation. Faults in the allocation's own arithmetic (the
// running total, the tolerance, the midpoint, the scaling of the final fit)
// are not caught and still abort the call.
template <class Step>
auto unless_it_faults(const Step& step) -> decltype(step()) {
    try {
        return step();
    } catch (const DecimalFault&) {
        return std::nullopt;
    }
}

// One opportunity sized with its reference price raised by the shadow price:
// its position, or nothing when a sizing error, a size that is not positive
// or a fault leaves it unfunded. It reads only its arguments, so the
// opportunities can be sized independently of one another.
std::optional<AllocatedPosition> size_one(const Opportunity& opportunity, Decimal shadow_price) {
    return unless_it_faults([&]() -> std::optional<AllocatedPosition> {
        const Decimal price = opportunity.reference_price + shadow_price;
        const Sized<SizingResult> sized = opportunity.pool->optimal_size(price, opportunity.constraints);
        if (!sized || !sized->optimal_delta.is_positive()) return std::nullopt;
        return AllocatedPosition{opportunity.id, sized->guarantee_tier.name(), sized->optimal_delta,
                                 sized->expected_profit};
    });
}

// The profit of trading `size` in one opportunity at the price it was sized
// at, counted as every curve counts it: (quote - price x size) - fixed_cost.
// Nothing when the quote fails or faults.
std::optional<Decimal> profit_at(const Opportunity& opportunity, Decimal shadow_price, Decimal size) {
    return unless_it_faults([&]() -> std::optional<Decimal> {
        const Sized<Decimal> out = opportunity.pool->quote(size);
        if (!out) return std::nullopt;
        const Decimal price = opportunity.reference_price + shadow_price;
        return (*out - price * size) - opportunity.constraints.fixed_cost;
    });
}

// Sizes every opportunity at one shadow price; the total is the sum of the
// funded sizes in list order. The sizings are independent, so they run on
// the worker threads, each writing its own slot; the sum is then taken on
// this thread in list order, so it is the same to the digit however many
// threads took part.
Allocation allocate_at(const std::vector<Opportunity>& opportunities, Decimal shadow_price) {
    std::vector<std::optional<AllocatedPosition>> sized(opportunities.size());
    run_indexed(opportunities.size(), [&](std::size_t n) { sized[n] = size_one(opportunities[n], shadow_price); });

    Allocation allocation{ZERO, {}};
    allocation.positions.reserve(opportunities.size());
    for (std::size_t n = 0; n < opportunities.size(); ++n) {
        if (sized[n]) {
            allocation.total = allocation.total + sized[n]->allocated_size;
            allocation.positions.push_back(std::move(*sized[n]));
        } else {
            allocation.positions.push_back(unfunded(opportunities[n].id));
        }
    }
    return allocation;
}

Decimal sum_of_sizes(const std::vector<AllocatedPosition>& positions) {
    Decimal total = ZERO;
    for (const AllocatedPosition& position : positions) total = total + position.allocated_size;
    return total;
}

Decimal sum_of_profits(const std::vector<AllocatedPosition>& positions) {
    Decimal total = ZERO;
    for (const AllocatedPosition& position : positions) total = total + position.expected_profit;
    return total;
}

// Scales an overspend back onto the budget. When the search met its
// tolerance the factor is within 0.0001 of one and every position keeps the
// profit sized for it. When it did not (demand that jumps, as a fixed cost
// makes it, leaves the search straddling the jump), the factor can be far
// below one and the profit of the unscaled size says nothing about the
// scaled one: each position is priced again at its scaled size, and one that
// no longer earns anything is not funded.
void fit_to_budget(Allocation& kept, const std::vector<Opportunity>& opportunities, Decimal shadow_price,
                   Decimal budget, bool converged) {
    const Decimal factor = budget / kept.total;
    for (std::size_t n = 0; n < kept.positions.size(); ++n) {
        AllocatedPosition& position = kept.positions[n];
        const bool funded = position.allocated_size.is_positive();
        position.allocated_size = position.allocated_size * factor;
        if (converged || !funded) continue;
        const std::optional<Decimal> profit =
            position.allocated_size.is_positive() ? profit_at(opportunities[n], shadow_price, position.allocated_size)
                                                  : std::nullopt;
        if (profit && profit->is_positive()) {
            position.expected_profit = *profit;
        } else {
            position = unfunded(position.id);
        }
    }
    kept.total = sum_of_sizes(kept.positions);
}

// Each scaled size is rounded on its own, so their sum can still pass the
// budget by a unit of its last place. The excess comes off the last funded
// position (its profit is kept: the change lies below the digits that profit
// shows). Should rounding of the new sum leave an excess again, the funded
// position before it gives up the rest; a position too small to absorb the
// excess is dropped (unfunded) instead of going negative.
void trim_to_budget(Allocation& kept, Decimal budget) {
    for (auto position = kept.positions.rbegin(); position != kept.positions.rend() && kept.total > budget;
         ++position) {
        if (!position->allocated_size.is_positive()) continue;
        const Decimal excess = kept.total - budget;
        if (excess < position->allocated_size) {
            position->allocated_size = position->allocated_size - excess;
        } else {
            *position = unfunded(position->id);
        }
        kept.total = sum_of_sizes(kept.positions);
    }
}

}  // namespace

std::expected<PortfolioConfig, std::string> PortfolioConfig::create(Decimal total_capital_budget) {
    if (!total_capital_budget.is_positive())
        return std::unexpected(got("total_capital_budget must be > 0, got ", total_capital_budget));
    return PortfolioConfig{total_capital_budget, kTolerance};
}

PortfolioResult portfolio_optimize(const PortfolioConfig& config, const std::vector<Opportunity>& opportunities) {
    if (opportunities.empty()) return PortfolioResult{{}, ZERO, ZERO, ZERO};

    const Decimal budget = config.total_capital_budget;

    // If the stand-alone optima fit, capital is free and every opportunity
    // gets its own optimum.
    Allocation unpriced = allocate_at(opportunities, ZERO);
    if (unpriced.total <= budget) {
        const Decimal profit = sum_of_profits(unpriced.positions);
        return PortfolioResult{std::move(unpriced.positions), unpriced.total, profit, ZERO};
    }

    // Upper bracket by doubling from 0.10; if every try overspends, the last
    // doubled value is used untried.
    Decimal hi = kFirstUpperBracket;
    for (int attempt = 0; attempt < kBracketTries; ++attempt) {
        if (allocate_at(opportunities, hi).total <= budget) break;
        hi = hi * TWO;
    }

    // Bisection on the shadow price. The total allocated is assumed to fall as
    // the price rises; where it does not, the final fit below repairs an
    // overspend.
    Decimal lo = ZERO;
    const Decimal absolute_tolerance = budget * config.tolerance;
    Decimal shadow_price = ZERO;
    Allocation kept{ZERO, {}};
    bool converged = false;
    for (int pass = 0; pass < kBisectionPasses; ++pass) {
        const Decimal mid = (lo + hi) / TWO;
        kept = allocate_at(opportunities, mid);
        shadow_price = mid;
        converged = (kept.total - budget).abs() <= absolute_tolerance;
        if (converged) break;
        if (kept.total <= budget) {
            hi = mid;
        } else {
            lo = mid;
        }
    }

    if (kept.total > budget && kept.total.is_positive()) {
        fit_to_budget(kept, opportunities, shadow_price, budget, converged);
        trim_to_budget(kept, budget);
    }

    const Decimal profit = sum_of_profits(kept.positions);
    return PortfolioResult{std::move(kept.positions), kept.total, profit, shadow_price};
}

}  // namespace quarlen
