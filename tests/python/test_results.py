"""The result objects handed back to Python and the constraints wrapper."""

from decimal import Decimal
from typing import Any

import pytest

import quarlen
from support import txt, quoted


@pytest.fixture
def sizing() -> quarlen.SizingResult:
    return quarlen.cpmm_optimal_size(1, 1, 1, "0.25")


@pytest.fixture
def portfolio() -> quarlen.PortfolioResult:
    a = {"id": "a", "pool": quarlen.PyCpmm(100, 100, 1), "reference_price": "0.25"}
    b = {"id": "b", "pool": quarlen.PyCpmm(50, 200, 1), "reference_price": "0.5"}
    return quarlen.portfolio_optimize(100, [a, b])


class TestSizingResult:
    def test_attribute_types(self, sizing: quarlen.SizingResult) -> None:
        assert type(sizing.optimal_delta) is Decimal
        assert type(sizing.expected_profit) is Decimal
        assert type(sizing.guarantee_tier) is str
        assert type(sizing.guarantee_tier_detail) is dict
        assert sizing.guarantee_tier == "ProvenOptimal"
        assert sizing.guarantee_tier_detail == {}
        assert sizing.iterations is None

    def test_decimals_are_stored_once(self, sizing: quarlen.SizingResult) -> None:
        assert sizing.optimal_delta is sizing.optimal_delta
        assert sizing.expected_profit is sizing.expected_profit

    def test_tier_name_is_a_fresh_string(self, sizing: quarlen.SizingResult) -> None:
        first, second = sizing.guarantee_tier, sizing.guarantee_tier
        assert first == second == "ProvenOptimal"
        assert first is not second

    def test_detail_is_one_shared_dictionary(self, sizing: quarlen.SizingResult) -> None:
        detail = sizing.guarantee_tier_detail
        assert sizing.guarantee_tier_detail is detail
        detail["note"] = "kept"
        assert sizing.guarantee_tier_detail == {"note": "kept"}
        # Each result has its own dictionary.
        assert quarlen.cpmm_optimal_size(1, 1, 1, "0.25").guarantee_tier_detail == {}

    def test_repr_shows_fields(self, sizing: quarlen.SizingResult) -> None:
        text = repr(sizing)
        assert text.startswith("SizingResult(")
        for part in ("Decimal('1')", "Decimal('0.25')", "ProvenOptimal"):
            assert part in text

    def test_result_outlives_its_pool(self) -> None:
        pool = quarlen.PyCpmm(1, 1, 1)
        result = pool.optimal_size("0.25")
        del pool
        assert txt(result.expected_profit) == "0.25"


class TestPortfolioResult:
    def test_attribute_types(self, portfolio: quarlen.PortfolioResult) -> None:
        for name in ("total_capital_used", "total_expected_profit", "shadow_price"):
            assert type(getattr(portfolio, name)) is Decimal, name
        assert type(portfolio.allocations) is list
        for position in portfolio.allocations:
            assert type(position) is quarlen.AllocatedPosition
            assert type(position.id) is str
            assert type(position.guarantee_tier) is str
            assert type(position.allocated_size) is Decimal
            assert type(position.expected_profit) is Decimal

    def test_decimals_are_new_on_every_read(self, portfolio: quarlen.PortfolioResult) -> None:
        for name in ("total_capital_used", "total_expected_profit", "shadow_price"):
            first, second = getattr(portfolio, name), getattr(portfolio, name)
            assert first == second and first is not second, name
        position = portfolio.allocations[0]
        assert position.allocated_size is not position.allocated_size
        assert position.expected_profit is not position.expected_profit

    def test_allocations_are_fresh_copies(self, portfolio: quarlen.PortfolioResult) -> None:
        first, second = portfolio.allocations, portfolio.allocations
        assert first is not second
        assert [repr(p) for p in first] == [repr(p) for p in second]
        assert all(a is not b for a, b in zip(first, second))
        first.clear()
        assert len(portfolio.allocations) == 2

    def test_positions_outlive_the_result(self, portfolio: quarlen.PortfolioResult) -> None:
        positions = portfolio.allocations
        del portfolio
        assert [p.id for p in positions] == ["a", "b"]
        assert txt(positions[1].allocated_size) == "63.015767374769686535105352959"

    def test_reprs_show_fields(self, portfolio: quarlen.PortfolioResult) -> None:
        text = repr(portfolio)
        assert text.startswith("PortfolioResult(") and "0.282910156250" in text
        position = repr(portfolio.allocations[0])
        assert position.startswith("AllocatedPosition(")
        for part in ("'a'", "ProvenOptimal", "36.984232625230313464894647041", "7.289624364505499190269306928"):
            assert part in position


class TestConstraints:
    @pytest.mark.parametrize(
        "args, kwargs, shown",
        [
            ((), {}, ["Decimal('0')", "max_size=None"]),
            (("1.50",), {}, ["Decimal('1.50')", "max_size=None"]),
            ((), {"max_size": 7}, ["Decimal('0')", "Decimal('7')"]),
            ((None, None), {}, ["Decimal('0')", "max_size=None"]),
            (("-2", "0"), {}, ["Decimal('-2')", "Decimal('0')"]),
        ],
    )
    def test_construction_and_repr(self, args: tuple[Any, ...], kwargs: dict[str, Any], shown: list[str]) -> None:
        constraints = quarlen.PySizingConstraints(*args, **kwargs)
        text = repr(constraints)
        assert text.startswith("PySizingConstraints(")
        for part in shown:
            assert part in text

    @pytest.mark.parametrize("parameter", ["fixed_cost", "max_size", "reference_price"])
    def test_not_accepted_in_place_of_a_number(self, parameter: str) -> None:
        constraints = quarlen.PySizingConstraints(1, 2)
        arguments: dict[str, Any] = {"reference_price": "0.25", parameter: constraints}
        with pytest.raises(ValueError) as info:
            quarlen.cpmm_optimal_size(1, 1, 1, **arguments)
        assert str(info.value).startswith(f"invalid {parameter} {quoted(str(constraints))}: ")
