import numpy as np
import pytest

mda = pytest.importorskip("MDAnalysis")
from kavet.mda import CageCensus  # noqa: E402
from conftest import MELTING, STRUCTURE, gro_frames  # noqa: E402


def write_dcd(path, frames):
    u = mda.Universe(str(STRUCTURE))
    with mda.Writer(str(path), u.atoms.n_atoms) as w:
        for xyz, box, _ in frames:
            u.atoms.positions = xyz
            u.dimensions = list(box) + [90, 90, 90]
            w.write(u.atoms)


def write_dump(path, frames):
    """A LAMMPS dump (atom id, type, x, y, z) of the frames, written by hand."""
    with open(path, "w") as f:
        for step, (xyz, box, _) in enumerate(frames):
            f.write(f"ITEM: TIMESTEP\n{step}\nITEM: NUMBER OF ATOMS\n{len(xyz)}\nITEM: BOX BOUNDS pp pp pp\n")
            f.write("".join(f"0 {length:.9g}\n" for length in box))
            f.write("ITEM: ATOMS id type x y z\n")
            f.write("".join(f"{i + 1} {1 if i % 3 == 0 else 2} {x:.9g} {y:.9g} {z:.9g}\n"
                            for i, (x, y, z) in enumerate(xyz)))


@pytest.mark.parametrize("fmt", ["dcd", "dump"])
def test_census_of_other_formats_equals_the_command_line(tmp_path, cli_series, fmt):
    frames = gro_frames(MELTING)
    path = tmp_path / f"melting.{fmt}"
    (write_dcd if fmt == "dcd" else write_dump)(path, frames)
    u = mda.Universe(str(STRUCTURE), str(path), **({"format": "LAMMPSDUMP"} if fmt == "dump" else {}))
    table = CageCensus(u.select_atoms("resname SOL"), threads=2).run().results.series
    assert list(table.columns) == list(cli_series.columns)
    reals = [c for c in cli_series.columns if c in ("time_ps", "f4", "f3", "q_tet") or c.startswith("qbar_")]
    counts = [c for c in cli_series.columns if c not in reals]
    assert (table[counts].to_numpy() == cli_series[counts].to_numpy()).all()
    assert np.allclose(table[reals[1:]], cli_series[reals[1:]], atol=1e-4, rtol=0)


def test_hydrogens_that_cannot_be_told_apart_are_an_error():
    u = mda.Universe(str(STRUCTURE))
    with pytest.raises(ValueError, match="cannot tell the oxygen and two hydrogens"):
        CageCensus(u.select_atoms("resname SOL and not name HW2"))
