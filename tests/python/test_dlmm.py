"""The DLMM bin book: construction order and messages, the bin walk of the
quote, the drain-the-profitable-bins sizing, and the binding of bin mappings."""

from collections.abc import Sequence
from decimal import Decimal
from typing import Any

import pytest

import quarlen
from support import Number, invalid_reserves, notes, sized_both_ways

# A bin mapping as the tests build it; some hold deliberately wrong values.
Bin = dict[str, Any]


def bin_(bin_id: Any, price: Any, reserve_y: Any, reserve_x: Any = 0) -> Bin:
    return {"bin_id": bin_id, "price": price, "reserve_x": reserve_x, "reserve_y": reserve_y}


# Active bin at position 1. With fee_retention 1 the drain inputs are
# 10/2 = 5, 20/1.25 = 16, 50/0.5 = 100 and 1000/4 = 250.
BOOK: list[Bin] = [
    bin_(-7, 3, 100),  # before the active bin: never traded
    bin_(0, 2, 10),
    bin_(1, "1.5", 0),  # empty: skipped
    bin_(2, "1.25", 20),
    bin_(3, "0.5", 50),
    bin_(4, 4, 1000),  # dearer again, but behind a bin that is not
]


def book(bins: Sequence[Bin] = BOOK, active: int = 1, fee: Number = 1) -> quarlen.PyDlmmBook:
    return quarlen.PyDlmmBook(bins, active, fee)


def size_both_ways(price: Number, fixed_cost: Number | None = None, max_size: Number | None = None,
                   bins: Sequence[Bin] = BOOK, active: int = 1, fee: Number = 1) -> tuple[Any, ...]:
    return sized_both_ways(lambda: quarlen.dlmm_optimal_size(bins, active, fee, price, fixed_cost, max_size),
                           lambda: quarlen.PyDlmmBook(bins, active, fee).optimal_size(price, fixed_cost, max_size))


class TestConstruction:
    @pytest.mark.parametrize(
        "bins, active, fee, detail",
        [
            ([], 0, 1, "bins must not be empty"),
            # The index is checked before the fee, and len counts every bin.
            ([bin_(0, 1, 1)], 1, 0, "active_bin_index 1 out of bounds for bins len 1"),
            (BOOK, 6, 1, "active_bin_index 6 out of bounds for bins len 6"),
            (BOOK, 1, 0, "fee_retention must be in (0, 1], got 0"),
            (BOOK, 1, "1.0001", "fee_retention must be in (0, 1], got 1.0001"),
            # The fee comes before any bin, and bins before the active one count.
            ([bin_(0, 0, 1), bin_(1, 1, 1)], 1, 2, "fee_retention must be in (0, 1], got 2"),
            ([bin_(0, 1, 1), bin_(1, "-0.5", 1)], 0, 1, "bin 1 has price <= 0: -0.5"),
            ([bin_(0, "0.00", 1), bin_(1, 1, 1)], 1, 1, "bin 0 has price <= 0: 0.00"),
            # reserve_x is never traded but still has to be a reserve.
            ([bin_(0, 1, 1, reserve_x=-1)], 0, 1, "bin 0 has negative reserves"),
            ([bin_(0, 1, "-0.1")], 0, 1, "bin 0 has negative reserves"),
            # Within a bin the price comes first; the bins in position order.
            ([bin_(0, 0, -1)], 0, 1, "bin 0 has price <= 0: 0"),
            ([bin_(0, 1, -1), bin_(1, 0, 1)], 0, 1, "bin 0 has negative reserves"),
        ],
    )
    def test_first_failed_check_wins(self, bins: Sequence[Bin], active: int, fee: Number, detail: str) -> None:
        for call in (lambda: quarlen.PyDlmmBook(bins, active, fee), lambda: quarlen.dlmm_optimal_size(bins, active, fee, 1)):
            with pytest.raises(ValueError) as info:
                call()
            assert str(info.value) == invalid_reserves(detail)

    def test_boundaries_accepted(self) -> None:
        pool = quarlen.PyDlmmBook([bin_(-(2**31), 1, 0, reserve_x=0), bin_(2**31 - 1, "0.1", 0)], 1, 1)
        assert pool.quote(5) == 0

    def test_the_book_owns_its_bins(self) -> None:
        bins = [dict(b) for b in BOOK]
        pool = book(bins)
        bins[1]["reserve_y"] = 0
        del bins[3:]
        assert pool.quote(1000) == Decimal(1080)


class TestBinding:
    def test_bins_must_be_a_sequence_of_full_mappings(self) -> None:
        with pytest.raises(KeyError):
            quarlen.PyDlmmBook([{"bin_id": 0, "price": 1, "reserve_x": 0}], 0, 1)
        with pytest.raises(TypeError) as info:
            quarlen.PyDlmmBook("bins", 0, 1)  # type: ignore[arg-type]
        assert str(info.value) == "Can't extract `str` to `Vec`"
        assert notes(info.value) == ["while processing 'bins'"]
        with pytest.raises(TypeError) as info:
            quarlen.dlmm_optimal_size(5, 0, 1, 1)  # type: ignore[arg-type]
        assert notes(info.value) == ["while processing 'bins'"]

    @pytest.mark.parametrize("bin_id, error", [(2**31, OverflowError), (-(2**31) - 1, OverflowError), ("1", TypeError), (1.0, TypeError)])
    def test_bin_id_is_a_signed_32_bit_integer(self, bin_id: Any, error: type[Exception]) -> None:
        with pytest.raises(error):
            quarlen.PyDlmmBook([bin_(bin_id, 1, 1)], 0, 1)

    def test_bin_id_is_read_before_the_other_keys(self) -> None:
        # A bad id wins over a missing key; all keys are read before any converts.
        with pytest.raises(OverflowError):
            quarlen.PyDlmmBook([{"bin_id": 2**31}], 0, 1)
        with pytest.raises(KeyError):
            quarlen.PyDlmmBook([{"bin_id": 0, "price": "abc", "reserve_x": 0}], 0, 1)

    @pytest.mark.parametrize("key", ["price", "reserve_x", "reserve_y"])
    def test_bin_values_are_named_in_conversion_errors(self, key: str) -> None:
        b = bin_(0, 1, 1)
        b[key] = "abc"
        with pytest.raises(ValueError) as info:
            quarlen.PyDlmmBook([b], 0, 1)
        assert str(info.value).startswith(f'invalid bin.{key} "abc": ')

    def test_bins_convert_before_fee_retention(self) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.PyDlmmBook([bin_(0, "x", 1)], 0, "y")
        assert str(info.value).startswith('invalid bin.price "x"')

    @pytest.mark.parametrize("active, error", [(-1, OverflowError), (2**64, OverflowError), ("0", TypeError), (None, TypeError)])
    def test_active_bin_index_is_an_index(self, active: Any, error: type[Exception]) -> None:
        with pytest.raises(error) as info:
            quarlen.PyDlmmBook(BOOK, active, 1)
        assert notes(info.value) == ["while processing 'active_bin_index'"]

    def test_tuples_and_keywords(self) -> None:
        pool = quarlen.PyDlmmBook(fee_retention=1, active_bin_index=True, bins=tuple(BOOK))
        assert pool.quote(5) == Decimal(10)


class TestQuote:
    @pytest.mark.parametrize(
        "delta_in, expected",
        [
            ("3", "6"),  # inside the active bin: 3 * 2
            ("5", "10"),  # exactly the active bin's drain input
            ("8", "13.75"),  # 10, then 3 * 1.25 in the next non-empty bin
            ("121", "80.0"),  # 10 + 20 + 100 * 0.5: the last bin through remaining * price
            ("371", "1080"),  # every bin from the active one on
            # Beyond the last bin the rest is not consumed and not an error;
            # the bin before the active one never contributes.
            ("1000000", "1080"),
        ],
    )
    def test_walks_from_the_active_bin(self, delta_in: Number, expected: str) -> None:
        assert str(book().quote(delta_in)) == expected

    def test_zero_and_negative_inputs(self) -> None:
        assert str(book().quote("0.000")) == "0"
        with pytest.raises(ValueError) as info:
            book().quote("-0.01")
        assert str(info.value) == invalid_reserves("delta_in must be >= 0, got -0.01")

    def test_fee_acts_through_the_effective_price(self) -> None:
        pool = book(fee="0.5")
        assert str(pool.quote(2)) == "2.0"  # 2 * (2 * 0.5)
        assert str(pool.quote(1000000)) == "1080"

    def test_empty_book_from_the_active_bin_quotes_zero(self) -> None:
        assert book([bin_(0, 1, 5), bin_(1, 1, 0)], active=1).quote(3) == 0


class TestOptimalSize:
    @pytest.mark.parametrize(
        "price, fixed_cost, max_size, expected",
        [
            # Bins priced 2 and 1.25 beat 1 (the empty one in between is
            # skipped); the bin at 0.5 ends the walk, so the later bin at 4 is
            # never reached: 5 + 16 in, 10 + 16 * 1.25 out.
            ("1", None, None, ("ok", "21", "9.00", "ProvenOptimal", None)),
            ("1", "8.5", None, ("ok", "21", "0.50", "ProvenOptimal", None)),
            ("1", "9", None, ("err", "NoProfitableSize")),
            # The cap can end the trade inside a bin: 10 + 3 * 1.25 - 8.
            ("1", None, "8", ("ok", "8", "5.75", "ProvenOptimal", None)),
            ("1", None, "21.5", ("ok", "21", "9.00", "ProvenOptimal", None)),
            ("1", None, "0", ("err", "NoProfitableSize")),
            ("1", None, "-3", ("err", "NoProfitableSize")),
            # A bin whose effective price equals the reference stops the walk.
            ("1.25", None, None, ("ok", "5", "3.75", "ProvenOptimal", None)),
            # ... and at the active bin there is no arbitrage at all.
            ("2", None, None, ("err", "NoArbitrageOpportunity")),
            ("0", None, None, ("err", invalid_reserves("reference_price must be > 0, got 0"))),
            ("-1", None, None, ("err", invalid_reserves("reference_price must be > 0, got -1"))),
        ],
    )
    def test_drains_the_profitable_bins(self, price: Number, fixed_cost: Number | None, max_size: Number | None,
                                        expected: tuple[Any, ...]) -> None:
        assert size_both_ways(price, fixed_cost, max_size) == expected

    def test_profitable_bins_all_empty_is_no_arbitrage(self) -> None:
        bins = [bin_(0, 3, 0, reserve_x=9), bin_(1, 2, 0), bin_(2, "0.5", 100)]
        assert size_both_ways("1", bins=bins, active=0) == ("err", "NoArbitrageOpportunity")

    def test_fee_and_rounding_follow_the_quote(self) -> None:
        # Drain input 10 / (11 * 0.997), the product formed first (10 / 11 /
        # 0.997 ends in ...839); the quote at it gives back the whole bin.
        bins = [bin_(0, 11, 10)]
        assert size_both_ways("10.5", bins=bins, active=0, fee="0.997") == (
            "ok", "0.9118263882556761192668915838", "0.425822923315400747697638370", "ProvenOptimal", None,
        )
        # The effective price 11 * 0.997 = 10.967 is what the reference must beat.
        assert size_both_ways("10.967", bins=bins, active=0, fee="0.997") == ("err", "NoArbitrageOpportunity")

    def test_two_bins_with_fee(self) -> None:
        bins = [bin_(0, 3, 7), bin_(1, "2.5", 11)]
        assert size_both_ways("1", bins=bins, active=0, fee="0.997") == (
            "ok", "6.7535941156803744567034436643", "11.246405884319625543296556336", "ProvenOptimal", None,
        )

    def test_in_a_portfolio(self) -> None:
        result = quarlen.portfolio_optimize(1000, [{"id": "book", "pool": book(), "reference_price": "1"}])
        [position] = result.allocations
        assert (position.id, position.guarantee_tier, str(position.allocated_size), str(position.expected_profit)) == (
            "book", "ProvenOptimal", "21", "9.00",
        )
        assert result.shadow_price == 0
