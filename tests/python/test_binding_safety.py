"""The binding layer never uses a reference it does not own once Python code
may have run: sequence items, mapping values and str() results stay alive
while they are converted, even when the caller's __str__ drops every other
reference to them.  Each case checks the answer; under tools/run-sanitized
(ASan with PYTHONMALLOC=malloc) a use after free would also abort the run.
"""

from __future__ import annotations

import gc
from collections.abc import Callable, Iterator
from decimal import Decimal
from typing import Any

import pytest

import quarlen
from support import txt


class Text:
    """A number whose str() first runs `hook` (which may free other
    arguments), then collects garbage, then returns `text`."""

    def __init__(self, text: str, hook: Callable[[], object] = lambda: None) -> None:
        self.text, self.hook = text, hook

    def __str__(self) -> str:
        self.hook()
        gc.collect()
        return self.text


class FreshText:
    """str() returns a new str subclass object that nothing else holds."""

    class Owned(str):
        pass

    def __init__(self, text: str) -> None:
        self.text = text

    def __str__(self) -> str:
        return FreshText.Owned(self.text)


def test_sequence_items_outlive_the_caller_emptying_the_sequence() -> None:
    reserves: list[Any] = []
    reserves += [Text("1000", reserves.clear), Text("2000"), Text("1500")]
    pool = quarlen.PyStableSwap(reserves, 100, "0.997")
    assert txt(pool.quote(25)) == txt(quarlen.PyStableSwap([1000, 2000, 1500], 100, "0.997").quote(25))

    weights: list[Any] = []
    weights += [Text("0.5", weights.clear), Text("0.5")]
    weighted = quarlen.PyBalancerWeightedPool(["1000", "2000"], weights, "0.997")
    assert weighted.optimal_size("1.5").guarantee_tier == "ProvenOptimal"

    balances: list[Any] = []
    balances += [Text("1000", balances.clear), Text("1000")]
    assert quarlen.PyCurveCryptoSwap(balances, 100, "0.01", "0.997").quote(10) > 0


def test_items_made_on_the_fly_stay_alive() -> None:
    class Generated:
        """A sequence whose every item is new and held by nobody else."""

        def __len__(self) -> int:
            return 2

        def __getitem__(self, index: int) -> Text:
            if index >= 2:
                raise IndexError(index)
            return Text(("1000", "2000")[index], gc.collect)

    pool = quarlen.PyStableSwap(Generated(), 100, "0.997")  # type: ignore[arg-type]
    assert txt(pool.quote(10)) == txt(quarlen.PyStableSwap([1000, 2000], 100, "0.997").quote(10))


def test_bin_values_outlive_the_caller_emptying_the_bin() -> None:
    bin_: dict[str, Any] = {"bin_id": 1}
    bin_.update(price=Text("1.1", bin_.clear), reserve_x=Text("0"), reserve_y=Text("100"))
    other: dict[str, Any] = {"bin_id": 2, "price": "1.0", "reserve_x": 0, "reserve_y": 100}
    bins = [bin_, other]
    book = quarlen.PyDlmmBook([bin_, other], 0, "0.997")
    del bins
    plain = quarlen.PyDlmmBook([{"bin_id": 1, "price": "1.1", "reserve_x": 0, "reserve_y": 100}, other], 0, "0.997")
    assert txt(book.quote(50)) == txt(plain.quote(50))


def test_mapping_that_builds_values_on_access() -> None:
    class Bin:
        def __getitem__(self, key: str) -> Any:
            values = {"bin_id": 7, "price": Text("2", gc.collect), "reserve_x": Text("0"), "reserve_y": Text("10")}
            return values[key]

    book = quarlen.PyDlmmBook([Bin()], 0, 1)  # type: ignore[list-item]
    assert book.quote(1) == Decimal("2")


def test_str_results_held_only_by_the_binding() -> None:
    assert quarlen.PyCpmm(FreshText("100"), FreshText("200"), FreshText("0.997")).quote(FreshText("10")) > 0  # type: ignore[arg-type]
    with pytest.raises(ValueError, match='invalid x "1x"'):
        quarlen.PyCpmm(FreshText("1x"), 1, 1)  # type: ignore[arg-type]


def test_pool_outlives_the_opportunity_dropping_it() -> None:
    item: dict[str, Any] = {"id": "a", "pool": quarlen.PyCpmm(100, 100, 1)}
    item["reference_price"] = Text("0.25", item.clear)
    items = [item]
    del item
    result = quarlen.portfolio_optimize(1000, items)
    assert [(p.id, txt(p.allocated_size)) for p in result.allocations] == [("a", "100.00000000000000000000000000")]


def test_a_failing_add_note_leaves_the_original_error() -> None:
    class Refusing(Exception):
        def add_note(self, note: str) -> None:
            raise RuntimeError("no notes here")

    class Broken:
        def __len__(self) -> int:
            return 1

        def __getitem__(self, index: int) -> str:
            raise Refusing("from the sequence")

        def __iter__(self) -> Iterator[str]:
            raise Refusing("from the sequence")

    with pytest.raises(Refusing, match="from the sequence"):
        quarlen.PyStableSwap(Broken(), 100, 1)  # type: ignore[arg-type]


def test_a_sequence_overstating_its_length_is_read_for_what_it_yields() -> None:
    # len() is only a hint; reserving 2**62 slots used to fail as an
    # InternalFault ("vector::reserve") instead of reading the two items.
    class Overstated:
        def __init__(self, items: list[str]) -> None:
            self.items = items

        def __len__(self) -> int:
            return 2**62

        def __getitem__(self, index: int) -> str:
            return self.items[index]

    pool = quarlen.PyStableSwap(Overstated(["1000", "2000"]), 100, "0.997")  # type: ignore[arg-type]
    assert txt(pool.quote(10)) == txt(quarlen.PyStableSwap([1000, 2000], 100, "0.997").quote(10))
    with pytest.raises(ValueError, match="at least 2 assets, got 0"):
        quarlen.stableswap_optimal_size(Overstated([]), 100, 1, 1)  # type: ignore[arg-type]
