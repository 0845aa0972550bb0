"""The constant-product and StableSwap sizings written with Python's own
decimal module: the same steps in the same order as the extension's C++
sources, in a 29-digit context rounding half to even (about the precision of
the extension's 96-bit numbers). A speed baseline for the benchmark, not a
reference: the last digits may differ where the two number types round
differently.
"""

from __future__ import annotations

from decimal import ROUND_HALF_EVEN, Context, Decimal, localcontext

CONTEXT = Context(prec=29, rounding=ROUND_HALF_EVEN)

ZERO = Decimal(0)
ONE = Decimal(1)
TWO = Decimal(2)
TOLERANCE = Decimal("0.000001")
MAX_NEWTON_PASSES = 255
MAX_SEARCH_STEPS = 256


class NoSize(Exception):
    """No arbitrage, no profitable size or no convergence."""


def _settle(quote, reference_price, size, fixed_cost):
    if size <= 0:
        raise NoSize("NoProfitableSize")
    out = quote(size)
    profit = (out - reference_price * size) - fixed_cost
    if profit <= 0:
        raise NoSize("NoProfitableSize")
    return size, profit


def cpmm_optimal_size(x, y, fee_retention, reference_price, fixed_cost=ZERO):
    x, y, fee, price, fixed_cost = (Decimal(str(v)) for v in (x, y, fee_retention, reference_price, fixed_cost))
    with localcontext(CONTEXT):
        if (fee * y) / x <= price:
            raise NoSize("NoArbitrageOpportunity")
        root = (((x * y) * fee) / price).sqrt()
        size = (root - x) / fee

        def quote(delta):
            return ((y * fee) * delta) / (x + fee * delta)

        return _settle(quote, price, size, fixed_cost)


def _relative_change(new, current):
    change = abs(new - current)
    return change if current == 0 else change / abs(current)


def _solve_invariant(reserves, amplification):
    n = len(reserves)
    coins = Decimal(n)
    coins_power = coins**n
    total = sum(reserves, ZERO)
    d = total
    for _ in range(MAX_NEWTON_PASSES):
        d_product = d
        for reserve in reserves:
            d_product = (d_product * d) / (coins * reserve)
        ann = amplification * coins_power
        numerator = ((ann * total) + (d_product * coins)) * d
        denominator = ((ann - ONE) * d) + (Decimal(n + 1) * d_product)
        new = numerator / denominator
        if _relative_change(new, d) < TOLERANCE:
            return new
        d = new
    raise NoSize("DidNotConverge")


def _solve_output_balance(b, c, d):
    y = d
    for _ in range(MAX_NEWTON_PASSES):
        new = ((y * y) + c) / (((TWO * y) + b) - d)
        if _relative_change(new, y) < TOLERANCE:
            return new
        y = new
    raise NoSize("DidNotConverge")


def _stableswap_quote(reserves, ann, fee_retention, d, delta_in):
    coins = Decimal(len(reserves))
    c = d
    partial_sum = ZERO
    for k, reserve in enumerate(reserves):
        if k == 1:
            continue
        x = reserves[0] + delta_in if k == 0 else reserve
        partial_sum = partial_sum + x
        c = (c * d) / (x * coins)
    c = (c * d) / (ann * coins)
    b = partial_sum + (d / ann)
    raw = reserves[1] - _solve_output_balance(b, c, d)
    if raw < 0:
        raw = ZERO
    return raw * fee_retention


def stableswap_optimal_size(reserves, amplification, fee_retention, reference_price, fixed_cost=ZERO):
    reserves = [Decimal(str(r)) for r in reserves]
    amplification, fee, price, fixed_cost = (
        Decimal(str(v)) for v in (amplification, fee_retention, reference_price, fixed_cost))
    with localcontext(CONTEXT):
        d = _solve_invariant(reserves, amplification)
        ann = amplification * Decimal(len(reserves)) ** len(reserves)

        def quote(size):
            return _stableswap_quote(reserves, ann, fee, d, size)

        step = reserves[0] * TOLERANCE.sqrt()

        def marginal_profit(size):
            lower = size - step if size > step else ZERO
            upper = size + step
            return ((quote(upper) - quote(lower)) / (upper - lower)) - price

        if marginal_profit(ZERO) <= 0:
            raise NoSize("NoArbitrageOpportunity")
        steps = 0
        upper = step
        while marginal_profit(upper) > 0:
            upper = upper * TWO
            steps += 1
            if steps == MAX_SEARCH_STEPS:
                raise NoSize("DidNotConverge")
        lower = ZERO
        while (upper - lower) > TOLERANCE * upper:
            middle = (lower + upper) / TWO
            if marginal_profit(middle) > 0:
                lower = middle
            else:
                upper = middle
            steps += 1
        size = (lower + upper) / TWO
        return _settle(quote, price, size, fixed_cost)
