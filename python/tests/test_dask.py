import json
import os
import subprocess
import sys
import time

import pandas as pd
import pytest

distributed = pytest.importorskip("distributed")
mda = pytest.importorskip("MDAnalysis")
import kavet  # noqa: E402
import kavet.dask  # noqa: E402
from kavet.mda import CageCensus  # noqa: E402
from conftest import MELTING, STRUCTURE, gro_frames, gro_names, lammps_types, write_dump  # noqa: E402
from test_mda import write_dcd  # noqa: E402


def test_blocks_on_two_worker_processes_give_the_one_process_table():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        shrinking = kavet.dask.series(STRUCTURE, MELTING, client, b=10)
        equal = kavet.dask.series(STRUCTURE, MELTING, client, blocks=5, b=10)
        thermal = kavet.dask.series(STRUCTURE, MELTING, client, blocks=4, thermal=True)  # blocks read beyond their edges
        data = os.path.join(os.path.dirname(__file__), "..", "..", "tests", "data", "lammps")
        lammps = dict(wat_type=1, nohyd=True, guest_type=2, timestep=10)  # by kavet's LAMMPS reader
        dump = kavet.dask.series(f"{data}/mw-sI.data", f"{data}/mw-sI.lammpstrj", client, blocks=2, **lammps)
        with pytest.raises(TypeError, match="ocages= belongs to kavet.series's whole run"):
            kavet.dask.series(STRUCTURE, MELTING, client, ocages=True)
        for blocks in (0, -2):
            with pytest.raises(ValueError, match="blocks="):
                kavet.dask.series(STRUCTURE, MELTING, client, blocks=blocks)
    one = kavet.series(STRUCTURE, MELTING, b=10)
    pd.testing.assert_frame_equal(shrinking, one)
    pd.testing.assert_frame_equal(equal, one)
    pd.testing.assert_frame_equal(thermal, kavet.series(STRUCTURE, MELTING, thermal=True))
    pd.testing.assert_frame_equal(dump, kavet.series(f"{data}/mw-sI.data", f"{data}/mw-sI.lammpstrj", **lammps))


def start(args, folder, env=None):
    folder.mkdir(exist_ok=True)
    return subprocess.Popen([sys.executable, "-m", *args], cwd=folder, env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


@pytest.fixture
def separate_cluster(tmp_path):
    """A scheduler on 127.0.0.1 and two one-thread workers, each a process of its own started in a folder
    of its own, as on a cluster; the workers see this kavet through PYTHONPATH."""
    scheduler_file = tmp_path / "scheduler.json"
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(kavet.__file__)))
    worker = ["distributed.cli.dask_worker", "--scheduler-file", str(scheduler_file), "--nthreads", "1",
              "--no-nanny", "--no-dashboard", "--memory-limit", "0", "--host", "127.0.0.1",
              "--local-directory", str(tmp_path / "dask")]
    processes = [start(["distributed.cli.dask_scheduler", "--host", "127.0.0.1", "--port", "0", "--no-dashboard",
                        "--scheduler-file", str(scheduler_file)], tmp_path / "scheduler")]
    try:
        deadline = time.monotonic() + 60
        while not (scheduler_file.exists() and json.loads(scheduler_file.read_text() or "{}").get("address")):
            assert time.monotonic() < deadline, "the scheduler did not start"
            time.sleep(0.2)
        workers = [start(worker, tmp_path / f"worker{k}", env) for k in (1, 2)]
        processes += workers
        with distributed.Client(scheduler_file=str(scheduler_file), timeout=30) as client:
            client.wait_for_workers(2, timeout=60)
            alone = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
            yield client, workers, lambda folder: start(worker, tmp_path / folder, alone)
    finally:
        for p in processes:
            p.kill()
            p.wait(timeout=30)


def test_workers_started_apart_give_one_process_rows_and_fail_clearly(tmp_path, monkeypatch, separate_cluster):
    client, workers, start_worker = separate_cluster
    monkeypatch.chdir(tmp_path)  # relative paths, which the workers (in other folders) cannot resolve alone
    frames = gro_frames(MELTING)[:8]
    write_dcd(tmp_path / "melting.dcd", frames)
    write_dump(tmp_path / "melting.lammpstrj", frames, lammps_types(gro_names(STRUCTURE)[1]))
    for path, universe in (("melting.dcd", {}), ("melting.lammpstrj", {"format": "LAMMPSDUMP"})):
        table = kavet.dask.series(STRUCTURE, path, client, blocks=3)
        u = mda.Universe(str(STRUCTURE), path, **universe)
        pd.testing.assert_frame_equal(table, CageCensus(u.select_atoms("resname SOL")).run().results.series)

    # Blocks running when every worker is killed: a clear error once the timeout has passed.
    lost = client.map(time.sleep, [600, 600], pure=False)
    deadline = time.monotonic() + 60
    while sum(len(v) for v in client.processing().values()) < 2:
        assert time.monotonic() < deadline, "the workers took no block"
        time.sleep(0.1)
    for w in workers:
        w.kill()
        w.wait(timeout=30)
    began = time.monotonic()
    with pytest.raises(TimeoutError, match="no worker has been connected"):
        kavet.dask._gather(client, lost, 3, False, ["a block", "another"])
    assert time.monotonic() - began < 20
    with pytest.raises(TimeoutError, match="no worker connected"):
        kavet.dask.series(STRUCTURE, "melting.dcd", client, timeout=2)
    # A worker whose Python has no kavet is named at the start.
    foreign = start_worker("foreign")
    try:
        client.wait_for_workers(1, timeout=60)
        with pytest.raises(RuntimeError, match="cannot import kavet"):
            kavet.dask.series(STRUCTURE, "melting.dcd", client, timeout=2)
    finally:
        foreign.kill()
        foreign.wait(timeout=30)
