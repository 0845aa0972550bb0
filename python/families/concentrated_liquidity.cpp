#include "core/src/curves/concentrated_liquidity.hpp"
#include "python/families.hpp"

namespace quarlen::py {

namespace {
constexpr Parameter kParameters[] = {
    {"liquidity"}, {"sqrt_price_lower"}, {"sqrt_price_upper"}, {"sqrt_price_current"}, {"fee_retention"},
};
}  // namespace

constinit const PoolFamily kConcentratedLiquidityFamily{
    "quarlen.PyConcentratedLiquidity",
    "PyConcentratedLiquidity(liquidity, sqrt_price_lower, sqrt_price_upper, sqrt_price_current, fee_retention)"
    "\n--\n\n",
    "clmm_optimal_size",
    "clmm_optimal_size(liquidity, sqrt_price_lower, sqrt_price_upper, sqrt_price_current, fee_retention, "
    "reference_price, fixed_cost=None, max_size=None)\n--\n\n",
    kParameters,
    [](const PoolArguments& a) {
        return shared(
            ConcentratedLiquidity::create(a.number(0), a.number(1), a.number(2), a.number(3), a.number(4)));
    },
};

}  // namespace quarlen::py
