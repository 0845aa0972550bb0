"""Reference and memory leaks: every entry point, on its success and failure
paths, run many times over must not grow the process."""

import copy
import gc
import os
import pickle
import sys
import time
from collections.abc import Callable
from decimal import Decimal

import pytest

import quarlen

MAX = "79228162514264337593543950335"
PAGE = os.sysconf("SC_PAGE_SIZE")


def rss_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE


class RaisingText:
    def __str__(self) -> str:
        raise RuntimeError("no text")


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
        lambda: pickle.loads(pickle.dumps(quarlen.portfolio_optimize(60, good_items))).allocations,
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
    gc.collect()
    blocks, rss = sys.getallocatedblocks(), rss_bytes()

    # Scale the work to the machine: about five seconds of calls.  At 40000
    # rounds one smallest heap chunk (32 bytes) lost by any single call path
    # adds up to more than the RSS tolerance; a leaked Python object shows at
    # any round count.
    start = time.perf_counter()
    _run(calls, 100)
    per_round = (time.perf_counter() - start) / 100
    rounds = max(1500, min(40000, int(5.0 / max(per_round, 1e-9))))
    _run(calls, rounds)

    gc.collect()
    grown_blocks = sys.getallocatedblocks() - blocks
    grown_rss = rss_bytes() - rss
    assert grown_blocks < 200, f"{grown_blocks} Python blocks left over after {rounds} rounds"
    assert grown_rss < 1024 * 1024, f"RSS grew by {grown_rss} bytes after {rounds} rounds"


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
