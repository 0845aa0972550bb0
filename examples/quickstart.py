"""Size a few real-looking pools and split a budget across them.

Run:  python examples/quickstart.py
"""

from decimal import Decimal

import quarlen


def show(title: str, result: "quarlen.SizingResult") -> None:
    print(f"{title}")
    print(f"  trade in       {result.optimal_delta}")
    print(f"  expected profit {result.expected_profit}")
    print(f"  tier           {result.guarantee_tier} {result.guarantee_tier_detail}")
    if result.iterations is not None:
        print(f"  iterations     {result.iterations}")


def main() -> None:
    # An ETH/USDC constant-product pool with a 0.3 % fee whose mid price is
    # 3,100 USDC per ETH while the wider market pays 3,010: selling ETH into
    # the pool earns more than the market value of the ETH, up to a point.
    eth_usdc = quarlen.PyCpmm(x=Decimal("1500"), y=Decimal("4650000"), fee_retention=Decimal("0.997"))
    print("quote of 1 ETH:", eth_usdc.quote(Decimal("1")), "USDC")
    show("ETH -> USDC against a 3,010 reference", eth_usdc.optimal_size(Decimal("3010")))

    # The same sizing through the module function, with a fixed gas cost of
    # 25 USDC and a cap of 5 ETH per trade.
    capped = quarlen.cpmm_optimal_size(
        Decimal("1500"), Decimal("4650000"), Decimal("0.997"), Decimal("3010"),
        fixed_cost=Decimal("25"), max_size=Decimal("5"),
    )
    show("the same, net of 25 USDC gas and capped at 5 ETH", capped)

    # Errors are ValueErrors carrying the sizing error's text form.
    try:
        quarlen.cpmm_optimal_size(1, 1, 1, 1)
    except ValueError as error:
        print("pool at the reference price:", error)

    # Three venues that all pay more than the market for ETH, and 10 ETH to
    # spend: capital is priced by a shadow price so the sizes add up to it.
    opportunities = [
        {"id": "venue-a", "pool": eth_usdc, "reference_price": Decimal("3010")},
        {"id": "venue-b", "pool": quarlen.PyCpmm(800, 2_440_000, Decimal("0.9995")), "reference_price": Decimal("3010")},
        {"id": "venue-c", "pool": quarlen.PyCpmm(300, 912_000, Decimal("0.997")), "reference_price": Decimal("3010"),
         "fixed_cost": Decimal("12"), "max_size": Decimal("2")},
    ]
    portfolio = quarlen.portfolio_optimize(Decimal("10"), opportunities)
    print("portfolio with a budget of 10 ETH")
    print(f"  capital used   {portfolio.total_capital_used}")
    print(f"  expected profit {portfolio.total_expected_profit}")
    print(f"  shadow price   {portfolio.shadow_price}")
    for position in portfolio.allocations:
        print(f"  {position.id:10} size {position.allocated_size}  profit {position.expected_profit}"
              f"  ({position.guarantee_tier})")


if __name__ == "__main__":
    main()
