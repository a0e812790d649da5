#!/usr/bin/env python3
"""Times whole kavet runs on structure-I supercells of growing size.

Generates each lattice once with tools/lattice.py (0.1 A random displacement,
so nothing is perfectly symmetric), runs kavet on it, and prints a Markdown
table of waters, atoms, rings, cages, the time of every phase as the program
reports it, the total wall time and the peak resident memory. With
--triclinic, each size is timed in its rectangular cell and in a twin cell
sheared along xy, xz and yz (the lattice tool's --shear), the same crystal.
"""
import argparse
import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SIZES = {"1e3": (3, 3, 3), "1e4": (6, 6, 6), "1e5": (13, 13, 13), "4e5": (21, 21, 20), "1e6": (28, 28, 28)}
PHASES = [("search", "Find all Rings"), ("fit", "Fit Ring to Plane"), ("near", "Neighbor all Rings"),
          ("occlusion", "Determin Ring Occulasion"), ("assembly", "Conect Rings to Cage"),
          ("dedup", "Deduplicate Cages")]


def lattice(workdir, cells, sheared=False):
    """The supercell, or (sheared) the same crystal in a cell sheared along xy, xz and yz."""
    path = os.path.join(workdir, "sI-%dx%dx%d%s.gro" % (cells + ("-sheared" if sheared else "",)))
    if not os.path.exists(path):
        subprocess.run([sys.executable, os.path.join(ROOT, "tools", "lattice.py"), "--structure", "sI",
                        "--cells"] + [str(c) for c in cells] + ["--displace", "0.1", "--seed", "7", "-o", path] +
                       (["--shear", "xy", "xz", "yz"] if sheared else []), check=True)
    return path


def run(kavet, gro, workdir):
    for name in ("ring.pdb", "cage.pdb", "cage.dat"):
        try:
            os.remove(os.path.join(workdir, name))
        except FileNotFoundError:
            pass
    report = os.path.join(workdir, "report.txt")
    start = time.monotonic()
    with open(report, "w") as sink:
        proc = subprocess.Popen([kavet, "-f", gro, "-or", "ring.pdb", "-oc", "cage.pdb", "-od", "cage.dat"],
                                cwd=workdir, stdout=sink, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    if status != 0:
        sys.exit("kavet failed on %s" % gro)
    with open(report) as f:
        out = f.read()
    row = {"wall": wall, "cpu": usage.ru_utime + usage.ru_stime, "peak": usage.ru_maxrss}  # KiB
    row["waters"] = int(re.search(r"     OW:       (\d+)", out).group(1))
    row["atoms"] = int(re.search(r"     numAtom:  (\d+)", out).group(1))
    rings = re.findall(r"     Ring: (\d+)", out)
    row["rings"] = int(rings[-1])
    cages = re.findall(r"     Cages: (\d+)", out)
    row["cages"] = int(cages[-1]) if cages else 0
    for key, label in PHASES:
        m = re.search(re.escape(label) + r".*?Time\(s\): ([0-9.e+-]+)", out)
        row[key] = float(m.group(1)) if m else float("nan")
    return row


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kavet", default=os.path.join(ROOT, "build", "release", "kavet"))
    parser.add_argument("--workdir", default=os.path.join(ROOT, "build", "bench"))
    parser.add_argument("--sizes", nargs="+", default=list(SIZES), choices=list(SIZES))
    parser.add_argument("--triclinic", action="store_true",
                        help="time each size in a rectangular cell and in its sheared (triclinic) twin")
    parser.add_argument("--repeat", type=int, default=1,
                        help="with --triclinic: runs of each, the one with the least processor time kept")
    args = parser.parse_args()
    os.makedirs(args.workdir, exist_ok=True)
    if args.triclinic:
        # Interleaved, best of --repeat runs each: the machine is shared, so
        # processor time (user + system, whole run) is given beside wall time.
        print("| waters | cell | rings | cages | rings s | fit s | near s | occlusion s | wall s | cpu s | peak MiB "
              "| cpu / rectangular |")
        print("|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
        for size in args.sizes:
            paths = lattice(args.workdir, SIZES[size]), lattice(args.workdir, SIZES[size], sheared=True)
            best = [None, None]
            for _ in range(args.repeat):
                for k, gro in enumerate(paths):
                    r = run(args.kavet, gro, args.workdir)
                    if best[k] is None or r["cpu"] < best[k]["cpu"]:
                        best[k] = r
            for cell, r in zip(("rectangular", "triclinic"), best):
                print("| %d | %s | %d | %d | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.0f | %.2f |" % (
                    r["waters"], cell, r["rings"], r["cages"], r["search"], r["fit"], r["near"], r["occlusion"],
                    r["wall"], r["cpu"], r["peak"] / 1024, r["cpu"] / best[0]["cpu"]), flush=True)
        return
    print("| waters | atoms | rings | cages | rings s | fit s | near s | occlusion s | assembly s | dedup s "
          "| wall s | peak MiB | KiB/water |")
    print("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for size in args.sizes:
        gro = lattice(args.workdir, SIZES[size])
        r = run(args.kavet, gro, args.workdir)
        peak = r["peak"]
        print("| %d | %d | %d | %d | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %s | %s |" % (
            r["waters"], r["atoms"], r["rings"], r["cages"], r["search"], r["fit"], r["near"], r["occlusion"],
            r["assembly"], r["dedup"], r["wall"], "%.0f" % (peak / 1024), "%.2f" % (peak / r["waters"])), flush=True)


if __name__ == "__main__":
    main()
