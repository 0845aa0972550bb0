#include "python/families.hpp"
#include "python/family_docs.hpp"

#include "core/src/curves/concentrated_liquidity.hpp"

namespace quarlen::py {

namespace {
constexpr Parameter kParameters[] = {
    {"liquidity"}, {"sqrt_price_lower"}, {"sqrt_price_upper"}, {"sqrt_price_current"}, {"fee_retention"},
};
constexpr PoolNames kNames{"quarlen.PyConcentratedLiquidity", "clmm_optimal_size", kParameters};
}  // namespace

constinit const PoolFamily kConcentratedLiquidityFamily{
    kNames,
    docs_of<kNames>,
    [](const PoolArguments& a) {
        return shared(
            ConcentratedLiquidity::create(a.number(0), a.number(1), a.number(2), a.number(3), a.number(4)));
    },
};

}  // namespace quarlen::py
