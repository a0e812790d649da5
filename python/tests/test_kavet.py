import subprocess
import sys

import numpy as np
import pandas as pd
import pytest

import kavet
from conftest import MELTING, ROOT, STRUCTURE, cli_table, gro_frames


def test_series_equals_the_command_line(cli_series):
    table = kavet.series(STRUCTURE, MELTING, nt=2)
    # The CSV rounds real numbers to 6 decimals.
    pd.testing.assert_frame_equal(table, cli_series, check_dtype=False, atol=1e-6)


def test_thermal_frames_equal_the_command_line(tmp_path, kavet_binary):
    cli = cli_table(kavet_binary, tmp_path, STRUCTURE, MELTING, "-thermal", "-thermal-half", "1")
    pd.testing.assert_frame_equal(kavet.series(STRUCTURE, MELTING, thermal=True, thermal_half=1), cli, check_dtype=False,
                                  atol=1e-6)
    with pytest.raises(ValueError, match="thermal=True"):
        kavet.series(STRUCTURE, MELTING, thermal_half=1)


def test_arrays_in_any_order_give_the_gro_analysis():
    """The .gro frame, its atoms shuffled, hydrogens named explicitly and a one-atom guest at every cage
    centre, analyses as the .gro file does, and every closed cage holds one guest."""
    reference = kavet.analyse(kavet.read_gro(STRUCTURE))
    xyz, box, _ = gro_frames(STRUCTURE)[0]
    centres = reference.cage_centres
    n = len(xyz)
    rng = np.random.default_rng(7)
    where = rng.permutation(n + len(centres))  # where[i]: the new index of atom i
    positions = np.empty((len(where), 3))
    positions[where] = np.concatenate([xyz, centres])
    oxygens = where[np.arange(0, n, 3)]
    hydrogens = np.stack([where[np.arange(1, n, 3)], where[np.arange(2, n, 3)]], axis=1)
    frame = kavet.Frame(positions, np.diag(box), oxygens, hydrogens, guests=where[n:])
    result = kavet.analyse(frame, threads=1)

    expected = dict(reference.census)
    got = result.census
    assert got["guests"] == got["guests_caged"] == got["closed"] == expected["closed"]
    assert got["occupied_5^12"] == expected["5^12"] and got["multiply_occupied"] == 0
    assert got.pop("f4") == pytest.approx(expected.pop("f4"), abs=1e-6)
    assert {k: got[k] for k in expected} == expected
    assert np.array_equal(np.sort(result.bonds, axis=1)[np.lexsort(np.sort(result.bonds, axis=1).T[::-1])],
                          np.sort(where[reference.bonds], axis=1)[np.lexsort(np.sort(where[reference.bonds],
                                                                                    axis=1).T[::-1])])
    assert np.all(result.occupancy == 1)
    # Per-water values follow `oxygens`; label codes count as the census's columns do.
    assert np.array_equal(result.chill, reference.chill)
    assert np.allclose(result.f4_per_water, reference.f4_per_water, atol=1e-6)
    for name in ("f3_per_water", "q_tet_per_water"):
        assert np.allclose(getattr(result, name), getattr(reference, name), atol=1e-6, equal_nan=True)
    assert result.qbar_per_water.keys() == {3, 4, 6, 12} and result.qbar[12] == pytest.approx(reference.qbar[12])
    counts = np.bincount(result.chill, minlength=len(kavet.ChillLabel))
    assert {f"chill_{label.name.lower()}": counts[label] for label in kavet.ChillLabel} == \
        {k: v for k, v in got.items() if k.startswith("chill_")}


def test_one_site_water_gives_the_command_lines_nohyd_row(tmp_path, kavet_binary):
    """Oxygens alone: kavet.series, a frame of arrays and MDAnalysis give the row of kavet -nohyd."""
    gro = tmp_path / "si-one-site.gro"
    subprocess.run([sys.executable, str(ROOT / "tools" / "lattice.py"), "--structure", "sI", "--cells", "2", "2", "2",
                    "--displace", "0.1", "--one-site", "-o", str(gro)], check=True)
    cli = cli_table(kavet_binary, tmp_path, gro, gro, "-nohyd")
    assert cli["hbonds"][0] > 0 and cli["closed"][0] > 0 and np.isnan(cli["f4"][0])
    pd.testing.assert_frame_equal(kavet.series(gro, gro, nohyd=True), cli, check_dtype=False, atol=1e-6)

    xyz, box, _ = gro_frames(gro)[0]
    frame = kavet.Frame(xyz, box, np.arange(len(xyz)))
    assert frame.one_site
    with pytest.raises(ValueError, match="nohyd=True"):
        kavet.analyse(frame)
    row = kavet.analyse(frame, nohyd=True).census
    expected = cli.iloc[0].to_dict()
    for k in ("born", "died", "f4"):
        del expected[k]
    # The CSV's real numbers have six decimals.
    assert np.isnan(row["f4"]) and {k: row[k] for k in expected} == pytest.approx(expected, abs=5e-7)
    mda = pytest.importorskip("MDAnalysis")
    from kavet.mda import CageCensus

    u = mda.Universe(str(gro))
    with pytest.raises(ValueError, match="nohyd=True"):
        CageCensus(u.atoms)
    pd.testing.assert_frame_equal(CageCensus(u.atoms, nohyd=True).run().results.series, cli, check_dtype=False,
                                  check_exact=False, atol=5e-7, rtol=0)


def test_errors_carry_kavets_message(tmp_path):
    with pytest.raises(FileNotFoundError, match="cannot open"):
        kavet.read_gro(tmp_path / "missing.gro")
    with pytest.raises(FileNotFoundError, match="cannot open"):
        kavet.series(STRUCTURE, tmp_path / "missing.gro")
    with pytest.raises(ValueError, match="hb= takes numbers"):
        kavet.analyse(kavet.read_gro(STRUCTURE), hb=("near", 30))
    with pytest.raises(ValueError, match="positions"):
        kavet.Frame(np.zeros((4, 2)), [10, 10, 10], [0])
    with pytest.raises(ValueError, match="outside"):
        kavet.Frame(np.zeros((4, 3)), [10, 10, 10], [0, 4])
    bad = tmp_path / "bad.gro"
    bad.write_text("title\n   2\n")
    with pytest.raises(ValueError, match="bad.gro"):
        kavet.read_gro(bad)


def test_cluster_table_equals_the_command_lines(kavet_binary, tmp_path):
    """A hydrate slab in liquid: the Result's cluster table is the -oclusters row (ids apart), spanning 2."""
    slab = ROOT / "tests" / "data" / "sI-interface.gro"
    cli_table(kavet_binary, tmp_path, slab, slab, "-guest", "CH4", "-oclusters", "k.csv")
    cli = pd.read_csv(tmp_path / "k.csv").drop(columns=["frame", "time_ps", "cluster"])
    result = kavet.analyse(kavet.read_gro(slab, guest="CH4"), threads=1)
    got = result.cluster_table.drop(columns=["cluster"])
    pd.testing.assert_frame_equal(got, cli, check_dtype=False, atol=5e-4)
    assert list(got["spans"]) == [2]
    assert (result.closed_cages_per_water > 0).sum() == result.census["hydrate_waters"]


def test_lammps_files_by_type_give_the_rows_of_their_converted_frames():
    data = ROOT / "tests" / "data" / "lammps"
    rows = kavet.series(data / "mw-sI.data", data / "mw-sI.lammpstrj", wat_type=1, nohyd=True, guest_type=[2],
                        timestep=10)
    golden = pd.read_csv(data / "mw-sI.rows.csv")
    pd.testing.assert_frame_equal(rows.drop(columns="f4"), golden.drop(columns="f4"), check_dtype=False, atol=1e-6)
    assert list(rows["time_ps"]) == [0, 2, 4] and set(rows["guests"]) == {64}
    with pytest.raises(ValueError, match="wat_type= takes 1 to 2 LAMMPS atom types"):
        kavet.series(data / "mw-sI.data", data / "mw-sI.lammpstrj", wat_type=(1, 2, 3))
    with pytest.raises(ValueError, match=r"give wat_type=\(OTYPE, HTYPE\)"):
        kavet.series(data / "tip4p-sI.data", data / "tip4p-sI.lammpstrj")


def test_one_version_everywhere(kavet_binary):
    """The program, the module and the package metadata carry the same version."""
    import tomllib

    with open(ROOT / "pyproject.toml", "rb") as f:
        package = tomllib.load(f)["project"]["version"]
    program = subprocess.run([kavet_binary, "--version"], capture_output=True, text=True).stdout.split()[-1]
    assert kavet.__version__ == package == program


def test_ring_arrays_view_the_analysis_and_outlive_the_result():
    """ring_offsets and ring_members are read-only views of the analysis's own rows, not copies: each
    access gives the same memory, and they stay whole after every other reference to the result goes."""
    import gc
    result = kavet.analyse(kavet.read_gro(STRUCTURE), threads=1)
    offsets, members = result.ring_offsets, result.ring_members
    assert offsets.dtype == np.int64 and members.dtype == np.int32
    assert offsets[0] == 0 and offsets[-1] == len(members) and np.all(np.diff(offsets) >= 3)
    for a, again in ((offsets, result.ring_offsets), (members, result.ring_members)):
        assert not a.flags.writeable and not a.flags.owndata and np.shares_memory(a, again)
    rings = [members[offsets[r]:offsets[r + 1]].copy() for r in range(len(offsets) - 1)]
    del result
    gc.collect()
    assert [r.tolist() for r in np.split(members, offsets[1:-1])] == [r.tolist() for r in rings]
    assert all(len(set(r)) == len(r) for r in rings)
