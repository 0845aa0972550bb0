"""The module's surface: what it exports, how it describes itself, and which
of its objects can be created or changed from Python."""

import inspect
import threading
from typing import Any

import pytest

import quarlen
from support import txt, ALL_NAMES, FAMILIES, POOL_CLASSES, Family, family_params, missing_names, require

FUNCTION_SIGNATURES = {
    "cpmm_optimal_size": "(x, y, fee_retention, reference_price, fixed_cost=None, max_size=None)",
    "stableswap_optimal_size": "(reserves, amplification, fee_retention, reference_price, fixed_cost=None, max_size=None)",
    "pmm_optimal_size": "(base_reserve, quote_reserve, oracle_price, k, reference_price, fixed_cost=None, max_size=None)",
    "clmm_optimal_size": "(liquidity, sqrt_price_lower, sqrt_price_upper, sqrt_price_current, fee_retention, "
    "reference_price, fixed_cost=None, max_size=None)",
    "balancer_optimal_size": "(reserves, weights, fee_retention, input_index, output_index, reference_price, "
    "fixed_cost=None, max_size=None)",
    "velodrome_optimal_size": "(reserve_x, reserve_y, fee_retention, reference_price, fixed_cost=None, max_size=None)",
    "dlmm_optimal_size": "(bins, active_bin_index, fee_retention, reference_price, fixed_cost=None, max_size=None)",
    "cryptoswap_optimal_size": "(balances, amplification_a, gamma, fee_retention, input_index, reference_price, "
    "fixed_cost=None, max_size=None)",
    "dodo_optimal_size": "(base_target, quote_target, base_reserve, quote_reserve, oracle_price, k, fee_retention, "
    "is_sell_base, reference_price, fixed_cost=None, max_size=None)",
    "portfolio_optimize": "(total_capital_budget, opportunities)",
    "route_optimal_size": "(legs, reference_price, fixed_cost=None, max_size=None)",
}

CLASS_SIGNATURES = {
    "PySizingConstraints": "(fixed_cost=None, max_size=None)",
    "PyCpmm": "(x, y, fee_retention)",
    "PyStableSwap": "(reserves, amplification, fee_retention)",
    "PyVelodromeStable": "(reserve_x, reserve_y, fee_retention)",
    "PyCurveCryptoSwap": "(balances, amplification_a, gamma, fee_retention, input_index=0)",
    "PyBalancerWeightedPool": "(reserves, weights, fee_retention, input_index=0, output_index=1)",
    "PyPmm": "(base_reserve, quote_reserve, oracle_price, k)",
    "PyDodoPmm": "(base_target, quote_target, base_reserve, quote_reserve, oracle_price, k, fee_retention, "
    "is_sell_base=True)",
    "PyConcentratedLiquidity": "(liquidity, sqrt_price_lower, sqrt_price_upper, sqrt_price_current, fee_retention)",
    "PyDlmmBook": "(bins, active_bin_index, fee_retention)",
    "PyRoute": "(legs)",
}

RESULT_DOCS = {
    "SizingResult": "Result of an individual AMM sizing calculation.",
    "PortfolioResult": "Global portfolio optimization result.",
    "AllocatedPosition": "Position allocation in a solved portfolio.",
}


class TestExports:
    def test_all_lists_registered_names_in_order(self) -> None:
        present = [name for name in ALL_NAMES if hasattr(quarlen, name)]
        assert type(quarlen.__all__) is list
        assert quarlen.__all__ == present

    def test_foundation_names_present(self) -> None:
        for name in ALL_NAMES[:5] + ["cpmm_optimal_size", "portfolio_optimize"]:
            assert hasattr(quarlen, name), name

    @pytest.mark.skipif(bool(missing_names()), reason="pool family not yet built")
    def test_all_is_complete(self) -> None:
        assert quarlen.__all__ == ALL_NAMES

    def test_internal_fault_is_outside_the_exception_hierarchy(self) -> None:
        fault = quarlen.InternalFault
        assert issubclass(fault, BaseException)
        assert not issubclass(fault, Exception)
        assert "InternalFault" not in quarlen.__all__

    def test_module_docstring_says_what_it_is_and_where_to_read_more(self) -> None:
        doc = quarlen.__doc__ or ""
        assert doc.startswith("Exact-decimal trade sizing against automated-market-maker pools.")
        for name in [*POOL_CLASSES, "portfolio_optimize", "README", "stubs"]:
            assert name in doc, name


class TestSignatures:
    @pytest.mark.parametrize("name", sorted(FUNCTION_SIGNATURES))
    def test_function(self, name: str) -> None:
        function = require(name)
        assert function.__text_signature__ == FUNCTION_SIGNATURES[name]
        assert str(inspect.signature(function)) == FUNCTION_SIGNATURES[name]
        # The docstring is the signature alone: no documentation text remains.
        assert not function.__doc__

    @pytest.mark.parametrize("name", sorted(CLASS_SIGNATURES))
    def test_class(self, name: str) -> None:
        cls = require(name)
        assert cls.__text_signature__ == CLASS_SIGNATURES[name]
        assert str(inspect.signature(cls)) == CLASS_SIGNATURES[name]
        expected_doc = "Sizing constraints wrapper." if name == "PySizingConstraints" else ""
        assert (cls.__doc__ or "") == expected_doc

    @pytest.mark.parametrize("name", [*POOL_CLASSES, "PyRoute"])
    def test_pool_methods(self, name: str) -> None:
        cls = require(name)
        assert cls.quote.__text_signature__ == "($self, delta_in)"
        assert cls.optimal_size.__text_signature__ == "($self, reference_price, fixed_cost=None, max_size=None)"

    @pytest.mark.parametrize("name", sorted(RESULT_DOCS))
    def test_result_class_docs(self, name: str) -> None:
        assert getattr(quarlen, name).__doc__ == RESULT_DOCS[name]


@pytest.mark.parametrize("name", sorted(RESULT_DOCS))
@pytest.mark.parametrize("args, kwargs", [((), {}), ((1,), {}), ((), {"optimal_delta": 1})])
def test_result_classes_cannot_be_instantiated(name: str, args: tuple[Any, ...], kwargs: dict[str, Any]) -> None:
    with pytest.raises(TypeError):
        getattr(quarlen, name)(*args, **kwargs)


def _instances() -> dict[str, object]:
    cpmm = quarlen.PyCpmm(1, 1, 1)
    portfolio = quarlen.portfolio_optimize(10, [{"id": "a", "pool": cpmm, "reference_price": "0.25"}])
    return {
        "PyCpmm": cpmm,
        "PySizingConstraints": quarlen.PySizingConstraints(1, 2),
        "SizingResult": cpmm.optimal_size("0.25"),
        "PortfolioResult": portfolio,
        "AllocatedPosition": portfolio.allocations[0],
    }


class TestImmutability:
    ATTRIBUTES = {
        "PyCpmm": "x",
        "PySizingConstraints": "fixed_cost",
        "SizingResult": "optimal_delta",
        "PortfolioResult": "shadow_price",
        "AllocatedPosition": "allocated_size",
    }

    @pytest.mark.parametrize("name", sorted(ATTRIBUTES))
    @pytest.mark.parametrize("attribute", ["existing", "new_attribute", "__dict__"])
    def test_instances_reject_assignment_and_deletion(self, name: str, attribute: str) -> None:
        obj = _instances()[name]
        attribute = self.ATTRIBUTES[name] if attribute == "existing" else attribute
        before = repr(obj)
        with pytest.raises((AttributeError, TypeError)):
            setattr(obj, attribute, 5)
        with pytest.raises((AttributeError, TypeError)):
            delattr(obj, attribute)
        assert repr(obj) == before

    @pytest.mark.parametrize("family", family_params())
    def test_every_pool_rejects_assignment(self, family: Family) -> None:
        pool = family.pool()
        for attribute in ("quote", "optimal_size", "fresh"):
            with pytest.raises((AttributeError, TypeError)):
                setattr(pool, attribute, None)
        with pytest.raises((AttributeError, TypeError)):
            del pool.quote
        assert txt(pool.quote(family.delta_in)) == txt(family.pool().quote(family.delta_in))

    @pytest.mark.parametrize("name", sorted(ATTRIBUTES))
    def test_classes_reject_assignment(self, name: str) -> None:
        # The types are shared by every caller (and every thread); patching one
        # would change the behaviour of objects the caller never touched.
        cls = getattr(quarlen, name)
        try:
            with pytest.raises((AttributeError, TypeError)):
                cls.injected = 1
        finally:
            if "injected" in vars(cls):
                delattr(cls, "injected")

    @pytest.mark.parametrize("family", family_params())
    def test_pool_exposes_only_its_two_operations(self, family: Family) -> None:
        pool = family.pool()
        assert sorted(n for n in dir(pool) if not n.startswith("_")) == ["optimal_size", "quote"]

    def test_constraints_expose_nothing(self) -> None:
        constraints = quarlen.PySizingConstraints(1, 2)
        assert [n for n in dir(constraints) if not n.startswith("_")] == []


class TestMisuse:
    """Ways around the constructor must not yield a half-built or changed pool."""

    @pytest.mark.parametrize("family", family_params())
    def test_new_without_arguments_builds_nothing(self, family: Family) -> None:
        cls = require(family.cls)
        with pytest.raises(TypeError):
            cls.__new__(cls)

    @pytest.mark.parametrize("family", family_params())
    def test_calling_init_again_changes_nothing(self, family: Family) -> None:
        pool = family.pool()
        before = (repr(pool), txt(pool.quote(family.delta_in)))
        try:
            pool.__init__(*family.args)  # type: ignore[misc]
            pool.__init__(*(["2"] * len(family.args)))  # type: ignore[misc]
        except (TypeError, ValueError):
            pass
        assert (repr(pool), txt(pool.quote(family.delta_in))) == before

    @pytest.mark.parametrize("method", ["quote", "optimal_size", "__reduce__"])
    @pytest.mark.parametrize("wrong_self", [5, None, "PyCpmm"])
    def test_methods_reject_a_foreign_self(self, method: str, wrong_self: object) -> None:
        with pytest.raises(TypeError):
            getattr(quarlen.PyCpmm, method)(wrong_self, 1)
        with pytest.raises(TypeError):
            getattr(quarlen.PyCpmm, method)(quarlen.PySizingConstraints(), 1)

    def test_subclass_without_constructor_call_is_refused(self) -> None:
        try:
            class Lazy(quarlen.PyCpmm):
                def __init__(self, *args: object) -> None:
                    pass
        except TypeError:
            pytest.skip("pool classes are not subclassable")
        with pytest.raises(TypeError):
            Lazy()
        assert txt(Lazy(1, 1, 1).quote(1)) == "0.50"


class TestConcurrentUse:
    @pytest.mark.parametrize("family", family_params())
    def test_shared_pool_gives_identical_answers_on_all_threads(self, family: Family) -> None:
        pool = family.pool()
        expected = (txt(pool.quote(family.delta_in)), repr(pool.optimal_size(family.reference_price)))
        seen: list[tuple[str, str]] = []
        errors: list[BaseException] = []

        def work() -> None:
            try:
                for _ in range(200):
                    seen.append((txt(pool.quote(family.delta_in)), repr(pool.optimal_size(family.reference_price))))
            except BaseException as exc:  # noqa: BLE001 - reported below
                errors.append(exc)

        threads = [threading.Thread(target=work) for _ in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert not errors
        assert len(seen) == 800 and set(seen) == {expected}


def test_families_table_names_real_classes() -> None:
    # Guards the shared table of pool families used across the suite.
    for family in FAMILIES:
        assert family.cls in POOL_CLASSES
        assert family.function in FUNCTION_SIGNATURES
