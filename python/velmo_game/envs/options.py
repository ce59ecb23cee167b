"""The observation and reward forms every environment of the package offers.

Observations (``obs=``):

- ``"ids"`` (the default): the field as ``(14, 6)`` uint8 ``PuyoType`` numbers (row 0 the 14th
  row) and the pairs as ``(1 + visible, 2)`` uint8 numbers (child, axis), as ``Game.observation``;
- ``"planes"``: one-hot planes ready for a convolutional network, in ``obs_dtype`` (float32 by
  default, or uint8): the field as ``(5, 14, 6)``, one plane per puyo type that can lie there
  (``PLANE_TYPES``: ojama, then the four colours; an empty cell is 0 in every plane), and the
  pairs as ``(1 + visible, 2, 4)``, one entry per colour (``PAIR_COLOURS``).

Rewards (``reward=``), of the move just played, before any illegal-move penalty:

- ``"score"`` (the default): the move's score (its chain's, with any all-clear bonus);
- ``"log_score"``: ``log(1 + score)``, which tames the score's heavy tail (0 to 100,000+);
- ``"chain"``: the move's chain length (0 when nothing vanished);
- a callable ``f(score, chain)``: called with the move's score and chain, plain ints in a single
  environment and NumPy arrays of all the copies in a vector environment (so write it with NumPy
  operations).

The three named forms are computed by the native step itself (``core/src/game/env_rules.hpp``),
as the penalty is; a callable is applied here to the scores the native step reports.
"""

from __future__ import annotations

from typing import Any, Callable, Literal, Union

import numpy as np
import numpy.typing as npt
from gymnasium import spaces

from velmo_game._native import env_layout

_GAME_LAYOUT = env_layout("game", 0)
#: The field's ``PuyoType`` numbers that get a plane, in plane order: ojama, red, blue, yellow, green.
PLANE_TYPES: tuple[int, ...] = _GAME_LAYOUT["plane_types"]
#: The pair colours that get an entry, in order: red, blue, yellow, green.
PAIR_COLOURS: tuple[int, ...] = _GAME_LAYOUT["pair_colours"]

ObsName = Union[Literal["ids"], Literal["planes"]]
RewardFunction = Callable[[Any, Any], Any]
RewardArg = Union[Literal["score"], Literal["log_score"], Literal["chain"], RewardFunction]
#: What an environment is made of: ``"game"`` (one player) or ``"match"`` (versus).
EnvKind = Union[Literal["game"], Literal["match"]]

_FIELD_TYPES = np.array(PLANE_TYPES, dtype=np.uint8).reshape(-1, 1, 1)
_PAIR_TYPES = np.array(PAIR_COLOURS, dtype=np.uint8)


def array_space(kind: EnvKind, visible: int, name: str) -> spaces.Box:
    """The space of observation array ``name`` of an environment of ``kind``, as the core declares it."""
    shape, dtype, low, high = env_layout(kind, visible)["arrays"][name]
    return spaces.Box(low, high, shape=shape, dtype=np.dtype(dtype))


def num_actions(kind: EnvKind) -> int:
    """The actions of an environment of ``kind``: the 22 moves, and for a match the wait."""
    count: int = env_layout(kind, 0)["num_actions"]
    return count


class ObservationForm:
    """How an environment shows fields and pairs: ``ids`` or one-hot ``planes`` (see the module)."""

    def __init__(self, obs: str = "ids", visible: int = 2, dtype: Any = np.float32) -> None:
        if obs not in ("ids", "planes"):
            raise ValueError(f"obs must be 'ids' or 'planes', not {obs!r}")
        self.dtype = np.dtype(dtype)
        if obs == "planes" and self.dtype not in (np.dtype(np.float32), np.dtype(np.uint8)):
            raise ValueError(f"obs_dtype must be float32 or uint8, not {self.dtype}")
        self.name = obs
        self.is_ids = obs == "ids"
        field, pairs = array_space("game", visible, "field"), array_space("game", visible, "pairs")
        if self.is_ids:
            self.field_space, self.pairs_space = field, pairs
        else:
            self.field_space = spaces.Box(0, 1, shape=(len(PLANE_TYPES), *field.shape), dtype=self.dtype)
            self.pairs_space = spaces.Box(0, 1, shape=(*pairs.shape, len(PAIR_COLOURS)), dtype=self.dtype)

    def field(self, ids: npt.NDArray[np.uint8]) -> npt.NDArray[Any]:
        """Fields ``(..., 14, 6)`` in this form, a new array."""
        if self.is_ids:
            return ids.copy()
        planes: npt.NDArray[Any] = (ids[..., np.newaxis, :, :] == _FIELD_TYPES).astype(self.dtype)
        return planes

    def pairs(self, ids: npt.NDArray[np.uint8]) -> npt.NDArray[Any]:
        """Pairs ``(..., 1 + visible, 2)`` in this form, a new array."""
        if self.is_ids:
            return ids.copy()
        planes: npt.NDArray[Any] = (ids[..., np.newaxis] == _PAIR_TYPES).astype(self.dtype)
        return planes


def reward_function(reward: RewardArg) -> RewardFunction | None:
    """The callable of a callable reward option; None for the named forms, which the native step
    computes (and checks: ``native_reward`` names them for it)."""
    return reward if callable(reward) else None


def native_reward(reward: RewardArg) -> Any:
    """The form the native step computes: the named one, or the score that a callable is given."""
    return "score" if callable(reward) else reward
