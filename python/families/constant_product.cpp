#include "core/src/curves/constant_product.hpp"
#include "python/families.hpp"

namespace quarlen::py {

namespace {
constexpr Parameter kParameters[] = {{"x"}, {"y"}, {"fee_retention"}};
}  // namespace

constinit const PoolFamily kConstantProductFamily{
    "quarlen.PyCpmm",
    "PyCpmm(x, y, fee_retention)\n--\n\n",
    "cpmm_optimal_size",
    "cpmm_optimal_size(x, y, fee_retention, reference_price, fixed_cost=None, max_size=None)\n--\n\n",
    kParameters,
    [](const PoolArguments& a) { return shared(CpmmPool::create(a.number(0), a.number(1), a.number(2))); },
};

}  // namespace quarlen::py
