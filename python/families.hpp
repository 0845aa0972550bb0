// The pool families the module publishes, in registration order. This order
// is also `__all__`'s and the order in which the portfolio matches a pool
// object to its class. Adding a family: write its entry in python/families/
// and list it here.
#pragma once

#include "python/python_api.hpp"

#include <array>

#include "python/pools.hpp"

namespace quarlen::py {

extern const PoolFamily kConstantProductFamily;
extern const PoolFamily kStableSwapFamily;
extern const PoolFamily kPmmFamily;
extern const PoolFamily kConcentratedLiquidityFamily;
extern const PoolFamily kBalancerWeightedFamily;
extern const PoolFamily kVelodromeStableFamily;
extern const PoolFamily kDlmmFamily;
extern const PoolFamily kCurveCryptoSwapFamily;
extern const PoolFamily kDodoPmmFamily;

inline constexpr std::array kPoolFamilies{
    &kConstantProductFamily,
    &kStableSwapFamily,
    &kPmmFamily,
    &kConcentratedLiquidityFamily,
    &kBalancerWeightedFamily,
    &kVelodromeStableFamily,
    &kDlmmFamily,
    &kCurveCryptoSwapFamily,
    &kDodoPmmFamily,
};

}  // namespace quarlen::py
