"""No call into velmo_game leaks: every entry, on success and on failure, repeated many times,
leaves the interpreter's allocated blocks where they were."""

from __future__ import annotations

import copy
import gc
import os
import pickle
import sys
from typing import Callable

import pytest

import velmo
from velmo_game import Game, PairSequence

# The heap the rest of the suite built is frozen, so each collection here stays quick.
pytestmark = pytest.mark.usefixtures("frozen_heap")

CALLS = 300 if os.environ.get("VELMO_SANITIZED") == "1" else 1500


def raises(call: Callable[[], object]) -> Callable[[], None]:
    def run() -> None:
        try:
            call()
        except (ValueError, TypeError, IndexError):
            return
        raise AssertionError("no exception")

    return run


GAME = Game(5, visible=3)
SEQUENCE = PairSequence(2, colors=3)
FIELD = velmo.Field.from_str_array(["RBY", "GGR"])

SCENARIOS: dict[str, Callable[[], object]] = {
    "sequence": lambda: PairSequence(9, kind="uniform"),
    "sequence item": lambda: SEQUENCE[77],
    "sequence take": lambda: SEQUENCE.take(5),
    "sequence numpy": lambda: SEQUENCE.to_numpy(20),
    "sequence pickle": lambda: pickle.loads(pickle.dumps(SEQUENCE)),
    "sequence from pairs": lambda: PairSequence.from_pairs([velmo.Pair(4, 5), velmo.Pair(6, 7)]),
    "sequence bad seed": raises(lambda: PairSequence(-3)),
    "sequence bad colors": raises(lambda: PairSequence(0, colors=5)),
    "sequence bad index": raises(lambda: SEQUENCE[-1]),
    "sequence bad pairs": raises(lambda: PairSequence.from_pairs([velmo.Pair(8, 8)])),
    "game": lambda: Game(3, field=FIELD),
    "game play": lambda: GAME.clone().play(GAME.legal_moves()[0]),
    "game views": lambda: (GAME.field, GAME.current_pair, GAME.next_pairs, GAME.sequence, GAME.legal_moves()),
    "game arrays": lambda: (GAME.observation(), GAME.action_mask()),
    "game copies": lambda: (copy.deepcopy(GAME), pickle.loads(pickle.dumps(GAME))),
    "game bad move": raises(lambda: GAME.play(40)),
    "game bad field": raises(lambda: Game(field=velmo.ArrayField())),
    "game bad sequence": raises(lambda: Game(sequence=[velmo.Pair(4, 4), 3])),
    "game bad state": raises(lambda: Game.__new__(Game).__setstate__((1, b"", ("x", 4, 0, b""), 2, 0, 0, False))),
}


@pytest.mark.parametrize("name", sorted(SCENARIOS))
def test_no_allocated_block_outlives_a_call(name: str) -> None:
    call = SCENARIOS[name]
    for _ in range(50):
        call()
    growth = []
    for _ in range(3):
        gc.collect()
        before = sys.getallocatedblocks()
        for _ in range(CALLS):
            call()
        gc.collect()
        growth.append(sys.getallocatedblocks() - before)
    assert min(growth) < CALLS // 10, growth
