"""Byte-identity check of every result the module gives.

A fixed set of 10,000 sizings across the nine pool families (pools, prices
and constraints drawn from a fixed pseudo-random sequence; arguments given as
decimal.Decimal, int and str; error outcomes included), plus a few small
portfolios, is run through the module functions. The full text of each
outcome (optimal_delta, expected_profit, tier, detail and iterations, or the
error's type and message) is hashed with SHA-256, and the hash must equal the
one recorded in bench/identity.sha256.

Speed work must not change a digit, so this hash must not move. When a
change of results is intended (and noted in the changelog), record the new
hash with

    PYTHONPATH=<build dir> python bench/identity.py --write

Every pool here stays well inside the number's range: no case raises the
module's InternalFault (the script refuses to record one), so changes to how
overflowing inputs are handled do not move the hash.
"""

from __future__ import annotations

import argparse
import hashlib
import os
import sys
from collections.abc import Callable, Iterator
from decimal import Decimal
from typing import Any

import quarlen

SIZINGS = 10_000
PORTFOLIOS = 24
HASH_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "identity.sha256")


class Draws:
    """A 64-bit xorshift sequence: the same numbers on every platform and
    interpreter version, unlike anything that depends on random's internals."""

    def __init__(self, seed: int) -> None:
        self.state = seed or 0x9E3779B97F4A7C15

    def next(self) -> int:
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFFFFFFFFFF
        x ^= x >> 7
        x ^= (x << 17) & 0xFFFFFFFFFFFFFFFF
        self.state = x
        return x

    def below(self, n: int) -> int:
        return self.next() % n

    def chance(self, percent: int) -> bool:
        return self.below(100) < percent

    def decimal(self, low: str, high: str, places: int) -> Decimal:
        """A value in [low, high] with `places` digits after the point."""
        lo = int(Decimal(low).scaleb(places))
        hi = int(Decimal(high).scaleb(places))
        return Decimal(lo + self.below(hi - lo + 1)).scaleb(-places)

    def number(self, value: Decimal) -> Any:
        """The value as one of the forms callers pass: Decimal, str, or an int
        when it is whole."""
        form = self.below(4)
        if form == 0 and value == value.to_integral_value():
            return int(value)
        if form == 1:
            return str(value)
        if form == 2 and value != 0:
            return value.normalize()  # exponent forms such as 1E+3
        return value


def fee(d: Draws) -> Decimal:
    if d.chance(2):
        return Decimal(["0", "1.5", "-0.1"][d.below(3)])  # refused by every pool
    return Decimal(1) if d.chance(10) else d.decimal("0.990", "0.9999", 4)


def reserve(d: Draws, low: str = "10", high: str = "10000000") -> Decimal:
    if d.chance(1):
        return Decimal("-5") if d.chance(50) else Decimal(0)
    magnitude = d.below(len(high) - len(low) + 1)
    top = Decimal(low) * (Decimal(10) ** (magnitude + 1))
    return d.decimal(low, str(min(top, Decimal(high))), d.below(9))


def price_around(d: Draws, rate: Decimal) -> Decimal:
    """A reference price from half the pool's marginal rate to a little above
    it, so that some cases find no arbitrage."""
    if d.chance(1):
        return Decimal(["0", "-1"][d.below(2)])
    return (rate * d.decimal("0.50", "1.08", 4)).quantize(Decimal(1).scaleb(-d.below(12) - 1))


def constraints(d: Draws, scale: Decimal) -> tuple[Any, Any]:
    fixed_cost = None if d.chance(60) else d.number((scale * d.decimal("0", "0.01", 6)).normalize())
    max_size = None if d.chance(70) else d.number((scale * d.decimal("0.001", "0.5", 5)).normalize())
    return fixed_cost, max_size


def cpmm(d: Draws) -> tuple[Callable[..., Any], tuple[Any, ...], Decimal]:
    x, y, f = reserve(d), reserve(d), fee(d)
    rate = f * y / x if x > 0 and f > 0 else Decimal(1)
    return quarlen.cpmm_optimal_size, (d.number(x), d.number(y), d.number(f)), rate


def stableswap(d: Draws) -> tuple[Callable[..., Any], tuple[Any, ...], Decimal]:
    coins = 2 if d.chance(70) else 3 + d.below(2)
    base = d.decimal("1000", "1000000", 2)
    reserves = [base * d.decimal("0.5", "1.5", 3) for _ in range(coins)]
    if d.chance(1):
        reserves[d.below(coins)] = Decimal(0)
    amplification = Decimal([1, 10, 50, 100, 200, 2000][d.below(6)])
    f = fee(d)
    rate = f * reserves[1] / reserves[0] if reserves[0] > 0 else Decimal(1)
    rate = (rate + f) / 2  # an amplified pool prices near parity
    return (quarlen.stableswap_optimal_size,
            ([d.number(r) for r in reserves], d.number(amplification), d.number(f)), rate)


def pmm(d: Draws) -> tuple[Callable[..., Any], tuple[Any, ...], Decimal]:
    base, quote = reserve(d, "100", "1000000"), reserve(d, "100", "1000000")
    oracle = d.decimal("0.1", "3000", 3)
    k = d.decimal("0.0001", "1", 4) if not d.chance(2) else Decimal("1.5")
    return quarlen.pmm_optimal_size, tuple(d.number(v) for v in (base, quote, oracle, k)), oracle


def clmm(d: Draws) -> tuple[Callable[..., Any], tuple[Any, ...], Decimal]:
    liquidity = reserve(d, "1000", "10000000")
    lower = d.decimal("0.5", "2", 4)
    upper = lower + d.decimal("0.01", "1", 4)
    current = lower + (upper - lower) * d.decimal("0", "1", 3)
    if d.chance(1):
        current = upper + 1  # outside the range
    f = fee(d)
    args = tuple(d.number(v) for v in (liquidity, lower, upper, current, f))
    return quarlen.clmm_optimal_size, args, f * current * current


def balancer(d: Draws) -> tuple[Callable[..., Any], tuple[Any, ...], Decimal]:
    coins = 2 if d.chance(80) else 3
    reserves = [reserve(d, "100", "1000000") for _ in range(coins)]
    weights = [Decimal("0.5"), Decimal("0.5")] if coins == 2 else [Decimal("0.4"), Decimal("0.3"), Decimal("0.3")]
    if coins == 2 and d.chance(40):
        w = d.decimal("0.1", "0.9", 2)
        weights = [w, 1 - w]
    if d.chance(1):
        weights[0] += Decimal("0.01")  # weights that do not add up to one
    f = fee(d)
    i, o = (0, 1) if d.chance(70) else (1, 0)
    rate = Decimal(1)
    if reserves[i] > 0 and reserves[o] > 0:
        rate = f * (reserves[o] / weights[o]) / (reserves[i] / weights[i])
    return (quarlen.balancer_optimal_size,
            ([d.number(r) for r in reserves], [d.number(w) for w in weights], d.number(f), i, o), rate)


def velodrome(d: Draws) -> tuple[Callable[..., Any], tuple[Any, ...], Decimal]:
    x = reserve(d, "100", "1000000")
    y = x * d.decimal("0.6", "1.6", 3) if x > 0 else Decimal(100)
    f = fee(d)
    rate = f * (y / x) if x > 0 else Decimal(1)
    return quarlen.velodrome_optimal_size, (d.number(x), d.number(y), d.number(f)), (rate + f) / 2


def dlmm(d: Draws) -> tuple[Callable[..., Any], tuple[Any, ...], Decimal]:
    count = 1 + d.below(6)
    first_id = d.below(1000) - 500
    price = d.decimal("0.5", "2", 4)
    step = d.decimal("0.001", "0.02", 4)
    bins = []
    for n in range(count):
        bins.append({"bin_id": first_id + n, "price": d.number(price * (1 - step * n)),
                     "reserve_x": d.number(d.decimal("0", "1000", 2)),
                     "reserve_y": d.number(d.decimal("0", "5000", 2))})
    active = d.below(count)
    f = fee(d)
    return quarlen.dlmm_optimal_size, (bins, active, d.number(f)), f * price


def cryptoswap(d: Draws) -> tuple[Callable[..., Any], tuple[Any, ...], Decimal]:
    x0 = d.decimal("1000", "1000000", 2)
    x1 = x0 * d.decimal("0.7", "1.4", 3)
    a = Decimal([1, 10, 100, 400, 4000][d.below(5)])
    gamma = Decimal(["0.01", "0.001", "0.0001", "0.1"][d.below(4)])
    f = fee(d)
    i = d.below(2)
    rate = f * ((x1 / x0) if i == 0 else (x0 / x1))
    rate = (rate + f) / 2
    return (quarlen.cryptoswap_optimal_size,
            ([d.number(x0), d.number(x1)], d.number(a), d.number(gamma), d.number(f), i), rate)


def dodo(d: Draws) -> tuple[Callable[..., Any], tuple[Any, ...], Decimal]:
    base_target = d.decimal("100", "100000", 2)
    quote_target = d.decimal("100", "100000", 2)
    base = base_target * d.decimal("0.6", "1.4", 3)
    quote = quote_target * d.decimal("0.6", "1.4", 3)
    oracle = d.decimal("0.2", "5", 3)
    k = d.decimal("0.01", "1", 3)
    f = fee(d)
    sell_base = d.chance(60)
    rate = f * (oracle if sell_base else 1 / oracle)
    values = [d.number(v) for v in (base_target, quote_target, base, quote, oracle, k, f)]
    return quarlen.dodo_optimal_size, (*values, sell_base), rate


FAMILIES = [cpmm, stableswap, pmm, clmm, balancer, velodrome, dlmm, cryptoswap, dodo]


def outcome(call: Callable[[], Any]) -> str:
    try:
        r = call()
    except quarlen.InternalFault as fault:
        raise SystemExit(f"a case raised InternalFault ({fault}); the identity set must not hold one")
    except (ValueError, TypeError, KeyError, OverflowError) as error:
        return f"{type(error).__name__}: {error}"
    detail = sorted(r.guarantee_tier_detail.items())
    return (f"{r.optimal_delta!s} {r.optimal_delta.as_tuple()} | {r.expected_profit!s} "
            f"{r.expected_profit.as_tuple()} | {r.guarantee_tier} | {detail} | {r.iterations}")


def sizings() -> Iterator[str]:
    d = Draws(20261208)
    for n in range(SIZINGS):
        family = FAMILIES[n % len(FAMILIES)]
        function, args, rate = family(d)
        price = price_around(d, rate)
        fixed_cost, max_size = constraints(d, rate * 100)
        given = d.number(price)
        yield f"{n} {function.__name__} " + outcome(
            lambda: function(*args, given, fixed_cost=fixed_cost, max_size=max_size))


POOL_CLASSES = {
    "cpmm_optimal_size": quarlen.PyCpmm, "stableswap_optimal_size": quarlen.PyStableSwap,
    "pmm_optimal_size": quarlen.PyPmm, "clmm_optimal_size": quarlen.PyConcentratedLiquidity,
    "balancer_optimal_size": quarlen.PyBalancerWeightedPool, "velodrome_optimal_size": quarlen.PyVelodromeStable,
    "dlmm_optimal_size": quarlen.PyDlmmBook, "cryptoswap_optimal_size": quarlen.PyCurveCryptoSwap,
    "dodo_optimal_size": quarlen.PyDodoPmm,
}


def portfolios() -> Iterator[str]:
    d = Draws(77)
    for n in range(PORTFOLIOS):
        items: list[dict[str, Any]] = []
        while len(items) < 12:
            function, args, rate = FAMILIES[d.below(len(FAMILIES))](d)
            try:
                pool = POOL_CLASSES[function.__name__](*args)
            except ValueError:
                continue
            fixed_cost, max_size = constraints(d, rate * 100)
            items.append({"id": f"o{len(items)}", "pool": pool, "reference_price": price_around(d, rate),
                          "fixed_cost": fixed_cost, "max_size": max_size})
        budget = d.decimal("1", "50000", 2)
        try:
            r = quarlen.portfolio_optimize(budget, items)
        except quarlen.InternalFault as fault:
            raise SystemExit(f"portfolio {n} raised InternalFault ({fault})")
        positions = [(p.id, p.guarantee_tier, str(p.allocated_size), str(p.expected_profit)) for p in r.allocations]
        yield f"portfolio {n} {r.total_capital_used} {r.total_expected_profit} {r.shadow_price} {positions}"


def digest(verbose: bool = False) -> str:
    h = hashlib.sha256()
    for line in (*sizings(), *portfolios()):
        if verbose:
            print(line)
        h.update(line.encode())
        h.update(b"\n")
    return h.hexdigest()


def recorded() -> str:
    with open(HASH_FILE) as f:
        lines = [line.strip() for line in f if line.strip() and not line.startswith("#")]
    return lines[0]


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--write", action="store_true", help="record the current hash (an intended change)")
    parser.add_argument("--dump", action="store_true", help="print every outcome's text, to diff two builds")
    options = parser.parse_args()
    value = digest(options.dump)
    if options.dump:
        return 0
    if options.write:
        with open(HASH_FILE, "w") as f:
            f.write("# SHA-256 of bench/identity.py's outcomes; regenerate only for an intended,\n"
                    "# noted change of results: PYTHONPATH=<build dir> python bench/identity.py --write\n")
            f.write(value + "\n")
        print(f"recorded {value}")
        return 0
    expected = recorded()
    if value != expected:
        print(f"identity: results changed: {value} (recorded {expected})", file=sys.stderr)
        return 1
    print(f"identity: {SIZINGS:,} sizings and {PORTFOLIOS} portfolios unchanged ({value[:16]}...)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
