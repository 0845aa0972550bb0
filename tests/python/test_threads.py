"""Calls from several threads at once. The iterative sizings and quotes and
the portfolio search run with the interpreter lock released, so these check
that concurrent calls give exactly the serial answers and that a fault or a
sizing error raised inside the released section still reaches its caller as
the right exception."""

import os
import subprocess
import sys
import threading
import time
from collections.abc import Callable
from decimal import Decimal
from typing import Any

import pytest

import quarlen
from support import FAMILIES, ROUTE, Family, family_params, txt

THREADS = 4
ROUNDS = 8
HUGE = "79228162514264337593543950335"


def on_threads(work: Callable[[], object]) -> list[object]:
    """Runs work() ROUNDS times on each of THREADS threads, all started
    together; returns every outcome (a value or the exception raised)."""
    barrier = threading.Barrier(THREADS)
    outcomes: list[list[object]] = [[] for _ in range(THREADS)]

    def run(slot: int) -> None:
        barrier.wait()
        for _ in range(ROUNDS):
            try:
                outcomes[slot].append(work())
            except BaseException as error:  # InternalFault derives from BaseException
                outcomes[slot].append(error)

    workers = [threading.Thread(target=run, args=(slot,)) for slot in range(THREADS)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    return [outcome for slot in outcomes for outcome in slot]


def sizing_text(result: quarlen.SizingResult) -> tuple[str, str, str]:
    return (txt(result.optimal_delta), txt(result.expected_profit), result.guarantee_tier)


@pytest.mark.parametrize("family", [*family_params(), pytest.param(ROUTE, id="PyRoute")])
def test_concurrent_sizings_and_quotes_match_the_serial_ones(family: Family) -> None:
    pool = family.pool()
    expected_size = sizing_text(family.optimal_size())
    expected_quote = txt(pool.quote(family.delta_in))

    sizes = on_threads(lambda: sizing_text(family.optimal_size()))
    assert sizes == [expected_size] * (THREADS * ROUNDS)
    quotes = on_threads(lambda: txt(pool.quote(family.delta_in)))
    assert quotes == [expected_quote] * (THREADS * ROUNDS)


def test_concurrent_portfolios_match_the_serial_one() -> None:
    opportunities: list[dict[str, Any]] = [
        {"id": f.cls, "pool": f.pool(), "reference_price": f.reference_price} for f in [*FAMILIES, ROUTE]
    ]
    budget = quarlen.portfolio_optimize(Decimal("1e9"), opportunities).total_capital_used / 2

    def run() -> tuple[object, ...]:
        result = quarlen.portfolio_optimize(budget, opportunities)
        return (txt(result.total_capital_used), txt(result.shadow_price),
                [(p.id, txt(p.allocated_size)) for p in result.allocations])

    expected = run()
    assert on_threads(run) == [expected] * (THREADS * ROUNDS)


def test_faults_and_errors_inside_the_released_section_reach_the_caller() -> None:
    pool = quarlen.PyStableSwap([HUGE, HUGE], 100, "0.997")

    def fault() -> quarlen.SizingResult:
        return quarlen.stableswap_optimal_size([HUGE, HUGE], 100, "0.997", "0.99")

    for outcome in on_threads(fault) + on_threads(lambda: pool.quote(1)):
        assert isinstance(outcome, quarlen.InternalFault)
        assert str(outcome) == "Addition overflowed"

    def no_arbitrage() -> quarlen.SizingResult:
        return quarlen.stableswap_optimal_size(["1000", "2000"], 100, "0.997", "5")

    for outcome in on_threads(no_arbitrage):
        assert isinstance(outcome, ValueError)
        assert str(outcome) == "NoArbitrageOpportunity"


def mixed_portfolio_text() -> str:
    """Every attribute of one binding portfolio over all nine families at
    several prices, with an opportunity whose sizing faults (left unfunded)
    and one priced at zero."""
    opportunities: list[dict[str, Any]] = [
        {"id": f"{f.cls}-{shade}", "pool": f.pool(), "reference_price": Decimal(f.reference_price) * shade,
         "fixed_cost": "0.01"}
        for shade in (Decimal("0.99"), Decimal("0.97"), Decimal("0.9"), Decimal("0.8")) for f in FAMILIES
    ]
    opportunities.insert(5, {"id": "faults", "pool": quarlen.PyStableSwap([HUGE, HUGE], 100, "0.997"),
                             "reference_price": "0.99"})
    opportunities.append({"id": "free", "pool": FAMILIES[0].pool(), "reference_price": 0})
    free = quarlen.portfolio_optimize(Decimal("1e9"), opportunities).total_capital_used
    result = quarlen.portfolio_optimize(free / 3, opportunities)
    return repr((result.total_capital_used, result.total_expected_profit, result.shadow_price,
                 [(p.id, p.guarantee_tier, p.allocated_size, p.expected_profit) for p in result.allocations]))


def test_worker_thread_count_changes_no_digit() -> None:
    def run(threads: str) -> str:
        env = dict(os.environ, QUARLEN_THREADS=threads, PYTHONPATH=os.pathsep.join(sys.path))
        code = "import test_threads; print(test_threads.mixed_portfolio_text())"
        done = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=300,
                              cwd=os.path.dirname(__file__), check=True)
        return done.stdout

    serial = run("1")
    assert "faults" in serial and run("4") == serial == mixed_portfolio_text() + "\n"


@pytest.mark.filterwarnings("ignore:This process .* is multi-threaded:DeprecationWarning")
def test_portfolio_works_in_a_child_forked_while_a_pass_runs() -> None:
    expected = mixed_portfolio_text()
    stop = threading.Event()

    def keep_busy() -> None:
        while not stop.is_set():
            mixed_portfolio_text()

    busy = threading.Thread(target=keep_busy)
    busy.start()
    try:
        time.sleep(0.05)
        read_end, write_end = os.pipe()
        pid = os.fork()
        if pid == 0:  # pragma: no cover - child
            os.close(read_end)
            with os.fdopen(write_end, "w") as out:
                out.write(mixed_portfolio_text())
            os._exit(0)
        os.close(write_end)
        deadline = time.monotonic() + 120
        while os.waitpid(pid, os.WNOHANG) == (0, 0):
            if time.monotonic() > deadline:
                os.kill(pid, 9)
                pytest.fail("the forked child hung")
            time.sleep(0.01)
        with os.fdopen(read_end) as source:
            assert source.read() == expected
    finally:
        stop.set()
        busy.join()
    assert mixed_portfolio_text() == expected
