"""The PMM pool with targets: construction order and messages, the quote in
both directions and every regime (short of target, crossing it, beyond it,
off-curve pools), the cap at the output reserve, the 64-pass golden-section
sizing, and the binding of the direction flag."""

from decimal import Decimal
from typing import Any

import pytest

import quarlen
from support import Number, invalid_reserves, notes, sized_both_ways

# base_target, quote_target, base_reserve, quote_reserve, oracle_price, k, fee_retention
DodoArgs = tuple[Number, Number, Number, Number, Number, Number, Number]
AT_REST = (100, 100, 100, 100, 1, "0.5", 1)
BASE_SHORT = (100, 100, 80, 100, 1, "0.5", 1)
SELL_QUOTE = (300, 100, 100, 80, 2, "0.5", 1)
SIZING = (100, 100, 100, 100, 1, "0.5", "0.997")


def quote(args: DodoArgs, delta_in: Number, is_sell_base: bool = True) -> str:
    return str(quarlen.PyDodoPmm(*args, is_sell_base).quote(delta_in))


def size_both_ways(args: DodoArgs, price: Number, fixed_cost: Number | None = None, max_size: Number | None = None,
                   is_sell_base: bool = True) -> tuple[Any, ...]:
    return sized_both_ways(
        lambda: quarlen.dodo_optimal_size(*args, is_sell_base, price, fixed_cost, max_size),
        lambda: quarlen.PyDodoPmm(*args, is_sell_base).optimal_size(price, fixed_cost, max_size), with_detail=True)


def validated(delta: str, profit: str) -> tuple[Any, ...]:
    return ("ok", delta, profit, "EmpiricallyValidated", {"unimodality_confirmed": True}, 64)


class TestConstruction:
    @pytest.mark.parametrize(
        "args, detail",
        [
            # Both targets are shown whichever failed, and the targets come
            # first even when everything else is invalid too.
            ((0, -1, 0, 0, 0, 0, 0), "targets must be > 0: B0=0, Q0=-1"),
            ((100, "0.00", 100, 100, 1, 1, 1), "targets must be > 0: B0=100, Q0=0.00"),
            ((100, 100, 100, 0, 0, 0, 0), "reserves must be > 0: B=100, Q=0"),
            ((100, 100, -5, 100, 1, 1, 1), "reserves must be > 0: B=-5, Q=100"),
            ((100, 100, 100, 100, 0, 0, 0), "oracle_price must be > 0, got 0"),
            ((100, 100, 100, 100, 1, 0, 0), "k must be in (0, 1], got 0"),
            ((100, 100, 100, 100, 1, "1.000001", 1), "k must be in (0, 1], got 1.000001"),
            ((100, 100, 100, 100, 1, 1, 0), "fee_retention must be in (0, 1], got 0"),
            ((100, 100, 100, 100, 1, 1, "1.1"), "fee_retention must be in (0, 1], got 1.1"),
        ],
    )
    def test_first_failed_check_wins(self, args: DodoArgs, detail: str) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.PyDodoPmm(*args)
        assert str(info.value) == invalid_reserves(detail)
        with pytest.raises(ValueError) as info:
            quarlen.dodo_optimal_size(*args, False, "not a price")
        assert str(info.value) == invalid_reserves(detail)

    def test_limits_and_off_curve_pools_are_accepted(self) -> None:
        quarlen.PyDodoPmm(100, 100, 100, 100, 1, 1, 1)
        quarlen.PyDodoPmm(1, 2, 3, 4, 5, "0.0000001", "0.0000001", False)


class TestBinding:
    def test_is_sell_base_defaults_to_true_on_the_class_only(self) -> None:
        assert quote(AT_REST, 10) == str(quarlen.PyDodoPmm(*AT_REST).quote(10))
        with pytest.raises(TypeError):
            quarlen.dodo_optimal_size(*AT_REST, reference_price="0.5")  # type: ignore[call-arg]

    @pytest.mark.parametrize("flag", [1, 0, None, "True", 1.0])
    def test_is_sell_base_must_be_a_bool(self, flag: Any) -> None:
        for call in (
            lambda: quarlen.PyDodoPmm(*AT_REST, flag),
            lambda: quarlen.PyDodoPmm(*AT_REST, is_sell_base=flag),
            lambda: quarlen.dodo_optimal_size(*AT_REST, flag, "0.5"),
        ):
            with pytest.raises(TypeError) as info:
                call()
            assert notes(info.value) == ["while processing 'is_sell_base'"]

    def test_the_flag_converts_before_the_numbers(self) -> None:
        with pytest.raises(TypeError):
            quarlen.dodo_optimal_size("abc", *AT_REST[1:], 1, "0.5")  # type: ignore[arg-type]
        with pytest.raises(TypeError):
            quarlen.PyDodoPmm("abc", *AT_REST[1:], None)  # type: ignore[arg-type]

    def test_numbers_convert_in_signature_order(self) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.PyDodoPmm(100, 100, 100, "q", 1, "k", 1)
        assert str(info.value).startswith('invalid quote_reserve "q"')


class TestQuoteSellingBase:
    @pytest.mark.parametrize(
        "args, delta_in, expected",
        [
            # At rest, beyond the target at once: disc 12000.0, root 109.544...
            (AT_REST, "10", "9.54451150103322269139395656"),
            (AT_REST, "50", "41.42135623730950488016887242"),
            (AT_REST, "100", "73.20508075688772935274463415"),
            (AT_REST, "0", "0"),
            # Base short: i * P(20) - i * P(10) = 22.0 - 10.500.
            (BASE_SHORT, "10", "11.500"),
            (BASE_SHORT, "20", "22.0"),  # exactly to the target
            (BASE_SHORT, "30", "31.54451150103322269139395656"),  # crossing: 22.0 + 9.544...
            ((100, 100, 80, 100, 1, 1, 1), "10", "13.00"),
            ((100, 100, 80, 100, 1, 1, 1), "20", "24.00"),
            ((100, 100, 80, 100, 1, 1, 1), "30", "33.160797830996160425673282915"),
            # Off the curve: the output is measured from the targets, so a
            # short quote reserve withholds, an excess base reserve pays at once.
            ((100, 100, 100, 80, 1, "0.5", 1), "10", "0"),
            ((100, 100, 120, 100, 1, "0.5", 1), "10", "26.49110640673517327995574178"),
            # The fee comes off the input; this is the sizing's probe.
            (SIZING, "0.001", "0.00099699503000455073112494"),
        ],
    )
    def test_reference_values(self, args: DodoArgs, delta_in: Number, expected: str) -> None:
        assert quote(args, delta_in) == expected

    @pytest.mark.parametrize("quote_reserve", [120, 130])
    def test_short_side_ignores_the_output_reserve(self, quote_reserve: int) -> None:
        args = (100, 100, 80, quote_reserve, 1, "0.5", 1)
        for delta_in in ("10", "20", "30"):
            assert quote(args, delta_in) == quote(BASE_SHORT, delta_in)

    def test_negative_input(self) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.PyDodoPmm(*AT_REST).quote(-1)
        assert str(info.value) == invalid_reserves("delta_in must be >= 0, got -1")


class TestQuoteSellingQuote:
    @pytest.mark.parametrize(
        "args, delta_in, expected",
        [
            (SELL_QUOTE, "10", "5.750"),  # 11.0 - 5.250: quote short
            (SELL_QUOTE, "30", "15.9590136395381247364395605"),  # crossing: 11.0 + 4.959...
            ((300, 100, 310, 120, 2, "0.5", 1), "10", "24.6426544510454640974360541"),
            (SELL_QUOTE, "0.0", "0"),
        ],
    )
    def test_reference_values(self, args: DodoArgs, delta_in: Number, expected: str) -> None:
        assert quote(args, delta_in, is_sell_base=False) == expected


class TestOutputReserveCap:
    # The formulas beyond the target grow without bound; a pool never pays
    # out more than it holds of the output asset.

    def test_selling_base_is_capped_at_the_quote_reserve(self) -> None:
        # The formula alone gives 358.2575694955840006588047194.
        assert quote(AT_REST, "1000") == "100"

    def test_selling_quote_is_capped_at_the_base_reserve(self) -> None:
        assert quote(SELL_QUOTE, "1000000", is_sell_base=False) == "100"

    def test_short_side_is_capped_too(self) -> None:
        # i * P(20) - i * P(0) = 22.0 against quote reserves of 21, 22 and 23.
        assert quote((100, 100, 80, 21, 1, "0.5", 1), "20") == "21"
        # On a tie the computed output is returned, with its own scale.
        assert quote((100, 100, 80, 22, 1, "0.5", 1), "20") == "22.0"
        assert quote((100, 100, 80, 23, 1, "0.5", 1), "20") == "22.0"

    def test_sizing_stops_where_the_reserve_runs_out(self) -> None:
        # Base short by 50 with only 5 quote held: every unit earns more than
        # 0.9 until the reserve is gone, so the optimum sits where the quote
        # reaches 5 and the profit is 5 - 0.9 * size.
        result = size_both_ways((100, 100, 50, 5, 1, "0.5", 1), "0.9")
        assert result == validated("3.3712170138504165268602261625", "1.9659046875346251258257964538")
        assert quarlen.PyDodoPmm(100, 100, 50, 5, 1, "0.5", 1).quote(result[1]) == 5


class TestOptimalSize:
    @pytest.mark.parametrize(
        "price, fixed_cost, max_size, expected",
        [
            ("0.9", None, None, validated("11.392758522486854776692511866", "0.524295107544856792600022161")),
            ("0.9", "0.1", None, validated("11.392758522486854776692511866", "0.424295107544856792600022161")),
            ("0.9", "1000", None, ("err", "NoProfitableSize")),
            # The cap becomes the top of the bracket; the search approaches it
            # without reaching it.
            ("0.9", None, "5", validated("4.999999999999894626590449943", "0.3665819029112766800420026513")),
            ("0.9", None, "0", ("err", "NoProfitableSize")),
            ("0.9", None, "-1", ("err", "NoProfitableSize")),
            # The probe rate 0.99699503000455073112494 is below 1.
            ("1.0", None, None, ("err", "NoArbitrageOpportunity")),
            ("0", None, None, ("err", invalid_reserves("reference_price must be > 0, got 0"))),
            ("-0.9", None, None, ("err", invalid_reserves("reference_price must be > 0, got -0.9"))),
        ],
    )
    def test_reference_values(self, price: str, fixed_cost: str | None, max_size: str | None,
                              expected: tuple[Any, ...]) -> None:
        assert size_both_ways(SIZING, price, fixed_cost, max_size) == expected

    def test_cap_above_the_optimum(self) -> None:
        # A cap above the optimum changes the bracket and so the last digits,
        # but not the answer to the search's resolution.
        result = size_both_ways(SIZING, "0.9", max_size="50")
        assert result[0] == "ok" and abs(Decimal(result[1]) - Decimal("11.392758522486854776692511866")) < Decimal("1e-9")

    def test_selling_quote(self) -> None:
        assert size_both_ways((300, 100, 100, 80, 2, "0.5", "0.997"), "0.4", is_sell_base=False) == validated(
            "186.50122241725522773618158809", "10.274511033099297893681043124"
        )

    def test_in_a_portfolio(self) -> None:
        pool = quarlen.PyDodoPmm(*SIZING)
        result = quarlen.portfolio_optimize(1000, [{"id": "dodo", "pool": pool, "reference_price": "0.9"}])
        [position] = result.allocations
        assert (position.guarantee_tier, str(position.allocated_size), str(position.expected_profit)) == (
            "EmpiricallyValidated", "11.392758522486854776692511866", "0.524295107544856792600022161",
        )
