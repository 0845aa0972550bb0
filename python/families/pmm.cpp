#include "core/src/curves/pmm.hpp"
#include "python/families.hpp"

namespace quarlen::py {

namespace {
constexpr Parameter kParameters[] = {{"base_reserve"}, {"quote_reserve"}, {"oracle_price"}, {"k"}};
}  // namespace

constinit const PoolFamily kPmmFamily{
    "quarlen.PyPmm",
    "PyPmm(base_reserve, quote_reserve, oracle_price, k)\n--\n\n",
    "pmm_optimal_size",
    "pmm_optimal_size(base_reserve, quote_reserve, oracle_price, k, reference_price, fixed_cost=None, "
    "max_size=None)\n--\n\n",
    kParameters,
    [](const PoolArguments& a) { return shared(Pmm::create(a.number(0), a.number(1), a.number(2), a.number(3))); },
    // Iterative: long enough that other threads should run meanwhile.
    LockPolicy{.release_for_sizing = true},
};

}  // namespace quarlen::py
