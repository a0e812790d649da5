#!/usr/bin/env python3
"""Draws one 5^6 cup of the bundled structure-I example with Jmol, headless.

Runs kavet on examples/si-2x2x2.gro with -oc, takes the first 5^12 cage of
the cage file, finds its faces (the 5-cycles of its O-O bonds), and keeps a
base pentagon with the five pentagons on its edges: a 5^6 cup, half of the
5^12. Writes the cup's waters and bonds as a PDB file and renders it into
docs/cup-5_6.png (the base ring orange, the other waters red).

    python3 docs/cup-picture.py [--kavet build/release/kavet]

Needs Debian's jmol package and a Java runtime; no X server is used.
"""
import argparse
import itertools
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
JAR = "/usr/share/jmol/JmolData.jar"


def first_model(pdb, label):
    """Oxygens {serial: (x, y, z)} and O-O bonds of the first cage `label`."""
    atoms, bonds, inside = {}, set(), False
    for line in open(pdb):
        if line.startswith("MODEL"):
            if atoms:
                break
            inside = line.rstrip().endswith("cage: " + label)
        elif inside and line.startswith("HETATM") and line[12:16].strip() == "O":
            atoms[int(line[6:11])] = tuple(float(line[k:k + 8]) for k in (30, 38, 46))
        elif inside and line.startswith("CONECT"):
            a, b = int(line[6:11]), int(line[11:16])
            bonds.add((min(a, b), max(a, b)))
    return atoms, {b for b in bonds if b[0] in atoms and b[1] in atoms}


def pentagons(atoms, bonds):
    """Every 5-cycle of the bond graph, as a tuple of its members in order."""
    near = {a: set() for a in atoms}
    for a, b in bonds:
        near[a].add(b)
        near[b].add(a)
    unique = {}
    for a in atoms:
        for b, e in itertools.permutations(near[a], 2):
            for c in near[b] - {a, e}:
                for d in (near[c] & near[e]) - {a, b}:
                    unique.setdefault(frozenset((a, b, c, d, e)), (a, b, c, d, e))
    return list(unique.values())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kavet", default=os.path.join(ROOT, "build", "release", "kavet"))
    args = parser.parse_args()
    work = os.path.join(ROOT, "build", "pictures")
    os.makedirs(work, exist_ok=True)
    subprocess.run([args.kavet, "-f", os.path.join(ROOT, "examples", "si-2x2x2.gro"), "-oc", "conf~cage.pdb"], cwd=work,
                   check=True, stdout=subprocess.DEVNULL)
    atoms, bonds = first_model(os.path.join(work, "conf~cage.pdb"), "5^12")
    faces = pentagons(atoms, bonds)
    if len(faces) != 12:
        sys.exit(f"cup-picture: the first 5^12 has {len(faces)} pentagons, not 12")
    edges = lambda f: {frozenset((f[k], f[(k + 1) % 5])) for k in range(5)}
    base = faces[0]
    cup = [base] + [f for f in faces[1:] if len(edges(f) & edges(base)) == 1]
    keep = list(base) + sorted({a for f in cup for a in f} - set(base))  # the base first: atoms 1 to 5
    cup_bonds = sorted({tuple(sorted(e)) for f in cup for e in edges(f)})
    pdb = os.path.join(work, "cup-5_6.pdb")
    with open(pdb, "w") as out:
        out.write("REMARK a 5^6 cup: the first 5^12 of examples/si-2x2x2.gro less its opposite half\n")
        for n, a in enumerate(keep, 1):
            x, y, z = atoms[a]
            out.write("HETATM%5d  O   OW A%4d    %8.3f%8.3f%8.3f  1.00  0.00           O\n" % (n, n, x, y, z))
        number = {a: n for n, a in enumerate(keep, 1)}
        for a, b in cup_bonds:
            out.write("CONECT%5d%5d\n" % (number[a], number[b]))
        out.write("END\n")
    png = os.path.join(ROOT, "docs", "cup-5_6.png")
    spt = os.path.join(work, "cup-5_6.spt")
    with open(spt, "w") as out:
        out.write(f'load "{pdb}"\n'
                  "set frank off; set antialiasDisplay true; set imageState false; background white\n"
                  "select all; spacefill 0.32; wireframe 0.13; color bonds [x505050]; color [xd23c3c]\n"
                  "select atomno<=5; color [xf0a000]; select none\n"
                  "rotate x -55; zoom 90\n"
                  "set echo top left; font echo 20 sans bold; color echo black\n"
                  'echo "a 5^6 cup"\n'
                  "set echo bottom left; font echo 14 sans; color echo [x404040]\n"
                  'echo "base pentagon (orange) and a pentagon on each of its edges|half of a 5^12 of structure I"\n'
                  f'write IMAGE 480 480 PNG "{png}"\n')
    subprocess.run(["java", "-Djava.awt.headless=true", "-jar", JAR, "-n", "-o", "-s", spt], check=True,
                   stdout=subprocess.DEVNULL)
    print(png)


if __name__ == "__main__":
    main()
