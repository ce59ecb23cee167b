"""The Gymnasium versus environment against a built-in opponent."""

from __future__ import annotations

import numpy as np
import pytest

pytest.importorskip("gymnasium")

from gymnasium.utils.env_checker import check_env  # noqa: E402

from velmo_game import Match, episode_seed  # noqa: E402
from velmo_game.versus_env import PuyoVersusEnv  # noqa: E402


@pytest.mark.parametrize("flatten", [False, True])
def test_check_env_passes(flatten):
    check_env(PuyoVersusEnv(flatten=flatten), skip_render_check=True)


def test_a_replaceable_opponent_is_asked_whenever_player_1_is_due():
    calls = []

    def lowest(match: Match, player: int) -> int:
        calls.append(player)
        return match.legal_moves(player)[0]

    env = PuyoVersusEnv(opponent=lowest)
    observation, info = env.reset(seed=5)
    match = Match(env.match_seed)
    assert env.match_seed == episode_seed(5)
    done = False
    while not done:
        action = int(np.flatnonzero(info["action_mask"])[0])
        observation, reward, terminated, truncated, info = env.step(action)
        done = terminated or truncated
    assert calls and set(calls) == {1}
    # The same match played directly by the same two players.
    while not match.is_over:
        match.step({p: match.legal_moves(p)[0] for p in match.to_move()})
    assert env.match == match
    assert reward == {None: 0.0, 0: 1.0, 1: -1.0}[match.winner]


def test_observations_come_at_the_agents_decisions():
    env = PuyoVersusEnv()
    _, info = env.reset(seed=3)
    for _ in range(20):
        if env.match.is_over:
            break
        assert 0 in env.match.to_move() and info["action_mask"].any()
        _, _, terminated, truncated, info = env.step(int(np.flatnonzero(info["action_mask"])[-1]))


def test_an_illegal_action_is_replaced_and_charged_or_refused():
    env = PuyoVersusEnv(illegal="raise")
    env.reset(seed=0)
    before = env.match.clone()
    with pytest.raises(ValueError):
        env.step(40)
    assert env.match == before


def test_random_opponent_is_reproducible_per_seed():
    def play(seed: int) -> list[int]:
        env = PuyoVersusEnv()
        _, info = env.reset(seed=seed)
        scores = []
        done = False
        while not done:
            _, _, terminated, truncated, info = env.step(int(np.flatnonzero(info["action_mask"])[0]))
            scores.append(env.match.players[1].score)
            done = terminated or truncated
        return scores

    assert play(9) == play(9)
