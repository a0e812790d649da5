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
import sys as _sys
import warnings as _warnings

import numpy as _np

from ._kavet import Frame, Result
from . import _kavet

__version__ = _kavet.__version__

__all__ = ["Frame", "Result", "ChillLabel", "SeriesResult", "read_gro", "read_table", "analyse", "series"]

# The criteria keywords: how many values each takes and of which type (nohyd: a flag).
CRITERIA = {"hb": (float, float), "ring": (int, int, float), "cage": (float, float), "nohyd": ()}
# Series keywords beside the criteria: keyword -> (field of SeriesOptions, type).
_SERIES_FIELDS = {
    "wat": ("water", str), "oxy": ("oxygen", str), "n": ("index_file", "path"),
    "wat_group": ("water_group", str), "traj_group": ("saved_group", str),
    "b": ("begin", float), "e": ("end", float), "dt": ("step", float), "tol": ("tolerance", int),
    "timestep": ("timestep", float),
}
# The files of the command line's options (-ocages, ...): keyword -> (field of SeriesFileNames, attribute of
# SeriesResult). True reads the table from a file of its own that is removed afterwards.
_SERIES_FILES = {"ocages": ("cages", "cages"), "oguests": ("guests", "residence"),
                 "oclusters": ("clusters", "clusters"), "olife": ("lifetimes", "lifetimes"),
                 "oprofile": ("profile", "profile"), "oview": ("view", "view")}
# The keywords of the rows (kavet.series, and each block of kavet.dask.series), then those of kavet.series's
# files, per-water arrays and progress, which one whole run in this process gives.
SERIES_OPTIONS = sorted(set(CRITERIA) | set(_SERIES_FIELDS) | {
    "guest", "guest_group", "guest_type", "wat_type", "nt", "qbar", "thermal", "thermal_half"})
SERIES_RUN_OPTIONS = sorted(set(_SERIES_FILES) | {"ot", "profile", "per_water", "verbose"})


def _types(name, value, most):
    """LAMMPS atom types: one whole number from 1, or a sequence of 1 to `most` of them."""
    values = list(value) if isinstance(value, (tuple, list, _np.ndarray)) else [value]
    if not 1 <= len(values) <= most or not all(
            isinstance(v, (int, _np.integer)) and not isinstance(v, bool) and v >= 1 for v in values):
        raise ValueError(f"{name}= takes 1 to {most} LAMMPS atom types (whole numbers from 1), not {value!r}")
    return [int(v) for v in values]


def _number(name, value, kind):
    if isinstance(value, (str, bytes, bool)) or value is None:
        raise ValueError(f"{name}= takes numbers, not {value!r}")
    try:
        number = kind(value)
    except (TypeError, ValueError, OverflowError):
        raise ValueError(f"{name}= takes numbers, not {value!r}") from None
    if kind is int and number != value:
        raise ValueError(f"{name}= takes a whole number, not {value!r}")
    if not _np.isfinite(number):
        raise ValueError(f"{name}= takes a finite number, not {value!r}")
    return number


def _criteria(**options):
    """A Criteria (the series preset: the sealed line of sight) from the keywords hb=, ring=, cage=, nohyd=."""
    c = _kavet.Criteria()
    for name, value in options.items():
        if name not in CRITERIA:
            raise TypeError(f"unknown keyword {name}=; the criteria are {', '.join(sorted(CRITERIA))}")
        kinds = CRITERIA[name]
        if not kinds:
            c.nohyd = bool(value)
            continue
        values = list(value) if isinstance(value, (tuple, list, _np.ndarray)) else None
        if values is None or len(values) != len(kinds):
            raise ValueError(f"{name}= takes {len(kinds)} numbers, such as {name}=("
                             + ", ".join("3" if k is int else "3.5" for k in kinds) + f"), not {value!r}")
        numbers = [_number(name, v, k) for v, k in zip(values, kinds)]
        if name == "hb":
            c.hb_distance, c.hb_angle = numbers
        elif name == "ring":
            if not 3 <= numbers[0] <= numbers[1] <= 127:
                raise ValueError(f"ring=: the ring sizes must satisfy 3 <= min <= max <= 127, not {value!r}")
            c.ring_min, c.ring_max, c.ring_deviation = numbers
        else:
            c.cage_distance, c.cage_angle = numbers
    return c


def _series_options(structure, trajectory, options):
    """SeriesOptions and the thread count from kavet.series's keywords."""
    o = _kavet.SeriesOptions()
    o.structure, o.trajectory = _os.fspath(structure), _os.fspath(trajectory)
    unknown = set(options) - set(SERIES_OPTIONS)
    if unknown:
        name = sorted(unknown)[0]
        if name in SERIES_RUN_OPTIONS:
            raise TypeError(f"{name}= belongs to kavet.series's whole run in one process, not to blocks of frames")
        raise TypeError(f"unknown keyword {name}=; kavet.series takes {', '.join(SERIES_OPTIONS + SERIES_RUN_OPTIONS)}")
    o.criteria = _criteria(**{k: v for k, v in options.items() if k in CRITERIA})
    for name, (field, kind) in _SERIES_FIELDS.items():
        if options.get(name) is None:
            continue
        value = options[name]
        if kind is str:
            if not isinstance(value, str):
                raise ValueError(f"{name}= takes a name, not {value!r}")
        elif kind == "path":
            value = _os.fspath(value)
        else:
            value = _number(name, value, kind)
        setattr(o, field, value)
    if options.get("wat_type") is not None:
        types = _types("wat_type", options["wat_type"], 2)
        o.oxygen_type, o.hydrogen_type = types[0], types[1] if len(types) > 1 else 0
    guest, group = options.get("guest"), options.get("guest_group")
    if options.get("guest_type") is not None:
        if guest is not None or group is not None:
            raise ValueError("give the guests one way: by atom type (guest_type=), by residue name (guest=) or by "
                             "index group (guest_group=)")
        o.guest_types = _types("guest_type", options["guest_type"], 64)
        o.has_guest, o.guest_name = True, "GST"
    if guest is not None and group is not None:
        raise ValueError("give the guests either by residue name (guest=) or by index group (guest_group=)")
    for name, value in (("guest", guest), ("guest_group", group)):
        if value is None:
            continue
        if not isinstance(value, str):
            raise ValueError(f"{name}= takes a name, not {value!r}")
        o.has_guest, o.guest_name = True, value
        if name == "guest_group":
            o.guest_group = value
    if options.get("qbar") is not None:  # degrees of q-bar_l besides 3, 4, 6 and 12
        degrees = options["qbar"]
        degrees = [degrees] if isinstance(degrees, int) and not isinstance(degrees, bool) else list(degrees)
        degrees = [_number("qbar", l, int) for l in degrees]
        if not all(0 <= l <= 64 for l in degrees):
            raise ValueError(f"qbar= takes degrees l from 0 to 64, not {options['qbar']!r}")
        o.qbar_degrees = degrees
    thermal, half = options.get("thermal"), options.get("thermal_half")
    if half is not None and not thermal:
        raise ValueError("thermal_half= sets the frames averaged by thermal=True: give thermal=True too")
    if thermal:
        o.thermal_half = 2 if half is None else _number("thermal_half", half, int)
        if not 1 <= o.thermal_half <= 1000:
            raise ValueError(f"thermal_half= takes a number of frames from 1 to 1000, not {half!r}")
    threads = _number("nt", options.get("nt", 0), int)
    return o, threads


class SeriesResult:
    """What kavet.series gives when tables or per-water arrays are asked for.

    rows: the DataFrame kavet.series returns otherwise (the -ot columns).
    cages, residence, clusters, lifetimes, profile: the tables of -ocages, -oguests, -oclusters, -olife and
        -oprofile as DataFrames (None unless asked for): the columns and values of the command line's files,
        atom numbers from 1 as there; the columns that list numbers (waters, rings, guests) as int64 arrays.
    view: the path of the -oview file, or None.
    per_water=True: oxygens (atom indices, from 0, of the waters' oxygens: the columns of every per-water
        array), chill (int8 CHILL+ codes, kavet.ChillLabel), f4, f3, q_tet (float64, nan where not defined),
        qbar ({l: float64}), closed_cages (uint8, closed cages each water is a vertex of): frames x waters.
    """

    def __init__(self, rows, tables, per_water):
        self.rows = rows
        for name, attribute in _SERIES_FILES.values():
            setattr(self, attribute, tables.get(name))
        arrays = per_water or {}
        for name in ("oxygens", "chill", "f4", "f3", "q_tet", "qbar", "closed_cages"):
            setattr(self, name, arrays.get(name))

    def __repr__(self):
        given = [a for a in ("cages", "residence", "clusters", "lifetimes", "profile", "view", "chill")
                 if getattr(self, a) is not None]
        return f"<kavet.SeriesResult: {len(self.rows)} rows; {', '.join(given) or 'no tables'}>"


def read_table(path):
    """A table of a series run's files (-ocages, -oguests, -oclusters, -olife, -oprofile; CSV, or the JSON
    lines of an -ocages .jsonl file) as kavet.series gives it: the file's columns and values, the fields that
    list numbers (waters, rings, guests) as int64 arrays; a .jsonl file gives what its CSV file would."""
    import pandas as pd

    path = _os.fspath(path)
    lists = ("waters", "rings", "guests")
    if path.endswith(".jsonl"):
        table = pd.read_json(path, lines=True, dtype=False)
        if table.empty:
            return table
        table["closed"] = table["closed"].astype(_np.int64)  # 1 or 0, as in the CSV file
    else:
        header = open(path).readline().rstrip("\n").split(",")
        table = pd.read_csv(path, dtype={c: str for c in lists if c in header}, keep_default_na=False)
    for c in lists:
        if c in table.columns:
            table[c] = [_np.array(v.split() if isinstance(v, str) else v, dtype=_np.int64) for v in table[c]]
    return table


class _Progress:
    """A progress line on standard error, in the manner of MDAnalysis's verbose=True (tqdm): the share of
    the trajectory read, with the frames analysed."""

    def __init__(self):
        try:
            from tqdm import tqdm
        except ImportError:  # a plain line instead
            self._bar = None
            return
        self._bar = tqdm(total=100, desc="kavet.series: 0 frames", unit="%", leave=True,
                         bar_format="{desc} {percentage:3.0f}%|{bar}| [{elapsed}<{remaining}]")

    def __call__(self, done, fraction):
        if self._bar is None:
            read = f", {100 * fraction:.0f}% of the trajectory read" if fraction >= 0 else ""
            print(f"\rkavet.series: {done} frames{read}", end="", file=_sys.stderr, flush=True)
            return
        if fraction >= 0:
            self._bar.n = round(100 * fraction, 1)
        self._bar.set_description_str(f"kavet.series: {done} frames", refresh=True)

    def close(self):
        if self._bar is None:
            print(file=_sys.stderr, flush=True)
        else:
            self._bar.close()


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
    return _kavet.analyse(frame, _criteria(**criteria), threads)


_DTYPES = {"count": "int64", "time": "float64", "real": "float64"}


def _table(out):
    """A DataFrame of series rows, its columns and dtypes from the library's column table; the run's
    warnings (the first ten, then their count) as RuntimeWarning."""
    import pandas as pd

    table = pd.DataFrame(out["values"], columns=out["columns"])
    table = table.astype({name: _DTYPES[kind] for name, kind in zip(out["columns"], out["kinds"])})
    warnings = out["warnings"]
    for w in warnings[:10]:
        _warnings.warn(w, RuntimeWarning, stacklevel=3)
    if len(warnings) > 10:
        _warnings.warn(f"... and {len(warnings) - 10} more such warnings", RuntimeWarning, stacklevel=3)
    return table


def series(structure, trajectory, **options):
    """Series mode in this process: a pandas DataFrame with the columns of the -ot CSV file, one row per
    frame analysed (counts as integers; times and F4 at full precision, where the CSV rounds F4 to 6 places).

    Keywords, named as the command line's options: guest="CH4" (residue name) or guest_group= (index group),
    nt=2 (threads; 0 every core), b=, e=, dt= (ps), tol= (frames a cage may be missing and keep its id),
    wat=, oxy= (water residue and oxygen names), n= (index file) with wat_group=, traj_group=, and the
    criteria hb=(distance, angle), ring=(min, max, deviation), cage=(distance, angle), nohyd=True
    (one-site water). LAMMPS dumps and data files: wat_type=OTYPE or (OTYPE, HTYPE), guest_type=TYPE or a
    sequence of types, timestep= (fs per step, default 1),
    thermal=True (thermal frames: each frame as its atoms' mean positions over the
    frames around it, as -thermal) with thermal_half= (frames on each side, default 2). What the command line refuses raises ValueError (a run that analyses no frame
    too); what it warns of comes as RuntimeWarning.

    Files and tables: ot= (a path: the series file, as -ot), and ocages=, oguests=, oclusters=, olife=,
    oprofile= (with profile=(axis, width), axis "x", "y" or "z"), oview=: True for the table as a DataFrame,
    or a path, where the command line's file is written (and read back). With any of these but ot=, or
    per_water=True (frames x waters arrays), a SeriesResult comes back instead of the DataFrame.
    verbose=True: a progress line on standard error.
    """
    import tempfile

    options = dict(options)
    asked = {k: options.pop(k) for k in list(options) if k in _SERIES_FILES}
    asked = {k: v for k, v in asked.items() if v is not None and v is not False}
    for keyword, value in asked.items():
        if value is not True and not isinstance(value, (str, _os.PathLike)):
            raise ValueError(f"{keyword}= takes True (the table) or the path of its file, not {value!r}")
    series_path, slabs = options.pop("ot", None), options.pop("profile", None)
    per_water, verbose = bool(options.pop("per_water", False)), bool(options.pop("verbose", False))
    o, threads = _series_options(structure, trajectory, options)
    names = _kavet.SeriesFileNames()
    if series_path is not None:
        names.series = _os.fspath(series_path)
    if slabs is not None:
        if "oprofile" not in asked:
            raise ValueError("profile= sets the slabs of the profile: ask for it with oprofile=")
        if (not isinstance(slabs, (tuple, list)) or len(slabs) != 2 or slabs[0] not in ("x", "y", "z")
                or not _number("profile", slabs[1], float) > 0):
            raise ValueError(f"profile= takes an axis and a slab width in angstrom, such as ('z', 2.0), not {slabs!r}")
        names.profile_axis, names.profile_width = "xyz".index(slabs[0]), float(slabs[1])
    if asked.get("oview") is True:
        raise ValueError("oview= takes the path of the extended-XYZ file; per_water=True gives its per-water "
                         "values as arrays")
    if asked.get("oguests") is not None and not o.has_guest:
        raise ValueError("oguests= needs the guests, given with guest=, guest_group= or guest_type=")
    with tempfile.TemporaryDirectory(prefix="kavet-series-") as folder:
        for keyword, value in asked.items():
            field = _SERIES_FILES[keyword][0]
            path = _os.path.join(folder, field + ".csv") if value is True else _os.fspath(value)
            setattr(names, field, path)
        progress = _Progress() if verbose else None
        try:
            out = _kavet.series_rows(o, threads=threads, files=names, per_water=per_water, progress=progress)
        finally:
            if progress is not None:
                progress.close()
        rows = _table(out)
        if not asked and not per_water:
            return rows
        tables = {field: (read_table(getattr(names, field)) if field != "view" else getattr(names, field))
                  for field, _ in (_SERIES_FILES[k] for k in asked)}
    return SeriesResult(rows, tables, out["per_water"])


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
def _cluster_table(self):
    """One row per cluster of closed cages: the columns of the -oclusters table after frame and time_ps
    (cluster is the smallest cage number in the frame)."""
    import pandas as pd

    return pd.DataFrame(self.cluster_columns)


Result.cluster_table = property(_cluster_table, doc=_cluster_table.__doc__)
Result.f4 = property(lambda self: self.census["f4"], doc="The four-body order parameter F4.")
Result.f3 = property(lambda self: self.census["f3"], doc="The three-body order parameter F3, the mean over waters.")
Result.q_tet = property(lambda self: self.census["q_tet"], doc="The tetrahedral order q, the mean over waters.")
Result.qbar = property(lambda self: {l: self.census[f"qbar_{l}"] for l in self.qbar_per_water},
                       doc="The averaged bond-orientational order q-bar_l by l, the means over waters.")
Result.n_clusters = property(lambda self: self.census["clusters"],
                             doc="Clusters of closed cages sharing a face.")
Result.largest_cluster = property(lambda self: self.census["largest_cluster"],
                                  doc="Cages in the largest cluster.")
