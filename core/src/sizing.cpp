#include "core/src/sizing.hpp"

#include <iterator>

namespace quarlen {

std::string_view GuaranteeTier::name() const noexcept {
    // In the order of the variant's alternatives.
    static constexpr std::string_view kNames[] = {"ProvenOptimal", "NumericallyGuaranteed", "EmpiricallyValidated",
                                                  "ComposedFrom"};
    static_assert(std::size(kNames) == std::variant_size_v<Variant>);
    return kNames[value_.index()];
}

}  // namespace quarlen
