"""The x^3*y + x*y^3 stable pool: validation order, the Newton quote and the
bracketed golden-section sizing, checked against worked values."""

from collections.abc import Callable
from decimal import Decimal
from typing import Any

import pytest

import quarlen
from support import invalid_reserves, Number


def outcome(call: Callable[[], quarlen.SizingResult]) -> tuple[Any, ...]:
    try:
        r = call()
    except ValueError as exc:
        return ("err", str(exc))
    return ("ok", str(r.optimal_delta), str(r.expected_profit), r.guarantee_tier, r.guarantee_tier_detail,
            r.iterations)


def size_both_ways(pool: tuple[Number, Number, Number], price: Number, fixed_cost: Number | None = None,
                   max_size: Number | None = None) -> tuple[Any, ...]:
    a = outcome(lambda: quarlen.velodrome_optimal_size(*pool, price, fixed_cost, max_size))
    b = outcome(lambda: quarlen.PyVelodromeStable(*pool).optimal_size(price, fixed_cost, max_size))
    assert a == b
    return a


POOL = (1000, 1200, "0.997")
# The unconstrained optimum of POOL at 0.95: 29 golden-section passes.
BEST = ("421.6338963086787033519237541", "16.00048744491530995280752318")


class TestWorkedValues:
    def test_quote(self) -> None:
        got = quarlen.PyVelodromeStable(1000, 2000, "0.997").quote(10)
        assert type(got) is Decimal
        assert str(got) == "10.7128684312567580278576307"
        # Rounded (not cut) to 24 places.
        assert got.quantize(Decimal("1e-24")) == Decimal("10.712868431256758027857631")

    def test_optimal_size(self) -> None:
        delta, profit = BEST
        assert delta.startswith("421.633896308678703351923754")
        assert profit.startswith("16.000487444915309952807523")
        assert size_both_ways(POOL, "0.95") == (
            "ok", delta, profit, "NumericallyGuaranteed", {"convergence_conditions_met": True}, 29)

    def test_constraints_apply_after_the_search(self) -> None:
        # The cap replaces the size but keeps the full search's pass count.
        capped = size_both_ways(POOL, "0.95", max_size=100)
        assert capped[1] == "100" and capped[5] == 29
        # fixed_cost lowers only the reported profit.
        charged = size_both_ways(POOL, "0.95", fixed_cost="6")
        assert charged[1] == BEST[0]
        assert Decimal(charged[2]) == Decimal(BEST[1]) - 6
        assert size_both_ways(POOL, "0.95", fixed_cost=17) == ("err", "NoProfitableSize")
        assert size_both_ways(POOL, "0.95", max_size=0) == ("err", "NoProfitableSize")

    def test_bracket_stops_after_eight_doublings(self) -> None:
        # The whole trade keeps paying the price far beyond 128x, so the search
        # runs on [0, 256x] and ends just under its upper end.
        ok, delta, *_ = size_both_ways((1, 1, 1), "0.000000001")
        assert ok == "ok" and Decimal("255.9999") < Decimal(delta) < 256

    def test_at_the_peg_the_rate_is_the_fee_retention(self) -> None:
        pool = (1000, 1000, "0.997")
        assert size_both_ways(pool, "0.997") == ("err", "NoArbitrageOpportunity")
        assert size_both_ways(pool, "0.9969999")[0] == "ok"
        assert size_both_ways(pool, 0) == ("err", invalid_reserves("reference_price must be > 0, got 0"))


class TestValidation:
    @pytest.mark.parametrize(
        "args, detail",
        [
            ((0, 0, 0), "reserve_x must be > 0, got 0"),
            (("-1.5", 1, 1), "reserve_x must be > 0, got -1.5"),
            ((1, 0, 5), "reserve_y must be > 0, got 0"),
            ((1, 1, 0), "fee_retention must be in (0, 1], got 0"),
            ((1, 1, "1.0000001"), "fee_retention must be in (0, 1], got 1.0000001"),
        ],
    )
    def test_first_failure(self, args: tuple[Number, Number, Number], detail: str) -> None:
        for call in (lambda: quarlen.PyVelodromeStable(*args), lambda: quarlen.velodrome_optimal_size(*args, "x")):
            with pytest.raises(ValueError) as info:
                call()
            assert str(info.value) == invalid_reserves(detail)

    def test_bad_quote_input(self) -> None:
        pool = quarlen.PyVelodromeStable(*POOL)
        assert str(pool.quote(0)) == str(pool.quote("0.000")) == "0"
        with pytest.raises(ValueError, match=r"^InvalidReserves \{ detail: \"delta_in must be >= 0, got -0.5\" \}$"):
            pool.quote("-0.5")
        with pytest.raises(ValueError, match='^invalid delta_in "abc": '):
            pool.quote("abc")


def test_portfolio_funds_it_at_its_own_optimum() -> None:
    pool = quarlen.PyVelodromeStable(*POOL)
    result = quarlen.portfolio_optimize(10_000, [{"id": "v", "pool": pool, "reference_price": "0.95"}])
    (position,) = result.allocations
    assert str(result.shadow_price) == "0"
    assert (str(position.allocated_size), str(position.expected_profit)) == BEST
    assert position.guarantee_tier == "NumericallyGuaranteed"
