#!/usr/bin/env python3
"""Writes a LAMMPS data file (atom_style full, real units) for TIP4P/2005
water with united-atom methane from a .gro file of tools/lattice.py.

Each water keeps its oxygen and the plane and bisector of its two hydrogens,
rebuilt to the rigid TIP4P/2005 geometry (O-H 0.9572 A, H-O-H 104.52 deg;
Abascal and Vega, J. Chem. Phys. 123, 234505, 2005). The massless M site is
not written: pair style lj/cut/tip4p/long places it. Methane (residue CH4,
atom C) is one Lennard-Jones site with no charge.

    python3 tools/lattice.py --structure sI --cells 2 2 2 --guests 1 -o si.gro
    python3 examples/thermal/make_data.py si.gro si.data

Types: 1 O, 2 H, 3 CH4; bond type 1 O-H, angle type 1 H-O-H (both kept
rigid by fix shake in the input files next to this script).
"""
import math
import sys

OH, HOH = 0.9572, math.radians(104.52)
Q_H = 0.5564


def sub(a, b):
    return [a[k] - b[k] for k in range(3)]


def unit(a):
    n = math.sqrt(sum(x * x for x in a))
    return [x / n for x in a]


def main(src, dst):
    lines = open(src).read().splitlines()
    n = int(lines[1])
    atoms = []
    for line in lines[2:2 + n]:
        res, name = line[5:10].strip(), line[10:15].strip()
        xyz = [float(line[20 + 8 * k:28 + 8 * k]) * 10 for k in range(3)]
        atoms.append((res, name, xyz))
    box = [float(x) * 10 for x in lines[2 + n].split()[:3]]

    out_atoms, bonds, angles = [], [], []
    mol, i = 0, 0
    while i < n:
        res, name, xyz = atoms[i]
        mol += 1
        if res == "CH4":
            out_atoms.append((mol, 3, 0.0, xyz))
            i += 1
            continue
        o, h1, h2 = xyz, atoms[i + 1][2], atoms[i + 2][2]
        # Minimum image of the hydrogens about their oxygen.
        d1 = [d - L * round(d / L) for d, L in zip(sub(h1, o), box)]
        d2 = [d - L * round(d / L) for d, L in zip(sub(h2, o), box)]
        bis = unit([a + b for a, b in zip(unit(d1), unit(d2))])
        perp = unit([a - b for a, b in zip(unit(d1), unit(d2))])
        c, s = OH * math.cos(HOH / 2), OH * math.sin(HOH / 2)
        first = len(out_atoms) + 1
        out_atoms.append((mol, 1, -2 * Q_H, o))
        out_atoms.append((mol, 2, Q_H, [o[k] + c * bis[k] + s * perp[k] for k in range(3)]))
        out_atoms.append((mol, 2, Q_H, [o[k] + c * bis[k] - s * perp[k] for k in range(3)]))
        bonds += [(first, first + 1), (first, first + 2)]
        angles.append((first + 1, first, first + 2))
        i += 3

    with open(dst, "w") as f:
        f.write(f"TIP4P/2005 water + united-atom methane from {src}\n\n")
        f.write(f"{len(out_atoms)} atoms\n{len(bonds)} bonds\n{len(angles)} angles\n\n")
        f.write("3 atom types\n1 bond types\n1 angle types\n\n")
        for k, L in zip("xyz", box):
            f.write(f"0.0 {L:.6f} {k}lo {k}hi\n")
        f.write("\nMasses\n\n1 15.9994\n2 1.008\n3 16.043\n\nAtoms # full\n\n")
        for j, (m, t, q, p) in enumerate(out_atoms, 1):
            f.write(f"{j} {m} {t} {q:.4f} {p[0]:.5f} {p[1]:.5f} {p[2]:.5f}\n")
        f.write("\nBonds\n\n")
        for j, (a, b) in enumerate(bonds, 1):
            f.write(f"{j} 1 {a} {b}\n")
        f.write("\nAngles\n\n")
        for j, (a, b, c2) in enumerate(angles, 1):
            f.write(f"{j} 1 {a} {b} {c2}\n")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: make_data.py IN.gro OUT.data")
    main(sys.argv[1], sys.argv[2])
