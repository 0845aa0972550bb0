#include "core/src/sizing_error.hpp"

namespace quarlen {

namespace {

template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};

void append_value(std::string& out, const DetailValue& value) {
    std::visit(Overloaded{
                   [&](const Decimal& number) {
                       char text[Decimal::kMaxTextLength];
                       out.append(text, number.format_to(text));
                   },
                   [&](std::uint64_t count) { out += std::to_string(count); },
                   [&](StaticText name) { out += name.c_str(); },
               },
               value);
}

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

std::string InvalidReserves::detail() const {
    // The pattern was checked when it was compiled: every "{}" has its value.
    std::string text;
    std::size_t next = 0;
    for (const char* at = pattern_; *at != '\0'; ++at) {
        if (at[0] == '{' && at[1] == '}') {
            append_value(text, values_[next++]);
            ++at;
        } else {
            text += *at;
        }
    }
    return text;
}

std::string_view SizingError::name() const noexcept {
    // In the order of the variant's alternatives.
    static constexpr std::string_view kNames[] = {"InvalidReserves", "DidNotConverge", "NoProfitableSize",
                                                  "NoArbitrageOpportunity"};
    static_assert(std::size(kNames) == std::variant_size_v<Variant>);
    return kNames[value_.index()];
}

std::string SizingError::to_string() const {
    std::string text(name());
    if (const auto* invalid = std::get_if<InvalidReserves>(&value_)) {
        text += " { detail: ";
        append_quoted(text, invalid->detail());
        text += " }";
    } else if (const auto* unconverged = std::get_if<DidNotConverge>(&value_)) {
        text += " { iterations_attempted: ";
        text += std::to_string(unconverged->iterations_attempted);
        text += " }";
    }
    return text;
}

}  // namespace quarlen
