"""Series mode across machines: blocks of frames analysed on dask.distributed workers.

    from dask.distributed import Client
    import kavet.dask
    table = kavet.dask.series("conf.gro", "traj.xtc", client, guest="CH4")                  # kavet's readers
    table = kavet.dask.series("system.data", "traj.dcd", client, waters="type 1 2",          # MDAnalysis's
                              oxygen_type=1, hydrogen_type=2, guests="type 3")

A .gro structure with a .gro, .xtc or .trr trajectory is read by kavet's own readers on the workers, and
so are LAMMPS files (a dump or data file as the structure, a dump as the trajectory) when kavet.series's
type keywords (wat_type=, guest_type=) select the atoms; every other pair (DCD, LAMMPS files with
selection strings, NetCDF, ...) by MDAnalysis on the workers, as kavet.mda.CageCensus reads it. The files must be visible on the workers (a shared file system on a
cluster); their paths are made absolute here, so that workers started in other folders find them.
"""
import hashlib
import math
import os
import sys
import time
import warnings

import numpy as np

from . import _kavet, _series_options, _table

_KAVET_TRAJECTORIES = (".gro", ".xtc", ".trr")
# MDAnalysis formats chosen by suffix where MDAnalysis does not guess them.
_LAMMPS_DUMPS = (".lammpstrj", ".dump", ".lammpsdump")
_LAMMPS_DATA = (".data", ".lmp")


def _fingerprint():
    """(this kavet's folder, a digest of its extension module and Python files): what the start-up check
    compares between the workers and the caller."""
    import kavet

    folder = os.path.dirname(os.path.abspath(kavet.__file__))
    digest = hashlib.sha256()
    for name in sorted(os.listdir(folder)):
        if name.endswith((".py", ".so")):
            with open(os.path.join(folder, name), "rb") as f:
                digest.update(name.encode() + b"\0" + f.read())
    return folder, digest.hexdigest()[:16]


def _check_workers(client, timeout):
    """Waits up to `timeout` seconds for a worker, then checks that every worker imports this kavet."""
    try:
        client.wait_for_workers(1, timeout=timeout)
    except Exception as e:  # distributed raises TimeoutError (of asyncio or of dask) here
        raise TimeoutError(f"kavet.dask: no worker connected to the scheduler {client.scheduler.address} within "
                           f"{timeout} s") from e
    # eval of a string: the probe reaches the worker even where kavet cannot be imported there.
    found = client.run(eval, "__import__('kavet.dask').dask._fingerprint()", on_error="return")
    here = _fingerprint()
    for worker, got in sorted(found.items()):
        if isinstance(got, BaseException):
            raise RuntimeError(
                f"kavet.dask: worker {worker} cannot import kavet ({type(got).__name__}: {got}); start the "
                f"workers with the Python that has kavet, e.g. {os.path.dirname(sys.executable)}/dask-worker or "
                f"{sys.executable} -m distributed.cli.dask_worker") from got
        if tuple(got)[1] != here[1]:
            raise RuntimeError(f"kavet.dask: worker {worker} imports another kavet (from {got[0]}, build {got[1]}) "
                               f"than this process (from {here[0]}, build {here[1]}); give every worker the same "
                               "kavet")


def _worker_threads():
    try:
        from distributed import get_worker

        return get_worker().nthreads
    except (ImportError, ValueError):
        return 1


# Module-level functions, so that the workers receive them by name.
def _frame_count(path):
    return _kavet.frame_count(path)


def _block(structure, trajectory, options, first, count):
    if "nt" not in options:
        options = dict(options, nt=_worker_threads())
    o, threads = _series_options(structure, trajectory, options)
    # Cages are followed (born, died) by the caller, over every block in order.
    return _kavet.series_rows(o, first, count, False, threads)


def _universe(reading):
    import MDAnalysis as mda

    return mda.Universe(reading["structure"], reading["trajectory"], **reading["universe"])


def _mda_frame_count(reading):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return len(_universe(reading).trajectory)


def _mda_block(reading, first, count):
    """Rows and closed cages (Universe atom indices of their waters) of frames first .. first + count - 1,
    read by MDAnalysis; warnings come back as text."""
    from .mda import CageCensus

    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        u = _universe(reading)
        guests = u.select_atoms(reading["guests"]) if reading["guests"] else None
        census = CageCensus(u.select_atoms(reading["waters"]), guests=guests,
                            threads=reading["threads"] or _worker_threads(), **reading["census"])
        census._closed = True
        census.run(start=first, stop=first + count)
    messages = list(dict.fromkeys(str(w.message) for w in caught if "CageCensus" in str(w.message)))
    return {"rows": census._rows, "cages": census._closed_cages, "warnings": messages}


def block_bounds(frames, workers):
    """Block bounds [(first, count), ...] over `frames` frames for `workers` worker threads: each block takes
    a share of the frames left, 1/(2 workers) of them, so that the blocks shrink towards the end and the last
    ones are single frames. Frames of unequal cost (the disordered end of a melting run costs more) then
    leave no worker idle for long, with few blocks."""
    bounds, first = [], 0
    while first < frames:
        count = max(1, math.ceil((frames - first) / (2 * max(1, workers))))
        bounds.append((first, count))
        first += count
    return bounds


def _join(parts):
    """One block of series rows from blocks in frame order (cage offsets shifted)."""
    joined = dict(parts[0])
    joined["values"] = np.concatenate([p["values"] for p in parts])
    joined["warnings"] = [w for p in parts for w in p["warnings"]]
    cages, waters = [np.zeros(1, np.int64)], [np.zeros(1, np.int64)]
    cage_count = water_count = 0
    for p in parts:
        cages.append(p["cage_offsets"][1:] + cage_count)
        waters.append(p["cage_water_offsets"][1:] + water_count)
        cage_count += len(p["cage_water_offsets"]) - 1
        water_count += len(p["cage_waters"])
    joined["cage_offsets"] = np.concatenate(cages)
    joined["cage_water_offsets"] = np.concatenate(waters)
    joined["cage_waters"] = np.concatenate([p["cage_waters"] for p in parts])
    return joined


def _join_mda(parts, tol):
    """The DataFrame of kavet.mda.CageCensus from blocks of _mda_block in frame order, born and died
    counted over every block."""
    import pandas as pd

    rows = [r for p in parts for r in p["rows"]]
    table = pd.DataFrame(rows, columns=list(rows[0]) if rows else None)
    cages = [c for p in parts for c in p["cages"]]
    lists = [w for frame in cages for w in frame]
    block = {
        "columns": list(table.columns),
        "values": table.to_numpy(dtype=np.float64, copy=True),
        "cage_offsets": np.concatenate([[0], np.cumsum([len(c) for c in cages])]).astype(np.int64),
        "cage_water_offsets": np.concatenate([[0], np.cumsum([len(w) for w in lists])]).astype(np.int64),
        "cage_waters": (np.concatenate(lists) if lists else np.zeros(0)).astype(np.int32),
    }
    if rows:
        _kavet.CageTracker(tol).follow(block)
        for name in ("born", "died"):
            table[name] = block["values"][:, block["columns"].index(name)].astype(np.int64)
    for w in dict.fromkeys(w for p in parts for w in p["warnings"]):
        warnings.warn(w, UserWarning, stacklevel=3)
    return table


def _gather(client, futures, timeout, verbose, what):
    """The futures' results in order. Raises TimeoutError when no worker has been connected for `timeout`
    seconds, and RuntimeError naming the block when workers died running it."""
    from distributed import wait

    pending, done, lost_since = list(futures), 0, None
    while pending:
        try:
            wait(pending, timeout=1.0, return_when="FIRST_COMPLETED")
        except Exception as e:  # no future finished within the second
            if "timed out" not in str(e).lower() and not isinstance(e, TimeoutError):
                raise
        finished = [f for f in pending if f.done()]
        for f in finished:
            if f.status == "error":
                error = f.exception()
                name = type(error).__name__
                if name == "KilledWorker":
                    raise RuntimeError(f"kavet.dask: the workers running {what[futures.index(f)]} died "
                                       f"({error})") from error
                f.result()  # raises the block's own error
        pending = [f for f in pending if not f.done()]
        if finished and verbose:
            done += len(finished)
            print(f"kavet.dask: {done}/{len(futures)} blocks done", file=sys.stderr, flush=True)
        if not pending:
            break
        if len(client.nthreads()) == 0:
            lost_since = lost_since or time.monotonic()
            if time.monotonic() - lost_since > timeout:
                client.cancel(pending)
                raise TimeoutError(f"kavet.dask: no worker has been connected to the scheduler "
                                   f"{client.scheduler.address} for {timeout} s, with {len(pending)} of "
                                   f"{len(futures)} blocks not done; start workers again, or give a longer "
                                   "timeout=")
        else:
            lost_since = None
    return [f.result() for f in futures]


def _mda_reading(structure, trajectory, options, universe, waters, guests):
    """What a worker needs to open the Universe and choose the atoms, from kavet.series's keywords."""
    census = {}
    for name in ("nohyd", "hb", "ring", "cage", "oxygen_type", "hydrogen_type", "timestep", "tol"):
        if name in options:
            census[name] = options.pop(name)
    threads = options.pop("nt", 0)
    wat, guest = options.pop("wat", "SOL"), options.pop("guest", None)
    options.pop("oxy", None)  # the oxygens are told by name, type or mass (kavet.mda)
    if options:
        raise TypeError(f"kavet.dask.series: {', '.join(k + '=' for k in options)} not taken for a trajectory "
                        "read by MDAnalysis (b=, e= and dt= select frames by time in kavet's own readers)")
    universe = dict(universe or {})
    if structure.lower().endswith(_LAMMPS_DUMPS):
        universe.setdefault("topology_format", "LAMMPSDUMP")
    elif structure.lower().endswith(_LAMMPS_DATA):
        universe.setdefault("topology_format", "DATA")
    if trajectory.lower().endswith(_LAMMPS_DUMPS):
        universe.setdefault("format", "LAMMPSDUMP")
    return {"structure": structure, "trajectory": trajectory, "universe": universe, "threads": int(threads),
            "waters": waters or f"resname {wat}", "guests": guests or (f"resname {guest}" if guest else None),
            "census": census}


def series(structure, trajectory, client, blocks=None, timeout=120, verbose=False, universe=None, waters=None,
           guests=None, **options):
    """The DataFrame of kavet.series(structure, trajectory, **options) (or, for a trajectory that MDAnalysis
    reads, of kavet.mda.CageCensus), computed in frame blocks on the client's workers and returned in
    frame order. kavet's own readers take a .gro structure with a .gro, .xtc or .trr trajectory, and LAMMPS
    files selected by type (wat_type=, guest_type=, with timestep=), as kavet.series does.

    Each block passes over the frames before it and comes back with the closed cages of its frames, which
    are followed (born, died) here, in frame order, as one process does.
    blocks: how many blocks (default: blocks that shrink towards the end of the trajectory, see
        kavet.dask.block_bounds). The scheduler hands them to workers as they become free. Without nt=, each
        block uses as many threads as its worker has.
    timeout: seconds to wait while no worker is connected (at the start or later) before TimeoutError.
    verbose: a line on standard error as each block is done.
    MDAnalysis's formats: universe= (keywords of mda.Universe, e.g. dict(dt=2.0) or dict(atom_style=...)),
        waters= and guests= (selection strings; default "resname SOL" and "resname GUEST" for guest=), and
        CageCensus's keywords oxygen_type=, hydrogen_type=, timestep=, nohyd=, hb=, ring=, cage=, tol=.
    """
    if blocks is not None and (not isinstance(blocks, (int, np.integer)) or isinstance(blocks, bool) or blocks < 1):
        raise ValueError(f"kavet.dask.series: blocks= takes a number of blocks, 1 or more, not {blocks!r}")
    structure, trajectory = os.path.abspath(os.fspath(structure)), os.path.abspath(os.fspath(trajectory))
    lammps = (structure.lower().endswith(_LAMMPS_DUMPS + _LAMMPS_DATA) and trajectory.lower().endswith(_LAMMPS_DUMPS)
              and ("wat_type" in options or "guest_type" in options))
    gromacs = structure.lower().endswith(".gro") and trajectory.lower().endswith(_KAVET_TRAJECTORIES)
    by_kavet = (gromacs or lammps) and universe is None and waters is None and guests is None
    if by_kavet:
        o, threads = _series_options(structure, trajectory, dict(options))  # refused here, before any worker runs
    else:
        reading = _mda_reading(structure, trajectory, dict(options), universe, waters, guests)
    _check_workers(client, timeout)
    count = client.submit(_frame_count, trajectory, pure=False) if by_kavet else \
        client.submit(_mda_frame_count, reading, pure=False)
    frames = _gather(client, [count], timeout, False, ["the frame count"])[0]
    if blocks is None:
        bounds = block_bounds(frames, sum(client.nthreads().values()))
    else:
        edges = np.linspace(0, frames, min(blocks, max(frames, 1)) + 1).astype(int)
        bounds = [(int(a), int(b - a)) for a, b in zip(edges[:-1], edges[1:]) if b > a]
    if not bounds:
        return _table(_kavet.series_rows(o, 0, 0, True, threads)) if by_kavet else _join_mda([], reading["census"].get("tol", 0))
    # One map: the scheduler sees every block at once and queues them, so that a block waits for a
    # free worker rather than for the worker it was first given.
    firsts, counts = [b[0] for b in bounds], [b[1] for b in bounds]
    if by_kavet:
        n = len(bounds)
        futures = client.map(_block, [structure] * n, [trajectory] * n, [options] * n, firsts, counts, pure=False)
    else:
        futures = client.map(_mda_block, [reading] * len(bounds), firsts, counts, pure=False)
    what = [f"frames {a}..{a + n - 1}" for a, n in bounds]
    parts = _gather(client, futures, timeout, verbose, what)
    if not by_kavet:
        return _join_mda(parts, reading["census"].get("tol", 0))
    joined = _join(parts)
    _kavet.CageTracker(int(options.get("tol", 0))).follow(joined)
    return _table(joined)
