"""Shared helpers for the Python tests.

Besides small utilities this holds a slow, obviously-correct model of the
module's 96-bit decimal arithmetic (plain Python integers, no shortcuts) and
of the constant-product sizing and the portfolio search built on it.  The
model lets the tests check results digit for digit on inputs nobody worked out
by hand; test_reference_model.py pins the model itself to hand-checked values
first, so a disagreement points at the extension rather than at the model.
"""

from __future__ import annotations

from collections.abc import Callable
from dataclasses import dataclass
from decimal import Decimal
from typing import Any

import pytest

import quarlen

# Every public name, in registration order.  Pool families arrive one at a
# time, so tests compare against the subset that exists.
ALL_NAMES = [
    "SizingResult",
    "PySizingConstraints",
    "AllocatedPosition",
    "PortfolioResult",
    "PyCpmm",
    "PyStableSwap",
    "PyPmm",
    "PyConcentratedLiquidity",
    "PyBalancerWeightedPool",
    "PyVelodromeStable",
    "PyDlmmBook",
    "PyCurveCryptoSwap",
    "PyDodoPmm",
    "cpmm_optimal_size",
    "stableswap_optimal_size",
    "pmm_optimal_size",
    "clmm_optimal_size",
    "balancer_optimal_size",
    "velodrome_optimal_size",
    "dlmm_optimal_size",
    "cryptoswap_optimal_size",
    "dodo_optimal_size",
    "portfolio_optimize",
]

POOL_CLASSES = ALL_NAMES[4:13]


def missing_names() -> list[str]:
    return [name for name in ALL_NAMES if not hasattr(quarlen, name)]


def quoted(text: str) -> str:
    """The quoting used in conversion messages and error details."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def txt(value: object) -> str:
    """The module's text form of a returned Decimal.

    str() of a decimal.Decimal switches to exponent notation for small values
    (0E-28, 1.5E-12); fixed-point formatting shows the digits and the scale
    exactly as the module wrote them."""
    return format(value, "f") if isinstance(value, Decimal) else str(value)


def invalid_reserves(detail: str) -> str:
    return "InvalidReserves { detail: " + quoted(detail) + " }"


def notes(exc: BaseException) -> list[str]:
    return list(getattr(exc, "__notes__", []))


def sized_both_ways(function_call: Callable[[], quarlen.SizingResult],
                    method_call: Callable[[], quarlen.SizingResult], *, as_text: Callable[[object], str] = str,
                    with_detail: bool = False) -> tuple[Any, ...]:
    """Sizes through a module function and through the matching pool
    object's optimal_size, checks that both give the same outcome, and
    returns it: ("err", message) or ("ok", delta, profit, tier[, detail],
    iterations), the numbers as `as_text` writes them."""
    outcomes: list[tuple[Any, ...]] = []
    for call in (function_call, method_call):
        try:
            r = call()
        except ValueError as exc:
            outcomes.append(("err", str(exc)))
        else:
            assert type(r) is quarlen.SizingResult
            detail = (r.guarantee_tier_detail,) if with_detail else ()
            outcomes.append(("ok", as_text(r.optimal_delta), as_text(r.expected_profit), r.guarantee_tier, *detail,
                             r.iterations))
    assert outcomes[0] == outcomes[1]
    return outcomes[0]


def require(name: str) -> Any:
    """The module attribute, or skip while that pool family is not built."""
    if not hasattr(quarlen, name):
        pytest.skip("pool family not yet built")
    return getattr(quarlen, name)


# ---------------------------------------------------------------------------
# Pool families.  One entry per family: a pool that has an arbitrage at
# `reference_price`, and an input to quote.  Later families add an entry here
# and the generic tests (immutability, pickling, class/function agreement,
# portfolio dispatch) pick them up.


# Any of the nine pool classes, the legs a route takes (ROUTE.pool() gives a PyRoute).
Pool = (
    quarlen.PyCpmm
    | quarlen.PyStableSwap
    | quarlen.PyPmm
    | quarlen.PyConcentratedLiquidity
    | quarlen.PyBalancerWeightedPool
    | quarlen.PyVelodromeStable
    | quarlen.PyDlmmBook
    | quarlen.PyCurveCryptoSwap
    | quarlen.PyDodoPmm
)

# What the module converts to a number.
Number = Decimal | int | str | float


@dataclass(frozen=True)
class Family:
    cls: str
    function: str
    args: tuple[Any, ...]
    reference_price: Number
    delta_in: Number

    def pool(self) -> Pool:
        pool: Pool = require(self.cls)(*self.args)
        return pool

    def optimal_size(self, *extra: Number | None, **kw: Number | None) -> quarlen.SizingResult:
        function: Callable[..., quarlen.SizingResult] = require(self.function)
        return function(*self.args, self.reference_price, *extra, **kw)


# Arguments that serve both the class and the module function: the indices
# and the direction flag the classes default are given explicitly.
_BINS: list[dict[str, int | str]] = [
    {"bin_id": 1, "price": "1.1", "reserve_x": 0, "reserve_y": 100},
    {"bin_id": 2, "price": "1.0", "reserve_x": 0, "reserve_y": 100},
]

FAMILIES = [
    Family("PyCpmm", "cpmm_optimal_size", (100, 200, "0.997"), "0.5", 10),
    Family("PyStableSwap", "stableswap_optimal_size", (["1000", "2000"], "100", "0.997"), "0.99", 10),
    Family("PyPmm", "pmm_optimal_size", (1000, 1000, 1, "0.001"), "0.5", 100),
    Family("PyConcentratedLiquidity", "clmm_optimal_size", (1000, "0.9", "1.1", "1.0", "0.997"), "0.9", 10),
    Family("PyBalancerWeightedPool", "balancer_optimal_size", (["1000", "2000"], ["0.5", "0.5"], "0.997", 0, 1),
           "1.5", 10),
    Family("PyVelodromeStable", "velodrome_optimal_size", (1000, 1200, "0.997"), "0.95", 10),
    Family("PyDlmmBook", "dlmm_optimal_size", (_BINS, 0, "0.997"), "1.0", 10),
    Family("PyCurveCryptoSwap", "cryptoswap_optimal_size", ([1000, 1000], 100, "0.01", "0.997", 0), "0.9", 10),
    Family("PyDodoPmm", "dodo_optimal_size", (100, 100, 100, 100, 1, "0.5", "0.997", True), "0.9", 10),
]


# A route through three families, one of them solved iteratively: USDC to
# ETH on a constant-product pool, ETH to stETH on a StableSwap pool, stETH to
# USDC on a concentrated-liquidity pool.  The thread and leak tests run it
# besides the nine families.
ROUTE = Family("PyRoute", "route_optimal_size", ([
    quarlen.PyCpmm(4_500_000, 1500, "0.997"),
    quarlen.PyStableSwap([100_000, 102_000], 200, "0.9996"),
    quarlen.PyConcentratedLiquidity(40_000, "53.85", "57.45", "55.68", "0.9995"),
],), "1", 10)


def family_params() -> list[Any]:
    return [pytest.param(f, id=f.cls) for f in FAMILIES]


# ---------------------------------------------------------------------------
# Reference model of the decimal arithmetic.  A value is (coefficient, scale)
# with a signed Python int coefficient, value = coefficient / 10**scale.

MAX = 2**96 - 1
MAX_SCALE = 28


class Fault(Exception):
    """An arithmetic fault of the model (the extension raises InternalFault)."""


@dataclass(frozen=True, eq=False)
class D:
    c: int
    s: int

    @staticmethod
    def of(text: object) -> "D":
        text = str(text)
        sign = -1 if text.startswith("-") else 1
        text = text.lstrip("+-")
        whole, _, frac = text.partition(".")
        c, s = int(whole + frac), len(frac)
        assert s <= MAX_SCALE and c <= MAX, "model parse only handles values that fit"
        return D(sign * c, s)

    def __str__(self) -> str:
        digits = str(abs(self.c)).rjust(self.s + 1, "0")
        body = digits[: len(digits) - self.s] + ("." + digits[len(digits) - self.s :] if self.s else "")
        return ("-" if self.c < 0 else "") + body

    def __eq__(self, o: object) -> bool:
        return isinstance(o, D) and self.key() == o.key()

    __hash__ = None  # type: ignore[assignment]

    def key(self) -> Decimal:
        # Decimal(text) is exact; scaleb() would round to the context's 28 digits.
        return Decimal(str(self))

    def __lt__(self, o: D) -> bool:
        return self.key() < o.key()

    def __le__(self, o: D) -> bool:
        return self.key() <= o.key()

    def __gt__(self, o: D) -> bool:
        return self.key() > o.key()

    def is_pos(self) -> bool:
        return self.c > 0

    def __add__(self, o: D) -> D:
        s = max(self.s, o.s)
        return _reduce(self.c * 10 ** (s - self.s) + o.c * 10 ** (s - o.s), s, "Addition overflowed")

    def __sub__(self, o: D) -> D:
        s = max(self.s, o.s)
        return _reduce(self.c * 10 ** (s - self.s) - o.c * 10 ** (s - o.s), s, "Subtraction overflowed")

    def __mul__(self, o: D) -> D:
        return _reduce(self.c * o.c, self.s + o.s, "Multiplication overflowed")

    def __truediv__(self, o: D) -> D:
        return _divide(self, o)

    def __abs__(self) -> D:
        return D(abs(self.c), self.s)


ZERO, ONE, TWO = D(0, 0), D(1, 0), D(2, 0)


def _round_off(m: int, k: int) -> int:
    """Drop k trailing digits of the non-negative m, half to even on all of them."""
    if k == 0:
        return m
    q: int
    r: int
    q, r = divmod(m, 10**k)
    half = 5 * 10 ** (k - 1)
    if r > half or (r == half and q % 2 == 1):
        q += 1
    return q


def _reduce(c: int, s: int, fault: str) -> D:
    sign, m = (-1 if c < 0 else 1), abs(c)
    k = max(0, s - MAX_SCALE)
    while m // 10**k > MAX:
        k += 1
    q = _round_off(m, k)
    if q > MAX:
        q = _round_off(q, 1)
        k += 1
    if s - k < 0:
        raise Fault(fault)
    return D(sign * q, s - k)


def _divide(a: D, b: D) -> D:
    ma, mb = abs(a.c), abs(b.c)
    if mb == 0:
        raise Fault("Division by zero")
    q, r, s = ma // mb, ma % mb, a.s - b.s
    extended = False
    while True:
        if r == 0 and s >= 0:
            break
        if r == 0:
            k = min(9, -s)
            q, s = q * 10**k, s + k
            if q > MAX:
                raise Fault("Division overflowed")
            continue
        extended = True
        k = 0
        while k < 9 and k < MAX_SCALE - s and q * 10 ** (k + 1) <= MAX:
            k += 1
        if k == 0:
            if 2 * r > mb or (2 * r == mb and q % 2 == 1):
                q += 1
            if q > MAX:
                if s == 0:
                    raise Fault("Division overflowed")
                q, s = 7922816251426433759354395034, s - 1
            break
        q, r, s = q * 10**k + (r * 10**k) // mb, (r * 10**k) % mb, s + k
    if extended:
        def low() -> int:
            return q & 0xFFFFFFFF

        while low() == 0 and s >= 8 and q % 10**8 == 0:
            q, s = q // 10**8, s - 8
        for digits, mask in ((4, 15), (2, 3), (1, 1)):
            if low() & mask == 0 and s >= digits and q % 10**digits == 0:
                q, s = q // 10**digits, s - digits
    negative = (a.c < 0) != (b.c < 0) and q != 0
    return D(-q if negative else q, s)


def sqrt(x: D) -> D | None:
    if x.c < 0:
        return None
    if x.c == 0:
        return ZERO
    r = x / TWO
    if r.c == 0:
        r = x
    for _ in range(999):
        last = r
        r = (r + x / r) / TWO
        if r == last:
            return r
    raise Fault("geo mean circuit breaker")


# ---------------------------------------------------------------------------
# Reference model of the constant-product pool and the portfolio search.
# Outcomes are ("ok", delta, profit) or ("err", text form of the error).


# Outcomes: ("ok", value...) or ("err", text form of the error).
Outcome = tuple[Any, ...]


def cpmm_quote(x: D, y: D, f: D, d: D) -> Outcome:
    a = f * d
    s = x + a
    if not s.is_pos():
        return ("err", invalid_reserves(f"x + fee_retention * delta_in must be > 0, got {s}"))
    return ("ok", (y * f) * d / s)


def cpmm_size(x: D, y: D, f: D, p: D, fixed_cost: D = ZERO, max_size: D | None = None) -> Outcome:
    if not p.is_pos():
        return ("err", invalid_reserves(f"reference_price must be > 0, got {p}"))
    if (f * y) / x <= p:
        return ("err", "NoArbitrageOpportunity")
    radicand = ((x * y) * f) / p
    q = sqrt(radicand)
    if q is None:
        return ("err", invalid_reserves(f"failed to compute sqrt of radicand {radicand}"))
    d = (q - x) / f
    if max_size is not None and max_size < d:
        d = max_size
    if not d.is_pos():
        return ("err", "NoProfitableSize")
    quote = cpmm_quote(x, y, f, d)
    if quote[0] == "err":
        return quote
    profit = (quote[1] - p * d) - fixed_cost
    if not profit.is_pos():
        return ("err", "NoProfitableSize")
    return ("ok", d, profit)


@dataclass(frozen=True)
class Opp:
    id: str
    x: str
    y: str
    f: str
    price: str
    fixed_cost: str | None = None
    max_size: str | None = None

    def as_item(self) -> dict[str, Any]:
        item: dict[str, Any] = {"id": self.id, "pool": quarlen.PyCpmm(self.x, self.y, self.f),
                                "reference_price": self.price}
        if self.fixed_cost is not None:
            item["fixed_cost"] = self.fixed_cost
        if self.max_size is not None:
            item["max_size"] = self.max_size
        return item


def _size_one(o: Opp, lam: D) -> Outcome:
    try:
        return cpmm_size(
            D.of(o.x), D.of(o.y), D.of(o.f), D.of(o.price) + lam,
            D.of(o.fixed_cost) if o.fixed_cost is not None else ZERO,
            D.of(o.max_size) if o.max_size is not None else None,
        )
    except Fault as fault:
        return ("err", str(fault))


def _profit_at(o: Opp, lam: D, size: D) -> D | None:
    try:
        out = cpmm_quote(D.of(o.x), D.of(o.y), D.of(o.f), size)
        if out[0] == "err":
            return None
        quote: D = out[1]
        return (quote - (D.of(o.price) + lam) * size) - (D.of(o.fixed_cost) if o.fixed_cost is not None else ZERO)
    except Fault:
        return None


def _allocate_at(opps: list[Opp], lam: D) -> tuple[D, list[list[Any]]]:
    total, positions = ZERO, list[list[Any]]()
    for o in opps:
        out = _size_one(o, lam)
        if out[0] == "ok" and out[1].is_pos():
            total = total + out[1]
            positions.append([o.id, "ProvenOptimal", out[1], out[2]])
        else:
            positions.append([o.id, "ProvenOptimal", ZERO, ZERO])
    return total, positions


def _sum(positions: list[list[Any]], field: int) -> D:
    total = ZERO
    for p in positions:
        total = total + p[field]
    return total


PortfolioTexts = tuple[str, str, str, list[tuple[str, ...]]]


def portfolio(budget: str, opps: list[Opp]) -> PortfolioTexts:
    """(total_used, total_profit, shadow_price, [(id, tier, size, profit)]) as texts."""
    b = D.of(budget)

    def done(total: D, positions: list[list[Any]], lam: D) -> PortfolioTexts:
        return (str(total), str(_sum(positions, 3)), str(lam),
                [tuple(map(str, p)) for p in positions])

    if not opps:
        return done(ZERO, [], ZERO)
    total, positions = _allocate_at(opps, ZERO)
    if total <= b:
        return done(total, positions, ZERO)
    hi = D(10, 2)
    for _ in range(96):
        t, _ = _allocate_at(opps, hi)
        if t <= b:
            break
        hi = hi * TWO
    lo, tol_abs = ZERO, b * D(1, 4)
    for _ in range(48):
        mid = (lo + hi) / TWO
        total, positions = _allocate_at(opps, mid)
        lam = mid
        converged = abs(total - b) <= tol_abs
        if converged:
            break
        if total <= b:
            hi = mid
        else:
            lo = mid
    if b < total and total.is_pos():
        # Scale onto the budget; without convergence, price each scaled
        # position again and drop those that no longer earn anything.
        factor = b / total
        for o, p in zip(opps, positions):
            funded = p[2].is_pos()
            p[2] = p[2] * factor
            if converged or not funded:
                continue
            profit = _profit_at(o, lam, p[2]) if p[2].is_pos() else None
            if profit is not None and profit.is_pos():
                p[3] = profit
            else:
                p[1:] = ["ProvenOptimal", ZERO, ZERO]
        total = _sum(positions, 2)
        # Take a rounding excess off the last funded position.
        for p in reversed(positions):
            if not b < total:
                break
            if not p[2].is_pos():
                continue
            excess = total - b
            if excess < p[2]:
                p[2] = p[2] - excess
            else:
                p[1:] = ["ProvenOptimal", ZERO, ZERO]
            total = _sum(positions, 2)
    return done(total, positions, lam)
