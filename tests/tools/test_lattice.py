"""Tests for tools/lattice.py (run from the repo root:
python3 -m unittest discover -s tests/tools -p 'test_*.py')."""

import collections
import itertools
import math
import os
import subprocess
import sys
import unittest

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
sys.path.insert(0, TOOLS)
import lattice  # noqa: E402


def generate(*args):
    """Build a lattice in-process and return the .gro text."""
    mols, box = lattice.build(*args)
    return lattice.format_gro("test", mols, box)


def parse_gro(text):
    lines = text.splitlines()
    n = int(lines[1])
    atoms = [(l[10:15].strip(), tuple(float(l[20 + 8 * k:28 + 8 * k]) for k in range(3)))
             for l in lines[2:2 + n]]
    box = tuple(float(v) for v in lines[2 + n].split())
    return lines, atoms, box


def cell_vectors(box):
    """v1, v2, v3 from a .gro box line of 3 or 9 numbers."""
    if len(box) == 3:
        return ((box[0], 0.0, 0.0), (0.0, box[1], 0.0), (0.0, 0.0, box[2]))
    v1x, v2y, v3z, v1y, v1z, v2x, v2z, v3x, v3y = box
    return ((v1x, v1y, v1z), (v2x, v2y, v2z), (v3x, v3y, v3z))


def cell_widths(cell):
    """Distances between opposite faces of the cell."""
    def cross(u, v):
        return (u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0])
    v1, v2, v3 = cell
    volume = abs(sum(x * y for x, y in zip(v1, cross(v2, v3))))
    return [volume / math.sqrt(sum(x * x for x in cross(u, v)))
            for u, v in ((v2, v3), (v3, v1), (v1, v2))]


def min_image(a, b, box):
    d = [b[k] - a[k] for k in range(3)]
    if len(box) == 3:
        return [d[k] - box[k] * round(d[k] / box[k]) for k in range(3)]
    # Triclinic: reduce along v3, v2, v1 (each vector's last non-zero
    # component), then take the shortest of the neighbouring images.
    cell = cell_vectors(box)
    for k in (2, 1, 0):
        n = round(d[k] / cell[k][k])
        d = [d[m] - n * cell[k][m] for m in range(3)]
    # Within half the narrowest width of the cell no other image is closer.
    if sum(x * x for x in d) <= 0.25 * min(cell_widths(cell)) ** 2:
        return d
    images = ([d[m] + i * cell[0][m] + j * cell[1][m] + l * cell[2][m] for m in range(3)]
              for i, j, l in itertools.product((-1, 0, 1), repeat=3))
    return min(images, key=lambda v: sum(x * x for x in v))


def dist(a, b, box):
    return math.sqrt(sum(x * x for x in min_image(a, b, box)))


def oxygen_bonds(oxygens, box):
    return [(i, j) for i in range(len(oxygens)) for j in range(i + 1, len(oxygens))
            if 0.26 <= dist(oxygens[i], oxygens[j], box) <= 0.31]


class LatticeTest(unittest.TestCase):

    def check_network(self, structure, cells, per_cell, **options):
        text = lattice.format_gro("test", *lattice.build(structure, cells, 0.0, False, 7,
                                                          **options))
        lines, atoms, box = parse_gro(text)
        ncell = cells[0] * cells[1] * cells[2]
        self.assertEqual(len(atoms), 3 * per_cell * ncell)
        oxy = [xyz for name, xyz in atoms if name == "OW"]
        hyd = [xyz for name, xyz in atoms if name.startswith("HW")]
        bonds = oxygen_bonds(oxy, box)
        degree = collections.Counter()
        for i, j in bonds:
            degree[i] += 1
            degree[j] += 1
        self.assertEqual(sorted(set(degree.values())), [4])
        self.assertEqual(len(degree), len(oxy))
        # Ice rules: two H per O, one H on every O-O bond.
        for o in oxy:
            self.assertEqual(sum(dist(o, h, box) < 0.1 for h in hyd), 2)
        # (An H on a bond is within the bond length of both its oxygens.)
        near = [[h for h in hyd if dist(o, h, box) <= 0.31] for o in oxy]
        for i, j in bonds:
            r = dist(oxy[i], oxy[j], box)
            on_bond = sum(abs(dist(oxy[i], h, box) + dist(h, oxy[j], box) - r) < 0.003
                          for h in near[i])
            self.assertEqual(on_bond, 1)
        # O-H distance within the rounding of the 3-decimal nm coordinates.
        for m in range(len(oxy)):
            for k in (1, 2):
                d = dist(atoms[3 * m][1], atoms[3 * m + k][1], box)
                self.assertAlmostEqual(d, 0.096, delta=0.0018)
        return box, oxy

    def test_si_2x2x2(self):
        self.check_network("sI", (2, 2, 2), 46)

    def test_ice_3x2x2(self):
        self.check_network("ice", (3, 2, 2), 8)

    def test_sii(self):
        self.check_network("sII", (1, 1, 1), 136)

    def test_sh(self):
        self.check_network("sH", (1, 1, 1), 68)

    def test_ice_ic_and_one_site(self):
        """Ice Ic: the ice-rule network on the diamond lattice (quarter cells all
        even, sum 0 mod 4, or all odd, sum 3 mod 4). One-site: oxygens alone."""
        box, oxy = self.check_network("iceIc", (2, 2, 2), 8)
        for q in ([c / (box[0] / 8) for c in o] for o in oxy):
            k = [round(c) for c in q]
            self.assertTrue(all(abs(c - r) < 0.004 for c, r in zip(q, k)), q)
            self.assertIn((k[0] % 2, k[1] % 2, k[2] % 2, sum(k) % 4), [(0, 0, 0, 0), (1, 1, 1, 3)], q)
        mols, box = lattice.build("sI", (1, 1, 1), 0.1, False, 2, 0.5)
        _, full, _ = parse_gro(lattice.format_gro("test", mols, box))
        _, atoms, _ = parse_gro(lattice.format_gro("test", mols, box, one_site=True))
        self.assertEqual(atoms, [a for a in full if a[0] in ("OW", "C")])
    def test_triclinic_cells(self):
        """Sheared and hexagonal cells: the same four-connected, ice-rule
        network under the triclinic minimum image, oxygens inside the cell,
        and the nine box numbers in GROMACS order."""
        a, b, c = lattice.ICE_A / 10.0, math.sqrt(3.0) * lattice.ICE_A / 10.0, lattice.ICE_C / 10.0
        # 3 x 2 x 1 orthorhombic cells, tilts of floor(3/2) = 1 cell along x
        # (xy, xz) and floor(2/2) = 1 cell along y (yz).
        sheared = (3 * a, 2 * b, c, 0.0, 0.0, a, 0.0, a, b)
        hexagonal = (2 * a, 2 * a * math.sqrt(3.0) / 2.0, 2 * c, 0.0, 0.0, -a, 0.0, 0.0, 0.0)
        for structure, cells, per_cell, options, expected in (
                ("ice", (3, 2, 1), 8, {"shear": ("xy", "xz", "yz")}, sheared),
                ("ice", (2, 2, 2), 4, {"hexagonal": True}, hexagonal),
                ("sH", (1, 1, 1), 34, {"hexagonal": True}, None)):
            with self.subTest(structure=structure, **options):
                box, oxy = self.check_network(structure, cells, per_cell, **options)
                self.assertEqual(len(box), 9)
                if expected:
                    for got, want in zip(box, expected):
                        self.assertAlmostEqual(got, want, delta=6e-6)
                # Oxygens inside the cell, to the rounding of the coordinates.
                v1, v2, v3 = cell_vectors(box)
                for x, y, z in oxy:
                    s3 = z / v3[2]
                    s2 = (y - s3 * v3[1]) / v2[1]
                    s1 = (x - s2 * v2[0] - s3 * v3[0]) / v1[0]
                    for s, width in ((s1, v1[0]), (s2, v2[1]), (s3, v3[2])):
                        self.assertTrue(-0.001 / width <= s <= 1.0 + 0.001 / width)

    def test_guests(self):
        """round(fraction x cages) guests, each at a different cage centre,
        well inside its cage, after the unchanged waters."""
        for structure, cells, options, fraction in (("sI", (2, 1, 1), {}, 0.5),
                                                   ("sII", (1, 1, 1), {}, 0.3),
                                                   ("sH", (1, 1, 1), {"hexagonal": True}, 1.0)):
            with self.subTest(structure=structure):
                _, box, cages = lattice.crystal(structure, cells, **options)
                mols, box = lattice.build(structure, cells, 0.0, False, 2, fraction, **options)
                lines, atoms, gro_box = parse_gro(lattice.format_gro("test", mols, box))
                guests = [xyz for name, xyz in atoms if name == "C"]
                oxy = [xyz for name, xyz in atoms if name == "OW"]
                self.assertEqual(len(guests), round(fraction * len(cages)))
                self.assertEqual(len(atoms), 3 * len(oxy) + len(guests))
                self.assertTrue(all(l[5:15] == "CH4      C" for l in lines[2 + 3 * len(oxy):-1]))
                plain = lattice.format_gro("test", *lattice.build(structure, cells, 0.0, False, 2,
                                                                   **options)).splitlines()
                self.assertEqual(lines[2:2 + 3 * len(oxy)], plain[2:-1])
                centres = [tuple(x / 10.0 for x in p) for _, p in cages]
                used = set()
                for g in guests:
                    k = min(range(len(centres)), key=lambda i: dist(g, centres[i], gro_box))
                    self.assertLess(dist(g, centres[k], gro_box), 0.001)
                    used.add(k)
                    self.assertGreater(min(dist(g, o, gro_box) for o in oxy), 0.35)
                self.assertEqual(len(used), len(guests))
        self.assertEqual(lattice.guest_count(0.5, 3), 2)

    def test_frames(self):
        mols, box = lattice.build("sI", (1, 1, 1), 0.0, False, 3, 0.5)
        frames = lattice.trajectory(mols, box, 5, 0.4, seed=3)
        self.assertEqual(len(frames), 5)
        self.assertEqual(frames[0], mols)
        self.assertEqual(lattice.frame_title(2), "Generated by lattice.py t= 20 step= 10000")
        for f, frame in enumerate(frames):
            self.assertEqual([len(m) for m in frame], [len(m) for m in mols])
            shifts = []
            for before, after in zip(mols, frame):
                d = min_image(before[0], after[0], box)
                shifts.extend(d)
                # Rigid moves: the molecule's shape is kept.
                for k in range(1, len(after)):
                    for m in range(3):
                        self.assertAlmostEqual(after[k][m] - after[0][m],
                                               before[k][m] - before[0][m], places=9)
                self.assertTrue(all(0.0 <= after[0][m] < box[m] for m in range(3)))
            rms = math.sqrt(sum(x * x for x in shifts) / len(shifts))
            # Grows with the frame; close contacts are damped, so a little below sigma.
            self.assertTrue(0.6 * 0.1 * f <= rms <= 1.2 * 0.1 * f + 1e-12, (f, rms))
            # No two oxygens closer than 2.4 A, or than they started.
            o0 = [m[0] for m in mols]
            o = [m[0] for m in frame]
            for i in range(len(o)):
                for j in range(i + 1, len(o)):
                    d0, d = min_image(o0[i], o0[j], box), min_image(o[i], o[j], box)
                    self.assertGreaterEqual(sum(x * x for x in d) + 1e-9,
                                            min(lattice.DISORDER_MIN_OO ** 2, sum(x * x for x in d0)))

    def test_single_cells(self):
        self.assertEqual(len(lattice.si_cell()[0]), 46)
        self.assertEqual(len(lattice.ice_cell()[0]), 8)
        self.assertEqual(len(lattice.sii_cell()[0]), 136)
        self.assertEqual(len(lattice.sh_cell()[0]), 68)

    def test_dual_cage_faces(self):
        """Around each cage centre, the Delaunay edges carry as many
        tetrahedra as the faces of that cage have members (5^12-6^2: twelve
        edges with 5 tetrahedra, two with 6)."""
        cubic = lambda a: ((a, 0.0, 0.0), (0.0, a, 0.0), (0.0, 0.0, a))
        for cages, cell in ((lattice.SI_CAGES, cubic(lattice.SI_A)),
                            (lattice.SII_CAGES, cubic(lattice.SII_A)),
                            (lattice.SH_CAGES, lattice.hex_axes(lattice.SH_A, lattice.SH_C))):
            tets = lattice.delaunay_periodic([f for _, f in cages], cell)
            around = collections.Counter()
            for tet in tets:
                for (i, mi), (j, mj) in itertools.permutations(tet, 2):
                    around[(i, j, tuple(b - a for a, b in zip(mi, mj)))] += 1
            for i, (name, _) in enumerate(cages):
                faces = collections.Counter(n for (k, _, _), n in around.items() if k == i)
                census = "-".join("%d^%d" % kv for kv in sorted(faces.items()))
                self.assertEqual(census, name)

    def test_format(self):
        lines, atoms, box = parse_gro(generate("sI", (1, 1, 1), 0.1, True, 3))
        self.assertEqual(lines[1], "  138")
        for line in lines[2:-1]:
            self.assertEqual(len(line), 44)
            self.assertEqual(line[5:10], "SOL  ")
        self.assertEqual(lines[-1], "   1.20000   1.20000   1.20000")
        self.assertEqual([n for n, _ in atoms[:3]], ["OW", "HW1", "HW2"])
        for name, xyz in atoms:
            if name == "OW":
                self.assertTrue(all(0.0 <= xyz[k] <= box[k] for k in range(3)))

    def test_number_wrapping(self):
        line = lattice.gro_atom_line(100001, "SOL", "HW2", 300003, (1.0, -0.5, 12.3456))
        self.assertEqual(line, "    1SOL    HW2    3   1.000  -0.500  12.346")
        self.assertEqual(lattice.gro_atom_line(99999, "SOL", "OW", 100000, (0, 0, 0))[:20],
                         "99999SOL     OW    0")

    def test_determinism_and_seed(self):
        a = generate("sI", (1, 1, 2), 0.2, True, 5)
        self.assertEqual(a, generate("sI", (1, 1, 2), 0.2, True, 5))
        self.assertNotEqual(a, generate("sI", (1, 1, 2), 0.2, True, 6))

    def test_shuffle_keeps_molecules(self):
        def molecules(text):
            body = text.splitlines()[2:-1]
            return collections.Counter(tuple(l[10:15] + l[20:] for l in body[i:i + 3])
                                       for i in range(0, len(body), 3))
        plain = generate("ice", (2, 2, 2), 0.0, False, 4)
        mixed = generate("ice", (2, 2, 2), 0.0, True, 4)
        self.assertNotEqual(plain, mixed)
        self.assertEqual(molecules(plain), molecules(mixed))

    def test_command_line(self):
        out = subprocess.run([sys.executable, os.path.join(TOOLS, "lattice.py"),
                              "--structure", "ice", "--cells", "2", "1", "1", "--seed", "4"],
                             check=True, capture_output=True, text=True).stdout
        lines = out.splitlines()
        self.assertEqual(lines[0], "ice Ih 2x1x1 generated by kavet lattice tool")
        self.assertEqual(lines[1], "   48")
        self.assertEqual(len(lines), 51)
        out = subprocess.run([sys.executable, os.path.join(TOOLS, "lattice.py"),
                              "--structure", "sH", "--hexagonal", "--guests", "1",
                              "--frames", "2", "--disorder", "0.3"],
                             check=True, capture_output=True, text=True).stdout
        lines = out.splitlines()
        self.assertEqual(len(lines), 2 * (3 + 3 * 34 + 6))
        self.assertEqual(lines[0], "Generated by lattice.py t= 0 step= 0")
        self.assertEqual(lines[111], "Generated by lattice.py t= 10 step= 5000")
        self.assertEqual(len(lines[110].split()), 9)
        out = subprocess.run([sys.executable, os.path.join(TOOLS, "lattice.py"),
                              "--structure", "iceIc", "--one-site"],
                             check=True, capture_output=True, text=True).stdout
        self.assertEqual(out.splitlines()[:2], ["ice Ic one-site 1x1x1 generated by kavet lattice tool", "    8"])
        bad = subprocess.run([sys.executable, os.path.join(TOOLS, "lattice.py"),
                              "--structure", "sI", "--hexagonal"], capture_output=True, text=True)
        self.assertEqual(bad.returncode, 2)


if __name__ == "__main__":
    unittest.main()
