"""velmo_game: games of Puyo Puyo over the velmo field simulator.

Pair sequences, one-player games with legal moves and game over, in native code. Fields and pairs
cross as ``velmo.Field`` and ``velmo.Pair`` values; moves are indices 0..21 into
``velmo.Hand.enumerate()``.
"""

from velmo_game._native import Game, MoveResult, PairSequence, VecGame, VecMatch
from velmo_game._native import Match, MatchPlayer, PlayerEvents, Rules, StepResult, Timing
from velmo_game._native import ALL_CLEAR_BONUS, MARGIN_TARGET_POINTS, env_layout, episode_seed

#: The number of moves: the hands of ``velmo.Hand.enumerate()``, in that order.
NUM_MOVES: int = env_layout("game", 0)["num_actions"]

__all__ = ["NUM_MOVES", "Game", "MoveResult", "PairSequence", "VecGame", "VecMatch"]
__all__ += ["Match", "MatchPlayer", "PlayerEvents", "Rules", "StepResult", "Timing"]
__all__ += ["ALL_CLEAR_BONUS", "MARGIN_TARGET_POINTS", "env_layout", "episode_seed"]

from velmo_game import _native, _signatures

for _cls in (Game, MoveResult, PairSequence, VecGame, VecMatch, Match, MatchPlayer, PlayerEvents, Rules, StepResult, Timing):
    _signatures.attach(_cls, vars(_native))
del _cls

# With Gymnasium installed, importing the package registers its environments, so that
# gymnasium.make("velmo/Puyo-v0") works after `import velmo_game`.
import importlib.util as _importlib_util

if _importlib_util.find_spec("gymnasium") is not None:
    from velmo_game import gym_env as _gym_env

    _gym_env.register_envs()
del _importlib_util
