"""Split one ETH budget across four pools of different families when the
budget is smaller than what the pools would take on their own.

Run:  python examples/portfolio.py

portfolio_optimize puts a single price on capital, the shadow price: every
opportunity is sized on its own at its reference price raised by that price,
and the price is searched until the sizes add up to the budget. A pool whose
edge over the market is smaller than the shadow price gets nothing.
"""

from __future__ import annotations

from decimal import Decimal
from typing import Any

import quarlen
from quickstart import sample_pools

ETH_FAMILIES = ("constant product", "PMM", "concentrated liquidity", "DODO PMM")


def main() -> None:
    samples = [sample for sample in sample_pools() if sample.family in ETH_FAMILIES]

    # What each pool would take on its own, with no limit on capital.
    print("Stand-alone optima")
    standalone = Decimal(0)
    for sample in samples:
        alone = sample.pool.optimal_size(sample.reference_price)
        standalone += alone.optimal_delta
        print(f"  {sample.family:24}{alone.optimal_delta:>12.4f} ETH  {alone.expected_profit:>12.2f} USDC")
    print(f"  {'together':24}{standalone:>12.4f} ETH")

    # 30 ETH is far less than that, so the budget binds. Each opportunity may
    # carry its own fixed cost (gas, in USDC) and size cap (in ETH).
    budget = Decimal("30")
    opportunities: list[dict[str, Any]] = []
    for sample in samples:
        opportunity: dict[str, Any] = {
            "id": sample.family,
            "pool": sample.pool,
            "reference_price": sample.reference_price,
            "fixed_cost": Decimal("15"),
        }
        if sample.family == "DODO PMM":
            opportunity["max_size"] = Decimal("20")  # a venue limit on one trade
        opportunities.append(opportunity)

    result = quarlen.portfolio_optimize(budget, opportunities)
    # The sizes meet the budget within a relative 0.0001.
    assert abs(result.total_capital_used - budget) <= budget * Decimal("0.0001")
    assert result.shadow_price > 0, "the budget should bind"

    print(f"\nBudget {budget} ETH")
    print(f"  shadow price          {result.shadow_price:.6f} USDC per ETH of capital")
    print(f"  capital used          {result.total_capital_used:.6f} ETH")
    print(f"  expected profit       {result.total_expected_profit:.2f} USDC, after the capital charge")
    print(f"  {'opportunity':24}{'size':>12}      {'profit':>10}       {'at market':>10}       tier")
    for position in result.allocations:
        # expected_profit is counted at the reference price raised by the
        # shadow price; adding the charge back gives the profit at the market.
        at_market = position.expected_profit + result.shadow_price * position.allocated_size
        print(f"  {position.id:24}{position.allocated_size:>12.4f} ETH  {position.expected_profit:>10.2f} USDC"
              f"  {at_market:>10.2f} USDC  {position.guarantee_tier}")

    # With a budget above the stand-alone total the price of capital is zero
    # and every pool gets its own optimum.
    loose = quarlen.portfolio_optimize(standalone * 2, opportunities)
    print(f"\nBudget {standalone * 2:.4f} ETH: shadow price {loose.shadow_price}, "
          f"{loose.total_capital_used:.4f} ETH used")
    assert loose.shadow_price == 0


if __name__ == "__main__":
    main()
