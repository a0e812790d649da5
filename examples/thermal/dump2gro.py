#!/usr/bin/env python3
"""Converts a LAMMPS dump (custom: id mol type x y z, orthogonal box, real
units) of make_data.py's system into a multi-frame GROMACS .gro file that
kavet reads: each water as OW, HW1, HW2 (residue SOL), each methane as C
(residue CH4), in nm. Hydrogens are put at the minimum image of their
oxygen, so every molecule is whole.

    python3 dump2gro.py heat.dump heat.gro [--dt 2.0] [--every 1]

--dt is the time step in fs (frame times in the titles are step x dt, in
ps); --every K keeps every K-th frame.
"""
import argparse


def frames(path):
    with open(path) as f:
        while True:
            line = f.readline()
            if not line:
                return
            if not line.startswith("ITEM: TIMESTEP"):
                continue
            step = int(f.readline())
            f.readline()
            n = int(f.readline())
            f.readline()
            bounds = [tuple(map(float, f.readline().split()[:2])) for _ in range(3)]
            cols = f.readline().split()[2:]
            rows = [f.readline().split() for _ in range(n)]
            yield step, bounds, cols, rows


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("dump")
    ap.add_argument("gro")
    ap.add_argument("--dt", type=float, default=2.0)
    ap.add_argument("--every", type=int, default=1)
    a = ap.parse_args()
    with open(a.gro, "w") as out:
        for k, (step, bounds, cols, rows) in enumerate(frames(a.dump)):
            if k % a.every:
                continue
            ci = {c: cols.index(c) for c in ("id", "mol", "type", "x", "y", "z")}
            rows.sort(key=lambda r: int(r[ci["id"]]))
            box = [hi - lo for lo, hi in bounds]
            lines, serial, resid, o = [], 0, 0, None
            for r in rows:
                t = int(r[ci["type"]])
                p = [float(r[ci[c]]) for c in "xyz"]
                if t == 1:
                    resid += 1
                    o, nh, res, name = p, 0, "SOL", "OW"
                elif t == 2:
                    p = [o[i] + (p[i] - o[i]) - box[i] * round((p[i] - o[i]) / box[i])
                         for i in range(3)]
                    nh += 1
                    res, name = "SOL", "HW%d" % nh
                else:
                    resid += 1
                    res, name = "CH4", "C"
                serial += 1
                lines.append("%5d%-5s%5s%5d%8.3f%8.3f%8.3f\n" % (
                    resid % 100000, res, name, serial % 100000,
                    *[(p[i] - bounds[i][0]) / 10 for i in range(3)]))
            out.write("LAMMPS t= %.3f step= %d\n" % (step * a.dt / 1000, step))
            out.write("%5d\n" % len(lines))
            out.writelines(lines)
            out.write("%10.5f%10.5f%10.5f\n" % tuple(b / 10 for b in box))


if __name__ == "__main__":
    main()
