import numpy as np
import pandas as pd
import pytest

import kavet
from conftest import MELTING, STRUCTURE, gro_frames


def test_series_equals_the_command_line(cli_series):
    table = kavet.series(STRUCTURE, MELTING, nt=2)
    pd.testing.assert_frame_equal(table, cli_series, check_dtype=False)


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
