#include "core/src/curves/dlmm.hpp"
#include "python/families.hpp"

namespace quarlen::py {

namespace {
constexpr Parameter kParameters[] = {
    {"bins", ParameterKind::Bins},
    {"active_bin_index", ParameterKind::Index},
    {"fee_retention"},
};
}  // namespace

constinit const PoolFamily kDlmmFamily{
    "quarlen.PyDlmmBook",
    "PyDlmmBook(bins, active_bin_index, fee_retention)\n--\n\n",
    "dlmm_optimal_size",
    "dlmm_optimal_size(bins, active_bin_index, fee_retention, reference_price, fixed_cost=None, max_size=None)\n--\n\n",
    kParameters,
    [](const PoolArguments& a) { return shared(DlmmBook::create(a.bins(0), a.index(1), a.number(2))); },
};

}  // namespace quarlen::py
