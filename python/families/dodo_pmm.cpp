#include "core/src/curves/dodo_pmm.hpp"
#include "python/families.hpp"

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
}  // namespace

constinit const PoolFamily kDodoPmmFamily{
    "quarlen.PyDodoPmm",
    "PyDodoPmm(base_target, quote_target, base_reserve, quote_reserve, oracle_price, k, fee_retention, "
    "is_sell_base=True)\n--\n\n",
    "dodo_optimal_size",
    "dodo_optimal_size(base_target, quote_target, base_reserve, quote_reserve, oracle_price, k, fee_retention, "
    "is_sell_base, reference_price, fixed_cost=None, max_size=None)\n--\n\n",
    kParameters,
    [](const PoolArguments& a) {
        return shared(DodoPmmPool::create(a.number(0), a.number(1), a.number(2), a.number(3), a.number(4),
                                          a.number(5), a.number(6), a.flag(7)));
    },
    // Iterative: long enough that other threads should run meanwhile.
    LockPolicy{.release_for_sizing = true, .release_for_quote = true},
};

}  // namespace quarlen::py
