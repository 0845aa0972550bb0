// The common interface of the pool models: what the portfolio, the routes
// and the Python layer see of any pool family.
#pragma once

#include <memory>
#include <optional>
#include <utility>

#include "core/src/mobius_quote.hpp"
#include "core/src/sizing.hpp"

namespace quarlen {

class AmmCurve {
public:
    virtual ~AmmCurve() = default;

    // The pool's output for an input of delta_in.
    virtual Sized<Decimal> quote(Decimal delta_in) const = 0;
    // The input that maximises the profit against reference_price.
    virtual Sized<SizingResult> optimal_size(Decimal reference_price, const SizingConstraints& constraints) const = 0;

    // What a route needs of its legs besides their quotes:
    // the output per unit of input for the smallest trades, fee included, by
    // the family's own formula for its marginal rate at zero size;
    virtual Sized<Decimal> spot_rate() const = 0;
    // an input of the order of the pool's depth (its reserve of the input
    // asset, or what empties it), where a search of a route's sizes starts;
    virtual Decimal typical_input() const = 0;
    // the tier the family's own sizings report;
    virtual GuaranteeTier sizing_tier() const = 0;
    // the quote as a Möbius map, for the families whose quote is one.
    virtual std::optional<MobiusQuote> mobius_quote() const = 0;
};

// Pools stay plain value types; this adapter puts one behind the interface.
// A pool without a mobius_quote() has none.
template <class Pool>
class CurveModel final : public AmmCurve {
public:
    explicit CurveModel(Pool pool) : pool_(std::move(pool)) {}

    Sized<Decimal> quote(Decimal delta_in) const override { return pool_.quote(delta_in); }
    Sized<SizingResult> optimal_size(Decimal reference_price, const SizingConstraints& constraints) const override {
        return pool_.optimal_size(reference_price, constraints);
    }
    Sized<Decimal> spot_rate() const override { return pool_.spot_rate(); }
    Decimal typical_input() const override { return pool_.typical_input(); }
    GuaranteeTier sizing_tier() const override { return pool_.sizing_tier(); }
    std::optional<MobiusQuote> mobius_quote() const override {
        if constexpr (requires { pool_.mobius_quote(); })
            return pool_.mobius_quote();
        else
            return std::nullopt;
    }

    const Pool& pool() const noexcept { return pool_; }

private:
    Pool pool_;
};

// Pool models are immutable, so one model can be shared by every holder (a
// Python pool object, the opportunities of a portfolio call, the legs of a
// route) without copying.
using SharedCurve = std::shared_ptr<const AmmCurve>;

template <class Pool>
SharedCurve share_curve(Pool pool) {
    return std::make_shared<const CurveModel<Pool>>(std::move(pool));
}

}  // namespace quarlen
