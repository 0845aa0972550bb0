"""Size trades that run through several pools: a two-pool cycle and a
triangle, each starting and ending in USDC.

Run:  python examples/routes.py

A route chains pools, the output of each leg paid into the next, and is
sized like one pool against a reference price: the value of one unit of
the first leg's input counted in the last leg's output. A cycle ends in the
asset it started from, so its reference price is 1 and its profit is what
comes back beyond what went in.
"""

from __future__ import annotations

from decimal import Decimal

import quarlen

d = Decimal


def show(name: str, route: quarlen.PyRoute, assets: list[str], result: quarlen.SizingResult) -> None:
    """The size, what each leg pays out for it, and the profit."""
    print(name)
    amount = result.optimal_delta
    print(f"  pay in                   {amount:>18.6f} {assets[0]}")
    for leg, asset in zip(route.legs, assets[1:]):
        amount = leg.quote(amount)
        print(f"  {type(leg).__name__:<24} {amount:>18.6f} {asset}")
    print(f"  profit                   {result.expected_profit:>18.6f} {assets[-1]}")
    iterations = "closed form" if result.iterations is None else f"{result.iterations} search passes"
    print(f"  tier                     {result.guarantee_tier} of {result.guarantee_tier_detail['legs']}, {iterations}")


def main() -> None:
    # A two-pool cycle. ETH costs 3,000 USDC on a constant-product pool
    # (USDC in, ETH out) while a concentrated-liquidity pool pays about
    # 3,100 USDC for it (ETH in, USDC out; its prices are square roots of
    # USDC per ETH): buy on the first, sell on the second.
    buy_eth = quarlen.PyCpmm(x=d("4500000"), y=d("1500"), fee_retention=d("0.997"))
    sell_eth = quarlen.PyConcentratedLiquidity(d("40000"), d("53.85"), d("57.45"), d("55.68"), d("0.9995"))
    cycle = quarlen.PyRoute([buy_eth, sell_eth])
    best = cycle.optimal_size(1)
    show("Two-pool cycle USDC -> ETH -> USDC", cycle, ["USDC", "ETH", "USDC"], best)
    # The quote is the exact chain of the legs' own quotes.
    assert cycle.quote(best.optimal_delta) == sell_eth.quote(buy_eth.quote(best.optimal_delta))
    assert best.guarantee_tier_detail == {"legs": ["ProvenOptimal", "ProvenOptimal"]}

    # The same cycle net of 30 USDC of gas, and capped at 20,000 USDC per trade.
    capped = quarlen.route_optimal_size([buy_eth, sell_eth], 1, fixed_cost=d("30"), max_size=d("20000"))
    print(f"  net of 30 USDC gas, at most 20,000 USDC in: {capped.optimal_delta:.2f} USDC in, "
          f"{capped.expected_profit:.2f} USDC profit")

    # A triangle across three families: USDC -> ETH on the constant-product
    # pool, ETH -> WBTC on an 80/20 weighted pool holding WBTC cheaply, WBTC ->
    # USDC on an oracle-priced DODO pool selling base (WBTC) for quote (USDC).
    eth_wbtc = quarlen.PyBalancerWeightedPool([d("2000"), d("25")], [d("0.8"), d("0.2")], d("0.998"),
                                              input_index=0, output_index=1)
    wbtc_usdc = quarlen.PyDodoPmm(d("50"), d("3100000"), d("50"), d("3100000"), d("62000"), d("0.1"), d("0.999"))
    triangle = quarlen.PyRoute([buy_eth, eth_wbtc, wbtc_usdc])
    result = triangle.optimal_size(1)
    print()
    show("Triangle USDC -> ETH -> WBTC -> USDC", triangle, ["USDC", "ETH", "WBTC", "USDC"], result)
    assert result.iterations is not None  # no closed form through these families

    # Where the route's rate for the smallest trades, fees included, is not
    # above the reference price, nothing pays: the cycle run backwards.
    try:
        quarlen.route_optimal_size([quarlen.PyCpmm(d("1500"), d("4500000"), d("0.997")),
                                    quarlen.PyCpmm(d("4500000"), d("1500"), d("0.997"))], 1)
    except ValueError as error:
        print(f"\nA pool and its mirror image: {error}")

    # Routes stand in a portfolio wherever a pool does. Each opportunity is
    # sized on the pools as they are now, so two routes through the same
    # pool (both of these buy ETH on it) are each sized as if the other did
    # not trade: funding both moves that pool twice.
    portfolio = quarlen.portfolio_optimize(d("30000"), [
        {"id": "cycle", "pool": cycle, "reference_price": 1},
        {"id": "triangle", "pool": triangle, "reference_price": 1},
    ])
    print(f"\nPortfolio of both routes with 30,000 USDC: shadow price {portfolio.shadow_price:.6f}")
    for position in portfolio.allocations:
        print(f"  {position.id:<10}{position.allocated_size:>14.2f} USDC  {position.expected_profit:>10.2f} USDC")


if __name__ == "__main__":
    main()
