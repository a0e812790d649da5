#!/usr/bin/env python3
"""Test fixtures' converter: a LAMMPS dump (custom; x/xu/xs/xsu; orthogonal or triclinic) or data file -> multi-frame .gro,
independently of kavet. Atoms by id; type OT -> SOL OW (hydrogens HT -> HW1/HW2, put at the
minimum image of their oxygen, found as the next atoms of the same molecule or the next two
atoms), guest types -> CH4 C (one residue per atom). Positions relative to the low corner.
  lmp2gro.py IN OUT.gro --water OT [HT] --guest GT... --dt FS --ndec 3"""
import argparse, math

def cell(lo, hi, tilt):
    lx, ly, lz = (hi[k] - lo[k] for k in range(3))
    xy, xz, yz = tilt
    return [[lx, 0, 0], [xy, ly, 0], [xz, yz, lz]]

def dump_frames(path):
    f = open(path)
    while True:
        line = f.readline()
        if not line:
            return
        if not line.startswith("ITEM: TIMESTEP"):
            continue
        step = int(f.readline()); f.readline(); n = int(f.readline())
        head = f.readline().split()
        tri = "xy" in head
        b = [list(map(float, f.readline().split())) for _ in range(3)]
        if tri:
            xy, xz, yz = b[0][2], b[1][2], b[2][2]
            lo = [b[0][0] - min(0, xy, xz, xy + xz), b[1][0] - min(0, yz), b[2][0]]
            hi = [b[0][1] - max(0, xy, xz, xy + xz), b[1][1] - max(0, yz), b[2][1]]
            tilt = (xy, xz, yz)
        else:
            lo = [r[0] for r in b]; hi = [r[1] for r in b]; tilt = (0, 0, 0)
        cols = f.readline().split()[2:]
        rows = [f.readline().split() for _ in range(n)]
        ci = {c: i for i, c in enumerate(cols)}
        M = cell(lo, hi, tilt)
        atoms = []
        for r in rows:
            if "x" in ci:
                p = [float(r[ci[c]]) - lo[k] for k, c in enumerate("xyz")]
            else:
                s = [float(r[ci[c]]) for c in ("xs", "ys", "zs")]
                p = [sum(s[j] * M[j][k] for j in range(3)) for k in range(3)]
            atoms.append((int(r[ci["id"]]), int(r[ci["type"]]), int(r[ci["mol"]]) if "mol" in ci else 0, p))
        atoms.sort()
        yield step, M, atoms

def data_frame(path):
    L = [l.split("#")[0].split() for l in open(path)]
    lo, hi, tilt, n = [0] * 3, [0] * 3, (0, 0, 0), 0
    style = None
    for i, w in enumerate(L):
        if len(w) == 2 and w[1] == "atoms": n = int(w[0])
        if len(w) == 4 and w[2][1:] == "lo":
            k = "xyz".index(w[2][0]); lo[k], hi[k] = float(w[0]), float(w[1])
        if len(w) == 6 and w[3:] == ["xy", "xz", "yz"]: tilt = tuple(map(float, w[:3]))
        if w[:1] == ["Atoms"]:
            style = open(path).read().splitlines()[i].split("#")[1].split()[0]
            start = i + 1; break
    rows = [w for w in L[start:] if w][:n]
    ti, mi, xi = {"atomic": (1, None, 2), "full": (2, 1, 4), "molecular": (2, 1, 3)}[style]
    atoms = sorted((int(r[0]), int(r[ti]), int(r[mi]) if mi else 0, [float(r[xi + k]) - lo[k] for k in range(3)]) for r in rows)
    yield 0, cell(lo, hi, tilt), atoms

def mi(d, M):
    """The shortest of the images d + i a + j b + k c, i, j, k in -1..1 (enough for a bonded hydrogen)."""
    images = ([d[c] - i * M[0][c] - j * M[1][c] - k * M[2][c] for c in range(3)]
              for i in (-1, 0, 1) for j in (-1, 0, 1) for k in (-1, 0, 1))
    return min(images, key=lambda e: sum(x * x for x in e))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("inp"); ap.add_argument("out")
    ap.add_argument("--water", type=int, nargs="+", required=True)
    ap.add_argument("--guest", type=int, nargs="*", default=[])
    ap.add_argument("--dt", type=float, default=1.0)
    ap.add_argument("--ndec", type=int, default=3)
    a = ap.parse_args()
    frames = data_frame(a.inp) if a.inp.endswith((".data", ".lmp")) else dump_frames(a.inp)
    w = a.ndec + 5
    fmt = "%%5d%%-5s%%5s%%5d%%%d.%df%%%d.%df%%%d.%df\n" % (w, a.ndec, w, a.ndec, w, a.ndec)
    with open(a.out, "w") as out:
        for step, M, atoms in frames:
            lines, res, o, nh = [], 0, None, 0
            for (aid, t, m, p) in atoms:
                if t == a.water[0]:
                    res += 1; o = p; nh = 0; rn, an = "SOL", "OW"
                elif len(a.water) > 1 and t == a.water[1]:
                    d = mi([p[c] - o[c] for c in range(3)], M)
                    p = [o[c] + d[c] for c in range(3)]
                    nh += 1; rn, an = "SOL", "HW%d" % nh
                elif t in a.guest:
                    res += 1; rn, an = "CH4", "C"
                else:
                    res += 1; rn, an = "OTH", "X%d" % t
                lines.append(fmt % (res % 100000, rn, an, (len(lines) + 1) % 100000, *[v / 10 for v in p]))
            out.write("LAMMPS t= %.3f step= %d\n%5d\n" % (step * a.dt / 1000, step, len(lines)))
            out.writelines(lines)
            v = [M[0][0], M[1][1], M[2][2], 0, 0, M[1][0], 0, M[2][0], M[2][1]]
            out.write(" ".join("%.5f" % (x / 10) for x in (v if any(v[3:]) else v[:3])) + "\n")

main()
