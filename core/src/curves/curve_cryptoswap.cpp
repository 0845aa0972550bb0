#include "core/src/curves/curve_cryptoswap.hpp"

#include <optional>

#include "core/src/checked.hpp"
#include "core/src/golden_section.hpp"
#include "core/src/validation.hpp"

namespace quarlen {

namespace {

constexpr Decimal FOUR = Decimal::from_int(4);
constexpr Decimal QUARTER = Decimal::from_parts(25, 2, false);
// A solve has settled when its bracket is within the last two of the root's
// 28 or so digits: this share of max(|root|, 1)...
constexpr Decimal kLastTwoDigits = Decimal::from_parts(1, 26, false);
// ...or when a Newton step is within this share. The step is still taken,
// and Newton squares its error every pass, so the root is then good to the
// residual's own rounding; waiting for a smaller step instead can stall on
// that rounding, which reaches a few units in the 26th digit for trades the
// size of the pool.
constexpr Decimal kSettledStep = Decimal::from_parts(1, 24, false);
// Bisection alone halves a bracket this often before it is down to the last
// digits of any root a Decimal can hold, so a solve that needs more is lost.
constexpr std::uint32_t kSolvePasses = 200;
// The zero-size test quotes this much and compares the average rate.
constexpr Decimal kProbeSize = Decimal::from_parts(1, 3, false);
// The objective of a size whose quote fails: far below any real profit.
constexpr Decimal kFailedQuoteProfit = Decimal::from_int(-1'000'000'000);
constexpr std::uint32_t kSearchPasses = 64;

// A residual at one point, and the Newton step from there (the residual over
// its derivative) when the derivative allows one.
struct NewtonPoint {
    Decimal residual;
    std::optional<Decimal> step;
};
// What a solve ends with: the root, or the error of one that ran out of
// passes; no value when the residual or its derivative left the number's
// range at a point it had to evaluate, so that the caller can turn to a
// formulation that holds there.
using Solved = std::optional<Sized<Decimal>>;

// The root of a residual that falls across [low, high]: >= 0 at low, <= 0 at
// high. Newton from `start`, inside the bracket; every evaluation narrows the
// bracket by the residual's sign, and a step that would leave it, or that is
// more than half the step before it (Newton is not closing in there), is
// replaced by bisection. Ends when a Newton step, or the bracket, is within
// the last two digits of the root, or at the first point that `evaluate`
// gives no value for.
template <class Evaluate>
Solved solve_falling(Decimal low, Decimal high, Decimal start, const Evaluate& evaluate) {
    Decimal x = start;
    std::optional<Decimal> last_move;         // none before the first: any step inside the bracket will do
    std::optional<Decimal> last_newton_step;  // the last move, when it was a Newton step
    for (std::uint32_t pass = 1; pass <= kSolvePasses; ++pass) {
        const std::optional<NewtonPoint> evaluated = evaluate(x);
        if (!evaluated) return std::nullopt;
        const NewtonPoint& point = *evaluated;
        if (point.residual.is_zero()) return x;
        const Decimal scale = max(x.abs(), ONE);
        // Checked before the bracket: a settled step may round onto its end.
        if (point.step && point.step->abs() <= kSettledStep * scale) return x.checked_sub(*point.step).value_or(x);
        if (point.residual.is_positive())
            low = x;
        else
            high = x;
        const Decimal width = high - low;
        const Decimal tolerance = kLastTwoDigits * scale;
        if (width <= tolerance) return low + (width / TWO);

        std::optional<Decimal> next;
        if (point.step && (!last_move || point.step->abs() * TWO <= *last_move)) next = x.checked_sub(*point.step);
        if (next && low < *next && *next < high) {
            // Newton's error squares every pass (e' = C e^2); with C read off
            // this step and the one before, the error left after this step is
            // |step| (step / last step)^2. Once that is below the last two
            // digits, another pass would only confirm the root.
            if (last_newton_step) {
                const Decimal shrink = *point.step / *last_newton_step;
                if (point.step->abs() * (shrink * shrink) <= tolerance) return *next;
            }
            last_newton_step = point.step;
        } else {
            next = low + (width / TWO);
            last_newton_step.reset();
        }
        last_move = (*next - x).abs();
        x = *next;
    }
    return did_not_converge(kSolvePasses);
}

// K and its slope at one balance ratio K0, with c = gamma + 1.
struct Amplification {
    Decimal balance_ratio;  // K0
    Decimal pole_distance;  // c - K0, where K would be infinite at 0
    Decimal damping;        // gamma / (c - K0)
    Decimal gain;           // A gamma / (c - K0)^2
    Decimal value;          // K = A K0 gamma^2 / (c - K0)^2
    Decimal slope;          // K'(K0) = A gamma^2 (c + K0) / (c - K0)^3
};

Amplification amplification_at(Decimal a, Decimal gamma, Decimal gamma_plus_one, Decimal balance_ratio) {
    const Decimal pole_distance = gamma_plus_one - balance_ratio;
    const Decimal damping = gamma / pole_distance;
    const Decimal gain = (a * damping) / pole_distance;
    return Amplification{balance_ratio,
                         pole_distance,
                         damping,
                         gain,
                         ((a * balance_ratio) * damping) * damping,
                         (gain * damping) * (gamma_plus_one + balance_ratio)};
}

// Where a quote's solve starts: the hyperbola t = rate a / (1 + bend a)
// through the pool's balances with the curve's own slope and bend there, so
// that it is off only in the third order of the trade.
struct StartCurve {
    Decimal rate;
    Decimal bend;
};

// From G's partial derivatives in u = x_i / D and v = x_j / D at the pool's
// balances (s = u + v; K1 and K2 are dK/dK0 and d2K/dK0^2):
//   G_u = 4 v (s - 1) K1 + K + v,  G_uu = 16 v^2 (s - 1) K2 + 8 v K1,
//   G_uv = 16 u v (s - 1) K2 + 4 (2 s - 1) K1 + 1,
//   K2 = A gamma^2 (4 c + 2 K0) / (c - K0)^4,
// and u and v swapped for G_v and G_vv, the rate is -dv/du = G_u / G_v and
//   d2v/du2 = -(G_uu - 2 G_uv rate + G_vv rate^2) / G_v;
// the bend that matches it is d2v/du2 / (2 rate D). For a constant product
// (K = 0) this is the product's own hyperbola, rate x_j / x_i and bend 1 / x_i.
StartCurve start_curve(Decimal u, Decimal v, Decimal sum_excess, const Amplification& k, Decimal gamma_plus_one,
                       Decimal d) {
    const Decimal g_u = (((FOUR * v) * sum_excess) * k.slope) + k.value + v;
    const Decimal g_v = (((FOUR * u) * sum_excess) * k.slope) + k.value + u;
    const Decimal rate = g_u / g_v;
    // The bend only saves passes; where its arithmetic leaves the range (a
    // gamma so small that (c - K0)^4 vanishes) the start is the tangent.
    const Checked four = FOUR;
    const Checked two = TWO;
    const Checked k2 =
        ((Checked(k.gain) * k.damping) / k.pole_distance) * ((four * gamma_plus_one) + (two * k.balance_ratio));
    const Checked sixteen_k2 = (four * FOUR) * (Checked(sum_excess) * k2);
    const Checked g_uu = ((sixteen_k2 * v) * v) + ((two * FOUR) * (Checked(v) * k.slope));
    const Checked g_vv = ((sixteen_k2 * u) * u) + ((two * FOUR) * (Checked(u) * k.slope));
    const Checked g_uv = ((sixteen_k2 * u) * v) + ((four * ((two * sum_excess) + ONE)) * k.slope) + ONE;
    const Checked curvature = -((g_uu - ((two * g_uv) * rate)) + ((g_vv * rate) * rate)) / g_v;
    const Checked bend = curvature / ((two * rate) * d);
    return StartCurve{rate, bend ? *bend : ZERO};
}

}  // namespace

Sized<CryptoSwapPool> CryptoSwapPool::create(Decimal balance_0, Decimal balance_1, Decimal amplification_a,
                                             Decimal gamma, Decimal fee_retention, std::uint64_t input_index) {
    if (!balance_0.is_positive() || !balance_1.is_positive())
        return invalid("balances must be > 0, got [{}, {}]", balance_0, balance_1);
    if (const Rejection rejected = check_positive("amplification_a", amplification_a)) return *rejected;
    if (const Rejection rejected = check_positive("gamma", gamma)) return *rejected;
    if (const Rejection rejected = check_fee_retention(fee_retention)) return *rejected;
    if (input_index >= 2) return invalid("input_index must be 0 or 1, got {}", input_index);
    return CryptoSwapPool({balance_0, balance_1}, amplification_a, gamma, fee_retention, input_index);
}

CryptoSwapPool::Outcome CryptoSwapPool::solve_outcome() const {
    // Building the pool never fails once its parameters are valid: a pool
    // too large for the arithmetic faults on its first quote instead.
    try {
        Sized<Curve> solved = solve_curve();
        if (!solved) return std::move(solved.error());
        return *solved;
    } catch (const DecimalFault& fault) {
        return fault;
    }
}

// Every term is kept as a ratio to D, never as D^2 or a product of balances,
// so nothing overflows while x0 + x1 itself fits, and nothing is a tiny
// ratio that would lose digits at 28 places. In those terms, with
// u = x0 / D, v = x1 / D, s = u + v, c = gamma + 1:
//
//   K0 = 4 u v,  K = A K0 gamma^2 / (c - K0)^2,
//   G(D) = (invariant's left - right) / D^2 = K (s - 1) - (1 - K0) / 4,
//   D G'(D) = -(2 K0 W + K s),  W = (s - 1) K'(K0) + 1/4,
//   K'(k) = dK/dK0 = A gamma^2 (c + k) / (c - k)^3.
//
// G >= 0 at D = 2 sqrt(x0 x1) (there K0 = 1, K = A and G = A (s - 1)) and
// G <= 0 at D = x0 + x1 (there G = -(1 - K0) / 4), and it falls all the way
// between, so the root is unique. Newton steps by D (G / (D G')).
Sized<CryptoSwapPool::Curve> CryptoSwapPool::solve_curve() const {
    const Decimal x0 = balances_[0];
    const Decimal x1 = balances_[1];
    const Decimal sum = x0 + x1;
    const Decimal gamma_plus_one = gamma_ + ONE;
    // Both balances are positive, so both roots exist; taken apart so the
    // product of two large balances never has to be formed.
    const Decimal geometric_sum = (TWO * *x0.sqrt()) * *x1.sqrt();

    const auto amplification_for = [&](Decimal d) {
        return amplification_at(amplification_a_, gamma_, gamma_plus_one, (FOUR * (x0 / d)) * (x1 / d));
    };

    // At the ends the residual is A (s - 1) (low: K0 = 1, so K = A) and
    // -(1 - K0) / 4 (high: s = 1). Their chord starts Newton near the root
    // both when A makes the curve almost a constant sum (the root near x0 +
    // x1) and when it is almost a constant product. A zero at the high end
    // means equal balances, whose invariant is exactly their sum.
    const Decimal rise_at_low = amplification_a_ * ((sum - geometric_sum) / geometric_sum);
    const Decimal fall_at_high = (ONE - ((FOUR * (x0 / sum)) * (x1 / sum))) / FOUR;
    const Decimal start = fall_at_high.is_zero()
                              ? sum
                              : geometric_sum + ((sum - geometric_sum) * (rise_at_low / (rise_at_low + fall_at_high)));

    // The residual uses the plain operators, so every point evaluates (or
    // faults) and the solve always ends with an outcome.
    const Sized<Decimal> solved = *solve_falling(geometric_sum, sum, start, [&](Decimal d) {
        const Amplification k = amplification_for(d);
        const Decimal sum_excess = (sum - d) / d;
        const Decimal residual = (k.value * sum_excess) - ((ONE - k.balance_ratio) / FOUR);
        const Decimal w = (sum_excess * k.slope) + QUARTER;
        const Decimal scaled_slope = -(((TWO * k.balance_ratio) * w) + (k.value * (sum_excess + ONE)));
        const std::optional<Decimal> ratio = residual.checked_div(scaled_slope);
        return NewtonPoint{residual, ratio ? d.checked_mul(*ratio) : std::nullopt};
    });
    if (!solved) return std::unexpected(solved.error());
    const Decimal d = *solved;
    // The bracket keeps D positive; kept as a guard, since no quote can be
    // read off a D that is not.
    if (const Rejection rejected = check_positive("invariant D", d)) return *rejected;

    const Amplification k = amplification_for(d);
    const Decimal sum_excess = (sum - d) / d;
    const Decimal share_in = balance_in() / d;
    const Decimal share_out = balance_out() / d;
    const StartCurve quote_start = start_curve(share_in, share_out, sum_excess, k, gamma_plus_one, d);
    return Curve{d,
                 sum - d,
                 share_out,
                 k.balance_ratio,
                 k.pole_distance,
                 k.value,
                 k.gain,
                 sum_excess,
                 gamma_plus_one,
                 gamma_plus_one * gamma_plus_one,
                 quote_start.rate,
                 quote_start.bend};
}

Sized<const CryptoSwapPool::Curve*> CryptoSwapPool::curve() const {
    if (const auto* fault = std::get_if<DecimalFault>(&outcome_)) throw *fault;
    if (const auto* error = std::get_if<SizingError>(&outcome_)) return std::unexpected(*error);
    return &std::get<Curve>(outcome_);
}

Sized<Decimal> CryptoSwapPool::invariant() const {
    const Sized<const Curve*> solved = curve();
    if (!solved) return std::unexpected(solved.error());
    return (*solved)->invariant;
}

// The output t leaves the balances at x' = x_i + a and y = x_j - t on the
// same D. Solved for t itself, as the change of the invariant's residual
// from the pool's own balances, so a small trade on a large pool keeps all
// its digits instead of being the difference of two large balances:
//
//   N(t) = (x' y - x_i x_j) / D = a (x_j / D) - t (x' / D)
//   K0(t) = K0 + 4 N / D,  s(t) - 1 = (s - 1) + (a - t) / D
//   R(t) = D (G(x', y) - G(x_i, x_j))
//        = D (K(t) - K) (s - 1) + K(t) (a - t) + N(t),
//   D (K(t) - K) = A gamma^2 4 N (c^2 - K0 K0(t)) / ((c - K0)^2 (c - K0(t))^2)
//
// (the difference of k / (c - k)^2 taken exactly; and K(t) rather than K
// multiplies a - t, so that for a trade the size of the pool, which takes K
// far from its value at balance, no two large terms cancel), and
//
//   R'(t) = -(4 (x' / D) W(t) + K(t)),  W(t) = (s(t) - 1) K'(K0(t)) + 1/4.
//
// R falls in t, and the root lies where K0(t) <= 1 (y <= D^2 / 4x', else D
// would be below 2 sqrt(x' y)) and s(t) >= 1 (y >= D - x', else D would be
// above x' + y): between them the invariant holds a root and no pole.
Sized<Decimal> CryptoSwapPool::output_for(const Curve& c, Decimal added) const {
    const Decimal d = c.invariant;
    const Decimal new_in = balance_in() + added;
    const Decimal share_new = new_in / d;
    const Decimal out_before = balance_out();

    const Decimal high = min(out_before, c.excess + added);
    const Decimal low = min(max(out_before - (d / (FOUR * share_new)), ZERO), high);
    // The hyperbola with the curve's own slope and bend, close for all but
    // large trades. Where it falls outside the bracket, the constant product
    // through the balances, which the curve nears far from balance; it lies
    // above the low end, whose neighbourhood is where the curve bends
    // hardest when gamma is small.
    const auto inside = [&](Decimal t) { return low < t && t < high; };
    Decimal start = (added * c.start_rate) / (ONE + (added * c.start_bend));
    if (!inside(start)) start = added * (out_before / new_in);
    if (!inside(start)) start = low + ((high - low) / TWO);

    const Decimal added_share = added * c.share_out;
    const Decimal four_share_new = FOUR * share_new;
    const Checked pole_rate = Checked(four_share_new) / d;  // dz/dt for z = c - K0(t)
    const Solved solved = solve_falling(low, high, start, [&](Decimal out) -> std::optional<NewtonPoint> {
        const Checked t = out;
        const Checked net_in = added - t;
        const Checked product_change = added_share - (t * share_new);   // N(t)
        const Checked four_product_change = FOUR * product_change;
        const Checked ratio_change = four_product_change / d;
        const Checked balance_ratio = c.balance_ratio + ratio_change;   // K0(t)
        const Checked pole_distance = c.pole_distance - ratio_change;   // z = c - K0(t)
        const Checked damping = gamma_ / pole_distance;
        const Checked damped_gain = damping / pole_distance;            // gamma / z^2
        // The small factor c^2 - K0 K0(t) (at least about 2 gamma) first, so
        // that gamma's two large reciprocals never meet unreduced.
        const Checked amplification_change =                            // D (K(t) - K)
            ((c.pole_gain * (c.gamma_plus_one_squared - (c.balance_ratio * balance_ratio))) * damped_gain) *
            four_product_change;
        const Checked amplification = c.amplification + (amplification_change / d);  // K(t)
        const Checked residual =
            ((amplification_change * c.sum_excess) + (amplification * net_in)) + product_change;

        const Checked sum_excess = c.sum_excess + (net_in / d);
        const Checked slope =
            ((amplification_a_ * damping) * damped_gain) * (c.gamma_plus_one + balance_ratio);  // K'(K0(t))
        const Checked w = (sum_excess * slope) + QUARTER;
        const Checked derivative = -((four_share_new * w) + amplification);
        // Newton runs on z^2 R(t), which has R's root and sign: multiplying
        // out the pole of K leaves a cubic in t, whose steps neither creep
        // nor overshoot near the pole the way R's own do when gamma is
        // small. Its step is R / (R' + 2 R z' / z).
        const Checked pole_derivative = derivative + (((TWO * residual) * pole_rate) / pole_distance);
        if (!residual || !pole_derivative) return std::nullopt;
        return NewtonPoint{*residual, residual->checked_div(*pole_derivative)};
    });
    if (solved) return *solved;
    // R' grows as (x' / D)^2 K'(K0(t)). For a trade many orders of magnitude
    // larger than the pool (x' / D from 10^9 with A = 10^4 and gamma = 10^-6,
    // from 10^13 to 10^20 for most pools) it passes the number's range, most
    // of all where K0(t) nears 1. Wherever this solve's arithmetic fits, its
    // answer stands; where it does not, the trade takes nearly all of x_j,
    // and the tiny balance it leaves is solved for instead.
    const Sized<Decimal> left = balance_left(c, share_new);
    if (!left) return std::unexpected(left.error());
    return min(max(out_before - *left, low), high);
}

// The balance y = x_j - t that an output leaves, solved through
// k = K0 after the trade = 4 u' (y / D), with u' = x' / D:
//
//   G(k) = K(k) (s - 1) - (1 - k) / 4,  s - 1 = u' - 1 + k / (4 u'),
//   G'(k) = K'(k) (s - 1) + K(k) / (4 u') + 1/4,
//
// on the bracket of the output's solve, from k = 4 u' max(1 - u', 0)
// (s = 1) to min(4 u' x_j / D, 1) (y = x_j, or K0 = 1). G' >= 1/4 there,
// since s >= 1, and every term of G is bounded, K by A and s - 1 by u',
// where the output's own derivative grows as u'^2. Then y = k D / (4 u').
// For a small trade y would be the difference of two balances; this form
// serves trades so large that the output's own solve fails, which leave a
// y tiny against x_j, so that x_j - y keeps every digit.
Sized<Decimal> CryptoSwapPool::balance_left(const Curve& c, Decimal share_new) const {
    const Decimal four_share_new = FOUR * share_new;
    const Decimal lowest = share_new < ONE ? four_share_new * (ONE - share_new) : ZERO;
    const Decimal highest = min(four_share_new * c.share_out, ONE);
    // Where k is small, K(k) is near A k gamma^2 / c^2, and K (s - 1) = 1/4
    // puts the root near c^2 / (4 A gamma^2 u').
    const Checked near_root =
        (c.gamma_plus_one_squared / ((Checked(four_share_new) * amplification_a_) * gamma_)) / gamma_;
    const Decimal start =
        near_root && lowest < *near_root && *near_root < highest ? *near_root : lowest + ((highest - lowest) / TWO);
    const Solved solved = solve_falling(lowest, highest, start, [&](Decimal k) {
        const Decimal pole_distance = c.gamma_plus_one - k;
        const Decimal damping = gamma_ / pole_distance;
        const Decimal sum_excess = (share_new - ONE) + (k / four_share_new);  // s - 1
        // A k (s - 1) first: near the root it is about c^2 / (4 gamma^2), and
        // the two dampings after it keep all its digits.
        const Decimal spread_amplification = (((amplification_a_ * k) * sum_excess) * damping) * damping;
        const Decimal amplification = ((amplification_a_ * k) * damping) * damping;  // K(k)
        const Checked spread_slope =                                                // K'(k) (s - 1)
            ((((Checked(amplification_a_) * sum_excess) * damping) * damping) * (c.gamma_plus_one + k)) /
            pole_distance;
        const Checked slope = (spread_slope + (amplification / four_share_new)) + QUARTER;  // G'(k)
        const Decimal falling = ((ONE - k) / FOUR) - spread_amplification;               // -G(k)
        const Checked step = falling / -slope;
        return NewtonPoint{falling, step ? std::optional<Decimal>(*step) : std::nullopt};
    });
    // Every point evaluates here too, so the solve has an outcome.
    if (!*solved) return std::unexpected(solved->error());
    return (**solved * c.invariant) / four_share_new;
}

Sized<Decimal> CryptoSwapPool::spot_rate() const {
    const Sized<const Curve*> solved = curve();
    if (!solved) return std::unexpected(solved.error());
    return (*solved)->start_rate * fee_retention_;
}

Sized<Decimal> CryptoSwapPool::quote(Decimal delta_in) const {
    if (const Rejection rejected = check_input_not_negative(delta_in)) return *rejected;
    if (delta_in.is_zero()) return ZERO;
    const Sized<const Curve*> solved = curve();
    if (!solved) return std::unexpected(solved.error());
    return output_for(**solved, delta_in * fee_retention_);
}

Decimal CryptoSwapPool::profit_at(Decimal reference_price, Decimal size) const {
    const Sized<Decimal> out = quote(size);
    if (!out) return kFailedQuoteProfit;
    return *out - (reference_price * size);
}

Sized<SizingResult> CryptoSwapPool::optimal_size(Decimal reference_price, const SizingConstraints& constraints) const {
    if (const Rejection rejected = check_reference_price(reference_price)) return *rejected;

    // A small probe's average rate stands in for the marginal rate at zero.
    const Sized<Decimal>& probe = probe_.get([this] { return quote(kProbeSize); });
    if (!probe) return std::unexpected(probe.error());
    if ((*probe / kProbeSize) <= reference_price) return no_arbitrage();

    Decimal upper = balance_in() * TWO;
    if (constraints.max_size) upper = min(*constraints.max_size, upper);

    // Golden-section search of fixed length for the largest profit on [0, upper].
    const GoldenSection search = golden_section_search(
        ZERO, upper, TieMoves::upper_end, [&](Decimal size) { return profit_at(reference_price, size); },
        kSearchPasses);

    // Every quote here solved both the invariant and the output to their
    // tolerance; a solve that fails to is an error, never a number.
    return settle(*this, reference_price, constraints, search.midpoint(), sizing_tier(), kSearchPasses);
}

}  // namespace quarlen
