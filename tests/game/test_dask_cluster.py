"""Evaluation and self-play on a real Dask cluster (a LocalCluster of worker processes) agree with serial."""

from __future__ import annotations

import os

import numpy as np
import pytest

if os.environ.get("VELMO_SANITIZED"):
    pytest.skip("Dask's worker processes do not run under the preloaded sanitizer", allow_module_level=True)
distributed = pytest.importorskip("distributed")

from velmo_game import selfplay  # noqa: E402
from velmo_game.evaluate import run  # noqa: E402


@pytest.fixture(scope="module")
def scheduler_address():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0") as cluster:
        yield cluster.scheduler_address


def test_evaluation_on_the_cluster_matches_serial(scheduler_address):
    serial = run("random", 10, seed=11, chunk_size=3, progress=False)
    for player in ("random", "greedy"):
        on_cluster = run(player, 10, seed=11, chunk_size=3, backend="dask", address=scheduler_address, progress=False)
        assert on_cluster.records == run(player, 10, seed=11, chunk_size=3, progress=False).records
    assert on_cluster.backend == "dask" and serial.summary.games == 10


def test_selfplay_on_the_cluster_matches_serial(scheduler_address, tmp_path):
    pytest.importorskip("pyarrow")
    path = tmp_path / "selfplay.parquet"
    on_cluster = selfplay.generate("random", 5, path, seed=3, chunk_size=2, backend="dask", address=scheduler_address)
    serial = selfplay.generate("random", 5, None, seed=3)
    loaded = selfplay.load(path)
    for name in selfplay.COLUMNS:
        np.testing.assert_array_equal(on_cluster[name], serial[name])
        np.testing.assert_array_equal(loaded[name], serial[name])


def test_a_cluster_of_its_own():
    # No address: the run starts a LocalCluster of worker processes and closes it.
    assert run("greedy", 4, seed=2, backend="dask", workers=2, progress=False).records == run("greedy", 4, seed=2).records


def test_match_selfplay_on_the_cluster_matches_serial(scheduler_address, tmp_path):
    path = tmp_path / "matches.npz"
    on_cluster = selfplay.generate("greedy", 4, path, seed=5, chunk_size=2, opponent="random", backend="dask",
                                   address=scheduler_address)
    serial = selfplay.generate("greedy", 4, None, seed=5, opponent="random")
    assert list(on_cluster) == list(selfplay.MATCH_COLUMNS)
    loaded = selfplay.load(path)
    for name in selfplay.MATCH_COLUMNS:
        np.testing.assert_array_equal(on_cluster[name], serial[name])
        np.testing.assert_array_equal(loaded[name], serial[name])
