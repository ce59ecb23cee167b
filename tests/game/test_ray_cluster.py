"""Evaluation and self-play on a real local Ray cluster (``ray.init(num_cpus=2)``) agree with serial."""

from __future__ import annotations

import os

import numpy as np
import pytest

if os.environ.get("VELMO_SANITIZED"):
    pytest.skip("Ray's worker processes do not run under the preloaded sanitizer", allow_module_level=True)
ray = pytest.importorskip("ray")

from velmo_game import selfplay  # noqa: E402
from velmo_game.evaluate import run  # noqa: E402


@pytest.fixture(scope="module", autouse=True)
def ray_cluster():
    ray.init(num_cpus=2, include_dashboard=False, log_to_driver=False)
    yield
    ray.shutdown()


@pytest.mark.parametrize("player", ["random", "greedy"])
def test_evaluation_on_the_cluster_matches_serial(player):
    on_cluster = run(player, 10, seed=11, chunk_size=3, backend="ray", progress=False)
    assert on_cluster.records == run(player, 10, seed=11, chunk_size=3, progress=False).records
    assert ray.is_initialized(), "a run on a running connection must leave it running"


def test_selfplay_on_the_cluster_matches_serial(tmp_path):
    path = tmp_path / "selfplay.npz"
    on_cluster = selfplay.generate("random", 5, path, seed=3, chunk_size=2, backend="ray")
    serial = selfplay.generate("random", 5, None, seed=3)
    loaded = selfplay.load(path)
    for name in selfplay.COLUMNS:
        np.testing.assert_array_equal(on_cluster[name], serial[name])
        np.testing.assert_array_equal(loaded[name], serial[name])


def test_match_selfplay_on_the_cluster_matches_serial(tmp_path):
    pytest.importorskip("pyarrow")
    path = tmp_path / "matches.parquet"
    on_cluster = selfplay.generate("greedy", 4, path, seed=5, chunk_size=2, opponent="random", backend="ray")
    serial = selfplay.generate("greedy", 4, None, seed=5, opponent="random")
    assert list(on_cluster) == list(selfplay.MATCH_COLUMNS)
    loaded = selfplay.load(path)
    for name in selfplay.MATCH_COLUMNS:
        np.testing.assert_array_equal(on_cluster[name], serial[name])
        np.testing.assert_array_equal(loaded[name], serial[name])
    assert ray.is_initialized()
