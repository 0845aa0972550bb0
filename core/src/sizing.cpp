#include "core/src/sizing.hpp"

#include <type_traits>

namespace quarlen {

namespace {

template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};

// Quotes a detail text the way the record display shows it: between double
// quotes, with a backslash before every double quote and backslash.
void append_quoted(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
}

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

std::string_view SizingError::name() const noexcept {
    return std::visit(Overloaded{
                          [](const InvalidReserves&) -> std::string_view { return "InvalidReserves"; },
                          [](const DidNotConverge&) -> std::string_view { return "DidNotConverge"; },
                          [](const NoProfitableSize&) -> std::string_view { return "NoProfitableSize"; },
                          [](const NoArbitrageOpportunity&) -> std::string_view { return "NoArbitrageOpportunity"; },
                      },
                      value_);
}

std::string SizingError::to_string() const {
    std::string text(name());
    std::visit(Overloaded{
                   [&](const InvalidReserves& e) {
                       text += " { detail: ";
                       append_quoted(text, e.detail);
                       text += " }";
                   },
                   [&](const DidNotConverge& e) {
                       text += " { iterations_attempted: ";
                       text += std::to_string(e.iterations_attempted);
                       text += " }";
                   },
                   [](const auto&) {},
               },
               value_);
    return text;
}

}  // namespace quarlen
