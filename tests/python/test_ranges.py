"""The range of token amounts and prices in which each family never raises
InternalFault.

Amounts are token units, not integer base units, and every intermediate of a
computation must stay within the exact number's range (at most 28 digits after
the point, magnitudes up to 2^96 - 1, about 7.9e28).  SAFE_RANGES states, per
family, the amounts (reserves, liquidity, targets, sizes, fixed costs) and the
prices (reference, oracle and bin prices; square-root prices are the roots of
prices in the range) inside which quote, optimal_size and the module function
return a value or raise ValueError, never InternalFault.  The draws favour
both ends of each range and carry 18 decimals wherever the number can hold
them (28 significant digits at 10^10).

Runs are reproducible under the Hypothesis profiles conftest.py loads.
"""

from __future__ import annotations

from collections.abc import Callable
from dataclasses import dataclass
from decimal import ROUND_DOWN, Decimal, localcontext
from typing import Any

import pytest
from hypothesis import given
from hypothesis import strategies as st

import quarlen
from test_properties import FAMILY_INFO
from support import txt


@dataclass(frozen=True)
class SafeRange:
    """Decimal exponents: amounts from 10^amounts[0] up to 10^amounts[1],
    prices likewise; `also` is what else the range assumes."""

    amounts: tuple[int, int]
    prices: tuple[int, int]
    also: str = ""


FEE_RETENTION = "fee_retention from 0.5 to 1"
SAFE_RANGES: dict[str, SafeRange] = {
    "PyCpmm": SafeRange((-12, 11), (-6, 6), FEE_RETENTION),
    "PyStableSwap": SafeRange((-12, 20), (-6, 6), "2 to 8 coins, amplification 1 to 10^4, reserves within a "
                                                 "factor of 1000 of each other; " + FEE_RETENTION),
    "PyPmm": SafeRange((-12, 20), (-6, 6), "k from 10^-6 to 10"),
    "PyConcentratedLiquidity": SafeRange((-12, 24), (-6, 6), FEE_RETENTION),
    "PyBalancerWeightedPool": SafeRange((-6, 14), (-6, 6), "2 to 4 assets, weights from 0.01; " + FEE_RETENTION),
    "PyVelodromeStable": SafeRange((-12, 14), (-6, 6), FEE_RETENTION),
    "PyDlmmBook": SafeRange((-12, 20), (-6, 6), FEE_RETENTION),
    # What limits it is a trade's ratio to the pool's invariant D (about the
    # sum of the balances), not the amounts: A times it must stay below 10^28.
    "PyCurveCryptoSwap": SafeRange((-6, 18), (-6, 6), "balances within a factor of 10 of each other, "
                                                     "amplification 1 to 10^4, gamma 10^-6 to 0.1; " + FEE_RETENTION),
    "PyDodoPmm": SafeRange((-12, 10), (-6, 6), "k from 10^-6 to 1; " + FEE_RETENTION),
}


# ---------------------------------------------------------------------------
# Numbers at the ends of a range


def _in_decade(decade: int, digits: int, places: int) -> str:
    """The 28 significant `digits` placed in [10^decade, 10^(decade+1)), cut to
    `places` digits after the point and to 28 significant digits."""
    kept = max(0, min(places, 27 - decade))
    with localcontext() as context:
        context.prec = 80
        value = Decimal(digits).scaleb(decade - 27).quantize(Decimal(1).scaleb(-kept), rounding=ROUND_DOWN)
    return format(value, "f")


def within(low: int, high: int, places: int = 18) -> st.SearchStrategy[str]:
    """Values from 10^low up to 10^high: one draw in three the smallest, one
    in three the largest (all nines), so that several amounts meet at their
    ends together."""
    smallest = _in_decade(low, 10**27, places)
    largest = _in_decade(high - 1, 10**28 - 1, places)
    anywhere = st.builds(_in_decade, st.integers(low, high - 1), st.integers(10**27, 10**28 - 1), st.just(places))
    return st.one_of(st.just(smallest), st.just(largest), anywhere)


fees = st.one_of(st.sampled_from(["1", "0.5", "0.997"]),
                 st.decimals(Decimal("0.5"), Decimal("1"), places=6).map(lambda v: format(v, "f")))


def amounts(family: str) -> st.SearchStrategy[str]:
    return within(*SAFE_RANGES[family].amounts)


def prices(family: str) -> st.SearchStrategy[str]:
    return within(*SAFE_RANGES[family].prices)


def square_root(text: str) -> str:
    with localcontext() as context:
        context.prec = 20
        return format(Decimal(text).sqrt(), "f")


@st.composite
def pools(draw: st.DrawFn, family: str) -> tuple[Any, ...]:
    """A valid pool's constructor arguments."""
    amount, price = amounts(family), prices(family)
    low, high = SAFE_RANGES[family].amounts
    if family in ("PyCpmm", "PyVelodromeStable"):
        return (draw(amount), draw(amount), draw(fees))
    if family == "PyStableSwap":
        top = draw(st.integers(low, high - 1))
        coins = draw(st.integers(2, 8))
        reserves = [draw(within(max(low, top - 2), top + 1)) for _ in range(coins)]
        amplification = draw(st.one_of(st.just("1"), st.just("10000"), st.integers(1, 10_000).map(str)))
        return (reserves, amplification, draw(fees))
    if family == "PyPmm":
        return (draw(amount), draw(amount), draw(price), draw(within(-6, 1)))
    if family == "PyConcentratedLiquidity":
        lower = Decimal(square_root(draw(price)))
        upper = lower * (1 + draw(st.decimals(Decimal("0.0001"), Decimal("1"), places=4)))
        current = lower + (upper - lower) * draw(st.decimals(Decimal(0), Decimal(1), places=3))
        bounds = [format(v.quantize(Decimal("1e-20")), "f") for v in (lower, upper, min(current, upper))]
        return (draw(amount), *bounds, draw(fees))
    if family == "PyBalancerWeightedPool":
        n = draw(st.integers(2, 4))
        reserves = [draw(amount) for _ in range(n)]
        parts = draw(st.lists(st.sampled_from([1, 2, 5, 25, 49]), min_size=n, max_size=n))
        weights = [(Decimal(p) / sum(parts)).quantize(Decimal("0.0001"), rounding=ROUND_DOWN) for p in parts[:-1]]
        weights.append(Decimal(1) - sum(weights))
        i, o = draw(st.sampled_from([(a, b) for a in range(n) for b in range(n) if a != b]))
        return (reserves, [format(w, "f") for w in weights], draw(fees), i, o)
    if family == "PyDlmmBook":
        count = draw(st.integers(1, 5))
        bins = [{"bin_id": position, "price": draw(price),
                 "reserve_x": draw(st.one_of(st.just("0"), amount)),
                 "reserve_y": draw(st.one_of(st.just("0"), amount))} for position in range(count)]
        return (bins, draw(st.integers(0, count - 1)), draw(fees))
    if family == "PyCurveCryptoSwap":
        first = Decimal(draw(amount))
        imbalance = draw(st.one_of(st.sampled_from(["0.1", "1", "10"]), within(-1, 1, 4)))
        with localcontext() as context:
            context.prec = 80
            second = min(max(first * Decimal(imbalance), Decimal(10) ** low), Decimal(10) ** high - 1)
            decade = second.adjusted()
            digits = int(second.scaleb(27 - decade).to_integral_value(ROUND_DOWN))
        balances = [format(first, "f"), _in_decade(decade, digits, 18)]
        amplification = draw(st.one_of(st.sampled_from(["1", "10000"]), st.integers(1, 10_000).map(str)))
        gamma = draw(st.one_of(st.sampled_from(["0.000001", "0.1"]), within(-6, -1)))
        return (balances, amplification, gamma, draw(fees), draw(st.integers(0, 1)))
    assert family == "PyDodoPmm"
    targets_and_reserves = [draw(amount) for _ in range(4)]
    k = draw(st.one_of(st.just("1"), within(-6, 0)))
    return (*targets_and_reserves, draw(price), k, draw(fees), draw(st.booleans()))


def no_internal_fault(call: Callable[[], Any], what: str) -> Any:
    """The call's result, None for a ValueError; an InternalFault fails the test."""
    try:
        return call()
    except ValueError:
        return None
    except quarlen.InternalFault as fault:
        pytest.fail(f"{what}: InternalFault {fault}")


# ---------------------------------------------------------------------------
# Tests


@pytest.mark.parametrize("family", list(SAFE_RANGES))
@given(data=st.data())
def test_inside_the_safe_range_nothing_faults(family: str, data: st.DataObject) -> None:
    args = data.draw(pools(family))
    pool = no_internal_fault(lambda: getattr(quarlen, family)(*args), f"{family}{args!r}")
    assert pool is not None, f"a valid pool was refused: {args!r}"
    size = data.draw(amounts(family))
    out = no_internal_fault(lambda: pool.quote(size), f"{family}{args!r}.quote({size})")

    # Prices from the range, and the pool's own rate where it lies in it, so
    # the searches run deep as well as stop at once.
    price = data.draw(prices(family))
    low, high = SAFE_RANGES[family].prices
    if out and data.draw(st.booleans()):
        with localcontext() as context:
            context.prec = 20
            rate = out / Decimal(size) * data.draw(st.sampled_from([Decimal("0.5"), Decimal("0.999")]))
        if Decimal(10) ** low <= rate < Decimal(10) ** high:
            price = format(rate, "f")
    fixed_cost = data.draw(st.one_of(st.none(), amounts(family)))
    max_size = data.draw(st.one_of(st.none(), amounts(family)))
    call = f"{family}{args!r} at {price}, fixed_cost={fixed_cost}, max_size={max_size}"
    by_method = no_internal_fault(lambda: pool.optimal_size(price, fixed_cost, max_size), call)
    by_function = no_internal_fault(
        lambda: getattr(quarlen, FAMILY_INFO[family].function)(*args, price, fixed_cost, max_size), call)
    assert repr(by_method) == repr(by_function)


# The families that compute again in other units where their own overflow:
# a pool beyond the reach of the direct computation must answer as the same
# pool stated in units 10^shift times larger, which it reaches, to within the
# rounding of the last digits.
@st.composite
def scaled_pairs(draw: st.DrawFn, family: str) -> tuple[list[Any], list[Any], Decimal, Decimal]:
    """The large pool's arguments, the small pool's, the unit between them
    and an amount that sets the large pool's size."""
    unit, f = Decimal(10) ** draw(st.integers(4, 8)), draw(fees)
    first = Decimal(draw(within(10, 13)))
    if family == "PyVelodromeStable":
        y = (first * draw(st.decimals(Decimal("0.05"), Decimal("20"), places=3))).quantize(Decimal("1e-6"))
        return [first, y, f], [first / unit, y / unit, f], unit, first
    if family == "PyStableSwap":
        shares = draw(st.lists(st.decimals(Decimal("0.1"), Decimal("1"), places=3), min_size=1, max_size=7))
        reserves = [first, *(first * share for share in shares)]
        amplification = draw(st.sampled_from(["100", "10000"]))
        return [reserves, amplification, f], [[r / unit for r in reserves], amplification, f], unit, first
    liquidity = first * 10_000
    lower = Decimal(square_root(draw(within(-6, 6))))
    bounds = [lower, lower * Decimal("1.01"), lower * Decimal("1.005")]
    return [liquidity, *bounds, f], [liquidity / unit, *bounds, f], unit, liquidity


def texts(args: list[Any]) -> list[Any]:
    return [[txt(item) for item in arg] if isinstance(arg, list) else txt(arg) for arg in args]


@pytest.mark.parametrize("family", ["PyVelodromeStable", "PyStableSwap", "PyConcentratedLiquidity"])
@given(data=st.data())
def test_large_pools_answer_as_the_same_pool_in_larger_units(family: str, data: st.DataObject) -> None:
    large_args, small_args, unit, scale = data.draw(scaled_pairs(family))
    large = getattr(quarlen, family)(*texts(large_args))
    small = getattr(quarlen, family)(*texts(small_args))
    with localcontext() as context:
        context.prec = 60

        def agree(large_answer: Decimal, small_answer: Decimal) -> bool:
            return abs(large_answer - small_answer * unit) <= Decimal("1e-20") * scale

        size = scale / unit * data.draw(st.decimals(Decimal("0.001"), Decimal("0.5"), places=6))
        out_small = no_internal_fault(lambda: small.quote(txt(size)), "quote")
        out_large = no_internal_fault(lambda: large.quote(txt(size * unit)), "quote")
        assert (out_small is None) == (out_large is None)
        if out_small is not None:
            assert agree(out_large, out_small), (out_large, out_small)

        rate = Decimal(small.quote("0.000001")) / Decimal("0.000001")
        price = txt((rate * data.draw(st.decimals(Decimal("0.3"), Decimal("0.99"), places=4))).quantize(
            Decimal("1e-12")))
        sized_small = no_internal_fault(lambda: small.optimal_size(price), "optimal_size")
        sized_large = no_internal_fault(lambda: large.optimal_size(price), "optimal_size")
        assert (sized_small is None) == (sized_large is None)
        if sized_small is not None:
            assert agree(sized_large.optimal_delta, sized_small.optimal_delta)
            assert agree(sized_large.expected_profit, sized_small.expected_profit)
