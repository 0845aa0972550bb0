#include <cstdint>

#include "core/src/curves/balancer_weighted.hpp"
#include "python/families.hpp"

namespace quarlen::py {

namespace {
constexpr Parameter kParameters[] = {
    {"reserves", ParameterKind::Numbers, "reserves[i]"},
    {"weights", ParameterKind::Numbers, "weights[i]"},
    {"fee_retention"},
    {"input_index", ParameterKind::Index, nullptr, std::uint64_t{0}},
    {"output_index", ParameterKind::Index, nullptr, std::uint64_t{1}},
};
}  // namespace

constinit const PoolFamily kBalancerWeightedFamily{
    "quarlen.PyBalancerWeightedPool",
    "PyBalancerWeightedPool(reserves, weights, fee_retention, input_index=0, output_index=1)\n--\n\n",
    "balancer_optimal_size",
    "balancer_optimal_size(reserves, weights, fee_retention, input_index, output_index, reference_price, "
    "fixed_cost=None, max_size=None)\n--\n\n",
    kParameters,
    [](const PoolArguments& a) {
        return shared(BalancerWeightedPool::create(a.numbers(0), a.numbers(1), a.number(2), a.index(3), a.index(4)));
    },
};

}  // namespace quarlen::py
