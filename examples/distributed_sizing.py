"""Size a large batch of pools of all nine families on a dask.distributed
cluster and check that every answer equals the one computed in this process.

Run:  pip install "quarlen[distributed]"
      python examples/distributed_sizing.py [--pools 18000] [--workers 2]

quarlen has no scheduler of its own: pools and results pickle, so any engine
that ships Python objects to worker processes can spread the work. Here a
LocalCluster stands in for a real one; pointing the Client at a scheduler's
address is the only change needed to run on many machines.
"""

# dask's cluster and client constructors carry no annotations yet.
# mypy: allow-untyped-calls

from __future__ import annotations

import argparse
import time
from decimal import Decimal

from dask.distributed import Client, LocalCluster

import quarlen
from quickstart import Pool

# One sizing job: a pool, the reference price to size it against, and a cap.
Job = tuple[Pool, Decimal, Decimal | None]
# What came back: the result's exact fields, or the error's text.
Outcome = tuple[str, str, str, str, int | None] | tuple[str]


def make_pool(family: int, scale: Decimal) -> Pool:
    """A pool of family `family` (0 to 8) whose liquidity is scaled by `scale`."""
    d = Decimal
    if family == 0:
        return quarlen.PyCpmm(d(1500) * scale, d(4_650_000) * scale, d("0.997"))
    if family == 1:
        return quarlen.PyStableSwap([d(3_800_000) * scale, d(4_200_000) * scale, d(4_000_000) * scale], d(200),
                                    d("0.9996"))
    if family == 2:
        return quarlen.PyPmm(d(500) * scale, d(1_400_000) * scale, d(3100), d("0.000002"))
    if family == 3:
        return quarlen.PyConcentratedLiquidity(d(40_000) * scale, d("53.85"), d("57.45"), d("55.68"), d("0.997"))
    if family == 4:
        return quarlen.PyBalancerWeightedPool([d(1_000_000) * scale, d(1250) * scale], [d("0.8"), d("0.2")],
                                              d("0.998"))
    if family == 5:
        return quarlen.PyVelodromeStable(d(1_800_000) * scale, d(2_200_000) * scale, d("0.9995"))
    if family == 6:
        bins: list[dict[str, Decimal | int]] = [
            {"bin_id": i, "price": d(3100) - 10 * i, "reserve_x": d(0), "reserve_y": d(60_000) * scale}
            for i in range(12)
        ]
        return quarlen.PyDlmmBook(bins, 0, d("0.998"))
    if family == 7:
        return quarlen.PyCurveCryptoSwap([d(1000) * scale, d(1030) * scale], d(10), d("0.000145"), d("0.9996"))
    return quarlen.PyDodoPmm(d(1000) * scale, d(3_100_000) * scale, d(900) * scale, d(3_410_000) * scale, d(3100),
                             d("0.1"), d("0.997"))


REFERENCE_PRICES = [Decimal(p) for p in ("3010", "0.9995", "3010", "3010", "0.0049", "1.0", "3010", "0.999", "3010")]


def make_jobs(count: int) -> list[Job]:
    """`count` jobs cycling through the nine families, each pool a little
    deeper than the last of its family; every fifth one is capped."""
    jobs: list[Job] = []
    for index in range(count):
        family = index % 9
        scale = 1 + Decimal(index // 9) / 1000
        cap = Decimal(index % 7 + 1) if index % 5 == 0 else None
        jobs.append((make_pool(family, scale), REFERENCE_PRICES[family], cap))
    return jobs


def size_all(jobs: list[Job]) -> list[quarlen.SizingResult | str]:
    """Sizes every job where it runs; a sizing error comes back as its text."""
    results: list[quarlen.SizingResult | str] = []
    for pool, reference_price, cap in jobs:
        try:
            results.append(pool.optimal_size(reference_price, max_size=cap))
        except ValueError as error:
            results.append(str(error))
    return results


def outcome(result: quarlen.SizingResult | str) -> Outcome:
    if isinstance(result, str):
        return (result,)
    return (format(result.optimal_delta, "f"), format(result.expected_profit, "f"), result.guarantee_tier,
            repr(result.guarantee_tier_detail), result.iterations)


def chunks(jobs: list[Job], size: int) -> list[list[Job]]:
    return [jobs[start:start + size] for start in range(0, len(jobs), size)]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--pools", type=int, default=18_000, help="how many pools to size (default 18000)")
    parser.add_argument("--workers", type=int, default=2, help="worker processes of the local cluster")
    parser.add_argument("--chunk", type=int, default=250, help="pools per task")
    arguments = parser.parse_args()

    jobs = make_jobs(arguments.pools)

    started = time.perf_counter()
    local = [outcome(result) for result in size_all(jobs)]
    local_seconds = time.perf_counter() - started

    # Worker processes, not threads: each gets its own interpreter. The
    # cluster listens on the loopback address only.
    with LocalCluster(n_workers=arguments.workers, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster, Client(cluster) as client:
        started = time.perf_counter()
        # Pools travel to the workers pickled, and results come back the same way.
        futures = client.map(size_all, chunks(jobs, arguments.chunk))
        remote = [outcome(result) for batch in client.gather(futures) for result in batch]
        remote_seconds = time.perf_counter() - started

    if remote != local:
        mismatches = sum(1 for a, b in zip(remote, local, strict=True) if a != b)
        raise SystemExit(f"{mismatches} of {len(local)} distributed results differ from the in-process ones")

    sized = sum(1 for item in local if len(item) > 1)
    print(f"{len(jobs)} pools of 9 families: {sized} sized, {len(jobs) - sized} refused with a sizing error")
    print(f"in process: {local_seconds:.2f} s; on {arguments.workers} workers: {remote_seconds:.2f} s")
    print("every distributed result equals the in-process one, digit for digit")


if __name__ == "__main__":
    main()
