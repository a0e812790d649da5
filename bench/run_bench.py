#!/usr/bin/env python3
"""Times whole kavet runs on structure-I supercells of growing size.

Generates each lattice once with tools/lattice.py (0.1 A random displacement,
so nothing is perfectly symmetric), runs kavet on it, and prints a Markdown
table of waters, atoms, rings, cages, the time of every phase as the program
reports it, the total wall time and the peak resident memory.
"""
import argparse
import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SIZES = {"1e3": (3, 3, 3), "1e4": (6, 6, 6), "1e5": (13, 13, 13), "4e5": (21, 21, 20)}
PHASES = [("search", "Find all Rings"), ("fit", "Fit Ring to Plane"), ("near", "Neighbor all Rings"),
          ("occlusion", "Determin Ring Occulasion"), ("assembly", "Conect Rings to Cage"),
          ("dedup", "Deduplicate Cages")]


def lattice(workdir, cells):
    path = os.path.join(workdir, "sI-%dx%dx%d.gro" % cells)
    if not os.path.exists(path):
        subprocess.run([sys.executable, os.path.join(ROOT, "tools", "lattice.py"), "--structure", "sI",
                        "--cells"] + [str(c) for c in cells] + ["--displace", "0.1", "--seed", "7", "-o", path],
                       check=True)
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
    row = {"wall": wall, "peak": usage.ru_maxrss}  # KiB
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
    args = parser.parse_args()
    os.makedirs(args.workdir, exist_ok=True)
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
