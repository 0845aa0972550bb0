"""The concentrated-liquidity pool of one tick range: construction order and
messages, the quote down to the range's lower bound, and the closed-form
sizing with its capacity cap.

Pools built here hold one range; walking several ranges is tested in C++
(tests/cpp/concentrated_liquidity_test.cpp), since only the C++ factory builds
them. With one range the walk starts and ends in that range, so every case
here also pins the per-range arithmetic the multi-range walk repeats.
"""

from decimal import Decimal
from typing import Any

import pytest

import quarlen
from support import invalid_reserves, notes, Number, sized_both_ways

# L = 10 between square-root prices 1 and 4, current 2: X = 10/2 = 5, Y = 20,
# price 4, and the X capacity down to the lower bound is 10/1 - 5 = 5.
POOL = (10, 1, 4, 2, 1)


def size_both_ways(args: tuple[Number, Number, Number, Number, Number], price: Number, fixed_cost: Number | None = None,
                   max_size: Number | None = None) -> tuple[Any, ...]:
    return sized_both_ways(lambda: quarlen.clmm_optimal_size(*args, price, fixed_cost, max_size),
                           lambda: quarlen.PyConcentratedLiquidity(*args).optimal_size(price, fixed_cost, max_size))


class TestConstruction:
    @pytest.mark.parametrize(
        "args, detail",
        [
            ((0, 1, 4, 2, 1), "liquidity must be > 0, got 0"),
            # Only the first failure is reported.
            (("-1", 0, 0, 9, 0), "liquidity must be > 0, got -1"),
            ((10, "0.0", 4, 2, 1), "sqrt_price_lower must be > 0, got 0.0"),
            ((10, 2, "2.00", 2, 1), "sqrt_price_upper (2.00) must be > sqrt_price_lower (2)"),
            ((10, 2, 1, 9, 9), "sqrt_price_upper (1) must be > sqrt_price_lower (2)"),
            ((10, 1, 4, "0.999", 1), "sqrt_price_current (0.999) is outside [1, 4]"),
            ((10, 1, 4, "4.001", 0), "sqrt_price_current (4.001) is outside [1, 4]"),
            ((10, 1, 4, 2, 0), "fee_retention must be in (0, 1], got 0"),
            ((10, 1, 4, 2, "1.01"), "fee_retention must be in (0, 1], got 1.01"),
        ],
    )
    def test_first_failed_check_wins(self, args: tuple[Number, Number, Number, Number, Number], detail: str) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.PyConcentratedLiquidity(*args)
        assert str(info.value) == invalid_reserves(detail)
        # The module function fails the same way, before reading the price.
        with pytest.raises(ValueError) as info:
            quarlen.clmm_optimal_size(*args, "not a price")
        assert str(info.value) == invalid_reserves(detail)

    def test_current_price_on_either_bound_is_accepted(self) -> None:
        quarlen.PyConcentratedLiquidity(10, 1, 4, 1, 1)
        assert str(quarlen.PyConcentratedLiquidity(10, 1, 4, 4, 1).quote("7.5")) == "30"

    def test_numbers_convert_in_signature_order(self) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.PyConcentratedLiquidity("a", "b", 4, 2, 1)
        assert str(info.value).startswith('invalid liquidity "a"')
        with pytest.raises(ValueError) as info:
            quarlen.PyConcentratedLiquidity(10, 1, 4, "now", 1)
        assert str(info.value).startswith('invalid sqrt_price_current "now"')
        with pytest.raises(TypeError):
            quarlen.PyConcentratedLiquidity(10, 1, 4, 2)  # type: ignore[call-arg]


class TestQuote:
    @pytest.mark.parametrize(
        "delta_in, expected",
        [
            # 10 * (2 - 10 / (5 + 1))
            ("1", "3.3333333333333333333333333330"),
            # The whole capacity ends exactly at the lower bound: 10 * (2 - 1).
            ("5", "10"),
            ("0", "0"),
            ("0.00", "0"),
        ],
    )
    def test_values(self, delta_in: str, expected: str) -> None:
        assert str(quarlen.PyConcentratedLiquidity(*POOL).quote(delta_in)) == expected

    def test_fee_reduces_the_input_only(self) -> None:
        # Capacity 7.5 / 0.997 gross; at it the whole Y side 10 * (4 - 1) comes out.
        pool = quarlen.PyConcentratedLiquidity(10, 1, 4, 4, "0.997")
        assert str(pool.quote("7.5225677031093279839518555667")) == "30"
        assert str(pool.quote("7.5")) == "29.977449260836882986720120271"

    @pytest.mark.parametrize(
        "args, delta_in",
        [
            (POOL, "5.0000000000000000000000000001"),
            # At the lower bound nothing is left to sell.
            ((10, 1, 4, 1, 1), "0.001"),
        ],
    )
    def test_beyond_the_capacity(self, args: tuple[Any, ...], delta_in: str) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.PyConcentratedLiquidity(*args).quote(delta_in)
        assert str(info.value) == invalid_reserves(
            f"trade of size {delta_in} exceeds total liquidity capacity across all tick ranges"
        )

    def test_negative_input(self) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.PyConcentratedLiquidity(*POOL).quote("-0.5")
        assert str(info.value) == invalid_reserves("delta_in must be >= 0, got -0.5")


class TestOptimalSize:
    @pytest.mark.parametrize(
        "price, fixed_cost, max_size, expected",
        [
            # The stationary point (sqrt(100) - 5) lands exactly on the capacity.
            ("1", None, None, ("ok", "5.000000000000000000000000000", "5.000000000000000000000000000", "ProvenOptimal", None)),
            ("2.25", None, None, ("ok", "1.6666666666666666666666666665", "1.2500000000000000000000000004", "ProvenOptimal", None)),
            # The unconstrained optimum lies below the range: the whole capacity.
            ("0.25", None, None, ("ok", "5", "8.75", "ProvenOptimal", None)),
            ("0.25", "8", None, ("ok", "5", "0.75", "ProvenOptimal", None)),
            ("0.25", "8.75", None, ("err", "NoProfitableSize")),
            # The cap keeps the tier; 10 * (2 - 10/6) - 0.25.
            ("0.25", None, "1", ("ok", "1", "3.0833333333333333333333333330", "ProvenOptimal", None)),
            ("0.25", None, "0", ("err", "NoProfitableSize")),
            # Just below the spot price the optimum is tiny but still found.
            ("3.99", None, None, ("ok", "0.006261743217588700696837676", "0.0000312891236421684392353438", "ProvenOptimal", None)),
            # f * s^2 equal to the price is no arbitrage.
            ("4", None, None, ("err", "NoArbitrageOpportunity")),
            ("4.0", None, None, ("err", "NoArbitrageOpportunity")),
            ("0", None, None, ("err", invalid_reserves("reference_price must be > 0, got 0"))),
            ("-2", None, None, ("err", invalid_reserves("reference_price must be > 0, got -2"))),
        ],
    )
    def test_outcomes(self, price: Number, fixed_cost: Number | None, max_size: Number | None, expected: tuple[object,
                      ...]) -> None:
        assert size_both_ways(POOL, price, fixed_cost, max_size) == expected

    def test_fee_in_the_spot_test(self) -> None:
        # (0.5 * 2) * 2 = 2: at that price no arbitrage, just below it some.
        assert size_both_ways((10, 1, 4, 2, "0.5"), "2") == ("err", "NoArbitrageOpportunity")
        assert size_both_ways((10, 1, 4, 2, "0.5"), "1.99")[0] == "ok"

    def test_at_the_lower_bound_nothing_is_profitable(self) -> None:
        # The spot rate 1 beats 0.5, but the capacity is zero.
        assert size_both_ways((10, 1, 4, 1, 1), "0.5") == ("err", "NoProfitableSize")
        assert size_both_ways((10, 1, 4, 1, 1), "1") == ("err", "NoArbitrageOpportunity")

    def test_realistic_pool(self) -> None:
        assert size_both_ways((1000, "0.9", "1.1", 1, "0.997"), "0.98") == (
            "ok", "8.662164098229167440410970512", "0.073311827851975247085370598", "ProvenOptimal", None,
        )

    def test_module_function_converts_the_pool_before_the_price(self) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.clmm_optimal_size(10, 1, 4, 2, "f", "p")
        assert str(info.value).startswith('invalid fee_retention "f"')

    def test_in_a_portfolio(self) -> None:
        pool = quarlen.PyConcentratedLiquidity(*POOL)
        result = quarlen.portfolio_optimize(3, [{"id": "clmm", "pool": pool, "reference_price": "0.25"}])
        [position] = result.allocations
        assert position.guarantee_tier == "ProvenOptimal"
        assert result.shadow_price > 0
        assert abs(position.allocated_size - 3) <= Decimal("0.0003")
