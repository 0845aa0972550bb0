"""Many threads sizing and quoting the same pool objects, running portfolios
over them and reading the same result objects must get exactly the answers a
single thread gets.

Pools and results are immutable and the module keeps no state between calls,
so nothing here needs a lock; long calls may run without the interpreter lock
(on a free-threaded build, or where the module releases it), which is what
this test is for.  The run's summary says which kind of interpreter ran it.
"""

from __future__ import annotations

import glob
import os
import random
import shutil
import sys
import sysconfig
import threading
from collections.abc import Callable
from typing import Any

import quarlen
import reliability
from support import FAMILIES, txt

THREADS = 16
ROUNDS = 3 if os.environ.get("QUARLEN_SANITIZED") == "1" else 12


def free_threaded() -> bool:
    return bool(sysconfig.get_config_var("Py_GIL_DISABLED"))


def gil_enabled() -> bool:
    check = getattr(sys, "_is_gil_enabled", None)
    return True if check is None else bool(check())


def free_threaded_interpreters() -> list[str]:
    """Free-threaded CPythons on this machine, by their usual names."""
    found = {path for name in ("python3.13t", "python3.14t", "python3t") if (path := shutil.which(name))}
    root = os.environ.get("PYENV_ROOT", os.path.expanduser("~/.pyenv"))
    found.update(glob.glob(os.path.join(root, "versions", "*t", "bin", "python3")))
    return sorted(found)


def canonical(value: Any) -> Any:
    """A value in a form that compares digit for digit (Decimals by text)."""
    if isinstance(value, (list, tuple)):
        return tuple(canonical(item) for item in value)
    if isinstance(value, dict):
        return tuple(sorted((key, canonical(item)) for key, item in value.items()))
    if type(value).__name__ == "SizingResult":
        return ("SizingResult", txt(value.optimal_delta), txt(value.expected_profit), value.guarantee_tier,
                canonical(value.guarantee_tier_detail), value.iterations)
    if type(value).__name__ == "PortfolioResult":
        return ("PortfolioResult", txt(value.total_capital_used), txt(value.total_expected_profit),
                txt(value.shadow_price), canonical(value.allocations))
    if type(value).__name__ == "AllocatedPosition":
        return (value.id, value.guarantee_tier, txt(value.allocated_size), txt(value.expected_profit))
    return txt(value) if not isinstance(value, (str, int, type(None))) else value


def outcome(call: Callable[[], Any]) -> Any:
    try:
        return ("ok", canonical(call()))
    except (ValueError, TypeError) as exc:
        return (type(exc).__name__, str(exc))
    except quarlen.InternalFault as fault:
        return ("InternalFault", str(fault))


def bind(function: Callable[..., Any], *args: Any) -> Callable[[], Any]:
    return lambda: function(*args)


def tasks() -> list[Callable[[], Any]]:
    """Calls on shared objects: quotes, sizings (plain, capped, failing),
    the module functions, portfolios over all nine families, and reads of
    shared results."""
    pools = [(family, family.pool()) for family in FAMILIES]
    shared_result = FAMILIES[0].pool().optimal_size(FAMILIES[0].reference_price)
    opportunities = [
        {"id": family.cls, "pool": pool, "reference_price": family.reference_price, "max_size": family.delta_in}
        for family, pool in pools
    ]
    shared_portfolio = quarlen.portfolio_optimize(20, opportunities)
    work: list[Callable[[], Any]] = []
    for family, pool in pools:
        work += [
            bind(pool.quote, family.delta_in),
            bind(pool.quote, "0.5"),
            bind(pool.quote, -1),
            bind(pool.optimal_size, family.reference_price),
            bind(pool.optimal_size, family.reference_price, "0.01", family.delta_in),
            bind(pool.optimal_size, "1000000"),
            family.optimal_size,
            bind(repr, pool),
        ]
    work += [
        lambda: quarlen.portfolio_optimize(1000, opportunities),
        lambda: quarlen.portfolio_optimize(20, opportunities),
        # Reads of one shared result: the stored objects come back every time.
        lambda: (shared_result.optimal_delta is shared_result.optimal_delta,
                 shared_result.guarantee_tier_detail is shared_result.guarantee_tier_detail,
                 canonical(shared_result), repr(shared_result)),
        lambda: (canonical(shared_portfolio), canonical(shared_portfolio.allocations[0]), repr(shared_portfolio)),
    ]
    return work


def test_threads_get_exactly_the_single_threaded_answers() -> None:
    work = tasks()
    expected = [outcome(call) for call in work]
    mismatches: list[str] = []
    errors: list[BaseException] = []
    barrier = threading.Barrier(THREADS)

    def run(seed: int) -> None:
        order = list(range(len(work)))
        random.Random(seed).shuffle(order)
        try:
            barrier.wait()
            for _ in range(ROUNDS):
                for index in order:
                    got = outcome(work[index])
                    if got != expected[index]:
                        mismatches.append(f"task {index}: {got!r} != {expected[index]!r}")
        except BaseException as exc:  # noqa: BLE001 - reported below
            errors.append(exc)

    interval = sys.getswitchinterval()
    # Switch threads as often as the interpreter allows, so calls interleave.
    sys.setswitchinterval(1e-6)
    try:
        threads = [threading.Thread(target=run, args=(seed,)) for seed in range(THREADS)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(interval)

    assert not errors, errors[:3]
    assert not mismatches, mismatches[:5]

    kind = "free-threaded, GIL disabled" if free_threaded() and not gil_enabled() else "with the GIL"
    others = [path for path in free_threaded_interpreters() if os.path.realpath(path) != os.path.realpath(sys.executable)]
    if free_threaded():
        where = "ran on a free-threaded build"
    elif others:
        where = f"free-threaded interpreters on this machine (run the suite on them too): {', '.join(others)}"
    else:
        where = "no free-threaded CPython on this machine, so only the GIL build ran it"
    reliability.note("concurrency", f"{THREADS} threads x {ROUNDS * len(work)} calls each "
                                    f"({THREADS * ROUNDS * len(work)} calls) on CPython "
                                    f"{sys.version.split()[0]} {kind}: all identical to one thread; {where}")
