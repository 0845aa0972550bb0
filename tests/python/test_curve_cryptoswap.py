"""The two-coin CryptoSwap pool: validation order, quotes on the invariant
(pinned values, each checked against an independent 50-digit solve of the
invariant when it was pinned), the shape of the curve, and the fixed-length
golden-section sizing."""

from collections.abc import Sequence
from decimal import Decimal
from typing import Any, cast

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quarlen
from reference_models import CurveCryptoSwap
from support import ZERO, D, Number, invalid_reserves

# A pool's constructor arguments: balances, amplification_a, gamma,
# fee_retention, input_index.
CryptoArgs = tuple[Sequence[Number], Number, Number, Number, int]


# The number's min: on a tie the first argument wins.
def dmin(a: D, b: D) -> D:
    return a if a <= b else b


PHI = D.of("0.6180339887498948482045868344")


def search_size(pool: CryptoArgs, price: Number, max_size: Number | None = None) -> tuple[str, str]:
    """(optimal_delta, expected_profit) of the 64-pass search over the pool's
    own quotes, without fixed cost."""
    p, quote = D.of(price), quarlen.PyCurveCryptoSwap(*pool).quote

    def profit(size: D) -> D:
        out = str(quote(str(size))) if size.is_pos() else "0"
        return D.of(out) - p * size

    lo, hi = ZERO, D.of(pool[0][pool[4]]) * D.of(2)
    if max_size is not None:
        hi = dmin(D.of(max_size), hi)
    x1, x2 = hi - PHI * (hi - lo), lo + PHI * (hi - lo)
    f1, f2 = profit(x1), profit(x2)
    for _ in range(64):
        if not f1 < f2:
            hi, x2, f2 = x2, x1, f1
            x1 = hi - PHI * (hi - lo)
            f1 = profit(x1)
        else:
            lo, x1, f1 = x1, x2, f2
            x2 = lo + PHI * (hi - lo)
            f2 = profit(x2)
    size = dmin((lo + hi) / D.of(2), D.of(max_size)) if max_size is not None else (lo + hi) / D.of(2)
    return str(size), str(profit(size))


BALANCED = ([1000, 1000], 100, "0.01", "0.997")


@pytest.mark.parametrize(
    "pool, delta_in, quoted",
    [
        (BALANCED + (0,), "10", "9.969495664552229623617370046"),
        (([1000, 2500], 10, "0.02", "0.997", 1), 37, "17.648073440927600070076851563"),
        (([1000, 2500], 10, "0.02", "0.997", 0), "0.001", "0.0020479023541469576023369964"),
        ((["12.5", "3.75"], "2.5", "0.3", "0.95", 0), "40", "3.3864672409450884206890696456"),
        ((["0.02", "7"], 400, "0.0001", 1, 1), "0.5", "0.0013582529596018943513937489"),
        # Lopsided enough that a Newton solve left unguarded crosses zero.
        (([1000, 3000], 50, "0.05", "0.99", 1), 20, "11.984236939824050973348506951"),
        # A rate near 0.5, not the 0.044 for 1e-10 that a root outside the
        # curve once gave.
        ((["1000", "500"], "10", "0.000145", "0.997", 0), "0.0000000001", "5.02139014070751959E-11"),
    ],
)
def test_quotes(pool: CryptoArgs, delta_in: Number, quoted: str) -> None:
    got = quarlen.PyCurveCryptoSwap(*pool).quote(delta_in)
    assert type(got) is Decimal and str(got) == quoted


def test_amplification_flattens_the_curve_near_balance() -> None:
    # Between the constant product and the constant sum, nearer the sum the
    # larger A is.
    f, delta = Decimal("0.997"), Decimal(10)
    product = 1000 * f * delta / (1000 + f * delta)
    quotes = [quarlen.PyCurveCryptoSwap([1000, 1000], a, "0.01", f).quote(delta) for a in (1, 100, 5000)]
    assert product < quotes[0] < quotes[1] < quotes[2] < f * delta


def test_input_index_swaps_the_coins() -> None:
    a = quarlen.PyCurveCryptoSwap([1000, 2500], 10, "0.02", "0.997", 1)
    b = quarlen.PyCurveCryptoSwap([2500, 1000], 10, "0.02", "0.997")
    assert str(a.quote(37)) == str(b.quote(37))
    assert repr(a.optimal_size("0.3")) == repr(b.optimal_size("0.3"))


@st.composite
def realistic_pools(draw: st.DrawFn) -> CryptoArgs:
    x0 = Decimal(draw(st.integers(10**9, 10**15))).scaleb(-6)
    x1 = (x0 * Decimal(draw(st.integers(3334, 30000))) / 10000).quantize(Decimal("1e-6"))
    a = draw(st.sampled_from(["1", "10", "400", "5000"]))
    gamma = draw(st.sampled_from(["0.000001", "0.000145", "0.01", "0.1"]))
    f = draw(st.sampled_from(["0.9999", "0.997", "0.99"]))
    return [str(x0), str(x1)], a, gamma, f, draw(st.integers(0, 1))


@settings(max_examples=60)
@given(realistic_pools())
def test_curve_shape_and_no_phantom_profit(pool: CryptoArgs) -> None:
    p = quarlen.PyCurveCryptoSwap(*pool)
    balance_in, balance_out = Decimal(str(pool[0][pool[4]])), Decimal(str(pool[0][1 - pool[4]]))
    # Outputs grow with the input at a falling average rate, never take more
    # than the pool holds, and stay on the curve even for trades so large
    # that only a tiny balance is left.
    sizes = [balance_in * Decimal(share) for share in ("0.000000001", "0.001", "0.1", "1", "2", "1000000", "1e15")]
    quotes = [p.quote(size) for size in sizes]
    assert all(0 < q <= balance_out for q in quotes)
    balances, a, gamma, f, i = pool
    model = CurveCryptoSwap([str(b) for b in balances], str(a), str(gamma), str(f), i)
    floor = (balance_in + balance_out) * Decimal("1e-25")
    assert all(abs(q - model.quote(size)) <= q * Decimal("1e-20") + floor for q, size in zip(quotes, sizes))
    assert quotes == sorted(quotes)
    rates = [q / size for q, size in zip(quotes, sizes)]
    assert rates == sorted(rates, reverse=True)
    # A price a hair above the rate of the smallest trade is above the
    # marginal rate at zero: no size can profit there.
    with pytest.raises(ValueError, match="^(NoArbitrageOpportunity|NoProfitableSize)$"):
        p.optimal_size(rates[0] * Decimal("1.000001"))


class TestSizing:
    @pytest.mark.parametrize(
        "pool, price, max_size",
        [
            (BALANCED + (0,), "0.9", None),
            (BALANCED + (0,), "0.9", 10),
            (([1000, 2500], 10, "0.02", "0.997", 1), "0.3", None),
            (([1000, 2500], 10, "0.02", "0.997", 0), "1.5", 300),
        ],
    )
    def test_matches_model(self, pool: CryptoArgs, price: Number, max_size: Number | None) -> None:
        results = [quarlen.PyCurveCryptoSwap(*pool).optimal_size(price, max_size=max_size),
                   quarlen.cryptoswap_optimal_size(*pool, price, max_size=max_size)]
        for r in results:
            assert (str(r.optimal_delta), str(r.expected_profit)) == search_size(pool, price, max_size)
            assert (r.guarantee_tier, r.guarantee_tier_detail, r.iterations) == (
                "NumericallyGuaranteed", {"convergence_conditions_met": True}, 64)

    def test_constraints(self) -> None:
        pool = quarlen.PyCurveCryptoSwap(*BALANCED)
        # The cap bounds the search interval, so the result ends just under it.
        assert Decimal("9.9999999999") < pool.optimal_size("0.9", max_size=10).optimal_delta < 10
        free, charged = pool.optimal_size("0.9"), pool.optimal_size("0.9", "2")
        assert charged.optimal_delta == free.optimal_delta
        assert charged.expected_profit == free.expected_profit - 2

    @pytest.mark.parametrize(
        "price, fixed_cost, max_size, error",
        [
            ("1", None, None, "NoArbitrageOpportunity"),
            ("0.9", None, "0", "NoProfitableSize"),
            ("0.9", "100", None, "NoProfitableSize"),
            ("-0.5", None, None, invalid_reserves("reference_price must be > 0, got -0.5")),
        ],
    )
    def test_errors(self, price: Number, fixed_cost: Number | None, max_size: Number | None, error: str) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.PyCurveCryptoSwap(*BALANCED).optimal_size(price, fixed_cost, max_size)
        assert str(info.value) == error


class TestValidation:
    @pytest.mark.parametrize(
        "args, error, message",
        [
            # The count is checked before any item is converted.
            (([1, 2, "x"], 1, 1, 1), ValueError, "balances must contain exactly 2 elements"),
            (([1], 1, 1, 1), ValueError, "balances must contain exactly 2 elements"),
            (("12", 1, 1, 1), TypeError, "Can't extract `str` to `Vec`"),
            (([1, "x"], 0, 1, 1), ValueError, 'invalid balances[1] "x": Invalid decimal: unknown character'),
            (([0, 5], 0, 0, 0, 2), ValueError, invalid_reserves("balances must be > 0, got [0, 5]")),
            (([1, "-2.50"], 1, 1, 1), ValueError, invalid_reserves("balances must be > 0, got [1, -2.50]")),
            (([1, 2], 0, 0, 0), ValueError, invalid_reserves("amplification_a must be > 0, got 0")),
            (([1, 2], 1, "-1", 0), ValueError, invalid_reserves("gamma must be > 0, got -1")),
            (([1, 2], 1, 1, "1.5", 2), ValueError, invalid_reserves("fee_retention must be in (0, 1], got 1.5")),
            (([1, 2], 1, 1, 1, 2), ValueError, invalid_reserves("input_index must be 0 or 1, got 2")),
        ],
    )
    def test_first_failure(self, args: tuple[Any, ...], error: type[Exception], message: str) -> None:
        with pytest.raises(error) as info:
            quarlen.PyCurveCryptoSwap(*args)
        assert str(info.value) == message
        function_args = cast(CryptoArgs, args if len(args) == 5 else args + (0,))
        with pytest.raises(error) as info:
            quarlen.cryptoswap_optimal_size(*function_args, "bad price")
        assert str(info.value) == message

    def test_negative_index_and_quote_input(self) -> None:
        with pytest.raises(OverflowError):
            quarlen.PyCurveCryptoSwap([1, 2], 1, 1, 1, -1)
        with pytest.raises(ValueError) as info:
            quarlen.PyCurveCryptoSwap(*BALANCED).quote(-1)
        assert str(info.value) == invalid_reserves("delta_in must be >= 0, got -1")


def test_portfolio_funds_it_at_its_own_optimum() -> None:
    pool = quarlen.PyCurveCryptoSwap(*BALANCED)
    result = quarlen.portfolio_optimize(10_000, [{"id": "c", "pool": pool, "reference_price": "0.9"}])
    (position,) = result.allocations
    own = pool.optimal_size("0.9")
    assert (position.allocated_size, position.expected_profit) == (own.optimal_delta, own.expected_profit)
    assert position.guarantee_tier == "NumericallyGuaranteed"
