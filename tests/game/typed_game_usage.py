"""Typed use of velmo_game's sequences and games.

`mypy --strict` checks this file against the package's stubs (test_game_typing.py), which also
runs ``exercise()``, so every call here is valid at run time too.
"""

from __future__ import annotations

import copy
import pickle
import sys

import numpy as np
import numpy.typing as npt

import velmo
from velmo_game import NUM_MOVES, Game, MoveResult, PairSequence

if sys.version_info >= (3, 11):
    from typing import assert_type
else:  # pragma: no cover - older interpreters
    from typing_extensions import assert_type


def exercise_sequence() -> None:
    sequence = PairSequence(7, colors=3, kind="uniform")
    assert_type(sequence[0], velmo.Pair)
    assert_type(sequence.take(3, start=2), list[velmo.Pair])
    assert_type(sequence.to_numpy(4), npt.NDArray[np.uint8])
    assert_type(sequence.colors, tuple[int, ...])
    assert_type(sequence.seed, int)
    assert_type(PairSequence.from_pairs([velmo.Pair(4, 5)]), PairSequence)
    assert_type(copy.deepcopy(sequence) == sequence, bool)


def exercise_game() -> None:
    game = Game(3, colors=4, visible=1, field=velmo.Field(), sequence=None)
    assert_type(game.field, velmo.Field)
    assert_type(game.current_pair, velmo.Pair)
    assert_type(game.next_pairs, tuple[velmo.Pair, ...])
    assert_type(game.legal_moves(), list[int])
    assert_type(game.action_mask(), npt.NDArray[np.int8])
    field, pairs = game.observation()
    assert_type(field, npt.NDArray[np.uint8])
    result = game.play(game.legal_moves()[0])
    assert_type(result, MoveResult)
    assert_type(result.step_scores, tuple[int, ...])
    assert_type(result.chain + result.score + game.score + game.turn + NUM_MOVES, int)
    assert_type(game.is_over or result.all_clear or result.game_over, bool)
    twin: Game = pickle.loads(pickle.dumps(game))
    assert twin == game.clone() == copy.copy(game)
    assert_type(Game(sequence=PairSequence(1)).is_legal(0), bool)


def exercise() -> None:
    exercise_sequence()
    exercise_game()
