#include "python/families.hpp"
#include "python/family_docs.hpp"

#include "core/src/curves/dodo_pmm.hpp"

namespace quarlen::py {

namespace {
constexpr Parameter kParameters[] = {
    {"base_target"},
    {"quote_target"},
    {"base_reserve"},
    {"quote_reserve"},
    {"oracle_price"},
    {"k"},
    {"fee_retention"},
    {"is_sell_base", ParameterKind::Flag, nullptr, true},
};
constexpr PoolNames kNames{"quarlen.PyDodoPmm", "dodo_optimal_size", kParameters};
}  // namespace

constinit const PoolFamily kDodoPmmFamily{
    kNames,
    docs_of<kNames>,
    [](const PoolArguments& a) {
        return shared(DodoPmmPool::create(a.number(0), a.number(1), a.number(2), a.number(3), a.number(4),
                                          a.number(5), a.number(6), a.flag(7)));
    },
    // Iterative: long enough that other threads should run meanwhile.
    LockPolicy{.release_for_sizing = true, .release_for_quote = true},
};

}  // namespace quarlen::py
