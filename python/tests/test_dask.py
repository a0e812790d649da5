import pandas as pd
import pytest

distributed = pytest.importorskip("distributed")
import kavet  # noqa: E402
import kavet.dask  # noqa: E402
from conftest import MELTING, STRUCTURE  # noqa: E402


def test_blocks_on_two_worker_processes_give_the_one_process_table():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        shrinking = kavet.dask.series(STRUCTURE, MELTING, client, b=10)
        equal = kavet.dask.series(STRUCTURE, MELTING, client, blocks=5, b=10)
    one = kavet.series(STRUCTURE, MELTING, b=10)
    pd.testing.assert_frame_equal(shrinking, one)
    pd.testing.assert_frame_equal(equal, one)
