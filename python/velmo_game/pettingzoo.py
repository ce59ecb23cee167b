"""Two-player matches as a PettingZoo parallel environment (and, by PettingZoo's conversion, an AEC one).

``parallel_env(...)`` returns a ``ParallelEnv`` over ``velmo_game.Match`` with the agents
``"player_0"`` and ``"player_1"`` (``env(...)`` the same as an ``AECEnv``). Both act at every
step: time advances from one decision to the next, and a player who is not due to move at a
decision plays ``WAIT`` (22), the only action its mask allows. Each action space is
``Discrete(23)``: the 22 moves of ``velmo.Hand.enumerate()`` and WAIT.

What a player sees (its view): ``field`` and ``opponent_field``, ``pairs`` and ``opponent_pairs``
(as ``obs="ids"``, ``(14, 6)`` and ``(1 + visible, 2)`` uint8 like ``Game.observation``, or as
one-hot ``obs="planes"``, see ``velmo_game.envs.options``) and ``pending_ojama`` ``(2,)`` uint32
(own first). Observations come in one of two layouts:

- ``layout="classic"`` (the default), that of PettingZoo's classic games:
  ``{"observation": the view flattened into one float32 vector, "action_mask": (23,) int8}``;
- ``layout="dict"``: the view's five arrays and ``action_mask`` side by side in one dict.

``infos[agent]["action_mask"]`` holds the same mask. Rewards are +1 / -1 at the end of a decided
match, 0 otherwise, minus ``illegal_penalty`` for an action that had to be replaced (see
``velmo_game._versus`` for the rule of ``illegal``). Episode ``k`` after ``reset(seed=s)`` plays
``Match(episode_seed(s, copy, k))`` (its seed is ``match_seed``), the rule of every
environment of the package (``copy`` is 0 unless given; match ``i`` of ``VecMatch``
is copy ``i``), so runs repeat exactly.
"""

from __future__ import annotations

from typing import Any, Literal, Union

import numpy as np
import numpy.typing as npt
from gymnasium import spaces
from pettingzoo import AECEnv, ParallelEnv  # type: ignore[import-untyped]  # PettingZoo ships no type information
from pettingzoo.utils.conversions import parallel_to_aec  # type: ignore[import-untyped]

from velmo_game import _versus
from velmo_game._native import Match, Rules, Timing, episode_seed
from velmo_game.envs.options import ObservationForm, ObsName, array_space

AGENTS = ("player_0", "player_1")
WAIT = _versus.WAIT
Layout = Union[Literal["classic"], Literal["dict"]]


def observation_space(visible: int, obs: ObsName = "ids", layout: Layout = "classic", obs_dtype: Any = np.float32) -> spaces.Dict:
    """The observation space of one agent."""
    view = _versus.view_space(ObservationForm(obs, visible, obs_dtype))
    mask = array_space("match", visible, "action_mask")
    if layout == "classic":
        flat = spaces.flatten_space(view)
        assert isinstance(flat, spaces.Box)
        low, high = flat.low.astype(np.float32), flat.high.astype(np.float32)
        return spaces.Dict({"observation": spaces.Box(low, high, dtype=np.float32), "action_mask": mask})
    return spaces.Dict({**view.spaces, "action_mask": mask})


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
        obs: ObsName = "ids",
        obs_dtype: Any = np.float32,
        layout: Layout = "classic",
        copy: int = 0,
        illegal: _versus.IllegalPolicy = "substitute",
        illegal_penalty: float = 0.1,
        render_mode: str | None = None,
    ) -> None:
        _versus.check_render_mode(render_mode)
        if layout not in ("classic", "dict"):
            raise ValueError(f"layout must be 'classic' or 'dict', not {layout!r}")
        self.possible_agents = list(AGENTS)
        self.agents: list[str] = []
        self.render_mode = render_mode
        self._settings = _versus.MatchSettings(colors, visible, rules, timing)
        self._form = ObservationForm(obs, visible, obs_dtype)
        self._layout = layout
        self._observation_space = observation_space(visible, obs, layout, obs_dtype)
        self._action_space = {agent: spaces.Discrete(_versus.NUM_ACTIONS) for agent in AGENTS}
        self._native = _versus.NativeMatch(self._settings, copy, illegal, illegal_penalty)
        self.match_seed = episode_seed(0, copy)

    def observation_space(self, agent: str) -> spaces.Space[Any]:
        return self._observation_space

    def action_space(self, agent: str) -> spaces.Space[Any]:
        return self._action_space[agent]

    @property
    def match(self) -> Match:
        """A copy of the match being played."""
        return self._native.match

    def _observations(self) -> dict[str, dict[str, npt.NDArray[Any]]]:
        out: dict[str, dict[str, npt.NDArray[Any]]] = {}
        for player, agent in enumerate(AGENTS):
            mask = self._native.mask(player)
            if self._layout == "classic":
                out[agent] = {"observation": self._native.flat_view(player, self._form), "action_mask": mask}
            else:
                out[agent] = {**self._native.view(player, self._form), "action_mask": mask}
        return out

    def _infos(self, observations: dict[str, dict[str, npt.NDArray[Any]]]) -> dict[str, dict[str, Any]]:
        return {
            agent: {"action_mask": observations[agent]["action_mask"].copy(), "frame": self._native.frame}
            for agent in AGENTS
        }

    def reset(
        self, seed: int | None = None, options: dict[str, Any] | None = None
    ) -> tuple[dict[str, dict[str, npt.NDArray[Any]]], dict[str, dict[str, Any]]]:
        self._native.reset(seed)
        self.match_seed = self._native.seed
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
        native = self._native
        scores = native.scores.tolist()
        native.step(int(actions.get(AGENTS[0], WAIT)), int(actions.get(AGENTS[1], WAIT)))
        terminated, truncated = native.terminated, native.truncated
        reward_0, reward_1 = native.rewards.tolist()
        rewards = {AGENTS[0]: reward_0, AGENTS[1]: reward_1}
        observations = self._observations()
        infos = self._infos(observations)
        for player, agent in enumerate(AGENTS):
            infos[agent].update(native.events(player, scores[player]))
        if terminated or truncated:
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


def env(**options: Any) -> AECEnv:
    """The same environment as an ``AECEnv`` (the agents take turns), by PettingZoo's conversion."""
    return parallel_to_aec(parallel_env(**options))
