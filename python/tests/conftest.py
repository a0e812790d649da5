import os
import subprocess
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

ROOT = Path(__file__).resolve().parents[2]
STRUCTURE = ROOT / "examples" / "si-2x2x2.gro"
MELTING = ROOT / "examples" / "si-2x2x2-melting.gro"


def gro_frames(path):
    """(positions in angstrom, box lengths in angstrom, time) of every frame of a .gro file, in single
    precision as kavet's reader converts them (float nm times 10)."""
    lines = Path(path).read_text().splitlines()
    frames, i = [], 0
    while i < len(lines):
        n = int(lines[i + 1])
        atoms = lines[i + 2:i + 2 + n]
        ten = np.float32(10)
        xyz = np.array([[a[20 + 8 * k:28 + 8 * k] for k in range(3)] for a in atoms], dtype=np.float32) * ten
        box = np.array(lines[i + 2 + n].split()[:3], dtype=np.float32) * ten
        time = float(lines[i].split("t=")[1].split()[0]) if "t=" in lines[i] else 0.0
        frames.append((xyz, box, time))
        i += n + 3
    return frames


@pytest.fixture(scope="session")
def kavet_binary():
    binary = os.path.abspath(os.environ.get("KAVET_BINARY", ROOT / "build" / "release" / "kavet"))
    if not Path(binary).exists():
        pytest.skip(f"no kavet program at {binary} (set KAVET_BINARY)")
    return binary


def cli_table(binary, work, structure, trajectory, *options):
    """The command line's -ot table of a series run, in the folder `work`."""
    subprocess.run([binary, "-f", str(structure), "-t", str(trajectory), "-ot", "series.csv", *options],
                   cwd=work, check=True, capture_output=True)
    return pd.read_csv(Path(work) / "series.csv", comment="#")  # -thermal's first line is a comment


@pytest.fixture(scope="session")
def cli_series(tmp_path_factory, kavet_binary):
    """The command line's -ot table of the bundled melting trajectory."""
    return cli_table(kavet_binary, tmp_path_factory.mktemp("cli"), STRUCTURE, MELTING, "-nt", "2")


def gro_names(path):
    """(residue number, atom name) of every atom of the first frame of a .gro file."""
    lines = Path(path).read_text().splitlines()
    atoms = lines[2:2 + int(lines[1])]
    return [int(a[:5]) for a in atoms], [a[10:15].strip() for a in atoms]


def lammps_types(names):
    """LAMMPS types of .gro atom names: 1 water oxygen, 2 hydrogen, 3 anything else (guests)."""
    return [1 if n.startswith("O") else 2 if n.startswith("H") else 3 for n in names]


def write_dump(path, frames, types, steps=None):
    """A LAMMPS dump custom (id type x y z) of the frames, atoms written in reverse id order."""
    with open(path, "w") as f:
        for k, (xyz, box, _) in enumerate(frames):
            f.write(f"ITEM: TIMESTEP\n{k if steps is None else steps[k]}\nITEM: NUMBER OF ATOMS\n{len(xyz)}\n"
                    "ITEM: BOX BOUNDS pp pp pp\n" + "".join(f"0 {length:.9g}\n" for length in box))
            f.write("ITEM: ATOMS id type x y z\n")
            f.write("".join(f"{i + 1} {types[i]} {x:.9g} {y:.9g} {z:.9g}\n"
                            for i, (x, y, z) in reversed(list(enumerate(xyz)))))


def write_data(path, xyz, box, types, molecules=None):
    """A LAMMPS data file: atom_style full (molecule ids, O-H bonds of each water) when molecules are
    given, else atomic."""
    masses = {1: 15.9994, 2: 1.008, 3: 16.043}
    atoms = list(enumerate(zip(types, molecules or [0] * len(types))))
    oxygen = {m: i for i, (t, m) in atoms if t == 1}
    bonds = [(oxygen[m] + 1, i + 1) for i, (t, m) in atoms if t == 2] if molecules is not None else []
    lines = ["kavet test", "", f"{len(xyz)} atoms", f"{max(types)} atom types"]
    lines += [f"{len(bonds)} bonds", "1 bond types"] if bonds else []
    lines += [""] + [f"0 {length:.9g} {lo}lo {lo}hi" for length, lo in zip(box, "xyz")]
    lines += ["", "Masses", ""] + [f"{t} {masses[t]}" for t in range(1, max(types) + 1)] + ["", "Atoms", ""]
    for i, (p, t) in enumerate(zip(xyz, types)):
        middle = f"{molecules[i]} {t} 0.0" if molecules is not None else f"{t}"
        lines.append(f"{i + 1} {middle} {p[0]:.9g} {p[1]:.9g} {p[2]:.9g}")
    if bonds:
        lines += ["", "Bonds", ""] + [f"{k + 1} 1 {a} {b}" for k, (a, b) in enumerate(bonds)]
    Path(path).write_text("\n".join(lines) + "\n")


@pytest.fixture(scope="session")
def lattices(tmp_path_factory):
    """Three-frame sI trajectories of growing disorder with a one-site guest in every cage (steps of
    5000 at 2 fs: 10 ps apart), all-atom and one-site (mW-like)."""
    work = tmp_path_factory.mktemp("lattices")
    paths = {}
    for kind, extra in (("aa", []), ("mw", ["--one-site"])):
        paths[kind] = work / f"{kind}.gro"
        subprocess.run(["/usr/bin/python3", str(ROOT / "tools" / "lattice.py"), "--cells", "2", "2", "2",
                        "--guests", "1", "--displace", "0.1", "--frames", "3", "--disorder", "0.3", *extra,
                        "-o", str(paths[kind])], check=True)
    return paths
