// The vocabulary every curve answers in: the caller's constraints, a sizing
// result with its guarantee tier, and Sized, a value or the core's
// SizingError (sizing_error.hpp).
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "core/src/sizing_error.hpp"
#include "decimal/decimal.hpp"

namespace quarlen {

// What the caller imposes on a sizing. Never validated: a negative fixed cost
// or a non-positive max_size is computed with as given.
struct SizingConstraints {
    std::optional<Decimal> max_size;  // absent: no upper bound on the input
    Decimal fixed_cost = ZERO;        // charged once against the profit
};

// ---- guarantee tier -------------------------------------------------------

class GuaranteeTier;

struct ProvenOptimal {};
struct NumericallyGuaranteed {
    bool convergence_conditions_met;
};
struct EmpiricallyValidated {
    bool unimodality_confirmed;
};
struct ComposedFrom {
    std::vector<GuaranteeTier> legs;
};

// How strongly a size is known to be optimal, with its evidence.
class GuaranteeTier {
public:
    using Variant = std::variant<ProvenOptimal, NumericallyGuaranteed, EmpiricallyValidated, ComposedFrom>;

    GuaranteeTier(ProvenOptimal v) : value_(v) {}
    GuaranteeTier(NumericallyGuaranteed v) : value_(v) {}
    GuaranteeTier(EmpiricallyValidated v) : value_(v) {}
    GuaranteeTier(ComposedFrom v) : value_(std::move(v)) {}

    // "ProvenOptimal", "NumericallyGuaranteed", "EmpiricallyValidated" or "ComposedFrom".
    std::string_view name() const noexcept;
    const Variant& value() const noexcept { return value_; }

private:
    Variant value_;
};

// ---- results --------------------------------------------------------------

struct SizingResult {
    GuaranteeTier guarantee_tier;
    std::optional<std::uint32_t> iterations;  // absent for closed forms
    Decimal optimal_delta;                    // chosen size, after max_size
    Decimal expected_profit;                  // profit at it, net of fixed_cost
};

// Every fallible core operation returns its value or a SizingError.
template <class T>
using Sized = std::expected<T, SizingError>;

// "<message><value>" for a plain-text message that ends in "got {}".
inline std::string got(std::string_view message, Decimal value) {
    std::string text(message);
    text += value.to_string();
    return text;
}

// The last steps every curve shares once it has its unconstrained size:
// cap it by max_size (the computed size on a tie), reject a size that is not
// positive, quote it, and charge (out - price * size) - fixed_cost, in that
// order. A quote error is returned unchanged; a profit that is not positive is
// NoProfitableSize. `quote` is any callable Decimal -> Sized<Decimal>, so a
// curve can quote with state it computed once for the whole sizing.
template <class Quote>
    requires std::is_invocable_r_v<Sized<Decimal>, const Quote&, Decimal>
Sized<SizingResult> settle(const Quote& quote, Decimal reference_price, const SizingConstraints& constraints,
                           Decimal unconstrained_size, GuaranteeTier tier,
                           std::optional<std::uint32_t> iterations) {
    Decimal size = unconstrained_size;
    if (constraints.max_size) size = min(size, *constraints.max_size);
    if (!size.is_positive()) return no_profitable_size();
    const Sized<Decimal> out = quote(size);
    if (!out) return std::unexpected(out.error());
    const Decimal profit = (*out - reference_price * size) - constraints.fixed_cost;
    if (!profit.is_positive()) return no_profitable_size();
    // Built in place: GCC 12 misreads a move of the tier into the result as a
    // read of uninitialised memory.
    return Sized<SizingResult>(std::in_place, std::move(tier), iterations, size, profit);
}

// The same, quoting with the pool's own quote.
template <class Pool>
    requires(!std::is_invocable_v<const Pool&, Decimal>)
Sized<SizingResult> settle(const Pool& pool, Decimal reference_price, const SizingConstraints& constraints,
                           Decimal unconstrained_size, GuaranteeTier tier,
                           std::optional<std::uint32_t> iterations) {
    return settle([&pool](Decimal size) { return pool.quote(size); }, reference_price, constraints,
                  unconstrained_size, std::move(tier), iterations);
}

}  // namespace quarlen
