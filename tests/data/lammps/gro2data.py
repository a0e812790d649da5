#!/usr/bin/env python3
"""One-site .gro (SOL OW waters, CH4 C guests) -> LAMMPS data file, atom_style atomic (type 1 water, 2 guest),
or molecular with --mol. Triclinic boxes kept (GROMACS v2(x), v3(x), v3(y) = LAMMPS xy, xz, yz)."""
import sys
src, dst = sys.argv[1], sys.argv[2]
mol = "--mol" in sys.argv
L = open(src).read().splitlines()
n = int(L[1]); atoms = L[2:2 + n]; box = [float(v) * 10 for v in L[2 + n].split()]
ax, by, cz = box[:3]
xy, xz, yz = (box[5], box[7], box[8]) if len(box) == 9 else (0, 0, 0)
with open(dst, "w") as f:
    f.write("mW sI hydrate from %s\n\n%d atoms\n2 atom types\n\n" % (src, n))
    f.write("0 %.6f xlo xhi\n0 %.6f ylo yhi\n0 %.6f zlo zhi\n" % (ax, by, cz))
    if len(box) == 9:
        f.write("%.6f %.6f %.6f xy xz yz\n" % (xy, xz, yz))
    f.write("\nMasses\n\n1 18.015\n2 16.043\n\nAtoms # %s\n\n" % ("molecular" if mol else "atomic"))
    for i, a in enumerate(atoms):
        t = 1 if a[5:10].strip() == "SOL" else 2
        x, y, z = (float(a[20 + 8 * k:28 + 8 * k]) * 10 for k in range(3))
        f.write(("%d %d %d %.5f %.5f %.5f\n" % (i + 1, i + 1, t, x, y, z)) if mol else ("%d %d %.5f %.5f %.5f\n" % (i + 1, t, x, y, z)))
