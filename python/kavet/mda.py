"""The cage census as an MDAnalysis analysis, for every format MDAnalysis reads.

    import MDAnalysis as mda
    from kavet.mda import CageCensus
    u = mda.Universe("topology.data", "traj.dcd")
    census = CageCensus(u.select_atoms("resname SOL"), guests=u.select_atoms("resname CH4")).run()
    census.results.series        # the series mode's table, one row per frame

Topologies without atom names (a LAMMPS dump or data file): select by type and say which type is
which, CageCensus(u.select_atoms("type 1 2"), oxygen_type=1, hydrogen_type=2, guests=u.select_atoms("type 3")).
One-site water (mW): CageCensus(u.select_atoms("type 1"), nohyd=True).
A kavet.Frame of the current frame: kavet.mda.frame(waters, guests=...).
"""
import warnings

import numpy as np
import pandas as pd
from MDAnalysis.analysis.base import AnalysisBase
from MDAnalysis.core.groups import UpdatingAtomGroup
from MDAnalysis.exceptions import NoDataError
from MDAnalysis.lib.distances import capped_distance
from MDAnalysis.lib.mdamath import triclinic_vectors

from . import _DTYPES, _criteria, _kavet

_NO_NAMES = ("the topology has no atom names (a LAMMPS dump or data file names atoms by type): "
             "say which type is which, e.g. CageCensus(u.select_atoms(\"type 1 2\"), oxygen_type=1, "
             "hydrogen_type=2), or for one-site water (mW) CageCensus(u.select_atoms(\"type 1\"), nohyd=True)")


def box(dimensions):
    """The 3x3 cell matrix (rows a, b, c, in angstrom) of MDAnalysis's six numbers a, b, c, alpha, beta,
    gamma, as kavet.Frame takes it."""
    if dimensions is None:
        raise ValueError("the frame has no periodic box (dimensions are None)")
    d = np.asarray(dimensions, dtype=np.float64)
    # triclinic_vectors turns a cell it cannot build into zeros, which would
    # read as "not periodic": refuse such numbers here.
    if d.shape != (6,) or not np.all(np.isfinite(d)) or not np.all(d[:3] > 0) or \
            not np.all((d[3:] > 0) & (d[3:] < 180)):
        raise ValueError(f"box: the dimensions {list(d)} give no cell (lengths above 0 and angles between 0 and "
                         "180 degrees are needed)")
    return triclinic_vectors(np.asarray(dimensions, dtype=np.float32))


def _role(names):
    """'O', 'H' or '' per atom name, after any leading digits (e.g. 1HW)."""
    unique, inverse = np.unique(np.asarray(names, dtype=str), return_inverse=True)
    stripped = np.char.upper(np.char.lstrip(unique, "0123456789"))
    role = np.where(np.char.startswith(stripped, "O"), "O", np.where(np.char.startswith(stripped, "H"), "H", ""))
    return role[inverse].reshape(np.shape(names))


def _types(value):
    """A type or several as a list of strings (MDAnalysis keeps types as strings)."""
    if value is None:
        return []
    return [str(v) for v in (value if isinstance(value, (list, tuple, set, np.ndarray)) else [value])]


def _roles(atoms, oxygen_type=None, hydrogen_type=None):
    """'O', 'H' or '' per atom: from oxygen_type=/hydrogen_type= where given, else from the atom names,
    else from the masses (15-17: oxygen, 0.9-1.1: hydrogen). Raises ValueError naming the keywords when
    the topology has none of these."""
    if oxygen_type is not None or hydrogen_type is not None:
        try:
            types = np.asarray(atoms.types, dtype=str)
        except NoDataError:
            raise ValueError("CageCensus: oxygen_type= and hydrogen_type= need atom types in the topology") from None
        return np.where(np.isin(types, _types(oxygen_type)), "O",
                        np.where(np.isin(types, _types(hydrogen_type)), "H", ""))
    try:
        role = _role(atoms.names)
        if np.any(role == "O"):
            return role
    except NoDataError:
        pass
    try:
        masses = atoms.masses
        role = np.where((masses > 15) & (masses < 17), "O", np.where((masses > 0.9) & (masses < 1.1), "H", ""))
        if np.any(role == "O"):
            return role
    except NoDataError:
        pass
    raise ValueError("CageCensus: cannot tell the water oxygens: " + _NO_NAMES)


def _has_bonds(universe):
    try:
        return len(universe.bonds) > 0
    except (NoDataError, AttributeError):
        return False


def _water_order(waters, oxygen_type=None, hydrogen_type=None):
    """Atom indices as oxygen, hydrogen, hydrogen per water molecule, in oxygen order.

    Which atom is which comes from _roles. Each oxygen's hydrogens are the hydrogens bonded to it where
    the topology has bonds, else those of its residue where every residue holds one oxygen, else the two
    nearest it (within 1.3 angstrom, periodic) in the current frame. A three-atom residue without names
    or masses is taken as oxygen first."""
    if len(waters) == 0:
        raise ValueError("CageCensus: the water selection holds no atoms")
    try:
        role = _roles(waters, oxygen_type, hydrogen_type)
    except ValueError:
        # Three-atom residues, oxygen first (a topology without names, types given or not).
        counts = np.bincount(waters.resindices)
        if oxygen_type is None and len(waters.residues) > 1 and np.all(counts[counts > 0] == 3):
            return waters.indices[np.lexsort((waters.indices, waters.resindices))].reshape(-1, 3)
        raise
    oxygens, hydrogens = waters[role == "O"], waters[role == "H"]
    if len(oxygens) == 0:
        raise ValueError(f"CageCensus: no atom of the water selection has the oxygen type {oxygen_type}")
    if len(hydrogens) != 2 * len(oxygens):
        raise ValueError(
            f"CageCensus: cannot tell the oxygen and two hydrogens of each water: the selection holds "
            f"{len(oxygens)} oxygens and {len(hydrogens)} hydrogens; select the water atoms (with oxygen_type= "
            "and hydrogen_type= for a topology of types), or for one-site water, such as mW, give nohyd=True")
    universe = waters.universe
    if _has_bonds(universe):
        # The oxygen each hydrogen is bonded to.
        position = np.full(universe.atoms.n_atoms, -1)
        position[oxygens.indices] = np.arange(len(oxygens))
        is_h = np.zeros(universe.atoms.n_atoms, dtype=bool)
        is_h[hydrogens.indices] = True
        bonds = universe.bonds.indices
        bonds = np.concatenate([bonds, bonds[:, ::-1]])
        bonds = bonds[(position[bonds[:, 0]] >= 0) & is_h[bonds[:, 1]]]
        owner = np.full(universe.atoms.n_atoms, -1)
        owner[bonds[:, 1]] = position[bonds[:, 0]]
        rows = _pair_up(oxygens, hydrogens, owner[hydrogens.indices])
        if rows is not None:
            return rows
    o_res = oxygens.resindices
    if len(np.unique(o_res)) == len(oxygens):
        # The oxygen of each hydrogen's residue.
        position = np.full(universe.residues.n_residues, -1)
        position[o_res] = np.arange(len(oxygens))
        rows = _pair_up(oxygens, hydrogens, position[hydrogens.resindices])
        if rows is not None:
            return rows
    # The nearest oxygen of each hydrogen, in the current frame.
    pairs, dist = capped_distance(hydrogens.positions, oxygens.positions, 1.3, box=waters.dimensions)
    owner = np.full(len(hydrogens), -1)
    if len(pairs):
        by = np.lexsort((dist, pairs[:, 0]))
        first = by[np.concatenate([[True], pairs[by[1:], 0] != pairs[by[:-1], 0]])]
        owner[pairs[first, 0]] = pairs[first, 1]
    rows = _pair_up(oxygens, hydrogens, owner)
    if rows is None:
        per_o = np.bincount(owner[owner >= 0], minlength=len(oxygens))
        bad = oxygens[np.flatnonzero(per_o != 2)[0]] if np.any(per_o != 2) else hydrogens[np.flatnonzero(owner < 0)[0]]
        raise ValueError(
            f"CageCensus: cannot tell the oxygen and two hydrogens of each water (atom index {bad.index}): "
            "the topology has no O-H bonds, no residue per water, and not two hydrogens within 1.3 angstrom of "
            "every oxygen; give a topology with bonds, or for one-site water, such as mW, nohyd=True")
    return rows


def _pair_up(oxygens, hydrogens, owner):
    """(oxygen, hydrogen, hydrogen) rows from the oxygen (position in `oxygens`, -1 for none) of each
    hydrogen, or None unless every oxygen owns exactly two hydrogens."""
    if np.any(owner < 0) or np.any(np.bincount(owner, minlength=len(oxygens)) != 2):
        return None
    h = hydrogens.indices[np.lexsort((hydrogens.indices, owner))].reshape(-1, 2)
    return np.concatenate([oxygens.indices[:, None], h], axis=1).astype(np.int64)


def _one_site_oxygens(waters, oxygen_type=None):
    """The water sites of a one-site analysis: the atoms of type oxygen_type, or named O..., or all of them
    when none is so named (LAMMPS atom types, say), in index order."""
    if len(waters) == 0:
        raise ValueError("CageCensus: the water selection holds no atoms")
    if oxygen_type is not None:
        oxygens = waters[_roles(waters, oxygen_type) == "O"]
        if len(oxygens) == 0:
            raise ValueError(f"CageCensus: no atom of the water selection has type {oxygen_type}")
    else:
        try:
            oxygens = waters[_role(waters.names) == "O"]
        except NoDataError:
            oxygens = waters[:0]
    return np.sort((oxygens if len(oxygens) else waters).indices).astype(np.int64)


def _guest_atoms(guests, waters):
    """A (guests, atoms) index array: one row per fragment where the Universe has bonds, per residue where
    residues separate the guests (no guest residue holds waters, and there are several, or one guest atom),
    otherwise one atom per guest, with a warning that says so. Every guest needs as many selected atoms."""
    if guests is None or len(guests) == 0:
        return None
    if _has_bonds(guests.universe):
        group = guests.fragindices
    elif (not np.isin(guests.resindices, waters.resindices).any()) and (len(guests.residues) > 1 or len(guests) == 1):
        group = guests.resindices
    else:
        if len(guests) > 1:
            warnings.warn(
                f"CageCensus: the Universe has no bonds and its residues do not separate the guests, so each of "
                f"the {len(guests)} selected guest atoms counts as one guest (right for one-site guests; for "
                "molecules give a topology with bonds or molecule ids, or select one atom per guest)",
                UserWarning, stacklevel=3)
        group = np.arange(len(guests))
    by = np.lexsort((guests.indices, group))
    sizes = np.unique(group, return_counts=True)[1]
    if np.any(sizes != sizes[0]):
        raise ValueError("CageCensus: every guest molecule must hold as many selected atoms "
                         "(select one atom per guest, e.g. the carbon)")
    return guests.indices[by].reshape(-1, sizes[0]).astype(np.int64)


class _Layout:
    """The atoms handed to kavet, in order: each water as O, H, H (or its site alone, one-site), then the
    guests' atoms; with the frame's oxygens and guests in that order. With `keep_guests`, a guest
    selection that is empty now still gives the frame guests (none), and so the guest columns."""

    def __init__(self, waters, guests, nohyd, oxygen_type, hydrogen_type, keep_guests=False):
        if nohyd:
            self.order = _one_site_oxygens(waters, oxygen_type)
            self.oxygens = np.arange(len(self.order), dtype=np.int64)
        else:
            self.order = _water_order(waters, oxygen_type, hydrogen_type).ravel()
            self.oxygens = np.arange(0, len(self.order), 3, dtype=np.int64)
        self.guest_rows = _guest_atoms(guests, waters)
        self.guests = None
        if self.guest_rows is None and guests is not None and keep_guests:
            self.guest_rows = np.zeros((0, 1), dtype=np.int64)
        if self.guest_rows is not None:
            start = len(self.order)
            self.order = np.concatenate([self.order, self.guest_rows.ravel()])
            self.guests = start + np.arange(self.guest_rows.size, dtype=np.int64).reshape(self.guest_rows.shape)

    def frame(self, ts, time):
        if ts.dimensions is None:
            raise ValueError(f"CageCensus: frame {ts.frame} has no periodic box")
        return _kavet.Frame(ts.positions[self.order], box(ts.dimensions), self.oxygens, None, self.guests, time)


def frame(waters, guests=None, nohyd=False, oxygen_type=None, hydrogen_type=None, time=None):
    """A kavet.Frame of the Universe's current frame: its positions, its box (from the six numbers of
    u.dimensions) and its time, with the waters and guests of these AtomGroups chosen as CageCensus chooses
    them. Atom indices in the frame and its results (frame.oxygens, bonds, rings, cage waters) are
    Universe atom indices, except with nohyd=True in a Universe that holds other atoms besides the water
    sites and guests: there they count in kavet.mda.oxygen_indices order, the guests' atoms after."""
    layout = _Layout(waters, guests, nohyd, oxygen_type, hydrogen_type)
    ts = waters.universe.trajectory.ts
    if time is None:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # no times: the frame index, as MDAnalysis gives it
            time = ts.time
    n = waters.universe.atoms.n_atoms
    if nohyd and len(layout.order) != n:
        return layout.frame(ts, time)
    order = layout.order
    oxygens = order[layout.oxygens]
    hydrogens = None if nohyd else np.stack([order[layout.oxygens + 1], order[layout.oxygens + 2]], axis=1)
    return _kavet.Frame(ts.positions, box(ts.dimensions), oxygens, hydrogens, layout.guest_rows, time)


def oxygen_indices(waters, nohyd=False, oxygen_type=None, hydrogen_type=None):
    """The Universe atom indices of the water oxygens (sites), in the order of kavet's per-water arrays."""
    layout = _Layout(waters, None, nohyd, oxygen_type, hydrogen_type)
    return layout.order[layout.oxygens]


class CageCensus(AnalysisBase):
    """kavet's census of every frame: series mode's table as results.series.

    waters: an AtomGroup of the water molecules (oxygens and hydrogens); with nohyd=True, of the water
        oxygens or sites (one-site water such as mW: the atoms of oxygen_type=, or named O..., or every atom
        of the group), analysed by the network of O-O distances alone, F4 not a number.
    oxygen_type, hydrogen_type: the atom types of the water oxygens and hydrogens, for topologies without
        names (LAMMPS); without them, names O.../H... and then masses tell them.
    guests: an AtomGroup of the guests: one per fragment (bonds), per residue, or per atom (with a warning).
    cages: when true, results.cages holds one row per cage and frame.
    per_water: when true, results.chill (int8 CHILL+ codes), results.f4, .f3, .q_tet (float64), .qbar
        ({l: float64}) and .closed_cages (uint8) are frames x waters arrays, their columns the waters of
        results.oxygens (Universe atom indices), as kavet.series(per_water=True) gives them.
    timestep: femtoseconds per MD step; time_ps is then the dump's step x timestep (LAMMPS dumps).
    tol: analysed frames a cage may be missing and keep its id (born, died), as -tol.
    thermal: when true, each frame analysed is its atoms' mean positions over the trajectory's frames around
        it, thermal_half (default 2) on each side, as kavet.series(thermal=True) and -thermal average them
        (the library's averaging; the neighbours are read whatever frames run() analyses).
    threads: threads per frame (0: every core). verbose: a progress bar.
    An updating AtomGroup (select_atoms(..., updating=True)) of waters or guests is followed: each frame
    is analysed with the atoms the group holds then, results.oxygens is then a list of each frame's oxygens,
    cage ids follow cages by their waters' Universe atom indices, and per_water=True is refused (its
    arrays need the same waters in every frame).
    criteria: hb=(distance, angle), ring=(min, max, deviation), cage=(distance, angle), nohyd=True, as
    on the command line. Without nohyd=True a water selection without hydrogens is a ValueError.
    """

    def __init__(self, waters, guests=None, cages=False, per_water=False, threads=0, verbose=False,
                 oxygen_type=None, hydrogen_type=None, timestep=None, tol=0, thermal=False, thermal_half=None,
                 **criteria):
        super().__init__(waters.universe.trajectory, verbose=verbose)
        self._criteria = _criteria(**criteria)
        self._groups = (waters, guests)
        self._updating = any(isinstance(g, UpdatingAtomGroup) for g in self._groups)
        if self._updating and per_water:
            raise ValueError("CageCensus: per_water=True needs the same waters in every frame, and an updating "
                             "AtomGroup (updating=True) changes them; select the waters without updating=True, or "
                             "leave per_water out (the series and results.cages follow the group)")
        self._layout_keywords = (criteria.get("nohyd"), oxygen_type, hydrogen_type, self._updating)
        self._layout = _Layout(waters, guests, *self._layout_keywords)
        self._selected = self._indices()
        self._want_cages = cages
        self._per_water = per_water
        self._threads = threads
        self._timestep = timestep
        self._tol = tol
        self._closed = False  # whether each frame's closed cages are kept (kavet.dask)
        if thermal_half is not None and not thermal:
            raise ValueError("CageCensus: thermal_half= sets the frames averaged by thermal=True: give thermal=True too")
        half = 2 if thermal_half is None else thermal_half
        if thermal and not (isinstance(half, (int, np.integer)) and 1 <= half <= 1000):
            raise ValueError(f"CageCensus: thermal_half= takes a number of frames from 1 to 1000, not {half!r}")
        self._thermal = int(half) if thermal else 0

    def _indices(self):
        return [None if g is None else g.indices.copy() for g in self._groups]

    def _follow_groups(self):
        """The layout of the current frame: prepared again when an updating group holds other atoms now."""
        selected = self._indices()
        if any((a is None) != (b is None) or (a is not None and not np.array_equal(a, b))
               for a, b in zip(selected, self._selected)):
            self._layout = _Layout(*self._groups, *self._layout_keywords)
            self._selected = selected
            self._window.clear()  # thermal frames: the neighbours read again in the new order
        self._frame_oxygens.append(self._layout.order[self._layout.oxygens])

    def _track(self, frame, time, cages):
        """Born and died of this frame's closed cages (their waters' Universe atom indices, ascending)."""
        block = {"columns": ["frame", "time_ps", "born", "died"],
                 "values": np.array([[frame, time, 0, 0]], dtype=np.float64),
                 "cage_offsets": np.array([0, len(cages)], dtype=np.int64),
                 "cage_water_offsets": np.cumsum([0] + [len(c) for c in cages], dtype=np.int64),
                 "cage_waters": np.concatenate(cages + [np.zeros(0, np.int64)]).astype(np.int32)}
        self._tracker.follow(block)
        return int(block["values"][0, 2]), int(block["values"][0, 3])

    def _prepare(self):
        self._frame_oxygens = []
        self._tracker = _kavet.CageTracker(self._tol)
        self._rows = []
        self._cage_tables = []
        self._chill, self._f4, self._f3, self._q_tet, self._qbar, self._cages_of = [], [], [], [], {}, []
        self._closed_cages = []
        self._time_checked = False
        self._window = {}  # frame number -> (positions in the layout's order, cell), for thermal frames

    def _time(self, ts):
        if self._timestep is not None:
            if "step" not in ts.data:
                raise ValueError("CageCensus: timestep= needs the MD step of each frame, which only LAMMPS dumps "
                                 "give; use dt= of mda.Universe instead")
            return ts.data["step"] * self._timestep / 1000.0
        if self._time_checked:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                return ts.time
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            time = ts.time
        self._time_checked = True
        if any("no dt information" in str(w.message) for w in caught):
            warnings.warn("CageCensus: the trajectory holds no times, so time_ps is the frame index; give "
                          "timestep= (fs per MD step) for a LAMMPS dump, or dt= (ps between frames) to "
                          "mda.Universe", UserWarning, stacklevel=4)
        return time

    def _thermal_frame(self, ts, frame):
        """The frame averaged over the trajectory's frames c - H .. c + H (cut at its ends)."""
        c, half = ts.frame, self._thermal
        lo, hi = max(0, c - half), min(len(self._trajectory) - 1, c + half)
        order, window = self._layout.order, self._window
        for k in [k for k in window if not lo <= k <= hi]:
            del window[k]
        window[c] = (ts.positions[order], box(ts.dimensions))
        missing = [k for k in range(lo, hi + 1) if k not in window]
        for k in missing:
            other = self._trajectory[k]
            if other.dimensions is None:
                raise ValueError(f"CageCensus: frame {k} has no periodic box")
            window[k] = (other.positions[order], box(other.dimensions))
        if missing:
            self._trajectory[c]  # the frame analysed back in place: callers may read the Timestep
        frames = range(lo, hi + 1)
        return _kavet.thermal_frame(frame, np.stack([window[k][0] for k in frames]), [window[k][1] for k in frames],
                                    c - lo, half)

    def _single_frame(self):
        ts = self._ts
        if self._updating:
            self._follow_groups()
        time = self._time(ts)
        frame = self._layout.frame(ts, time)
        if self._thermal:
            frame = self._thermal_frame(ts, frame)
        result = _kavet.analyse(frame, self._criteria, self._threads)
        row = result.census
        row["frame"] = ts.frame
        row["time_ps"] = time
        closed = result.cage_closed.astype(bool)
        waters = np.split(result.cage_waters, result.cage_water_offsets[1:-1]) if len(closed) else []
        cages = [np.sort(self._layout.order[w]) for w, c in zip(waters, closed) if c]
        if self._closed:
            self._closed_cages.append(cages)
        else:
            row["born"], row["died"] = self._track(ts.frame, time, cages)
        self._rows.append(row)
        if self._per_water:
            self._chill.append(np.array(result.chill))
            self._f4.append(np.array(result.f4_per_water))
            self._f3.append(np.array(result.f3_per_water))
            self._q_tet.append(np.array(result.q_tet_per_water))
            self._cages_of.append(np.array(result.closed_cages_per_water))
            for l, q in result.qbar_per_water.items():
                self._qbar.setdefault(l, []).append(np.array(q))
        if self._want_cages:
            table = result.cages
            # Universe atom indices, not those of the frame handed to kavet.
            order, rows = self._layout.order, self._layout.guest_rows
            table["waters"] = [order[w] for w in table["waters"]]
            table["guests"] = [rows[g].ravel() if rows is not None else g for g in table["guests"]]
            table.insert(0, "frame", ts.frame)
            table.insert(1, "time_ps", time)
            self._cage_tables.append(table)

    def _conclude(self):
        if self._rows:
            self.results.series = pd.DataFrame(self._rows, columns=list(self._rows[0]))
        else:  # no frame: the columns and their types all the same
            names, kinds = _kavet.census_columns(self._criteria, self._layout.guests is not None)
            self.results.series = pd.DataFrame({n: pd.Series(dtype=_DTYPES[k]) for n, k in zip(names, kinds)})
        self.results.oxygens = (self._frame_oxygens if self._updating
                                else self._layout.order[self._layout.oxygens])
        if self._per_water:
            n = len(self._layout.oxygens)
            self.results.chill = np.array(self._chill, dtype=np.int8).reshape(-1, n)
            self.results.closed_cages = np.array(self._cages_of, dtype=np.uint8).reshape(-1, n)
            for name in ("f4", "f3", "q_tet"):
                self.results[name] = np.array(getattr(self, "_" + name), dtype=np.float64).reshape(-1, n)
            self.results.qbar = {l: np.array(q, dtype=np.float64).reshape(-1, n) for l, q in self._qbar.items()}
        if self._want_cages:
            self.results.cages = (pd.concat(self._cage_tables, ignore_index=True) if self._cage_tables
                                  else pd.DataFrame(columns=["frame", "time_ps", "type", "closed", "x", "y", "z",
                                                             "faces", "cluster", "waters", "rings", "guests"]))
