"""Draw profit against input size for one pool of each family, with the optimum
the sizing chose and a max_size cap marked, and write the chart to a PNG.

Run:  pip install "quarlen[plot]"
      python examples/profit_curves.py [--output profit_curves.png]

The profit of an input d is quote(d) - reference_price * d, in units of the
output asset. Every point is computed exactly by the pool's own quote; the
values become floats only to be drawn.
"""

from __future__ import annotations

import argparse
from decimal import Decimal
from pathlib import Path

import matplotlib

matplotlib.use("Agg")  # files only, no display needed
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.axes import Axes  # noqa: E402

from quickstart import Sample, sample_pools  # noqa: E402

DEFAULT_OUTPUT = Path(__file__).resolve().parent.parent / "docs" / "images" / "profit_curves.png"
POINTS = 160
# The cap drawn on every panel, as a share of the unconstrained optimum.
CAP_SHARE = Decimal("0.6")


def profit_curve(sample: Sample, right_end: Decimal) -> tuple[list[float], list[float]]:
    """(sizes, profits) from 0 to right_end; sizes the pool cannot quote
    (past its capacity, say) are left out."""
    sizes: list[float] = []
    profits: list[float] = []
    for step in range(POINTS + 1):
        size = right_end * step / POINTS
        try:
            profit = sample.pool.quote(size) - sample.reference_price * size
        except ValueError:
            continue
        sizes.append(float(size))
        profits.append(float(profit))
    return sizes, profits


def draw_panel(axes: Axes, sample: Sample) -> None:
    best = sample.pool.optimal_size(sample.reference_price)
    cap = (best.optimal_delta * CAP_SHARE).quantize(Decimal("1e-6"))
    capped = sample.pool.optimal_size(sample.reference_price, max_size=cap)

    sizes, profits = profit_curve(sample, best.optimal_delta * 2)
    axes.plot(sizes, profits, color="#1f5fa8", linewidth=1.8, label="profit")
    axes.axhline(0, color="#888888", linewidth=0.8)
    axes.axvline(float(cap), color="#c2410c", linestyle="--", linewidth=1.2, label="max_size")
    axes.plot([float(best.optimal_delta)], [float(best.expected_profit)], "o", color="#15803d", markersize=7,
              label="optimum")
    axes.plot([float(capped.optimal_delta)], [float(capped.expected_profit)], "s", color="#c2410c", markersize=6,
              label="optimum under max_size")

    # Past its last bin a book pays nothing more, and the loss grows without
    # bound; keep the interesting part in view.
    top = float(best.expected_profit)
    axes.set_ylim(max(min(profits), -0.35 * top), 1.12 * top)

    iterations = "closed form" if best.iterations is None else f"{best.iterations} iterations"
    axes.set_title(f"{sample.family}\n{best.guarantee_tier}, {iterations}", fontsize=10)
    axes.set_xlabel(f"input ({sample.asset_in})", fontsize=9)
    axes.set_ylabel(f"profit ({sample.asset_out})", fontsize=9)
    axes.tick_params(labelsize=8)
    axes.ticklabel_format(axis="both", style="sci", scilimits=(-3, 4), useMathText=True)
    axes.grid(True, linewidth=0.4, alpha=0.5)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--output", type=Path, default=DEFAULT_OUTPUT, help="PNG file to write")
    arguments = parser.parse_args()

    samples = sample_pools()
    figure, grid = plt.subplots(3, 3, figsize=(13, 11.5))
    for axes, sample in zip(grid.flat, samples, strict=True):
        draw_panel(axes, sample)
    handles, labels = grid.flat[0].get_legend_handles_labels()
    figure.legend(handles, labels, loc="lower center", ncol=4, fontsize=10, frameon=False)
    figure.suptitle("Profit against input size, one pool of each family", fontsize=14)
    figure.tight_layout(rect=(0, 0.04, 1, 0.97))

    arguments.output.parent.mkdir(parents=True, exist_ok=True)
    # No software stamp in the file, so the same chart gives the same bytes.
    figure.savefig(arguments.output, dpi=110, metadata={"Software": None})
    print(f"wrote {arguments.output}")


if __name__ == "__main__":
    main()
