#include "core/src/portfolio.hpp"

namespace quarlen {

namespace {

constexpr Decimal kTolerance = Decimal::from_parts(1, 4, false);          // 0.0001
constexpr Decimal kFirstUpperBracket = Decimal::from_parts(10, 2, false);  // 0.10
constexpr int kBracketTries = 16;
constexpr int kBisectionPasses = 48;

struct Allocation {
    Decimal total;
    std::vector<AllocatedPosition> positions;
};

// Sizes every opportunity with its reference price raised by the shadow price.
// Any sizing error, or a size that is not positive, leaves it unfunded.
Allocation allocate_at(const std::vector<Opportunity>& opportunities, Decimal shadow_price) {
    Allocation allocation{ZERO, {}};
    allocation.positions.reserve(opportunities.size());
    for (const Opportunity& opportunity : opportunities) {
        const Decimal price = opportunity.reference_price + shadow_price;
        const Sized<SizingResult> sized = opportunity.pool->optimal_size(price, opportunity.constraints);
        if (sized && sized->optimal_delta.is_positive()) {
            allocation.total = allocation.total + sized->optimal_delta;
            allocation.positions.push_back(AllocatedPosition{
                opportunity.id, sized->guarantee_tier.name(), sized->optimal_delta, sized->expected_profit});
        } else {
            allocation.positions.push_back(
                AllocatedPosition{opportunity.id, GuaranteeTier(ProvenOptimal{}).name(), ZERO, ZERO});
        }
    }
    return allocation;
}

Decimal sum_of_profits(const std::vector<AllocatedPosition>& positions) {
    Decimal total = ZERO;
    for (const AllocatedPosition& position : positions) total = total + position.expected_profit;
    return total;
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

    // Upper bracket by doubling from 0.10; after 16 overspending tries the
    // doubled value (6553.60) is used untried.
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
    for (int pass = 0; pass < kBisectionPasses; ++pass) {
        const Decimal mid = (lo + hi) / TWO;
        kept = allocate_at(opportunities, mid);
        shadow_price = mid;
        if ((kept.total - budget).abs() <= absolute_tolerance) break;
        if (kept.total <= budget) {
            hi = mid;
        } else {
            lo = mid;
        }
    }

    // Final fit: scale an overspend back onto the budget. Each position keeps
    // the profit computed at its unscaled size.
    if (kept.total > budget && kept.total.is_positive()) {
        const Decimal factor = budget / kept.total;
        Decimal scaled_total = ZERO;
        for (AllocatedPosition& position : kept.positions) {
            position.allocated_size = position.allocated_size * factor;
            scaled_total = scaled_total + position.allocated_size;
        }
        kept.total = scaled_total;
    }

    const Decimal profit = sum_of_profits(kept.positions);
    return PortfolioResult{std::move(kept.positions), kept.total, profit, shadow_price};
}

}  // namespace quarlen
