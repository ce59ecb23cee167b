"""The fronts for RL frameworks: SB3's checker and VecEnv conventions, MaskablePPO without glue,
torchrl's ActionMask. Each needs its framework (and PyTorch): skipped where it is missing."""

from __future__ import annotations

import numpy as np
import pytest

gymnasium = pytest.importorskip("gymnasium")

import velmo_game  # noqa: E402,F401 - registers the environments

OBS_OPTIONS = [{}, {"flatten": True}, {"obs": "planes"}, {"obs": "planes", "obs_dtype": np.uint8}]


@pytest.mark.parametrize("env_id", ["velmo/Puyo-v0", "velmo/PuyoVersus-v0"])
@pytest.mark.parametrize("options", OBS_OPTIONS)
def test_sb3_check_env_passes(env_id, options):
    checker = pytest.importorskip("stable_baselines3.common.env_checker")
    checker.check_env(gymnasium.make(env_id, **options))  # its warnings (planes look like images) are advice


def test_the_sb3_vec_env_resets_finished_games_at_once_with_their_last_observation():
    pytest.importorskip("stable_baselines3")
    from velmo_game.envs.sb3 import make_sb3_vec_env

    env = make_sb3_vec_env(3, seed=4, monitor=False, max_steps=4)
    first = env.reset()
    single = gymnasium.make("velmo/Puyo-v0")
    np.testing.assert_array_equal(first["pairs"][0], single.reset(seed=4)[0]["pairs"])  # copy 0 is the single env
    for step in range(4):
        before = env.env.batch.field.copy()
        observation, rewards, dones, infos = env.step(env.action_masks().argmax(axis=1))
    assert dones.all() and all(info["TimeLimit.truncated"] for info in infos)
    assert not np.array_equal(infos[0]["terminal_observation"]["field"], observation["field"][0])
    assert (env.env.batch.episode_steps == 0).all() and before.any()
    assert np.stack(env.env_method("action_masks")).shape == (3, 22) and env.has_attr("action_masks")


@pytest.mark.parametrize("vectorised", [False, True])
def test_maskable_ppo_trains_without_glue(vectorised):
    sb3_contrib = pytest.importorskip("sb3_contrib")
    from velmo_game.envs.sb3 import make_sb3_vec_env

    env = make_sb3_vec_env(4, seed=0, obs="planes", reward="log_score") if vectorised else \
        gymnasium.make("velmo/Puyo-v0", obs="planes", reward="log_score")
    model = sb3_contrib.MaskablePPO("MultiInputPolicy", env, n_steps=32, batch_size=32, n_epochs=1, seed=0)
    model.learn(128)
    observation = env.reset() if vectorised else env.reset(seed=1)[0]
    masks = env.action_masks() if vectorised else env.unwrapped.action_masks()
    action, _ = model.predict(observation, action_masks=masks, deterministic=True)
    assert np.all(np.take_along_axis(np.atleast_2d(masks), np.atleast_1d(action)[:, None], axis=1))


@pytest.mark.parametrize("obs", ["ids", "planes"])
def test_torchrl_action_mask_reads_the_mask_from_the_observation(obs):
    torchrl_envs = pytest.importorskip("torchrl.envs")
    from torchrl.envs.transforms import ActionMask
    from torchrl.envs.utils import check_env_specs

    env = torchrl_envs.TransformedEnv(torchrl_envs.GymEnv("velmo/Puyo-v0", mask_in_obs=True, obs=obs), ActionMask())
    check_env_specs(env)
    rollout = env.rollout(40)
    chosen = rollout["action"].argmax(-1, keepdim=True)
    assert rollout["action_mask"].gather(-1, chosen).all()  # every random action was a legal one
