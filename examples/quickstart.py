"""Size one real-looking pool of each of the nine families, then split a
budget across a few of them.

Run:  python examples/quickstart.py

Every number goes in as a decimal.Decimal (int, str and float work too) and
comes back as a decimal.Decimal, exact to the last digit.
"""

from __future__ import annotations

from dataclasses import dataclass
from decimal import Decimal

import quarlen

# Any of the nine pool classes.
Pool = (
    quarlen.PyCpmm
    | quarlen.PyStableSwap
    | quarlen.PyPmm
    | quarlen.PyConcentratedLiquidity
    | quarlen.PyBalancerWeightedPool
    | quarlen.PyVelodromeStable
    | quarlen.PyDlmmBook
    | quarlen.PyCurveCryptoSwap
    | quarlen.PyDodoPmm
)


@dataclass(frozen=True)
class Sample:
    """A pool, the market price it is sized against, and its two assets.

    reference_price is the value of one unit of the input asset counted in
    units of the output asset; sizes are amounts of the input asset, profits
    amounts of the output asset."""

    family: str
    pool: Pool
    reference_price: Decimal
    asset_in: str
    asset_out: str


def sample_pools() -> list[Sample]:
    """One pool per family, each priced a little above the wider market, so
    selling the input asset into it pays, up to a point."""
    d = Decimal
    # A DLMM book of twelve 60,000 USDC bins, from 3,100 USDC per ETH down.
    bins: list[dict[str, Decimal | int]] = [
        {"bin_id": 8_388_608 - i, "price": d(3100) - 10 * i, "reserve_x": d(0), "reserve_y": d(60_000)}
        for i in range(12)
    ]
    return [
        # x * y = k with a 0.3 % fee: 1,500 ETH against 4.65 M USDC.
        Sample("constant product", quarlen.PyCpmm(x=d("1500"), y=d("4650000"), fee_retention=d("0.997")),
               d("3010"), "ETH", "USDC"),
        # Three stablecoins, amplification 200, 0.04 % fee; coin 0 in, coin 1 out.
        Sample("StableSwap", quarlen.PyStableSwap([d("3800000"), d("4200000"), d("4000000")], d("200"),
                                                  d("0.9996")),
               d("0.9995"), "USDC", "USDT"),
        # An oracle-priced pool: 500 ETH and 1.4 M USDC around 3,100 USDC per ETH.
        Sample("PMM", quarlen.PyPmm(d("500"), d("1400000"), d("3100"), d("0.000002")), d("3010"), "ETH", "USDC"),
        # Liquidity 40,000 between 2,900 and 3,300 USDC per ETH (square roots of the prices).
        Sample("concentrated liquidity",
               quarlen.PyConcentratedLiquidity(d("40000"), d("53.85"), d("57.45"), d("55.68"), d("0.997")),
               d("3010"), "ETH", "USDC"),
        # An 80/20 BAL/WETH pool: BAL in (index 0), WETH out (index 1).
        Sample("Balancer weighted",
               quarlen.PyBalancerWeightedPool([d("1000000"), d("1250")], [d("0.8"), d("0.2")], d("0.998"),
                                              input_index=0, output_index=1),
               d("0.0049"), "BAL", "WETH"),
        # x^3 y + x y^3 stable pool, 0.05 % fee.
        Sample("Velodrome stable", quarlen.PyVelodromeStable(d("1800000"), d("2200000"), d("0.9995")),
               d("1.0"), "USDC", "DAI"),
        Sample("DLMM", quarlen.PyDlmmBook(bins, active_bin_index=0, fee_retention=d("0.998")), d("3010"), "ETH",
               "USDC"),
        # Two coins of similar value, A = 10, gamma = 0.000145, 0.04 % fee.
        Sample("CryptoSwap",
               quarlen.PyCurveCryptoSwap([d("1000"), d("1030")], d("10"), d("0.000145"), d("0.9996"),
                                         input_index=0),
               d("0.999"), "coin 0", "coin 1"),
        # A DODO pool short of base: selling ETH into it earns a premium.
        Sample("DODO PMM",
               quarlen.PyDodoPmm(d("1000"), d("3100000"), d("900"), d("3410000"), d("3100"), d("0.1"), d("0.997"),
                                 is_sell_base=True),
               d("3010"), "ETH", "USDC"),
    ]


def main() -> None:
    samples = sample_pools()

    print("Optimal trade against each pool")
    print(f"  {'family':24}{'trade in':>16}{'profit':>21}         tier (iterations)")
    for sample in samples:
        result = sample.pool.optimal_size(sample.reference_price)
        iterations = "" if result.iterations is None else f" ({result.iterations})"
        print(f"  {sample.family:24}{result.optimal_delta:>16.4f} {sample.asset_in:6}"
              f"{result.expected_profit:>14.4f} {sample.asset_out:6}  {result.guarantee_tier}{iterations}")

    # The exact answer, every digit of it, and a quote.
    eth_usdc = samples[0].pool
    exact = eth_usdc.optimal_size(Decimal("3010"))
    print("\nConstant product, exactly:", exact.optimal_delta, "ETH in,", exact.expected_profit, "USDC profit")
    print("Quote of 1 ETH:", eth_usdc.quote(Decimal("1")), "USDC")

    # The same sizing through the module function, net of a 25 USDC gas cost
    # and capped at 5 ETH per trade.
    capped = quarlen.cpmm_optimal_size(
        Decimal("1500"), Decimal("4650000"), Decimal("0.997"), Decimal("3010"),
        fixed_cost=Decimal("25"), max_size=Decimal("5"),
    )
    print("Net of 25 USDC gas, capped at 5 ETH:", capped.optimal_delta, "ETH in,", capped.expected_profit, "USDC")

    # Sizing errors are ValueErrors carrying the error's text; each kind has
    # its own class, so "no trade" can be told from a bad pool.
    try:
        quarlen.cpmm_optimal_size(1, 1, 1, 1)
    except quarlen.NoArbitrageOpportunity as error:
        print("A pool priced at the market:", error)

    # Three of the ETH pools share 20 ETH of capital, less than their optima
    # add up to: a shadow price on capital makes the sizes fit the budget
    # (examples/portfolio.py shows more).
    opportunities = [
        {"id": sample.family, "pool": sample.pool, "reference_price": sample.reference_price}
        for sample in samples
        if sample.family in ("constant product", "PMM", "concentrated liquidity")
    ]
    portfolio = quarlen.portfolio_optimize(Decimal("20"), opportunities)
    print(f"\nPortfolio with 20 ETH: {portfolio.total_capital_used:.6f} ETH used, "
          f"{portfolio.total_expected_profit:.2f} USDC expected, shadow price {portfolio.shadow_price:.4f} USDC/ETH")
    for position in portfolio.allocations:
        print(f"  {position.id:24}{position.allocated_size:>12.6f} ETH  {position.expected_profit:>10.2f} USDC"
              f"  ({position.guarantee_tier})")


if __name__ == "__main__":
    main()
