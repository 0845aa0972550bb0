// The common interface of the pool models: what the portfolio and the Python
// layer see of any pool family.
#pragma once

#include <memory>
#include <utility>

#include "core/src/sizing.hpp"

namespace quarlen {

class AmmCurve {
public:
    virtual ~AmmCurve() = default;

    // The pool's output for an input of delta_in.
    virtual Sized<Decimal> quote(Decimal delta_in) const = 0;
    // The input that maximises the profit against reference_price.
    virtual Sized<SizingResult> optimal_size(Decimal reference_price, const SizingConstraints& constraints) const = 0;
};

// Pools stay plain value types; this adapter puts one behind the interface.
template <class Pool>
class CurveModel final : public AmmCurve {
public:
    explicit CurveModel(Pool pool) : pool_(std::move(pool)) {}

    Sized<Decimal> quote(Decimal delta_in) const override { return pool_.quote(delta_in); }
    Sized<SizingResult> optimal_size(Decimal reference_price, const SizingConstraints& constraints) const override {
        return pool_.optimal_size(reference_price, constraints);
    }

    const Pool& pool() const noexcept { return pool_; }

private:
    Pool pool_;
};

// Pool models are immutable, so one model can be shared by every holder (a
// Python pool object, the opportunities of a portfolio call) without copying.
using SharedCurve = std::shared_ptr<const AmmCurve>;

template <class Pool>
SharedCurve share_curve(Pool pool) {
    return std::make_shared<const CurveModel<Pool>>(std::move(pool));
}

}  // namespace quarlen
