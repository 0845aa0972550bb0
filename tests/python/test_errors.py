"""Sizing failures raise subclasses of quarlen.SizingError: ValueErrors whose
message is the error's text form, with the detail or the iteration count as
attributes, that pickle and copy as themselves. Other failures stay plain."""

from __future__ import annotations

import copy
import pickle
from collections.abc import Callable, Iterator
from typing import Any

import pytest

import quarlen
from support import FAMILIES, Family, invalid_reserves

KINDS = ["InvalidReserves", "DidNotConverge", "NoProfitableSize", "NoArbitrageOpportunity"]


def size(family: Family, reference_price: object, **kw: object) -> object:
    function: Callable[..., object] = getattr(quarlen, family.function)
    return function(*family.args, reference_price, **kw)


def fields(error: quarlen.SizingError) -> tuple[object, ...]:
    return (type(error), error.args, error.detail, error.iterations_attempted)


def cases() -> Iterator[Any]:
    """(call, class name, message, detail, iterations_attempted). Every family
    refuses a reference price of zero, none beats a price of a million, and
    no profit covers a fixed cost of a thousand million."""
    price_detail = "reference_price must be > 0, got 0"
    for f in FAMILIES:
        yield pytest.param(lambda f=f: size(f, 0), "InvalidReserves", invalid_reserves(price_detail), price_detail,
                           None, id=f"{f.cls}-InvalidReserves")
        yield pytest.param(lambda f=f: size(f, 10**6), "NoArbitrageOpportunity", "NoArbitrageOpportunity", None, None,
                           id=f"{f.cls}-NoArbitrageOpportunity")
        yield pytest.param(lambda f=f: f.optimal_size(fixed_cost=10**9), "NoProfitableSize", "NoProfitableSize",
                           None, None, id=f"{f.cls}-NoProfitableSize")
    # D^3 underflows to zero, so the second Newton pass divides by zero.
    yield pytest.param(lambda: quarlen.stableswap_optimal_size(["1e-27", "1e-27"], 1, 1, "0.5"), "DidNotConverge",
                       "DidNotConverge { iterations_attempted: 2 }", None, 2, id="PyStableSwap-DidNotConverge")
    # The constructor's and the quote's errors take the same road.
    yield pytest.param(lambda: quarlen.PyCpmm(0, 1, 1), "InvalidReserves",
                       invalid_reserves("x must be > 0, got 0"), "x must be > 0, got 0", None, id="constructor")
    yield pytest.param(lambda: quarlen.PyPmm(1, 1, 1, 1).quote("-1.5"), "InvalidReserves",
                       invalid_reserves("delta_in must be >= 0, got -1.5"), "delta_in must be >= 0, got -1.5", None,
                       id="quote")


@pytest.mark.parametrize("call, kind, message, detail, iterations", list(cases()))
def test_each_kind_raises_its_class_with_the_text_form(call: Callable[[], object], kind: str, message: str,
                                                       detail: str | None, iterations: int | None) -> None:
    cls = getattr(quarlen, kind)
    with pytest.raises(cls) as info:
        call()
    error = info.value
    assert type(error) is cls
    assert isinstance(error, quarlen.SizingError) and isinstance(error, ValueError)
    assert str(error) == message and error.args == (message,)
    assert (error.detail, error.iterations_attempted) == (detail, iterations)
    for restored in (pickle.loads(pickle.dumps(error)), pickle.loads(pickle.dumps(error, protocol=0)),
                     copy.copy(error), copy.deepcopy(error)):
        assert restored is not error and fields(restored) == fields(error)


def test_the_classes() -> None:
    assert quarlen.SizingError.__bases__ == (ValueError,)
    for name in ["SizingError", *KINDS]:
        cls = getattr(quarlen, name)
        assert (cls.__module__, cls.__name__) == ("quarlen", name)
        assert name not in quarlen.__all__
        assert cls.__doc__
        # Made by hand, an instance has both attributes, unset.
        assert (cls("text").detail, cls("text").iterations_attempted) == (None, None)
    assert all(getattr(quarlen, name).__bases__ == (quarlen.SizingError,) for name in KINDS)


@pytest.mark.parametrize("call", [
    pytest.param(lambda: quarlen.PyCpmm("abc", 1, 1), id="conversion"),
    pytest.param(lambda: quarlen.PyCurveCryptoSwap([1, 1, 1], 100, "0.01", "0.997"), id="balances count"),
    pytest.param(lambda: quarlen.portfolio_optimize(0, []), id="budget"),
    pytest.param(lambda: quarlen.portfolio_optimize(1, [{"id": "a", "pool": 1, "reference_price": 1}]),
                 id="opportunity pool"),
])
def test_other_failures_stay_plain_value_errors(call: Callable[[], object]) -> None:
    with pytest.raises(ValueError) as info:
        call()
    assert type(info.value) is ValueError
