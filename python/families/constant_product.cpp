#include "python/families.hpp"
#include "python/family_docs.hpp"

#include "core/src/curves/constant_product.hpp"

namespace quarlen::py {

namespace {
constexpr Parameter kParameters[] = {{"x"}, {"y"}, {"fee_retention"}};
constexpr PoolNames kNames{"quarlen.PyCpmm", "cpmm_optimal_size", kParameters};
}  // namespace

constinit const PoolFamily kConstantProductFamily{
    kNames,
    docs_of<kNames>,
    [](const PoolArguments& a) { return shared(CpmmPool::create(a.number(0), a.number(1), a.number(2))); },
};

}  // namespace quarlen::py
