#include "python/families.hpp"
#include "python/family_docs.hpp"

#include <cstdint>

#include "core/src/curves/balancer_weighted.hpp"

namespace quarlen::py {

namespace {
constexpr Parameter kParameters[] = {
    {"reserves", ParameterKind::Numbers, "reserves[i]"},
    {"weights", ParameterKind::Numbers, "weights[i]"},
    {"fee_retention"},
    {"input_index", ParameterKind::Index, nullptr, std::uint64_t{0}},
    {"output_index", ParameterKind::Index, nullptr, std::uint64_t{1}},
};
constexpr PoolNames kNames{"quarlen.PyBalancerWeightedPool", "balancer_optimal_size", kParameters};
}  // namespace

constinit const PoolFamily kBalancerWeightedFamily{
    kNames,
    docs_of<kNames>,
    [](const PoolArguments& a) {
        return shared(BalancerWeightedPool::create(a.numbers(0), a.numbers(1), a.number(2), a.index(3), a.index(4)));
    },
};

}  // namespace quarlen::py
