"""velmo_game: games of Puyo Puyo over the velmo field simulator.

Pair sequences, one-player games with legal moves and game over, in native code. Fields and pairs
cross as ``velmo.Field`` and ``velmo.Pair`` values; moves are indices 0..21 into
``velmo.Hand.enumerate()``.
"""

from velmo_game._native import Game, MoveResult, PairSequence
from velmo_game._native import Match, MatchPlayer, PlayerEvents, Rules, StepResult, Timing

#: The number of moves: the hands of ``velmo.Hand.enumerate()``, in that order.
NUM_MOVES = 22

__all__ = ["NUM_MOVES", "Game", "MoveResult", "PairSequence"]
__all__ += ["Match", "MatchPlayer", "PlayerEvents", "Rules", "StepResult", "Timing"]

from velmo_game import _native, _signatures

for _cls in (Game, MoveResult, PairSequence):
    _signatures.attach(_cls, vars(_native))
del _cls
for _versus_cls in (Match, MatchPlayer, PlayerEvents, Rules, StepResult, Timing):
    _signatures.attach(_versus_cls, vars(_native))
del _versus_cls
