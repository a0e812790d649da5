"""kavet: hydrogen-bond rings and polyhedral cages of water and hydrate frames.

    import kavet
    frame = kavet.read_gro("examples/si-2x2x2.gro")          # or kavet.Frame(positions, box, oxygens, ...)
    result = kavet.analyse(frame, threads=2)
    result.census["closed"], result.bonds, result.rings, result.cages

    table = kavet.series("examples/si-2x2x2.gro", "examples/si-2x2x2-melting.gro", nt=2)

Positions and lengths are in angstrom, times in ps, atom indices count from 0.
"""
import enum as _enum
import os as _os
import warnings as _warnings

import numpy as _np

from ._kavet import Frame, Result
from . import _kavet

__all__ = ["Frame", "Result", "ChillLabel", "read_gro", "analyse", "series"]

# The criteria, named and counted as the command line's -hb, -ring, -cage and -nohyd (a flag: 0 values).
CRITERIA = {"hb": 2, "ring": 3, "cage": 2, "nohyd": 0}
# Options whose values are numbers (the command line reads anything else as 0).
_NUMERIC = {"hb", "ring", "cage", "nt", "b", "e", "dt", "timestep"}
# Series mode's further options; None: one number or a sequence of them (LAMMPS atom types).
SERIES_OPTIONS = dict(CRITERIA, guest=1, nt=1, b=1, e=1, dt=1, wat=1, oxy=1, wat_type=None, guest_type=None, timestep=1)
# Atom types: whole numbers from 1, at most this many.
_TYPES = {"wat_type": 2, "guest_type": 64}


def _arguments(options, allowed):
    """Command-line arguments for keyword options, e.g. hb=(3.5, 30) -> -hb 3.5 30."""
    args = []
    for name, value in options.items():
        if name not in allowed:
            raise TypeError(f"unknown option {name}=; kavet takes {', '.join(sorted(allowed))}")
        count = allowed[name]
        if count == 0:  # a flag, given when true
            if value:
                args.append("-" + name)
            continue
        if count is None:
            values = list(value) if isinstance(value, (list, tuple, _np.ndarray)) else [value]
            if not 1 <= len(values) <= _TYPES[name] or not all(
                    isinstance(v, (int, _np.integer)) and not isinstance(v, bool) and v >= 1 for v in values):
                raise ValueError(f"option {name}= takes 1 to {_TYPES[name]} LAMMPS atom types (whole numbers "
                                 f"from 1), not {value!r}")
            args.append("-" + name.replace("_", "-"))
            args.extend(str(int(v)) for v in values)
            continue
        values = [value] if count == 1 else list(value)
        if len(values) != count:
            raise ValueError(f"option {name}= takes {count} values, not {len(values)}")
        if name in _NUMERIC:
            for v in values:
                try:
                    float(v)
                except (TypeError, ValueError):
                    raise ValueError(f"option {name}= takes numbers, not {v!r}") from None
        args.append("-" + name)
        args.extend(str(v) for v in values)
    return args


def _series_arguments(structure, trajectory, options):
    return ["-f", _os.fspath(structure), "-t", _os.fspath(trajectory)] + _arguments(options, SERIES_OPTIONS)


# The CHILL+ label codes of Result.chill (and of the chill column of the command line's -oview file).
ChillLabel = _enum.IntEnum("ChillLabel", {name.upper(): code for code, name in enumerate(_kavet.CHILL_LABELS)})
ChillLabel.__doc__ = "CHILL+ labels by code: " + ", ".join(f"{c} {n}" for c, n in enumerate(_kavet.CHILL_LABELS))


def read_gro(path, water="SOL", oxygen="OW", guest=None, nohyd=False):
    """The first frame of a .gro file. Water oxygens: atoms named `oxygen` in residues named `water`;
    guests: the molecules of residue name `guest`, if given. Each water's hydrogens are found as the
    command line finds them; with nohyd=True none are read (one-site water, analysed with nohyd=True)."""
    return _kavet.read_gro(_os.fspath(path), water, oxygen, guest, bool(nohyd))


def analyse(frame, threads=0, **criteria):
    """Analyses one frame with series mode's criteria and returns a Result.

    criteria: hb=(distance, angle), ring=(min, max, deviation), cage=(distance, angle),
    as the command line's -hb, -ring and -cage; nohyd=True for the network of O-O distances alone (-nohyd),
    which a frame of one-site water needs (F4 is then not a number). threads: 0 for every core.
    The interpreter lock is released while the frame is analysed.
    """
    return _kavet.analyse(frame, _arguments(criteria, CRITERIA), threads)


def _table(out):
    import pandas as pd

    table = pd.DataFrame(out["values"], columns=out["columns"])
    for name, kind in zip(out["columns"], out["kinds"]):
        if kind == "count":
            table[name] = table[name].astype("int64")
    for w in out["warnings"][:10]:
        _warnings.warn(w, RuntimeWarning, stacklevel=3)
    return table


def series(structure, trajectory, **options):
    """Series mode in this process: a pandas DataFrame with the columns and values of the -ot CSV file.

    options as on the command line: guest="CH4", nt=2, b=, e=, dt= (ps), hb=, ring=, cage=, wat=, oxy=,
    nohyd=True (one-site water); for LAMMPS dumps and data files, wat_type=OTYPE or (OTYPE, HTYPE),
    guest_type=TYPE or a sequence of types, timestep= (fs per step, default 1).
    """
    return _table(_kavet.series_rows(_series_arguments(structure, trajectory, options)))


def _split(offsets, members):
    return _np.split(members, offsets[1:-1]) if len(offsets) > 1 else []


def _cages(self):
    """One row per cage: type, closed, centre, faces, cluster, and its waters, rings and guests as arrays."""
    import pandas as pd

    centres = self.cage_centres
    return pd.DataFrame({
        "type": self.cage_types,
        "closed": self.cage_closed.astype(bool),
        "x": centres[:, 0], "y": centres[:, 1], "z": centres[:, 2],
        "faces": self.cage_faces,
        "cluster": self.cage_cluster,
        "waters": _split(self.cage_water_offsets, self.cage_waters),
        "rings": _split(self.cage_ring_offsets, self.cage_rings),
        "guests": _split(self.cage_guest_offsets, self.cage_guests),
    })


Result.rings = property(lambda self: _split(self.ring_offsets, self.ring_members),
                        doc="The rings, each an array of its oxygens' atom indices.")
Result.cages = property(_cages, doc=_cages.__doc__)
Result.occupancy = property(lambda self: _np.diff(self.cage_guest_offsets),
                            doc="Guests inside each cage (0 for a cage that is not closed).")
Result.f4 = property(lambda self: self.census["f4"], doc="The four-body order parameter F4.")
Result.n_clusters = property(lambda self: self.census["clusters"],
                             doc="Clusters of closed cages sharing a face.")
Result.largest_cluster = property(lambda self: self.census["largest_cluster"],
                                  doc="Cages in the largest cluster.")
