"""portfolio_optimize: argument handling, the shadow-price search digit for
digit, and robustness against callers that change the list while it is read."""

import os
import pickle
from collections.abc import Callable
from decimal import Decimal
from typing import Any

import pytest

import quarlen
from support import txt, Opp, family_params, notes, portfolio as model_portfolio, Family

BAD_POOL = (
    "opportunity 'pool' must be a supported AMM curve instance "
    "(PyCpmm, PyStableSwap, PyVelodromeStable, PyDlmmBook, etc.)"
)

A = Opp("a", "100", "100", "1", "0.25")
B = Opp("b", "50", "200", "1", "0.5")


def texts(result: quarlen.PortfolioResult) -> tuple[str, str, str, list[tuple[str, ...]]]:
    return (
        txt(result.total_capital_used),
        txt(result.total_expected_profit),
        txt(result.shadow_price),
        [(p.id, p.guarantee_tier, txt(p.allocated_size), txt(p.expected_profit)) for p in result.allocations],
    )


def item(id: str = "a", pool: object = None, reference_price: object = "0.25", **extra: object) -> dict[str, Any]:
    data = {"id": id, "pool": pool if pool is not None else quarlen.PyCpmm(100, 100, 1),
            "reference_price": reference_price}
    data.update(extra)
    return data


class Item:
    """A mapping-like item that can run a hook when one of its keys is read."""

    def __init__(self, data: dict[str, Any], hook_key: str | None = None, hook: Callable[[], object] | None = None,
                 fail: tuple[str, ...] = ()) -> None:
        self.data, self.hook_key, self.hook, self.fail = data, hook_key, hook, fail
        self.reads: list[str] = []

    def __getitem__(self, key: str) -> Any:
        self.reads.append(key)
        if key in self.fail:
            raise RuntimeError(f"no {key} here")
        if key == self.hook_key and self.hook is not None:
            hook, self.hook = self.hook, None
            hook()
        return self.data[key]


class TestWorkedExamples:
    def test_budget_that_does_not_bind(self) -> None:
        result = quarlen.portfolio_optimize(1000, [A.as_item(), B.as_item()])
        assert texts(result) == (
            "191.42135623730950488016887242",
            "108.57864376269049511983112758",
            "0",
            [
                ("a", "ProvenOptimal", "100.00000000000000000000000000", "25.000000000000000000000000000"),
                ("b", "ProvenOptimal", "91.42135623730950488016887242", "83.57864376269049511983112758"),
            ],
        )
        # Each funded position is the opportunity's own stand-alone optimum.
        for position, opp in zip(result.allocations, (A, B)):
            alone = quarlen.cpmm_optimal_size(opp.x, opp.y, opp.f, opp.price)
            assert txt(position.allocated_size) == txt(alone.optimal_delta)
            assert txt(position.expected_profit) == txt(alone.expected_profit)

    def test_budget_that_binds(self) -> None:
        result = quarlen.portfolio_optimize(100, [A.as_item(), B.as_item()])
        assert texts(result) == (
            "100.00000000000000000000000000",
            "69.470711317896082557448397919",
            "0.282910156250",
            [
                ("a", "ProvenOptimal", "36.984232625230313464894647041", "7.289624364505499190269306928"),
                ("b", "ProvenOptimal", "63.015767374769686535105352959", "62.181086953390583367179090991"),
            ],
        )

    def test_capped_and_unprofitable_opportunities(self) -> None:
        b_capped = Opp("b", "50", "200", "1", "0.5", max_size="10")
        c = Opp("c", "100", "100", "1", "2")
        result = quarlen.portfolio_optimize(100, [A.as_item(), b_capped.as_item(), c.as_item()])
        assert txt(result.shadow_price) == "0.027001953125"
        a_pos, b_pos, c_pos = result.allocations
        assert (a_pos.id, txt(a_pos.allocated_size)) == ("a", "90.00021801657747015096324598")
        assert (b_pos.id, txt(b_pos.allocated_size)) == ("b", "9.999781983422529849036754023")
        # A Decimal equals the int 0, which a strict type checker doubts.
        assert (c_pos.id, c_pos.guarantee_tier, c_pos.allocated_size,  # type: ignore[comparison-overlap]
                c_pos.expected_profit) == ("c", "ProvenOptimal", 0, 0)
        assert abs(result.total_capital_used - 100) <= Decimal("0.01")
        assert texts(result) == model_portfolio("100", [A, b_capped, c])


# Further portfolios checked digit for digit against the model: fees, fixed
# costs, caps, duplicate ids, a negative reference price that only becomes
# sizeable once capital carries a price, a bracket that needs 34 doublings,
# tiny budgets and opportunities that all fail.
PORTFOLIOS = {
    "fees-loose": ("100000", [Opp("p", "1000", "2000", "0.997", "0.5"), Opp("q", "500", "400", "0.99", "0.2", "1"),
                              Opp("r", "10", "10", "1", "0.1", max_size="3")]),
    "fees-tight": ("500", [Opp("p", "1000", "2000", "0.997", "0.5"), Opp("q", "500", "400", "0.99", "0.2", "1"),
                           Opp("r", "10", "10", "1", "0.1", max_size="3")]),
    "fees-tiny": ("0.0001", [Opp("p", "1000", "2000", "0.997", "0.5"), Opp("q", "500", "400", "0.99", "0.2")]),
    "duplicates": ("50", [A, A, B]),
    "negative-price": ("10", [A, Opp("z", "100", "100", "1", "-0.01")]),
    "zero-price-loose": ("1000", [A, Opp("z", "100", "100", "1", "0")]),
    "bracket-far": ("0.001", [Opp("w", "1", "1000000000", "1", "1")]),
    "all-fail": ("100", [Opp("c", "100", "100", "1", "2"), Opp("d", "1", "1", "1", "1", "5")]),
    "fixed-cost-drop": ("30", [A, Opp("e", "100", "100", "1", "0.25", fixed_cost="20")]),
}


@pytest.mark.parametrize("name", sorted(PORTFOLIOS))
def test_matches_model(name: str) -> None:
    budget, opps = PORTFOLIOS[name]
    result = quarlen.portfolio_optimize(budget, [o.as_item() for o in opps])
    assert texts(result) == model_portfolio(budget, opps)


class TestSearchFailures:
    """Where the shadow-price search alone would fund a loss, stop short of a
    pool's price, overspend, or let one pool abort the call."""

    def test_demand_that_jumps_funds_no_losing_trade(self) -> None:
        # The fixed cost makes demand jump from a full size to nothing, so the
        # bisection cannot meet its tolerance; at 0.5 the trade loses money.
        pool = quarlen.PyCpmm("1000", "3030000", "0.997")
        with pytest.raises(ValueError, match="NoProfitableSize"):
            pool.optimal_size("3000", "20", "0.5")
        result = quarlen.portfolio_optimize("0.5", [item(pool=pool, reference_price="3000", fixed_cost="20")])
        used, profit, _, positions = texts(result)
        assert (used, profit, positions) == ("0", "0", [("a", "ProvenOptimal", "0", "0")])

    def test_pool_priced_beyond_thousands_is_bracketed(self) -> None:
        pool = quarlen.PyCpmm("1", "1e7", "0.997")
        result = quarlen.portfolio_optimize("0.01", [item(pool=pool, reference_price="5e6")])
        assert result.shadow_price > Decimal("6553.6")
        (position,) = result.allocations
        assert 0 < result.total_capital_used <= Decimal("0.01")
        # The position is the pool's own optimum at the raised price...
        alone = pool.optimal_size(txt(Decimal("5e6") + result.shadow_price))
        assert (txt(position.allocated_size), txt(position.expected_profit)) == (
            txt(alone.optimal_delta), txt(alone.expected_profit))
        # ...and earns at least the capital charge on top at the market.
        market = pool.quote(position.allocated_size) - Decimal("5e6") * position.allocated_size
        assert market > position.expected_profit > 0

    def test_opportunity_whose_arithmetic_overflows_is_unfunded(self) -> None:
        most = "79228162514264337593543950335"
        # Quoting the size this pool wants overflows; raising this reference
        # price by a shadow price of 0.5 or more overflows.
        faulty = [item("quote", quarlen.PyCpmm(1, most, 1), "1"), item("price", reference_price=most)]
        result = quarlen.portfolio_optimize(1, [item()] + faulty)
        funded, *unfunded = result.allocations
        assert result.shadow_price > Decimal("0.5") and 0 < funded.allocated_size <= 1
        assert [(p.id, p.guarantee_tier, txt(p.allocated_size), txt(p.expected_profit)) for p in unfunded] == [
            ("quote", "ProvenOptimal", "0", "0"), ("price", "ProvenOptimal", "0", "0")]


class TestResultShape:
    def test_empty_list(self) -> None:
        result = quarlen.portfolio_optimize(100, [])
        assert texts(result) == ("0", "0", "0", [])

    def test_all_failing_opportunities_raise_nothing(self) -> None:
        result = quarlen.portfolio_optimize(100, [item(reference_price=5), item("b", reference_price=-1)])
        assert texts(result) == ("0", "0", "0", [("a", "ProvenOptimal", "0", "0"), ("b", "ProvenOptimal", "0", "0")])

    def test_negative_price_is_funded_once_capital_is_priced(self) -> None:
        result = quarlen.portfolio_optimize(10, [A.as_item(), item("z", reference_price="-0.01")])
        assert result.shadow_price > 0
        assert [p.id for p in result.allocations] == ["a", "z"]
        assert result.allocations[1].allocated_size > 0
        assert abs(result.total_capital_used - 10) <= Decimal("0.001")

    def test_list_subclass_and_keyword_arguments(self) -> None:
        class Opportunities(list[Any]):
            pass

        result = quarlen.portfolio_optimize(opportunities=Opportunities([A.as_item()]), total_capital_budget="1000")
        assert [p.id for p in result.allocations] == ["a"]

    def test_pools_are_left_unchanged(self) -> None:
        pool = quarlen.PyCpmm(100, 100, 1)
        before = (repr(pool), txt(pool.quote(7)))
        quarlen.portfolio_optimize(5, [item(pool=pool), item("b", pool=pool, reference_price="0.5")])
        assert (repr(pool), txt(pool.quote(7))) == before

    @pytest.mark.parametrize("family", family_params())
    def test_every_pool_family_is_accepted(self, family: Family) -> None:
        pool = family.pool()
        result = quarlen.portfolio_optimize("1000000", [item(pool=pool, reference_price=family.reference_price)])
        alone = pool.optimal_size(family.reference_price)
        position = result.allocations[0]
        assert (position.guarantee_tier, txt(position.allocated_size), txt(position.expected_profit)) == (
            alone.guarantee_tier, txt(alone.optimal_delta), txt(alone.expected_profit))

    def test_pool_subclass_instance_is_accepted(self) -> None:
        try:
            class MyPool(quarlen.PyCpmm):
                pass
        except TypeError:
            pytest.skip("pool classes are not subclassable")
        result = quarlen.portfolio_optimize(1000, [item(pool=MyPool(100, 100, 1))])
        assert txt(result.allocations[0].allocated_size) == "100.00000000000000000000000000"


class TestArgumentFailures:
    @pytest.mark.parametrize(
        "budget, opportunities, message",
        [
            (10, (), "'tuple' object is not an instance of 'list'"),
            (10, None, "'None' is not an instance of 'list'"),
            (10, {"id": "a"}, "'dict' object is not an instance of 'list'"),
            # The list is checked before the budget is even converted.
            ("abc", (), "'tuple' object is not an instance of 'list'"),
            (0, (), "'tuple' object is not an instance of 'list'"),
        ],
    )
    def test_opportunities_must_be_a_list(self, budget: Any, opportunities: Any, message: str) -> None:
        with pytest.raises(TypeError) as info:
            quarlen.portfolio_optimize(budget, opportunities)
        assert str(info.value) == message
        assert notes(info.value) == ["while processing 'opportunities'"]

    @pytest.mark.parametrize(
        "budget, message",
        [
            (0, "total_capital_budget must be > 0, got 0"),
            ("-0", "total_capital_budget must be > 0, got 0"),
            ("-1.50", "total_capital_budget must be > 0, got -1.50"),
            ("0.000", "total_capital_budget must be > 0, got 0.000"),
            ("abc", 'invalid total_capital_budget "abc": Invalid decimal: unknown character'),
        ],
    )
    def test_budget_is_checked_before_any_item_is_read(self, budget: Any, message: str) -> None:
        untouched = Item({}, fail=("id", "pool", "reference_price"))
        for opportunities in ([], [untouched, 5]):
            with pytest.raises(ValueError) as info:
                quarlen.portfolio_optimize(budget, opportunities)  # type: ignore[type-var]
            assert str(info.value) == message
        assert untouched.reads == []

    @pytest.mark.parametrize(
        "items, error, message",
        [
            ([{}], KeyError, "'id'"),
            ([{"pool": 5}], KeyError, "'id'"),
            ([{"id": "a"}], KeyError, "'pool'"),
            ([{"id": "a", "pool": quarlen.PyCpmm(1, 1, 1)}], KeyError, "'reference_price'"),
            ([{"id": 1, "pool": 5}], TypeError, "'int' object is not an instance of 'str'"),
            ([{"id": None}], TypeError, "'None' is not an instance of 'str'"),
            ([{"id": b"a"}], TypeError, "'bytes' object is not an instance of 'str'"),
            # The pool is judged before the reference price is looked for.
            ([{"id": "a", "pool": 5}], ValueError, BAD_POOL),
            ([item(pool={"x": 1})], ValueError, BAD_POOL),
            ([item(pool=quarlen.PySizingConstraints())], ValueError, BAD_POOL),
            ([item(pool=quarlen.PyCpmm)], ValueError, BAD_POOL),
            ([item(pool="PyCpmm")], ValueError, BAD_POOL),
            ([item(reference_price="abc")], ValueError, 'invalid reference_price "abc": Invalid decimal: unknown character'),
            ([item(fixed_cost="1..2")], ValueError, 'invalid fixed_cost "1..2": Invalid decimal: two decimal points'),
            ([item(max_size="")], ValueError, 'invalid max_size "": Invalid decimal: empty'),
            ([5], TypeError, None),
            # The first bad item ends the call; later items are never read.
            ([item(), {"id": "b"}, {}], KeyError, "'pool'"),
        ],
    )
    def test_item_failures(self, items: list[Any], error: type[Exception], message: str | None) -> None:
        with pytest.raises(error) as info:
            quarlen.portfolio_optimize(100, items)
        assert type(info.value) is error
        if message is not None:
            assert str(info.value) == message

    def test_subscription_errors_on_required_keys_propagate_unchanged(self) -> None:
        for key in ("id", "pool", "reference_price"):
            bad = Item(item(), fail=(key,))
            with pytest.raises(RuntimeError, match=f"no {key} here"):
                quarlen.portfolio_optimize(100, [bad])

    @pytest.mark.parametrize(
        "data, reads",
        [
            ({"id": 7}, ["id"]),
            ({"id": "a", "pool": 7}, ["id", "pool"]),
            (item(reference_price="?"), ["id", "pool", "reference_price"]),
            # A bad fixed cost ends the call before max_size is looked up.
            (item(fixed_cost="?", max_size=1), ["id", "pool", "reference_price", "fixed_cost"]),
            (item(max_size="?"), ["id", "pool", "reference_price", "fixed_cost", "max_size"]),
        ],
    )
    def test_reading_stops_at_the_first_failure(self, data: dict[str, Any], reads: list[str]) -> None:
        logged = Item(data)
        with pytest.raises((TypeError, ValueError)):
            quarlen.portfolio_optimize(100, [logged, Item({})])
        assert logged.reads == reads

    @pytest.mark.parametrize(
        "extra",
        [{}, {"fixed_cost": None, "max_size": None}],
        ids=["missing", "none"],
    )
    def test_optional_keys_absent_or_none(self, extra: dict[str, Any]) -> None:
        result = quarlen.portfolio_optimize(1000, [item(**extra)])
        assert txt(result.allocations[0].allocated_size) == "100.00000000000000000000000000"
        assert txt(result.allocations[0].expected_profit) == "25.000000000000000000000000000"

    def test_failing_optional_subscriptions_count_as_absent(self) -> None:
        failing = Item(item(), fail=("fixed_cost", "max_size"))
        result = quarlen.portfolio_optimize(1000, [failing])
        assert txt(result.allocations[0].expected_profit) == "25.000000000000000000000000000"
        assert failing.reads == ["id", "pool", "reference_price", "fixed_cost", "max_size"]

    @pytest.mark.parametrize("key, error", [("fixed_cost", KeyboardInterrupt), ("max_size", SystemExit)])
    def test_only_ordinary_exceptions_count_as_absent(self, key: str, error: type[BaseException]) -> None:
        def interrupt() -> None:
            raise error

        with pytest.raises(error):
            quarlen.portfolio_optimize(1000, [Item(item(), key, interrupt)])

    def test_constraints_are_used(self) -> None:
        result = quarlen.portfolio_optimize(1000, [item(fixed_cost="5", max_size="50")])
        alone = quarlen.cpmm_optimal_size(100, 100, 1, "0.25", "5", "50")
        position = result.allocations[0]
        assert (txt(position.allocated_size), txt(position.expected_profit)) == (
            txt(alone.optimal_delta), txt(alone.expected_profit))


def in_child(scenario: Callable[[], object]) -> Any:
    """Runs `scenario` in a forked process so that a crash fails one test
    instead of killing the run; returns what the scenario returned."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:  # pragma: no cover - child
        os.close(read_end)
        try:
            payload = pickle.dumps(("ok", scenario()))
        except BaseException as exc:  # noqa: BLE001
            payload = pickle.dumps(("raised", f"{type(exc).__name__}: {exc}"))
        with os.fdopen(write_end, "wb") as out:
            out.write(payload)
        os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as source:
        data = source.read()
    _, status = os.waitpid(pid, 0)
    assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0, f"child died with status {status}"
    return pickle.loads(data)


def _fresh_item(id: str, hook: Callable[[], object] | None = None) -> Item:
    # The pool is created on each read, so only the optimizer holds it.
    class Fresh(Item):
        def __getitem__(self, key: str) -> Any:
            value = super().__getitem__(key)
            return quarlen.PyCpmm(100, 100, 1) if key == "pool" else value

    return Fresh({"id": id, "pool": None, "reference_price": "0.25"}, "id", hook)


def _churn() -> list[object]:
    # Reuse freed memory so that a dangling reference shows as a crash.
    return [bytearray(48) for _ in range(2000)] + [object() for _ in range(2000)]


def scenario_append() -> list[str]:
    opportunities: list[Any] = []
    opportunities.append(_fresh_item("a", lambda: opportunities.append({})))
    opportunities.append(_fresh_item("b"))
    return [p.id for p in quarlen.portfolio_optimize(1000, opportunities).allocations]


def scenario_remove_later() -> list[str]:
    opportunities: list[Any] = []
    opportunities.append(_fresh_item("a", lambda: opportunities.__delitem__(slice(1, None))))
    opportunities.append({})
    return [p.id for p in quarlen.portfolio_optimize(1000, opportunities).allocations]


def scenario_clear_while_reading() -> list[str]:
    opportunities: list[Any] = []

    def clear() -> None:
        opportunities.clear()
        _churn()

    opportunities.append(_fresh_item("a", clear))
    opportunities.append(_fresh_item("b"))
    return [p.id for p in quarlen.portfolio_optimize(1000, opportunities).allocations]


def scenario_replace_next() -> list[str]:
    opportunities: list[Any] = []

    def replace() -> None:
        opportunities[1] = _fresh_item("c")
        _churn()

    opportunities.append(_fresh_item("a", replace))
    opportunities.append(_fresh_item("b"))
    return [p.id for p in quarlen.portfolio_optimize(1000, opportunities).allocations]


@pytest.mark.parametrize(
    "scenario, ids",
    [
        # Items appended while reading are past the starting length.
        (scenario_append, ["a", "b"]),
        # Reading stops at the list's current length.
        (scenario_remove_later, ["a"]),
        # The item being read stays alive even when the list drops it.
        (scenario_clear_while_reading, ["a"]),
        (scenario_replace_next, ["a", "c"]),
    ],
)
def test_list_changed_while_it_is_read(scenario: Callable[[], object], ids: list[str]) -> None:
    assert in_child(scenario) == ("ok", ids)
