"""Series mode across machines: blocks of frames analysed on dask.distributed workers.

Every worker opens the trajectory with kavet's own readers, so the files must be
visible on the workers (a shared file system on a cluster).
"""
import math
import os

import numpy as np

from . import _kavet, _series_options, _table


# Module-level functions, so that the workers receive them by name.
def _frame_count(path):
    return _kavet.frame_count(path)


def _block(structure, trajectory, options, first, count):
    if "nt" not in options:
        try:
            from distributed import get_worker

            options = dict(options, nt=get_worker().nthreads)
        except (ImportError, ValueError):
            options = dict(options, nt=1)
    o, threads = _series_options(structure, trajectory, options)
    # Cages are followed (born, died) by the caller, over every block in order.
    return _kavet.series_rows(o, first, count, False, threads)


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


def series(structure, trajectory, client, blocks=None, **options):
    """The DataFrame of kavet.series(structure, trajectory, **options), computed in frame blocks on the
    client's workers and returned in frame order.

    Each block passes over the frames before it without reading them and comes back with the closed
    cages of its frames, which are followed (born, died) here, in frame order, as one process does.
    blocks: how many blocks (default: blocks that shrink towards the end of the trajectory, see
    kavet.dask.block_bounds). The scheduler hands them to workers as they become free. Without nt=, each
    block uses as many threads as its worker has.
    """
    structure, trajectory = os.fspath(structure), os.fspath(trajectory)
    o, threads = _series_options(structure, trajectory, options)  # refused here, before any worker runs
    frames = client.submit(_frame_count, os.fspath(trajectory), pure=False).result()
    if blocks is None:
        bounds = block_bounds(frames, sum(client.nthreads().values()))
    else:
        edges = np.linspace(0, frames, min(blocks, max(frames, 1)) + 1).astype(int)
        bounds = [(int(a), int(b - a)) for a, b in zip(edges[:-1], edges[1:]) if b > a]
    if not bounds:
        return _table(_kavet.series_rows(o, 0, 0, True, threads))
    # One map: the scheduler sees every block at once and queues them, so that a block waits for a
    # free worker rather than for the worker it was first given.
    n = len(bounds)
    futures = client.map(_block, [structure] * n, [trajectory] * n, [options] * n, [b[0] for b in bounds],
                         [b[1] for b in bounds], pure=False)
    joined = _join(client.gather(futures))
    _kavet.CageTracker().follow(joined)
    return _table(joined)
