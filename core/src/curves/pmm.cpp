#include "core/src/curves/pmm.hpp"

#include <limits>

#include "core/src/checked.hpp"
#include "core/src/golden_section.hpp"
#include "core/src/validation.hpp"
#include "decimal/powers.hpp"

namespace quarlen {

namespace {

// The search narrows its bracket to about this width.
constexpr Decimal kTolerance = Decimal::from_parts(1, 6, false);  // 0.000001
// The bracket stays below this share of the reverse-regime pole...
constexpr Decimal kPoleMargin = Decimal::from_parts(999, 3, false);  // 0.999
// ...and stops growing once a trade takes this share of the quote reserve.
constexpr Decimal kCapacityMargin = Decimal::from_parts(9999, 4, false);  // 0.9999
// Doublings of the bracket after the first (201 in all).
constexpr std::uint32_t kExtraDoublings = 200;
// The unimodality check samples the bracket at kSampleIntervals + 1 points.
constexpr std::uint64_t kSampleIntervals = 200;

// Golden-section steps that shrink [0, hi] to the tolerance:
// ceil(ln(tolerance / hi) / ln(phi)), or 1 when that is below 2 (hi already
// within the tolerance) or beyond 32 bits.
std::uint32_t golden_section_steps(Decimal hi) {
    const Decimal steps = (ln(kTolerance / hi) / ln(kGoldenRatio)).ceil();
    const std::optional<std::uint64_t> count = steps.to_u64();
    if (!count || *count < 2 || *count > std::numeric_limits<std::uint32_t>::max()) return 1;
    return static_cast<std::uint32_t>(*count);
}

}  // namespace

Sized<Pmm> Pmm::create(Decimal base_reserve, Decimal quote_reserve, Decimal oracle_price, Decimal k) {
    if (const Rejection rejected = check_positive("base_reserve", base_reserve)) return *rejected;
    if (const Rejection rejected = check_positive("quote_reserve", quote_reserve)) return *rejected;
    if (const Rejection rejected = check_positive("oracle_price", oracle_price)) return *rejected;
    if (const Rejection rejected = check_positive("k", k)) return *rejected;
    return Pmm(base_reserve, quote_reserve, oracle_price, k);
}

Sized<Decimal> Pmm::quote(Decimal delta_in) const {
    if (const Rejection rejected = check_input_not_negative(delta_in)) return *rejected;
    if (delta_in.is_zero()) return ZERO;

    const Decimal reverse_in = min(delta_in, reverse_room());
    const Decimal normal_in = delta_in - reverse_in;

    // Just short of the pole the reverse output can pass the number's range:
    // it is then far beyond the quote reserve, which caps every quote.
    Checked reverse_out = ZERO;
    if (reverse_in.is_positive()) {
        const Decimal denominator = ONE - ((k_ * reverse_in) * oracle_price_);
        if (!denominator.is_positive()) return invalid("delta_in reaches the reverse-regime pole");
        reverse_out = Checked(reverse_in * oracle_price_) / denominator;
    }
    Decimal normal_out = ZERO;
    if (normal_in.is_positive()) normal_out = (normal_in * oracle_price_) / (ONE + ((k_ * normal_in) * oracle_price_));

    const Checked total = reverse_out + normal_out;
    return total ? min(*total, quote_reserve_) : quote_reserve_;
}

Decimal Pmm::reverse_room() const {
    return reverse_room_.get([this] {
        // The pool holds less base than its quote is worth at the oracle
        // price: the first `room` of base sold runs in the reverse regime.
        const Decimal base_at_oracle = quote_reserve_ / oracle_price_;
        return base_reserve_ < base_at_oracle ? base_at_oracle - base_reserve_ : ZERO;
    });
}

Decimal Pmm::search_bound() const {
    const Decimal pole = ONE / (k_ * oracle_price_);
    const Decimal cap = pole * kPoleMargin;
    const Decimal nearly_all_quote = quote_reserve_ * kCapacityMargin;
    Decimal bound = min(max(base_reserve_, ONE), cap);
    for (std::uint32_t remaining = kExtraDoublings;; --remaining) {
        const Decimal doubled = bound * TWO;
        if (doubled >= cap) {
            // The next doubling would pass the cap, but the best size can
            // still lie between the bound and the cap: reach the cap itself
            // when it quotes.
            if (quote(cap)) bound = cap;
            break;
        }
        const Sized<Decimal> out = quote(doubled);
        if (!out) break;
        bound = doubled;
        if (*out >= nearly_all_quote || remaining == 0) break;
    }
    return min(bound, cap);
}

bool Pmm::output_is_concave(Decimal lo, Decimal hi) const {
    if (hi <= lo) return true;
    const Decimal width = hi - lo;
    const Decimal intervals = Decimal::from_u64(kSampleIntervals);

    // Second differences of the outputs that quote, in sampling order, kept
    // as a running window so the check needs no buffer. A failed quote is
    // dropped and its neighbours become adjacent.
    std::uint32_t kept = 0;
    Decimal previous_out;
    Decimal previous_difference;
    bool convex_somewhere = false;
    for (std::uint64_t s = 0; s <= kSampleIntervals; ++s) {
        const Decimal x = lo + width * (Decimal::from_u64(s) / intervals);
        const Sized<Decimal> out = quote(x);
        if (!out) continue;
        if (kept >= 1) {
            const Decimal difference = *out - previous_out;
            if (kept >= 2 && (difference - previous_difference).is_positive()) convex_somewhere = true;
            previous_difference = difference;
        }
        previous_out = *out;
        ++kept;
    }
    // Concave means no sign change among the non-zero second differences and
    // none of them positive; the second condition implies the first. Fewer
    // than three outputs have no second difference and pass.
    return !convex_somewhere;
}

// The bracket, the check and the length depend on the pool alone.
const Pmm::Search& Pmm::search() const {
    return search_.get([this] {
        const Decimal bound = search_bound();
        const bool concave = output_is_concave(ZERO, bound);
        return Search{bound, concave, golden_section_steps(bound)};
    });
}

Sized<SizingResult> Pmm::optimal_size(Decimal reference_price, const SizingConstraints& constraints) const {
    if (const Rejection rejected = check_reference_price(reference_price)) return *rejected;
    // Both regimes pay the oracle price for the first unit. From there the
    // normal regime's rate only falls, so when the first unit does not pay,
    // no size does; but the reverse regime's rate rises with the size, and a
    // larger trade can pay more than the reference price even then: the
    // search decides.
    const bool first_unit_pays = reference_price < oracle_price_;
    if (!first_unit_pays && reverse_room().is_zero()) return no_arbitrage();

    const Decimal hi = search().hi;
    const std::uint32_t steps = search().steps;

    // Profit before the fixed cost; a quote that fails counts as the worst.
    const auto profit = [&](Decimal size) {
        const Sized<Decimal> out = quote(size);
        return out ? *out - (reference_price * size) : kWorstProfit;
    };

    // A fixed number of steps and no convergence test: the length was chosen
    // so that phi^steps * hi is within the tolerance.
    Decimal a = ZERO;
    Decimal b = hi;
    for (std::uint32_t step = 0; step < steps; ++step) {
        const Decimal shrink = kGoldenRatio * (b - a);
        const Decimal c = b - shrink;
        const Decimal d = a + shrink;
        const Decimal profit_c = profit(c);
        const Decimal profit_d = profit(d);
        if (profit_c > profit_d)
            b = d;
        else
            a = c;  // ties move the lower end
    }
    const Decimal size = (a + b) / TWO;
    // Where the first unit does not pay, a search that ends on no profit has
    // found no size that pays either: the same error as without the room.
    if (!first_unit_pays && !profit(size).is_positive()) return no_arbitrage();

    return settle(*this, reference_price, constraints, size, sizing_tier(), steps);
}

}  // namespace quarlen
