"""The constant-product pool: validation, quote and the closed-form optimal
size, digit for digit, through both the class and the module function."""

import copy
import pickle
from collections.abc import Callable
from decimal import Decimal
from typing import Any

import pytest

import quarlen
from support import sized_both_ways, txt, D, cpmm_quote, cpmm_size, family_params, invalid_reserves, Family, Number, Pool

MAX = "79228162514264337593543950335"


def size_both_ways(x: Number, y: Number, f: Number, price: Number, fixed_cost: Number | None = None,
                   max_size: Number | None = None) -> tuple[Any, ...]:
    """Sizes through the module function and through a pool object, checks
    they agree, and returns the function's answer (or error text)."""
    return sized_both_ways(lambda: quarlen.cpmm_optimal_size(x, y, f, price, fixed_cost, max_size),
                           lambda: quarlen.PyCpmm(x, y, f).optimal_size(price, fixed_cost, max_size), as_text=txt)


class TestWorkedExamples:
    @pytest.mark.parametrize(
        "fixed_cost, max_size, expected",
        [
            (None, None, ("ok", "1", "0.25", "ProvenOptimal", None)),
            # The cap keeps the tier: the bounded problem is still solved exactly.
            (None, "0.5", ("ok", "0.5", "0.2083333333333333333333333333", "ProvenOptimal", None)),
            # A cap equal to the optimum keeps the computed size (and its scale).
            (None, "1.00", ("ok", "1", "0.25", "ProvenOptimal", None)),
            (None, "2", ("ok", "1", "0.25", "ProvenOptimal", None)),
            ("0.1", None, ("ok", "1", "0.15", "ProvenOptimal", None)),
            # A negative fixed cost is a rebate, taken as given.
            ("-1", None, ("ok", "1", "1.25", "ProvenOptimal", None)),
            # A net profit of exactly zero is not a trade.
            ("0.25", None, ("err", "NoProfitableSize")),
            ("0.2500000000000000000000000001", None, ("err", "NoProfitableSize")),
            (None, "0", ("err", "NoProfitableSize")),
            (None, "-0.5", ("err", "NoProfitableSize")),
        ],
    )
    def test_unit_pool_at_a_quarter(self, fixed_cost: str | None, max_size: str | None, expected: tuple[object,
                                    ...]) -> None:
        assert size_both_ways(1, 1, 1, "0.25", fixed_cost, max_size) == expected

    @pytest.mark.parametrize(
        "args, expected",
        [
            ((1, 1, 1, 1), "NoArbitrageOpportunity"),
            ((1, 1, 1, "1.0000000001"), "NoArbitrageOpportunity"),
            ((1, 1, "0.5", "0.5"), "NoArbitrageOpportunity"),
            ((1, 1, 1, 0), invalid_reserves("reference_price must be > 0, got 0")),
            ((1, 1, 1, "-0.50"), invalid_reserves("reference_price must be > 0, got -0.50")),
            # The price is checked before the pool's rate is compared with it.
            ((1, 1, "0.5", "-1"), invalid_reserves("reference_price must be > 0, got -1")),
        ],
    )
    def test_sizing_errors(self, args: tuple[Any, ...], expected: str) -> None:
        assert size_both_ways(*args) == ("err", expected)

    def test_no_arbitrage_is_a_value_error_with_the_bare_name(self) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.cpmm_optimal_size(1, 1, 1, 1)
        assert type(info.value) is quarlen.NoArbitrageOpportunity
        assert str(info.value) == "NoArbitrageOpportunity"
        assert info.value.args == ("NoArbitrageOpportunity",)


class TestValidation:
    @pytest.mark.parametrize(
        "args, detail",
        [
            ((0, 1, 1), "x must be > 0, got 0"),
            ((-1, 1, 1), "x must be > 0, got -1"),
            # x is checked first, whatever else is wrong.
            ((0, 0, 0), "x must be > 0, got 0"),
            ((1, 0, 5), "y must be > 0, got 0"),
            ((1, "-0.001", 1), "y must be > 0, got -0.001"),
            ((1, 1, 0), "fee_retention must be in (0, 1], got 0"),
            ((1, 1, "1.0000001"), "fee_retention must be in (0, 1], got 1.0000001"),
            ((1, 1, "-0.3"), "fee_retention must be in (0, 1], got -0.3"),
        ],
    )
    def test_rejected(self, args: tuple[Number, Number, Number], detail: str) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.PyCpmm(*args)
        assert str(info.value) == invalid_reserves(detail)
        with pytest.raises(ValueError) as info:
            quarlen.cpmm_optimal_size(*args, "0.25")
        assert str(info.value) == invalid_reserves(detail)

    @pytest.mark.parametrize("f", ["1", "1.000", "0.0000000000000000000000000001", "0.997"])
    def test_accepted_fee_retention(self, f: Number) -> None:
        assert isinstance(quarlen.PyCpmm(1, 1, f), quarlen.PyCpmm)


class TestQuote:
    @pytest.mark.parametrize(
        "pool, delta_in, expected",
        [
            ((1, 1, 1), 1, "0.50"),
            ((1, 1, 1), "0.5", "0.3333333333333333333333333333"),
            ((1, 1, 1), 0, "0"),
            # Unlike the other families the constant-product quote takes a
            # negative input and answers with a negative output.
            ((1, 1, 1), "-0.5", "-1"),
            ((100, 200, "0.997"), 10, None),
            (("0.0001", "12345.6789", "0.95"), "0.00003", None),
        ],
    )
    def test_values(self, pool: tuple[Number, Number, Number], delta_in: Number, expected: str | None) -> None:
        got = quarlen.PyCpmm(*pool).quote(delta_in)
        assert type(got) is Decimal
        x, y, f = map(D.of, pool)
        model = cpmm_quote(x, y, f, D.of(delta_in))
        assert model[0] == "ok"
        assert txt(got) == str(model[1])
        if expected is not None:
            assert txt(got) == expected

    @pytest.mark.parametrize(
        "pool, delta_in, shown",
        [((1, 1, 1), -1, "0"), ((1, 1, "0.5"), -3, "-0.5"), (("2.0", 1, 1), "-2.5", "-0.5")],
    )
    def test_input_that_empties_the_pool(self, pool: tuple[Any, ...], delta_in: Number, shown: str) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.PyCpmm(*pool).quote(delta_in)
        assert str(info.value) == invalid_reserves(f"x + fee_retention * delta_in must be > 0, got {shown}")

    def test_quote_does_not_change_the_pool(self) -> None:
        pool = quarlen.PyCpmm(100, 200, "0.997")
        first = pool.optimal_size("0.5")
        pool.quote(50)
        with pytest.raises(ValueError):
            pool.quote(-1000)
        again = pool.optimal_size("0.5")
        assert (txt(first.optimal_delta), txt(first.expected_profit)) == (
            txt(again.optimal_delta), txt(again.expected_profit))


# Pools chosen to exercise fee rounding, scales, tiny and huge reserves, and
# constraints; every answer is compared digit for digit with the model.
GRID = [
    (100, 200, "0.997", "0.5", None, None),
    (100, 200, "0.997", "0.5", "3.3", None),
    (100, 200, "0.997", "0.5", None, "12.5"),
    ("1234.5678", "98765.4321", "0.9975", "3.14159", None, None),
    ("0.0001", "0.0002", "0.95", "0.001", None, None),
    ("1000000", "3000000000", "0.997", "2000", "10", None),
    ("5000000000000", "7", "0.999", "0.000000000001", None, None),
    ("3", "3", "1", "0.999999999999", None, None),
    ("2", "9", "0.5", "0.75", "-0.5", "0.3"),
    ("1", "1", "1", "0.0000000000000000000000000001", None, None),
]


@pytest.mark.parametrize("x, y, f, price, fixed_cost, max_size", GRID)
def test_matches_model(x: Number, y: Number, f: Number, price: Number, fixed_cost: str | None,
                       max_size: str | None) -> None:
    model = cpmm_size(
        D.of(x), D.of(y), D.of(f), D.of(price),
        D.of(fixed_cost) if fixed_cost is not None else D(0, 0),
        D.of(max_size) if max_size is not None else None,
    )
    expected = ("err", model[1]) if model[0] == "err" else ("ok", str(model[1]), str(model[2]), "ProvenOptimal", None)
    assert size_both_ways(x, y, f, price, fixed_cost, max_size) == expected


class TestInternalFault:
    @pytest.mark.parametrize(
        "call, message",
        [
            # x * y overflows while forming the radicand.
            (lambda: quarlen.cpmm_optimal_size(MAX, MAX, 1, "0.5"), "Multiplication overflowed"),
            (lambda: quarlen.PyCpmm(MAX, MAX, 1).optimal_size("0.5"), "Multiplication overflowed"),
            (lambda: quarlen.PyCpmm(MAX, 1, 1).quote(MAX), "Addition overflowed"),
            (lambda: quarlen.PyCpmm(1, MAX, 1).quote(2), "Multiplication overflowed"),
        ],
    )
    def test_overflow_escapes_exception_handlers(self, call: Callable[[], object], message: str) -> None:
        escaped = None
        try:
            try:
                call()
            except Exception:  # noqa: BLE001 - must not catch the fault
                pytest.fail("an internal fault was caught as an ordinary Exception")
        except quarlen.InternalFault as fault:
            escaped = fault
        assert escaped is not None
        assert str(escaped) == message
        # The module is still usable afterwards.
        assert txt(quarlen.cpmm_optimal_size(1, 1, 1, "0.25").expected_profit) == "0.25"


class TestPoolObjects:
    def test_repr_shows_constructor_arguments(self) -> None:
        pool = quarlen.PyCpmm(1, "2.50", Decimal("0.997"))
        assert repr(pool) == "PyCpmm(x=Decimal('1'), y=Decimal('2.50'), fee_retention=Decimal('0.997'))"

    @pytest.mark.parametrize("family", family_params())
    @pytest.mark.parametrize("how", ["pickle", "copy", "deepcopy"])
    def test_restored_pool_gives_identical_results(self, family: Family, how: str) -> None:
        pool = family.pool()
        clones: dict[str, Callable[[], Pool]] = {
            "pickle": lambda: pickle.loads(pickle.dumps(pool)),
            "copy": lambda: copy.copy(pool),
            "deepcopy": lambda: copy.deepcopy(pool),
        }
        clone = clones[how]()
        assert type(clone) is type(pool)
        assert repr(clone) == repr(pool)
        assert txt(clone.quote(family.delta_in)) == txt(pool.quote(family.delta_in))
        assert repr(clone.optimal_size(family.reference_price)) == repr(pool.optimal_size(family.reference_price))

    @pytest.mark.parametrize("family", family_params())
    def test_class_and_function_agree(self, family: Family) -> None:
        a = family.pool().optimal_size(family.reference_price, "0.01", 5)
        b = family.optimal_size("0.01", 5)
        for name in ("optimal_delta", "expected_profit", "guarantee_tier", "guarantee_tier_detail", "iterations"):
            assert txt(getattr(a, name)) == txt(getattr(b, name)), name
