"""The two-coin CryptoSwap pool: validation order, the finite-difference
Newton quote (digit for digit against a slow model of it), the refusal of a
non-positive invariant, and the fixed-length golden-section sizing."""

from collections.abc import Callable, Sequence
from decimal import Decimal
from typing import Any, cast

import pytest

import quarlen
from support import ONE, ZERO, D, Number, invalid_reserves, sqrt

# A pool's constructor arguments: balances, amplification_a, gamma,
# fee_retention, input_index.
CryptoArgs = tuple[Sequence[Number], Number, Number, Number, int]

TOL, STEP, FLOOR = D.of("0.000001"), D.of("0.0001"), D.of("0.000001")


# The number's min and max: on a tie the first argument wins.
def dmin(a: D, b: D) -> D:
    return a if a <= b else b


def dmax(a: D, b: D) -> D:
    return b if a < b else a


def model_quote(balances: Sequence[object], a: object, gamma: object, f: object, index: int, delta_in: object) -> str:
    """The quote in the 96-bit model arithmetic (text), or the error text."""
    x, a, gamma, f, d_in = [D.of(b) for b in balances], D.of(a), D.of(gamma), D.of(f), D.of(delta_in)

    def residual(b0: D, b1: D, d: D) -> D:
        s, p4 = b0 + b1, (D.of(4) * b0) * b1
        k0 = dmin(p4 / (d * d), ONE)
        r = gamma / ((gamma + ONE) - k0)
        k = ((a * k0) * r) * r
        return (((k * d) * gamma) + d) - ((((a * gamma) * k0) * s) + (((d * d) * d) / p4))

    def newton(value: D, f_at: Callable[[D], D], clamp: Callable[[D], D] = lambda v: v) -> D:
        for _ in range(100):
            fv = f_at(value)
            if abs(fv) < TOL:
                return value
            h = dmax(value * STEP, STEP)
            slope = (f_at(value + h) - fv) / h
            if slope.c == 0:
                return value
            new = clamp(value - fv / slope)
            if abs(new - value) < TOL:
                return new
            value = new
        return value

    root = sqrt(x[0] * x[1])
    assert root is not None
    d = newton(D.of(2) * root, lambda v: residual(x[0], x[1], v))
    if not d.is_pos():
        return invalid_reserves(f"invariant D must be > 0, got {d}")
    x_new = x[index] + d_in * f
    cap = (d * d) / (D.of(4) * x_new)
    at = (lambda y: residual(x_new, y, d)) if index == 0 else (lambda y: residual(y, x_new, d))
    y = newton(dmin(cap, x[1 - index]), at, lambda v: dmax(dmin(v, cap), FLOOR))
    return str(dmax(x[1 - index] - y, ZERO))


PHI = D.of("0.6180339887498948482045868344")


def model_size(pool: CryptoArgs, price: Number, max_size: Number | None = None) -> tuple[str, str]:
    """(optimal_delta, expected_profit) of the 64-pass search, without fixed cost."""
    p = D.of(price)

    def profit(size: D) -> D:
        out = model_quote(*pool, str(size)) if size.is_pos() else "0"
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
# Its invariant solve crosses zero and settles near -4920.33.
LOPSIDED = ([1000, 3000], 50, "0.05", "0.99", 1)
NEGATIVE_D = invalid_reserves("invariant D must be > 0, got -4920.3322660642059640546750708")


def test_reference_quote() -> None:
    got = quarlen.PyCurveCryptoSwap(*BALANCED).quote(10)
    assert type(got) is Decimal and str(got) == "9.871580343970612988504609"


@pytest.mark.parametrize(
    "pool, delta_in",
    [
        (BALANCED + (0,), "10"),
        (([1000, 2500], 10, "0.02", "0.997", 1), 37),
        (([1000, 2500], 10, "0.02", "0.997", 0), "0.001"),
        ((["12.5", "3.75"], "2.5", "0.3", "0.95", 0), "40"),
        ((["0.02", "7"], 400, "0.0001", 1, 1), "0.5"),
    ],
)
def test_quote_matches_model(pool: CryptoArgs, delta_in: Number) -> None:
    assert str(quarlen.PyCurveCryptoSwap(*pool).quote(delta_in)) == model_quote(*pool, delta_in)


def test_input_index_swaps_the_coins() -> None:
    a = quarlen.PyCurveCryptoSwap([1000, 2500], 10, "0.02", "0.997", 1)
    b = quarlen.PyCurveCryptoSwap([2500, 1000], 10, "0.02", "0.997")
    assert str(a.quote(37)) == str(b.quote(37))
    assert repr(a.optimal_size("0.3")) == repr(b.optimal_size("0.3"))


def test_non_positive_invariant_is_refused() -> None:
    assert model_quote(*LOPSIDED, 20) == NEGATIVE_D
    pool = quarlen.PyCurveCryptoSwap(*LOPSIDED)
    for call in (lambda: pool.quote(20), lambda: pool.optimal_size("0.1"),
                 lambda: quarlen.cryptoswap_optimal_size(*LOPSIDED, "0.1")):
        with pytest.raises(ValueError) as info:
            call()
        assert str(info.value) == NEGATIVE_D
    # A zero input never needs the invariant.
    assert str(pool.quote("0.00")) == "0"


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
            assert (str(r.optimal_delta), str(r.expected_profit)) == model_size(pool, price, max_size)
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
