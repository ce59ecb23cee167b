"""The one-player Gymnasium environments and their registration."""

from __future__ import annotations

import numpy as np
import pytest

gymnasium = pytest.importorskip("gymnasium")

from gymnasium.utils.env_checker import check_env  # noqa: E402

import velmo  # noqa: E402
import velmo_game  # noqa: E402 - registers the environments
from velmo_game import Game, VecGame  # noqa: E402
from velmo_game.gym_env import PuyoEnv, PuyoVectorEnv  # noqa: E402


@pytest.mark.parametrize("env_id, options", [("velmo/Puyo-v0", {}), ("velmo/Puyo-v0", {"flatten": True}),
                                             ("velmo/PuyoVersus-v0", {})])
def test_registered_environments_pass_check_env(env_id, options):
    env = gymnasium.make(env_id, **options)
    check_env(env.unwrapped, skip_render_check=True)


def test_the_environment_plays_the_game_of_its_seed():
    env = PuyoEnv(max_steps=30)
    observation, info = env.reset(seed=6)
    game = Game(6)
    total = 0.0
    returned, expected = [], []  # every step's arrays, checked at the end: none may alias a later step's
    for _ in range(30):
        move = int(np.flatnonzero(info["action_mask"])[-1])
        observation, reward, terminated, truncated, info = env.step(move)
        result = game.play(move)
        total += float(reward)
        assert reward == result.score and terminated == result.game_over
        returned.append((observation["field"], observation["pairs"], info["action_mask"]))
        expected.append((*game.observation(), game.action_mask().astype(np.int8)))
        if terminated or truncated:
            break
    for got, want in zip(returned, expected):
        for array, wanted in zip(got, want):
            np.testing.assert_array_equal(array, wanted)
            assert array.dtype == wanted.dtype
    assert env.game == game and total == game.score
    assert truncated or terminated


def test_observation_buffer_refuses_a_game_of_another_visible():
    buffer = velmo_game._native.ObservationBuffer(1)
    buffer.fill(Game(3, visible=1))
    assert buffer.pairs.shape == (2, 2) and not buffer.field.flags.writeable
    with pytest.raises(ValueError, match="shows 2 next pairs"):
        buffer.fill(Game(3))


def test_an_illegal_action_is_replaced_and_charged_or_refused():
    wall = [" " + c for c in "RBGYRBGYRBGYR"]  # Python column 1 stacked 13 high, no group
    env = PuyoEnv(illegal_penalty=5.0)
    env.reset(seed=0)
    env.game = Game(field=velmo.Field.from_str_array(wall))
    _, reward, *_, info = env.step(0)  # column 0 is walled off
    assert info["illegal"] and reward == -5.0
    strict = PuyoEnv(illegal="raise")
    strict.reset(seed=0)
    strict.game = Game(field=velmo.Field.from_str_array(wall))
    before = strict.game.clone()
    with pytest.raises(ValueError, match="not legal"):
        strict.step(0)
    assert strict.game == before


def test_make_vec_steps_a_native_batch():
    env = gymnasium.make_vec("velmo/Puyo-v0", num_envs=6, vectorization_mode="vector_entry_point")
    observations, infos = env.reset(seed=3)
    batch = VecGame(6, seed=3)
    batch.reset(3)
    for _ in range(20):
        actions = infos["action_mask"].argmax(axis=1)
        observations, rewards, terminated, truncated, infos = env.step(actions)
        batch.step(actions)
        np.testing.assert_array_equal(observations["field"], batch.field)
        np.testing.assert_array_equal(rewards, batch.rewards)


@pytest.mark.parametrize("mode", ["ansi", "rgb_array"])
def test_render_modes(mode):
    env = PuyoEnv(render_mode=mode)
    env.reset(seed=1)
    picture = env.render()
    if mode == "ansi":
        assert isinstance(picture, str)
        return
    from velmo_game import render

    # The renderer's picture: the field with the pairs beside it, the score and the last chain.
    assert picture.shape[1] > 6 * 16 and picture.dtype == np.uint8
    env.reset(seed=0)
    field = velmo.Field.from_str_array(["RRR"])
    env.game = Game(field=field, sequence=[velmo.Pair(velmo.PuyoType.BLUE, velmo.PuyoType.RED)])
    top = next(m for m, hand in enumerate(velmo.Hand.enumerate()) if hand.x == 3 and str(hand.rotation) == "top")
    assert env.step(top)[4]["chain"] == 1
    np.testing.assert_array_equal(env.render(), render.rgb_array(render.board_of_game(env.game, chain=1)))


def test_vector_env_renders_every_game():
    from velmo_game import render

    env = PuyoVectorEnv(3, render_mode="rgb_array")
    env.reset(seed=4)
    pictures = env.render()
    assert len(pictures) == 3
    np.testing.assert_array_equal(pictures[1], render.rgb_array(env.batch.game(1)))


def test_module_qualified_ids_work_from_a_fresh_process():
    import subprocess
    import sys

    code = ("import gymnasium\n"
            "env = gymnasium.make('velmo_game:velmo/Puyo-v0')\n"
            "vec = gymnasium.make_vec('velmo_game:velmo/Puyo-v0', num_envs=2, vectorization_mode='vector_entry_point')\n"
            "versus = gymnasium.make('velmo_game:velmo/PuyoVersus-v0')\n"
            "print(type(env.unwrapped).__name__, type(vec).__name__, type(versus.unwrapped).__name__)\n")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert done.stdout.split() == ["PuyoEnv", "PuyoVectorEnv", "PuyoVersusEnv"], done.stderr
