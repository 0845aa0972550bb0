"""Property tests over the nine pool families and the portfolio.

Random valid pools, reference prices around each pool's own rate at zero size,
and random constraints are sized through the class and the module function;
random invalid arguments go through every entry point.  Every call must
either return or raise one of the documented exception types; a success must
be internally consistent (its profit recomputed exactly from the pool's own
quote) and, for the ProvenOptimal and NumericallyGuaranteed tiers, no size on
a fine grid around it or on a coarse grid of all admissible sizes may quote a
better profit beyond the family's tolerance.  EmpiricallyValidated misses are
reported in the run's summary instead of failing.

Runs are reproducible: the "ci" profile draws a fixed number of examples with
derandomize=True.  QUARLEN_HYPOTHESIS_PROFILE=thorough draws many more.
"""

from __future__ import annotations

import os
from collections.abc import Callable
from dataclasses import dataclass
from decimal import Decimal, localcontext
from typing import Any

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import quarlen
import reliability
from support import D, txt

_SANITIZED = os.environ.get("QUARLEN_SANITIZED") == "1"
# Report optimality gaps without failing (for measuring the tolerances).
_REPORT_ONLY = os.environ.get("QUARLEN_OPTIMALITY_REPORT_ONLY") == "1"
_WORST_GAP: dict[str, Decimal] = {}
_WORST_MISS: dict[str, Decimal] = {}
_COMMON = dict(
    deadline=None,
    database=None,
    print_blob=True,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much, HealthCheck.data_too_large],
)
settings.register_profile("ci", max_examples=25 if _SANITIZED else 120, derandomize=True, **_COMMON)  # type: ignore[arg-type]
settings.register_profile("thorough", max_examples=3000, derandomize=False, **_COMMON)  # type: ignore[arg-type]
settings.load_profile(os.environ.get("QUARLEN_HYPOTHESIS_PROFILE", "ci"))

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
# The families: expected tier, whether the search reports iterations, and the
# optimality allowance.  A size beats optimal_delta when its profit is higher
# by more than
#     relative * max(quote, P * d)   the rounding and solver noise of quotes
#   + absolute                        noise that does not scale with the trade
#   + the profit change across one search step either side of optimal_delta,
#     for the searches whose resolution is a fixed step.
#
# Why each:
# - closed forms (constant product, concentrated liquidity, DLMM): the size is
#   a few correctly rounded operations and a 28-digit square root; the profit
#   is flat at the optimum, so a neighbour can only win by the quotes' own
#   rounding in the last few of 28 digits (relative 1e-18 leaves room for the
#   small pools whose quotes keep fewer digits; 1e-24 absolute for values
#   that have only a few digits left at 28 places).
# - Balancer: the same through powd, good to about 27 digits; the size is
#   R_i * (q - 1) with q near 1 for small arbitrages, which can cost a few
#   digits more: 1e-15.
# - StableSwap: the search zeroes a centred difference of step h = x_0 / 1000,
#   not the derivative, so it places the optimum only to within about h; and
#   its Newton solves stop at a relative change of 1e-6 (an error near 1e-12
#   after the quadratic step): relative 1e-9 plus one step h.
# - Velodrome: the golden section stops at a width of 1e-6 * x: relative 1e-9
#   for the Newton solves (1e-7 steps) plus that width as the step.
# - CryptoSwap: 64 golden-section passes leave a width of ~1e-13 of the
#   bracket, but the solves stop at an absolute residual or change of 1e-6,
#   and their forward-difference Newton steps converge only linearly, so the
#   last change understates the error: quotes are smooth to about 1e-8 of
#   themselves, and 1e-5 absolute for the smallest trades.
# - PMM and DODO (EmpiricallyValidated): misses are reported, not failed, at
#   relative 1e-9.


@dataclass(frozen=True)
class Info:
    function: str
    tier: str
    iterations: bool
    relative: Decimal
    absolute: Decimal = Decimal("1e-24")
    # The search's resolution in input units, from the constructor arguments.
    step: Callable[[tuple[Any, ...]], Decimal] | None = None


FAMILY_INFO: dict[str, Info] = {
    "PyCpmm": Info("cpmm_optimal_size", "ProvenOptimal", False, Decimal("1e-18")),
    "PyStableSwap": Info("stableswap_optimal_size", "NumericallyGuaranteed", True, Decimal("1e-9"),
                         step=lambda args: Decimal(args[0][0]) / 1000),
    "PyPmm": Info("pmm_optimal_size", "EmpiricallyValidated", True, Decimal("1e-9")),
    "PyConcentratedLiquidity": Info("clmm_optimal_size", "ProvenOptimal", False, Decimal("1e-18")),
    "PyBalancerWeightedPool": Info("balancer_optimal_size", "ProvenOptimal", False, Decimal("1e-15")),
    "PyVelodromeStable": Info("velodrome_optimal_size", "NumericallyGuaranteed", True, Decimal("1e-9"),
                              step=lambda args: Decimal(args[0]) / 1_000_000),
    "PyDlmmBook": Info("dlmm_optimal_size", "ProvenOptimal", False, Decimal("1e-18")),
    "PyCurveCryptoSwap": Info("cryptoswap_optimal_size", "NumericallyGuaranteed", True, Decimal("1e-8"),
                              absolute=Decimal("1e-5")),
    "PyDodoPmm": Info("dodo_optimal_size", "EmpiricallyValidated", True, Decimal("1e-9")),
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
def cpmm_cases(draw: st.DrawFn) -> Case:
    x, y = draw(amounts(-2, 9)), draw(amounts(-2, 9))
    return Case("PyCpmm", (txt(x), txt(y), draw(fees)), x)


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
def balancer_cases(draw: st.DrawFn) -> Case:
    n = draw(st.integers(2, 4))
    reserves = [txt(draw(amounts(0, 8))) for _ in range(n)]
    parts = draw(st.lists(st.integers(5, 100), min_size=n, max_size=n))
    weights = [(Decimal(p) / sum(parts)).quantize(Decimal("0.0001")) for p in parts[:-1]]
    weights.append(Decimal(1) - sum(weights))
    i, o = draw(st.sampled_from([(a, b) for a in range(n) for b in range(n) if a != b]))
    args = (reserves, [txt(w) for w in weights], draw(fees), i, o)
    return Case("PyBalancerWeightedPool", args, Decimal(reserves[i]))


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
    active = draw(st.integers(0, count - 1))
    f = draw(fees)
    drain = sum((Decimal(b["reserve_y"]) / (Decimal(b["price"]) * Decimal(f)) for b in bins[active:]), Decimal(0))
    return Case("PyDlmmBook", (bins, active, f), Decimal(text_of(drain)) or Decimal(1))


@st.composite
def cryptoswap_cases(draw: st.DrawFn) -> Case:
    # The invariant and balance solves are Newton iterations on a forward
    # difference that stop at absolute residuals (1e-6, with a step of at
    # least 1e-4) and clamp the balance into [1e-6, D^2 / 4x]. They settle on
    # the pool's own curve only where the curve is close to the constant
    # product: gamma up to about 1e-3, A up to a few hundred, balances of at
    # least a hundred units and not far apart. Outside that (gamma = 0.01 with
    # A = 400, say) they can settle on another root and quote nonsense, which
    # no search can size; see the README's Reliability section.
    x0 = draw(amounts(2, 8))
    x1 = Decimal(text_of(x0 * draw(fractions("0.5", "2"))))
    amplification = draw(st.sampled_from(["10", "50", "100", "400"]))
    gamma = draw(st.sampled_from(["0.000145", "0.0005", "0.001"]))
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


def gross_profit(pool: Any, price: Decimal, size: Decimal) -> Decimal | None:
    """quote(size) - price * size, exactly enough to compare (60 digits), or
    None where the pool cannot quote that size."""
    outcome, out = attempt(lambda: pool.quote(txt(size)))
    if outcome != "ok":
        return None
    with localcontext() as context:
        context.prec = 60
        return out - price * size  # type: ignore[no-any-return]


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


def sizing_inputs(family: str) -> st.SearchStrategy[tuple[Case, Decimal, tuple[str | None, str | None]]]:
    return STRATEGIES[family]().flatmap(
        lambda case: st.tuples(st.just(case), fractions("0.3", "1.3"), constraints(case))
    )


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


def check_optimality(case: Case, pool: Any, price_text: str, max_size: str | None, result: Any) -> None:
    """No size near optimal_delta, nor any on a coarse grid of admissible
    sizes, beats it by more than the family's allowance."""
    info = case.info
    price, delta = Decimal(price_text), result.optimal_delta
    at_optimum = gross_profit(pool, price, delta)
    assert at_optimum is not None
    with localcontext() as context:
        context.prec = 60
        gross = max(abs(at_optimum + price * delta), price * delta)
        limit = Decimal(max_size) if max_size is not None else max(4 * delta, case.scale)
        allowance = info.relative * gross + info.absolute
        if info.step is not None:
            step = info.step(case.args)
            for size in (delta - step, delta + step):
                other = gross_profit(pool, price, Decimal(text_of(size, 20))) if 0 < size <= limit else None
                if other is not None:
                    allowance += abs(other - at_optimum)
        sizes = [delta * (1 + sign * Decimal(10) ** -exponent) for exponent in (2, 4, 6, 9) for sign in (-1, 1)]
        sizes += [limit * k / 32 for k in range(1, 33)]
        worst, worst_size = Decimal(0), delta
        for size in sizes:
            size = Decimal(text_of(size, 20))
            if size <= 0 or size > limit:
                continue
            other = gross_profit(pool, price, size)
            if other is not None and other - at_optimum > worst:
                worst, worst_size = other - at_optimum, size
    ratio = worst / gross if gross else Decimal(0)
    used = worst / allowance
    reliability.count("optimality checks", case.family)
    if used > _WORST_GAP.get(case.family, Decimal(-1)):
        _WORST_GAP[case.family] = used
        reliability.set_line("largest optimality gap seen, as a share of its allowance", case.family,
                             f"{case.family}: {float(used):.2e} (gap {float(ratio):.2e} of the gross)")
    if worst <= allowance or _REPORT_ONLY:
        return
    message = (f"{case.family}{case.args!r} at P={price_text}: size {worst_size} beats optimal_delta "
               f"{txt(delta)} by {worst:.3e} ({ratio:.2e} of the gross, allowance {allowance:.3e})")
    if info.tier == "EmpiricallyValidated":
        section = "EmpiricallyValidated misses (reported, not failed): count, then the widest"
        reliability.count(section, case.family)
        if ratio > _WORST_MISS.get(case.family, Decimal(-1)):
            _WORST_MISS[case.family] = ratio
            reliability.set_line(section, case.family, message[:500])
        return
    pytest.fail(message)


# ---------------------------------------------------------------------------
# Tests


@pytest.mark.parametrize("family", FAMILIES)
@given(data=st.data())
def test_valid_pools_size_consistently_and_optimally(family: str, data: st.DataObject) -> None:
    case, factor, (fixed_cost, max_size) = data.draw(sizing_inputs(family))
    reliability.count("cases tried per family", family)
    outcome, pool = attempt(case.pool)
    assert outcome == "ok", f"a valid pool was refused: {pool!r}"
    price = reference_price(case, pool, factor)

    by_method = attempt(lambda: pool.optimal_size(price, fixed_cost, max_size))
    by_function = attempt(lambda: case.function()(*case.args, price, fixed_cost, max_size))
    # Pools of ordinary magnitudes never reach the edges of the number.
    assert by_method[0] != "fault", f"internal fault {by_method[1]} for {case} at {price}"
    assert (by_method[0], repr(by_method[1]) if by_method[0] == "ok" else str(by_method[1])) == (
        by_function[0], repr(by_function[1]) if by_function[0] == "ok" else str(by_function[1]))
    if by_method[0] == "error":
        assert type(by_method[1]) is ValueError
        reliability.count("sizing errors (ValueError) per family", family)
        return
    check_success(case, pool, price, fixed_cost, max_size, by_method[1])
    check_optimality(case, pool, price, max_size, by_method[1])


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
# The portfolio


any_case = st.sampled_from(FAMILIES).flatmap(lambda family: STRATEGIES[family]())


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
