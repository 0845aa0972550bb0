"""Calls from several threads at once. The iterative sizings and quotes and
the portfolio search run with the interpreter lock released, so these check
that concurrent calls give exactly the serial answers and that a fault or a
sizing error raised inside the released section still reaches its caller as
the right exception."""

import threading
from collections.abc import Callable
from decimal import Decimal
from typing import Any

import pytest

import quarlen
from support import FAMILIES, Family, family_params, txt

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


@pytest.mark.parametrize("family", family_params())
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
        {"id": f.cls, "pool": f.pool(), "reference_price": f.reference_price} for f in FAMILIES
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
