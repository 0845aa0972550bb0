"""The StableSwap pool: validation, the Newton solves behind its quotes and the
bracket-and-bisect sizing, checked digit for digit where the numbers allow."""

from decimal import Decimal
from typing import Any

import pytest

import quarlen
from support import invalid_reserves, notes, txt, Number

POOL = (["1000", "2000"], "100", "0.997")


class TestReferenceValues:
    # The invariant behind the first quote, D = 2999.0680311226205594554638845
    # after 2 passes, is pinned by the C++ curve tests.
    @pytest.mark.parametrize(
        "pool, delta_in, prefix, exact",
        [
            (POOL, 10, "10.011222855927228772821499", "10.011222855927228772821499062"),
            ((["1000", "2000", "1500"], 50, "0.99"), 25, "24.794601148702156856076182", "24.794601148702156856076182619"),
        ],
    )
    def test_quotes(self, pool: tuple[Any, ...], delta_in: Number, prefix: str, exact: str) -> None:
        quote = txt(quarlen.PyStableSwap(*pool).quote(delta_in))
        assert quote.startswith(prefix) and quote == exact

    def test_reference_sizing(self) -> None:
        by_class = quarlen.PyStableSwap(*POOL).optimal_size("0.99")
        by_function = quarlen.stableswap_optimal_size(*POOL, "0.99")
        for r in (by_class, by_function):
            assert r.optimal_delta == Decimal("1177.56298828125")
            assert txt(r.expected_profit) == "7.2728099803591019138747711"
            assert (r.iterations, r.guarantee_tier) == (32, "NumericallyGuaranteed")
            assert r.guarantee_tier_detail == {"convergence_conditions_met": True}


class TestSizing:
    def test_constraints_apply_after_the_full_search(self) -> None:
        pool = quarlen.PyStableSwap(*POOL)
        capped = pool.optimal_size("0.99", max_size=500)
        assert (txt(capped.optimal_delta), capped.iterations) == ("500", 32)
        assert txt(capped.expected_profit) == txt(pool.quote(500) - Decimal("0.99") * 500)
        full = pool.optimal_size("0.99")
        charged = pool.optimal_size("0.99", fixed_cost=1)
        assert charged.optimal_delta == full.optimal_delta
        assert charged.expected_profit == full.expected_profit - 1

    @pytest.mark.parametrize(
        "reserves, price, kw, expected",
        [
            (POOL[0], "0.99", {"max_size": 0}, "NoProfitableSize"),
            (POOL[0], "0.99", {"fixed_cost": 8}, "NoProfitableSize"),
            (POOL[0], "1.1", {}, "NoArbitrageOpportunity"),
            # x_0 * 0.001 rounds to zero: the difference quotient has no width.
            (["0.00000000000000000000000004", 1], "0.5", {}, "NoArbitrageOpportunity"),
            # D^3 underflows to zero, so the second Newton pass divides by zero.
            (["1e-27", "1e-27"], "0.5", {}, "DidNotConverge { iterations_attempted: 2 }"),
            (POOL[0], "0", {}, invalid_reserves("reference_price must be > 0, got 0")),
        ],
    )
    def test_errors(self, reserves: list[Any], price: Number, kw: dict[str, Any], expected: str) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.stableswap_optimal_size(reserves, 100, "0.997", price, **kw)
        assert str(info.value) == expected

    def test_coin_count_beyond_the_power_range_is_an_internal_fault(self) -> None:
        pool = quarlen.PyStableSwap([1] * 22, 1, 1)  # 22^22 does not fit
        with pytest.raises(quarlen.InternalFault, match="Pow overflowed"):
            pool.quote(1)


class TestValidation:
    @pytest.mark.parametrize(
        "reserves, a, f, detail",
        [
            ([], 1, 1, "reserves must contain at least 2 assets, got 0"),
            (["5"], 1, 1, "reserves must contain at least 2 assets, got 1"),
            ([0, 5], "0.5", 0, "reserves[0] must be > 0, got 0"),
            ([5, 5, "-1.50"], 1, 1, "reserves[2] must be > 0, got -1.50"),
            ([5, 5], "0.999", 0, "amplification must be >= 1, got 0.999"),
            ([5, 5], 1, 0, "fee_retention must be in (0, 1], got 0"),
            ([5, 5], 1, "1.0000001", "fee_retention must be in (0, 1], got 1.0000001"),
        ],
    )
    def test_first_failed_check_is_reported(self, reserves: list[Any], a: Number, f: Number, detail: str) -> None:
        for build in (lambda: quarlen.PyStableSwap(reserves, a, f),
                      lambda: quarlen.stableswap_optimal_size(reserves, a, f, "bad price")):
            with pytest.raises(ValueError) as info:
                build()
            assert str(info.value) == invalid_reserves(detail)

    def test_quote_input(self) -> None:
        pool = quarlen.PyStableSwap([5, 5], 1, 1)
        with pytest.raises(ValueError, match=r"delta_in must be >= 0, got -1\b"):
            pool.quote(-1)
        # Zero input runs the solves: what is left is the Newton residue.
        assert quarlen.PyStableSwap(*POOL).quote(0) == 0

    def test_argument_kinds(self) -> None:
        with pytest.raises(TypeError, match="Can't extract `str` to `Vec`") as info:
            quarlen.stableswap_optimal_size("1000", 100, 1, 1)
        assert notes(info.value) == ["while processing 'reserves'"]
        with pytest.raises(ValueError) as value_error:
            quarlen.PyStableSwap([1, "abc", 2], 1, 1)
        assert str(value_error.value) == 'invalid reserves[i] "abc": Invalid decimal: unknown character'


def test_portfolio_sizes_a_stableswap_pool() -> None:
    pool = quarlen.PyStableSwap(*POOL)
    result = quarlen.portfolio_optimize(10**6, [{"id": "s", "pool": pool, "reference_price": "0.99"}])
    (position,) = result.allocations
    assert position.guarantee_tier == "NumericallyGuaranteed"
    assert position.allocated_size == pool.optimal_size("0.99").optimal_delta
