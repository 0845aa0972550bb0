// Helpers shared by the Decimal tests.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "decimal/decimal.hpp"

namespace quarlen::testing {

// A Decimal from its plain text form; the tests only feed valid texts.
inline Decimal dec(std::string_view text) {
    const auto parsed = Decimal::parse(text);
    if (!parsed) throw std::invalid_argument(std::string(text) + ": " + parsed.error());
    return *parsed;
}

// The fault message of a call, or "no fault".
template <typename Call>
std::string fault_of(Call call) {
    try {
        call();
    } catch (const DecimalFault& fault) {
        return fault.what();
    }
    return "no fault";
}

}  // namespace quarlen::testing
