"""Reference models of the nine pool families, computed with mpmath at 50
significant digits.

Each model is written from its curve's mathematics, not from the module's
code: the tests hold the module to these models, so a wrong curve shows up
as well as a wrong rounding.  A model takes the same arguments as the
module's pool class (``Cpmm(x, y, fee_retention)`` like ``PyCpmm``), and
offers

    quote(delta)            the output for an input of ``delta``
    spot_rate()             the marginal output per unit of input at zero
                            size, fee included
    gross_profit(P, delta)  quote(delta) - P * delta
    capacity()              the largest input the pool can quote, or None
    best(P, max_size=None)  (size, profit): the largest gross profit over the
                            sizes the pool admits, and the size that gives it
    concave                 whether the output is concave in the input, so
                            that no price at or above spot_rate() pays

Numbers go in as anything whose ``str()`` is a decimal number (Decimal, int,
str) and come out as ``decimal.Decimal`` of 50 significant digits, so models
chain: one model's quote can be the next one's input, as along a route.  The
precision is raised only inside each call (``mp.workdps``), never globally.

Where a profit's supremum is only approached as the size falls to zero (a
DODO pool whose output side holds more than its curve implies pays that
excess on the first unit), ``best`` reports size 0 with that supremum.
"""

from __future__ import annotations

from collections.abc import Callable, Mapping, Sequence
from decimal import Decimal
from typing import Any

from mpmath import mp, mpf  # type: ignore[import-untyped]

DIGITS = 50

# An mpmath number; mpmath carries no type information.
Real = Any
Number = Decimal | int | str


def _real(value: Number) -> Real:
    """value as an mpmath number; only call it inside mp.workdps, or the
    text is read at the default 15 digits."""
    return mpf(str(value))


def _decimal(value: Real) -> Decimal:
    return Decimal(mp.nstr(value, DIGITS))


def _root(g: Callable[[Real], Real], lo: Real, hi: Real, relative: Real | None = None) -> Real:
    """A zero of g between lo and hi, where g changes sign (or is zero at an
    end).  Regula falsi with the Anderson-Björck scaling of the end that
    stays, which converges superlinearly, and a bisection whenever eight
    steps have not halved the bracket.  It stops when two successive
    estimates, or the bracket's ends, agree to `relative` (by default all
    but the last three digits of the working precision), or when the next
    step would not change the last digit."""
    if relative is None:
        relative = mpf(10) ** (3 - mp.dps)
    g_lo, g_hi = g(lo), g(hi)
    if g_lo == 0:
        return lo
    if g_hi == 0:
        return hi
    if (g_lo > 0) == (g_hi > 0):
        # A bracket this narrow is within the rounding of g's own terms.
        if hi - lo <= mpf(10) ** -20 * max(abs(lo), abs(hi)):
            return (lo + hi) / 2
        raise ArithmeticError(f"no sign change between {lo} and {hi}")
    last_side, previous, width = 0, None, hi - lo
    for step in range(1, 1000):
        x = hi - g_hi * (hi - lo) / (g_hi - g_lo)
        if not lo < x < hi:
            # The step is below the last digit: the end it rounds to is
            # as close to the zero as the precision can tell.
            return lo if abs(g_lo) < abs(g_hi) else hi
        if step % 8 == 0:
            if hi - lo > width / 2:
                x = (lo + hi) / 2
            width = hi - lo
        g_x = g(x)
        if g_x == 0:
            return x
        # The end that stays is scaled down when the same end moves twice.
        if (g_x > 0) == (g_lo > 0):
            if last_side < 0:
                scale = 1 - g_x / g_lo
                g_hi *= scale if scale > 0 else mpf(0.5)
            lo, g_lo, last_side = x, g_x, -1
        else:
            if last_side > 0:
                scale = 1 - g_x / g_hi
                g_lo *= scale if scale > 0 else mpf(0.5)
            hi, g_hi, last_side = x, g_x, 1
        if previous is not None and abs(x - previous) <= relative * abs(x):
            return x
        if hi - lo <= relative * max(abs(lo), abs(hi)):
            return (lo + hi) / 2
        previous = x
    raise ArithmeticError("root search did not converge")


class Model:
    """What every family's model offers; see the module docstring."""

    concave = True
    # Sizes at or above this are not admitted (the pool cannot quote them).
    _capacity: Real = mp.inf

    def quote(self, delta: Number) -> Decimal:
        """The output for an input of `delta`; ValueError past capacity()."""
        with mp.workdps(DIGITS):
            return _decimal(self._quote(_real(delta)))

    def spot_rate(self) -> Decimal:
        """The marginal output per unit of input at zero size, fee included."""
        with mp.workdps(DIGITS):
            return _decimal(self._spot())

    def capacity(self) -> Decimal | None:
        """The largest input the pool can quote, or None for no limit."""
        with mp.workdps(DIGITS):
            if self._capacity == mp.inf:
                return None
            # A hair below, so that the text's rounding cannot carry it past.
            return _decimal(self._capacity * (1 - mpf(10) ** (2 - DIGITS)))

    def gross_profit(self, price: Number, delta: Number) -> Decimal:
        """quote(delta) - price * delta."""
        with mp.workdps(DIGITS):
            size = _real(delta)
            return _decimal(self._quote(size) - _real(price) * size)

    def best(self, price: Number, max_size: Number | None = None) -> tuple[Decimal, Decimal]:
        """(size, profit): the largest gross profit over the sizes from 0 to
        capacity() and max_size, and the smallest size that gives it."""
        with mp.workdps(DIGITS):
            p = _real(price)
            limit = self._capacity if max_size is None else min(_real(max_size), self._capacity)
            found = [(mpf(0), mpf(0))]
            if limit > 0:
                found += [(size, value) for size, value in self._candidates(p, limit) if 0 <= size <= limit]
            # The largest profit; among equal ones the smallest size.
            size, value = max(found, key=lambda pair: (pair[1], -pair[0]))
            return _decimal(size), _decimal(value)

    def _profit(self, price: Real, size: Real) -> tuple[Real, Real]:
        return size, self._quote(size) - price * size

    # Each family supplies these.
    def _quote(self, delta: Real) -> Real:
        raise NotImplementedError

    def _spot(self) -> Real:
        raise NotImplementedError

    def _candidates(self, price: Real, limit: Real) -> list[tuple[Real, Real]]:
        """(size, profit) pairs among which the best admissible one lies:
        the ends of every piece on which the profit is not concave, and the
        stationary point of every concave piece, clipped to `limit`."""
        raise NotImplementedError


class _SmoothConcave(Model):
    """A curve whose output is smooth and concave in the input, with no
    closed-form optimum: the profit's derivative, marginal(d) - P, falls
    through zero once, found by doubling a bracket and then a root search."""

    # A size small against the pool, where the doubling starts.
    _first_probe: Real

    def _marginal(self, delta: Real) -> Real:
        raise NotImplementedError

    def _spot(self) -> Real:
        return self._marginal(mpf(0))

    def _candidates(self, price: Real, limit: Real) -> list[tuple[Real, Real]]:
        if self._spot() <= price:
            return []
        low, high = mpf(0), self._first_probe
        while high < limit and self._marginal(high) > price:
            low, high = high, high * 4
        if high >= limit:
            if self._marginal(limit) >= price:
                return [self._profit(price, limit)]
            high = limit
        # The profit is flat at its peak, so 25 digits of the size give the
        # profit to the full precision.
        size = _root(lambda d: self._marginal(d) - price, low, high, relative=mpf(10) ** -25)
        return [self._profit(price, size)]


class Cpmm(Model):
    """Constant product: out = y·f·Δ / (x + f·Δ)."""

    def __init__(self, x: Number, y: Number, fee_retention: Number) -> None:
        with mp.workdps(DIGITS):
            self.x, self.y, self.f = _real(x), _real(y), _real(fee_retention)

    def _quote(self, delta: Real) -> Real:
        return self.y * self.f * delta / (self.x + self.f * delta)

    def _spot(self) -> Real:
        return self.f * self.y / self.x

    def _candidates(self, price: Real, limit: Real) -> list[tuple[Real, Real]]:
        # Where the marginal rate f·x·y / (x + f·d)² equals the price.
        stationary = (mp.sqrt(self.x * self.y * self.f / price) - self.x) / self.f
        return [self._profit(price, min(max(stationary, 0), limit))]


class StableSwap(_SmoothConcave):
    """n coins, amplification A, coin 0 in and coin 1 out, the fee taken
    from the output.  With Ann = A·nⁿ the invariant is

        Ann·S + D = Ann·D + D^(n+1) / (nⁿ·Πx)

    D comes from the pool's balances; after a trade coin 0 holds x0 + Δ and
    coin 1 the balance y that keeps D, and out = f·(x1 − y)."""

    def __init__(self, reserves: Sequence[Number], amplification: Number, fee_retention: Number) -> None:
        with mp.workdps(DIGITS):
            self.x = [_real(r) for r in reserves]
            self.f = _real(fee_retention)
            n = len(self.x)
            self.n_pow_n = mpf(n) ** n
            self.ann = _real(amplification) * self.n_pow_n
            total, product = mp.fsum(self.x), mp.fprod(self.x)

            # Falls from Ann·S > 0 at D = 0 to S - S^(n+1)/(nⁿ·Πx) <= 0 at
            # D = S (the arithmetic mean is at least the geometric one, and
            # equal to it for equal balances, where rounding may leave the
            # residual a hair above zero).
            def residual(d: Real) -> Real:
                return self.ann * total + d - self.ann * d - d ** (n + 1) / (self.n_pow_n * product)

            self.d = total if residual(total) >= 0 else _root(residual, mpf(0), total)
            self.others = self.x[2:]
            self._first_probe = self.x[0] / 1000

    def _balance(self, delta: Real) -> tuple[Real, Real]:
        """(x0 + Δ, y): with every balance but y fixed the invariant is the
        quadratic Ann·y² + β·y − γ = 0 in y, with β = Ann·(S' − D) + D and
        γ = D^(n+1) / (nⁿ·Π'), S' and Π' the sum and product of the other
        balances.  Its positive root, in the form that does not cancel."""
        if delta == 0:
            return self.x[0], self.x[1]
        x0 = self.x[0] + delta
        others_sum = x0 + mp.fsum(self.others)
        others_product = x0 * mp.fprod(self.others)
        n = len(self.x)
        beta = self.ann * (others_sum - self.d) + self.d
        gamma = self.d ** (n + 1) / (self.n_pow_n * others_product)
        root = mp.sqrt(beta * beta + 4 * self.ann * gamma)
        y = 2 * gamma / (beta + root) if beta >= 0 else (root - beta) / (2 * self.ann)
        return x0, y

    def _quote(self, delta: Real) -> Real:
        return self.f * (self.x[1] - self._balance(delta)[1])

    def _marginal(self, delta: Real) -> Real:
        # −dy/dx0 = (∂F/∂x0) / (∂F/∂y), with ∂F/∂x_k = Ann + T / x_k and
        # T = D^(n+1) / (nⁿ·Πx) at the balances after the trade.
        x0, y = self._balance(delta)
        t = self.d ** (len(self.x) + 1) / (self.n_pow_n * x0 * y * mp.fprod(self.others))
        return self.f * (self.ann + t / x0) / (self.ann + t / y)


class VelodromeStable(_SmoothConcave):
    """x³·y + x·y³ = k, the fee taken from the input: x_new = x + f·Δ and
    out = y − y_new."""

    def __init__(self, reserve_x: Number, reserve_y: Number, fee_retention: Number) -> None:
        with mp.workdps(DIGITS):
            self.x, self.y, self.f = _real(reserve_x), _real(reserve_y), _real(fee_retention)
            self.k = self.x ** 3 * self.y + self.x * self.y ** 3
            self._first_probe = self.x / 1000

    def _balance(self, delta: Real) -> tuple[Real, Real]:
        if delta == 0:
            return self.x, self.y
        x = self.x + self.f * delta
        # x·y³ + x³·y − k rises with y, from −k at 0 to at least 0 at the
        # old balance.
        y = _root(lambda y: x * y ** 3 + x ** 3 * y - self.k, mpf(0), self.y)
        return x, y

    def _quote(self, delta: Real) -> Real:
        return self.y - self._balance(delta)[1]

    def _marginal(self, delta: Real) -> Real:
        x, y = self._balance(delta)
        return self.f * (3 * x * x * y + y ** 3) / (x ** 3 + 3 * x * y * y)


class CurveCryptoSwap(_SmoothConcave):
    """Two coins, A and γ, in balance units:

        K0 = 4·x0·x1 / D²,  K = A·K0·γ² / (γ + 1 − K0)²,
        K·D·(x0 + x1) + x0·x1 = K·D² + D²/4.

    D from the pool's balances; coin i receives f·Δ and coin j keeps the
    balance y that keeps D; out = x_j − y."""

    def __init__(self, balances: Sequence[Number], amplification_a: Number, gamma: Number,
                 fee_retention: Number, input_index: int = 0) -> None:
        with mp.workdps(DIGITS):
            self.a, self.gamma, self.f = _real(amplification_a), _real(gamma), _real(fee_retention)
            pair = [_real(b) for b in balances]
            self.x_in, self.x_out = pair[input_index], pair[1 - input_index]
            # The residual is A·D·(x0 + x1 − D) >= 0 at D = 2·√(x0·x1)
            # (there K0 = 1) and x0·x1 − (x0 + x1)²/4 <= 0 at D = x0 + x1.
            self.d = _root(lambda d: self._residual(pair[0], pair[1], d), 2 * mp.sqrt(pair[0] * pair[1]),
                           pair[0] + pair[1])
            self._first_probe = self.x_in / 1000

    def _k(self, k0: Real) -> tuple[Real, Real]:
        """K and dK/dK0 = A·γ²·(γ + 1 + K0) / (γ + 1 − K0)³."""
        gap = self.gamma + 1 - k0
        scale = self.a * self.gamma ** 2
        return scale * k0 / gap ** 2, scale * (self.gamma + 1 + k0) / gap ** 3

    def _residual(self, x0: Real, x1: Real, d: Real) -> Real:
        k, _ = self._k(4 * x0 * x1 / (d * d))
        return k * d * (x0 + x1) + x0 * x1 - k * d * d - d * d / 4

    def _balance(self, delta: Real) -> tuple[Real, Real]:
        if delta == 0:
            return self.x_in, self.x_out
        x = self.x_in + self.f * delta
        # −D²/4 at y = 0; at the old balance at least the pool's own zero,
        # since the residual rises with either balance where x + y >= D; and
        # at least A·D·(x + y − D) >= 0 where K0 reaches 1, beyond which K
        # has its pole.
        y = _root(lambda y: self._residual(x, y, self.d), mpf(0), min(self.x_out, self.d * self.d / (4 * x)))
        return x, y

    def _quote(self, delta: Real) -> Real:
        return self.x_out - self._balance(delta)[1]

    def _marginal(self, delta: Real) -> Real:
        # −dy/dx = (∂F/∂x) / (∂F/∂y) with
        #   ∂F/∂x = dK/dK0 · (4·y/D) · (x + y − D) + K·D + y
        # and the same with x and y swapped.
        x, y = self._balance(delta)
        d = self.d
        k, dk = self._k(4 * x * y / (d * d))
        spread = x + y - d
        by_x = dk * 4 * y / d * spread + k * d + y
        by_y = dk * 4 * x / d * spread + k * d + x
        return self.f * by_x / by_y


class BalancerWeightedPool(Model):
    """out = R_o·(1 − (R_i / (R_i + f·Δ))^(w_i / w_o))."""

    def __init__(self, reserves: Sequence[Number], weights: Sequence[Number], fee_retention: Number,
                 input_index: int = 0, output_index: int = 1) -> None:
        with mp.workdps(DIGITS):
            self.r_in, self.r_out = _real(reserves[input_index]), _real(reserves[output_index])
            self.w_in, self.w_out = _real(weights[input_index]), _real(weights[output_index])
            self.f = _real(fee_retention)

    def _quote(self, delta: Real) -> Real:
        # 1 − p as −expm1(log p), which keeps its digits for small trades.
        ratio = self.w_in / self.w_out
        return -self.r_out * mp.expm1(-ratio * mp.log1p(self.f * delta / self.r_in))

    def _spot(self) -> Real:
        return self.w_in / self.w_out * self.r_out * self.f / self.r_in

    def _candidates(self, price: Real, limit: Real) -> list[tuple[Real, Real]]:
        if self._spot() <= price:
            return []
        # The marginal rate spot·(R_i / (R_i + f·d))^(w_i/w_o + 1) equals the
        # price where (R_i + f·d) / R_i = (spot / P)^(w_o / (w_i + w_o)).
        exponent = self.w_out / (self.w_in + self.w_out)
        stationary = self.r_in * mp.expm1(exponent * mp.log(self._spot() / price)) / self.f
        return [self._profit(price, min(stationary, limit))]


class Pmm(Model):
    """Oracle price i, curvature k, no fee.  While the pool holds less base
    than Q / i (room g = Q/i − B) the first a = min(Δ, g) runs in the reverse
    regime, out₁ = a·i / (1 − k·a·i), whose rate rises to a pole at
    a = 1/(k·i); the rest r in the normal regime, out₂ = r·i / (1 + k·r·i).
    The total is capped at Q."""

    def __init__(self, base_reserve: Number, quote_reserve: Number, oracle_price: Number, k: Number) -> None:
        with mp.workdps(DIGITS):
            self.b, self.q = _real(base_reserve), _real(quote_reserve)
            self.i, self.k = _real(oracle_price), _real(k)
            self.room = max(self.q / self.i - self.b, mpf(0))
            pole = 1 / (self.k * self.i)
            # Only a pole inside the reverse regime can be reached.
            self._capacity = pole if pole <= self.room else mp.inf
            self.concave = self.room == 0

    def _reverse(self, a: Real) -> Real:
        return a * self.i / (1 - self.k * a * self.i)

    def _normal(self, r: Real) -> Real:
        return r * self.i / (1 + self.k * r * self.i)

    def _quote(self, delta: Real) -> Real:
        if delta >= self._capacity:
            raise ValueError("delta_in reaches the reverse-regime pole")
        a = min(delta, self.room)
        return min(self._reverse(a) + self._normal(delta - a), self.q)

    def _spot(self) -> Real:
        return self.i

    def _candidates(self, price: Real, limit: Real) -> list[tuple[Real, Real]]:
        # The reverse part is convex, so its best is at an end: where the
        # reverse regime ends or where the output reaches Q.  Past either,
        # the normal part is concave up to where it reaches Q, and a capped
        # output only loses.
        fills_q = self.q / (self.i * (1 + self.k * self.q))
        sizes = [min(self.room, fills_q), limit]
        if self.room < fills_q:
            left = self.q - self._reverse(self.room)
            caps = left / (self.i * (1 - self.k * left)) if self.k * left < 1 else mp.inf
            stationary = (mp.sqrt(self.i / price) - 1) / (self.k * self.i) if self.i > price else mpf(0)
            sizes.append(self.room + min(stationary, caps))
        return [self._profit(price, min(s, limit)) for s in sizes if min(s, limit) < self._capacity]


class ConcentratedLiquidity(Model):
    """One range of liquidity L between √P_lo and √P_hi, at √P = s.  Input
    X of f·Δ moves s to s_new = L / (L/s + f·Δ) and pays out L·(s − s_new);
    the range holds (L/s_lo − L/s) / f of input."""

    def __init__(self, liquidity: Number, sqrt_price_lower: Number, sqrt_price_upper: Number,
                 sqrt_price_current: Number, fee_retention: Number) -> None:
        with mp.workdps(DIGITS):
            self.l, self.s = _real(liquidity), _real(sqrt_price_current)
            self.s_lo, self.f = _real(sqrt_price_lower), _real(fee_retention)
            self._capacity = (self.l / self.s_lo - self.l / self.s) / self.f

    def _quote(self, delta: Real) -> Real:
        if delta > self._capacity:
            raise ValueError("trade exceeds the range's capacity")
        # L·(s − s_new) written without the difference.
        a = self.f * delta
        return self.l * self.s * a / (self.l / self.s + a)

    def _spot(self) -> Real:
        return self.f * self.s * self.s

    def _candidates(self, price: Real, limit: Real) -> list[tuple[Real, Real]]:
        # The marginal rate f·s_new² equals the price at s_new = √(P/f).
        stationary = (self.l / mp.sqrt(price / self.f) - self.l / self.s) / self.f
        return [self._profit(price, min(max(stationary, 0), limit))]


class DlmmBook(Model):
    """Bins from the active one on, each paying its reserve_y at its own
    price p: gross input buys Y at p·f until the bin is empty.  The output
    is piecewise linear in the input."""

    def __init__(self, bins: Sequence[Mapping[str, Any]], active_bin_index: int, fee_retention: Number) -> None:
        with mp.workdps(DIGITS):
            f = _real(fee_retention)
            # (rate, reserve_y) of the bins a trade reaches, empty ones left out.
            self.bins = [(_real(b["price"]) * f, _real(b["reserve_y"])) for b in bins[active_bin_index:]]
            self.bins = [(rate, y) for rate, y in self.bins if y > 0]
            rates = [rate for rate, _ in self.bins]
            self.concave = all(a >= b for a, b in zip(rates, rates[1:]))

    def _quote(self, delta: Real) -> Real:
        total, left = mpf(0), delta
        for rate, y in self.bins:
            if left <= y / rate:
                return total + left * rate
            total, left = total + y, left - y / rate
        return total

    def _spot(self) -> Real:
        return self.bins[0][0] if self.bins else mpf(0)

    def _candidates(self, price: Real, limit: Real) -> list[tuple[Real, Real]]:
        # Linear between the points where a bin runs dry.
        found, size, out = [self._profit(price, limit)], mpf(0), mpf(0)
        for rate, y in self.bins:
            size, out = size + y / rate, out + y
            found.append((size, out - price * size))
        return found


class DodoPmm(Model):
    """Base and quote with targets, oracle price i (quote per base),
    curvature k, the fee taken from the input (a = f·Δ).  Seen from the
    trade: the paying side has target T_in and reserve R_in, the paid side
    T_out and R_out, and ρ is the oracle rate of one input unit in output
    units (i selling base, 1/i selling quote).

    - While the paying side is short of its target by d0 = T_in − R_in, the
      input earns ρ·(1 + 2k·u/T_in) per unit at a remaining deficit u: its
      integral is ρ·P(d, T_in) with P(d, T) = d·(1 + k·d/T).
    - Input r beyond the paying side's target pays z(r), the positive root
      of k·z² + T_out·z − T_out·ρ·r = 0.
    - A pool at or above its input target pays out from the targets:
      out = R_out − T_out + z(R_in − T_in + a), clamped at zero.  Off its
      curve that jumps on the first unit of input, or stays zero until z
      covers the shortfall.
    - No quote pays out more than the output reserve R_out.
    """

    def __init__(self, base_target: Number, quote_target: Number, base_reserve: Number, quote_reserve: Number,
                 oracle_price: Number, k: Number, fee_retention: Number, is_sell_base: bool = True) -> None:
        with mp.workdps(DIGITS):
            targets = (_real(base_target), _real(quote_target))
            reserves = (_real(base_reserve), _real(quote_reserve))
            i = _real(oracle_price)
            self.k, self.f = _real(k), _real(fee_retention)
            paying = 0 if is_sell_base else 1
            self.t_in, self.r_in = targets[paying], reserves[paying]
            self.t_out, self.r_out = targets[1 - paying], reserves[1 - paying]
            self.rho = i if is_sell_base else 1 / i
            self.short = self.r_in < self.t_in
            self.deficit = self.t_in - self.r_in
            self.concave = self.short or self._from_targets(mpf(0)) == 0

    def _root_out(self, r: Real) -> Real:
        # z = (√(T² + 4k·T·v) − T) / (2k) with v = ρ·r, without the difference.
        v = self.rho * r
        return 2 * self.t_out * v / (self.t_out + mp.sqrt(self.t_out ** 2 + 4 * self.k * self.t_out * v))

    def _root_rate(self, r: Real) -> Real:
        return self.rho * self.t_out / mp.sqrt(self.t_out ** 2 + 4 * self.k * self.t_out * self.rho * r)

    def _root_input_at_rate(self, rate: Real) -> Real:
        """The r at which the root's marginal rate falls to `rate`."""
        return ((self.rho * self.t_out / rate) ** 2 - self.t_out ** 2) / (4 * self.k * self.t_out * self.rho)

    def _from_targets(self, a: Real) -> Real:
        return self.r_out - self.t_out + self._root_out(self.r_in - self.t_in + a)

    def _premium_out(self, a: Real) -> Real:
        # ρ·(P(d0) − P(d0 − a)), written without the difference.
        return self.rho * a * (1 + self.k * (2 * self.deficit - a) / self.t_in)

    def _out(self, a: Real) -> Real:
        if not self.short:
            out = max(self._from_targets(a), mpf(0))
        elif a <= self.deficit:
            out = self._premium_out(a)
        else:
            out = self._premium_out(self.deficit) + self._root_out(a - self.deficit)
        return min(out, self.r_out)

    def _root_input_for(self, z: Real) -> Real:
        """The r at which the root pays z: k·z² + T_out·z = T_out·ρ·r."""
        return (self.k * z * z + self.t_out * z) / (self.t_out * self.rho)

    def _fills_reserve(self) -> Real:
        """The a at which the formulas first pay the whole output reserve."""
        if not self.short:
            return self._root_input_for(self.t_out) - (self.r_in - self.t_in)
        at_target = self._premium_out(self.deficit)
        if at_target < self.r_out:
            return self.deficit + self._root_input_for(self.r_out - at_target)
        # The premium's output ρ·a·(1 + k·(2·d0 − a)/T_in) = R_out, a
        # quadratic α·a² − β·a + R_out = 0; its smaller root, not cancelling.
        alpha = self.rho * self.k / self.t_in
        beta = self.rho * (1 + 2 * self.k * self.deficit / self.t_in)
        return 2 * self.r_out / (beta + mp.sqrt(beta * beta - 4 * alpha * self.r_out))

    def _quote(self, delta: Real) -> Real:
        return mpf(0) if delta == 0 else self._out(self.f * delta)

    def _spot(self) -> Real:
        if self.short:
            return self.f * self.rho * (1 + 2 * self.k * self.deficit / self.t_in)
        if not 0 <= self._from_targets(mpf(0)) < self.r_out:
            return mpf(0)  # the output stays put at first: zero, or all of R_out
        return self.f * self._root_rate(self.r_in - self.t_in)

    def _candidates(self, price: Real, limit: Real) -> list[tuple[Real, Real]]:
        # The output is concave up to where it fills the reserve and flat
        # after, so the best size is the stationary point clipped to that;
        # off the curve also the first unit (a jump) or the end of the stretch
        # that pays nothing.  Sizes are a / f.
        rate = price / self.f  # the marginal output per unit of a = f·Δ
        full = self._fills_reserve()
        found = [self._profit(price, limit), self._profit(price, min(max(full, 0) / self.f, limit))]
        if self.short:
            # The premium's rate falls linearly to ρ at the target and the
            # root's falls on from there.
            if self._spot() > price:
                if rate >= self.rho:
                    a = self.deficit - (rate / self.rho - 1) * self.t_in / (2 * self.k)
                else:
                    a = self.deficit + self._root_input_at_rate(rate)
                found.append(self._profit(price, min(min(a, full) / self.f, limit)))
            return found
        beyond = self.r_in - self.t_in
        at_zero = self._from_targets(mpf(0))
        # The supremum near zero size, approached from above.
        found.append((mpf(0), min(max(at_zero, mpf(0)), self.r_out)))
        start = mpf(0)
        if at_zero < 0:
            # Zero until z covers the shortfall T_out − R_out.
            start = self._root_input_for(self.t_out - self.r_out) - beyond
            found.append(self._profit(price, min(start / self.f, limit)))
        stationary = self._root_input_at_rate(rate) - beyond
        if start < stationary:
            found.append(self._profit(price, min(min(stationary, full) / self.f, limit)))
        return found


class Route(Model):
    """Legs traded one after another, each quoting what the one before paid
    out.  A chain of concave, rising outputs is concave.  A chain of
    constant-product and concentrated-liquidity legs quotes a·Δ / (b + c·Δ)
    like one constant-product pool (a = f·y, b = x, c = f; a range is the
    same with x = L/s, y = L·s), so its best size has that pool's closed
    form; any other chain is sized where a centred difference of its profit
    changes sign."""

    def __init__(self, legs: Sequence[Model]) -> None:
        self.legs = list(legs)
        self.concave = all(leg.concave for leg in self.legs)
        with mp.workdps(DIGITS):
            self._capacity = self._limit()

    def _through(self, delta: Real, count: int) -> Real:
        for leg in self.legs[:count]:
            delta = leg._quote(delta)
        return delta

    def _limit(self) -> Real:
        """Each leg's capacity carried back through the legs before it: the
        input at which their chained output reaches it, if it ever does."""
        limit = mp.inf
        for count, leg in enumerate(self.legs):
            if leg._capacity == mp.inf:
                continue
            if count == 0:
                limit = leg._capacity
                continue
            # Doubled from one unit up to just inside the limit so far.
            top = limit * (1 - mpf(10) ** (5 - DIGITS)) if limit < mp.inf else mpf(2) ** 200
            high = min(mpf(1), top)
            while high < top and self._through(high, count) < leg._capacity:
                high = min(2 * high, top)
            if self._through(high, count) < leg._capacity:
                continue
            # A hair below the root, which may sit on either side of it.
            root = _root(lambda d: leg._capacity - self._through(d, count), mpf(0), high)
            limit = root * (1 - mpf(10) ** (8 - DIGITS))
        return limit

    def _quote(self, delta: Real) -> Real:
        return self._through(delta, len(self.legs))

    def _spot(self) -> Real:
        return mp.fprod(leg._spot() for leg in self.legs)

    def _mobius(self) -> tuple[Real, Real, Real] | None:
        a, b, c = mpf(1), mpf(1), mpf(0)  # the identity
        for leg in self.legs:
            if isinstance(leg, Cpmm):
                a2, b2, c2 = leg.f * leg.y, leg.x, leg.f
            elif isinstance(leg, ConcentratedLiquidity):
                a2, b2, c2 = leg.f * leg.l * leg.s, leg.l / leg.s, leg.f
            else:
                return None
            a, b, c = a * a2, b * b2, b2 * c + a * c2
        return a, b, c

    def _candidates(self, price: Real, limit: Real) -> list[tuple[Real, Real]]:
        mobius = self._mobius()
        if mobius is not None:
            # The profit's derivative a·b / (b + c·Δ)² − P is zero at
            # Δ = (√(a·b/P) − b) / c.
            a, b, c = mobius
            stationary = (mp.sqrt(a * b / price) - b) / c
            return [self._profit(price, min(max(stationary, 0), limit))]
        if self.concave and self._spot() <= price:
            return []
        # Where the profit's centred difference changes sign: doubled from
        # one unit while it rises, then bisected.
        inside = limit * (1 - mpf(10) ** (5 - DIGITS))

        def rises(d: Real) -> bool:
            step, high = d * mpf(10) ** -15, min(d * (1 + mpf(10) ** -15), inside)
            try:
                return bool(self._quote(high) - self._quote(d - step) > price * (high - d + step))
            except ArithmeticError:
                return False  # a leg's model gives up on inputs far past any peak

        low, high = mpf(0), mpf(1)
        while high < inside and rises(high) and high < mpf(2) ** 200:
            low, high = high, high * 2
        if high >= inside:
            if rises(inside):
                return [self._profit(price, inside)]
            high = inside
        for _ in range(400):
            if high - low <= mpf(10) ** -22 * high:
                break
            middle = (low + high) / 2
            low, high = (middle, high) if rises(middle) else (low, middle)
        return [self._profit(price, (low + high) / 2)]


# The model of each pool class, taking the same constructor arguments.
MODELS: dict[str, Callable[..., Model]] = {
    "PyCpmm": Cpmm,
    "PyStableSwap": StableSwap,
    "PyPmm": Pmm,
    "PyConcentratedLiquidity": ConcentratedLiquidity,
    "PyBalancerWeightedPool": BalancerWeightedPool,
    "PyVelodromeStable": VelodromeStable,
    "PyDlmmBook": DlmmBook,
    "PyCurveCryptoSwap": CurveCryptoSwap,
    "PyDodoPmm": DodoPmm,
}
