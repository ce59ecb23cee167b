"""No call into a Match leaks: every entry, on success and on failure, repeated many times,
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
from velmo_game import Match, Rules, Timing

# The heap the rest of the suite built is frozen, so each collection here stays quick.
pytestmark = pytest.mark.usefixtures("frozen_heap")

CALLS = 300 if os.environ.get("VELMO_SANITIZED") == "1" else 1500


def raises(call: Callable[[], object]) -> Callable[[], None]:
    def run() -> None:
        try:
            call()
        except (ValueError, TypeError):
            return
        raise AssertionError("no exception")

    return run


def scenarios() -> dict[str, Callable[[], object]]:
    match = Match(5, visible=3)
    field = velmo.Field.from_str_array(["RBY", "GGR"])
    pairs = [velmo.Pair(4, 5), velmo.Pair(6, 7)]
    wall = velmo.Field.from_str_array(["_R____" if row % 2 else "_B____" for row in range(13)])  # column 1 13 high
    return {
        "match": lambda: Match(3, fields=[field, field], sequences=[pairs, pairs], rules=Rules(), timing=Timing()),
        "match step": lambda: match.clone().step({0: 2, 1: 0}),
        "match events": lambda: [(e.step_scores, e.chain_step_frames, e.move, repr(e)) for e in match.clone().step({0: 2, 1: 0}).players],
        "match views": lambda: [(p.field, p.current_pair, p.next_pairs, p.sequence, p.legal_moves(), p.action_mask(),
                                 p.next_decision_frame, repr(p)) for p in match.players],
        "match observation": lambda: (match.observation(0), match.observation(1), match.legal_moves(1)),
        "match copies": lambda: (copy.deepcopy(match), pickle.loads(pickle.dumps(match)), repr(match)),
        "records": lambda: (pickle.loads(pickle.dumps(Timing())), repr(Rules(frame_limit=None)), hash(Timing()),
                            Timing().placement_frames(field, 2)),
        "match bad move": raises(lambda: match.step({0: 2, 1: 40})),
        "match bad player": raises(lambda: match.step({0: 2, 1: 0, 2: 1})),
        "match illegal move": raises(lambda: Match(fields=[velmo.Field(), wall]).step({0: 2, 1: 0})),
        "match missing move": raises(lambda: match.step({0: 2})),
        "match bad fields": raises(lambda: Match(fields=[field, velmo.ArrayField()])),
        "match bad sequences": raises(lambda: Match(sequences=[pairs, [velmo.Pair(4, 4), 3]])),
        "match bad state": raises(lambda: Match.__new__(Match).__setstate__((1, (), (), 2, 0, False, None, 0, ()))),
        "bad timing": raises(lambda: Timing(move_frames=(1, 2, 3))),
    }


SCENARIOS = sorted(scenarios())


@pytest.mark.parametrize("name", SCENARIOS)
def test_no_allocated_block_outlives_a_call(name: str) -> None:
    call = scenarios()[name]
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
