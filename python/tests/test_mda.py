import warnings

import numpy as np
import pandas as pd
import pytest

mda = pytest.importorskip("MDAnalysis")
import kavet  # noqa: E402
import kavet.mda  # noqa: E402
from kavet.mda import CageCensus  # noqa: E402
from conftest import (MELTING, STRUCTURE, gro_frames, gro_names, lammps_types, write_data,  # noqa: E402
                      write_dump)


def write_dcd(path, frames):
    u = mda.Universe(str(STRUCTURE))
    with mda.Writer(str(path), u.atoms.n_atoms) as w:
        for xyz, box, _ in frames:
            u.atoms.positions = xyz
            u.dimensions = list(box) + [90, 90, 90]
            w.write(u.atoms)


def assert_rows_equal(table, expected):
    assert list(table.columns) == list(expected.columns)
    reals = [c for c in expected.columns if c in ("f4", "f3", "q_tet") or c.startswith("qbar_")]
    counts = [c for c in expected.columns if c not in reals]
    assert (table[counts].to_numpy() == expected[counts].to_numpy()).all()
    assert np.allclose(table[reals], expected[reals], atol=1e-4, rtol=0, equal_nan=True)


@pytest.mark.parametrize("fmt", ["dcd", "dump"])
def test_census_of_other_formats_equals_the_command_line(tmp_path, cli_series, fmt):
    frames = gro_frames(MELTING)
    path = tmp_path / f"melting.{fmt}"
    if fmt == "dcd":
        write_dcd(path, frames)
    else:
        write_dump(path, frames, lammps_types(gro_names(STRUCTURE)[1]))
    u = mda.Universe(str(STRUCTURE), str(path), **({"format": "LAMMPSDUMP"} if fmt == "dump" else {}))
    table = CageCensus(u.select_atoms("resname SOL"), threads=2).run().results.series
    assert_rows_equal(table.drop(columns="time_ps"), cli_series.drop(columns="time_ps"))
    # Thermal frames: the library's averaging over the trajectory's frames, whichever frames are analysed.
    for step, dt in ((1, None), (4, 40)):
        census = CageCensus(u.select_atoms("resname SOL"), thermal=True, per_water=True).run(step=step)
        one = kavet.series(STRUCTURE, MELTING, thermal=True, dt=dt, per_water=True)
        assert_rows_equal(census.results.series.drop(columns="time_ps"), one.rows.drop(columns="time_ps"))
        for name in ("chill", "closed_cages", "f4", "q_tet"):
            assert np.allclose(census.results[name], getattr(one, name), atol=1e-4, rtol=0, equal_nan=True), name


# LAMMPS files of types alone: (model, topology, CageCensus keywords). Water types 1 (oxygen) and 2
# (hydrogen), guests type 3; "full" data files hold molecule ids and O-H bonds, "atomic" ones neither.
LAMMPS_CASES = [
    ("aa", "dump", dict(oxygen_type=1, hydrogen_type=2)),   # hydrogens by distance, guests per atom
    ("aa", "full", dict(oxygen_type="1", hydrogen_type=2)),  # by bonds, guests per fragment
    ("aa", "atomic", {}),                                    # oxygens and hydrogens by mass
    ("mw", "dump", dict(nohyd=True)),
    ("mw", "full", dict(nohyd=True)),                        # guests per residue (molecule id)
    ("mw", "atomic", dict(nohyd=True, oxygen_type=1)),
]


@pytest.mark.parametrize("model,topology,keywords", LAMMPS_CASES)
def test_lammps_files_of_types_give_the_rows_of_the_gro_trajectory(tmp_path, lattices, model, topology, keywords):
    gro = lattices[model]
    frames = gro_frames(gro)
    molecules, names = gro_names(gro)
    types = lammps_types(names)
    dump = tmp_path / "run.lammpstrj"
    write_dump(dump, frames, types, steps=[5000 * k for k in range(len(frames))])
    if topology == "dump":
        u = mda.Universe(str(dump), format="LAMMPSDUMP")
    else:
        data = tmp_path / "run.data"
        write_data(data, frames[0][0], frames[0][1], types, molecules if topology == "full" else None)
        style = "id resid type charge x y z" if topology == "full" else "id type x y z"
        u = mda.Universe(str(data), str(dump), format="LAMMPSDUMP", atom_style=style)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        census = CageCensus(u.select_atoms("type 1 2"), guests=u.select_atoms("type 3"), timestep=2.0,
                            per_water=True, cages=True, **keywords).run()
    one_per_atom = [w for w in caught if "counts as one guest" in str(w.message)]
    assert len(one_per_atom) == (topology != "full")
    expected = kavet.series(gro, gro, guest="CH4", nohyd=model == "mw")
    table = census.results.series
    assert table["guests"][0] == 64 and table["mcg1"][0] == 64
    assert_rows_equal(table, expected)
    # Per-water labels count as the census does; the cages' waters and guests are Universe atoms.
    chill = census.results.chill
    assert chill.shape == (len(frames), table["waters"][0]) == census.results.f4.shape
    for label in kavet.ChillLabel:
        assert (np.sum(chill == label, axis=1) == table[f"chill_{label.name.lower()}"]).all()
    assert set(u.atoms[census.results.oxygens].types) == {"1"}
    cages = census.results.cages
    closed = cages[cages.closed & (cages.frame == 0)]
    for row in closed.itertuples():
        assert len(row.guests) == 1 and u.atoms[row.guests].types[0] == "3"
        assert set(u.atoms[row.waters].types) == {"1"}
        d = u.atoms[row.guests].positions[0] - np.array([row.x, row.y, row.z])
        box = u.dimensions[:3]
        assert np.linalg.norm(d - box * np.round(d / box)) < 1.0


def test_frame_of_an_atomgroup_and_six_number_boxes(lattices):
    u = mda.Universe(str(lattices["aa"]))
    frame = kavet.mda.frame(u.select_atoms("resname SOL"), guests=u.select_atoms("resname CH4"))
    reference = kavet.read_gro(lattices["aa"], guest="CH4")
    assert np.array_equal(frame.oxygens, reference.oxygens)
    assert kavet.analyse(frame).census == kavet.analyse(reference).census
    # Six numbers as MDAnalysis gives them, a triclinic cell among them.
    for dims in ([24, 24, 24, 90, 90, 90], [20, 22, 24, 80, 95, 110]):
        box = kavet.Frame(np.zeros((1, 3)), dims, [0]).box
        assert np.allclose(box, kavet.mda.box(dims), atol=1e-5)
    with pytest.raises(ValueError, match="no cell"):
        kavet.Frame(np.zeros((1, 3)), [20, 20, 20, 90, 90, 0], [0])


@pytest.mark.parametrize("select,keywords,message", [
    ("resname SOL and not name HW2", {}, "cannot tell the oxygen and two hydrogens"),
    ("all", {}, "oxygen_type="),                         # types alone: the error names the keywords
    ("all", dict(oxygen_type=7), "no atom of the water selection has the oxygen type 7"),
])
def test_waters_that_cannot_be_told_apart_are_an_error(tmp_path, select, keywords, message):
    if select == "all":
        dump = tmp_path / "types.lammpstrj"
        write_dump(dump, gro_frames(STRUCTURE), [1] * 1104)
        u = mda.Universe(str(dump), format="LAMMPSDUMP")
    else:
        u = mda.Universe(str(STRUCTURE))
    with pytest.raises(ValueError, match=message):
        CageCensus(u.select_atoms(select), **keywords)


def test_time_without_times_warns_that_it_is_the_frame_index(tmp_path):
    dump = tmp_path / "run.lammpstrj"
    write_dump(dump, gro_frames(MELTING)[:2], lammps_types(gro_names(STRUCTURE)[1]), steps=[0, 1000])
    u = mda.Universe(str(STRUCTURE), str(dump), format="LAMMPSDUMP")
    with pytest.warns(UserWarning, match="time_ps is the frame index"):
        assert list(CageCensus(u.select_atoms("resname SOL")).run().results.series["time_ps"]) == [0, 1]
    table = CageCensus(u.select_atoms("resname SOL"), timestep=2).run().results.series
    assert list(table["time_ps"]) == [0, 2]


def test_updating_groups_are_followed_and_empty_runs_keep_the_columns(tmp_path):
    """The rows of an updating selection are those of the same atoms selected at each frame; per_water=True,
    which needs fixed waters, is refused for it; a run of no frames has the columns and types of a run."""
    path = tmp_path / "melting.dcd"
    write_dcd(path, gro_frames(MELTING)[:4])
    u = mda.Universe(str(STRUCTURE), str(path))
    near = "resname SOL and same residue as (name OW and prop x < 20)"
    followed = CageCensus(u.select_atoms(near, updating=True), threads=1).run()
    table = followed.results.series.drop(columns=["born", "died"])
    for f in range(len(table)):
        u.trajectory[f]
        alone = CageCensus(u.select_atoms(near), threads=1).run(start=f, stop=f + 1).results.series
        assert_rows_equal(table.iloc[[f]].reset_index(drop=True), alone.drop(columns=["born", "died"]))
    assert [len(o) for o in followed.results.oxygens] == list(table["waters"]) and table["waters"].nunique() > 1
    with pytest.raises(ValueError, match="per_water"):
        CageCensus(u.select_atoms(near, updating=True), per_water=True)
    runs = [CageCensus(u.select_atoms("resname SOL"), cages=True).run(stop=n).results for n in (0, 1)]
    assert runs[0].series.dtypes.equals(runs[1].series.dtypes) and list(runs[0].cages) == list(runs[1].cages)
