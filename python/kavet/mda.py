"""The cage census as an MDAnalysis analysis, for every format MDAnalysis reads.

    import MDAnalysis as mda
    from kavet.mda import CageCensus
    u = mda.Universe("topology.data", "traj.dcd")
    census = CageCensus(u.select_atoms("resname SOL"), guests=u.select_atoms("resname CH4")).run()
    census.results.series        # the series mode's table, one row per frame

One-site water (mW, a LAMMPS dump of oxygens alone): CageCensus(u.atoms, nohyd=True).
"""
import numpy as np
import pandas as pd
from MDAnalysis.analysis.base import AnalysisBase
from MDAnalysis.exceptions import NoDataError
from MDAnalysis.lib.mdamath import triclinic_vectors

from . import _criteria, _kavet


def _role(names):
    """'O', 'H' or '' per atom name, after any leading digits (e.g. 1HW)."""
    stripped = np.char.upper(np.char.lstrip(np.asarray(names, dtype=str), "0123456789"))
    return np.where(np.char.startswith(stripped, "O"), "O", np.where(np.char.startswith(stripped, "H"), "H", ""))


def _water_order(waters):
    """Atom indices as oxygen, hydrogen, hydrogen per water molecule (residue), in residue order.

    Hydrogens come from the topology's bonds where it has them, otherwise from the atom names
    (O..., H...), otherwise from the order of a three-atom residue (oxygen first).
    """
    residues = waters.residues
    if len(residues) == 0:
        raise ValueError("CageCensus: the water selection holds no atoms")
    order = []
    try:
        for res in residues:
            atoms = res.atoms.intersection(waters)
            oxygens = [a for a in atoms if _role([a.name])[0] == "O" or getattr(a, "element", "") == "O"]
            if len(oxygens) != 1:
                raise LookupError
            bonded = [a for a in oxygens[0].bonded_atoms if a in atoms]
            if len(bonded) != 2:
                raise LookupError
            order.append([oxygens[0].index, bonded[0].index, bonded[1].index])
        return np.asarray(order, dtype=np.int64)
    except (NoDataError, LookupError):
        pass
    # By name, for every residue at once.
    role = _role(waters.names)
    rank = np.select([role == "O", role == "H"], [0, 1], 2)
    by = np.lexsort((waters.indices, rank, waters.resindices))
    counts = np.bincount(np.searchsorted(residues.resindices, waters.resindices),
                         minlength=len(residues))
    o_count = np.bincount(np.searchsorted(residues.resindices, waters.resindices[role == "O"]),
                          minlength=len(residues))
    h_count = np.bincount(np.searchsorted(residues.resindices, waters.resindices[role == "H"]),
                          minlength=len(residues))
    starts = np.concatenate([[0], np.cumsum(counts)[:-1]])
    if np.all(o_count == 1) and np.all(h_count == 2):
        idx = waters.indices[by]
        return np.stack([idx[starts], idx[starts + 1], idx[starts + 2]], axis=1)
    if np.all(counts == 3):
        idx = waters.indices[np.lexsort((waters.indices, waters.resindices))]
        return idx.reshape(-1, 3)
    bad = residues[(o_count != 1) | (h_count != 2)][0]
    raise ValueError(
        f"CageCensus: cannot tell the oxygen and two hydrogens of water residue {bad.resname} {bad.resid}: "
        "the topology has no O-H bonds for it, its atom names are not one O... and two H..., and it does not "
        "hold exactly three atoms (oxygen first); select the water atoms or give a topology with bonds "
        "(for one-site water, such as mW, give nohyd=True)")


def _one_site_oxygens(waters):
    """The water sites of a one-site analysis: the atoms named O... of the selection, or all of them when
    none is so named (LAMMPS atom types, say), in index order."""
    if len(waters) == 0:
        raise ValueError("CageCensus: the water selection holds no atoms")
    try:
        oxygens = waters[_role(waters.names) == "O"]
    except NoDataError:
        oxygens = waters[:0]
    return np.sort((oxygens if len(oxygens) else waters).indices).astype(np.int64)


def _guest_atoms(guests):
    """A (guests, atoms) index array, one row per guest residue; every guest needs as many atoms."""
    if guests is None or len(guests) == 0:
        return None
    rows = [guests.intersection(r.atoms).indices for r in guests.residues]
    if len({len(r) for r in rows}) != 1:
        raise ValueError("CageCensus: every guest residue must hold as many selected atoms "
                         "(select one atom per guest, e.g. the carbon)")
    return np.sort(np.asarray(rows, dtype=np.int64), axis=1)


class CageCensus(AnalysisBase):
    """kavet's census of every frame: series mode's table as results.series.

    waters: an AtomGroup of the water molecules (oxygens and hydrogens); with nohyd=True, of the water
        oxygens or sites (one-site water such as mW: the atoms named O..., or every atom of the group when
        none is so named), analysed by the network of O-O distances alone, F4 not a number.
    guests: an AtomGroup of guest molecules, one residue each (optional).
    cages: when true, results.cages holds one row per cage and frame.
    threads: threads per frame (0: every core).
    criteria: hb=(distance, angle), ring=(min, max, deviation), cage=(distance, angle), nohyd=True, as
    on the command line. Without nohyd=True a water selection without hydrogens is a ValueError.
    """

    def __init__(self, waters, guests=None, cages=False, threads=0, verbose=False, **criteria):
        super().__init__(waters.universe.trajectory, verbose=verbose)
        self._criteria = _criteria(**criteria)
        guest_rows = _guest_atoms(guests)
        # The frame handed to kavet holds each water as O, H, H (or its oxygen alone, for one-site
        # water), then the guests' atoms.
        if criteria.get("nohyd"):
            self._order = _one_site_oxygens(waters)
            self._oxygens = np.arange(len(self._order), dtype=np.int64)
        else:
            self._order = _water_order(waters).ravel()
            self._oxygens = np.arange(0, len(self._order), 3, dtype=np.int64)
        self._guests = None
        if guest_rows is not None:
            start = len(self._order)
            self._order = np.concatenate([self._order, guest_rows.ravel()])
            self._guests = start + np.arange(guest_rows.size, dtype=np.int64).reshape(guest_rows.shape)
        self._want_cages = cages
        self._threads = threads

    def _prepare(self):
        self._tracker = _kavet.CageTracker()
        self._rows = []
        self._cage_tables = []

    def _single_frame(self):
        ts = self._ts
        if ts.dimensions is None:
            raise ValueError(f"CageCensus: frame {ts.frame} has no periodic box")
        box = triclinic_vectors(ts.dimensions)
        frame = _kavet.Frame(ts.positions[self._order], box, self._oxygens, None, self._guests, ts.time)
        result = _kavet.analyse(frame, self._criteria, self._threads)
        row = result.census
        row["frame"] = ts.frame
        row["time_ps"] = ts.time
        row["born"], row["died"] = self._tracker.add(result, ts.frame, ts.time)
        self._rows.append(row)
        if self._want_cages:
            table = result.cages
            # Atom indices of the universe, not of the frame handed to kavet.
            table["waters"] = [self._order[w] for w in table["waters"]]
            table.insert(0, "frame", ts.frame)
            self._cage_tables.append(table)

    def _conclude(self):
        columns = list(self._rows[0]) if self._rows else []
        self.results.series = pd.DataFrame(self._rows, columns=columns)
        if self._want_cages:
            self.results.cages = (pd.concat(self._cage_tables, ignore_index=True) if self._cage_tables
                                  else pd.DataFrame())
