#include "core/src/curves/velodrome_stable.hpp"
#include "python/families.hpp"

namespace quarlen::py {

namespace {
constexpr Parameter kParameters[] = {{"reserve_x"}, {"reserve_y"}, {"fee_retention"}};
}  // namespace

constinit const PoolFamily kVelodromeStableFamily{
    "quarlen.PyVelodromeStable",
    "PyVelodromeStable(reserve_x, reserve_y, fee_retention)\n--\n\n",
    "velodrome_optimal_size",
    "velodrome_optimal_size(reserve_x, reserve_y, fee_retention, reference_price, fixed_cost=None, "
    "max_size=None)\n--\n\n",
    kParameters,
    [](const PoolArguments& a) {
        return shared(VelodromeStablePool::create(a.number(0), a.number(1), a.number(2)));
    },
    // Iterative: long enough that other threads should run meanwhile.
    LockPolicy{.release_for_sizing = true, .release_for_quote = true},
};

}  // namespace quarlen::py
