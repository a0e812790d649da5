#!/usr/bin/env python3
"""The benchmark table of `make bench`: one line per figure, with the machine.

Single frames of structure-I supercells (tools/lattice.py, 0.1 A random
displacement) of about 10^4, 10^5 and 10^6 waters, timed whole (reading,
analysis and the three output files) with their peak resident memory; the
10^6 frame also as a one-frame series; and series mode on the 20-frame
trajectory of 9 936 waters of bench/series_bench.py, on one and on two
threads. Below it, the floor of a series frame: the wall time per frame of
reading the trajectory and building each frame's O-O neighbour list alone
(bench/floor_bench.cpp), against a series frame's, at 10^4 and 10^5 waters
on two threads. Wall time is what a user waits; processor time (user + system, all
threads) is given beside it, since other work may share the machine. With
--repeat N every run is made N times, interleaved, and the one with the
least wall time is kept.
"""
import argparse
import datetime
import os
import platform
import subprocess
import sys
import time

import run_bench
import series_bench

ROOT = run_bench.ROOT


def machine():
    model = "unknown processor"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    memory = ""
    try:
        with open("/proc/meminfo") as f:
            kib = int(f.readline().split()[1])
            memory = ", %.0f GiB" % (kib / 2 ** 20)
    except (OSError, ValueError, IndexError):
        pass
    return "%s, %d cores%s, %s %s" % (model, os.cpu_count() or 0, memory, platform.system(), platform.release())


def timed(argv, cwd):
    """Wall seconds, processor seconds and peak resident KiB of one run, in a
    folder cleared of the previous run's outputs (the single-frame files are
    appended to, and an existing series file is kept as a backup)."""
    for name in os.listdir(cwd):
        if name in ("ring.pdb", "cage.pdb", "cage.dat", "series.csv", "series~types.csv") or (
                name.startswith("#series") and name.endswith("#")):
            os.remove(os.path.join(cwd, name))
    start = time.monotonic()
    with open(os.devnull, "w") as sink:
        proc = subprocess.Popen(argv, cwd=cwd, stdout=sink, stderr=sink)
        _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    if status != 0:
        sys.exit("failed: " + " ".join(argv))
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def best(runs):
    return min(runs, key=lambda r: r[0])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kavet", default=os.path.join(ROOT, "build", "release", "kavet"))
    parser.add_argument("--workdir", default=os.path.join(ROOT, "build", "bench"))
    parser.add_argument("--sizes", nargs="+", default=["1e4", "1e5", "1e6"], choices=list(run_bench.SIZES))
    parser.add_argument("--repeat", type=int, default=1)
    parser.add_argument("--floor-bench", default=os.path.join(ROOT, "build", "release", "floor_bench"),
                        help="the program that times reading and the neighbour list alone; the floor table is left "
                             "out when it is missing")
    args = parser.parse_args()
    os.makedirs(args.workdir, exist_ok=True)
    kavet = os.path.abspath(args.kavet)

    # Every input first, so that generating them is not timed.
    frames = {size: run_bench.lattice(args.workdir, run_bench.SIZES[size]) for size in args.sizes}
    cells, count = series_bench.SIZES["1e4"]
    traj, waters = series_bench.trajectory(args.workdir, cells, count)
    floor_bench = os.path.abspath(args.floor_bench)
    floors = {}  # waters -> (trajectory, frames)
    if os.path.exists(floor_bench):
        floors[waters] = (traj, count)
        if "1e5" in args.sizes:
            big_cells, big_count = series_bench.SIZES["1e5"]
            big_traj, big_waters = series_bench.trajectory(args.workdir, big_cells, big_count)
            floors[big_waters] = (big_traj, big_count)

    def single(gro, threads):
        return [kavet, "-f", gro, "-or", "ring.pdb", "-oc", "cage.pdb", "-od", "cage.dat", "-nt", str(threads)]

    def series(gro, trajectory, threads):
        return [kavet, "-f", gro, "-t", trajectory, "-ot", "series.csv", "-nt", str(threads)]

    plan = []  # (label, waters, threads, frames, argv)
    for size in args.sizes:
        gro = frames[size]
        n = 46 * run_bench.SIZES[size][0] * run_bench.SIZES[size][1] * run_bench.SIZES[size][2]
        if size == "1e5":
            plan.append(("single frame", n, 1, 1, single(gro, 1)))
        plan.append(("single frame", n, 2, 1, single(gro, 2)))
        if size == "1e6":
            plan.append(("one-frame series", n, 2, 1, series(gro, gro, 2)))
    plan.append(("series", waters, 1, count, series(traj, traj, 1)))
    plan.append(("series", waters, 2, count, series(traj, traj, 2)))
    for n, (path, frames_in) in floors.items():
        if n != waters:
            plan.append(("series", n, 2, frames_in, series(path, path, 2)))
    floor_runs = {n: [] for n in floors}

    results = [[] for _ in plan]
    for _ in range(args.repeat):
        for k, (_, _, _, _, argv) in enumerate(plan):
            results[k].append(timed(argv, args.workdir))
        for n, (path, _) in floors.items():
            out = subprocess.run([floor_bench, path, path, "2"], check=True, capture_output=True, text=True).stdout
            frames_read, read_s, list_s, _ = out.split()
            floor_runs[n].append((float(read_s) + float(list_s), float(read_s), float(list_s), int(frames_read)))

    print("kavet benchmark, %s" % datetime.date.today().isoformat())
    print("machine: %s" % machine())
    print("command: python3 bench/summary.py %s(make bench); best of %d run(s)" %
          ("--sizes %s " % " ".join(args.sizes), args.repeat))
    print()
    print("| run | waters | frames | threads | wall s | processor s | frames/s | peak MiB | KiB/water |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    for (label, n, threads, count, _), runs in zip(plan, results):
        wall, cpu, peak = best(runs)
        rate = "%.2f" % (count / wall) if label == "series" else ""
        print("| %s | %d | %d | %d | %.2f | %.2f | %s | %.0f | %.2f |" %
              (label, n, count, threads, wall, cpu, rate, peak / 1024, peak / n), flush=True)
    # Speed-up of two threads over one, where both were run.
    for label in ("single frame", "series"):
        walls = {p[2]: best(r)[0] for p, r in zip(plan, results) if p[0] == label and
                 (p[1] == waters if label == "series" else 50000 < p[1] < 500000)}
        if 1 in walls and 2 in walls:
            print("\nspeed-up on 2 threads, %s%s: %.2fx" %
                  (label, " at 10^5 waters" if label == "single frame" else " at 10^4 waters",
                   walls[1] / walls[2]))
    if floors:
        print("\nfloor of a series frame on 2 threads (reading + O-O neighbour list alone, bench/floor_bench.cpp):")
        print()
        print("| waters | series ms/frame | reading ms/frame | neighbour list ms/frame | floor ms/frame | series / floor |")
        print("|---:|---:|---:|---:|---:|---:|")
        for n in sorted(floors):
            walls = [best(r)[0] / p[3] for p, r in zip(plan, results) if p[0] == "series" and p[1] == n and p[2] == 2]
            total, read_s, list_s, frames_read = min(floor_runs[n])
            floor = total / frames_read
            print("| %d | %.1f | %.1f | %.1f | %.1f | %.1f |" %
                  (n, 1e3 * walls[0], 1e3 * read_s / frames_read, 1e3 * list_s / frames_read, 1e3 * floor,
                   walls[0] / floor), flush=True)


if __name__ == "__main__":
    main()
