"""Pins the tests' own reference model to hand-checked values, so that the
digit-for-digit comparisons elsewhere are trustworthy."""

import pytest

from support import D, Fault, Opp, cpmm_size, portfolio, sqrt


@pytest.mark.parametrize(
    "a, op, b, want",
    [
        ("0.1", "+", "0.2", "0.3"),
        ("1.50", "+", "1", "2.50"),
        ("12345678901234567890.12345678", "+", "0.0000000000000000000000000001", "12345678901234567890.123456780"),
        ("7922816251426433759354395033.5", "+", "0.05", "7922816251426433759354395034"),
        ("0.0000000000000000000000000015", "*", "0.5", "0.0000000000000000000000000008"),
        ("0.0000000000000000000000000025", "*", "0.5", "0.0000000000000000000000000012"),
        ("79228162514264337593543950335", "*", "0.5", "39614081257132168796771975168"),
        ("1", "/", "3", "0.3333333333333333333333333333"),
        ("2", "/", "3", "0.6666666666666666666666666667"),
        ("10", "/", "4", "2.50"),
        ("1", "/", "1024", "0.00097656250"),
        ("1.00", "/", "0.5", "2.0"),
        ("22", "/", "7", "3.1428571428571428571428571429"),
        ("1", "/", "0.25", "4"),
    ],
)
def test_arithmetic(a: str, op: str, b: str, want: str) -> None:
    x, y = D.of(a), D.of(b)
    got = {"+": lambda: x + y, "*": lambda: x * y, "/": lambda: x / y}[op]()
    assert str(got) == want


@pytest.mark.parametrize(
    "x, want",
    [("4", "2"), ("2", "1.4142135623730950488016887242"), ("0.25", "0.500000000000000000000"),
     ("100", "10.000000000000000000000000000")],
)
def test_sqrt(x: str, want: str) -> None:
    assert str(sqrt(D.of(x))) == want


def test_overflow_is_a_fault() -> None:
    with pytest.raises(Fault, match="Addition overflowed"):
        D.of("79228162514264337593543950335") + D.of("1")


def test_cpmm_cases() -> None:
    one = D.of("1")
    assert cpmm_size(one, one, one, D.of("0.25"), max_size=D.of("0.5"))[2] == D.of(
        "0.2083333333333333333333333333"
    )


def test_portfolio_binding_example() -> None:
    a, b = Opp("a", "100", "100", "1", "0.25"), Opp("b", "50", "200", "1", "0.5")
    used, profit, lam, _ = portfolio("100", [a, b])
    assert (used, profit, lam) == ("100.00000000000000000000000000", "69.470711317896082557448397919", "0.282910156250")
