#include "python/families.hpp"
#include "python/family_docs.hpp"

#include "core/src/curves/velodrome_stable.hpp"

namespace quarlen::py {

namespace {
constexpr Parameter kParameters[] = {{"reserve_x"}, {"reserve_y"}, {"fee_retention"}};
constexpr PoolNames kNames{"quarlen.PyVelodromeStable", "velodrome_optimal_size", kParameters};
}  // namespace

constinit const PoolFamily kVelodromeStableFamily{
    kNames,
    docs_of<kNames>,
    [](const PoolArguments& a) {
        return shared(VelodromeStablePool::create(a.number(0), a.number(1), a.number(2)));
    },
    // Iterative: long enough that other threads should run meanwhile.
    LockPolicy{.release_for_sizing = true, .release_for_quote = true},
};

}  // namespace quarlen::py
