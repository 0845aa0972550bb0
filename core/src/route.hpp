// A route: pools traded one after another, the output of each leg paid into
// the next (buy on one pool and sell on another, or go round a cycle of
// pools back to the starting asset). Its quote is the exact chain of the
// legs' own quotes, and it sizes against a reference price like a pool, so
// it stands behind AmmCurve wherever a pool does.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/src/amm_curve.hpp"
#include "core/src/computed_once.hpp"

namespace quarlen {

class Route {
public:
    static constexpr std::size_t kMaxLegs = 8;

    // A route of 1 to kMaxLegs legs, or the text saying why not. Each leg is
    // used in the direction its pool trades; that each leg's output asset is
    // the next leg's input asset is the caller's to ensure.
    static std::expected<Route, std::string> create(std::vector<SharedCurve> legs);

    // The last leg's output for delta_in paid into the first: each leg
    // quotes what the one before it paid out. A leg's error is the route's.
    Sized<Decimal> quote(Decimal delta_in) const;

    // The input that maximises (quote(d) - reference_price * d) - fixed_cost,
    // with reference_price the value of one unit of the first leg's input in
    // the last leg's output (1 for a cycle back to the starting asset).
    // The tier is ComposedFrom the legs' own tiers. A route of one leg sizes
    // as that leg does.
    Sized<SizingResult> optimal_size(Decimal reference_price, const SizingConstraints& constraints) const;

    // The product of the legs' spot rates (worked out once per route).
    Sized<Decimal> spot_rate() const;
    // The shallowest leg's typical input, in units of the route's input.
    Decimal typical_input() const;
    // ComposedFrom the tiers of the legs' own sizings, in route order.
    GuaranteeTier sizing_tier() const;
    // The legs' Möbius quotes composed, when every leg has one (worked out
    // once per route).
    std::optional<MobiusQuote> mobius_quote() const;

private:
    explicit Route(std::vector<SharedCurve> legs) : legs_(std::move(legs)) {}

    // A golden-section search of the chained quote's profit, for routes
    // without a closed form.
    Sized<SizingResult> search(Decimal reference_price, const SizingConstraints& constraints,
                               GuaranteeTier tier) const;
    // `size` when the chain quotes it, otherwise the largest size just
    // below it that the chain quotes.
    Decimal admissible(Decimal size) const;
    // Settles `size`, capped by max_size and made admissible.
    Sized<SizingResult> settle_at(Decimal size, Decimal reference_price, const SizingConstraints& constraints,
                                  GuaranteeTier tier, std::optional<std::uint32_t> iterations) const;

    std::vector<SharedCurve> legs_;
    // The route's own values, from its legs alone; a portfolio sizes the same
    // route once per pass.
    ComputedOnce<Sized<Decimal>> spot_rate_;
    ComputedOnce<std::optional<MobiusQuote>> mobius_quote_;
};

}  // namespace quarlen
