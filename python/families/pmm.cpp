#include "python/families.hpp"
#include "python/family_docs.hpp"

#include "core/src/curves/pmm.hpp"

namespace quarlen::py {

namespace {
constexpr Parameter kParameters[] = {{"base_reserve"}, {"quote_reserve"}, {"oracle_price"}, {"k"}};
constexpr PoolNames kNames{"quarlen.PyPmm", "pmm_optimal_size", kParameters};
}  // namespace

constinit const PoolFamily kPmmFamily{
    kNames,
    docs_of<kNames>,
    [](const PoolArguments& a) { return shared(Pmm::create(a.number(0), a.number(1), a.number(2), a.number(3))); },
    // Iterative: long enough that other threads should run meanwhile.
    LockPolicy{.release_for_sizing = true},
};

}  // namespace quarlen::py
