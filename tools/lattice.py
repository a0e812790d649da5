#!/usr/bin/env python3
"""Generate ideal water lattices (sI, sII and sH clathrate hydrates, hexagonal
ice Ih, cubic ice Ic) as .gro files, optionally with guests, in sheared
(triclinic) cells, as oxygens only (one-site water) and as a multi-frame
trajectory of growing disorder.

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

# --- cubic ice Ic ---------------------------------------------------------------
#
# Space group Fd-3m, oxygens on Wyckoff 8a: the diamond lattice, a face-centred
# cubic lattice with a second copy shifted by (1/4, 1/4, 1/4) (W. F. Kuhs,
# D. V. Bliss and J. L. Finney, J. Phys. Colloq. 48, C1-631 (1987)).  8 waters
# per cubic cell.  a = 6.36 A is a round value near the measured 6.35-6.36 A;
# it gives an O-O distance of sqrt(3)a/4 = 2.754 A.
ICE_IC_SITES = [tuple((f[k] + o) % 1.0 for k in range(3))
                for o in (0.0, 0.25)
                for f in ((0.0, 0.0, 0.0), (0.0, 0.5, 0.5), (0.5, 0.0, 0.5), (0.5, 0.5, 0.0))]
ICE_IC_A = 6.36

# --- cages and the dual construction ------------------------------------------
#
# The clathrate frameworks are the duals of the tetrahedrally close-packed
# arrangements of their cage centres (the Frank-Kasper A15 and C15 structures
# for sI and sII; F. C. Frank and J. S. Kasper, Acta Cryst. 11, 184 (1958) and
# 12, 483 (1959)): the Delaunay tetrahedralization of the cage centres has one
# tetrahedron per water, a water oxygen sits inside each tetrahedron, two
# waters are hydrogen-bonded when their tetrahedra share a face, and the faces
# of a cage are the rings of waters around the Delaunay edges leaving its
# centre (an edge with n tetrahedra around it gives an n-membered ring).  sII
# and sH are built this way (dual_framework below): oxygens start at the
# centroids of the tetrahedra and are then relaxed towards equal O-O distances
# and tetrahedral angles.  sI keeps the refined sites above.  As a check of
# the construction, the relaxed dual of the sI cage centres (A15) reproduces
# those sites to within 0.04 A, and the dual of the sII centres (C15) puts the
# oxygens on 8a, 32e (x = 0.217) and 96g of Fd-3m, the three sites of the sII
# host lattice (C. W. Mak and R. K. McMullan, J. Chem. Phys. 42, 2732 (1965)).
#
# Cage centres are given in fractional coordinates of the crystallographic
# cell.  Cage names are those kavet prints.
SMALL = "5^12"
SI_LARGE = "5^12-6^2"
SII_LARGE = "5^12-6^4"
SH_MEDIUM = "4^3-5^6-6^3"
SH_LARGE = "5^12-6^8"

# sI, Pm-3n: 5^12 on 2a, 5^12-6^2 on 6d (the A15 arrangement, "Cr3Si").
SI_CAGES = [(SMALL, (0.0, 0.0, 0.0)), (SMALL, (0.5, 0.5, 0.5))] + [
    (SI_LARGE, p) for p in ((0.25, 0.5, 0.0), (0.75, 0.5, 0.0), (0.0, 0.25, 0.5),
                            (0.0, 0.75, 0.5), (0.5, 0.0, 0.25), (0.5, 0.0, 0.75))]

# sII, Fd-3m origin choice 2: 5^12 on 16c, 5^12-6^4 on 8b (the C15 Laves
# arrangement, "MgCu2": the large cages form a diamond lattice, the small ones
# the corner-sharing tetrahedra between them).  a = 17.3 A is a round value
# typical of sII hydrates (17.1-17.4 A).  136 waters per cell.
_FCC = ((0.0, 0.0, 0.0), (0.0, 0.5, 0.5), (0.5, 0.0, 0.5), (0.5, 0.5, 0.0))
SII_CAGES = [(SMALL, tuple((f[k] + o[k]) % 1.0 for k in range(3)))
             for f in _FCC for o in ((0.0, 0.0, 0.0), (0.0, 0.25, 0.25),
                                     (0.25, 0.0, 0.25), (0.25, 0.25, 0.0))] + [
            (SII_LARGE, tuple((f[k] + o[k]) % 1.0 for k in range(3)))
            for f in _FCC for o in ((0.375, 0.375, 0.375), (0.625, 0.625, 0.625))]
SII_A = 17.3

# sH (J. A. Ripmeester et al., Nature 325, 135 (1987)), P6/mmm, hexagonal
# axes a1 = (a, 0, 0), a2 = (-a/2, a sqrt(3)/2, 0): 5^12-6^8 on 1a (columns
# along c sharing their polar hexagons; their six equatorial hexagons are
# shared with the 4^3-5^6-6^3 cages of the same layer), 4^3-5^6-6^3 on 2c
# (sharing squares with each other), 5^12 on 3g in the layer between.  The
# numbers of Delaunay edges leaving each centre equal the face counts of the
# cages (20, 12, 12).  a = 12.2 A, c = 10.0 A are round values typical of sH
# hydrates.  34 waters per hexagonal cell.
SH_CAGES = [(SH_LARGE, (0.0, 0.0, 0.0)),
            (SH_MEDIUM, (1.0 / 3.0, 2.0 / 3.0, 0.0)), (SH_MEDIUM, (2.0 / 3.0, 1.0 / 3.0, 0.0)),
            (SMALL, (0.5, 0.0, 0.5)), (SMALL, (0.0, 0.5, 0.5)), (SMALL, (0.5, 0.5, 0.5))]
SH_A = 12.2
SH_C = 10.0

DELAUNAY_EDGE_MAX = 10.5   # longest Delaunay edge considered (sH 5^12-6^8 pair: c)
RELAX_STEPS = 400


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


def ice_ic_cell(a=ICE_IC_A):
    """Oxygen positions (Angstrom) and box of one cubic cell of ice Ic (8 waters)."""
    return [tuple(a * f for f in p) for p in ICE_IC_SITES], (a, a, a)


def wrap(x, length):
    x %= length
    return 0.0 if x >= length else x


# --- triclinic cells ----------------------------------------------------------
#
# A cell is given by its three vectors (v1, v2, v3) in the GROMACS convention:
# v1 along x, v2 in the xy plane, i.e. v1 = (a, 0, 0), v2 = (bx, by, 0),
# v3 = (cx, cy, cz).  A rectangular box is kept as the three lengths
# (Lx, Ly, Lz) throughout the tool; is_triclinic() tells the two apart.

def is_triclinic(box):
    return isinstance(box[0], tuple)


def to_frac(p, cell):
    """Fractional coordinates of the point p in the GROMACS-form cell."""
    (ax, _, _), (bx, by, _), (cx, cy, cz) = cell
    s3 = p[2] / cz
    s2 = (p[1] - s3 * cy) / by
    s1 = (p[0] - s2 * bx - s3 * cx) / ax
    return (s1, s2, s3)


def to_cart(s, cell):
    return tuple(s[0] * cell[0][k] + s[1] * cell[1][k] + s[2] * cell[2][k] for k in range(3))


def wrap_cell(p, cell):
    """The image of p inside the cell (fractional coordinates in [0, 1))."""
    s = to_frac(p, cell)
    return to_cart(tuple(wrap(x, 1.0) for x in s), cell)


def wrap_molecule(mol, box):
    """Move a whole molecule by a lattice vector so that its first atom is in the box."""
    first = wrap_cell(mol[0], box) if is_triclinic(box) else \
        tuple(wrap(mol[0][k], box[k]) for k in range(3))
    d = tuple(first[k] - mol[0][k] for k in range(3))
    return (first,) + tuple(tuple(a[k] + d[k] for k in range(3)) for a in mol[1:])


def cell_widths(cell):
    """Distances between opposite faces of the cell."""
    v1, v2, v3 = cell
    vol = abs(dot(v1, cross(v2, v3)))
    return tuple(vol / math.sqrt(dot(w, w)) for w in (cross(v2, v3), cross(v3, v1), cross(v1, v2)))


def bonds_triclinic(pos, cell, rmin=NEIGHBOUR_MIN, rmax=NEIGHBOUR_MAX):
    """Hydrogen bonds in a triclinic cell, as bonds() does for a rectangular box.

    Separations are reduced in fractional coordinates and every periodic image
    that can lie within rmax is tried, so that the search is exact for any
    cell shape and thickness.  Cells at least three bond lengths wide across
    every pair of faces use a cell list in fractional coordinates.
    """
    frac = [to_frac(p, cell) for p in pos]
    widths = cell_widths(cell)
    reach = [int(math.ceil(rmax / w)) for w in widths]
    shifts = [(a, b, c) for a in range(-reach[0], reach[0] + 1)
              for b in range(-reach[1], reach[1] + 1)
              for c in range(-reach[2], reach[2] + 1)]
    ncell = [int(w // rmax) for w in widths]
    n = len(pos)
    if min(ncell) >= 3:
        bins = {}
        keys = []
        for i, s in enumerate(frac):
            key = tuple(int(wrap(s[d], 1.0) * ncell[d]) % ncell[d] for d in range(3))
            keys.append(key)
            bins.setdefault(key, []).append(i)
        offsets = [(a, b, c) for a in (-1, 0, 1) for b in (-1, 0, 1) for c in (-1, 0, 1)]

        def candidates(i):
            near = []
            for o in offsets:
                near.extend(bins.get(tuple((keys[i][d] + o[d]) % ncell[d] for d in range(3)), ()))
            return sorted(j for j in near if j > i)
        shifts = [(0, 0, 0)]
    else:
        def candidates(i):
            return range(i + 1, n)
    out = []
    for i in range(n):
        si = frac[i]
        for j in candidates(i):
            sj = frac[j]
            base = [sj[d] - si[d] - round(sj[d] - si[d]) for d in range(3)]
            for m in shifts:
                d = to_cart((base[0] + m[0], base[1] + m[1], base[2] + m[2]), cell)
                r2 = dot(d, d)
                if rmin * rmin <= r2 <= rmax * rmax:
                    out.append((i, j, d))
    return out


# --- the dual construction (sII, sH) ---------------------------------------------

def dot(a, b):
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def circumsphere(p0, p1, p2, p3):
    """Centre and radius of the sphere through four points (None if flat)."""
    a, b, c = (tuple(p[k] - p0[k] for k in range(3)) for p in (p1, p2, p3))
    det = dot(a, cross(b, c))
    if abs(det) < 1e-9:
        return None
    a2, b2, c2 = dot(a, a), dot(b, b), dot(c, c)
    bc, ca, ab = cross(b, c), cross(c, a), cross(a, b)
    u = tuple((a2 * bc[k] + b2 * ca[k] + c2 * ab[k]) / (2.0 * det) for k in range(3))
    return tuple(p0[k] + u[k] for k in range(3)), math.sqrt(dot(u, u))


def delaunay_periodic(frac, cell, edge_max=DELAUNAY_EDGE_MAX, eps=1e-6):
    """Delaunay tetrahedra of a periodic point set, by the empty-sphere test.

    Points are given in fractional coordinates of `cell`.  A tetrahedron is a
    sorted tuple of four (point index, lattice shift) vertices, translated so
    that its centroid lies in the cell.  Every tetrahedron with edges up to
    edge_max and no point strictly inside its circumsphere is kept; a
    circumsphere with more than four points on it (an ambiguous tetrahedralization)
    is an error.  Small point sets (a few dozen per cell) only.
    """
    images = []
    for i, f in enumerate(frac):
        for m in ((a, b, c) for a in (-2, -1, 0, 1, 2) for b in (-2, -1, 0, 1, 2)
                  for c in (-2, -1, 0, 1, 2)):
            images.append(((i, m), to_cart(tuple(f[k] + m[k] for k in range(3)), cell)))
    found = set()
    for i, f in enumerate(frac):
        pi = to_cart(f, cell)
        near = [im for im in images if 0.0 < math.dist(im[1], pi) <= edge_max]
        pool = [im for im in images if math.dist(im[1], pi) <= 2.0 * edge_max]
        for j in range(len(near)):
            for k in range(j + 1, len(near)):
                if math.dist(near[j][1], near[k][1]) > edge_max:
                    continue
                for l in range(k + 1, len(near)):
                    if (math.dist(near[j][1], near[l][1]) > edge_max or
                            math.dist(near[k][1], near[l][1]) > edge_max):
                        continue
                    sphere = circumsphere(pi, near[j][1], near[k][1], near[l][1])
                    if sphere is None:
                        continue
                    centre, radius = sphere
                    if radius > edge_max:      # the pool would not cover the sphere
                        continue
                    on = 0
                    for _, q in pool:
                        r = math.dist(q, centre)
                        if r < radius - eps:
                            break
                        if r < radius + eps:
                            on += 1
                    else:
                        if on > 4:
                            raise ValueError("degenerate Delaunay tetrahedralization")
                        verts = [(i, (0, 0, 0)), near[j][0], near[k][0], near[l][0]]
                        cen = [sum(frac[v][d] + m[d] for v, m in verts) / 4.0 for d in range(3)]
                        t = [math.floor(round(x, 9)) for x in cen]
                        found.add(tuple(sorted((v, tuple(m[d] - t[d] for d in range(3)))
                                               for v, m in verts)))
    return sorted(found)


def dual_edges(tets):
    """Face-sharing pairs (t1, t2, shift): t2 moved by the lattice shift touches t1."""
    faces = {}
    for ti, tet in enumerate(tets):
        for skip in range(4):
            face = [tet[m] for m in range(4) if m != skip]
            base = min(face)[1]
            key = tuple(sorted((v, tuple(m[d] - base[d] for d in range(3))) for v, m in face))
            faces.setdefault(key, []).append((ti, base))
    edges = []
    for key in sorted(faces):
        pair = faces[key]
        if len(pair) != 2:
            raise ValueError("Delaunay face not shared by exactly two tetrahedra")
        (t1, b1), (t2, b2) = pair
        edges.append((t1, t2, tuple(b1[d] - b2[d] for d in range(3))))
    return edges


def relax_framework(pos, edges, cell, steps=RELAX_STEPS, step=0.05, w13=0.3):
    """Steepest descent towards equal O-O distances and tetrahedral angles.

    Harmonic springs on the bonds (rest length: their mean) and, with weight
    w13, on the six O...O distances around each oxygen (rest length: the
    tetrahedral sqrt(8/3) times the bond length).  The cell is kept fixed.
    """
    n = len(pos)
    pos = [list(p) for p in pos]
    nbrs = [[] for _ in range(n)]
    bond_terms = []
    for t1, t2, m in edges:
        s = to_cart(m, cell)
        nbrs[t1].append((t2, s))
        nbrs[t2].append((t1, tuple(-x for x in s)))
        bond_terms.append((t1, t2, s))
    r0 = sum(math.dist(pos[i], [pos[j][k] + s[k] for k in range(3)])
             for i, j, s in bond_terms) / len(bond_terms)
    terms = [(i, j, s, r0, 1.0) for i, j, s in bond_terms]
    for v in range(n):
        for x in range(len(nbrs[v])):
            for y in range(x + 1, len(nbrs[v])):
                (a, sa), (b, sb) = nbrs[v][x], nbrs[v][y]
                terms.append((a, b, tuple(sb[k] - sa[k] for k in range(3)),
                              r0 * math.sqrt(8.0 / 3.0), w13))
    for _ in range(steps):
        grad = [[0.0, 0.0, 0.0] for _ in range(n)]
        for i, j, s, rest, w in terms:
            pi, pj = pos[i], pos[j]
            d = (pj[0] + s[0] - pi[0], pj[1] + s[1] - pi[1], pj[2] + s[2] - pi[2])
            r = math.sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2])
            f = w * (r - rest) / r
            for k in range(3):
                grad[i][k] -= f * d[k]
                grad[j][k] += f * d[k]
        for i in range(n):
            for k in range(3):
                pos[i][k] -= step * grad[i][k]
    return [tuple(p) for p in pos]


_DUAL_CACHE = {}


def dual_framework(cages, cell):
    """Oxygen positions (Angstrom, inside the cell) dual to the cage centres.

    One oxygen per Delaunay tetrahedron of the cage centres, relaxed by
    relax_framework, sorted by fractional coordinates (z, y, x).
    """
    key = (tuple(cages), cell)
    if key not in _DUAL_CACHE:
        frac = [f for _, f in cages]
        tets = delaunay_periodic(frac, cell)
        edges = dual_edges(tets)
        if len(edges) != 2 * len(tets):
            raise ValueError("dual network is not four-connected")
        pos = [tuple(sum(to_cart(tuple(frac[v][d] + m[d] for d in range(3)), cell)[k]
                         for v, m in tet) / 4.0 for k in range(3)) for tet in tets]
        pos = relax_framework(pos, edges, cell)
        fr = sorted(tuple(round(wrap(x, 1.0), 9) % 1.0 for x in to_frac(p, cell)[::-1])
                    for p in pos)
        _DUAL_CACHE[key] = [to_cart(s[::-1], cell) for s in fr]
    return list(_DUAL_CACHE[key])


# --- unit cells -----------------------------------------------------------------

HEXAGONAL = ("ice", "sH")        # structures with a hexagonal cell
ICES = ("ice", "iceIc")          # structures without cages
CAGES = {"sI": SI_CAGES, "sII": SII_CAGES, "sH": SH_CAGES}


def hex_axes(a, c):
    return ((a, 0.0, 0.0), (-0.5 * a, 0.5 * math.sqrt(3.0) * a, 0.0), (0.0, 0.0, c))


def sii_cell(a=SII_A):
    """Oxygen positions (Angstrom) and box of one cubic sII cell (136 waters)."""
    return dual_framework(SII_CAGES, ((a, 0.0, 0.0), (0.0, a, 0.0), (0.0, 0.0, a))), (a, a, a)


def orthohexagonal(points, a, c):
    """Points of a hexagonal cell re-expressed in the rectangular a x sqrt(3)a x c
    cell spanned by a1 and a1 + 2 a2, which holds them twice (C-centring)."""
    box = (a, math.sqrt(3.0) * a, c)
    out = []
    for x, y, z in points:
        for sx, sy in ((0.0, 0.0), (0.5 * a, 0.5 * box[1])):
            out.append((wrap(x + sx, box[0]), wrap(y + sy, box[1]), wrap(z, box[2])))
    return out, box


def sh_cell(a=SH_A, c=SH_C):
    """Oxygen positions (Angstrom) of sH in the orthohexagonal a x sqrt(3)a x c cell (68 waters)."""
    return orthohexagonal(dual_framework(SH_CAGES, hex_axes(a, c)), a, c)


def hexagonal_cell(structure):
    """Oxygen positions and cell vectors of the hexagonal cell of ice Ih (4 waters) or sH (34)."""
    if structure == "ice":
        cell = hex_axes(ICE_A, ICE_C)
        return [wrap_cell(to_cart(s, cell), cell) for s in ICE_HEX_SITES], cell
    cell = hex_axes(SH_A, SH_C)
    return dual_framework(SH_CAGES, cell), cell


def rectangular_cell(structure):
    return {"sI": si_cell, "sII": sii_cell, "sH": sh_cell, "ice": ice_cell,
            "iceIc": ice_ic_cell}[structure]()


def cage_cell(structure, hexagonal=False):
    """Cage centres (type, position in Angstrom) of the unit cell used by crystal()."""
    if structure in ICES:
        return []
    if structure == "sH":
        cell = hex_axes(SH_A, SH_C)
        pts = [(name, to_cart(f, cell)) for name, f in SH_CAGES]
        if hexagonal:
            return pts
        pos, _ = orthohexagonal([p for _, p in pts], SH_A, SH_C)
        return [(pts[i // 2][0], p) for i, p in enumerate(pos)]
    a = SI_A if structure == "sI" else SII_A
    return [(name, tuple(a * x for x in f)) for name, f in CAGES[structure]]


def sheared_box(box, unit, cells, shear):
    """Cell vectors of the rectangular supercell `box` sheared as asked.

    The tilt is a whole number of unit cells (floor(n/2) cells of the unit
    cell `unit` along the direction of the tilt), so that it is a lattice
    translation of the crystal and the sheared cell holds the same crystal;
    it is also at most half the box, as GROMACS's reduced box form requires.
    """
    tilt = {"xy": math.floor(cells[0] / 2) * unit[0],
            "xz": math.floor(cells[0] / 2) * unit[0],
            "yz": math.floor(cells[1] / 2) * unit[1]}
    for s in shear:
        if tilt[s] == 0.0:
            raise ValueError("--shear %s needs at least 2 cells along %s" % (s, s[0]))
    t = {s: (tilt[s] if s in shear else 0.0) for s in tilt}
    return ((box[0], 0.0, 0.0), (t["xy"], box[1], 0.0), (t["xz"], t["yz"], box[2]))


def crystal(structure, cells, shear=(), hexagonal=False):
    """Oxygen positions, box and cage centres of a supercell.

    The box is (Lx, Ly, Lz) for the rectangular cells, or three cell vectors
    for a sheared (--shear) or hexagonal (--hexagonal) cell; every position is
    inside the box.  Cage centres are (type, position) pairs.
    """
    cages = cage_cell(structure, hexagonal)
    if hexagonal:
        unit_pos, unit = hexagonal_cell(structure)
        box = tuple(tuple(cells[d] * x for x in unit[d]) for d in range(3))

        def tile(points):
            return [wrap_cell(tuple(p[k] + i * unit[0][k] + j * unit[1][k] + l * unit[2][k]
                                    for k in range(3)), box)
                    for i in range(cells[0]) for j in range(cells[1]) for l in range(cells[2])
                    for p in points]
        pos = tile(unit_pos)
        centres = tile([p for _, p in cages])
    else:
        unit_pos, unit = rectangular_cell(structure)
        pos, box = supercell(unit_pos, unit, cells)
        centres, _ = supercell([p for _, p in cages], unit, cells)
        if shear:
            box = sheared_box(box, unit, cells, shear)
            pos = [wrap_cell(p, box) for p in pos]
            centres = [wrap_cell(p, box) for p in centres]
        else:
            centres = [tuple(wrap(p[k], box[k]) for k in range(3)) for p in centres]
    ncell = cells[0] * cells[1] * cells[2]
    names = [name for name, _ in cages] * ncell
    return pos, box, list(zip(names, centres))


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


def guest_count(fraction, ncages):
    """Number of cages that get a guest: fraction * ncages rounded, halves up."""
    return int(math.floor(fraction * ncages + 0.5))


def build(structure, cells, displace=0.0, shuffle=False, seed=1, guests=0.0,
          shear=(), hexagonal=False):
    """Return (molecules, box).

    Each water is (O, H1, H2) and each guest (C,), in Angstrom; guests follow
    all waters.  The box is (Lx, Ly, Lz) for a rectangular cell or the three
    cell vectors (v1, v2, v3) for a sheared or hexagonal one (see crystal()).
    With guests > 0, guest_count(guests, cages) cages drawn at random get a
    guest at their centre, written in the order of crystal()'s cages.
    """
    rng = random.Random(seed)
    pos, box, cages = crystal(structure, cells, shear, hexagonal)
    triclinic = is_triclinic(box)
    edges = bonds_triclinic(pos, box) if triclinic else bonds(pos, box)
    donated = orient_euler(len(pos), edges, rng)

    def place(o):
        if displace > 0.0:
            o = tuple(o[k] + rng.gauss(0.0, displace) for k in range(3))
        return wrap_cell(o, box) if triclinic else tuple(wrap(o[k], box[k]) for k in range(3))
    mols = []
    for o, dons in zip(pos, donated):
        o = place(o)
        mol = [o]
        for d in dons:
            s = OH_BOND / math.sqrt(d[0] ** 2 + d[1] ** 2 + d[2] ** 2)
            mol.append(tuple(o[k] + s * d[k] for k in range(3)))
        mols.append(tuple(mol))
    if shuffle:
        rng.shuffle(mols)
    if guests > 0.0:
        chosen = sorted(rng.sample(range(len(cages)), guest_count(guests, len(cages))))
        mols.extend((place(cages[c][1]),) for c in chosen)
    return mols, box


# Closest approach of two oxygens the growing disorder allows: real water
# keeps them about 2.8 A apart and never much closer than 2.4 A.
DISORDER_MIN_OO = 2.4


def trajectory(mols, box, nframes, sigma_max, seed=1, jitter=0.0):
    """Frames of growing disorder: molecule m of frame f is moved rigidly by
    g_m * sigma_max * f / (nframes - 1), with g_m a fixed standard normal
    vector per molecule, and put back into the box by its first atom. With
    jitter, every atom of every frame is then moved on its own by a Gaussian
    of that std. dev. per axis, drawn afresh in each frame, each hydrogen
    kept at its bond length (thermal noise about the frame's structure that
    turns the O-H bonds).

    Vectors that would bring two oxygens closer than DISORDER_MIN_OO in some
    frame are shortened, so every frame stays a plausible configuration of
    water however large the disorder."""
    rng = random.Random("frames %d" % seed)
    scales = [sigma_max * f / (nframes - 1) if nframes > 1 else 0.0 for f in range(nframes)]
    kicks = [tuple(max(-4.0, min(4.0, rng.gauss(0.0, 1.0))) for _ in range(3)) for _ in mols]
    if sigma_max > 0.0:
        # Pairs that could come too close: every pair within the closest
        # approach plus the largest relative move.
        reach = DISORDER_MIN_OO + 2.0 * 4.0 * math.sqrt(3.0) * sigma_max
        first = [mol[0] for mol in mols]
        pairs = bonds_triclinic(first, box, 0.0, reach) if is_triclinic(box) else bonds(first, box, 0.0, reach)
        # Damp the two vectors of every pair that comes closer than
        # DISORDER_MIN_OO (or than it starts, if that is closer) in some
        # frame, until none does; damping them to nothing would keep frame 0.
        # After the first pass only the pairs of damped molecules can change.
        pairs_of = [[] for _ in mols]
        for p, (i, j, _) in enumerate(pairs):
            pairs_of[i].append(p)
            pairs_of[j].append(p)
        todo = range(len(pairs))
        for _ in range(200):
            damped = set()
            for p in todo:
                i, j, d = pairs[p]
                limit = min(DISORDER_MIN_OO ** 2, dot(d, d))
                gi, gj = kicks[i], kicks[j]
                for s in scales:
                    r = (d[0] + s * (gj[0] - gi[0]), d[1] + s * (gj[1] - gi[1]), d[2] + s * (gj[2] - gi[2]))
                    if dot(r, r) < limit:
                        damped.update((i, j))
                        break
            if not damped:
                break
            for m in damped:
                kicks[m] = tuple(0.8 * x for x in kicks[m])
            todo = sorted({p for m in damped for p in pairs_of[m]})
    noise = random.Random("jitter %d" % seed)

    def jittered(mol):
        if not jitter:
            return mol
        moved = [tuple(a[k] + noise.gauss(0.0, jitter) for k in range(3)) for a in mol]
        o = moved[0]
        # Hydrogens keep their bond length: the noise turns the O-H bonds.
        for h in range(1, len(mol)):
            d0 = [mol[h][k] - mol[0][k] for k in range(3)]
            d = [moved[h][k] - o[k] for k in range(3)]
            s = math.sqrt(dot(d0, d0) / dot(d, d))
            moved[h] = tuple(o[k] + s * d[k] for k in range(3))
        return tuple(moved)

    frames = []
    for scale in scales:
        frames.append([wrap_molecule(jittered(tuple(tuple(a[k] + scale * g[k] for k in range(3)) for a in mol)), box)
                       for mol, g in zip(mols, kicks)])
    return frames


def frame_title(frame):
    """Title line of a trajectory frame: t = 10 ps per frame, 2 fs steps."""
    return "Generated by lattice.py t= %g step= %d" % (10.0 * frame, 5000 * frame)


def gro_atom_line(resnr, resname, atomname, atomnr, xyz_nm):
    """One atom line in GROMACS .gro format (numbers wrap at 100000)."""
    return "%5d%-5s%5s%5d%8.3f%8.3f%8.3f" % (
        resnr % 100000, resname, atomname, atomnr % 100000,
        xyz_nm[0], xyz_nm[1], xyz_nm[2])


def gro_box_line(box):
    """Box line: three lengths, or for a triclinic cell all nine numbers in
    GROMACS order v1(x) v2(y) v3(z) v1(y) v1(z) v2(x) v2(z) v3(x) v3(y) (nm)."""
    if not is_triclinic(box):
        return "%10.5f%10.5f%10.5f" % tuple(b / 10.0 for b in box)
    v1, v2, v3 = box
    return ("%10.5f" * 9) % tuple(x / 10.0 for x in (v1[0], v2[1], v3[2], v1[1], v1[2],
                                                     v2[0], v2[2], v3[0], v3[1]))


def format_gro(title, mols, box, one_site=False):
    """One .gro frame: waters as SOL (OW, HW1, HW2), one-atom guests as CH4 (C).
    With one_site, each water is its oxygen alone (SOL, OW)."""
    def atoms(mol):
        if len(mol) == 1:
            return "CH4", ("C",), mol
        return "SOL", ("OW", "HW1", "HW2"), mol[:1] if one_site else mol
    lines = [title, "%5d" % sum(len(atoms(mol)[2]) for mol in mols)]
    atom = 0
    for res, mol in enumerate(mols, start=1):
        resname, names, sites = atoms(mol)
        for name, xyz in zip(names, sites):
            atom += 1
            lines.append(gro_atom_line(res, resname, name, atom,
                                       tuple(c / 10.0 for c in xyz)))
    lines.append(gro_box_line(box))
    return "\n".join(lines) + "\n"


STRUCTURE_NAMES = {"sI": "sI hydrate", "sII": "sII hydrate", "sH": "sH hydrate",
                   "ice": "ice Ih", "iceIc": "ice Ic"}


def main(argv=None):
    p = argparse.ArgumentParser(
        description="Write an ideal water lattice (sI, sII or sH hydrate, ice Ih or ice Ic) "
                    "with ice-rule hydrogens as a GROMACS .gro file, optionally with "
                    "guests, in a triclinic cell, or as a trajectory of growing disorder.")
    p.add_argument("--structure", choices=("sI", "sII", "sH", "ice", "iceIc"), default="sI",
                   help="sI: structure I clathrate hydrate, cubic cell of 46 waters, "
                        "a = 12.0 A; sII: structure II hydrate, cubic cell of 136 waters, "
                        "a = 17.3 A; sH: structure H hydrate, orthohexagonal cell of 68 "
                        "waters (a = 12.2, b = sqrt(3)a, c = 10.0 A; two hexagonal cells); "
                        "ice: hexagonal ice Ih, orthorhombic cell of 8 waters "
                        "(a = 4.52, b = sqrt(3)a, c = 7.36 A); iceIc: cubic ice Ic, cubic "
                        "cell of 8 waters, a = 6.36 A (default: sI)")
    p.add_argument("--cells", type=int, nargs=3, default=(1, 1, 1),
                   metavar=("NX", "NY", "NZ"), help="supercell size (default: 1 1 1)")
    p.add_argument("--hexagonal", action="store_true",
                   help="ice and sH only: use the hexagonal cell (a = b, gamma = 120 deg; "
                        "v1 = (a,0,0), v2 = (-a/2,a sqrt(3)/2,0), v3 = (0,0,c); 4 waters "
                        "for ice, 34 for sH) as the unit of --cells, giving a triclinic box")
    p.add_argument("--shear", choices=("xy", "xz", "yz"), nargs="+", default=(),
                   help="write the same crystal in a sheared (triclinic) cell: xy tilts v2 "
                        "by v2(x) = floor(NX/2) unit cells, xz tilts v3 by v3(x) = "
                        "floor(NX/2) cells, yz tilts v3 by v3(y) = floor(NY/2) cells; "
                        "a whole number of cells is a lattice translation, so the crystal "
                        "is the same; needs 2 or more cells along the tilt; the protons "
                        "are arranged anew for the sheared periodicity, so they differ "
                        "from those of the rectangular cell")
    p.add_argument("--guests", type=float, default=0.0, metavar="FRACTION",
                   help="put a one-site guest (residue CH4, atom C) at the centre of "
                        "FRACTION x cages (rounded, halves up) cages drawn at random "
                        "(1 = every cage), written after the waters and displaced like "
                        "them by --displace; hydrates only (default: 0)")
    p.add_argument("--displace", type=float, default=0.0, metavar="SIGMA",
                   help="Gaussian displacement of whole molecules, std. dev. "
                        "per axis in Angstrom (default: 0)")
    p.add_argument("--shuffle", action="store_true",
                   help="write the molecules in random order (waters only; guests "
                        "stay last)")
    p.add_argument("--frames", type=int, default=0, metavar="N",
                   help="write a trajectory of N frames (titles 'Generated by lattice.py "
                        "t= T step= S', 10 ps and 5000 steps apart) in which every "
                        "molecule moves rigidly along its own random Gaussian vector, "
                        "scaled linearly from 0 in the first frame to --disorder in the "
                        "last, on top of --displace")
    p.add_argument("--jitter", type=float, default=0.0, metavar="SIGMA",
                   help="with --frames: move every atom of every frame on its own by a "
                        "Gaussian of this std. dev. per axis (Angstrom), drawn afresh in "
                        "each frame, the hydrogens kept at their bond length (the noise turns "
                        "the O-H bonds), as thermal vibration and libration do (default: 0)")
    p.add_argument("--disorder", type=float, default=0.0, metavar="SIGMA_MAX",
                   help="std. dev. per axis (Angstrom) of the --frames displacement in "
                        "the last frame (default: 0)")
    p.add_argument("--one-site", action="store_true",
                   help="write each water as its oxygen alone (residue SOL, atom OW), "
                        "as for one-site water models such as mW; the crystal, its "
                        "displacement and the guests are those of the all-atom output")
    p.add_argument("--seed", type=int, default=1,
                   help="random seed for protons, displacement, order, guests and "
                        "frames (default: 1)")
    p.add_argument("-o", "--output", metavar="FILE",
                   help="output file (default: standard output)")
    args = p.parse_args(argv)
    if min(args.cells) < 1:
        p.error("--cells values must be positive")
    if args.displace < 0.0:
        p.error("--displace must be non-negative")
    if args.hexagonal and args.structure not in HEXAGONAL:
        p.error("--hexagonal is for ice and sH only")
    if args.hexagonal and args.shear:
        p.error("--hexagonal and --shear cannot be combined")
    for s in args.shear:
        if args.cells["xyz".index(s[0])] < 2:
            p.error("--shear %s needs at least 2 cells along %s" % (s, s[0]))
    if not 0.0 <= args.guests <= 1.0:
        p.error("--guests must be between 0 and 1")
    if args.guests > 0.0 and args.structure in ICES:
        p.error("--guests: %s has no cages" % STRUCTURE_NAMES[args.structure])
    if args.frames < 0 or args.disorder < 0.0:
        p.error("--frames and --disorder must be non-negative")
    if args.disorder > 0.0 and args.frames == 0:
        p.error("--disorder needs --frames")
    if args.jitter < 0.0 or (args.jitter > 0.0 and args.frames == 0):
        p.error("--jitter must be non-negative and needs --frames")

    shear = tuple(sorted(set(args.shear)))
    mols, box = build(args.structure, tuple(args.cells), args.displace,
                      args.shuffle, args.seed, args.guests, shear, args.hexagonal)
    if args.frames:
        frames = trajectory(mols, box, args.frames, args.disorder, args.seed, args.jitter)
        text = "".join(format_gro(frame_title(f), fr, box, args.one_site) for f, fr in enumerate(frames))
    else:
        name = STRUCTURE_NAMES[args.structure]
        if args.hexagonal:
            name += " hexagonal cell"
        if shear:
            name += " sheared " + ",".join(shear)
        if args.one_site:
            name += " one-site"
        title = "%s %dx%dx%d generated by kavet lattice tool" % ((name,) + tuple(args.cells))
        text = format_gro(title, mols, box, args.one_site)
    if args.output:
        with open(args.output, "w") as f:
            f.write(text)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()
