"""Evaluation and self-play: seeds, chunking and backends agree; the command line and files."""

from __future__ import annotations

import functools
import json
import os
import subprocess
import sys

import numpy as np
import pytest

from velmo_game import Game
from velmo_game.evaluate import derive_seed, play_game, run
from velmo_game.players import RandomPlayer
from velmo_game import selfplay


def test_derive_seed_matches_the_core_generator():
    # derive_seed(0, 0) is SplitMix64(0)'s first output, pinned in the core.
    assert derive_seed(0, 0) == 0xE220A8397B1DCDAF
    assert len({derive_seed(7, i) for i in range(1000)}) == 1000
    with pytest.raises(ValueError):
        derive_seed(-1, 0)


def test_records_follow_the_seeds_whatever_the_chunks():
    reference = run("random", 12, seed=5, chunk_size=12, progress=False)
    assert [r.seed for r in reference.records] == [derive_seed(5, i) for i in range(12)]
    for size in (1, 5):
        assert run("random", 12, seed=5, chunk_size=size, progress=False).records == reference.records
    # Game 3 alone, replayed by hand, is the record of game 3.
    record = reference.records[3]
    assert play_game(RandomPlayer(derive_seed(record.seed, 0)), record.seed, 3) == record


@pytest.mark.parametrize("player", ["greedy", RandomPlayer(3), functools.partial(RandomPlayer)])
def test_serial_and_processes_agree(player):
    serial = run(player, 9, seed=2, chunk_size=2, progress=False)
    pooled = run(player, 9, seed=2, chunk_size=2, backend="processes", workers=2, progress=False)
    assert pooled.records == serial.records
    assert pooled.summary.chain_histogram == serial.summary.chain_histogram


def test_summary_figures():
    evaluation = run("greedy", 10, seed=1, progress=False, thresholds=(0, 10**9))
    s = evaluation.summary
    scores = [r.score for r in evaluation.records]
    assert s.games == 10 and s.moves == sum(r.moves for r in evaluation.records)
    assert s.mean_score == pytest.approx(np.mean(scores)) and s.median_score == np.median(scores)
    assert sum(s.chain_histogram.values()) == 10
    assert s.reaching == {0: 1.0, 10**9: 0.0}
    assert all(r.moves <= 54 and (r.game_over or r.moves == 54) for r in evaluation.records)


def test_until_game_over_and_progress_callback():
    seen = []
    evaluation = run("random", 3, moves=None, chunk_size=1, progress=lambda done, total: seen.append((done, total)))
    assert all(r.game_over for r in evaluation.records)
    assert seen == [(1, 3), (2, 3), (3, 3)]


@pytest.mark.parametrize(
    "arguments, error",
    [({"games": -1}, ValueError), ({"backend": "spark"}, ValueError), ({"chunk_size": 0}, ValueError),
     ({"address": "tcp://x:1"}, ValueError), ({"player": "nobody"}, ValueError), ({"opponent": "greedy"}, ValueError)],
)
def test_bad_arguments(arguments, error):
    arguments = {"player": "random", "games": 2, **arguments}
    with pytest.raises(error):
        run(arguments.pop("player"), arguments.pop("games"), progress=False, **arguments)


def test_selfplay_records_replay_the_games(tmp_path):
    arrays = selfplay.generate("random", 4, tmp_path / "data.npz", seed=9, chunk_size=3)
    evaluation = run("random", 4, seed=9, progress=False)
    assert len(arrays["action"]) == sum(r.moves for r in evaluation.records)
    # Replaying the recorded actions gives the recorded observations and the final scores.
    for record in evaluation.records:
        rows = np.flatnonzero(arrays["game"] == record.index)
        game = Game(record.seed)
        for row in rows:
            field, pairs = game.observation()
            assert (arrays["field"][row] == field).all() and (arrays["pairs"][row] == pairs).all()
            assert arrays["mask"][row][arrays["action"][row]]
            assert game.play(int(arrays["action"][row])).score == arrays["reward"][row]
        assert game.score == record.score == arrays["final_score"][rows[0]] == arrays["return_to_go"][rows[0]]


@pytest.mark.parametrize("suffix", [".npz", ".parquet"])
def test_selfplay_files_round_trip(tmp_path, suffix):
    if suffix == ".parquet":
        pytest.importorskip("pyarrow")
    path = tmp_path / f"data{suffix}"
    arrays = selfplay.generate("greedy", 3, path, seed=4)
    loaded = selfplay.load(path)
    for name, (dtype, shape) in selfplay.COLUMNS.items():
        assert loaded[name].dtype == np.dtype(dtype) and loaded[name].shape[1:] == shape
        np.testing.assert_array_equal(loaded[name], arrays[name])
    assert selfplay.generate("greedy", 3, None, seed=4, backend="processes", workers=2)["action"].tolist() == arrays["action"].tolist()


def evaluate_cli(*arguments, check=True):
    done = subprocess.run([sys.executable, "-m", "velmo_game.evaluate", *arguments], capture_output=True, text=True,
                          timeout=120, env={**os.environ, "PYTHONWARNINGS": "ignore"})
    if check:
        assert done.returncode == 0, done.stderr
    return done


def test_cli_json_matches_the_api():
    output = json.loads(evaluate_cli("--games", "5", "--seed", "3", "--player", "greedy", "--json").stdout)
    assert output == run("greedy", 5, seed=3, progress=False).to_dict() | {"summary": output["summary"]}
    assert output["summary"]["games"] == 5


@pytest.mark.parametrize("versus", [False, True])
def test_json_records_carry_the_fields_of_their_kind(versus):
    output = run("random", 2, seed=1, versus=versus, progress=False).to_dict()
    versus_only = {"winner", "frames", "opponent_score"}
    assert output["kind"] == ("match" if versus else "game")
    assert all((versus_only <= record.keys()) == versus for record in output["records"])
    assert all(not versus_only & record.keys() for record in output["records"]) != versus
    assert ("wins" in output["summary"]) == versus


@pytest.mark.parametrize("versus", [False, True])
def test_replays_of_a_run_reproduce_its_games(tmp_path, versus):
    from velmo_game.evaluate import replay_path
    from velmo_game.replay import Replay

    evaluation = run("greedy", 3, seed=2, versus=versus, moves=20, replays=tmp_path, backend="processes",
                     workers=2, chunk_size=1, progress=False)
    for record in evaluation.records:
        final = Replay.load(replay_path(tmp_path, record.index)).final()
        assert (final.score if not versus else final.players[0].score) == record.score


def test_cli_help_table_and_errors():
    assert "--backend" in evaluate_cli("--help").stdout
    table = evaluate_cli("--games", "3").stdout
    assert "median score" in table and "moves per second" in table
    assert evaluate_cli("--games", "-2", check=False).returncode == 2
    assert evaluate_cli("--beam-width", "4", check=False).returncode == 2


def test_cli_plot(tmp_path):
    pytest.importorskip("matplotlib")
    path = tmp_path / "scores.png"
    evaluate_cli("--games", "4", "--plot", str(path))
    assert path.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_versus_runs_are_the_same_on_every_backend_and_replay_the_matches():
    from velmo_game import Match
    from velmo_game.evaluate import derive_seed, play_match, run
    from velmo_game.players import GreedyPlayer, RandomPlayer

    serial = run("greedy", 6, seed=4, versus=True, progress=False)
    pooled = run("greedy", 6, seed=4, versus=True, backend="processes", workers=2, chunk_size=2, progress=False)
    assert pooled.records == serial.records
    s = serial.summary
    assert s.wins + s.draws + s.losses == 6
    first = serial.records[0]
    assert first.seed == derive_seed(4, 0) and first.frames > 0
    again = play_match(GreedyPlayer(), RandomPlayer(derive_seed(first.seed, 1)), first.seed)
    assert again == first
    assert Match(first.seed).players[0].score == 0

