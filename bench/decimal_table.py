"""Turns the JSON of quarlen_decimal_bench into the Markdown table of the
number against Intel's decimal library and GCC's _Decimal128: nanoseconds
per operation (best repetition) and how many times faster quarlen is than
the faster of the two."""

from __future__ import annotations

import json
import sys

# The square root is a fixed Newton sequence of full divisions, so its
# target is to come within 10x of the peer (a ratio of 0.1).
OPERATIONS = [("add", "add", 1.5), ("mul", "mul", 2.5), ("div", "div", 2.5), ("sqrt", "sqrt", 0.1),
              ("text", "parse+format", None)]
LIBRARIES = ["quarlen", "intel", "gcc"]


def best_ns(benchmarks):
    best = {}
    for run in benchmarks:
        if run.get("run_type") == "aggregate" or "items_per_second" not in run:
            continue
        name = run.get("run_name", run["name"]).split("/")[0]
        ns = 1e9 / run["items_per_second"]
        best[name] = min(best.get(name, float("inf")), ns)
    return best


def main(path):
    with open(path) as source:
        data = json.load(source)
    best = best_ns(data["benchmarks"])
    lines = ["| operation | quarlen ns/op | Intel BID128 ns/op | GCC _Decimal128 ns/op | quarlen faster than the faster peer | target | met |",
             "|---|---|---|---|---|---|---|"]
    for key, label, target in OPERATIONS:
        times = {library: best.get(f"BM_{key}_{library}") for library in LIBRARIES}
        if times["quarlen"] is None:
            continue
        peers = [t for t in (times["intel"], times["gcc"]) if t is not None]
        ratio = min(peers) / times["quarlen"] if peers else None
        cells = [f"{times[l]:.1f}" if times[l] is not None else "n/a" for l in LIBRARIES]
        met = "" if target is None or ratio is None else ("yes" if ratio >= target else "no")
        lines.append(f"| {label} | " + " | ".join(cells) + f" | {ratio:.2f}x | " +
                     (f"{target}x" if target else "none") + f" | {met} |")
    context = data.get("context", {})
    lines.append("")
    lines.append(f"Library build of Google Benchmark: {context.get('library_build_type', '?')}; "
                 f"load average at the start {', '.join(f'{x:.2f}' for x in context.get('load_avg', []))}.")
    print("\n".join(lines))


if __name__ == "__main__":
    main(sys.argv[1])
