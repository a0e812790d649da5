#!/usr/bin/env python3
"""Frames per second of kavet's series mode on structure-I trajectories.

Generates, once, a trajectory of a structure-I supercell disordered step by
step (tools/lattice.py --frames N --disorder 0.3, 0.1 A displacement), runs
`kavet -t` over it and prints a Markdown table of waters, frames, wall time
and frames per second. The disorder makes later frames cost more than a
crystal does, as in a run that melts.
"""
import argparse
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SIZES = {"1e3": ((3, 3, 3), 20), "1e4": ((6, 6, 6), 20), "1e5": ((13, 13, 13), 4)}


def trajectory(workdir, cells, frames):
    tag = "sI-%dx%dx%d" % cells
    path = os.path.join(workdir, "%s-%dframes.gro" % (tag, frames))
    if not os.path.exists(path):
        subprocess.run([sys.executable, os.path.join(ROOT, "tools", "lattice.py"), "--structure", "sI",
                        "--cells"] + [str(c) for c in cells] +
                       ["--displace", "0.1", "--frames", str(frames), "--disorder", "0.3", "--seed", "7",
                        "-o", path], check=True)
    return path, 46 * cells[0] * cells[1] * cells[2]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kavet", default=os.path.join(ROOT, "build", "release", "kavet"))
    parser.add_argument("--workdir", default=os.path.join(ROOT, "build", "bench"))
    parser.add_argument("--sizes", nargs="+", default=list(SIZES), choices=list(SIZES))
    parser.add_argument("--extra", nargs=argparse.REMAINDER, default=[],
                        help="further kavet options: the rest of the command line, so give it last, e.g. --extra -nt 1")
    args = parser.parse_args()
    os.makedirs(args.workdir, exist_ok=True)
    print("| waters | frames | wall s | frames/s |")
    print("|---:|---:|---:|---:|")
    for size in args.sizes:
        cells, frames = SIZES[size]
        traj, waters = trajectory(args.workdir, cells, frames)
        for name in ("series.csv", "series~types.csv"):
            try:
                os.remove(os.path.join(args.workdir, name))
            except FileNotFoundError:
                pass
        start = time.monotonic()
        subprocess.run([args.kavet, "-f", traj, "-t", traj, "-ot", "series.csv"] + args.extra, cwd=args.workdir,
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wall = time.monotonic() - start
        print("| %d | %d | %.2f | %.2f |" % (waters, frames, wall, frames / wall), flush=True)


if __name__ == "__main__":
    main()
