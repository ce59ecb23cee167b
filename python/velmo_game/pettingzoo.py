"""Two-player matches as a PettingZoo parallel environment.

``parallel_env(...)`` returns a ``ParallelEnv`` over ``velmo_game.Match`` with the agents
``"player_0"`` and ``"player_1"``. Both act at every step: time advances from one decision to the
next, and a player who is not due to move at a decision plays ``WAIT`` (22), the only action its
mask allows. Each action space is ``Discrete(23)``: the 22 moves of ``velmo.Hand.enumerate()`` and
WAIT.

Each observation is a dict: ``field`` and ``opponent_field`` ``(14, 6)`` uint8 and ``pairs`` and
``opponent_pairs`` ``(1 + visible, 2)`` uint8 (as ``Game.observation``), ``pending_ojama`` ``(2,)``
uint32 (own first), and ``action_mask`` ``(23,)`` int8; ``infos[agent]["action_mask"]`` holds the
same mask. Rewards are +1 / -1 at the end of a decided match, 0 otherwise, minus
``illegal_penalty`` for an action that had to be replaced (see ``velmo_game._versus`` for the rule
of ``illegal``). ``reset(seed=s)`` starts ``Match(s)``; ``reset()`` without a seed starts the next
match of the sequence begun by the last seed (0 at first), so runs repeat exactly.
"""

from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt
from gymnasium import spaces
from pettingzoo import ParallelEnv  # type: ignore[import-untyped]  # PettingZoo ships no type information

from velmo_game import _versus
from velmo_game._native import Match, Rules, Timing

AGENTS = ("player_0", "player_1")
WAIT = _versus.WAIT


def observation_space(visible: int) -> spaces.Dict:
    """The observation space of one agent."""
    field = spaces.Box(0, 7, shape=(14, 6), dtype=np.uint8)
    pairs = spaces.Box(0, 7, shape=(1 + visible, 2), dtype=np.uint8)
    return spaces.Dict(
        {
            "field": field,
            "pairs": pairs,
            "opponent_field": field,
            "opponent_pairs": pairs,
            "pending_ojama": spaces.Box(0, np.iinfo(np.uint32).max, shape=(2,), dtype=np.uint32),
            "action_mask": spaces.Box(0, 1, shape=(_versus.NUM_ACTIONS,), dtype=np.int8),
        }
    )


class PuyoVersusParallelEnv(ParallelEnv):  # type: ignore[misc]  # an untyped base
    """A versus match of two agents; see the module's documentation."""

    metadata = {"name": "velmo_puyo_versus_v0", "render_modes": ["ansi", "rgb_array"], "is_parallelizable": True}

    def __init__(
        self,
        *,
        colors: int = 4,
        visible: int = 2,
        rules: Rules | None = None,
        timing: Timing | None = None,
        illegal: _versus.IllegalPolicy = "substitute",
        illegal_penalty: float = 0.1,
        render_mode: str | None = None,
    ) -> None:
        _versus.check_env_options(illegal, render_mode)
        self.possible_agents = list(AGENTS)
        self.agents: list[str] = []
        self.render_mode = render_mode
        self._settings = _versus.MatchSettings(colors, visible, rules, timing)
        self._illegal: _versus.IllegalPolicy = illegal
        self._penalty = float(illegal_penalty)
        self._observation_space = observation_space(visible)
        self._action_space = {agent: spaces.Discrete(_versus.NUM_ACTIONS) for agent in AGENTS}
        self._next_seed = 0
        self.match = self._settings.new_match(0)

    def observation_space(self, agent: str) -> spaces.Space[Any]:
        return self._observation_space

    def action_space(self, agent: str) -> spaces.Space[Any]:
        return self._action_space[agent]

    def _observations(self) -> dict[str, dict[str, npt.NDArray[Any]]]:
        out = {}
        for player, agent in enumerate(AGENTS):
            observation = _versus.player_observation(self.match, player)
            observation["action_mask"] = _versus.action_mask(self.match, player)
            out[agent] = observation
        return out

    def _infos(self, observations: dict[str, dict[str, npt.NDArray[Any]]]) -> dict[str, dict[str, Any]]:
        return {
            agent: {"action_mask": observations[agent]["action_mask"], "frame": self.match.frame}
            for agent in AGENTS
        }

    def reset(
        self, seed: int | None = None, options: dict[str, Any] | None = None
    ) -> tuple[dict[str, dict[str, npt.NDArray[Any]]], dict[str, dict[str, Any]]]:
        if seed is not None:
            self._next_seed = seed
        self.match = self._settings.new_match(self._next_seed)
        self._next_seed = (self._next_seed + 1) & ((1 << 64) - 1)
        self.agents = list(AGENTS)
        observations = self._observations()
        return observations, self._infos(observations)

    def step(
        self, actions: dict[str, int]
    ) -> tuple[
        dict[str, dict[str, npt.NDArray[Any]]],
        dict[str, float],
        dict[str, bool],
        dict[str, bool],
        dict[str, dict[str, Any]],
    ]:
        if not self.agents:
            raise ValueError("the match is over: call reset() first")
        by_player = {AGENTS.index(agent): int(action) for agent, action in actions.items() if agent in AGENTS}
        moves, penalised = _versus.resolve_moves(self.match, by_player, self._illegal)
        result = self.match.step(moves)
        outcome = _versus.outcome_rewards(self.match)
        truncated = _versus.is_truncated(self.match)
        terminated = self.match.is_over and not truncated
        rewards = {agent: outcome[p] - (self._penalty if penalised[p] else 0.0) for p, agent in enumerate(AGENTS)}
        observations = self._observations()
        infos = self._infos(observations)
        for player, agent in enumerate(AGENTS):
            events = result.players[player]
            infos[agent].update(chain=events.chain, score=events.score, ojama_sent=events.ojama_sent,
                                ojama_received=events.ojama_received, illegal=penalised[player])
        if self.match.is_over:
            self.agents = []
        return (
            observations,
            rewards,
            dict.fromkeys(AGENTS, terminated),
            dict.fromkeys(AGENTS, truncated),
            infos,
        )

    def render(self) -> str | npt.NDArray[np.uint8] | None:
        if self.render_mode == "ansi":
            return _versus.match_text(self.match)
        if self.render_mode == "rgb_array":
            return _versus.match_picture(self.match)
        return None

    def close(self) -> None:
        pass


def parallel_env(**options: Any) -> PuyoVersusParallelEnv:
    """A new two-player versus environment; the options are those of ``PuyoVersusParallelEnv``."""
    return PuyoVersusParallelEnv(**options)
