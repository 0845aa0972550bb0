// Proactive market maker around an oracle price i, with curvature k and no
// fee: a trade sells base into the pool and takes quote out. While the pool
// holds less base than its quote is worth at the oracle price, the first part
// of a trade runs in the reverse regime, whose rate improves with size up to
// a pole; the rest runs in the normal regime, whose rate falls with size.
//
// The sizing is a golden-section search of a length fixed in advance over a
// bracket found by doubling. The profit need not be unimodal there, so the
// result is EmpiricallyValidated with the outcome of a sampled check.
#pragma once

#include <cstdint>

#include "core/src/computed_once.hpp"
#include "core/src/sizing.hpp"

namespace quarlen {

class Pmm {
public:
    // Checks base_reserve, quote_reserve, oracle_price and k > 0, in that order.
    static Sized<Pmm> create(Decimal base_reserve, Decimal quote_reserve, Decimal oracle_price, Decimal k);

    // Quote paid for delta_in >= 0 of base; never more than quote_reserve.
    Sized<Decimal> quote(Decimal delta_in) const;
    Sized<SizingResult> optimal_size(Decimal reference_price, const SizingConstraints& constraints) const;

    // The oracle price: both regimes pay it for the first unit, and there is no fee.
    Decimal spot_rate() const { return oracle_price_; }
    Decimal typical_input() const { return base_reserve_; }
    // Its sizings report whether the output sampled over their bracket was
    // found nowhere convex.
    GuaranteeTier sizing_tier() const { return EmpiricallyValidated{search().unimodal}; }

    // The upper end of the search bracket [0, hi]: doubled from
    // min(max(B, 1), cap) while it stays below the cap (0.999 of the pole)
    // and the quote has not taken practically all of the quote reserve; a
    // doubling that would reach the cap gives the cap itself, if it quotes.
    Decimal search_bound() const;
    // True when the output sampled at 201 evenly spaced points of [lo, hi]
    // is nowhere convex, so that the profit is unimodal there.
    bool output_is_concave(Decimal lo, Decimal hi) const;

    Decimal base_reserve() const noexcept { return base_reserve_; }
    Decimal quote_reserve() const noexcept { return quote_reserve_; }
    Decimal oracle_price() const noexcept { return oracle_price_; }
    Decimal k() const noexcept { return k_; }

private:
    Pmm(Decimal base_reserve, Decimal quote_reserve, Decimal oracle_price, Decimal k)
        : base_reserve_(base_reserve), quote_reserve_(quote_reserve), oracle_price_(oracle_price), k_(k) {}

    // What the search does not owe to the reference price: the bracket, the
    // outcome of the concavity check on it and the number of steps.
    struct Search {
        Decimal hi;
        bool unimodal;
        std::uint32_t steps;
    };

    // How much base a trade sells in the reverse regime before the normal
    // one: max(Q / i - B, 0).
    Decimal reverse_room() const;
    // The search's bracket, check and length, worked out once.
    const Search& search() const;

    Decimal base_reserve_;   // B
    Decimal quote_reserve_;  // Q
    Decimal oracle_price_;   // i, quote per base
    Decimal k_;              // curvature
    ComputedOnce<Decimal> reverse_room_;
    ComputedOnce<Search> search_;
};

}  // namespace quarlen
