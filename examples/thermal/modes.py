#!/usr/bin/env python3
"""Runs kavet's series on one thermal trajectory in several modes and prints
the figures of docs/thermal-frames.md for each, as a Markdown table row.

    python3 modes.py KAVET TRAJ.gro --kind crystal|liquid|heating [--tol K]
                     [--mode="NAME=OPTIONS" ...] [--out DIR]

Modes (default: the four of the page): default (no option), angle40
(-hb 3.5 40), nohyd (-nohyd), thermal (-thermal). Each run writes
DIR/NAME.csv, DIR/NAME-life.csv and DIR/NAME.out; the guests are residue CH4.

Figures, by kind:
- crystal: frames with at least 63 of the 64 cages closed; closed cages
  that keep one id from the first frame to the last (-olife); the mean guest
  residence (kavet's "Guest residence", over every cage type) as a share of
  the run (its frames times the step between frames);
- liquid: frames with no closed cage, and the largest count;
- heating: the median of closed per 10 ps, and the melting as CHILL+
  (chill_clathrate + chill_interfacial_clathrate of the first mode's run:
  raw frames when it is the default) and the four-coordinated fraction (waters with exactly four other
  oxygens within 3.5 A, raw frames) put it: the first frame from which they
  stay below half their value in the first 10 ps.
"""
import argparse
import csv
import os
import statistics
import subprocess

import numpy as np

MODES = [("default", ""), ("angle40", "-hb 3.5 40"), ("nohyd", "-nohyd"), ("thermal", "-thermal")]


def run(kavet, traj, name, options, tol, out):
    csv_path = os.path.join(out, name + ".csv")
    life = os.path.join(out, name + "-life.csv")
    cmd = [kavet, "-f", traj, "-t", traj, "-ot", csv_path, "-olife", life, "-guest", "CH4", "-tol", str(tol)]
    cmd += options.split()
    text = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    open(os.path.join(out, name + ".out"), "w").write(text)
    rows = list(csv.DictReader(line for line in open(csv_path) if not line.startswith("#")))
    lives = list(csv.DictReader(open(life)))
    return rows, lives, text


def residence(text):
    """Mean residence in ps over every cage type, from kavet's summary."""
    lines = text.split(">>>> Guest residence")[1].splitlines()[2:]
    runs = total = 0.0
    for line in lines:
        parts = line.split()
        if len(parts) < 4 or not parts[-3].isdigit():
            break
        runs += int(parts[-3])
        total += int(parts[-3]) * float(parts[-1])
    return total / runs if runs else 0.0


def four_coordinated(traj):
    """Per frame: the share of waters with exactly four oxygens within 3.5 A."""
    out = []
    with open(traj) as f:
        while True:
            title = f.readline()
            if not title:
                return out
            n = int(f.readline())
            xyz = []
            for _ in range(n):
                line = f.readline()
                if line[10:15].strip() == "OW":
                    xyz.append([float(line[20 + 8 * k:28 + 8 * k]) * 10 for k in range(3)])
            box = np.array([float(x) * 10 for x in f.readline().split()[:3]])
            o = np.array(xyz)
            d = o[:, None, :] - o[None, :, :]
            d -= box * np.round(d / box)
            near = ((d ** 2).sum(-1) < 3.5 ** 2).sum(1) - 1
            out.append(float((near == 4).mean()))


def melting(times, values):
    base = statistics.mean(v for t, v in zip(times, values) if t < times[0] + 10)
    for k in range(len(values)):
        if all(v < 0.5 * base for v in values[k:]):
            return times[k]
    return None


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("kavet")
    ap.add_argument("traj")
    ap.add_argument("--kind", choices=["crystal", "liquid", "heating"], required=True)
    ap.add_argument("--tol", type=int, default=0)
    ap.add_argument("--mode", action="append", metavar="NAME=OPTIONS",
                    help='a mode of your own, e.g. --mode="wide=-thermal -thermal-half 4"')
    ap.add_argument("--out", default=".")
    a = ap.parse_args()
    os.makedirs(a.out, exist_ok=True)
    modes = [tuple(m.split("=", 1)) for m in a.mode] if a.mode else MODES
    chill = None
    for name, options in modes:
        rows, lives, text = run(a.kavet, a.traj, name, options, a.tol, a.out)
        closed = [int(r["closed"]) for r in rows]
        times = [float(r["time_ps"]) for r in rows]
        n = len(rows)
        if chill is None:
            chill = [int(r["chill_clathrate"]) + int(r["chill_interfacial_clathrate"]) for r in rows]
        if a.kind == "crystal":
            step = (times[-1] - times[0]) / (n - 1)
            whole = sum(1 for l in lives if l["closed"] == "1" and l["first_index"] == "0"
                        and int(l["last_index"]) == n - 1)
            share = residence(text) / (n * step)
            print("| %s | %d/%d | %d | %.0f %% | %d–%d |" % (
                name, sum(c >= 63 for c in closed), n, whole, 100 * share, min(closed), max(closed)))
        elif a.kind == "liquid":
            print("| %s | %d/%d | %d | %.1f |" % (
                name, sum(c == 0 for c in closed), n, max(closed), statistics.mean(closed)))
        else:
            medians = []
            t0 = times[0]
            while t0 <= times[-1]:
                block = [c for c, t in zip(closed, times) if t0 <= t < t0 + 10]
                if block:
                    medians.append("%g" % statistics.median(block))
                t0 += 10
            print("| %s | %s |" % (name, " ".join(medians)))
    if a.kind == "heating":
        four = four_coordinated(a.traj)
        print("melting: CHILL+ at %s ps, four-coordinated at %s ps" % (
            melting(times, chill), melting(times, four)))
        print("per 10 ps: CHILL+ clathrate-like waters (median) %s" % " ".join(
            "%g" % statistics.median(chill[k:k + 10]) for k in range(0, len(chill), 10)))
        print("per 10 ps: four-coordinated fraction (median) %s" % " ".join(
            "%.2f" % statistics.median(four[k:k + 10]) for k in range(0, len(four), 10)))


if __name__ == "__main__":
    main()
