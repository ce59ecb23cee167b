"""Every example in examples/ runs, small, as a user would run it, and says what it should."""

from __future__ import annotations

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = ROOT / "examples"

# Each example with the small arguments the tests run it with.
RUNS = {
    "play.py": [],
    "random_play.py": ["--games", "5", "--moves", "60", "--seed", "3"],
    "greedy.py": ["--games", "1", "--moves", "25", "--seed", "2", "--verbose"],
    "parallel.py": ["--fields", "60", "--workers", "2", "--moves", "15"],
    "watch_bot.py": ["--seed", "3", "--moves", "12"],
    "play_match.py": ["--seed", "1", "--quiet"],
    "train_ppo.py": ["--minutes", "0.05", "--envs", "2", "--eval-games", "2", "--max-moves", "20"],
}
# Examples that need an optional module (their --help does not).
NEEDS = {"train_ppo.py": "sb3_contrib"}


def run_example(name: str, *args: str) -> str:
    env = {k: v for k, v in os.environ.items() if k not in ("CLICOLOR", "CLICOLOR_FORCE")}
    env["NO_COLOR"] = "1"
    done = subprocess.run(
        [sys.executable, str(EXAMPLES / name), *args], cwd=ROOT, env=env, capture_output=True, text=True, timeout=300
    )
    assert done.returncode == 0, done.stdout + done.stderr
    return done.stdout


def test_every_example_is_tested():
    assert {path.name for path in EXAMPLES.glob("*.py")} == set(RUNS)


@pytest.mark.parametrize("name", sorted(RUNS))
def test_example_runs(name):
    if name in NEEDS:
        pytest.importorskip(NEEDS[name])
    assert run_example(name, *RUNS[name]).strip()


@pytest.mark.parametrize("name", sorted(n for n in RUNS if RUNS[n]))
def test_example_help(name):
    assert "usage:" in run_example(name, "--help")


def test_random_play_reports_the_games():
    out = run_example("random_play.py", *RUNS["random_play.py"])
    assert "games: 5" in out
    assert re.search(r"mean score per game: \d+\.\d", out)
    # Deterministic for a seed.
    assert out == run_example("random_play.py", *RUNS["random_play.py"])


def test_greedy_beats_random_play():
    greedy = run_example("greedy.py", "--games", "1", "--moves", "40", "--seed", "5")
    match = re.search(r"game 1: (\d+) moves, score (\d+), longest chain (\d+)", greedy)
    assert match, greedy
    assert int(match.group(2)) > 0  # the greedy player fires chains


def test_greedy_verbose_shows_the_field():
    out = run_example("greedy.py", *RUNS["greedy.py"])
    lines = out.splitlines()
    assert any(re.fullmatch(r"[_ROBYGW]{12}", line) for line in lines), out


def test_parallel_matches_serial():
    out = run_example("parallel.py", *RUNS["parallel.py"])
    assert "fields: 60 on 2 workers" in out
    assert "parallel results match the serial ones" in out


def test_examples_import_without_running():
    """Each example's functions can be imported (the parallel one needs this for its workers)."""
    sys.path.insert(0, str(EXAMPLES))
    try:
        import greedy
        import parallel
        import random_play
        from velmo import Field

        assert parallel.evaluate(Field()) == parallel.Evaluation(0, 0, 0, 0)
        assert callable(greedy.choose) and callable(random_play.play_random_game)
    finally:
        sys.path.remove(str(EXAMPLES))
        for name in ("greedy", "parallel", "random_play"):
            sys.modules.pop(name, None)


@pytest.mark.parametrize("name", sorted(RUNS))
def test_every_example_answers_help(name):
    out = run_example(name, "--help")
    assert out.startswith(f"usage: {name}") and "--help" in out


def test_parallel_prints_the_serial_time_beside_the_pooled_one():
    out = run_example("parallel.py", *RUNS["parallel.py"])
    assert re.search(r"on 2 workers in \d+\.\d\d s; in one process \d+\.\d\d s \(\d+\.\d\dx faster pooled\)", out), out


def test_training_example_evaluates_every_player_and_plots(tmp_path):
    pytest.importorskip("sb3_contrib")
    out = run_example("train_ppo.py", *RUNS["train_ppo.py"], "--plot", str(tmp_path / "curve.png"))
    assert all(re.search(rf"{name}: mean score +\d+\.\d over 2 games", out) for name in ("agent", "random", "greedy")), out
    assert (tmp_path / "curve.png").stat().st_size > 0


def test_watch_bot_and_play_match_write_pages(tmp_path):
    pytest.importorskip("PIL")
    run_example("watch_bot.py", "--moves", "6", "--html", str(tmp_path / "game.html"), "--json", str(tmp_path / "g.json"))
    out = run_example("play_match.py", "--seed", "2", "--html", str(tmp_path / "match.html"))
    assert re.search(r"seed 2: (player [01] wins|a draw) at frame \d+", out)
    assert all((tmp_path / name).stat().st_size > 0 for name in ("game.html", "g.json", "match.html"))
