"""The PettingZoo versus environment: the API and seed tests, the wait action, rewards, the
illegal-action rule, and agreement with a Match played directly."""

from __future__ import annotations

import numpy as np
import pytest

pytest.importorskip("pettingzoo")

from pettingzoo.test import api_test, parallel_api_test, parallel_seed_test  # noqa: E402

from velmo_game import Match, episode_seed  # noqa: E402
from velmo_game.pettingzoo import WAIT, env, parallel_env  # noqa: E402


def first_legal(observation: dict[str, np.ndarray]) -> int:
    return int(np.flatnonzero(observation["action_mask"])[0])


@pytest.mark.parametrize("options", [{}, {"layout": "dict"}, {"obs": "planes"}, {"obs": "planes", "layout": "dict"},
                                     {"obs": "planes", "obs_dtype": np.uint8}])
def test_parallel_api_seed_and_aec_api_tests_pass(options):
    parallel_api_test(parallel_env(**options), num_cycles=400)
    parallel_seed_test(lambda: parallel_env(visible=1, **options), num_cycles=400)
    api_test(env(**options), num_cycles=200)


def test_the_classic_layout_holds_the_whole_view():
    classic, plain = parallel_env(), parallel_env(layout="dict")
    observations, infos = classic.reset(seed=3)
    views, _ = plain.reset(seed=3)
    assert set(observations["player_1"]) == {"observation", "action_mask"}
    np.testing.assert_array_equal(observations["player_1"]["action_mask"], infos["player_1"]["action_mask"])
    flat = np.concatenate([views["player_1"][k].ravel() for k in sorted(views["player_1"]) if k != "action_mask"])
    np.testing.assert_array_equal(observations["player_1"]["observation"], flat.astype(np.float32))


def test_an_agent_that_is_not_due_may_only_wait():
    env = parallel_env()
    observations, infos = env.reset(seed=4)
    seen_wait_only = False
    while env.agents:
        for player, agent in enumerate(env.possible_agents):
            mask = observations[agent]["action_mask"]
            np.testing.assert_array_equal(mask, infos[agent]["action_mask"])
            due = player in env.match.to_move()
            assert bool(mask[WAIT]) == (not due)
            if not due:
                assert mask.sum() == 1
                seen_wait_only = True
        # Different players make different placements, so their decisions drift apart in time.
        actions = {"player_0": first_legal(observations["player_0"]),
                   "player_1": int(np.flatnonzero(observations["player_1"]["action_mask"])[-1])}
        observations, *_, infos = env.step(actions)
    assert seen_wait_only


def test_the_environment_plays_the_match_of_its_seed():
    env = parallel_env(layout="dict")
    observations, _ = env.reset(seed=11)
    match = Match(episode_seed(11))
    rewards: dict[str, float] = {}
    while env.agents:
        actions = {a: first_legal(observations[a]) for a in env.agents}
        match.step({p: actions[a] for p, a in enumerate(env.possible_agents) if actions[a] != WAIT})
        observations, rewards, terminated, truncated, _ = env.step(actions)
        assert env.match == match
        for p, agent in enumerate(env.possible_agents):
            np.testing.assert_array_equal(observations[agent]["field"], match.observation(p)["field"])
    assert match.is_over and all(terminated.values()) and not any(truncated.values())
    expected = {None: (0.0, 0.0), 0: (1.0, -1.0), 1: (-1.0, 1.0)}[match.winner]
    assert (rewards["player_0"], rewards["player_1"]) == expected


def test_reset_without_a_seed_goes_on_with_the_next_match():
    env = parallel_env()
    env.reset(seed=7)
    env.reset()
    assert env.match == Match(episode_seed(7, 0, 1))


def test_an_illegal_action_is_replaced_and_charged_or_refused():
    env = parallel_env(illegal_penalty=0.25)
    env.reset(seed=1)
    _, rewards, *_, infos = env.step({"player_0": WAIT, "player_1": WAIT})  # both are due at the start
    assert rewards == {"player_0": -0.25, "player_1": -0.25}
    assert infos["player_0"]["illegal"] and infos["player_1"]["illegal"]

    strict = parallel_env(illegal="raise")
    strict.reset(seed=1)
    before = strict.match.clone()
    with pytest.raises(ValueError, match="player 0 .*is due"):
        strict.step({"player_0": WAIT, "player_1": 0})
    assert strict.match == before


@pytest.mark.parametrize("mode, shape", [("ansi", None), ("rgb_array", (307, 296, 3))])
def test_render_modes(mode, shape):
    env = parallel_env(render_mode=mode)
    env.reset(seed=2)
    picture = env.render()
    if shape is None:
        assert isinstance(picture, str) and "player 1" in picture
    else:
        assert picture.shape == shape and picture.dtype == np.uint8


@pytest.mark.parametrize("options", [{"illegal": "ignore"}, {"render_mode": "human"}])
def test_bad_options_are_refused(options):
    with pytest.raises(ValueError):
        parallel_env(**options)
