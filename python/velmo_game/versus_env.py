"""A versus match against a built-in opponent, as a one-agent Gymnasium environment.

``PuyoVersusEnv`` (registered as ``velmo/PuyoVersus-v0``) lets the agent play player 0 of a
``velmo_game.Match`` against ``opponent``, a callable ``(match, player) -> move`` that is asked
whenever player 1 is due (by default ``RandomOpponent``, uniform over the legal moves, reseeded
from the reset seed). Every observation is returned at a decision of the agent: time runs on,
with the opponent moving as often as it is due, until the agent must move again or the match
ends.

The action space is ``Discrete(22)`` (the moves of ``velmo.Hand.enumerate()``); the legal ones are
in ``info["action_mask"]`` and from ``action_masks()`` (``(22,)`` int8; all ones on the step the match
ends). The observation is a dict of ``field`` and
``opponent_field`` ``(14, 6)`` uint8, ``pairs`` and ``opponent_pairs`` ``(1 + visible, 2)`` uint8
and ``pending_ojama`` ``(2,)`` uint32 (own first), the fields and pairs as ``obs="ids"`` (above) or
one-hot ``obs="planes"`` (``velmo_game.envs.options``), or, with ``flatten=True``, those values in one
uint32 vector. Rewards: +1 for a win, -1 for a loss, 0 for a draw and every other step, minus
``illegal_penalty`` when an illegal action was replaced by the lowest legal move
(``illegal="substitute"``, the default; ``illegal="raise"`` refuses it with ``ValueError``).

Episode ``k`` after ``reset(seed=s)`` plays ``Match(episode_seed(s, copy, k))`` (its seed is
``match_seed``), the rule of every environment of the package (``copy`` is 0 unless given; match ``i`` of
``VecMatch`` is copy ``i``).
"""

from __future__ import annotations

from typing import Any, SupportsFloat

import gymnasium
import numpy as np
import numpy.typing as npt
from gymnasium import spaces

from velmo_game import NUM_MOVES, _versus
from velmo_game._native import Match, Rules, Timing, episode_seed
from velmo_game._versus import WAIT, Opponent, RandomOpponent
from velmo_game.envs.options import ObservationForm, ObsName

AGENT = 0
OPPONENT = 1


class PuyoVersusEnv(gymnasium.Env[Any, np.int64]):
    """Player 0 of a match against a built-in opponent; see the module's documentation."""

    metadata = {"render_modes": ["ansi", "rgb_array"], "render_fps": 4}

    def __init__(
        self,
        *,
        colors: int = 4,
        visible: int = 2,
        rules: Rules | None = None,
        timing: Timing | None = None,
        opponent: Opponent | None = None,
        copy: int = 0,
        flatten: bool = False,
        obs: ObsName = "ids",
        obs_dtype: Any = np.float32,
        illegal: _versus.IllegalPolicy = "substitute",
        illegal_penalty: float = 0.1,
        render_mode: str | None = None,
    ) -> None:
        _versus.check_render_mode(render_mode)
        self.render_mode = render_mode
        self._settings = _versus.MatchSettings(colors, visible, rules, timing)
        self.opponent: Opponent = opponent if opponent is not None else RandomOpponent()
        self._flatten = flatten
        self._form = ObservationForm(obs, visible, obs_dtype)
        self._dict_space = _versus.view_space(self._form)
        self.observation_space = spaces.flatten_space(self._dict_space) if flatten else self._dict_space
        self.action_space = spaces.Discrete(NUM_MOVES)
        self._native = _versus.NativeMatch(self._settings, copy, illegal, illegal_penalty)
        self.match_seed = episode_seed(0, copy)

    @property
    def match(self) -> Match:
        """A copy of the match being played."""
        return self._native.match

    def _observation(self) -> Any:
        observation = self._native.view(AGENT, self._form)
        return spaces.flatten(self._dict_space, observation) if self._flatten else observation

    def action_masks(self) -> npt.NDArray[np.int8]:
        """The ``(22,)`` int8 mask of the last observation (sb3-contrib's convention); all ones
        once the match is over, when the next action is never played."""
        return np.ones(NUM_MOVES, dtype=np.int8) if self._native.over else self._native.mask(AGENT)[:NUM_MOVES]

    def _info(self, **extra: Any) -> dict[str, Any]:
        return {"action_mask": self.action_masks(), "frame": self._native.frame, **extra}

    def _run_opponent_until_agent_is_due(self) -> float:
        """The agent's rewards on the way (the outcome, if the match ends before its turn)."""
        native, reward = self._native, 0.0
        while not native.over and not native.due(AGENT):
            native.step(WAIT, self.opponent(native.match, OPPONENT))
            reward += float(native.rewards[AGENT])
        return reward

    def reset(self, *, seed: int | None = None, options: dict[str, Any] | None = None) -> tuple[Any, dict[str, Any]]:
        super().reset(seed=seed)
        self._native.reset(seed)
        self.match_seed = self._native.seed
        reseed = getattr(self.opponent, "seed", None)
        if callable(reseed):
            reseed(self.match_seed ^ 0x5EED)
        self._run_opponent_until_agent_is_due()
        return self._observation(), self._info()

    def step(self, action: Any) -> tuple[Any, SupportsFloat, bool, bool, dict[str, Any]]:
        native = self._native
        if native.over:
            raise ValueError("the match is over: call reset() first")
        score = int(native.scores[AGENT])
        native.step(int(action), self.opponent(native.match, OPPONENT) if native.due(OPPONENT) else WAIT)
        events = native.events(AGENT, score)
        del events["ojama_received"]
        reward = float(native.rewards[AGENT]) + self._run_opponent_until_agent_is_due()
        terminated, truncated = native.terminated, native.truncated
        return self._observation(), reward, terminated, truncated, self._info(**events)

    def render(self) -> str | npt.NDArray[np.uint8] | None:
        if self.render_mode == "ansi":
            return _versus.match_text(self.match)
        if self.render_mode == "rgb_array":
            return _versus.match_picture(self.match)
        return None
