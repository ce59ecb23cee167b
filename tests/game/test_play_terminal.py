"""A match against the built-in player in the terminal: the keys move, rotate and place the pair,
and the front works in a real terminal (tmux)."""

from __future__ import annotations

import shutil
import subprocess
import sys
import time

import pytest

from velmo_game.play import Session
from velmo_game.players import make_player


def test_keys_move_rotate_and_place_the_pair():
    session = Session(1, make_player("greedy"))
    for key in ("left", "left", "left"):
        session.key(key)
    assert session.x == 0
    session.key("up")  # child to the right of the axis
    session.key("right"), session.key("right"), session.key("right"), session.key("right"), session.key("right")
    assert session.x == 4  # the child must stay inside the field
    session.key("space")
    assert session.match.players[0].turn == 1
    assert session.recorder.replay.moves[0][0] is not None


def test_a_match_played_by_keys_ends_and_replays():
    session = Session(2, make_player("random", seed=1))
    while not session.match.is_over:
        assert session.key("space")  # the same place every time soon tops out
    assert session.message in ("you win!", "you lose", "a draw")
    assert session.recorder.replay.final() == session.match
    assert not session.key("q")


@pytest.mark.skipif(shutil.which("tmux") is None, reason="no tmux to run a terminal in")
def test_the_front_runs_in_a_terminal(tmp_path):
    name = f"velmo-play-{id(tmp_path)}"
    command = f"{sys.executable} -m velmo_game.play --seed 3 --json {tmp_path / 'm.json'}; sleep 5"
    subprocess.run(["tmux", "new-session", "-d", "-s", name, "-x", "80", "-y", "30", command], check=True)
    try:
        def screen() -> str:
            return subprocess.run(["tmux", "capture-pane", "-p", "-t", name], capture_output=True, text=True).stdout

        deadline = time.monotonic() + 30
        while "you" not in screen() and time.monotonic() < deadline:
            time.sleep(0.2)
        assert "frame 0" in screen()
        for key in ("Left", "Up", "Space", "Right", "Space"):
            subprocess.run(["tmux", "send-keys", "-t", name, key], check=True)
            time.sleep(0.2)
        deadline = time.monotonic() + 30
        while "frame 0 " in screen() and time.monotonic() < deadline:
            time.sleep(0.2)
        assert "frame 0 " not in screen()  # placing moved the match on
        subprocess.run(["tmux", "send-keys", "-t", name, "q"], check=True)
        deadline = time.monotonic() + 30
        while not (tmp_path / "m.json").exists() and time.monotonic() < deadline:
            time.sleep(0.2)
        assert "seed 3:" in screen()
    finally:
        subprocess.run(["tmux", "kill-session", "-t", name], capture_output=True)
    from velmo_game.replay import Replay

    assert len(Replay.load(tmp_path / "m.json").moves) >= 2
