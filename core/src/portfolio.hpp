// Splits one capital budget across many opportunities by pricing capital with
// a single shadow price: every opportunity is sized on its own at its
// reference price raised by that price, which is searched until the sizes add
// up to the budget.
#pragma once

#include <string>
#include <vector>

#include "core/src/amm_curve.hpp"

namespace quarlen {

struct PortfolioConfig {
    Decimal total_capital_budget;  // always > 0
    Decimal tolerance;             // relative budget tolerance, 0.0001

    // The config for a budget, or the error text for a budget that is not > 0.
    static std::expected<PortfolioConfig, std::string> create(Decimal total_capital_budget);
};

struct Opportunity {
    std::string id;  // the caller's identifier, copied into the result
    SharedCurve pool;
    Decimal reference_price;
    SizingConstraints constraints;
};

struct AllocatedPosition {
    std::string id;
    std::string_view guarantee_tier;  // the tier's name; one of four literals
    Decimal allocated_size;
    Decimal expected_profit;
};

struct PortfolioResult {
    std::vector<AllocatedPosition> allocations;  // one per opportunity, input order
    Decimal total_capital_used;
    Decimal total_expected_profit;
    Decimal shadow_price;
};

// Never fails: an opportunity whose sizing fails, or faults, is left
// unfunded. Only a plain-operator fault (DecimalFault) in the allocation's own
// arithmetic can abort it.
PortfolioResult portfolio_optimize(const PortfolioConfig& config, const std::vector<Opportunity>& opportunities);

}  // namespace quarlen
