"""Series mode across machines: blocks of frames analysed on dask.distributed workers.

Every worker opens the trajectory with kavet's own readers, so the files must be
visible on the workers (a shared file system on a cluster).
"""
import os

import numpy as np

from . import _kavet, _series_arguments, _table


# Module-level functions, so that the workers receive them by name.
def _frame_count(path):
    return _kavet.frame_count(path)


def _block(args, first, count):
    try:
        from distributed import get_worker

        threads = get_worker().nthreads
    except (ImportError, ValueError):
        threads = 1
    if "-nt" not in args:
        args = args + ["-nt", str(threads)]
    return _kavet.series_rows(args, first, count)


def series(structure, trajectory, client, blocks=None, **options):
    """The DataFrame of kavet.series(structure, trajectory, **options), computed in frame blocks on the
    client's workers and returned in frame order.

    blocks: how many blocks (default: four per worker thread, so that blocks of costlier frames, e.g. the
    disordered end of a melting run, do not leave workers idle; each block reads the frames before it
    without analysing them). Without nt=, each block uses as many threads as its worker has.
    """
    args = _series_arguments(structure, trajectory, options)
    frames = client.submit(_frame_count, os.fspath(trajectory), pure=False).result()
    if blocks is None:
        blocks = 4 * max(1, sum(client.nthreads().values()))
    bounds = np.linspace(0, frames, min(blocks, max(frames, 1)) + 1).astype(int)
    futures = [client.submit(_block, args, int(a), int(b - a), pure=False)
               for a, b in zip(bounds[:-1], bounds[1:]) if b > a]
    parts = client.gather(futures)
    if not parts:
        return _table(_kavet.series_rows(args, 0, 0))
    merged = dict(parts[0])
    merged["values"] = np.concatenate([p["values"] for p in parts])
    merged["warnings"] = [w for p in parts for w in p["warnings"]]
    return _table(merged)
