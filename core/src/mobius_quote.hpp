// The quote of the pool families whose output is a Möbius map of the input.
#pragma once

#include <optional>

#include "decimal/decimal.hpp"

namespace quarlen {

// A quote of the form out = a·Δ / (b + c·Δ) (a Möbius map of the input),
// stored divided through by c: out = virtual_out·Δ / (virtual_in + Δ), the
// quote of a fee-free constant-product pool with those two reserves. A
// constant-product pool (a = f·y, b = x, c = f) is one with virtual_in = x / f
// and virtual_out = y; a single range of concentrated liquidity (the same
// with x = L / s and y = L·s) one that holds only up to `capacity`, the input
// that takes its price to the range's lower bound. Chains of such quotes are
// such quotes again, which gives a route of them a closed-form sizing.
struct MobiusQuote {
    Decimal virtual_in;               // an amount of the input asset
    Decimal virtual_out;              // an amount of the output asset
    std::optional<Decimal> capacity;  // the largest input quoted; none: no limit
};

// `second` quoting the output of `first`: again a Möbius quote, whose
// capacity is the largest input both legs take.
MobiusQuote then(const MobiusQuote& first, const MobiusQuote& second);

// The input at which the marginal rate of `quote` falls to reference_price,
// or its capacity where that comes first. Only meaningful when the spot rate
// virtual_out / virtual_in is above the price; otherwise it is not positive.
Decimal stationary_input(const MobiusQuote& quote, Decimal reference_price);

}  // namespace quarlen
