"""Frames from arrays are refused as the command line refuses the same frame."""
import numpy as np
import pytest

import kavet
from conftest import STRUCTURE, gro_frames

XYZ, BOX, _ = gro_frames(STRUCTURE)[0]
O = np.arange(0, len(XYZ), 3)
H = np.stack([O + 1, O + 2], axis=1)
NAN, SAME, FAR, TWICE = (XYZ.copy() for _ in range(4))
NAN[4, 1], SAME[3:6], FAR[1], TWICE = np.nan, XYZ[0:3], XYZ[1] + (XYZ[1] - XYZ[0]) * 0.6, H.copy()
TWICE[0, 1] = H[0, 0]
CASES = {"nan position": ({"positions": NAN}, "not a finite"), "nan box": ({"box": [np.nan, 1, 1]}, "not finite"),
         "infinite box": ({"box": [np.inf, 1, 1]}, "not finite"), "negative box": ({"box": -BOX}, "negative"),
         "angle 180": ({"box": [*BOX, 90, 90, 180]}, "no cell"), "angle 0": ({"box": [*BOX, 0, 90, 90]}, "no cell"),
         "nm": ({"positions": XYZ / 10, "box": BOX / 10}, "never closer than 1 A"),
         "coincident waters": ({"positions": SAME}, "given twice"),
         "hydrogens off by one": ({"hydrogens": (H + 1) % len(XYZ)}, "is a water oxygen"),
         "hydrogen twice": ({"hydrogens": TWICE}, "given twice"),
         "far hydrogen": ({"positions": FAR, "hydrogens": H}, "A from its oxygen, atom 0")}


@pytest.mark.parametrize("change, fragment", CASES.values(), ids=CASES.keys())
def test_bad_frames_are_refused(change, fragment):
    with pytest.raises(ValueError, match=fragment):
        kavet.Frame(**({"positions": XYZ, "box": BOX, "oxygens": O} | change))


def test_bad_boxes_offsets_and_threads_are_refused():
    """MDAnalysis boxes without a cell, tracker blocks whose offsets run outside their arrays, threads above
    the command line's cap."""
    pytest.importorskip("MDAnalysis")
    import kavet.mda
    for dims in ([*BOX, 90, 90, 180], [*BOX, 0, 90, 90], [np.nan, 1, 1, 90, 90, 90], [-1, 1, 1, 90, 90, 90]):
        with pytest.raises(ValueError, match="no cell"):
            kavet.mda.box(dims)
    good = {"columns": ["frame", "time_ps", "born", "died"], "values": np.zeros((2, 4)), "cage_offsets": [0, 1, 2],
            "cage_water_offsets": [0, 2, 4], "cage_waters": np.arange(4, dtype=np.int32)}
    for bad in ({"cage_offsets": [0, 5, 2]}, {"cage_offsets": [0, 2, 1]}, {"cage_water_offsets": [-3, 2, 4]}):
        with pytest.raises(ValueError, match="offsets"):
            kavet._kavet.CageTracker().follow(good | {k: np.array(v) for k, v in bad.items()})
    with pytest.raises(ValueError, match="4096"):
        kavet.analyse(kavet.Frame(XYZ, BOX, O), threads=10**6)
