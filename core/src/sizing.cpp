#include "core/src/sizing.hpp"

#include <type_traits>

namespace quarlen {

namespace {

template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};

}  // namespace

std::string_view GuaranteeTier::name() const noexcept {
    return std::visit(Overloaded{
                          [](const ProvenOptimal&) -> std::string_view { return "ProvenOptimal"; },
                          [](const NumericallyGuaranteed&) -> std::string_view { return "NumericallyGuaranteed"; },
                          [](const EmpiricallyValidated&) -> std::string_view { return "EmpiricallyValidated"; },
                          [](const ComposedFrom&) -> std::string_view { return "ComposedFrom"; },
                      },
                      value_);
}

}  // namespace quarlen
