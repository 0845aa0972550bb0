"""Property tests over the nine pool families and the portfolio.

Random valid pools, from the wide ranges the module accepts and from
realistic ones (token amounts of 10^3 to 10^9 units with 6 or 18 decimals,
fees of 0.01 % to 1 %), are quoted and sized at reference prices around
their own spot rate with random constraints, through the class and the
module function; random invalid arguments go through every entry point.
Every call must either return or raise one of the documented exception
types.  Quotes and sizings are held to the independent 50-digit models of
reference_models.py:

- quotes match the model within the family's tolerance;
- a success is internally consistent (its profit recomputed exactly from the
  pool's own quote) and never reports more than the model's profit at its
  size; where the output is concave, a price at or above the model's spot
  rate gives no result at all;
- for the ProvenOptimal and NumericallyGuaranteed tiers the reported gross
  profit comes within 1e-6 of the model's best under the same max_size, and
  no sizing error hides such a profit.  EmpiricallyValidated gaps are
  reported in the run's summary instead of failing.

Runs are reproducible under the Hypothesis profiles conftest.py loads.
"""

from __future__ import annotations

import os
from collections.abc import Callable
from dataclasses import dataclass
from decimal import ROUND_CEILING, Decimal, localcontext
from typing import Any

import pytest
from hypothesis import given
from hypothesis import strategies as st

import quarlen
import reliability
from reference_models import MODELS, Model, Route
from support import D, txt

# Report quote errors and optimality gaps without failing (for measuring
# the tolerances).
_REPORT_ONLY = os.environ.get("QUARLEN_OPTIMALITY_REPORT_ONLY") == "1"
_WORST: dict[tuple[str, str], Decimal] = {}

# The interpreter may hand any of these to a caller, as the module documents;
# anything else escaping a call is a fault.
DOCUMENTED = (ValueError, TypeError, KeyError, OverflowError)
# What a genuine arithmetic fault of the exact number says.
GENUINE_FAULTS = {
    "Addition overflowed",
    "Subtraction overflowed",
    "Multiplication overflowed",
    "Division overflowed",
    "Division by zero",
    "Pow overflowed",
}


class ProbeError(Exception):
    """Raised by the str() of a probe value: it must reach the caller unchanged."""


class RaisingText:
    def __str__(self) -> str:
        raise ProbeError("no text")


# ---------------------------------------------------------------------------
# The families: expected tier, whether the search reports iterations, and how
# closely the module must follow the reference model.  A quote may differ
# from the model's by
#     relative * max(quote, P * d)   rounding and solver noise that scale
#   + floor(pool arguments)          rounding that does not shrink with the
#                                    trade
# and a sizing's gross profit may fall short of the model's best by 1e-6 of
# it, plus that quote tolerance at the reported size, plus, for StableSwap,
# the profit change across one search step either side of the reported size
# (its search zeroes a centred difference of step x_0 / 1000, so it places
# the optimum only to within about that step).
#
# Why each:
# - constant product, DLMM, PMM: a handful of correctly rounded operations;
#   relative 1e-20 leaves room for rounding in the 28th digit.  Values below
#   one keep only 28 places: a floor of a few units of the 28th place, and
#   for the constant product that unit of the numerator divided by
#   x + f * d: (1 + 1/x) * 1e-27.
# - concentrated liquidity: L / s and the new square-root price keep 28
#   places, and L * (s - s_new) multiplies their rounding by L:
#   (L * (1 + 2s) + s^2) * 1e-27.
# - Balancer: powd is good to about 27 digits and 1 - p, with p near 1 for a
#   small trade, keeps that absolute error; the exponent w_i / w_o multiplies
#   the rounding of the ratio it raises: R_o * (1 + w_i / w_o) * 1e-26.
# - DODO: the root (sqrt(T^2 + 4k * T * v) - T) / 2k cancels to an absolute
#   error of about T_out * 1e-28 / k, and the premium difference and the
#   difference from the reserve lose their operands' last digit:
#   (T_out / k + R_out + rate * T_in) * 1e-27.
# - CryptoSwap: solves to the last two digits of D and y, both of the order
#   of the balances, so x_j - y keeps an error of about (x_0 + x_1) * 1e-26
#   that does not shrink with the trade: floor (x_0 + x_1) * 1e-25.
# - StableSwap and Velodrome: Newton solves that stop once a step moves the
#   balance by less than 1e-6 (1e-7) of itself: 1e-6 of the quote.  The
#   StableSwap D solve leaves an error of the order of the square of that
#   step, 1e-12 of the balances, which a quote carries whatever its size:
#   floor 1e-11 of the balances' sum (1.1e-12 of it seen in 3,000 cases).


def _places(_: tuple[Any, ...]) -> Decimal:
    return Decimal("1e-27")


def _cpmm_floor(args: tuple[Any, ...]) -> Decimal:
    return (1 + 1 / Decimal(args[0])) * Decimal("1e-27")


def _clmm_floor(args: tuple[Any, ...]) -> Decimal:
    liquidity, current = Decimal(args[0]), Decimal(args[3])
    return (liquidity * (1 + 2 * current) + current * current + 1) * Decimal("1e-27")


def _balancer_floor(args: tuple[Any, ...]) -> Decimal:
    reserves, weights, _, i, o = args
    return Decimal(reserves[o]) * (1 + Decimal(weights[i]) / Decimal(weights[o])) * Decimal("1e-26")


def _dodo_floor(args: tuple[Any, ...]) -> Decimal:
    base_target, quote_target, base, quote, oracle, k = (Decimal(a) for a in args[:6])
    if args[7]:
        return (quote_target / k + quote + oracle * base_target) * Decimal("1e-27")
    return (base_target / k + base + quote_target / oracle) * Decimal("1e-27")


def _balances(scale: str) -> Callable[[tuple[Any, ...]], Decimal]:
    return lambda args: sum((Decimal(b) for b in args[0]), Decimal(0)) * Decimal(scale)


@dataclass(frozen=True)
class Info:
    function: str
    tier: str
    iterations: bool
    relative: Decimal
    floor: Callable[[tuple[Any, ...]], Decimal] = _places
    # The search's fixed step in input units, from the constructor arguments.
    step: Callable[[tuple[Any, ...]], Decimal] | None = None
    # The end of the interval the search covers by design, where it does not
    # reach every admissible size: results are held to the model's best
    # within it, and better sizes beyond it are reported.
    search_limit: Callable[[tuple[Any, ...]], Decimal] | None = None
    # The size whose average rate stands in for the spot rate in the
    # documented no-arbitrage test: a price between the two is refused by
    # design, which is reported rather than failed.
    probe: Decimal | None = None


FAMILY_INFO: dict[str, Info] = {
    "PyCpmm": Info("cpmm_optimal_size", "ProvenOptimal", False, Decimal("1e-20"), _cpmm_floor),
    "PyStableSwap": Info("stableswap_optimal_size", "NumericallyGuaranteed", True, Decimal("1e-6"),
                         _balances("1e-11"), step=lambda args: Decimal(args[0][0]) / 1000),
    "PyPmm": Info("pmm_optimal_size", "EmpiricallyValidated", True, Decimal("1e-20")),
    "PyConcentratedLiquidity": Info("clmm_optimal_size", "ProvenOptimal", False, Decimal("1e-20"), _clmm_floor),
    "PyBalancerWeightedPool": Info("balancer_optimal_size", "ProvenOptimal", False, Decimal("1e-20"),
                                   _balancer_floor),
    "PyVelodromeStable": Info("velodrome_optimal_size", "NumericallyGuaranteed", True, Decimal("1e-6")),
    "PyDlmmBook": Info("dlmm_optimal_size", "ProvenOptimal", False, Decimal("1e-20")),
    "PyCurveCryptoSwap": Info("cryptoswap_optimal_size", "NumericallyGuaranteed", True, Decimal("1e-20"),
                              _balances("1e-25"), search_limit=lambda args: 2 * Decimal(args[0][args[4]]),
                              probe=Decimal("0.001")),
    "PyDodoPmm": Info("dodo_optimal_size", "EmpiricallyValidated", True, Decimal("1e-20"), _dodo_floor),
}

# Parameter kinds, in constructor order: N number, S sequence of numbers,
# P pair, B bins, I index, F flag.
KINDS: dict[str, str] = {
    "PyCpmm": "NNN",
    "PyStableSwap": "SNN",
    "PyPmm": "NNNN",
    "PyConcentratedLiquidity": "NNNNN",
    "PyBalancerWeightedPool": "SSNII",
    "PyVelodromeStable": "NNN",
    "PyDlmmBook": "BIN",
    "PyCurveCryptoSwap": "PNNNI",
    "PyDodoPmm": "NNNNNNNF",
}


@dataclass(frozen=True)
class Case:
    """A valid pool: its class name, its constructor arguments (every default
    given explicitly, so they also serve the module function), and a typical
    input amount to scale sizes and prices by."""

    family: str
    args: tuple[Any, ...]
    scale: Decimal

    @property
    def info(self) -> Info:
        return FAMILY_INFO[self.family]

    def pool(self) -> Any:
        return getattr(quarlen, self.family)(*self.args)

    def function(self) -> Callable[..., Any]:
        return getattr(quarlen, self.info.function)  # type: ignore[no-any-return]


# ---------------------------------------------------------------------------
# Number strategies.  Texts with at most 28 digits after the point, so the
# exact model of support.py can read every value back.


def text_of(value: Decimal, significant: int = 12) -> str:
    """value rounded to `significant` digits and to at most 28 after the point."""
    with localcontext() as context:
        context.prec = significant
        rounded = +value
    if rounded.as_tuple().exponent < -28:  # type: ignore[operator]
        rounded = rounded.quantize(Decimal("1e-28"))
    return format(rounded, "f")


def amounts(low: int, high: int) -> st.SearchStrategy[Decimal]:
    """Positive values from 10^low to 10^high with up to six significant digits."""
    return st.builds(
        lambda mantissa, exponent: Decimal(mantissa).scaleb(exponent - 5),
        st.integers(100_000, 999_999),
        st.integers(low, high - 1),
    )


def fractions(low: str, high: str) -> st.SearchStrategy[Decimal]:
    return st.decimals(Decimal(low), Decimal(high), places=4, allow_nan=False, allow_infinity=False)


fees = st.one_of(st.sampled_from(["1", "0.997", "0.9995", "0.99", "0.95"]), fractions("0.5", "1").map(str))


@st.composite
def cpmm_cases(draw: st.DrawFn, amount: st.SearchStrategy[Decimal] = amounts(-2, 9),
               fee: st.SearchStrategy[str] = fees) -> Case:
    x, y = draw(amount), draw(amount)
    return Case("PyCpmm", (txt(x), txt(y), draw(fee)), x)


@st.composite
def stableswap_cases(draw: st.DrawFn) -> Case:
    base = draw(amounts(0, 7))
    ratios = draw(st.lists(fractions("0.05", "20"), min_size=2, max_size=4))
    reserves = [text_of(base * ratio) for ratio in ratios]
    amplification = draw(st.one_of(st.sampled_from(["1", "10", "100", "1000"]), st.integers(1, 2000).map(str)))
    return Case("PyStableSwap", (reserves, amplification, draw(fees)), Decimal(reserves[0]))


@st.composite
def pmm_cases(draw: st.DrawFn) -> Case:
    base, quote = draw(amounts(0, 7)), draw(amounts(0, 7))
    oracle, k = draw(amounts(-2, 3)), draw(amounts(-5, 1))
    return Case("PyPmm", (txt(base), txt(quote), txt(oracle), txt(k)), base)


@st.composite
def clmm_cases(draw: st.DrawFn) -> Case:
    liquidity, lower = draw(amounts(0, 8)), draw(amounts(-2, 2))
    upper = Decimal(text_of(lower * (1 + draw(fractions("0.001", "3")))))
    current = Decimal(text_of(lower + (upper - lower) * draw(fractions("0", "1"))))
    current = min(max(current, lower), upper)
    args = (txt(liquidity), txt(lower), txt(upper), txt(current), draw(fees))
    return Case("PyConcentratedLiquidity", args, Decimal(text_of(liquidity / current)))


@st.composite
def weights_and_direction(draw: st.DrawFn, n: int) -> tuple[list[str], tuple[int, int]]:
    """n weights to four places that sum to exactly 1, and an (input, output) pair of indices."""
    parts = draw(st.lists(st.integers(5, 100), min_size=n, max_size=n))
    weights = [(Decimal(p) / sum(parts)).quantize(Decimal("0.0001")) for p in parts[:-1]]
    weights.append(Decimal(1) - sum(weights))
    direction = draw(st.sampled_from([(a, b) for a in range(n) for b in range(n) if a != b]))
    return [txt(w) for w in weights], direction


@st.composite
def balancer_cases(draw: st.DrawFn, amount: st.SearchStrategy[Decimal] = amounts(0, 8),
                   fee: st.SearchStrategy[str] = fees) -> Case:
    n = draw(st.integers(2, 4))
    reserves = [txt(draw(amount)) for _ in range(n)]
    weights, (i, o) = draw(weights_and_direction(n))
    return Case("PyBalancerWeightedPool", (reserves, weights, draw(fee), i, o), Decimal(reserves[i]))


@st.composite
def velodrome_cases(draw: st.DrawFn) -> Case:
    x = draw(amounts(0, 8))
    y = Decimal(text_of(x * draw(fractions("0.1", "10"))))
    return Case("PyVelodromeStable", (txt(x), txt(y), draw(fees)), x)


@st.composite
def dlmm_cases(draw: st.DrawFn) -> Case:
    # The walk stops at the first bin not worth its price, which is the
    # optimum for a book whose prices fall along the walk, as a real book's
    # do; the prices here fall from the first bin on.
    count = draw(st.integers(1, 8))
    prices = sorted((draw(amounts(-2, 2)) for _ in range(count)), reverse=True)
    bins: list[dict[str, Any]] = []
    for position in range(count):
        bins.append({
            "bin_id": draw(st.integers(-(2**31), 2**31 - 1)),
            "price": txt(prices[position]),
            "reserve_x": txt(draw(amounts(0, 6))) if draw(st.booleans()) else "0",
            "reserve_y": txt(draw(amounts(0, 6))) if draw(st.integers(0, 4)) else "0",
        })
    return dlmm_case(draw, bins, fees)


def dlmm_case(draw: st.DrawFn, bins: list[dict[str, Any]], fee: st.SearchStrategy[str]) -> Case:
    """The book with an active bin and a fee drawn; it scales by the input that
    drains the Y side from the active bin on."""
    active, f = draw(st.integers(0, len(bins) - 1)), draw(fee)
    drain = sum((Decimal(b["reserve_y"]) / (Decimal(b["price"]) * Decimal(f)) for b in bins[active:]), Decimal(0))
    return Case("PyDlmmBook", (bins, active, f), Decimal(text_of(drain)) or Decimal(1))


@st.composite
def cryptoswap_cases(draw: st.DrawFn) -> Case:
    # Wide pools: any imbalance up to 10:1, amplification from constant
    # product to nearly constant sum, gamma across its useful range.
    x0 = draw(amounts(-2, 9))
    x1 = Decimal(text_of(x0 * draw(fractions("0.1", "10"))))
    amplification = draw(st.one_of(st.sampled_from(["1", "10", "400", "5000"]), st.integers(1, 5000).map(str)))
    gamma = draw(st.sampled_from(["0.000001", "0.000145", "0.001", "0.01", "0.1"]))
    i = draw(st.integers(0, 1))
    args = ([txt(x0), txt(x1)], amplification, gamma, draw(fees), i)
    return Case("PyCurveCryptoSwap", args, (x0, x1)[i])


@st.composite
def dodo_cases(draw: st.DrawFn) -> Case:
    base_target, quote_target = draw(amounts(0, 6)), draw(amounts(0, 6))
    base = Decimal(text_of(base_target * draw(fractions("0.2", "2"))))
    quote = Decimal(text_of(quote_target * draw(fractions("0.2", "2"))))
    oracle = draw(amounts(-1, 2))
    k = draw(st.one_of(st.just(Decimal(1)), fractions("0.0001", "1").filter(lambda v: v > 0)))
    sell_base = draw(st.booleans())
    args = (txt(base_target), txt(quote_target), txt(base), txt(quote), txt(oracle), txt(k), draw(fees), sell_base)
    return Case("PyDodoPmm", args, base if sell_base else quote)


STRATEGIES: dict[str, Callable[[], st.SearchStrategy[Case]]] = {
    "PyCpmm": cpmm_cases,
    "PyStableSwap": stableswap_cases,
    "PyPmm": pmm_cases,
    "PyConcentratedLiquidity": clmm_cases,
    "PyBalancerWeightedPool": balancer_cases,
    "PyVelodromeStable": velodrome_cases,
    "PyDlmmBook": dlmm_cases,
    "PyCurveCryptoSwap": cryptoswap_cases,
    "PyDodoPmm": dodo_cases,
}
FAMILIES = list(STRATEGIES)


# Realistic pools: token amounts of 10^3 to 10^9 units written with 6 or 18
# decimals, every digit drawn; fees of 0.01 % to 1 %.

DECIMALS = st.sampled_from([6, 18])
realistic_fees = st.one_of(st.sampled_from(["0.9999", "0.9995", "0.997", "0.99"]), fractions("0.99", "0.9999").map(str))


@st.composite
def token_amounts(draw: st.DrawFn, low: int, high: int) -> Decimal:
    """From 10^low to 10^high units, with 6 or 18 decimals."""
    decimals, exponent = draw(DECIMALS), draw(st.integers(low, high - 1))
    units = draw(st.integers(10 ** (exponent + decimals), 10 ** (exponent + decimals + 1) - 1))
    return Decimal(units).scaleb(-decimals)


def as_token(value: Decimal, decimals: int) -> Decimal:
    """value with `decimals` decimals, or 28 significant digits where that
    would take more (the most the module reads)."""
    with localcontext() as context:
        context.prec = 60
        exact = value.quantize(Decimal(1).scaleb(-decimals))
        context.prec = 28
        return +exact


@st.composite
def realistic_stableswap_cases(draw: st.DrawFn) -> Case:
    # Up to 10:1 between any two coins.
    base, decimals = draw(token_amounts(3, 8)), draw(DECIMALS)
    reserves = [txt(as_token(base * draw(fractions("1", "10")), decimals)) for _ in range(draw(st.integers(2, 4)))]
    return Case("PyStableSwap", (reserves, str(draw(st.integers(10, 5000))), draw(realistic_fees)),
                Decimal(reserves[0]))


@st.composite
def realistic_pmm_cases(draw: st.DrawFn) -> Case:
    base, quote = draw(token_amounts(3, 9)), draw(token_amounts(3, 9))
    # k·Q is the curvature as a pure number; from 1 on the reverse regime's
    # pole can come within reach.
    k = text_of(draw(amounts(-3, 1)) / quote)
    return Case("PyPmm", (txt(base), txt(quote), txt(draw(amounts(-3, 3))), k), base)


@st.composite
def realistic_clmm_cases(draw: st.DrawFn) -> Case:
    # Prices from 1e-6 to 1e6; an X side of 10^3 to 10^9 units.
    current = draw(amounts(-3, 3))
    lower = Decimal(text_of(current * (1 - draw(fractions("0.0001", "0.5")))))
    upper = Decimal(text_of(current * (1 + draw(fractions("0.0001", "1")))))
    amount = draw(token_amounts(3, 9))
    args = (text_of(amount * current, 20), txt(lower), txt(upper), txt(current), draw(realistic_fees))
    return Case("PyConcentratedLiquidity", args, amount)


@st.composite
def realistic_velodrome_cases(draw: st.DrawFn) -> Case:
    base = draw(token_amounts(3, 8))
    other = as_token(base * draw(fractions("1", "10")), draw(DECIMALS))
    x, y = (base, other) if draw(st.booleans()) else (other, base)
    return Case("PyVelodromeStable", (txt(x), txt(y), draw(realistic_fees)), x)


@st.composite
def realistic_dlmm_cases(draw: st.DrawFn) -> Case:
    # Prices fall by one bin step per bin along the walk, as a real book's do.
    count, top = draw(st.integers(1, 8)), draw(amounts(-6, 6))
    step = Decimal(draw(st.sampled_from(["0.0001", "0.001", "0.0025", "0.01"])))
    first_id = draw(st.integers(-100_000, 100_000))
    bins: list[dict[str, Any]] = []
    for position in range(count):
        bins.append({
            "bin_id": first_id - position,
            "price": text_of(top * (1 - step) ** position),
            "reserve_x": txt(draw(token_amounts(3, 9))) if draw(st.booleans()) else "0",
            "reserve_y": txt(draw(token_amounts(3, 9))) if draw(st.integers(0, 4)) else "0",
        })
    return dlmm_case(draw, bins, realistic_fees)


@st.composite
def realistic_cryptoswap_cases(draw: st.DrawFn) -> Case:
    # Up to 3:1 between the balances.
    x0 = draw(token_amounts(3, 9))
    x1 = as_token(x0 * draw(fractions("0.3334", "3")), draw(DECIMALS))
    amplification, gamma = str(draw(st.integers(1, 5000))), txt(draw(amounts(-6, -1)))
    i = draw(st.integers(0, 1))
    args = ([txt(x0), txt(x1)], amplification, gamma, draw(realistic_fees), i)
    return Case("PyCurveCryptoSwap", args, (x0, x1)[i])


@st.composite
def realistic_dodo_cases(draw: st.DrawFn) -> Case:
    base_target, quote_target, decimals = draw(token_amounts(3, 9)), draw(token_amounts(3, 9)), draw(DECIMALS)
    base = as_token(base_target * draw(fractions("0.5", "1.5")), decimals)
    quote = as_token(quote_target * draw(fractions("0.5", "1.5")), decimals)
    k = draw(st.one_of(st.just(Decimal(1)), fractions("0.0001", "1").filter(lambda v: v > 0)))
    sell_base = draw(st.booleans())
    args = (txt(base_target), txt(quote_target), txt(base), txt(quote), txt(draw(amounts(-3, 3))), txt(k),
            draw(realistic_fees), sell_base)
    return Case("PyDodoPmm", args, base if sell_base else quote)


REALISTIC: dict[str, Callable[[], st.SearchStrategy[Case]]] = {
    "PyCpmm": lambda: cpmm_cases(token_amounts(3, 9), realistic_fees),
    "PyStableSwap": realistic_stableswap_cases,
    "PyPmm": realistic_pmm_cases,
    "PyConcentratedLiquidity": realistic_clmm_cases,
    "PyBalancerWeightedPool": lambda: balancer_cases(token_amounts(3, 9), realistic_fees),
    "PyVelodromeStable": realistic_velodrome_cases,
    "PyDlmmBook": realistic_dlmm_cases,
    "PyCurveCryptoSwap": realistic_cryptoswap_cases,
    "PyDodoPmm": realistic_dodo_cases,
}


def valid_pools(family: str) -> st.SearchStrategy[Case]:
    return st.one_of(STRATEGIES[family](), REALISTIC[family]())


# ---------------------------------------------------------------------------
# Calls and their outcomes


def attempt(call: Callable[[], Any]) -> tuple[str, Any]:
    """("ok", value), ("error", exception) for a documented type, or
    ("fault", InternalFault).  Anything else propagates and fails the test."""
    try:
        return "ok", call()
    except DOCUMENTED as exc:
        return "error", exc
    except quarlen.InternalFault as fault:
        return "fault", fault


def reference_price(case: Case, pool: Any, factor: Decimal) -> str:
    """The pool's average rate over a tiny probe, times `factor`: prices on
    both sides of the point where arbitrage ends."""
    probe = Decimal(text_of(case.scale / 1_000_000, 6))
    if probe <= 0:
        return text_of(factor)
    outcome, out = attempt(lambda: pool.quote(txt(probe)))
    if outcome != "ok" or out <= 0:
        return text_of(factor)
    with localcontext() as context:
        context.prec = 40
        price = out / probe * factor
    return text_of(price) if price > Decimal("1e-20") else text_of(factor)


@st.composite
def constraints(draw: st.DrawFn, case: Case) -> tuple[str | None, str | None]:
    fixed_cost = draw(st.one_of(st.none(), st.just("0"), fractions("0", "0.01").map(
        lambda v: text_of(case.scale * v)), fractions("-1", "0").map(str)))
    max_size = draw(st.one_of(st.none(), st.none(), fractions("0.0001", "3").map(lambda v: text_of(case.scale * v))))
    return fixed_cost, max_size


def model_price(case: Case, model: Model, factor: Decimal) -> str:
    """The model's spot rate times `factor`, to 12 digits.  A factor of
    exactly 1 gives the spot rate itself rounded up, where arbitrage ends."""
    rate = model.spot_rate()
    if rate <= 0:
        # An output that stays zero for a while: the average rate of a
        # typical trade instead (or of the largest the pool takes).
        capacity = model.capacity()
        typical = case.scale if capacity is None else min(case.scale, capacity)
        rate = model.quote(typical) / typical if typical > 0 else rate
    if rate <= 0:
        return text_of(factor)
    if factor != 1:
        return text_of(rate * factor)
    with localcontext() as context:
        context.prec, context.rounding = 20, ROUND_CEILING
        rate = +rate
        if rate.as_tuple().exponent < -28:  # type: ignore[operator]
            context.prec = 60
            rate = max(rate.quantize(Decimal("1e-28")), Decimal("1e-28"))
        return format(rate, "f")


def sizing_inputs(family: str) -> st.SearchStrategy[tuple[Case, Decimal, tuple[str | None, str | None]]]:
    factors = st.one_of(st.just(Decimal(1)), fractions("0.3", "1.3"), fractions("0.3", "1.3"))
    return valid_pools(family).flatmap(lambda case: st.tuples(st.just(case), factors, constraints(case)))


def quote_tolerance(case: Case, out: Decimal, cost: Decimal = Decimal(0)) -> Decimal:
    """How far the module's quote, or its profit at a price costing `cost`,
    may stand from the model's."""
    info = case.info
    with localcontext() as context:
        context.prec = 60
        return info.relative * max(abs(out), abs(cost)) + info.floor(case.args)


def note_worst(kind: str, family: str, used: Decimal, line: str) -> None:
    """Keep the largest share of an allowance seen per family for the summary."""
    if used > _WORST.get((kind, family), Decimal(-1)):
        _WORST[(kind, family)] = used
        reliability.set_line(f"largest {kind} seen, as a share of its allowance", family, f"{family}: {line}")


def check_success(case: Case, pool: Any, price: str, fixed_cost: str | None, max_size: str | None,
                  result: Any) -> None:
    info = case.info
    assert result.guarantee_tier == info.tier
    assert (result.iterations is not None) == info.iterations
    delta, profit = result.optimal_delta, result.expected_profit
    assert isinstance(delta, Decimal) and isinstance(profit, Decimal)
    assert delta > 0 and profit > 0
    if max_size is not None:
        assert delta <= Decimal(max_size)
    # The reported profit is exactly (quote(d) - P * d) - fixed_cost in the
    # module's own arithmetic, with the pool's own quote.
    out = pool.quote(delta)
    recomputed = (D.of(txt(out)) - D.of(price) * D.of(txt(delta))) - D.of(fixed_cost or "0")
    assert str(recomputed) == txt(profit), f"profit {txt(profit)} but the quote gives {recomputed}"


def check_against_model(case: Case, model: Model, price: str, fixed_cost: str | None, max_size: str | None,
                        outcome: tuple[str, Any]) -> None:
    """No phantom profit, and (for the tiers that promise it) the model's
    best profit reached within 1e-6 of it."""
    info = case.info
    p, cost = Decimal(price), Decimal(fixed_cost or "0")
    where = f"{case.family}{case.args!r} at P={price}, fixed_cost={fixed_cost}, max_size={max_size}"
    searched = max_size
    if info.search_limit is not None:
        limit = info.search_limit(case.args)
        searched = txt(limit) if max_size is None else txt(min(limit, Decimal(max_size)))
    best_size, best = model.best(price, searched)
    with localcontext() as context:
        context.prec = 60
        if outcome[0] == "ok":
            size = outcome[1].optimal_delta
            gross = outcome[1].expected_profit + cost
            at_size = model.gross_profit(price, within_capacity(case, model, size))
            tolerance = quote_tolerance(case, model.quote(within_capacity(case, model, size)), p * size)
            assert not (model.concave and p >= model.spot_rate()), (
                f"{where}: a profit of {gross} at a price at or above the spot rate {model.spot_rate()}")
            assert gross <= at_size + tolerance, (
                f"{where}: reports a gross profit of {gross} at {txt(size)}, the model {at_size}")
        else:
            # An error may only stand for a profit the fixed cost eats up.
            size, tolerance = Decimal(0), quote_tolerance(case, Decimal(0))
            gross = max(cost, Decimal(0)) if best_size > 0 else best
        shortfall = best - gross
        allowance = Decimal("1e-6") * best + tolerance
        if info.step is not None:
            allowance += step_change(case, model, price, max_size, size, best_size)
        if searched != max_size:
            unbounded_size, unbounded = model.best(price, max_size)
            if unbounded - gross > allowance + Decimal("1e-6") * unbounded:
                report_miss("best sizes beyond the documented search interval (reported, not failed)", case.family,
                            (unbounded - gross) / unbounded,
                            f"{where}: the model's best {unbounded} at {unbounded_size}, beyond the search's "
                            f"{searched}; the module found {gross}")
    reliability.count("optimality checks against the model", case.family)
    note_worst("optimality gap", case.family, shortfall / allowance,
               f"{float(shortfall / allowance):.2e} (short by {float(shortfall):.2e} of a best profit of "
               f"{float(best):.2e})")
    if shortfall <= allowance or _REPORT_ONLY:
        return
    message = (f"{where}: {'size ' + txt(size) if outcome[0] == 'ok' else outcome[1]!s} falls {shortfall:.3e} "
               f"short of the model's best {best} at {best_size} (allowance {allowance:.3e})")
    refused_by_probe = (info.probe is not None and isinstance(outcome[1], quarlen.NoArbitrageOpportunity)
                        and model.quote(info.probe) <= p * info.probe)
    if refused_by_probe:
        report_miss("prices between the spot rate and the probe's average rate (reported, not failed)",
                    case.family, shortfall / best, message)
        return
    if info.tier != "EmpiricallyValidated":
        pytest.fail(message)
    report_miss("EmpiricallyValidated misses (reported, not failed)", case.family, shortfall / best, message)


def report_miss(section: str, family: str, share: Decimal, message: str) -> None:
    """Count a shortfall under `section` and keep the widest (as a share of
    the best profit) for the run's summary."""
    reliability.count(f"{section}: count, then the widest", family)
    if share > _WORST.get((section, family), Decimal(-1)):
        _WORST[(section, family)] = share
        reliability.set_line(f"{section}: count, then the widest", family, message[:500])


def within_capacity(case: Case, model: Model, size: Decimal) -> Decimal:
    """size, or the pool's capacity when size passes it only by the rounding
    of the module's own capacity."""
    capacity = model.capacity()
    if capacity is None or size <= capacity:
        return size
    assert size <= capacity * (1 + case.info.relative), f"size {size} beyond the capacity {capacity}"
    return capacity


def step_change(case: Case, model: Model, price: str, max_size: str | None, size: Decimal,
                best_size: Decimal) -> Decimal:
    """The largest change of the model's profit within one search step of
    `size`: for a concave profit, at the window's ends or at the peak."""
    assert case.info.step is not None
    step = case.info.step(case.args)
    low = max(size - step, Decimal(0))
    high = size + step if max_size is None else min(size + step, Decimal(max_size))
    at_size = model.gross_profit(price, size)
    points = [x for x in (low, high, best_size) if low <= x <= high]
    return max((abs(model.gross_profit(price, x) - at_size) for x in points), default=Decimal(0))


# ---------------------------------------------------------------------------
# Tests


@pytest.mark.parametrize("family", FAMILIES)
@given(data=st.data())
def test_valid_pools_size_consistently_and_optimally(family: str, data: st.DataObject) -> None:
    case, factor, (fixed_cost, max_size) = data.draw(sizing_inputs(family))
    reliability.count("cases tried per family", family)
    outcome, pool = attempt(case.pool)
    assert outcome == "ok", f"a valid pool was refused: {pool!r}"
    model = MODELS[family](*case.args)
    price = model_price(case, model, factor)

    by_method = attempt(lambda: pool.optimal_size(price, fixed_cost, max_size))
    by_function = attempt(lambda: case.function()(*case.args, price, fixed_cost, max_size))
    # Pools of ordinary magnitudes never reach the edges of the number.
    assert by_method[0] != "fault", f"internal fault {by_method[1]} for {case} at {price}"
    assert (by_method[0], repr(by_method[1]) if by_method[0] == "ok" else str(by_method[1])) == (
        by_function[0], repr(by_function[1]) if by_function[0] == "ok" else str(by_function[1]))
    if by_method[0] == "error":
        assert isinstance(by_method[1], quarlen.SizingError)
        reliability.count("sizing errors (SizingError) per family", family)
    else:
        check_success(case, pool, price, fixed_cost, max_size, by_method[1])
    check_against_model(case, model, price, fixed_cost, max_size, by_method)


@st.composite
def trade_sizes(draw: st.DrawFn, case: Case) -> Decimal:
    """From 10^-12 to 3 times the pool's typical input, as a token amount."""
    with localcontext() as context:
        context.prec = 40
        size = case.scale * Decimal(10) ** (Decimal(draw(st.integers(-120, 5))) / 10)
    return as_token(size, draw(DECIMALS))


@pytest.mark.parametrize("family", FAMILIES)
@given(data=st.data())
def test_quotes_match_the_reference_model(family: str, data: st.DataObject) -> None:
    case = data.draw(valid_pools(family))
    pool, model = case.pool(), MODELS[family](*case.args)
    for size in data.draw(st.lists(trade_sizes(case), min_size=1, max_size=4)):
        try:
            expected = model.quote(size)
        except ValueError:
            continue  # past what the pool can pay out
        outcome, out = attempt(lambda: pool.quote(txt(size)))
        where = f"{case.family}{case.args!r}.quote({txt(size)})"
        assert outcome == "ok", f"{where}: {out!r}, the model {expected}"
        with localcontext() as context:
            context.prec = 60
            error, tolerance = abs(out - expected), quote_tolerance(case, expected)
        reliability.count("quotes checked against the model", family)
        note_worst("quote error", family, error / tolerance,
                   f"{float(error / tolerance):.2e} ({float(error / expected) if expected else 0:.2e} relative)")
        assert error <= tolerance or _REPORT_ONLY, f"{where} = {txt(out)}, the model {expected}"


INVALID_NUMBERS: list[object] = [
    "abc", "", "1e", "1.2.3", "-", "_1", "1 ", "nan", "inf", "1e99", "1e-40", "0x10", "١",
    True, None, [], {}, object(), 10**40, -(10**40), "79228162514264337593543950336",
    Decimal("NaN"), Decimal("-Infinity"), float("inf"), float("nan"), 1e300, "-1", "0", "-0.0",
    "79228162514264337593543950335", "0.0000000000000000000000000001", "-79228162514264337593543950335",
]
INVALID_SEQUENCES: list[object] = ["abc", 5, None, [], ["1"], ["1", "x"], [None, None], {"a": 1}, iter(["1", "2"]),
                                  range(3), ("1", "2", "3"), [RaisingText(), "1"]]
INVALID_BINS: list[object] = [
    [], [{}], [5], ["abc"], [{"bin_id": "1", "price": 1, "reserve_x": 0, "reserve_y": 1}],
    [{"bin_id": 2**31, "price": 1, "reserve_x": 0, "reserve_y": 1}],
    [{"bin_id": 1, "price": 1, "reserve_x": 0}],
    [{"bin_id": 1, "price": "x", "reserve_x": 0, "reserve_y": 1}],
    [{"bin_id": 1, "price": 0, "reserve_x": -1, "reserve_y": 1}],
]
INVALID_INDICES: list[object] = [-1, 2**64, 2**70, "0", 1.0, None, 7, True]
INVALID_FLAGS: list[object] = [1, 0, None, "True", 1.0]

_BY_KIND: dict[str, list[object]] = {
    "N": INVALID_NUMBERS, "S": INVALID_SEQUENCES, "P": INVALID_SEQUENCES, "B": INVALID_BINS,
    "I": INVALID_INDICES, "F": INVALID_FLAGS,
}


@st.composite
def invalid_calls(draw: st.DrawFn, family: str) -> tuple[str, Callable[[], Any]]:
    case = draw(STRATEGIES[family]())
    kinds = KINDS[family] + "NNN"  # + reference_price, fixed_cost, max_size
    args: list[Any] = [*case.args, "1", None, None]
    position = draw(st.integers(0, len(args) - 1))
    # Mostly a wrong value of the parameter's kind; sometimes any kind at all.
    pool_of_values = _BY_KIND[kinds[position]] if draw(st.integers(0, 3)) else draw(st.sampled_from(list(_BY_KIND.values())))
    args[position] = draw(st.sampled_from(pool_of_values + [RaisingText()]))
    cut = len(case.args)
    entry = draw(st.sampled_from(["function", "class", "quote", "optimal_size", "binding"]))
    cls, function = getattr(quarlen, family), case.function()
    if entry == "function":
        return entry, lambda: function(*args)
    if entry == "class":
        return entry, lambda: cls(*args[:cut])
    if entry == "quote":
        return entry, lambda: cls(*case.args).quote(args[position])
    if entry == "optimal_size":
        return entry, lambda: cls(*case.args).optimal_size(*args[cut:])
    keyword = draw(st.sampled_from(["bogus", "reference_price", "x", "delta_in"]))
    given_positionally = draw(st.integers(0, len(args)))
    return entry, lambda: function(*args[:given_positionally], **{keyword: "1"})


@pytest.mark.parametrize("family", FAMILIES)
@given(data=st.data())
def test_invalid_arguments_raise_only_documented_errors(family: str, data: st.DataObject) -> None:
    entry, call = data.draw(invalid_calls(family))
    reliability.count("invalid-argument calls per family", family)
    try:
        outcome, value = attempt(call)
    except ProbeError:
        return  # the probe's own str() failure, passed on unchanged
    if outcome == "fault":
        assert str(value) in GENUINE_FAULTS, f"{entry}: internal fault {value!s}"
        reliability.count("genuine internal faults met by invalid-argument calls", str(value))


# ---------------------------------------------------------------------------
# Routes: chains of one to four realistic pools of any families, half the
# time of constant-product and concentrated-liquidity pools only, whose chain
# sizes in closed form.  A route's quote must be the exact chain of its legs'
# own quotes; its sizing is held to the model of the chain: its profit (and
# for the closed form its size) within 1e-20 of the model's best, or within
# 1e-6 of it where every leg's output is concave, and reported otherwise.

CLOSED_FORM = ("PyCpmm", "PyConcentratedLiquidity")


@st.composite
def route_cases(draw: st.DrawFn) -> Case:
    families = CLOSED_FORM if draw(st.booleans()) else tuple(FAMILIES)
    count = draw(st.sampled_from([1, 2, 2, 3, 3, 4]))
    legs = draw(st.lists(st.sampled_from(families).flatmap(lambda family: REALISTIC[family]()), min_size=count,
                         max_size=count))
    return Case("PyRoute", ([leg.pool() for leg in legs],), legs[0].scale)


def leg_model(pool: Any) -> Model:
    """A pool's model, built from the class and arguments it pickles as."""
    cls, args = pool.__reduce__()
    return MODELS[cls.__name__](*args)


def route_tolerance(legs: tuple[Any, ...], model: Route, out: Decimal, cost: Decimal = Decimal(0)) -> Decimal:
    """quote_tolerance for a route: the legs' relative tolerances added up,
    and each leg's floor carried through the legs after it at their spot
    rates."""
    relative, floor = Decimal(0), Decimal(0)
    with localcontext() as context:
        context.prec = 60
        for leg, reference in zip(legs, model.legs, strict=True):
            info = FAMILY_INFO[type(leg).__name__]
            floor = floor * reference.spot_rate() + info.floor(leg.__reduce__()[1])
            relative += info.relative
        return relative * max(abs(out), abs(cost)) + floor


def chained_quote(legs: tuple[Any, ...], size: Decimal) -> Any:
    amount: Any = txt(size)
    for leg in legs:
        amount = leg.quote(amount)
    return amount


def outcome_text(outcome: tuple[str, Any]) -> tuple[str, str]:
    return outcome[0], txt(outcome[1]) if outcome[0] == "ok" else f"{type(outcome[1]).__name__}: {outcome[1]}"


@given(data=st.data())
def test_routes_quote_their_chain_of_legs_and_size_like_its_model(data: st.DataObject) -> None:
    case = data.draw(route_cases())
    route, legs = case.pool(), case.pool().legs
    reliability.count("cases tried per family", f"PyRoute of {len(legs)}")
    for size in data.draw(st.lists(trade_sizes(case), min_size=1, max_size=2)):
        assert outcome_text(attempt(lambda: route.quote(txt(size)))) == outcome_text(
            attempt(lambda: chained_quote(legs, size)))
    model = Route([leg_model(leg) for leg in legs])
    price = model_price(case, model, data.draw(st.one_of(st.just(Decimal(1)), fractions("0.3", "1.3"))))
    fixed_cost, max_size = data.draw(constraints(case))
    where = f"{route!r} at P={price}, fixed_cost={fixed_cost}, max_size={max_size}"

    by_method = attempt(lambda: route.optimal_size(price, fixed_cost, max_size))
    by_function = attempt(lambda: quarlen.route_optimal_size(list(legs), price, fixed_cost, max_size))
    assert by_method[0] != "fault", f"{where}: internal fault {by_method[1]}"
    assert (by_method[0], repr(by_method[1])) == (by_function[0], repr(by_function[1]))
    if len(legs) == 1:
        # The pool's own sizing, its tier listed as the one leg.
        alone = attempt(lambda: legs[0].optimal_size(price, fixed_cost, max_size))
        if alone[0] == "ok":
            assert by_method[1].guarantee_tier_detail == {"legs": [alone[1].guarantee_tier]}
            alone = ("ok", (alone[1].optimal_delta, alone[1].expected_profit, alone[1].iterations))
            by_method = ("ok", (by_method[1].optimal_delta, by_method[1].expected_profit, by_method[1].iterations))
        assert repr(by_method) == repr(alone)
        return

    closed = all(type(leg).__name__ in CLOSED_FORM for leg in legs)
    if by_method[0] == "ok":
        result = by_method[1]
        size = result.optimal_delta
        tiers = [FAMILY_INFO[type(leg).__name__].tier for leg in legs]
        assert (result.guarantee_tier, result.guarantee_tier_detail) == ("ComposedFrom", {"legs": tiers})
        assert (result.iterations is None) == closed
        assert 0 < size <= Decimal(max_size or size) and result.expected_profit > 0
        recomputed = (D.of(txt(route.quote(size))) - D.of(price) * D.of(txt(size))) - D.of(fixed_cost or "0")
        assert str(recomputed) == txt(result.expected_profit)
    try:
        check_route_against_model(legs, model, price, fixed_cost, max_size, by_method, closed, where)
    except ArithmeticError:
        # A leg's model gives up (a CryptoSwap solve far from balance).
        reliability.count("routes the reference model could not evaluate", "PyRoute")


def check_route_against_model(legs: tuple[Any, ...], model: Route, price: str, fixed_cost: str | None,
                              max_size: str | None, outcome: tuple[str, Any], closed: bool, where: str) -> None:
    """No phantom profit, and the model's best profit reached: within 1e-20
    of it (and the size too) for the closed form, within 1e-6 otherwise;
    only reported when a leg's output is not concave."""
    cost, capacity = Decimal(fixed_cost or "0"), model.capacity()
    best_size, best = model.best(price, max_size)
    if outcome[0] == "ok":
        size, gross = outcome[1].optimal_delta, outcome[1].expected_profit + cost
        within = size if capacity is None else min(size, capacity)
        at_size = model.gross_profit(price, within)
        tolerance = route_tolerance(legs, model, model.quote(within), Decimal(price) * size)
        # The product of the legs' spot rates carries their rounding, and
        # each partial product keeps only the digits 28 places give it.
        relative, partial = sum((FAMILY_INFO[type(leg).__name__].relative for leg in legs), Decimal(0)), Decimal(1)
        for reference in model.legs:
            partial *= reference.spot_rate()
            relative += Decimal("1e-27") / partial
        assert not (model.concave and Decimal(price) >= model.spot_rate() * (1 + relative)), (
            f"{where}: a profit at no arbitrage")
        assert gross <= at_size + tolerance, f"{where}: a gross profit of {gross} at {size}, the model {at_size}"
    else:
        # An error may only stand for a profit the fixed cost eats up.
        size, tolerance = Decimal(0), route_tolerance(legs, model, Decimal(0))
        gross = max(cost, Decimal(0)) if best_size > 0 else best
    share = Decimal("1e-20") if closed else Decimal("1e-6")
    shortfall, allowance = best - gross, share * best + tolerance
    message = f"{where}: {outcome[1]!r} falls {shortfall:.3e} short of the model's best {best} at {best_size}"
    if not model.concave:
        if shortfall > allowance:
            report_miss("routes with a leg whose output is not concave: misses (reported, not failed)", "PyRoute",
                        shortfall / best, message)
        return
    reliability.count("optimality checks against the model", "PyRoute")
    note_worst("optimality gap", "PyRoute", shortfall / allowance, f"{float(shortfall / allowance):.2e}")
    assert shortfall <= allowance, message
    # The closed form's size too, to the few units of the 28th place a size
    # (or the output it is found from) far below one has; unless a leg's
    # capacity sets it: there the legs' own rounding of the amounts before it
    # does, which the profit's tolerance covers.
    if closed and outcome[0] == "ok" and (capacity is None or best_size < capacity * (1 - share)):
        places = Decimal("1e-27") * (1 + best_size / model.quote(best_size))
        assert abs(size - best_size) <= share * best_size + places, message


@given(case=valid_pools("PyCpmm"))
def test_a_pool_and_its_mirror_never_profit(case: Case) -> None:
    x, y, f = case.args
    cycle = [quarlen.PyCpmm(x, y, f), quarlen.PyCpmm(y, x, f)]
    outcome, error = attempt(lambda: quarlen.route_optimal_size(cycle, 1))
    assert outcome == "error" and str(error) in ("NoArbitrageOpportunity", "NoProfitableSize"), error
    size = as_token(Decimal(x) / 100, 18)
    assert quarlen.PyRoute(cycle).quote(size) < size


# ---------------------------------------------------------------------------
# The portfolio, over pools and routes


any_case = st.sampled_from([*FAMILIES, "PyRoute"]).flatmap(
    lambda family: route_cases() if family == "PyRoute" else STRATEGIES[family]())


@st.composite
def opportunities(draw: st.DrawFn) -> list[tuple[Case, Any, str, str | None, str | None, Any]]:
    """Cases with their pool, price, constraints and stand-alone outcome."""
    out = []
    for case in draw(st.lists(any_case, min_size=1, max_size=5)):
        pool = case.pool()
        price = reference_price(case, pool, draw(fractions("0.3", "1.3")))
        fixed_cost, max_size = draw(constraints(case))
        outcome, alone = attempt(lambda: pool.optimal_size(price, fixed_cost, max_size))
        assert outcome != "fault"
        out.append((case, pool, price, fixed_cost, max_size, alone if outcome == "ok" else None))
    return out


def items(opps: list[tuple[Case, Any, str, str | None, str | None, Any]]) -> list[dict[str, Any]]:
    result = []
    for number, (_, pool, price, fixed_cost, max_size, _) in enumerate(opps):
        item: dict[str, Any] = {"id": f"o{number}", "pool": pool, "reference_price": price}
        if fixed_cost is not None:
            item["fixed_cost"] = fixed_cost
        if max_size is not None or number % 2:
            item["max_size"] = max_size
        result.append(item)
    return result


@given(opps=opportunities(), headroom=fractions("0", "1"))
def test_portfolio_with_room_gives_every_opportunity_its_own_optimum(
        opps: list[tuple[Case, Any, str, str | None, str | None, Any]], headroom: Decimal) -> None:
    reliability.count("portfolio cases", "budget above the stand-alone optima")
    standalone = sum((alone.optimal_delta for *_, alone in opps if alone is not None), Decimal(0))
    budget = text_of(standalone * (1 + headroom) + 1, 20)
    result = quarlen.portfolio_optimize(budget, items(opps))
    assert result.shadow_price == 0
    allocations = result.allocations
    assert [p.id for p in allocations] == [f"o{n}" for n in range(len(opps))]
    total = D(0, 0)
    for position, (*_, alone) in zip(allocations, opps):
        if alone is None:
            assert position.allocated_size == 0 and position.expected_profit == 0
            assert position.guarantee_tier == "ProvenOptimal"
            continue
        assert txt(position.allocated_size) == txt(alone.optimal_delta)
        assert txt(position.expected_profit) == txt(alone.expected_profit)
        assert position.guarantee_tier == alone.guarantee_tier
        total = total + D.of(txt(alone.optimal_delta))
    assert txt(result.total_capital_used) == str(total)
    assert result.total_capital_used <= Decimal(budget)


@given(opps=opportunities(), share=fractions("0.05", "0.95"))
def test_portfolio_never_spends_more_than_its_budget(
        opps: list[tuple[Case, Any, str, str | None, str | None, Any]], share: Decimal) -> None:
    reliability.count("portfolio cases", "budget below the stand-alone optima")
    standalone = sum((alone.optimal_delta for *_, alone in opps if alone is not None), Decimal(0))
    budget = Decimal(text_of(standalone * share, 20))
    if budget <= 0:
        budget = Decimal(1)
    # No opportunity, however its arithmetic fails, may abort the whole call.
    result = quarlen.portfolio_optimize(txt(budget), items(opps))
    allocations = result.allocations
    assert [p.id for p in allocations] == [f"o{n}" for n in range(len(opps))]
    assert all(p.allocated_size >= 0 for p in allocations)
    assert result.total_capital_used <= budget
    shadow = result.shadow_price
    for position, (_, pool, price, fixed_cost, max_size, _) in zip(allocations, opps):
        size = position.allocated_size
        if max_size is not None:
            assert size <= Decimal(max_size)
        if size == 0:
            assert position.expected_profit == 0
            continue
        # A funded position earns money at the market price, counted exactly.
        out = pool.quote(size)
        with localcontext() as context:
            context.prec = 120
            assert (out - Decimal(price) * size) - Decimal(fixed_cost or "0") > 0, (
                f"{position.id} loses money at size {txt(size)}")
        # Its expected_profit is its profit at the price raised by the shadow
        # price, in the module's arithmetic (give or take what taking the
        # rounding excess of the total, far below 1e-22 of the budget, off
        # its size moves it); or, where the final fit scaled its size down by
        # at most the search's tolerance, the profit the pool's own sizing at
        # that price gave the unscaled size.
        raised = D.of(price) + D.of(txt(shadow))
        recomputed = (D.of(txt(out)) - raised * D.of(txt(size))) - D.of(fixed_cost or "0")
        with localcontext() as context:
            context.prec = 120
            trimmed = Decimal("1e-22") * budget * (abs(out) / size + raised.key())
            if abs(position.expected_profit - recomputed.key()) <= trimmed:
                continue
        sized = pool.optimal_size(str(raised), fixed_cost, max_size)
        assert txt(position.expected_profit) == txt(sized.expected_profit), (
            f"{position.id}: expected_profit {txt(position.expected_profit)}, at its size {recomputed}")
        assert size <= sized.optimal_delta <= size * Decimal("1.0001") * (1 + Decimal("1e-20"))
