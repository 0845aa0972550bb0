"""Reference and memory leaks: every entry point, on its success and failure
paths, run many times over must not grow the process."""

import copy
import ctypes
import gc
import os
import pickle
import sys
import time
from collections.abc import Callable
from decimal import Decimal
from typing import Any

import pytest

import quarlen
import reliability
from support import FAMILIES, ROUTE

MAX = "79228162514264337593543950335"
PAGE = os.sysconf("SC_PAGE_SIZE")


def rss_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE


class RaisingText:
    def __str__(self) -> str:
        raise RuntimeError("no text")


class RaisingEquality:
    def __eq__(self, other: object) -> bool:
        raise RuntimeError("no comparison")


class FailingItem:
    def __getitem__(self, key: str) -> object:
        if key in ("fixed_cost", "max_size"):
            raise LookupError(key)
        return {"id": "m", "pool": POOL, "reference_price": "0.3"}[key]


POOL = quarlen.PyCpmm(100, 100, 1)


def _calls() -> list[Callable[[], object]]:
    pool = POOL
    good_items = [
        {"id": "a", "pool": pool, "reference_price": "0.25"},
        {"id": "b", "pool": quarlen.PyCpmm(50, 200, 1), "reference_price": "0.5", "max_size": "10",
         "fixed_cost": None},
    ]
    results = [pool.optimal_size("0.3"), pool.optimal_size("0.3")]
    for result in results:
        result.guarantee_tier_detail["x"] = RaisingEquality()
    return [
        # Successful paths.
        lambda: quarlen.cpmm_optimal_size(1, 1, 1, "0.25"),
        lambda: quarlen.cpmm_optimal_size(1, 1, "0.997", 0.25, "0.01", 5),
        lambda: pool.quote(3),
        lambda: pool.optimal_size("0.25", max_size="2").guarantee_tier_detail,
        lambda: (lambda r: (r.optimal_delta, r.expected_profit, r.guarantee_tier, r.iterations, repr(r)))(
            pool.optimal_size("0.3")),
        lambda: quarlen.PySizingConstraints(1, 2),
        lambda: repr(quarlen.PySizingConstraints()),
        lambda: pickle.loads(pickle.dumps(pool)),
        lambda: copy.deepcopy(pool),
        # The record classes travel through their own reduce and _restore.
        lambda: pickle.loads(pickle.dumps(pool.optimal_size("0.3"))),
        lambda: copy.copy(quarlen.stableswap_optimal_size([1000, 2000], 100, "0.997", "0.99")),
        lambda: (lambda r: (r.allocations == r.allocations, hash(r), r == 5))(
            pickle.loads(pickle.dumps(quarlen.portfolio_optimize(60, good_items)))),
        # A comparison of results that raises inside their detail dicts.
        lambda: results[0] == results[1],
        lambda: copy.deepcopy(quarlen.PySizingConstraints(1, 2)),
        lambda: repr(pool),
        lambda: [(p.id, p.allocated_size, p.expected_profit, repr(p))
                 for p in quarlen.portfolio_optimize(1000, good_items).allocations],
        lambda: quarlen.portfolio_optimize(60, good_items).shadow_price,
        lambda: quarlen.portfolio_optimize(1000, [FailingItem()]),
        lambda: quarlen.portfolio_optimize(1, []),
        # Failure paths: conversion, validation, sizing, binding, faults.
        lambda: quarlen.cpmm_optimal_size("abc", 1, 1, 1),
        lambda: quarlen.cpmm_optimal_size(1, 1, 1, RaisingText()),  # type: ignore[arg-type]
        lambda: quarlen.cpmm_optimal_size(0, 1, 1, 1),
        lambda: quarlen.cpmm_optimal_size(1, 1, 1, 1),
        lambda: quarlen.cpmm_optimal_size(1, 1, 1, "0.25", "0.25"),
        lambda: quarlen.cpmm_optimal_size(1, 1, 1, "0.25", max_size="x"),
        lambda: quarlen.cpmm_optimal_size(MAX, MAX, 1, "0.5"),
        lambda: quarlen.cpmm_optimal_size(1, 1, 1),  # type: ignore[call-arg]
        lambda: quarlen.cpmm_optimal_size(1, 1, 1, 1, x=1),  # type: ignore[misc]
        lambda: quarlen.cpmm_optimal_size(1, 1, 1, 1, bogus=1),  # type: ignore[call-arg]
        lambda: quarlen.PyCpmm(1, 1, 1, 1),  # type: ignore[call-arg]
        lambda: quarlen.PyCpmm(1, 1, 1, bogus=2),  # type: ignore[call-arg]
        lambda: quarlen.PyCpmm(1, "1e-29", 1),
        lambda: pool.quote(-1000),
        lambda: pool.quote(RaisingText()),  # type: ignore[arg-type]
        lambda: quarlen.PyCpmm(MAX, 1, 1).quote(MAX),
        lambda: quarlen.SizingResult(),
        lambda: quarlen.PySizingConstraints("x"),
        lambda: setattr(pool, "x", 1),
        lambda: quarlen._restore(quarlen.SizingResult, (Decimal(1), "?", "ProvenOptimal", {}, None)),
        lambda: quarlen._restore(quarlen.SizingResult, (Decimal(1), Decimal(2), "Bogus", {}, None)),
        lambda: quarlen._restore(quarlen.PortfolioResult, ((("a", "ProvenOptimal", 1, "x"),), 1, 1, 0)),
        lambda: quarlen.portfolio_optimize(10, ()),  # type: ignore[arg-type]
        lambda: quarlen.portfolio_optimize(0, good_items),
        lambda: quarlen.portfolio_optimize("abc", good_items),
        lambda: quarlen.portfolio_optimize(10, [{"id": 1}]),
        lambda: quarlen.portfolio_optimize(10, [{"id": "a", "pool": 5}]),
        lambda: quarlen.portfolio_optimize(10, [{"id": "a", "pool": pool}]),
        lambda: quarlen.portfolio_optimize(10, [{"id": "a", "pool": pool, "reference_price": "?"}]),
        lambda: quarlen.portfolio_optimize(10, good_items + [{"id": "c", "pool": pool, "reference_price": 1,
                                                              "max_size": "bad"}]),
    ]


def _run(calls: list[Callable[[], object]], rounds: int) -> None:
    for _ in range(rounds):
        for call in calls:
            try:
                call()
            except BaseException:  # noqa: BLE001 - failures are part of the workload
                pass


@pytest.mark.skipif(not hasattr(sys, "getallocatedblocks"), reason="needs CPython's allocator statistics")
def test_entry_points_do_not_leak() -> None:
    calls = _calls()
    _run(calls, 2500)  # warm caches, interned strings, free lists, arenas

    # Scale the work to the machine: about five seconds of calls over both
    # phases. A leak on any call path loses at least one Python block or one
    # heap chunk per round, whatever the round count.
    start = time.perf_counter()
    _run(calls, 100)
    per_round = (time.perf_counter() - start) / 100
    rounds = max(1000, min(20000, int(2.5 / max(per_round, 1e-9))))
    grown = growth_over_phases(lambda: _run(calls, rounds))
    assert_no_growth(grown, rounds, f"{len(calls)} calls x {rounds} rounds")


def test_reference_cycles_through_results_are_collected() -> None:
    # A caller may store a result inside its own detail dictionary; the
    # collector must be able to free such a cycle.
    def churn(n: int) -> None:
        for _ in range(n):
            result = quarlen.cpmm_optimal_size(1, 1, 1, "0.25")
            result.guarantee_tier_detail["self"] = result
            del result

    churn(500)
    gc.collect()
    blocks = sys.getallocatedblocks()
    churn(5000)
    gc.collect()
    assert sys.getallocatedblocks() - blocks < 200


# ---------------------------------------------------------------------------
# Every entry point of all nine families: the constructor, quote and
# optimal_size, the module function, reprs and pickling, on their successes
# and on every kind of failure (binding TypeError, conversion ValueError, an
# exception from str() itself, validation and sizing ValueError, KeyError and
# OverflowError from bins and indices, and a genuine internal fault).

SANITIZED = os.environ.get("QUARLEN_SANITIZED") == "1"

# Per family: constructor arguments the validating constructor refuses, and a
# call that overflows the exact arithmetic.
_INVALID: dict[str, tuple[Any, ...]] = {
    "PyCpmm": (0, 1, 1),
    "PyStableSwap": (["0", "5"], 100, 1),
    "PyPmm": (1, 1, 1, 0),
    "PyConcentratedLiquidity": (1, 2, 1, "1.5", 1),
    "PyBalancerWeightedPool": (["1", "2"], ["0.3", "0.3"], 1, 0, 1),
    "PyVelodromeStable": (1, 1, 2),
    "PyDlmmBook": ([], 0, 1),
    "PyCurveCryptoSwap": ([1, 1], 1, 1, 1, 2),
    "PyDodoPmm": (1, 1, 1, 1, 1, 2, 1, True),
}
_FAULTS: dict[str, Callable[[], object]] = {
    "PyCpmm": lambda: quarlen.PyCpmm(MAX, MAX, 1).optimal_size("0.5"),
    "PyStableSwap": lambda: quarlen.PyStableSwap([MAX, MAX], 100, 1).quote(1),
    "PyPmm": lambda: quarlen.PyPmm(MAX, MAX, MAX, 1).quote(MAX),
    "PyConcentratedLiquidity": lambda: quarlen.PyConcentratedLiquidity(MAX, 1, 2, "1.5", 1).optimal_size("0.1"),
    "PyBalancerWeightedPool": lambda: quarlen.PyBalancerWeightedPool([MAX, MAX], ["0.5", "0.5"], 1).quote(MAX),
    "PyVelodromeStable": lambda: quarlen.PyVelodromeStable(MAX, MAX, 1),
    # The bin's price times the fee rounds to zero at 28 places.
    "PyDlmmBook": lambda: quarlen.PyDlmmBook(
        [{"bin_id": 1, "price": "0.0000000000000000000000000001", "reserve_x": 0, "reserve_y": 1}], 0, "0.5").quote(1),
    "PyCurveCryptoSwap": lambda: quarlen.PyCurveCryptoSwap([MAX, MAX], 1, 1, 1).quote(1),
    "PyDodoPmm": lambda: quarlen.PyDodoPmm(MAX, MAX, MAX, MAX, MAX, 1, 1).quote(1),
}
# The families whose sizing is a search of many quotes.
_SEARCHES = {"PyStableSwap", "PyPmm", "PyVelodromeStable", "PyCurveCryptoSwap", "PyDodoPmm"}


def _with(args: tuple[Any, ...], position: int, value: object) -> tuple[Any, ...]:
    return args[:position] + (value,) + args[position + 1:]


def _bind(function: Callable[..., object], *args: Any, **kwargs: Any) -> Callable[[], object]:
    return lambda: function(*args, **kwargs)


def _result_fields(pool: Any, price: object) -> object:
    result = pool.optimal_size(price)
    return (result.optimal_delta, result.expected_profit, result.guarantee_tier, result.guarantee_tier_detail,
            result.iterations, repr(result), result == copy.copy(result))


def _round_trip(value: object) -> object:
    restored = pickle.loads(pickle.dumps(value))
    return restored == value, restored != 5, hash(restored)


def _family_calls() -> tuple[list[Callable[[], object]], list[Callable[[], object]]]:
    """(fast calls, search sizings): the second run fewer rounds."""
    fast: list[Callable[[], object]] = []
    slow: list[Callable[[], object]] = []
    for family in FAMILIES:
        cls: Any = getattr(quarlen, family.cls)
        function: Any = getattr(quarlen, family.function)
        pool: Any = family.pool()
        args, price, delta = family.args, family.reference_price, family.delta_in
        # The first argument is a number or a sequence of them in every family
        # but DLMM, whose bins come first.
        first_bad: object = [{"bin_id": 1, "price": "abc", "reserve_x": 0, "reserve_y": 1}] \
            if family.cls == "PyDlmmBook" else (["abc", "1"] if isinstance(args[0], list) else "abc")
        portfolio = [{"id": "p", "pool": pool, "reference_price": price},
                     {"id": "q", "pool": POOL, "reference_price": "0.3"}]
        sizings = [
            _bind(pool.optimal_size, price),
            _bind(pool.optimal_size, price, "0.001", delta),
            family.optimal_size,
            _bind(_result_fields, pool, price),
            _bind(quarlen.portfolio_optimize, "0.5", portfolio),
        ]
        (slow if family.cls in _SEARCHES else fast).extend(sizings)
        invalid = _INVALID[family.cls]
        fast += [
            # Successes that do not search.
            _bind(cls, *args),
            _bind(pool.quote, delta),
            _bind(repr, pool),
            _bind(_round_trip, pool),
            _bind(copy.deepcopy, pool),
            # Binding: surplus, missing, unknown and repeated arguments.
            _bind(cls, *args, *args),
            _bind(function, *args),
            _bind(cls, *args, bogus=1),
            _bind(pool.optimal_size, 1, reference_price=1),
            # Conversion, str() raising, validation.
            _bind(cls, *_with(args, 0, first_bad)),
            _bind(function, *_with(args, 0, first_bad), price),
            _bind(cls, *_with(args, len(args) - 1, RaisingText())),
            _bind(cls, *invalid),
            _bind(function, *invalid, price),
            # Quote and sizing failures.
            _bind(pool.quote, "abc"),
            _bind(pool.quote, -1),
            _bind(pool.quote, RaisingText()),
            _bind(pool.optimal_size, "1000000"),
            _bind(pool.optimal_size, 0),
            _bind(pool.optimal_size, price, "abc"),
            _bind(pool.optimal_size, price, max_size="1e-40"),
            _bind(function, *args, "1000000", None, 0),
            # A genuine overflow.
            _FAULTS[family.cls],
        ]
    # A route: its search, its entry points, its bad legs, a leg that faults.
    route = quarlen.PyRoute(*ROUTE.args)
    legs = ROUTE.args[0]
    slow += [_bind(route.optimal_size, ROUTE.reference_price, "0.001", 5000), ROUTE.optimal_size,
             _bind(quarlen.portfolio_optimize, "0.5", [{"id": "r", "pool": route, "reference_price": 1},
                                                           {"id": "q", "pool": POOL, "reference_price": "0.3"}])]
    fast += [
        _bind(quarlen.PyRoute, legs), _bind(route.quote, ROUTE.delta_in), _bind(repr, route), _bind(_round_trip, route),
        lambda: route.legs, _bind(quarlen.PyRoute, []), _bind(quarlen.PyRoute, [*legs, route]),
        _bind(quarlen.PyRoute, "abc"), _bind(route.quote, "abc"), _bind(route.optimal_size, 0),
        _bind(quarlen.route_optimal_size, legs, "1000000"), _bind(quarlen.route_optimal_size, legs * 3, 1),
        _bind(quarlen.PyRoute([quarlen.PyStableSwap([MAX, MAX], 100, 1), *legs]).quote, 1),
    ]
    good_bin: dict[str, Any] = {"bin_id": 1, "price": "1.1", "reserve_x": 0, "reserve_y": 100}
    dlmm: Any = quarlen.PyDlmmBook
    fast += [
        _bind(dlmm, [{"bin_id": 1, "price": 1}], 0, 1),  # KeyError
        _bind(dlmm, [{**good_bin, "bin_id": 2**31}], 0, 1),  # OverflowError
        _bind(dlmm, [{**good_bin, "bin_id": "1"}], 0, 1),  # TypeError
        _bind(dlmm, [good_bin], -1, 1),  # OverflowError
        _bind(quarlen.PyBalancerWeightedPool, [1, 1], ["0.5", "0.5"], 1, 2**64),  # OverflowError
        _bind(quarlen.PyStableSwap, "abc", 1, 1),  # TypeError, with a note
        _bind(quarlen.PyCurveCryptoSwap, [1, 2, 3], 1, 1, 1),
        _bind(quarlen.PyDodoPmm, 1, 1, 1, 1, 1, 1, 1, 1),  # TypeError: a flag
        _bind(quarlen.portfolio_optimize, 10, [{"id": "x", "pool": family.pool(), "reference_price": 1}
                                               for family in FAMILIES]),
    ]
    return fast, slow


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]


def heap_bytes() -> int | None:
    """Bytes the C heap has handed out and not got back (glibc), or None."""
    try:
        mallinfo2 = ctypes.CDLL(None).mallinfo2
    except (OSError, AttributeError):
        return None
    mallinfo2.restype = _MallInfo2
    info = mallinfo2()
    return int(info.uordblks + info.hblkhd)


Growth = tuple[int, int, int | None]


def growth_over_phases(work: Callable[[], object]) -> list[Growth]:
    """Runs `work` in two equal phases and returns, per phase, how much the
    Python blocks, the RSS and the C heap grew. Free lists, caches and arenas
    settle in one phase or the other; anything a call path loses grows both."""
    grown: list[Growth] = []
    for _ in range(2):
        gc.collect()
        blocks, rss, heap = sys.getallocatedblocks(), rss_bytes(), heap_bytes()
        work()
        gc.collect()
        after = heap_bytes()
        grown.append((sys.getallocatedblocks() - blocks, rss_bytes() - rss,
                      None if heap is None or after is None else after - heap))
    return grown


def assert_no_growth(grown: list[Growth], rounds: int, what: str) -> None:
    """A leak is judged by the counts that only our allocations move: Python
    blocks and the C heap, each lost at least once per round by a leaking
    path. RSS also moves with the allocator's arenas, the page cache and the
    rest of the machine (swings of +-14 MB with neither count moving have
    been seen under load), so it only counts as a trend: it must not climb by
    more than such noise can in both phases."""
    assert min(phase[0] for phase in grown) < max(250, rounds // 2), f"Python blocks grew in both phases ({what}): {grown}"
    if SANITIZED:
        return  # the sanitizer's quarantine and shadow memory swamp the byte counts
    heaps = [phase[2] for phase in grown if phase[2] is not None]
    if heaps:
        assert min(heaps) < 16 * rounds, f"the C heap grew in both phases ({what}): {grown}"
    assert min(phase[1] for phase in grown) < 64 * 1024 * 1024, f"RSS climbed in both phases ({what}): {grown}"


@pytest.mark.skipif(not hasattr(sys, "getallocatedblocks"), reason="needs CPython's allocator statistics")
def test_every_entry_point_of_every_family_does_not_leak() -> None:
    # The workload reaches what it claims to.
    for name, fault in _FAULTS.items():
        with pytest.raises(quarlen.InternalFault):
            fault()
        with pytest.raises(ValueError):
            getattr(quarlen, name)(*_INVALID[name])
    fast, slow = _family_calls()
    fast_rounds, slow_rounds = (100, 20) if SANITIZED else (1500, 500)
    _run(fast, 300)
    _run(slow, 60)

    def both() -> None:
        _run(fast, fast_rounds)
        _run(slow, slow_rounds)

    grown = growth_over_phases(both)
    reliability.note("leaks", f"{len(fast)} calls x {2 * fast_rounds} rounds and {len(slow)} search sizings x "
                              f"{2 * slow_rounds} rounds over all nine families' entry points; growth per phase "
                              f"(Python blocks, RSS bytes, C heap bytes): {grown}")
    assert_no_growth(grown, slow_rounds, "every family's entry points")
