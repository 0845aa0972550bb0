"""How Python arguments become exact decimals, and how bad arguments are
reported.  The constant-product pool is the probe: its validation message
echoes the parsed value of `fee_retention` whenever it is outside (0, 1], and
of `x` whenever it is not positive, which shows the parse result digit for
digit."""

import re
from collections.abc import Callable
from decimal import Decimal
from typing import Any

import pytest

import quarlen
from support import txt, notes, quoted

ECHO = re.compile(r'^InvalidReserves \{ detail: "(?:fee_retention must be in \(0, 1\]|x must be > 0), got (.*)" \}$')


def echo(value: Any) -> str:
    """The text form of `value` after conversion; `value` must be > 1 or <= 0."""
    with pytest.raises(ValueError) as info:
        quarlen.PyCpmm(1, 1, value)
    match = ECHO.match(str(info.value))
    assert match, str(info.value)
    return match.group(1)


def result_texts(result: quarlen.SizingResult) -> tuple[object, ...]:
    return txt(result.optimal_delta), txt(result.expected_profit), result.guarantee_tier, result.iterations


class Text:
    """An object whose text form is chosen by the test."""

    def __init__(self, text: str) -> None:
        self.text = text

    def __str__(self) -> str:
        return self.text


class ShownInt(int):
    def __str__(self) -> str:
        return "3.5"


class ShownStr(str):
    def __str__(self) -> str:
        return "4.25"


class ShownDecimal(Decimal):
    def __str__(self) -> str:
        return "5.125"


class TestParsedValues:
    @pytest.mark.parametrize(
        "value, text",
        [
            (2, "2"),
            (-7, "-7"),
            ("2.50", "2.50"),
            (Decimal("2.50"), "2.50"),
            ("+2", "2"),
            ("-0", "0"),
            ("-0.00", "0.00"),
            ("1_000.5", "1000.5"),
            (2.5, "2.5"),
            (1.1, "1.1"),  # the float's shortest text, not its binary expansion
            (-1e-07, "-0.0000001"),  # str() gives scientific notation
            ("-1E-7", "-0.0000001"),
            ("-2.5e-1", "-0.25"),
            ("1e1", "10"),
            (Decimal("1E+1"), "10"),
            (Text("3.75"), "3.75"),
            # Exact ints, strs and Decimals are read directly; the results
            # must be those of their text, at the edges of each route too.
            (2**63 - 1, "9223372036854775807"),
            (-(2**63), "-9223372036854775808"),
            (2**63, "9223372036854775808"),
            (-(2**64) - 1, "-18446744073709551617"),
            (Decimal("-0.00"), "0.00"),
            (Decimal("1.5E+3"), "1500"),
            (Decimal("-12.50"), "-12.50"),
            # Subclasses are read through their own str(), whatever their value.
            (ShownInt(7), "3.5"),
            (ShownStr("7"), "4.25"),
            (ShownDecimal("7"), "5.125"),
            ("79228162514264337593543950335", "79228162514264337593543950335"),
            (79228162514264337593543950335, "79228162514264337593543950335"),
            # Surplus fraction digits: only the first dropped digit decides,
            # and a 5 rounds up even when the kept digit is even.
            ("1.123456789012345678901234567850", "1.1234567890123456789012345679"),
            ("1.123456789012345678901234567849", "1.1234567890123456789012345678"),
            ("-0.000000000000000000000000000050", "-0.0000000000000000000000000001"),
        ],
    )
    def test_echo(self, value: Any, text: str) -> None:
        assert echo(value) == text

    def test_scientific_text_is_the_same_value(self) -> None:
        expected = result_texts(quarlen.cpmm_optimal_size(1, 1, 1, "0.25"))
        for text in ("1e0", "1E0", "1e+0"):
            result = quarlen.cpmm_optimal_size(text, 1, 1, "0.25")
            assert (txt(result.optimal_delta), txt(result.expected_profit)) == ("1", "0.25"), text
        assert result_texts(quarlen.cpmm_optimal_size(1, 1, 1, Text("0.25"))) == expected  # type: ignore[arg-type]

    def test_integers_and_texts_mix(self) -> None:
        result = quarlen.cpmm_optimal_size(1, 1, 1, "0.25")
        assert type(result.optimal_delta) is Decimal
        assert txt(result.optimal_delta) == "1"
        assert txt(result.expected_profit) == "0.25"

    def test_every_input_kind_gives_the_same_answer(self) -> None:
        base = result_texts(quarlen.cpmm_optimal_size("100", "200", "0.997", "0.5", "0.1", "50"))
        assert result_texts(quarlen.cpmm_optimal_size(100, 200, Decimal("0.997"), 0.5, 0.1, 50)) == base
        assert result_texts(quarlen.cpmm_optimal_size(Decimal(100), Decimal("200"), 0.997, Decimal("0.5"),
                                                      Decimal("0.1"), Decimal(50))) == base

    def test_float_enters_through_its_shortest_text(self) -> None:
        # 0.1 as a binary double is 0.1000000000000000055...; the exact profit
        # shows it was taken as the text 0.1.
        assert txt(quarlen.cpmm_optimal_size(1, 1, 1, "0.25", 0.1).expected_profit) == "0.15"
        assert txt(quarlen.cpmm_optimal_size(1, 1, 1, "0.25", 1e-07).expected_profit) == "0.2499999"

    @pytest.mark.parametrize(
        "text", ["0", "7", "-7", "9223372036854775807", "-9223372036854775808", "9223372036854775808",
                 "79228162514264337593543950335", "1.50", "-0.0000000000000000000000000001", "0.00"])
    def test_results_keep_sign_digits_and_exponent(self, text: str) -> None:
        # Results are built from whole numbers and from text by different
        # routes; either must give the Decimal that the text form gives.
        reduced: Any = quarlen.PySizingConstraints(text, text).__reduce__()
        for value in reduced[1]:
            assert type(value) is Decimal
            assert value.as_tuple() == Decimal(text).as_tuple()

    @pytest.mark.parametrize("how", ["positional", "keyword"])
    def test_none_is_the_same_as_leaving_out(self, how: str) -> None:
        plain = result_texts(quarlen.cpmm_optimal_size(1, 1, 1, "0.25"))
        if how == "positional":
            got = quarlen.cpmm_optimal_size(1, 1, 1, "0.25", None, None)
            method = quarlen.PyCpmm(1, 1, 1).optimal_size("0.25", None, None)
        else:
            got = quarlen.cpmm_optimal_size(1, 1, 1, "0.25", fixed_cost=None, max_size=None)
            method = quarlen.PyCpmm(1, 1, 1).optimal_size("0.25", fixed_cost=None, max_size=None)
        assert result_texts(got) == plain == result_texts(method)


class TestConversionFailures:
    @pytest.mark.parametrize(
        "value, message",
        [
            ("abc", "Invalid decimal: unknown character"),
            ("", "Invalid decimal: empty"),
            ("-", "Invalid decimal: no digits found"),
            (".", "Invalid decimal: no digits found"),
            ("1.2.3", "Invalid decimal: two decimal points"),
            ("_1", "Invalid decimal: must start lead with a number"),
            (" 1", "Invalid decimal: unknown character"),
            ("1.12345678901234567890123456785x", "Invalid decimal: unknown character"),
            ("79228162514264337593543950336", "Invalid decimal: overflow from too many digits"),
            ("1e", "Failed to parse"),
            ("1e-29", "Scale exceeds the maximum precision allowed: 29 > 28"),
            ("1e29", "Number exceeds maximum value that can be represented."),
            (2**96, "Invalid decimal: overflow from too many digits"),
            (-(2**100), "Invalid decimal: overflow from too many digits"),
            (Decimal("NaN"), "Invalid decimal: unknown character"),
            (Decimal("sNaN"), "Invalid decimal: unknown character"),
            (Decimal("Infinity"), "Invalid decimal: unknown character"),
            (Decimal("-Infinity"), "Invalid decimal: unknown character"),
            (float("inf"), "Invalid decimal: unknown character"),
            (float("nan"), "Invalid decimal: unknown character"),
        ],
    )
    def test_message(self, value: Any, message: str) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.cpmm_optimal_size(value, 1, 1, "0.25")
        assert str(info.value) == f"invalid x {quoted(str(value))}: {message}"
        # A conversion failure is not a binding failure: no parameter note.
        assert notes(info.value) == []

    @pytest.mark.parametrize(
        "value, message",
        [
            # A NUL must not end the text early and let "1" through.
            ("1\x00", 'invalid x "1\x00": Invalid decimal: unknown character'),
            ("1\x002", 'invalid x "1\x002": Invalid decimal: unknown character'),
            # Digits of other scripts are not decimal digits here.
            ("\uff11", 'invalid x "\uff11": Invalid decimal: unknown character'),
            ("\u0661", 'invalid x "\u0661": Invalid decimal: unknown character'),
            # A zero keeps no exemption from the scale limit.
            ("0e-30", 'invalid x "0e-30": Scale exceeds the maximum precision allowed: 30 > 28'),
            ("10e-29", 'invalid x "10e-29": Scale exceeds the maximum precision allowed: 29 > 28'),
        ],
    )
    def test_hostile_text(self, value: Any, message: str) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.cpmm_optimal_size(value, 1, 1, "0.25")
        assert str(info.value) == message

    @pytest.mark.parametrize(
        "value",
        ["\ud800", "1" * 100_000, "1e99999999999999999999", "1e-99999999999999999999",
         "0e-99999999999999999999", "1e+", "e5", "1e5.5", "1e--5"],
    )
    def test_unparsable_text_is_a_value_error(self, value: Any) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.cpmm_optimal_size(value, 1, 1, "0.25")
        assert str(info.value).startswith("invalid x \"")

    def test_int_too_long_for_str_keeps_the_interpreter_error(self) -> None:
        with pytest.raises(ValueError, match="integer string conversion"):
            quarlen.cpmm_optimal_size(10**5000, 1, 1, "0.25")

    def test_very_long_fraction_is_rounded_not_rejected(self) -> None:
        assert echo("-0." + "1" * 1_000_000) == "-0.1111111111111111111111111111"

    def test_quotes_and_backslashes_are_escaped(self) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.PyCpmm(1, 'a"b\\c', 1)
        assert str(info.value) == 'invalid y "a\\"b\\\\c": Invalid decimal: unknown character'

    @pytest.mark.parametrize("value", [True, False, None])
    def test_bool_and_none_are_not_numbers(self, value: Any) -> None:
        # Their text forms contain an 'e', so the scientific parse has the last word.
        with pytest.raises(ValueError) as info:
            quarlen.cpmm_optimal_size(value, 1, 1, "0.25")
        assert str(info.value).startswith(f'invalid x "{value}": ')

    def test_exception_from_str_propagates_unchanged(self) -> None:
        class Boom(Exception):
            pass

        error = Boom("no text for you")

        class Bad:
            def __str__(self) -> str:
                raise error

        with pytest.raises(Boom) as info:
            quarlen.cpmm_optimal_size(1, 1, 1, Bad())  # type: ignore[arg-type]
        assert info.value is error
        assert notes(info.value) == []
        with pytest.raises(Boom):
            quarlen.PyCpmm(1, 1, 1).quote(Bad())  # type: ignore[arg-type]

    def test_str_returning_non_text_is_a_type_error(self) -> None:
        class Weird:
            def __str__(self) -> str:
                return 5  # type: ignore[return-value]

        with pytest.raises(TypeError):
            quarlen.cpmm_optimal_size(Weird(), 1, 1, "0.25")  # type: ignore[arg-type]

    @pytest.mark.parametrize(
        "call, prefix",
        [
            (lambda: quarlen.PyCpmm("a", "b", "c"), 'invalid x "a"'),
            (lambda: quarlen.PyCpmm(1, "b", "c"), 'invalid y "b"'),
            (lambda: quarlen.PyCpmm(1, 1, "c"), 'invalid fee_retention "c"'),
            # Every constructor value converts before any is validated.
            (lambda: quarlen.PyCpmm(0, "b", 1), 'invalid y "b"'),
            # The pool is validated before the sizing arguments are converted.
            (lambda: quarlen.cpmm_optimal_size(0, 1, 1, "abc"), 'InvalidReserves { detail: "x must be > 0'),
            (lambda: quarlen.cpmm_optimal_size(1, 1, 1, "abc", "d", "e"), 'invalid reference_price "abc"'),
            (lambda: quarlen.cpmm_optimal_size(1, 1, 1, "0.25", "d", "e"), 'invalid fixed_cost "d"'),
            (lambda: quarlen.cpmm_optimal_size(1, 1, 1, "0.25", max_size="e"), 'invalid max_size "e"'),
            # Nothing is sized before every argument has converted.
            (lambda: quarlen.cpmm_optimal_size(1, 1, 1, 0, "d"), 'invalid fixed_cost "d"'),
            (lambda: quarlen.PyCpmm(1, 1, 1).optimal_size(0, max_size="e"), 'invalid max_size "e"'),
            (lambda: quarlen.PyCpmm(1, 1, 1).quote("q"), 'invalid delta_in "q"'),
            (lambda: quarlen.PySizingConstraints("d"), 'invalid fixed_cost "d"'),
            (lambda: quarlen.PySizingConstraints(1, "e"), 'invalid max_size "e"'),
        ],
    )
    def test_first_failure_wins(self, call: Callable[[], object], prefix: str) -> None:
        with pytest.raises(ValueError) as info:
            call()
        assert str(info.value).startswith(prefix)


class TestBinding:
    # Every call here is wrong on purpose; each "type: ignore" records that a
    # type checker, reading the stubs, rejects the call too.
    @pytest.mark.parametrize(
        "call, names",
        [
            (lambda: quarlen.cpmm_optimal_size(1, 1, 1), ["reference_price"]),  # type: ignore[call-arg]
            (lambda: quarlen.cpmm_optimal_size(1, 1, 1, 1, 1, 1, 1), []),  # type: ignore[call-arg]
            (lambda: quarlen.cpmm_optimal_size(1, 1, 1, "0.25", x=1), ["x"]),  # type: ignore[misc]
            (lambda: quarlen.cpmm_optimal_size(1, 1, 1, "0.25", foo=1), ["foo"]),  # type: ignore[call-arg]
            (lambda: quarlen.cpmm_optimal_size(y=1, fee_retention=1, reference_price=1), ["x"]),  # type: ignore[call-arg]
            (lambda: quarlen.PyCpmm(1, 1), ["fee_retention"]),  # type: ignore[call-arg]
            (lambda: quarlen.PyCpmm(1, 1, 1, 1), []),  # type: ignore[call-arg]
            (lambda: quarlen.PyCpmm(1, 1, 1, fee=1), ["fee"]),  # type: ignore[call-arg]
            (lambda: quarlen.PyCpmm(1, 1, 1).quote(), ["delta_in"]),  # type: ignore[call-arg]
            (lambda: quarlen.PyCpmm(1, 1, 1).quote(1, 2), []),  # type: ignore[call-arg]
            (lambda: quarlen.PyCpmm(1, 1, 1).quote(delta_in=1, foo=2), ["foo"]),  # type: ignore[call-arg]
            (lambda: quarlen.PyCpmm(1, 1, 1).quote(1, delta_in=1), ["delta_in"]),  # type: ignore[misc]
            (lambda: quarlen.PyCpmm(1, 1, 1).optimal_size(), ["reference_price"]),  # type: ignore[call-arg]
            (lambda: quarlen.PyCpmm(1, 1, 1).optimal_size(1, 2, 3, 4), []),  # type: ignore[call-arg]
            (lambda: quarlen.PySizingConstraints(1, 2, 3), []),  # type: ignore[call-arg]
            (lambda: quarlen.PySizingConstraints(cost=1), ["cost"]),  # type: ignore[call-arg]
            (lambda: quarlen.portfolio_optimize(10), ["opportunities"]),  # type: ignore[call-arg]
            (lambda: quarlen.portfolio_optimize(10, [], budget=1), ["budget"]),  # type: ignore[call-arg]
        ],
    )
    def test_interpreter_style_errors(self, call: Callable[[], object], names: list[str]) -> None:
        with pytest.raises(TypeError) as info:
            call()
        for name in names:
            assert name in str(info.value)

    def test_everything_binds_by_keyword(self) -> None:
        result = quarlen.cpmm_optimal_size(
            max_size="0.5", fixed_cost=None, reference_price="0.25", fee_retention=1, y=1, x=1
        )
        assert txt(result.optimal_delta) == "0.5"
        pool = quarlen.PyCpmm(fee_retention=1, y=1, x=1)
        assert txt(pool.quote(delta_in=1)) == "0.50"
        assert txt(pool.optimal_size(reference_price="0.25", max_size="0.5").optimal_delta) == "0.5"
        constraints = quarlen.PySizingConstraints(max_size=2, fixed_cost=1)
        assert isinstance(constraints, quarlen.PySizingConstraints)
        portfolio = quarlen.portfolio_optimize(opportunities=[], total_capital_budget=1)
        assert portfolio.allocations == []
