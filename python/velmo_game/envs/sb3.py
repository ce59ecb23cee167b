"""A Stable-Baselines3 ``VecEnv`` over the native batch of one-player games.

``make_sb3_vec_env(n, seed=s)`` gives ``n`` games stepped by ``VecGame`` in native code, with
SB3's conventions: a finished game is reset at once, its last observation in
``infos[i]["terminal_observation"]`` (``infos[i]["TimeLimit.truncated"]`` set when it was cut
at ``max_steps``, ``infos[i]["game_score"]`` its total score, whatever ``reward=`` says); ``reset()`` takes the seed set by ``seed(s)`` (``seeds[0]``: game ``i`` plays
``Game(episode_seed(s, i, k))``, the package's one rule); ``action_masks()`` (and
``env_method("action_masks")``) gives the ``(n, 22)`` int8 masks that sb3-contrib's
``MaskablePPO`` looks for::

    from sb3_contrib import MaskablePPO
    from velmo_game.envs.sb3 import make_sb3_vec_env

    model = MaskablePPO("MultiInputPolicy", make_sb3_vec_env(8, seed=0, obs="planes", reward="log_score"))
    model.learn(100_000)

Needs ``stable-baselines3`` (``pip install "velmo[frameworks]"``). Every array handed out is a
copy, safe to keep.
"""

from __future__ import annotations

import importlib
from typing import Any, Sequence

import numpy as np
import numpy.typing as npt

from velmo_game.gym_env import PuyoVectorEnv

# Looked up at run time: SB3 is an optional dependency, and its classes are untyped bases here.
_vec_env: Any = importlib.import_module("stable_baselines3.common.vec_env")


def _copy(observation: Any) -> Any:
    if isinstance(observation, dict):
        return {key: np.array(value) for key, value in observation.items()}
    return np.array(observation)


def _row(observation: Any, i: int) -> Any:
    if isinstance(observation, dict):
        return {key: np.array(value[i]) for key, value in observation.items()}
    return np.array(observation[i])


class PuyoSB3VecEnv(_vec_env.VecEnv):  # type: ignore[misc]  # an untyped base, found at run time
    """``num_envs`` one-player games for SB3; the options are ``PuyoVectorEnv``'s (see the module)."""

    def __init__(self, num_envs: int = 1, *, seed: int = 0, illegal: str = "substitute", **options: Any) -> None:
        if "autoreset" in options:
            raise ValueError("an SB3 VecEnv resets finished games at once: autoreset cannot be chosen")
        self.env = PuyoVectorEnv(num_envs, seed=seed, autoreset="same_step", illegal=illegal, **options)  # type: ignore[arg-type]
        self.render_mode = self.env.render_mode
        super().__init__(num_envs, self.env.single_observation_space, self.env.single_action_space)
        self._actions: npt.NDArray[np.int64] = np.zeros(num_envs, dtype=np.int64)

    def reset(self) -> Any:
        seed = self._seeds[0]
        observation, _ = self.env.reset(seed=seed)
        self._reset_seeds()
        self._reset_options()
        self.reset_infos: list[dict[str, Any]] = [{} for _ in range(self.num_envs)]
        return _copy(observation)

    def step_async(self, actions: npt.ArrayLike) -> None:
        self._actions = np.asarray(actions, dtype=np.int64).reshape(self.num_envs)

    def step_wait(self) -> tuple[Any, npt.NDArray[np.float32], npt.NDArray[np.bool_], list[dict[str, Any]]]:
        batch = self.env.batch
        totals = batch.score.copy()  # before the step: a finished game's total is gone after it
        observation, rewards, terminated, truncated, info = self.env.step(self._actions)
        dones = np.logical_or(terminated, truncated)
        infos: list[dict[str, Any]] = [{} for _ in range(self.num_envs)]
        if dones.any():
            totals = totals + batch.move_score  # the ending move's score, whatever reward= says
        for i in np.flatnonzero(dones):
            infos[i]["terminal_observation"] = _row(info["final_obs"], int(i))
            infos[i]["TimeLimit.truncated"] = bool(truncated[i] and not terminated[i])
            infos[i]["game_score"] = int(totals[i])
        return _copy(observation), np.array(rewards, dtype=np.float32), dones, infos

    def action_masks(self) -> npt.NDArray[np.int8]:
        """The ``(num_envs, 22)`` int8 masks of the last observation (a copy)."""
        return np.array(self.env.action_masks())

    def close(self) -> None:
        pass

    def _indices(self, indices: Any) -> list[int]:
        return list(self._get_indices(indices))

    def get_attr(self, attr_name: str, indices: Any = None) -> list[Any]:
        if attr_name == "action_masks":
            return [self._mask_of(i) for i in self._indices(indices)]
        value = getattr(self.env, attr_name)  # AttributeError when missing, as SB3 expects
        return [value for _ in self._indices(indices)]

    def _mask_of(self, i: int) -> Any:
        return lambda: np.array(self.env.action_masks()[i])

    def set_attr(self, attr_name: str, value: Any, indices: Any = None) -> None:
        setattr(self.env, attr_name, value)

    def env_method(self, method_name: str, *method_args: Any, indices: Any = None, **method_kwargs: Any) -> list[Any]:
        if method_name == "action_masks":
            masks = self.action_masks()
            return [masks[i] for i in self._indices(indices)]
        method = getattr(self.env, method_name)
        return [method(*method_args, **method_kwargs) for _ in self._indices(indices)]

    def env_is_wrapped(self, wrapper_class: type, indices: Any = None) -> list[bool]:
        return [False for _ in self._indices(indices)]

    def get_images(self) -> Sequence[npt.NDArray[np.uint8] | None]:
        if self.render_mode != "rgb_array":
            return [None for _ in range(self.num_envs)]
        return list(self.env.render() or ())


def make_sb3_vec_env(num_envs: int = 8, *, seed: int = 0, monitor: bool = True, **options: Any) -> Any:
    """``PuyoSB3VecEnv(num_envs, seed=seed, **options)``, in SB3's ``VecMonitor`` unless
    ``monitor=False`` (so training logs show the episodes' returns and lengths)."""
    env = PuyoSB3VecEnv(num_envs, seed=seed, **options)
    env.seed(seed)
    return _vec_env.VecMonitor(env) if monitor else env


__all__ = ["PuyoSB3VecEnv", "make_sb3_vec_env"]
