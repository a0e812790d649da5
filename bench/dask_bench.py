#!/usr/bin/env python3
"""Wall time of kavet.dask.series on a LocalCluster of 2 worker processes of one thread each,
against kavet.series in one process on one thread (nt=1).

The input is the 20-frame structure-I trajectory of about 10^4 waters that
`bench/series_bench.py --sizes 1e4` writes (build/bench/sI-6x6x6-20frames.gro),
made here when missing; --trajectory takes another (an .xtc of it, say), with
--structure its first frame. Each repetition starts a fresh cluster before the
clock starts: the timing covers the series call alone, not the start of the
workers, but does include the workers' first import of kavet. The one-process
and the Dask runs alternate, and every Dask table is checked to equal the
one-process table. Prints a Markdown table, one row per repetition with the
one-minute load average before it, then the best and the median ratio.

The machine may be shared: beside the wall times, the table gives the CPU
seconds of the one-process run and of each Dask worker process over the
series call. The busier worker's CPU time over the one-process CPU time is
the ratio the wall times would show with a free core for each process.
Run it with Debian's /usr/bin/python3 and kavet on PYTHONPATH (build/release/python)
or installed (make python).
"""
import argparse
import os
import resource
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--structure")
    parser.add_argument("--trajectory")
    parser.add_argument("--workdir", default=os.path.join(ROOT, "build", "bench"))
    parser.add_argument("--runs", type=int, default=3, help="repetitions (default 3)")
    parser.add_argument("--blocks", type=int, default=None, help="kavet.dask.series's blocks= (default its own)")
    args = parser.parse_args()

    import pandas as pd
    from distributed import Client, LocalCluster

    import kavet
    import kavet.dask

    traj = args.trajectory
    if traj is None:
        traj = os.path.join(args.workdir, "sI-6x6x6-20frames.gro")
        if not os.path.exists(traj):
            subprocess.run([sys.executable, os.path.join(ROOT, "bench", "series_bench.py"), "--sizes", "1e4",
                            "--workdir", args.workdir], check=True, stdout=subprocess.DEVNULL)
    structure = args.structure or traj

    print("| run | load (1 min) | one process nt=1, s | Dask 2x1, s | ratio | one process CPU s | "
          "worker CPU s | CPU ratio |")
    print("|---:|---:|---:|---:|---:|---:|---:|---:|")
    ratios, cpu_ratios = [], []
    for run in range(1, args.runs + 1):
        load = os.getloadavg()[0]
        start, cpu = time.monotonic(), _cpu()
        one = kavet.series(structure, traj, nt=1)
        single, single_cpu = time.monotonic() - start, _cpu() - cpu
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                          dashboard_address=None) as cluster, Client(cluster) as client:
            client.wait_for_workers(2)
            before = client.run(_cpu)
            start = time.monotonic()
            table = kavet.dask.series(structure, traj, client, blocks=args.blocks)
            spread = time.monotonic() - start
            after = client.run(_cpu)
        pd.testing.assert_frame_equal(table, one)
        workers = sorted(after[w] - before[w] for w in after)
        ratios.append(spread / single)
        cpu_ratios.append(workers[-1] / single_cpu)
        print(f"| {run} | {load:.2f} | {single:.2f} | {spread:.2f} | {spread / single:.3f} | {single_cpu:.2f} | "
              f"{', '.join(f'{w:.2f}' for w in workers)} | {cpu_ratios[-1]:.3f} |", flush=True)
    print(f"\nwall ratio: best {min(ratios):.3f}, median {statistics.median(ratios):.3f}; "
          f"CPU ratio: best {min(cpu_ratios):.3f}, median {statistics.median(cpu_ratios):.3f} "
          f"({len(ratios)} runs; rows equal to one process in every run)")


def _cpu():
    """CPU seconds (user and system) of this process so far."""
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


if __name__ == "__main__":
    main()
