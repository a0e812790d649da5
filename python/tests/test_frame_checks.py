"""Frames from arrays are refused as the command line refuses the same frame."""
import numpy as np
import pytest

import kavet
from conftest import STRUCTURE, gro_frames

XYZ, BOX, _ = gro_frames(STRUCTURE)[0]
N = len(XYZ)
OXYGENS = np.arange(0, N, 3)
HYDROGENS = np.stack([OXYGENS + 1, OXYGENS + 2], axis=1)


def _nan(xyz):
    xyz[4, 1] = np.nan
    return xyz


def _coincident(xyz):
    xyz[3:6] = xyz[0:3]
    return xyz


def _far(xyz):
    xyz[1] += (xyz[1] - xyz[0]) * 0.6  # 1.6 A from its oxygen
    return xyz


def _h(change):
    h = HYDROGENS.copy()
    change(h)
    return h


CASES = [
    ("nan position", dict(positions=_nan(XYZ.copy())), "not a finite number"),
    ("infinite box", dict(box=np.array([np.inf, BOX[1], BOX[2]])), "not finite"),
    ("nan box", dict(box=np.array([np.nan, BOX[1], BOX[2]])), "not finite"),
    ("negative box", dict(box=-BOX), "negative"),
    ("angle 180", dict(box=np.array([*BOX, 90, 90, 180])), "give no cell"),
    ("angle 0", dict(box=np.array([*BOX, 0, 90, 90])), "give no cell"),
    ("nm, not A", dict(positions=XYZ / 10, box=BOX / 10), "never closer than 1 A"),
    ("coincident waters", dict(positions=_coincident(XYZ.copy())), "a molecule given twice"),
    ("hydrogens off by one", dict(hydrogens=(HYDROGENS + 1) % N), "is a water oxygen"),
    ("hydrogen twice", dict(hydrogens=_h(lambda h: h.__setitem__((0, 1), h[0, 0]))), "given twice"),
    ("far hydrogen", dict(positions=_far(XYZ.copy()), hydrogens=HYDROGENS), "from its oxygen"),
]


@pytest.mark.parametrize("change, fragment", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_bad_frames_are_refused(change, fragment):
    given = dict(positions=XYZ, box=BOX, oxygens=OXYGENS, hydrogens=None) | change
    with pytest.raises(ValueError, match=fragment):
        kavet.Frame(**given)


def test_mdanalysis_boxes_without_a_cell_are_refused():
    pytest.importorskip("MDAnalysis")
    import kavet.mda
    for dims in ([*BOX, 90, 90, 180], [*BOX, 0, 90, 90], [np.nan, *BOX[1:], 90, 90, 90], [-1, 1, 1, 90, 90, 90]):
        with pytest.raises(ValueError, match="give no cell"):
            kavet.mda.box(dims)


def test_tracker_refuses_blocks_with_bad_offsets():
    from kavet import _kavet
    columns = ["frame", "time_ps", "born", "died"]
    good = dict(columns=columns, values=np.zeros((2, 4)), cage_offsets=np.array([0, 1, 2]),
                cage_water_offsets=np.array([0, 2, 4]), cage_waters=np.arange(4, dtype=np.int32))
    for key, bad in (("cage_offsets", [0, 5, 2]), ("cage_offsets", [0, 2, 1]),
                     ("cage_water_offsets", [0, 10**9, 4]), ("cage_water_offsets", [-3, 2, 4])):
        block = good | {key: np.array(bad)}
        with pytest.raises(ValueError, match="offsets"):
            _kavet.CageTracker().follow(block)


def test_threads_above_the_cap_are_refused():
    with pytest.raises(ValueError, match="4096"):
        kavet.analyse(kavet.Frame(XYZ, BOX, OXYGENS), threads=10**6)
