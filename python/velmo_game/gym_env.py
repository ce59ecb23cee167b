"""One-player games as Gymnasium environments, and the registration of velmo's environments.

``PuyoEnv`` (``velmo/Puyo-v0``) is one ``velmo_game.Game``; ``PuyoVectorEnv`` is a Gymnasium
``VectorEnv`` over ``velmo_game.VecGame``, which steps every game in native code without the
interpreter lock (``gymnasium.make_vec("velmo/Puyo-v0", num_envs=...)`` builds one). Both:

- observation: a dict of ``field`` (``(14, 6)`` uint8, ``PuyoType`` numbers, row 0 the 14th row)
  and ``pairs`` (``(1 + visible, 2)`` uint8, the current pair then the next ones, child then
  axis), or, with ``flatten=True`` (``PuyoEnv`` only), those values in one uint8 vector;
- action: ``Discrete(22)``, the moves of ``velmo.Hand.enumerate()``; the legal ones are in
  ``info["action_mask"]`` (``(22,)`` int8; ``(num_envs, 22)`` bool for the vector env);
- reward: the move's score (its chain's, with any all-clear bonus); the episode terminates when
  the game is over and is truncated after ``max_steps`` moves when that is set;
- an illegal action: with ``illegal="substitute"`` (the default of ``PuyoEnv``) the lowest legal
  move is played instead and ``illegal_penalty`` is subtracted from the reward; with
  ``illegal="raise"`` it raises ``ValueError`` and the game is unchanged. The vector env takes the
  same option, ``"raise"`` by default as in ``VecGame``: a batch with an illegal move is refused
  (``ValueError``, no game changed); ``info["illegal"]`` marks the substituted games.

``reset(seed=s)`` starts ``Game(s)``; a reset without a seed starts the next seed.
"""

from __future__ import annotations

from typing import Any, SupportsFloat

import gymnasium
import numpy as np
import numpy.typing as npt
from gymnasium import spaces
from gymnasium.vector import AutoresetMode, VectorEnv

from velmo_game import _versus
from velmo_game._native import Game, ObservationBuffer, VecGame

NUM_MOVES = 22
_MASK64 = (1 << 64) - 1


def _dict_space(visible: int) -> spaces.Dict:
    return spaces.Dict(
        {
            "field": spaces.Box(0, 7, shape=(14, 6), dtype=np.uint8),
            "pairs": spaces.Box(0, 7, shape=(1 + visible, 2), dtype=np.uint8),
        }
    )


class PuyoEnv(gymnasium.Env[Any, np.int64]):
    """One seeded one-player game; see the module's documentation."""

    metadata = {"render_modes": ["ansi", "rgb_array"], "render_fps": 4}

    def __init__(
        self,
        *,
        colors: int = 4,
        visible: int = 2,
        max_steps: int | None = None,
        flatten: bool = False,
        illegal: _versus.IllegalPolicy = "substitute",
        illegal_penalty: float = 0.0,
        render_mode: str | None = None,
    ) -> None:
        _versus.check_env_options(illegal, render_mode)
        if max_steps is not None and max_steps < 1:
            raise ValueError(f"max_steps must be at least 1 or None, not {max_steps}")
        self.render_mode = render_mode
        self._colors = colors
        self._visible = visible
        self._max_steps = max_steps
        self._flatten = flatten
        self._illegal: _versus.IllegalPolicy = illegal
        self._penalty = float(illegal_penalty)
        self._dict_space = _dict_space(visible)
        self.observation_space = spaces.flatten_space(self._dict_space) if flatten else self._dict_space
        self.action_space = spaces.Discrete(NUM_MOVES)
        self.game = Game(0, colors=colors, visible=visible)
        self._next_seed = 0
        self._buffer = ObservationBuffer(visible)

    # Each call copies the buffer that the last `_refresh` filled: the caller owns what it gets.
    def _refresh(self) -> None:
        self._buffer.fill(self.game)

    def _observation(self) -> Any:
        field, pairs = self._buffer.field, self._buffer.pairs
        if self._flatten:
            return np.concatenate([field.ravel(), pairs.ravel()])
        return {"field": field.copy(), "pairs": pairs.copy()}

    def _info(self, **extra: Any) -> dict[str, Any]:
        return {"action_mask": self._buffer.action_mask.copy(), **extra}

    def reset(self, *, seed: int | None = None, options: dict[str, Any] | None = None) -> tuple[Any, dict[str, Any]]:
        super().reset(seed=seed)
        if seed is not None:
            self._next_seed = seed
        self.game = Game(self._next_seed, colors=self._colors, visible=self._visible)
        self._next_seed = (self._next_seed + 1) & _MASK64
        self._refresh()
        return self._observation(), self._info()

    def step(self, action: Any) -> tuple[Any, SupportsFloat, bool, bool, dict[str, Any]]:
        if self.game.is_over:
            raise ValueError("the game is over: call reset() first")
        move = int(action)
        penalised = False
        game, buffer = self.game, self._buffer
        if not 0 <= move < NUM_MOVES or not game.is_legal(move):
            if self._illegal == "raise":
                raise ValueError(f"move {move} is not legal here; info['action_mask'] marks the legal ones")
            move = game.legal_moves()[0]
            penalised = True
        result = game.play(move)
        score = result.score
        reward = float(score) - self._penalty if penalised else float(score)
        truncated = self._max_steps is not None and game.turn >= self._max_steps and not result.game_over
        buffer.fill(game)
        info = {"action_mask": buffer.action_mask.copy(), "chain": result.chain, "score": score, "illegal": penalised}
        if self._flatten:
            return self._observation(), reward, result.game_over, truncated, info
        return {"field": buffer.field.copy(), "pairs": buffer.pairs.copy()}, reward, result.game_over, truncated, info

    def render(self) -> str | npt.NDArray[np.uint8] | None:
        if self.render_mode == "ansi":
            return self.game.field.get_pretty_string()
        if self.render_mode == "rgb_array":
            return _versus.field_picture(self.game.observation()[0])
        return None


class PuyoVectorEnv(VectorEnv[Any, Any, Any]):
    """``num_envs`` one-player games stepped natively by ``VecGame``; see the module's documentation.

    The arrays returned are the batch's own buffers, overwritten by the next step: copy what you
    keep. Auto-reset follows ``VecGame``'s ``autoreset`` ("next_step" by default).
    """

    metadata = {"autoreset_mode": AutoresetMode.NEXT_STEP, "render_modes": []}

    def __init__(
        self,
        num_envs: int = 1,
        *,
        colors: int = 4,
        visible: int = 2,
        max_steps: int | None = None,
        num_threads: int | None = None,
        autoreset: str = "next_step",
        seed: int = 0,
        illegal: _versus.IllegalPolicy = "raise",
        illegal_penalty: float = 0.0,
    ) -> None:
        self.batch = VecGame(num_envs, seed=seed, num_threads=num_threads, colors=colors, visible=visible,
                             autoreset=autoreset, max_steps=max_steps, illegal=illegal, illegal_penalty=illegal_penalty)
        modes = {"next_step": AutoresetMode.NEXT_STEP, "same_step": AutoresetMode.SAME_STEP,
                 "disabled": AutoresetMode.DISABLED}
        self.metadata = {"autoreset_mode": modes[autoreset], "render_modes": []}
        self.num_envs = num_envs
        self.single_observation_space = _dict_space(visible)
        self.single_action_space = spaces.Discrete(NUM_MOVES)
        self.observation_space = gymnasium.vector.utils.batch_space(self.single_observation_space, num_envs)
        self.action_space = gymnasium.vector.utils.batch_space(self.single_action_space, num_envs)

    def _observation(self) -> dict[str, npt.NDArray[np.uint8]]:
        return {"field": self.batch.field, "pairs": self.batch.pairs}

    def _info(self) -> dict[str, Any]:
        return {"action_mask": self.batch.action_masks, "chain": self.batch.chain, "score": self.batch.score,
                "illegal": self.batch.substituted}

    def reset(self, *, seed: int | list[int] | None = None, options: dict[str, Any] | None = None) -> tuple[Any, dict[str, Any]]:
        if isinstance(seed, list):
            raise ValueError("a VecGame is seeded as a whole: pass one int seed")
        self.batch.reset(seed)
        return self._observation(), self._info()

    def step(self, actions: Any) -> tuple[Any, Any, Any, Any, dict[str, Any]]:
        _, rewards, terminated, truncated = self.batch.step(np.asarray(actions))
        return self._observation(), rewards, terminated, truncated, self._info()


def register_envs() -> None:
    """Register ``velmo/Puyo-v0`` and ``velmo/PuyoVersus-v0`` with Gymnasium (done on import)."""
    from gymnasium.envs.registration import register, registry

    if "velmo/Puyo-v0" not in registry:
        register(id="velmo/Puyo-v0", entry_point="velmo_game.gym_env:PuyoEnv",
                 vector_entry_point="velmo_game.gym_env:PuyoVectorEnv")
    if "velmo/PuyoVersus-v0" not in registry:
        register(id="velmo/PuyoVersus-v0", entry_point="velmo_game.versus_env:PuyoVersusEnv")
