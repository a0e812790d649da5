"""Frames from arrays are refused as the command line refuses the same frame."""
import threading

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
EXTRA, MASK = np.vstack([XYZ, BOX / 2]), np.isin(np.arange(len(XYZ)), O)
CASES = {"nan position": ({"positions": NAN}, "not a finite"), "nan box": ({"box": [np.nan, 1, 1]}, "not finite"),
         "infinite box": ({"box": [np.inf, 1, 1]}, "not finite"), "negative box": ({"box": -BOX}, "negative"),
         "angle 180": ({"box": [*BOX, 90, 90, 180]}, "no cell"), "angle 0": ({"box": [*BOX, 0, 90, 90]}, "no cell"),
         "nm": ({"positions": XYZ / 10, "box": BOX / 10}, "never closer than 1 A"),
         "coincident waters": ({"positions": SAME}, "given twice"),
         "hydrogens off by one": ({"hydrogens": (H + 1) % len(XYZ)}, "is a water oxygen"),
         "hydrogen twice": ({"hydrogens": TWICE}, "given twice"),
         "far hydrogen": ({"positions": FAR, "hydrogens": H}, "A from its oxygen, atom 0"),
         "guest a hydrogen": ({"hydrogens": H, "guests": H[:2, 1]}, "atom 2 is a water hydrogen"),
         "guest an oxygen": ({"hydrogens": H, "guests": O[1:3]}, "atom 3 is a water oxygen"),
         "guest twice": ({"positions": EXTRA, "guests": [len(XYZ)] * 2}, "given twice"),
         "mask of hydrogens": ({"hydrogens": H > 0}, "flatnonzero"),
         "short mask": ({"oxygens": MASK[1:]}, "flatnonzero")}


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


class _Unallocatable:
    def __array__(self, dtype=None, copy=None):
        raise MemoryError("no room for the copy")


@pytest.mark.parametrize("argument", ["positions", "box", "oxygens", "hydrogens", "guests"])
def test_masks_are_read_and_failed_copies_are_memory_errors(argument):
    """Boolean masks of oxygens and guests, one value per atom, are read as their indices; an array copy that
    finds no memory is a MemoryError, not an argument of the wrong type."""
    with_guest = kavet.Frame(EXTRA, BOX, MASK.tolist() + [False], guests=np.arange(len(EXTRA)) == len(XYZ))
    assert (with_guest.oxygens == O).all() and with_guest.n_guests == 1
    with pytest.raises(MemoryError, match="no room"):
        kavet.Frame(**{"positions": XYZ, "box": BOX, "oxygens": O, argument: _Unallocatable()})


def test_threads_reading_a_cage_table_at_once_see_one_table():
    for _ in range(3):
        result, start, seen = kavet.analyse(kavet.Frame(XYZ, BOX, O), threads=1), threading.Barrier(4), []
        threads = [threading.Thread(target=lambda: (start.wait(), seen.append(len(result.cage_types))))
                   for _ in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert seen == [64] * 4


def test_suspicious_frames_warn_as_the_command_line_does():
    with pytest.warns(RuntimeWarning, match=r"atom 2 is 1\.5\d\d A from water oxygen atom 1"):
        kavet.Frame(FAR, BOX, O)
