// The one error type of the core: what a validation, quote or sizing returns
// instead of a value.
//
// An error is a plain value that costs no allocation to make: an
// InvalidReserves keeps its fixed message and the values it shows, and writes
// the text only when asked. Searches try thousands of sizes and drop the
// errors of most of them, so they must not pay for texts nobody reads.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include "decimal/decimal.hpp"

namespace quarlen {

// Text that is part of the program, so that an error may keep a pointer to
// it for as long as the error lives. Only a string literal converts.
class StaticText {
public:
    template <std::size_t N>
    consteval StaticText(const char (&text)[N]) noexcept : text_(text) {}

    constexpr const char* c_str() const noexcept { return text_; }

private:
    const char* text_;
};

// A detail's fixed message: "{}" marks where each of `Values` values goes, in
// order. The message is checked when the program is compiled: exactly one
// "{}" per value and no other brace, so formatting never runs out of values.
template <std::size_t Values>
class DetailPattern {
public:
    template <std::size_t N>
    consteval DetailPattern(const char (&text)[N]) : text_(text) {
        std::size_t holes = 0;
        for (std::size_t i = 0; i + 1 < N; ++i) {
            if (text[i] == '{' && text[i + 1] == '}') {
                ++holes;
                ++i;
            } else if (text[i] == '{' || text[i] == '}') {
                throw "a detail message has a brace that is not part of {}";
            }
        }
        if (holes != Values) throw "a detail message needs exactly one {} per value";
    }

    constexpr const char* c_str() const noexcept { return text_; }

private:
    const char* text_;
};

// One value a detail shows: a number in its Decimal text form, a count or a
// position in decimal digits, or a name.
using DetailValue = std::variant<Decimal, std::uint64_t, StaticText>;

template <class T>
concept DetailArgument = std::same_as<T, Decimal> || std::same_as<T, std::uint64_t> || std::same_as<T, StaticText>;

// Any invalid parameter or intermediate value. Four values cover every
// message; the longest names a tick range, two prices and the range before.
class InvalidReserves {
public:
    static constexpr std::size_t kMaxValues = 4;

    template <DetailArgument... Values>
        requires(sizeof...(Values) <= kMaxValues)
    InvalidReserves(DetailPattern<sizeof...(Values)> pattern, Values... values) noexcept
        : pattern_(pattern.c_str()), values_{DetailValue(values)...} {}

    // The message with the values written in, e.g. "x must be > 0, got 0".
    std::string detail() const;

private:
    const char* pattern_;
    std::array<DetailValue, kMaxValues> values_;  // in the order of the pattern's "{}"
};

// An iterative procedure hit its cap.
struct DidNotConverge {
    std::uint32_t iterations_attempted;
};
// A profitable direction exists, but no admissible size is profitable.
struct NoProfitableSize {};
// The pool's rate for the smallest trades does not beat the reference price.
struct NoArbitrageOpportunity {};

class SizingError {
public:
    using Variant = std::variant<InvalidReserves, DidNotConverge, NoProfitableSize, NoArbitrageOpportunity>;

    SizingError(InvalidReserves v) noexcept : value_(v) {}
    SizingError(DidNotConverge v) noexcept : value_(v) {}
    SizingError(NoProfitableSize v) noexcept : value_(v) {}
    SizingError(NoArbitrageOpportunity v) noexcept : value_(v) {}

    const Variant& value() const noexcept { return value_; }
    // "InvalidReserves", "DidNotConverge", "NoProfitableSize" or "NoArbitrageOpportunity".
    std::string_view name() const noexcept;

    // The record display the caller sees, e.g.
    //   InvalidReserves { detail: "x must be > 0, got 0" }
    //   DidNotConverge { iterations_attempted: 255 }
    //   NoProfitableSize
    std::string to_string() const;

private:
    Variant value_;
};

// Shorthands for the errors, so a curve reads
//   return invalid("x must be > 0, got {}", x);
template <DetailArgument... Values>
    requires(sizeof...(Values) <= InvalidReserves::kMaxValues)
std::unexpected<SizingError> invalid(DetailPattern<sizeof...(Values)> pattern, Values... values) noexcept {
    return std::unexpected(SizingError(InvalidReserves(pattern, values...)));
}
inline std::unexpected<SizingError> did_not_converge(std::uint32_t iterations_attempted) noexcept {
    return std::unexpected(SizingError(DidNotConverge{iterations_attempted}));
}
inline std::unexpected<SizingError> no_profitable_size() noexcept {
    return std::unexpected(SizingError(NoProfitableSize{}));
}
inline std::unexpected<SizingError> no_arbitrage() noexcept {
    return std::unexpected(SizingError(NoArbitrageOpportunity{}));
}

}  // namespace quarlen
