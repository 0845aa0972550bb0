"""The Python side of the benchmark: every *_optimal_size function and every
pool's quote against the bare boundary cost of the same call, the
constant-product and StableSwap sizings against the same algorithm written
with Python's decimal module, portfolio_optimize at 10, 100 and 1,000
opportunities, portfolio_optimize on 1 and 2 worker threads, and one batch of
sizings on 1 and 2 Python threads.

Run by tools/run-benchmarks with quarlen and the boundary probe importable;
prints Markdown tables. Figures that matter are ratios taken in this run:
every candidate is timed in turns with the one it is compared with, and the
best of several turns is kept, which is what a noisy shared machine allows.
Calls that run on one thread are timed by that thread's CPU time, which a
busy machine inflates far less than the wall clock (a call descheduled for a
while is not charged for it); the portfolio and the thread comparisons,
whose point is the wall clock, are timed by it.
"""

from __future__ import annotations

import argparse
import json
import os
import platform
import subprocess
import sys
import threading
import time
from decimal import Decimal

import quarlen

try:
    import quarlen_bench_probe as probe
except ImportError:  # the portfolio's thread runs need no probe
    probe = None

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from baselines import python_decimal  # noqa: E402

_BINS = [
    {"bin_id": 1, "price": "1.1", "reserve_x": 0, "reserve_y": 100},
    {"bin_id": 2, "price": "1.0", "reserve_x": 0, "reserve_y": 100},
]

# One working pool per family: (class, function, constructor arguments,
# reference price, quote input). The arguments serve both the class and the
# module function.
FAMILIES = [
    ("PyCpmm", "cpmm_optimal_size", (Decimal("1500"), Decimal("4650000"), Decimal("0.997")), Decimal("3010"),
     Decimal("10")),
    ("PyStableSwap", "stableswap_optimal_size", ([Decimal("1000"), Decimal("2000")], Decimal("100"),
                                                 Decimal("0.997")), Decimal("0.99"), Decimal("10")),
    ("PyPmm", "pmm_optimal_size", (Decimal(1000), Decimal(1000), Decimal(1), Decimal("0.001")), Decimal("0.5"),
     Decimal("100")),
    ("PyConcentratedLiquidity", "clmm_optimal_size", (Decimal(1000), Decimal("0.9"), Decimal("1.1"),
                                                      Decimal("1.0"), Decimal("0.997")), Decimal("0.9"),
     Decimal("10")),
    ("PyBalancerWeightedPool", "balancer_optimal_size", ([Decimal("1000"), Decimal("2000")],
                                                         [Decimal("0.5"), Decimal("0.5")], Decimal("0.997"), 0, 1),
     Decimal("1.5"), Decimal("10")),
    ("PyVelodromeStable", "velodrome_optimal_size", (Decimal(1000), Decimal(1200), Decimal("0.997")),
     Decimal("0.95"), Decimal("10")),
    ("PyDlmmBook", "dlmm_optimal_size", (_BINS, 0, Decimal("0.997")), Decimal("1.0"), Decimal("10")),
    ("PyCurveCryptoSwap", "cryptoswap_optimal_size", ([Decimal(1000), Decimal(1000)], Decimal(100),
                                                      Decimal("0.01"), Decimal("0.997"), 0), Decimal("0.9"),
     Decimal("10")),
    ("PyDodoPmm", "dodo_optimal_size", (Decimal(100), Decimal(100), Decimal(100), Decimal(100), Decimal(1),
                                        Decimal("0.5"), Decimal("0.997"), True), Decimal("0.9"), Decimal("10")),
]

# The families whose sizing iterates (Newton, bisection, golden section);
# the rest are closed forms or a walk over a few bins.
ITERATIVE = {"stableswap_optimal_size", "pmm_optimal_size", "velodrome_optimal_size",
             "cryptoswap_optimal_size", "dodo_optimal_size"}


# ---- timing ---------------------------------------------------------------

def per_call(function, calls, clock=time.perf_counter):
    start = clock()
    for _ in range(calls):
        function()
    return (clock() - start) / calls


def calls_for(function, budget):
    """How many calls fill about `budget` seconds."""
    once = per_call(function, 1)
    return max(1, int(budget / max(once, 1e-7)))


def compare(candidates, budget, turns):
    """Best seconds (of this thread's CPU time) per call of each candidate,
    timed in alternating turns."""
    counts = [calls_for(f, budget) for f in candidates]
    best = [float("inf")] * len(candidates)
    for _ in range(turns):
        for i, function in enumerate(candidates):
            best[i] = min(best[i], per_call(function, counts[i], time.thread_time))
    return best


def us(seconds):
    return f"{seconds * 1e6:,.2f}"


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows]
    return "\n".join(lines)


# ---- sections -------------------------------------------------------------

def boundary_section(budget, turns):
    rows = []
    for class_name, function_name, args, price, delta in FAMILIES:
        function = getattr(quarlen, function_name)
        call_args = args + (price,)
        pool = getattr(quarlen, class_name)(*args)
        sized, bare_sized, quoted, bare_quoted = compare(
            [lambda: function(*call_args), lambda: probe.boundary(2, *call_args),
             lambda: pool.quote(delta), lambda: probe.boundary(1, delta)], budget, turns)
        kind = "iterative" if function_name in ITERATIVE else "closed form"
        rows.append((f"`{function_name}` ({kind})", us(sized), us(bare_sized), f"{sized / bare_sized:.2f}x",
                     f"{100 * (1 - bare_sized / sized):.1f}%", us(quoted), us(bare_quoted),
                     f"{quoted / bare_quoted:.2f}x"))
    return table(["call", "sizing µs", "bare boundary µs", "ratio", "time in core", "quote µs",
                  "bare boundary µs", "ratio"], rows)


def baseline_section(budget, turns):
    rows = []
    for name, ours, theirs, args in [
        ("constant product", quarlen.cpmm_optimal_size, python_decimal.cpmm_optimal_size,
         (Decimal("1500"), Decimal("4650000"), Decimal("0.997"), Decimal("3010"))),
        ("StableSwap", quarlen.stableswap_optimal_size, python_decimal.stableswap_optimal_size,
         ([Decimal("1000"), Decimal("2000")], Decimal("100"), Decimal("0.997"), Decimal("0.99"))),
    ]:
        result = ours(*args)
        size, profit = theirs(*args)
        agree = abs(result.optimal_delta - size) <= Decimal("1e-20") * abs(size)
        mine, baseline = compare([lambda: ours(*args), lambda: theirs(*args)], budget, turns)
        rows.append((name, us(mine), us(baseline), f"{baseline / mine:.1f}x",
                     "yes" if agree else f"no ({result.optimal_delta} vs {size})"))
    return table(["sizing", "quarlen µs", "Python decimal µs", "quarlen faster by", "same size to 20 digits"], rows)


def opportunities(count):
    """`count` opportunities cycling through the nine families, each with its
    own pool and a reference price a little below the family's example."""
    result = []
    for i in range(count):
        class_name, _, args, price, _ = FAMILIES[i % len(FAMILIES)]
        shade = Decimal(1) - Decimal("0.001") * ((i // len(FAMILIES)) % 10)
        result.append({"id": f"opportunity-{i}", "pool": getattr(quarlen, class_name)(*args),
                       "reference_price": price * shade, "fixed_cost": Decimal("0.01")})
    return result


def portfolio_section(sizes, turns):
    rows = []
    previous = None
    for count in sizes:
        # Half of what the opportunities would take on their own, so the
        # budget binds and the shadow-price search runs.
        items, budget = binding_portfolio(count)
        seconds = min(per_call(lambda: quarlen.portfolio_optimize(budget, items), 1) for _ in range(turns))
        result = quarlen.portfolio_optimize(budget, items)
        funded = sum(1 for p in result.allocations if p.allocated_size > 0)
        growth = "" if previous is None else f"{seconds / previous[1]:.1f}x for {count // previous[0]}x"
        rows.append((count, f"{seconds * 1e3:,.2f}", f"{seconds / count * 1e6:,.1f}", growth, funded))
        previous = (count, seconds)
    return table(["opportunities", "ms per call", "µs per opportunity", "growth", "funded"], rows)


def binding_portfolio(count):
    """`count` opportunities and a budget of half what they take on their own."""
    items = opportunities(count)
    return items, quarlen.portfolio_optimize(Decimal("1e12"), items).total_capital_used / 2


def portfolio_child(count, calls):
    """Run in a subprocess whose QUARLEN_THREADS is set: the best time of
    `calls` portfolio calls and the full text of the result, as JSON."""
    items, budget = binding_portfolio(count)
    best = float("inf")
    for _ in range(calls):
        start = time.perf_counter()
        result = quarlen.portfolio_optimize(budget, items)
        best = min(best, time.perf_counter() - start)
    text = repr((result.total_capital_used, result.total_expected_profit, result.shadow_price,
                 [(p.id, p.guarantee_tier, p.allocated_size, p.expected_profit) for p in result.allocations]))
    print(json.dumps({"seconds": best, "result": text}))


def portfolio_threads_section(count, turns, calls):
    """portfolio_optimize on 1 and 2 worker threads. The thread count is read
    once per process, so each run is a subprocess; the runs alternate and the
    best of each is kept. Both must give the same result to the digit."""
    best = {1: float("inf"), 2: float("inf")}
    results = set()
    for _ in range(turns):
        for threads in (1, 2):
            env = dict(os.environ, QUARLEN_THREADS=str(threads))
            done = subprocess.run([sys.executable, os.path.abspath(__file__), "--portfolio-child", str(count),
                                   str(calls)], env=env, capture_output=True, text=True, check=True)
            run = json.loads(done.stdout)
            best[threads] = min(best[threads], run["seconds"])
            results.add(run["result"])
    if len(results) != 1:
        raise SystemExit("portfolio_optimize gave different results on 1 and 2 worker threads")
    return table(["worker threads", f"ms for {count:,} opportunities", "speed-up", "same result"],
                 [(1, f"{best[1] * 1e3:,.1f}", "1.00x", "yes"),
                  (2, f"{best[2] * 1e3:,.1f}", f"{best[1] / best[2]:.2f}x", "yes")])


def batch():
    calls = []
    for class_name, function_name, args, price, _ in FAMILIES:
        if function_name in ITERATIVE:
            calls.append((getattr(quarlen, function_name), args + (price,)))
    return calls


def run_batch(calls, repeat):
    for _ in range(repeat):
        for function, args in calls:
            function(*args)


def on_threads(threads, calls, repeat):
    start = time.perf_counter()
    workers = [threading.Thread(target=run_batch, args=(calls, repeat // threads)) for _ in range(threads)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    return time.perf_counter() - start


def thread_section(repeat, turns):
    calls = batch()
    one = two = float("inf")
    for _ in range(turns):
        one = min(one, on_threads(1, calls, repeat))
        two = min(two, on_threads(2, calls, repeat))
    sizings = repeat * len(calls)
    gil = "no GIL" if getattr(sys, "_is_gil_enabled", lambda: True)() is False else "with the GIL"
    return table(["threads", f"ms for {sizings} iterative sizings", "speed-up"],
                 [(1, f"{one * 1e3:,.1f}", "1.00x"), (2, f"{two * 1e3:,.1f}", f"{one / two:.2f}x")]) + \
        f"\n\nInterpreter: CPython {platform.python_version()} {gil}."


def machine():
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return f"{model}, {os.cpu_count()} cores, CPython {platform.python_version()}"


def load():
    try:
        return "load average %.2f %.2f %.2f" % os.getloadavg()
    except OSError:
        return "load average unknown"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="a smoke run: tiny samples, small portfolios")
    parser.add_argument("--only", choices=["boundary", "baseline", "portfolio", "portfolio-threads", "threads"],
                        action="append")
    parser.add_argument("--portfolio-child", nargs=2, type=int, metavar=("COUNT", "CALLS"), help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.portfolio_child:
        portfolio_child(*options.portfolio_child)
        return
    budget, turns = (0.002, 1) if options.quick else (0.05, 7)
    sections = options.only or ["boundary", "baseline", "portfolio", "portfolio-threads", "threads"]

    print(f"Machine: {machine()}; {load()} at the start.\n")
    if "boundary" in sections:
        print("### Calls against their bare boundary cost\n")
        print(boundary_section(budget, turns) + "\n")
    if "baseline" in sections:
        print("### Against the same algorithm in Python's decimal\n")
        print(baseline_section(budget, turns) + "\n")
    if "portfolio" in sections:
        print("### portfolio_optimize\n")
        print(portfolio_section([10] if options.quick else [10, 100, 1000], 1 if options.quick else 2) + "\n")
    if "portfolio-threads" in sections:
        print("### portfolio_optimize on 1 and 2 worker threads\n")
        print(portfolio_threads_section(100 if options.quick else 1000, 1 if options.quick else 3,
                                        1 if options.quick else 2) + "\n")
    if "threads" in sections:
        print("### One batch of sizings on 1 and 2 threads\n")
        print(thread_section(2 if options.quick else 120, 1 if options.quick else 5) + "\n")
    print(f"Finished with {load()}.")


if __name__ == "__main__":
    main()
