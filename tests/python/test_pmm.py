"""The oracle-priced PMM pool: its two quote regimes, the bounded
golden-section sizing and the sampled unimodality check."""

from decimal import Decimal
from typing import Any

import pytest

import quarlen
from support import invalid_reserves, txt, Number

NORMAL = (1000, 1000, 1, "0.001")  # B = Q / i: no reverse regime
REVERSE = (100, 1000, 1, "0.001")  # 900 base of reverse-regime room, pole at 1000
POLE = (100, 1000, 1, "0.01")  # room 900 reaches past the pole at 100


class TestQuote:
    @pytest.mark.parametrize(
        "pool, delta_in, expected",
        [
            (NORMAL, 100, "90.90909090909090909090909091"),  # 100 / (1 + 0.1)
            (REVERSE, 100, "111.11111111111111111111111111"),  # 100 / (1 - 0.1)
            # 900 in the reverse regime alone would pay 9000: capped at Q.
            (REVERSE, 900, "1000"),
            # A hair short of the pole the output would pass the number's
            # range: it is capped at Q too, not an internal fault.
            (POLE, "99.99999999999999999999999999", "1000"),
            (NORMAL, "0.00", "0"),
        ],
    )
    def test_regimes(self, pool: tuple[Any, ...], delta_in: Number, expected: str) -> None:
        assert txt(quarlen.PyPmm(*pool).quote(delta_in)) == expected

    def test_reverse_part_split_from_normal_part(self) -> None:
        # Q / i - B = 0.1 of room: the first 0.1 pays 0.1 / (1 - 0.05), the
        # next 0.1 runs in the normal regime and pays 0.1 / (1 + 0.05).
        pool = quarlen.PyPmm("0.9", 1, 1, "0.5")
        assert txt(pool.quote("0.2")) == txt(Decimal("0.1") / Decimal("0.95") + Decimal("0.1") / Decimal("1.05"))

    @pytest.mark.parametrize(
        "pool, delta_in, detail",
        [
            (POLE, 100, "delta_in reaches the reverse-regime pole"),
            (NORMAL, "-0.5", "delta_in must be >= 0, got -0.5"),
        ],
    )
    def test_errors(self, pool: tuple[Any, ...], delta_in: Number, detail: str) -> None:
        with pytest.raises(ValueError) as info:
            quarlen.PyPmm(*pool).quote(delta_in)
        assert str(info.value) == invalid_reserves(detail)


class TestSizing:
    def test_normal_regime_is_concave_and_found(self) -> None:
        r = quarlen.pmm_optimal_size(*NORMAL, "0.5")
        # The bound stops at 0.999 of 1 / (k i) = 999, which takes 44 steps.
        assert (r.guarantee_tier, r.guarantee_tier_detail, r.iterations) == (
            "EmpiricallyValidated", {"unimodality_confirmed": True}, 44)
        # The exact optimum is (sqrt(2) - 1) / 0.001 = 414.2135623730950488...
        assert txt(r.optimal_delta) == "414.2135624735690986474510374"
        assert abs(r.optimal_delta - Decimal("414.21356237309504880")) < Decimal("0.000001") * 999

    @pytest.mark.parametrize(
        "pool, price, size, profit",
        [
            # The output hits Q at 500 base: the kink is the optimum.
            (REVERSE, "0.5", "500", "750"),
            # The first unit pays only 1, but the reverse regime's rate rises
            # with the size, so a price above the oracle price still pays.
            (REVERSE, "1.5", "500", "250"),
            # The search bound keeps below the pole, so sizing never meets it.
            (POLE, "0.5", "90.909090909", "954.5454545"),
        ],
    )
    def test_reverse_regime_is_reported_not_unimodal(self, pool: tuple[Any, ...], price: str, size: str,
                                                     profit: str) -> None:
        r = quarlen.PyPmm(*pool).optimal_size(price)
        assert r.guarantee_tier_detail == {"unimodality_confirmed": False}
        assert abs(r.optimal_delta - Decimal(size)) < Decimal("0.00001")
        assert abs(r.expected_profit - Decimal(profit)) < Decimal("0.00001")

    def test_price_above_the_oracle_price_is_refused_only_where_no_size_pays(self) -> None:
        # i = 0.84671 < P = 0.9 for the first unit, but selling the whole
        # reverse-regime room Q / i - B = 18104.19 base pays 17615.33.
        r = quarlen.PyPmm("100000", "100000", "0.84671", "0.0000084671").optimal_size("0.9")
        assert abs(r.optimal_delta - Decimal("18104.191517810641")) < Decimal("0.000001")
        assert abs(r.expected_profit - Decimal("1321.559943690056")) < Decimal("1e-9")
        # From P = 2 on, a / (1 - 0.001 a) never exceeds P a before the 500
        # base that take all of Q.
        with pytest.raises(ValueError, match="^NoArbitrageOpportunity$"):
            quarlen.PyPmm(*REVERSE).optimal_size("2")

    def test_bound_reaches_the_cap_when_the_next_doubling_would_pass_it(self) -> None:
        # B = 1 and a cap of 0.999 / 0.5258 = 1.9, so doubling 1 passes the
        # cap; the optimum (1 / sqrt(0.3) - 1) / 0.5258 = 1.57045 lies between
        # them. A bound left at B sizes 1 and earns 0.35539 instead of 0.38904.
        r = quarlen.PyPmm(1, 1, 1, "0.5258").optimal_size("0.3")
        assert abs(r.optimal_delta - Decimal("1.5704485704651078576")) < Decimal("0.000001")
        assert abs(r.expected_profit - Decimal("0.3890355363059485985")) < Decimal("1e-12")

    def test_bound_below_the_tolerance_runs_one_step(self) -> None:
        r = quarlen.pmm_optimal_size(1, 1, 1, 10**7, "0.5")
        assert r.iterations == 1 and r.optimal_delta < Decimal("0.0000001")

    def test_constraints(self) -> None:
        pool = quarlen.PyPmm(*NORMAL)
        capped = pool.optimal_size("0.5", max_size=100)
        assert (txt(capped.optimal_delta), capped.iterations) == ("100", 44)
        assert capped.guarantee_tier == "EmpiricallyValidated"
        assert txt(capped.expected_profit) == "40.90909090909090909090909091"
        for price, kw, expected in [
            ("1", {}, "NoArbitrageOpportunity"),  # i equal to P
            ("0.5", {"max_size": 0}, "NoProfitableSize"),
            ("0.5", {"fixed_cost": 86}, "NoProfitableSize"),
            ("0", {}, invalid_reserves("reference_price must be > 0, got 0")),
        ]:
            with pytest.raises(ValueError) as info:
                pool.optimal_size(price, **kw)
            assert str(info.value) == expected


@pytest.mark.parametrize(
    "args, detail",
    [
        ((0, -1, -1, -1), "base_reserve must be > 0, got 0"),
        ((1, "-0.0", -1, -1), "quote_reserve must be > 0, got 0.0"),
        ((1, 1, -2, -1), "oracle_price must be > 0, got -2"),
        ((1, 1, 1, 0), "k must be > 0, got 0"),
    ],
)
def test_validation_order(args: tuple[Number, Number, Number, Number], detail: str) -> None:
    for build in (lambda: quarlen.PyPmm(*args), lambda: quarlen.pmm_optimal_size(*args, "x")):
        with pytest.raises(ValueError) as info:
            build()
        assert str(info.value) == invalid_reserves(detail)


def test_portfolio_sizes_a_pmm_pool() -> None:
    pool = quarlen.PyPmm(*NORMAL)
    result = quarlen.portfolio_optimize(10**6, [{"id": "p", "pool": pool, "reference_price": "0.5"}])
    (position,) = result.allocations
    assert position.guarantee_tier == "EmpiricallyValidated"
    assert position.allocated_size == pool.optimal_size("0.5").optimal_delta
