"""One-player games as Gymnasium environments, and the registration of velmo's environments.

``PuyoEnv`` (``velmo/Puyo-v0``) is one ``velmo_game.Game``; ``PuyoVectorEnv`` is a Gymnasium
``VectorEnv`` over ``velmo_game.VecGame``, which steps every game in native code without the
interpreter lock (``gymnasium.make_vec("velmo/Puyo-v0", num_envs=...)`` builds one). Both:

- observation: a dict of ``field`` and ``pairs``, as ``ids`` (``(14, 6)`` and ``(1 + visible, 2)``
  uint8 ``PuyoType`` numbers, the default) or one-hot ``planes`` (``obs="planes"``, see
  ``velmo_game.envs.options``), or, with ``flatten=True``, those values in one vector;
- action: ``Discrete(22)``, the moves of ``velmo.Hand.enumerate()``; the legal ones are in
  ``info["action_mask"]``, from ``action_masks()`` and, with ``mask_in_obs=True`` (what torchrl's
  ``ActionMask`` reads), in the observation dict as ``action_mask`` (``(22,)`` int8, ``(num_envs, 22)`` for the
  vector env: int8 everywhere, the dtype Gymnasium's ``Discrete.sample(mask=...)`` takes). On the
  step an episode ends the mask is all ones: the action that follows is ignored (the vector env
  resets the game) and every masked sampler can still draw one;
- reward: the move's score by default, or ``reward="log_score" | "chain" | callable``; the
  episode terminates when the game is over and is truncated after ``max_steps`` moves when that
  is set (``max_episode_steps`` of ``gymnasium.make_vec`` is the same limit);
- an illegal action: with ``illegal="substitute"`` (the default of ``PuyoEnv``) the lowest legal
  move is played instead and ``illegal_penalty`` is subtracted from the reward; with
  ``illegal="raise"`` it raises ``ValueError`` and the game is unchanged. The vector env takes the
  same option, ``"raise"`` by default as in ``VecGame``: a batch with an illegal move is refused
  (``ValueError``, no game changed); ``info["illegal"]`` marks the substituted games.

Seeds: episode ``k`` after ``reset(seed=s)`` plays ``Game(episode_seed(s, copy, k))``, where a
``PuyoEnv`` is copy ``copy`` (0 unless given) and game ``i`` of a vector env copy ``i`` (``velmo_game.episode_seed``, one
rule for every environment and batch). So ``make`` and ``make_vec`` seeded alike start with the
same game, copies seeded ``s, s + 1, ...`` never share a game, and ``PuyoEnv.game_seed`` (the
vector env's ``batch.seeds[i]``) replays an episode: ``Game(env.unwrapped.game_seed)``.
"""

from __future__ import annotations

from typing import Any, SupportsFloat

import gymnasium
import numpy as np
import numpy.typing as npt
from gymnasium import spaces
from gymnasium.vector import AutoresetMode, VectorEnv

from velmo_game import NUM_MOVES, _versus
from velmo_game._native import EnvRules, Game, ObservationBuffer, VecGame, episode_seed
from velmo_game.envs.options import ObservationForm, ObsName, RewardArg, array_space, native_reward, reward_function


def _dict_space(form: ObservationForm, mask_in_obs: bool = False) -> spaces.Dict:
    parts: dict[str, spaces.Space[Any]] = {"field": form.field_space, "pairs": form.pairs_space}
    if mask_in_obs:
        parts["action_mask"] = array_space("game", 0, "action_mask")
    return spaces.Dict(parts)


class PuyoEnv(gymnasium.Env[Any, np.int64]):
    """One seeded one-player game; see the module's documentation."""

    metadata = {"render_modes": ["ansi", "rgb_array"], "render_fps": 4}

    def __init__(
        self,
        *,
        colors: int = 4,
        visible: int = 2,
        max_steps: int | None = None,
        copy: int = 0,
        flatten: bool = False,
        obs: ObsName = "ids",
        obs_dtype: Any = np.float32,
        reward: RewardArg = "score",
        mask_in_obs: bool = False,
        illegal: _versus.IllegalPolicy = "substitute",
        illegal_penalty: float = 0.0,
        render_mode: str | None = None,
    ) -> None:
        _versus.check_render_mode(render_mode)
        if mask_in_obs and flatten:
            raise ValueError("mask_in_obs adds a key to the observation dict: it cannot go with flatten=True")
        # The step's rules are the batch's, stepped by the same native code (velmo::step_env).
        self._reward = reward_function(reward)
        self._rules = EnvRules(max_steps=max_steps, illegal=illegal, illegal_penalty=illegal_penalty, reward=native_reward(reward))
        self.render_mode = render_mode
        self._colors = colors
        self._visible = visible
        self._flatten = flatten
        self._form = ObservationForm(obs, visible, obs_dtype)
        # The plain form's step copies the buffer's arrays itself: the fast path.
        self._plain = self._form.is_ids and not flatten and not mask_in_obs and self._reward is None
        self._mask_in_obs = mask_in_obs
        self._dict_space = _dict_space(self._form, mask_in_obs)
        self.observation_space = spaces.flatten_space(self._dict_space) if flatten else self._dict_space
        self.action_space = spaces.Discrete(NUM_MOVES)
        self.game = Game(0, colors=colors, visible=visible)
        self._chain = 0  # the last move's, for the picture
        self._copy = copy
        self._seed = 0
        self._episode = -1  # a first reset without a seed plays episode 0 of seed 0
        self.game_seed = episode_seed(0)
        self._buffer = ObservationBuffer(visible)

    def _observation(self) -> Any:
        field, pairs = self._buffer.field, self._buffer.pairs
        if self._flatten:
            if self._form.is_ids:
                return np.concatenate([field.ravel(), pairs.ravel()])
            return np.concatenate([self._form.field(field).ravel(), self._form.pairs(pairs).ravel()])
        observation = {"field": self._form.field(field), "pairs": self._form.pairs(pairs)}
        if self._mask_in_obs:
            observation["action_mask"] = self.action_masks()
        return observation

    def action_masks(self) -> npt.NDArray[np.int8]:
        """The ``(22,)`` int8 mask of the last observation (sb3-contrib's convention)."""
        return self._buffer.action_mask.copy()

    def reset(self, *, seed: int | None = None, options: dict[str, Any] | None = None) -> tuple[Any, dict[str, Any]]:
        super().reset(seed=seed)
        if seed is not None:
            self._seed, self._episode = seed, 0
        else:
            self._episode += 1
        self.game_seed = episode_seed(self._seed, self._copy, self._episode)
        self.game = Game(self.game_seed, colors=self._colors, visible=self._visible)
        self._chain = 0
        self._buffer.fill(self.game)
        return self._observation(), {"action_mask": self._buffer.action_mask.copy()}

    def step(self, action: Any) -> tuple[Any, SupportsFloat, bool, bool, dict[str, Any]]:
        # The whole step is native (velmo::step_env, as each game of a batch steps): the move or
        # its substitute played, the reward, termination, truncation, the buffer's arrays and mask.
        buffer = self._buffer
        self._chain, score, over, truncated, penalised, reward = buffer.step(self.game, action, self._rules)
        info = {"action_mask": buffer.action_mask.copy(), "chain": self._chain, "score": score, "illegal": penalised}
        if self._plain:  # the default options: the fast path
            return {"field": buffer.field.copy(), "pairs": buffer.pairs.copy()}, reward, over, truncated, info
        if self._reward is not None:
            # The native reward is the move's score less what the step charged for it.
            reward = float(self._reward(score, self._chain)) + (reward - score)
        return self._observation(), reward, over, truncated, info

    def render(self) -> str | npt.NDArray[np.uint8] | None:
        if self.render_mode == "ansi":
            return self.game.field.get_pretty_string()
        if self.render_mode == "rgb_array":
            return _versus.game_picture(self.game, self._chain)
        return None


class PuyoVectorEnv(VectorEnv[Any, Any, Any]):
    """``num_envs`` one-player games stepped natively by ``VecGame``; see the module's documentation.

    With the default ``obs="ids"``, ``reward="score"`` and no ``flatten``, the arrays returned are
    the batch's own read-only buffers, overwritten by the next step: copy what you keep. Auto-reset
    follows ``VecGame``'s ``autoreset`` ("next_step" by default). ``max_episode_steps`` (what
    ``gymnasium.make_vec`` passes) is another name for ``max_steps``.
    """

    metadata = {"autoreset_mode": AutoresetMode.NEXT_STEP, "render_modes": ["ansi", "rgb_array"]}

    def __init__(
        self,
        num_envs: int = 1,
        *,
        colors: int = 4,
        visible: int = 2,
        max_steps: int | None = None,
        max_episode_steps: int | None = None,
        num_threads: int | None = None,
        autoreset: str = "next_step",
        seed: int = 0,
        flatten: bool = False,
        obs: ObsName = "ids",
        obs_dtype: Any = np.float32,
        reward: RewardArg = "score",
        illegal: _versus.IllegalPolicy = "raise",
        illegal_penalty: float = 0.0,
        render_mode: str | None = None,
    ) -> None:
        _versus.check_render_mode(render_mode)
        if max_episode_steps is not None:
            if max_steps is not None and max_steps != max_episode_steps:
                raise ValueError(f"max_steps={max_steps} and max_episode_steps={max_episode_steps} disagree")
            max_steps = max_episode_steps
        self.render_mode = render_mode
        self.batch = VecGame(num_envs, seed=seed, num_threads=num_threads, colors=colors, visible=visible,
                             autoreset=autoreset, max_steps=max_steps, illegal=illegal, illegal_penalty=illegal_penalty,
                             reward=native_reward(reward))
        modes = {"next_step": AutoresetMode.NEXT_STEP, "same_step": AutoresetMode.SAME_STEP,
                 "disabled": AutoresetMode.DISABLED}
        self.metadata = {"autoreset_mode": modes[autoreset], "render_modes": ["ansi", "rgb_array"]}
        self.num_envs = num_envs
        self._form = ObservationForm(obs, visible, obs_dtype)
        self._reward = reward_function(reward)
        self._flatten = flatten
        self._started = False
        dict_space = _dict_space(self._form)
        self.single_observation_space = spaces.flatten_space(dict_space) if flatten else dict_space
        self.single_action_space = spaces.Discrete(NUM_MOVES)
        self.observation_space = gymnasium.vector.utils.batch_space(self.single_observation_space, num_envs)
        self.action_space = gymnasium.vector.utils.batch_space(self.single_action_space, num_envs)

    def _convert(self, field: npt.NDArray[np.uint8], pairs: npt.NDArray[np.uint8]) -> Any:
        if self._form.is_ids and not self._flatten:
            return {"field": field, "pairs": pairs}
        field, pairs = self._form.field(field), self._form.pairs(pairs)
        if self._flatten:
            n = len(field)
            return np.concatenate([field.reshape(n, -1), pairs.reshape(n, -1)], axis=1)
        return {"field": field, "pairs": pairs}

    def _observation(self) -> Any:
        return self._convert(self.batch.field, self.batch.pairs)

    def _info(self) -> dict[str, Any]:
        info = {"action_mask": self.batch.action_masks, "chain": self.batch.chain, "score": self.batch.score,
                "illegal": self.batch.substituted}
        if self.metadata["autoreset_mode"] == AutoresetMode.SAME_STEP:
            ended = self.batch.terminated | self.batch.truncated
            if ended.any():
                info["final_obs"] = self._convert(self.batch.final_field, self.batch.final_pairs)
                info["_final_obs"] = ended
        return info

    def action_masks(self) -> npt.NDArray[np.int8]:
        """The ``(num_envs, 22)`` int8 masks of the last observation (the batch's read-only array)."""
        masks: npt.NDArray[np.int8] = self.batch.action_masks
        return masks

    def reset(self, *, seed: int | list[int] | None = None, options: dict[str, Any] | None = None) -> tuple[Any, dict[str, Any]]:
        """Start every game's next episode. ``seed`` an int reseeds the batch as a whole (game ``i``
        plays ``episode_seed(seed, i, k)``); a list of ``num_envs`` seeds gives game ``i`` the
        games of a single ``PuyoEnv(copy=i)`` reset with ``seed[i]``."""
        # The first reset without a seed plays episode 0 of the constructor's seed, as PuyoEnv's.
        self.batch.reset(seed if seed is not None or self._started else self.batch.seed)
        self._started = True
        return self._observation(), self._info()

    def step(self, actions: Any) -> tuple[Any, Any, Any, Any, dict[str, Any]]:
        _, rewards, terminated, truncated = self.batch.step(np.asarray(actions))
        if self._reward is not None:
            # The native rewards are the moves' scores less what the step charged for them.
            scores = self.batch.move_score
            rewards = np.asarray(self._reward(scores, self.batch.chain), dtype=np.float32) + (rewards - scores.astype(np.float32))
        return self._observation(), rewards, terminated, truncated, self._info()

    def render(self) -> tuple[Any, ...] | None:
        """One picture (``"rgb_array"``) or text (``"ansi"``) per game, as ``PuyoEnv`` draws it."""
        if self.render_mode == "ansi":
            return tuple(self.batch.game(i).field.get_pretty_string() for i in range(self.num_envs))
        if self.render_mode != "rgb_array":
            return None
        chains = self.batch.chain
        return tuple(_versus.game_picture(self.batch.game(i), int(chains[i])) for i in range(self.num_envs))


def register_envs() -> None:
    """Register ``velmo/Puyo-v0`` and ``velmo/PuyoVersus-v0`` with Gymnasium (done on import)."""
    from gymnasium.envs.registration import register, registry

    if "velmo/Puyo-v0" not in registry:
        register(id="velmo/Puyo-v0", entry_point="velmo_game.gym_env:PuyoEnv",
                 vector_entry_point="velmo_game.gym_env:PuyoVectorEnv")
    if "velmo/PuyoVersus-v0" not in registry:
        register(id="velmo/PuyoVersus-v0", entry_point="velmo_game.versus_env:PuyoVersusEnv")
