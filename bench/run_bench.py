#!/usr/bin/env python3
"""Times whole kavet runs on structure-I supercells of growing size.

Generates each lattice once with tools/lattice.py (0.1 A random displacement,
so nothing is perfectly symmetric), runs kavet on it, and prints a Markdown
table of waters, atoms, rings, cages, the time of every phase as the program
reports it, the total wall time and the peak resident memory. With
--triclinic, each size is built from one displaced unit cell in a rectangular
cell and in a sheared twin of the same crystal, and both are timed.
"""
import argparse
import math
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


def read_gro(path):
    """Molecules (O, H1, H2 in Angstrom, with their atom lines' names) and box of a lattice tool file."""
    with open(path) as f:
        lines = f.read().splitlines()
    count = int(lines[1])
    atoms = [(line[:15], tuple(10.0 * float(line[20 + 8 * k:28 + 8 * k]) for k in range(3)))
             for line in lines[2:2 + count]]
    box = tuple(10.0 * float(x) for x in lines[2 + count].split()[:3])
    return [atoms[i:i + 3] for i in range(0, count, 3)], box


def twins(workdir, cells):
    """A rectangular supercell and its sheared twin, the same crystal in both.

    Both tile one displaced unit cell, so the crystal repeats with the unit
    cell and any cell whose vectors are whole unit-cell translations holds
    it: the twin's cell is a = (nx a0, 0, 0), b = (a0, ny a0, 0), c = (a0, a0,
    nz a0), sheared in xy, xz and yz and of the same volume. The unit cells of
    the rectangular supercell hold every molecule of the twin once, each
    wrapped into the sheared cell with its hydrogens.
    """
    rect = os.path.join(workdir, "sI-tiled-%dx%dx%d.gro" % cells)
    tric = os.path.join(workdir, "sI-sheared-%dx%dx%d.gro" % cells)
    if os.path.exists(rect) and os.path.exists(tric):
        return rect, tric
    unit = os.path.join(workdir, "sI-unit.gro")
    subprocess.run([sys.executable, os.path.join(ROOT, "tools", "lattice.py"), "--structure", "sI", "--cells",
                    "1", "1", "1", "--displace", "0.1", "--seed", "7", "-o", unit], check=True)
    mols, (a0, _, _) = read_gro(unit)
    L = [c * a0 for c in cells]
    for path, shear in ((rect, 0.0), (tric, a0)):
        va, vb, vc = (L[0], 0.0, 0.0), (shear, L[1], 0.0), (shear, shear, L[2])
        lines = []
        for i in range(cells[0]):
            for j in range(cells[1]):
                for k in range(cells[2]):
                    for mol in mols:
                        o = [mol[0][1][0] + i * a0, mol[0][1][1] + j * a0, mol[0][1][2] + k * a0]
                        shift = [0.0, 0.0, 0.0]
                        for v, axis in ((vc, 2), (vb, 1), (va, 0)):
                            m = math.floor((o[axis] + shift[axis]) / L[axis])
                            shift = [shift[d] - m * v[d] for d in range(3)]
                        for name, (x, y, z) in mol:
                            offset = (i * a0 + shift[0], j * a0 + shift[1], k * a0 + shift[2])
                            lines.append((name, (x + offset[0], y + offset[1], z + offset[2])))
        with open(path, "w") as f:
            f.write("sI %dx%dx%d from one displaced cell%s\n%5d\n" % (cells + (", sheared" if shear else "", len(lines))))
            for atom, (name, xyz) in enumerate(lines, start=1):
                f.write("%5d%-5s%5s%5d%8.3f%8.3f%8.3f\n" % (((atom - 1) // 3 + 1) % 100000, "SOL", name[10:15].strip(),
                                                          atom % 100000, xyz[0] / 10, xyz[1] / 10, xyz[2] / 10))
            f.write("%10.5f%10.5f%10.5f%10.5f%10.5f%10.5f%10.5f%10.5f%10.5f\n" % (
                L[0] / 10, L[1] / 10, L[2] / 10, 0.0, 0.0, vb[0] / 10, 0.0, vc[0] / 10, vc[1] / 10))
    return rect, tric


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
            paths = twins(args.workdir, SIZES[size])
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
