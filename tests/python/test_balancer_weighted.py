"""The weighted pool: validation in its fixed order, the quote and the
closed-form sizing through the decimal power."""

from decimal import Decimal
from typing import Any

import pytest

import quarlen
from support import invalid_reserves, notes, txt, Number

HALVES = (["1000", "2000"], ["0.5", "0.5"], "0.997")


def close(a: Decimal, b: Decimal, digits: int = 25) -> bool:
    return abs(a - b) <= abs(b) * Decimal(10) ** -digits


class TestEqualWeightsMatchConstantProduct:
    # With weights 0.5/0.5 the quote's power has exponent 1 and the sizing's
    # is a square root taken through ln and exp, so both agree with the
    # constant-product closed form up to rounding in the last digits.
    @pytest.mark.parametrize("delta_in", ["1.5", "10", "153.4", "5000"])
    def test_quote(self, delta_in: str) -> None:
        pool = quarlen.PyBalancerWeightedPool(*HALVES)
        assert close(pool.quote(delta_in), quarlen.PyCpmm("1000", "2000", "0.997").quote(delta_in))

    def test_sizing(self) -> None:
        r = quarlen.balancer_optimal_size(*HALVES, 0, 1, "1.5")
        cp = quarlen.cpmm_optimal_size("1000", "2000", "0.997", "1.5")
        assert (r.guarantee_tier, r.guarantee_tier_detail, r.iterations) == ("ProvenOptimal", {}, None)
        assert txt(r.optimal_delta) == "153.4274689883235527903674994"
        assert close(r.optimal_delta, cp.optimal_delta) and close(r.expected_profit, cp.expected_profit)


class TestSizing:
    def test_unequal_weights_size_at_the_stationary_point(self) -> None:
        pool = quarlen.PyBalancerWeightedPool(["1000", "2000"], ["0.8", "0.2"], "0.997")
        r = pool.optimal_size("1.5")
        assert txt(r.optimal_delta) == "398.00866286299811736308722638"

        def profit(d: Decimal) -> Decimal:
            return pool.quote(d) - Decimal("1.5") * d

        step = Decimal("0.001")
        assert profit(r.optimal_delta) > max(profit(r.optimal_delta - step), profit(r.optimal_delta + step))

    def test_direction_follows_the_indices_and_defaults_to_0_to_1(self) -> None:
        args = (["1000", "2000", "500"], ["0.25", "0.5", "0.25"], 1)
        assert quarlen.PyBalancerWeightedPool(*args).quote(10) == quarlen.PyBalancerWeightedPool(*args, 0, 1).quote(10)
        # 2 -> 0: equal weights, so a constant-product trade of 500 against 1000.
        assert close(quarlen.PyBalancerWeightedPool(*args, 2, 0).quote(10), Decimal(10000) / 510)

    def test_constraints(self) -> None:
        pool = quarlen.PyBalancerWeightedPool(*HALVES)
        capped = pool.optimal_size("1.5", max_size=100)
        assert (txt(capped.optimal_delta), capped.guarantee_tier) == ("100", "ProvenOptimal")
        for kw in ({"max_size": 0}, {"max_size": -1}, {"fixed_cost": 36}):
            with pytest.raises(ValueError, match="^NoProfitableSize$"):
                pool.optimal_size("1.5", **kw)

    @pytest.mark.parametrize(
        "pool, price, expected",
        [
            # The marginal price equals the reference price exactly.
            ((["1", "1"], ["0.5", "0.5"], 1), 1, "NoArbitrageOpportunity"),
            (HALVES, "-1", invalid_reserves("reference_price must be > 0, got -1")),
        ],
    )
    def test_errors(self, pool: tuple[Any, ...], price: Number, expected: str) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.PyBalancerWeightedPool(*pool).optimal_size(price)
        assert str(info.value) == expected

    def test_quote_edges(self) -> None:
        pool = quarlen.PyBalancerWeightedPool(*HALVES)
        assert txt(pool.quote("0.000")) == "0"
        with pytest.raises(ValueError) as info:
            pool.quote(-1)
        assert str(info.value) == invalid_reserves("delta_in must be >= 0, got -1")


class TestValidation:
    @pytest.mark.parametrize(
        "reserves, weights, f, i, o, detail",
        [
            ([1], [1], 1, 0, 1, "pool must have at least 2 assets, got 1"),
            ([1, 1], ["0.5"], 1, 0, 1, "reserves count (2) must match weights count (1)"),
            ([1, 1], ["0.5", "0.5"], 1, 5, 5, "indices out of bounds: input_index=5, output_index=5, total=2"),
            ([1, 1], ["0.5", "0.5"], 1, 1, 1, "input_index and output_index must be distinct"),
            ([1, 1, 0], ["0.3", "0.3", "-1"], 1, 0, 1, "reserve 2 must be > 0, got 0"),
            ([1, 1], ["0", "-1"], 0, 0, 1, "weight 0 must be > 0, got 0"),
            ([1, 1, 1], ["0.3", "0.3", "0.38"], 0, 0, 1, "weights must sum to approximately 1.0, got sum 0.98"),
            ([1, 1], ["0.5", "0.5"], "1.5", 0, 1, "fee_retention must be in (0, 1], got 1.5"),
        ],
    )
    def test_first_failed_check_is_reported(self, reserves: list[Any], weights: list[Any], f: Number, i: int, o: int,
                                            detail: str) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.balancer_optimal_size(reserves, weights, f, i, o, "not a price")
        assert str(info.value) == invalid_reserves(detail)

    @pytest.mark.parametrize("weights", [["0.3", "0.3", "0.395"], ["0.3", "0.3", "0.39"], ["0.3", "0.3", "0.41"]])
    def test_weight_sums_within_a_hundredth_pass(self, weights: list[Any]) -> None:
        quarlen.PyBalancerWeightedPool([1, 1, 1], weights, 1)

    def test_argument_kinds(self) -> None:
        with pytest.raises(TypeError):
            quarlen.balancer_optimal_size(*HALVES, "1.5")  # type: ignore[call-arg, arg-type]  # no index defaults
        with pytest.raises(OverflowError) as info:
            quarlen.PyBalancerWeightedPool(*HALVES, -1)
        assert notes(info.value) == ["while processing 'input_index'"]
        with pytest.raises(TypeError):
            quarlen.PyBalancerWeightedPool(*HALVES, 0, None)  # type: ignore[arg-type]
        with pytest.raises(TypeError, match="Can't extract `str` to `Vec`"):
            quarlen.PyBalancerWeightedPool(["1", "1"], "0.5", 1)
        with pytest.raises(ValueError, match=r'^invalid weights\[i\] "x": '):
            quarlen.PyBalancerWeightedPool([1, "1"], ["0.5", "x"], 1)


def test_portfolio_sizes_a_weighted_pool() -> None:
    pool = quarlen.PyBalancerWeightedPool(*HALVES)
    result = quarlen.portfolio_optimize(10**6, [{"id": "b", "pool": pool, "reference_price": "1.5"}])
    (position,) = result.allocations
    assert (position.guarantee_tier, position.allocated_size) == ("ProvenOptimal", pool.optimal_size("1.5").optimal_delta)
