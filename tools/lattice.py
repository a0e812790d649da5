#!/usr/bin/env python3
"""Generate ideal water lattices (sI clathrate hydrate, hexagonal ice Ih) as .gro files.

Oxygens are placed on crystallographic sites, the four-connected hydrogen-bond
network is built with periodic boundaries, and protons are placed so that the
Bernal-Fowler ice rules hold: every oxygen donates two and accepts two
hydrogen bonds and every O-O bond carries exactly one proton.  The proton
arrangement comes from an Euler circuit of the network (all degrees are 4, so
walking an Euler circuit enters and leaves every vertex exactly twice).

Only the Python 3 standard library is used.
"""

import argparse
import math
import random
import sys

OH_BOND = 0.96          # O-H distance, Angstrom
NEIGHBOUR_MIN = 2.6     # O...O hydrogen-bond window, Angstrom
NEIGHBOUR_MAX = 3.1

# --- structure I hydrate ------------------------------------------------------
#
# Space group Pm-3n (No. 223), origin at the centre m-3.  Oxygen sites of the
# host lattice as refined for ethylene oxide hydrate by
#   R. K. McMullan and G. A. Jeffrey, "Polyhedral clathrate hydrates. IX.
#   Structure of ethylene oxide hydrate", J. Chem. Phys. 42, 2725 (1965):
#     6c  (1/4, 0, 1/2)
#     16i (x, x, x)      x = 0.1837
#     24k (0, y, z)      y = 0.3093, z = 0.1172
# 6 + 16 + 24 = 46 waters per cubic cell.  The default lattice constant of
# 12.0 A is a round value typical of sI hydrates (11.9-12.1 A).
SI_SITES = [
    (0.25, 0.0, 0.5),
    (0.1837, 0.1837, 0.1837),
    (0.0, 0.3093, 0.1172),
]
SI_A = 12.0

# --- hexagonal ice Ih ---------------------------------------------------------
#
# Space group P6_3/mmc, oxygens on Wyckoff 4f (1/3, 2/3, z) with the ideal
# tetrahedral value z = 1/16, i.e. the oxygen framework of the Pauling /
# Bernal-Fowler model as given in standard texts (V. F. Petrenko and
# R. W. Whitworth, Physics of Ice, OUP 1999, ch. 2; the neutron study of
# S. W. Peterson and H. A. Levy, Acta Cryst. 10, 70 (1957) places the
# oxygens close to these positions).  Lattice constants a = 4.52 A,
# c = 7.36 A are round values near those measured just below the melting
# point (c/a = 1.628, the ideal tetrahedral ratio being 1.633).
ICE_Z = 1.0 / 16.0
ICE_HEX_SITES = [
    (1.0 / 3.0, 2.0 / 3.0, ICE_Z),
    (2.0 / 3.0, 1.0 / 3.0, ICE_Z + 0.5),
    (2.0 / 3.0, 1.0 / 3.0, -ICE_Z),
    (1.0 / 3.0, 2.0 / 3.0, 0.5 - ICE_Z),
]
ICE_A = 4.52
ICE_C = 7.36


def pm3n_operations():
    """The 48 operations of Pm-3n as (permutation, signs, translation).

    Even (cyclic) permutations with all sign changes form m-3; the odd
    permutations carry the n-glide / 4_2 translation (1/2, 1/2, 1/2).
    """
    perms = [((0, 1, 2), 0.0), ((1, 2, 0), 0.0), ((2, 0, 1), 0.0),
             ((1, 0, 2), 0.5), ((0, 2, 1), 0.5), ((2, 1, 0), 0.5)]
    ops = []
    for perm, t in perms:
        for sx in (1, -1):
            for sy in (1, -1):
                for sz in (1, -1):
                    ops.append((perm, (sx, sy, sz), t))
    return ops


def wrap_unit(v):
    v = round(v, 6) % 1.0
    return 0.0 if v >= 1.0 - 1e-9 else v


def expand_orbits(sites, ops):
    """Fractional positions of all symmetry copies of `sites`, deduplicated."""
    seen = set()
    out = []
    for site in sites:
        for perm, signs, t in ops:
            p = tuple(wrap_unit(signs[k] * site[perm[k]] + t) for k in range(3))
            if p not in seen:
                seen.add(p)
                out.append(p)
    return out


def si_cell(a=SI_A):
    """Oxygen positions (Angstrom) and box of one sI cell."""
    frac = expand_orbits(SI_SITES, pm3n_operations())
    return [tuple(a * f for f in p) for p in frac], (a, a, a)


def ice_cell(a=ICE_A, c=ICE_C):
    """Oxygen positions (Angstrom) of ice Ih in the orthorhombic a x sqrt(3)a x c cell.

    The rectangular cell spanned by a1 and a1 + 2 a2 is C-centred, so it holds
    the four hexagonal sites plus their copies shifted by (a/2, sqrt(3)a/2, 0).
    """
    box = (a, math.sqrt(3.0) * a, c)
    pos = []
    for u, v, w in ICE_HEX_SITES:
        x = a * (u - 0.5 * v)
        y = a * v * math.sqrt(3.0) / 2.0
        z = c * (w % 1.0)
        for sx, sy in ((0.0, 0.0), (0.5 * a, 0.5 * box[1])):
            pos.append((wrap(x + sx, box[0]), wrap(y + sy, box[1]), z))
    return pos, box


def wrap(x, length):
    x %= length
    return 0.0 if x >= length else x


def supercell(cell, box, cells):
    pos = []
    for i in range(cells[0]):
        for j in range(cells[1]):
            for k in range(cells[2]):
                for x, y, z in cell:
                    pos.append((x + i * box[0], y + j * box[1], z + k * box[2]))
    return pos, tuple(box[d] * cells[d] for d in range(3))


def bonds(pos, box, rmin=NEIGHBOUR_MIN, rmax=NEIGHBOUR_MAX):
    """Hydrogen bonds as (i, j, vector from i to j), i < j, ordered by (i, j).

    Boxes wider than two bond lengths use a cell list and the minimum image.
    Thinner boxes (one ice cell along x is only 4.52 A) enumerate periodic
    images explicitly, so that two molecules may be bonded through two images.
    """
    if min(box) > 2.0 * rmax:
        return bonds_cell_list(pos, box, rmin, rmax)
    reach = [int(math.ceil(rmax / box[d])) for d in range(3)]
    shifts = [(a * box[0], b * box[1], c * box[2])
              for a in range(-reach[0], reach[0] + 1)
              for b in range(-reach[1], reach[1] + 1)
              for c in range(-reach[2], reach[2] + 1)]
    out = []
    n = len(pos)
    for i in range(n):
        pi = pos[i]
        for j in range(i + 1, n):
            pj = pos[j]
            d0 = (pj[0] - pi[0], pj[1] - pi[1], pj[2] - pi[2])
            # Only images near the minimum image can be within rmax.
            base = [d0[k] - box[k] * round(d0[k] / box[k]) for k in range(3)]
            for s in shifts:
                d = (base[0] + s[0], base[1] + s[1], base[2] + s[2])
                r2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2]
                if rmin * rmin <= r2 <= rmax * rmax:
                    out.append((i, j, d))
    return out


def bonds_cell_list(pos, box, rmin, rmax):
    """The same bonds for a box wider than 2 rmax: binned positions, minimum image."""
    ncell = [max(1, int(box[d] // rmax)) for d in range(3)]
    cells = {}
    for i, p in enumerate(pos):
        key = tuple(int(wrap(p[d], box[d]) / box[d] * ncell[d]) % ncell[d] for d in range(3))
        cells.setdefault(key, []).append(i)
    offsets = sorted({tuple((o[d]) for d in range(3))
                      for o in ((a, b, c) for a in (-1, 0, 1) for b in (-1, 0, 1) for c in (-1, 0, 1))})
    out = []
    for i, pi in enumerate(pos):
        key = tuple(int(wrap(pi[d], box[d]) / box[d] * ncell[d]) % ncell[d] for d in range(3))
        near = set()
        for o in offsets:
            near.update(cells.get(tuple((key[d] + o[d]) % ncell[d] for d in range(3)), ()))
        for j in sorted(near):
            if j <= i:
                continue
            pj = pos[j]
            d0 = (pj[0] - pi[0], pj[1] - pi[1], pj[2] - pi[2])
            d = tuple(d0[k] - box[k] * round(d0[k] / box[k]) for k in range(3))
            r2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2]
            if rmin * rmin <= r2 <= rmax * rmax:
                out.append((i, j, d))
    return out


def orient_euler(n, edges, rng):
    """Orient every edge so that each vertex has in = out = 2.

    Hierholzer's algorithm on the (multi)graph with a random edge order; the
    direction in which an edge is walked is its donor -> acceptor direction.
    Returns, per vertex, the list of donated bond vectors in walking order.
    """
    adj = [[] for _ in range(n)]
    for e, (i, j, _) in enumerate(edges):
        adj[i].append(e)
        adj[j].append(e)
    for k, lst in enumerate(adj):
        if len(lst) != 4:
            raise SystemExit("oxygen %d has %d neighbours, expected 4" % (k + 1, len(lst)))
        rng.shuffle(lst)
    used = [False] * len(edges)
    ptr = [0] * n
    donated = [[] for _ in range(n)]
    for start in range(n):
        stack = [start]
        while stack:
            v = stack[-1]
            while ptr[v] < len(adj[v]) and used[adj[v][ptr[v]]]:
                ptr[v] += 1
            if ptr[v] == len(adj[v]):
                stack.pop()
                continue
            e = adj[v][ptr[v]]
            used[e] = True
            i, j, d = edges[e]
            if v == i:
                donated[i].append(d)
                stack.append(j)
            else:
                donated[j].append((-d[0], -d[1], -d[2]))
                stack.append(i)
    return donated


def build(structure, cells, displace=0.0, shuffle=False, seed=1):
    """Return (molecules, box); each molecule is (O, H1, H2) in Angstrom."""
    rng = random.Random(seed)
    cell, box = si_cell() if structure == "sI" else ice_cell()
    pos, box = supercell(cell, box, cells)
    donated = orient_euler(len(pos), bonds(pos, box), rng)
    mols = []
    for o, dons in zip(pos, donated):
        if displace > 0.0:
            o = tuple(o[k] + rng.gauss(0.0, displace) for k in range(3))
        o = tuple(wrap(o[k], box[k]) for k in range(3))
        mol = [o]
        for d in dons:
            s = OH_BOND / math.sqrt(d[0] ** 2 + d[1] ** 2 + d[2] ** 2)
            mol.append(tuple(o[k] + s * d[k] for k in range(3)))
        mols.append(tuple(mol))
    if shuffle:
        rng.shuffle(mols)
    return mols, box


def gro_atom_line(resnr, resname, atomname, atomnr, xyz_nm):
    """One atom line in GROMACS .gro format (numbers wrap at 100000)."""
    return "%5d%-5s%5s%5d%8.3f%8.3f%8.3f" % (
        resnr % 100000, resname, atomname, atomnr % 100000,
        xyz_nm[0], xyz_nm[1], xyz_nm[2])


def format_gro(title, mols, box):
    lines = [title, "%5d" % (3 * len(mols))]
    atom = 0
    for res, mol in enumerate(mols, start=1):
        for name, xyz in zip(("OW", "HW1", "HW2"), mol):
            atom += 1
            lines.append(gro_atom_line(res, "SOL", name, atom,
                                       tuple(c / 10.0 for c in xyz)))
    lines.append("%10.5f%10.5f%10.5f" % tuple(b / 10.0 for b in box))
    return "\n".join(lines) + "\n"


def main(argv=None):
    p = argparse.ArgumentParser(
        description="Write an ideal water lattice (sI hydrate or ice Ih) with "
                    "ice-rule hydrogens as a GROMACS .gro file.")
    p.add_argument("--structure", choices=("sI", "ice"), default="sI",
                   help="sI: structure I clathrate hydrate, 46 waters/cell, a = 12.0 A; "
                        "ice: hexagonal ice Ih, orthorhombic cell of 8 waters "
                        "(a = 4.52, b = sqrt(3)a, c = 7.36 A) (default: sI)")
    p.add_argument("--cells", type=int, nargs=3, default=(1, 1, 1),
                   metavar=("NX", "NY", "NZ"), help="supercell size (default: 1 1 1)")
    p.add_argument("--displace", type=float, default=0.0, metavar="SIGMA",
                   help="Gaussian displacement of whole molecules, std. dev. "
                        "per axis in Angstrom (default: 0)")
    p.add_argument("--shuffle", action="store_true",
                   help="write the molecules in random order")
    p.add_argument("--seed", type=int, default=1,
                   help="random seed for protons, displacement and order (default: 1)")
    p.add_argument("-o", "--output", metavar="FILE",
                   help="output file (default: standard output)")
    args = p.parse_args(argv)
    if min(args.cells) < 1:
        p.error("--cells values must be positive")
    if args.displace < 0.0:
        p.error("--displace must be non-negative")

    mols, box = build(args.structure, tuple(args.cells), args.displace,
                      args.shuffle, args.seed)
    name = "sI hydrate" if args.structure == "sI" else "ice Ih"
    title = "%s %dx%dx%d generated by kavet lattice tool" % ((name,) + tuple(args.cells))
    text = format_gro(title, mols, box)
    if args.output:
        with open(args.output, "w") as f:
            f.write(text)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()
