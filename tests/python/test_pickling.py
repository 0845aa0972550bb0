"""Objects that travel: pools, constraints and results pickle, copy and
deepcopy to equal objects, survive a trip to a worker process, and the
restore path refuses forged state instead of building a broken object."""

from __future__ import annotations

import copy
import importlib.metadata
import multiprocessing
import pickle
from collections.abc import Callable
from concurrent.futures import ProcessPoolExecutor
from decimal import Decimal
from typing import Any, TypeVar

import pytest

import quarlen
from support import ALL_NAMES, FAMILIES, Family, Number, family_params, txt

T = TypeVar("T")

CLONES: dict[str, Callable[[Any], Any]] = {
    "pickle": lambda obj: pickle.loads(pickle.dumps(obj)),
    "pickle-protocol-0": lambda obj: pickle.loads(pickle.dumps(obj, protocol=0)),
    "copy": copy.copy,
    "deepcopy": copy.deepcopy,
}


def clone(how: str, obj: T) -> T:
    restored: T = CLONES[how](obj)
    assert type(restored) is type(obj)
    assert restored is not obj
    if not isinstance(obj, quarlen.PySizingConstraints):  # which compares by identity
        assert restored == obj and not restored != obj
        if not isinstance(obj, quarlen.SizingResult):  # which is unhashable
            assert hash(restored) == hash(obj)
    return restored


def result_fields(result: quarlen.SizingResult) -> tuple[object, ...]:
    """Every attribute, with the Decimals as exact texts so that a changed
    scale (1.50 against 1.5) counts as a difference."""
    return (txt(result.optimal_delta), txt(result.expected_profit), result.guarantee_tier,
            result.guarantee_tier_detail, result.iterations)


def portfolio_fields(result: quarlen.PortfolioResult) -> tuple[object, ...]:
    positions = [(p.id, p.guarantee_tier, txt(p.allocated_size), txt(p.expected_profit))
                 for p in result.allocations]
    return (txt(result.total_capital_used), txt(result.total_expected_profit), txt(result.shadow_price), positions)


def mixed_portfolio() -> quarlen.PortfolioResult:
    """A budget that binds over one opportunity of every family, so the
    positions carry all the tier names and a non-zero shadow price."""
    items: list[dict[str, Any]] = [
        {"id": f.cls, "pool": f.pool(), "reference_price": f.reference_price} for f in FAMILIES
    ]
    return quarlen.portfolio_optimize(5, items)


@pytest.mark.parametrize("how", sorted(CLONES))
class TestRoundTrips:
    @pytest.mark.parametrize("family", family_params())
    def test_pool_and_its_result(self, how: str, family: Family) -> None:
        pool = family.pool()
        restored = clone(how, pool)
        assert repr(restored) == repr(pool)
        assert txt(restored.quote(family.delta_in)) == txt(pool.quote(family.delta_in))
        for extra in ((), ("0.01", 5)):
            expected = pool.optimal_size(family.reference_price, *extra)
            assert result_fields(restored.optimal_size(family.reference_price, *extra)) == result_fields(expected)
            assert result_fields(clone(how, expected)) == result_fields(expected)

    def test_result_detail_is_equal_but_not_shared(self, how: str) -> None:
        result = FAMILIES[1].optimal_size()  # NumericallyGuaranteed: a non-empty detail
        assert result.guarantee_tier_detail == {"convergence_conditions_met": True}
        restored = clone(how, result)
        assert restored.guarantee_tier_detail == result.guarantee_tier_detail
        assert restored.guarantee_tier_detail is not result.guarantee_tier_detail
        restored.guarantee_tier_detail["mine"] = True
        assert "mine" not in result.guarantee_tier_detail
        assert restored != result

    def test_result_keeps_a_detail_the_caller_changed(self, how: str) -> None:
        result = quarlen.cpmm_optimal_size(1, 1, 1, "0.25")
        result.guarantee_tier_detail["note"] = ["kept"]
        assert clone(how, result).guarantee_tier_detail == {"note": ["kept"]}

    @pytest.mark.parametrize("args", [(), (None, None), ("0.50", None), ("-3", "2.000"), (0, "1e-28")])
    def test_constraints(self, how: str, args: tuple[Number | None, ...]) -> None:
        constraints = quarlen.PySizingConstraints(*args)
        assert repr(clone(how, constraints)) == repr(constraints)

    def test_portfolio_and_positions(self, how: str) -> None:
        result = mixed_portfolio()
        assert result.shadow_price > 0
        restored = clone(how, result)
        assert portfolio_fields(restored) == portfolio_fields(result)
        assert repr(restored) == repr(result)
        assert restored.allocations == result.allocations
        for position in result.allocations:
            assert repr(clone(how, position)) == repr(position)

    def test_empty_portfolio(self, how: str) -> None:
        result = quarlen.portfolio_optimize(1, [])
        assert portfolio_fields(clone(how, result)) == portfolio_fields(result)


def test_constraints_subclass_pickles_as_itself() -> None:
    restored = pickle.loads(pickle.dumps(Budgeted("1", "2")))
    assert type(restored) is Budgeted
    assert repr(restored) == "PySizingConstraints(fixed_cost=Decimal('1'), max_size=Decimal('2'))"


class Budgeted(quarlen.PySizingConstraints):
    pass


def size_everything() -> list[tuple[object, ...]]:
    return [result_fields(f.optimal_size()) for f in FAMILIES]


def error_fields(error: BaseException) -> tuple[object, ...]:
    return (type(error).__name__, error.args, vars(error))


def test_pools_and_results_cross_to_a_fresh_worker_process() -> None:
    # A spawned worker imports everything afresh, so this also proves that
    # pickles name only what the module exports under its own name.
    context = multiprocessing.get_context("spawn")
    with ProcessPoolExecutor(max_workers=1, mp_context=context) as workers:
        sized = [workers.submit(f.pool().optimal_size, f.reference_price) for f in FAMILIES]
        module_functions: list[Callable[..., quarlen.SizingResult]] = [getattr(quarlen, f.function) for f in FAMILIES]
        functions = [workers.submit(function, *f.args, f.reference_price)
                     for function, f in zip(module_functions, FAMILIES, strict=True)]
        portfolio = workers.submit(mixed_portfolio).result()
        assert workers.submit(size_everything).result() == size_everything()
        # Sizing errors raised in the worker arrive as their own classes, and
        # a fresh process rebuilds them from their pickles.
        raised = [workers.submit(quarlen.cpmm_optimal_size, 0, 1, 1, 1),
                  workers.submit(quarlen.stableswap_optimal_size, ["1e-27", "1e-27"], 1, 1, "0.5")]
        errors = [e for e in (r.exception() for r in raised) if e is not None]
        assert [type(e) for e in errors] == [quarlen.InvalidReserves, quarlen.DidNotConverge]
        assert [workers.submit(error_fields, e).result() for e in errors] == [error_fields(e) for e in errors]
    expected = [result_fields(f.optimal_size()) for f in FAMILIES]
    assert [result_fields(s.result()) for s in sized] == expected
    assert [result_fields(s.result()) for s in functions] == expected
    assert portfolio_fields(portfolio) == portfolio_fields(mixed_portfolio())


def with_decimals(value: Any, change: Callable[[Decimal], Decimal]) -> Any:
    """Constructor arguments (as __reduce__ gives them) with `change` applied
    to every Decimal, inside lists and bin dicts too."""
    if isinstance(value, Decimal):
        return change(value)
    if isinstance(value, (list, tuple)):
        return type(value)(with_decimals(item, change) for item in value)
    if isinstance(value, dict):
        return {key: with_decimals(item, change) for key, item in value.items()}
    return value


def with_trailing_zero(value: Decimal) -> Decimal:
    text = format(value, "f")
    return Decimal(text + ("0" if "." in text else ".0"))


class TestEquality:
    @pytest.mark.parametrize("family", family_params())
    def test_pools_are_equal_by_class_and_value(self, family: Family) -> None:
        pool = family.pool()
        cls: Any = type(pool)
        args = pool.__reduce__()[1]
        rescaled = cls(*with_decimals(args, with_trailing_zero))
        assert repr(rescaled) != repr(pool)  # the scale is kept...
        assert rescaled == pool and hash(rescaled) == hash(pool)  # ...but 1.5 equals 1.50
        first = iter([True])
        changed = cls(*with_decimals(args, lambda d: d + 1 if next(first, False) else d))
        assert changed != pool and hash(changed) != hash(pool)
        assert [other.pool() == pool for other in FAMILIES] == [other is family for other in FAMILIES]
        assert len({pool, rescaled, changed}) == 2

    def test_class_decides_before_parameters(self) -> None:
        assert quarlen.PyCpmm(100, 200, "0.997") != quarlen.PyVelodromeStable(100, 200, "0.997")
        pool = quarlen.PyCpmm(1, 2, 1)
        assert pool != Subclassed(1, 2, 1) and Subclassed(1, 2, 1) == Subclassed(1, 2, 1)
        assert pool.__eq__(Decimal(1)) is NotImplemented and pool != (1, 2, 1)
        with pytest.raises(TypeError):
            pool < pool  # type: ignore[operator]  # noqa: B015 - ordering is not defined

    @pytest.mark.parametrize("cls, args, same, other", [
        (quarlen.PyBalancerWeightedPool, (["1", "2"], ["0.5", "0.5"], 1), (["1", "2"], ["0.5", "0.5"], 1, 0, 1),
         (["1", "2"], ["0.5", "0.5"], 1, 1, 0)),
        (quarlen.PyDodoPmm, (1, 1, 1, 1, 1, "0.5", 1), (1, 1, 1, 1, 1, "0.5", 1, True),
         (1, 1, 1, 1, 1, "0.5", 1, False)),
        (quarlen.PyDlmmBook, ([{"bin_id": 7, "price": 1, "reserve_x": 0, "reserve_y": 1}], 0, 1),
         ([{"reserve_y": "1.0", "reserve_x": "0.00", "price": "1.0", "bin_id": 7}], 0, 1),
         ([{"bin_id": 8, "price": 1, "reserve_x": 0, "reserve_y": 1}], 0, 1)),
    ])
    def test_defaults_indices_flags_and_bins(self, cls: Any, args: tuple[Any, ...], same: tuple[Any, ...],
                                             other: tuple[Any, ...]) -> None:
        assert cls(*args) == cls(*same) and hash(cls(*args)) == hash(cls(*same))
        assert cls(*args) != cls(*other)

    RECORDS: list[tuple[Any, tuple[Any, ...], tuple[Any, ...], list[tuple[int, Any]]]] = [
        (quarlen.SizingResult, (Decimal("1"), Decimal("0.25"), "NumericallyGuaranteed", {"c": True}, None),
         (Decimal("1.00"), Decimal("0.250"), "NumericallyGuaranteed", {"c": True}, None),
         [(0, 2), (1, "0.26"), (2, "ComposedFrom"), (3, {"c": False}), (4, 0)]),
        (quarlen.AllocatedPosition, ("a", "ProvenOptimal", Decimal("1"), Decimal("0.25")),
         ("a", "ProvenOptimal", Decimal("1.0"), Decimal("0.2500")),
         [(0, "b"), (1, "ComposedFrom"), (2, 0), (3, "0.24")]),
        (quarlen.PortfolioResult, ((("a", "ProvenOptimal", 1, 2), ("b", "ProvenOptimal", 0, 0)), 1, 2, 0),
         ((("a", "ProvenOptimal", "1.0", 2), ("b", "ProvenOptimal", "0.0", "0")), "1.00", 2, "0.000"),
         [(0, (("b", "ProvenOptimal", 0, 0), ("a", "ProvenOptimal", 1, 2))), (0, (("a", "ProvenOptimal", 1, 2),)),
          (1, 2), (2, 3), (3, 1)]),
    ]

    @pytest.mark.parametrize("cls, state, same, changes", RECORDS, ids=lambda v: getattr(v, "__name__", ""))
    def test_results_are_equal_when_every_attribute_is(self, cls: Any, state: tuple[Any, ...],
                                                      same: tuple[Any, ...], changes: list[tuple[int, Any]]) -> None:
        record = quarlen._restore(cls, state)
        assert record == quarlen._restore(cls, same)
        if cls is quarlen.SizingResult:
            # Its detail dict can change, so it is not hashable.
            assert cls.__hash__ is None
            with pytest.raises(TypeError):
                hash(record)
        else:
            assert hash(record) == hash(quarlen._restore(cls, same))
        for index, value in changes:
            changed = list(state)
            changed[index] = value
            assert record != quarlen._restore(cls, tuple(changed)), (index, value)
        assert record.__eq__(state) is NotImplemented
        assert all(record != quarlen._restore(c, s) for c, s, _, _ in self.RECORDS if c is not cls)


class Subclassed(quarlen.PyCpmm):
    pass


class TestForgedState:
    """_restore builds objects from whatever a pickle holds; it must check it
    as carefully as any argument."""

    GOOD_RESULT: tuple[Any, ...] = (Decimal("1"), Decimal("0.25"), "ProvenOptimal", {}, None)
    GOOD_POSITION: tuple[Any, ...] = ("a", "ProvenOptimal", Decimal("1"), Decimal("0.25"))

    def test_good_state_restores(self) -> None:
        result = quarlen._restore(quarlen.SizingResult, self.GOOD_RESULT)
        assert result_fields(result) == ("1", "0.25", "ProvenOptimal", {}, None)
        position = quarlen._restore(quarlen.AllocatedPosition, self.GOOD_POSITION)
        assert (position.id, txt(position.allocated_size)) == ("a", "1")

    @pytest.mark.parametrize("cls", [quarlen.PyCpmm, quarlen.PySizingConstraints, dict, "SizingResult"])
    def test_only_result_classes_are_restored(self, cls: Any) -> None:
        with pytest.raises(TypeError):
            quarlen._restore(cls, self.GOOD_RESULT)

    @pytest.mark.parametrize("state", [None, [], list(GOOD_RESULT), GOOD_RESULT[:4], GOOD_RESULT + (1,)])
    def test_state_must_be_a_tuple_of_the_right_length(self, state: Any) -> None:
        with pytest.raises(TypeError):
            quarlen._restore(quarlen.SizingResult, state)

    @pytest.mark.parametrize("index, value, error", [
        (0, "abc", ValueError),
        (0, "1e40", ValueError),
        (1, Decimal("NaN"), ValueError),
        (2, "Proven", ValueError),
        (2, "provenoptimal", ValueError),
        (2, "ProvenOptimal\0", ValueError),
        (2, b"ProvenOptimal", TypeError),
        (3, [], TypeError),
        (3, None, TypeError),
        (4, -1, OverflowError),
        (4, 2**32, OverflowError),
        (4, "3", TypeError),
    ])
    def test_bad_result_values_are_refused(self, index: int, value: object, error: type[Exception]) -> None:
        state: list[object] = list(self.GOOD_RESULT)
        state[index] = value
        with pytest.raises(error):
            quarlen._restore(quarlen.SizingResult, tuple(state))

    @pytest.mark.parametrize("index, value, error", [
        (0, 7, TypeError),
        (1, "Optimal", ValueError),
        (2, "x", ValueError),
        (3, None, ValueError),
    ])
    def test_bad_position_values_are_refused(self, index: int, value: object, error: type[Exception]) -> None:
        state: list[object] = list(self.GOOD_POSITION)
        state[index] = value
        with pytest.raises(error):
            quarlen._restore(quarlen.AllocatedPosition, tuple(state))
        # The same position inside a portfolio is refused the same way.
        with pytest.raises(error):
            quarlen._restore(quarlen.PortfolioResult, ((tuple(state),), 1, 1, 0))

    @pytest.mark.parametrize("allocations", [None, [GOOD_POSITION], (GOOD_POSITION[:3],), ("abcd",)])
    def test_bad_portfolio_allocations_are_refused(self, allocations: object) -> None:
        with pytest.raises(TypeError):
            quarlen._restore(quarlen.PortfolioResult, (allocations, 1, 1, 0))

    def test_largest_iteration_count_is_kept(self) -> None:
        state = self.GOOD_RESULT[:4] + (2**32 - 1,)
        assert quarlen._restore(quarlen.SizingResult, state).iterations == 2**32 - 1


class TestRestoreFunction:
    def test_is_a_module_attribute_outside_all(self) -> None:
        assert "_restore" not in quarlen.__all__
        assert quarlen.__all__ == ALL_NAMES
        # Pickle finds functions by module and name, so every function says
        # where it lives, as a Python function would.
        for name in ["_restore"] + [n for n in ALL_NAMES if n.islower()]:
            assert getattr(quarlen, name).__module__ == "quarlen", name

    def test_reduce_takes_no_arguments(self) -> None:
        result = quarlen.cpmm_optimal_size(1, 1, 1, "0.25")
        with pytest.raises(TypeError):
            result.__reduce__(1)  # type: ignore[call-arg]


def test_version_matches_the_installed_distribution() -> None:
    assert isinstance(quarlen.__version__, str) and quarlen.__version__
    assert "__version__" not in quarlen.__all__
    try:
        installed = importlib.metadata.version("quarlen")
    except importlib.metadata.PackageNotFoundError:
        pytest.skip("running against a build directory, not an installed distribution")
    assert quarlen.__version__ == installed
