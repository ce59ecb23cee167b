"""Self-play records of matches: they replay on Match(seed), agree with versus evaluation, and are
the same on every backend and after a trip through a file."""

from __future__ import annotations

import functools
import os
import subprocess
import sys

import numpy as np
import pytest

from velmo_game import Match, selfplay
from velmo_game.evaluate import derive_seed, run
from velmo_game.players import RandomPlayer


def assert_same_records(got, expected):
    assert list(got) == list(expected)
    for name in expected:
        assert got[name].dtype == expected[name].dtype, name
        np.testing.assert_array_equal(got[name], expected[name], err_msg=name)


def replay(arrays, index, seed):
    """Play the recorded actions of match ``index`` on ``Match(seed)``, checking every row's
    observation, mask and move events on the way; returns the finished match and its rows."""
    rows = np.flatnonzero(arrays["match"] == index)
    assert (arrays["seed"][rows] == seed).all()
    match = Match(seed)
    position = 0
    while not match.is_over:
        due = match.to_move()
        step_rows = rows[position:position + len(due)]
        position += len(due)
        assert arrays["player"][step_rows].tolist() == due
        assert (arrays["frame"][step_rows] == match.frame).all()
        for row in step_rows:
            p = int(arrays["player"][row])
            observation = match.observation(p)
            for name in ("field", "pairs", "opponent_field", "opponent_pairs", "pending_ojama"):
                np.testing.assert_array_equal(arrays[name][row], observation[name], err_msg=name)
            np.testing.assert_array_equal(arrays["mask"][row], match.players[p].action_mask())
            assert arrays["turn"][row] == match.players[p].turn
        result = match.step({int(arrays["player"][r]): int(arrays["action"][r]) for r in step_rows})
        for row in step_rows:
            events = result.players[int(arrays["player"][row])]
            assert (events.score, events.chain) == (arrays["score"][row], arrays["chain"][row])
    assert position == len(rows), "rows left over after the match ended"
    return match, rows


def test_match_records_replay_and_agree_with_versus_evaluation():
    arrays = selfplay.generate("greedy", 4, None, seed=6, chunk_size=3, opponent="random")
    evaluation = run("greedy", 4, seed=6, versus=True, opponent="random", progress=False)
    assert np.unique(arrays["match"]).tolist() == [0, 1, 2, 3]
    for record in evaluation.records:
        match, rows = replay(arrays, record.index, derive_seed(6, record.index))
        assert match.winner == record.winner and match.frame == record.frames
        scores = [view.score for view in match.players]
        assert [scores[0], scores[1]] == [record.score, record.opponent_score]
        for row in rows:
            p = int(arrays["player"][row])
            expected = 0 if match.winner is None else (1 if match.winner == p else -1)
            assert arrays["outcome"][row] == expected
            assert (arrays["final_score"][row], arrays["opponent_score"][row]) == (scores[p], scores[1 - p])
            assert arrays["frames"][row] == match.frame
        for p in (0, 1):
            mine = rows[arrays["player"][rows] == p]
            # The outcome is paid once, on the player's last decision, as the versus environments pay it.
            assert arrays["last"][mine].tolist() == [False] * (len(mine) - 1) + [True]
            assert arrays["reward"][mine].sum() == arrays["reward"][mine[-1]] == arrays["outcome"][mine[-1]]


@pytest.mark.parametrize(
    "player, opponent",
    [("random", "greedy"), (RandomPlayer(3), functools.partial(RandomPlayer))],
    ids=["names", "object-and-factory"],
)
def test_serial_and_processes_give_the_same_match_records(player, opponent):
    serial = selfplay.generate(player, 5, None, seed=8, chunk_size=5, opponent=opponent)
    pooled = selfplay.generate(player, 5, None, seed=8, chunk_size=2, opponent=opponent, backend="processes", workers=2)
    assert_same_records(pooled, serial)
    assert list(serial) == list(selfplay.MATCH_COLUMNS)
    for name, (dtype, shape) in selfplay.MATCH_COLUMNS.items():
        assert serial[name].dtype == np.dtype(dtype) and serial[name].shape == (len(serial["action"]), *shape)


@pytest.mark.parametrize("suffix", [".npz", ".parquet"])
@pytest.mark.parametrize("matches", [0, 2])
def test_match_files_round_trip(tmp_path, suffix, matches):
    if suffix == ".parquet":
        pytest.importorskip("pyarrow")
    path = tmp_path / f"matches{suffix}"
    arrays = selfplay.generate("random", matches, path, seed=2, opponent="random")
    assert_same_records(selfplay.load(path), arrays)
    # One-player records written beside them still read back as one-player records.
    games = selfplay.generate("random", 1, tmp_path / f"games{suffix}", seed=2)
    assert_same_records(selfplay.load(tmp_path / f"games{suffix}"), games)


@pytest.mark.parametrize(
    "arguments",
    [{"opponent": "nobody"}, {"seed": -1}, {"chunk_size": 0}, {"path": "data.csv"}, {"backend": "spark"}],
)
def test_bad_match_arguments(arguments):
    arguments = {"opponent": "random", **arguments}
    with pytest.raises(ValueError):
        selfplay.generate("random", 1, arguments.pop("path", None), **arguments)


def test_save_refuses_records_missing_columns(tmp_path):
    arrays = selfplay.generate("random", 1, None, seed=1, opponent="random")
    del arrays["outcome"]
    with pytest.raises(ValueError, match="outcome"):
        selfplay.save(arrays, tmp_path / "broken.npz")
    assert not (tmp_path / "broken.npz").exists()


def selfplay_cli(*arguments):
    return subprocess.run([sys.executable, "-m", "velmo_game.selfplay", *arguments], capture_output=True, text=True,
                          timeout=120, env={**os.environ, "PYTHONWARNINGS": "ignore"})


def test_cli_writes_the_records_of_the_api(tmp_path):
    path = tmp_path / "matches.npz"
    done = selfplay_cli(str(path), "--games", "3", "--seed", "4", "--player", "greedy", "--opponent", "random")
    assert done.returncode == 0, done.stderr
    expected = selfplay.generate("greedy", 3, None, seed=4, opponent="random")
    assert f"wrote {len(expected['action'])} records of 3 matches" in done.stdout
    assert_same_records(selfplay.load(path), expected)
    for bad in (["data.csv"], [str(path), "--games", "-1"], [str(path), "--beam-width", "2"]):
        done = selfplay_cli(*bad)
        assert done.returncode == 2 and done.stderr.startswith("error: "), bad
