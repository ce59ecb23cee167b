"""Every velmo_game class shows its value: what it is, not where it lives in memory."""

from __future__ import annotations

import re

import pytest

import velmo
from velmo_game import Game, Match, PairSequence, VecGame
from velmo_game._native import ObservationBuffer
from velmo_game.players import SplitMix64


def played(game: Game, moves: int) -> Game:
    for _ in range(moves):
        if game.is_over:
            break
        game.play(game.legal_moves()[0])
    return game


def stepped(match: Match) -> Match:
    match.step({p: match.legal_moves(p)[0] for p in match.to_move()})
    return match


@pytest.mark.parametrize("make, expected", [
    (lambda: played(Game(3), 2), r"Game\(seed=3, turn=2, score=0\)"),
    (lambda: Game(2, colors=3), r"Game\(seed=2, colors=3, turn=0, score=0\)"),
    (lambda: Game(sequence=PairSequence(4, kind="uniform")), r"Game\(sequence=PairSequence\(4, colors=4, kind='uniform'\), turn=0, score=0\)"),
    (lambda: played(Game(sequence=[velmo.Pair(4, 5)]), 200),
     r"Game\(sequence=PairSequence\(<1 explicit pairs>\), turn=\d+, score=\d+, is_over=True\)"),
    (lambda: stepped(Match(1)), r"Match\(seed=1, frame=\d+, scores=\(0, 0\), pending_ojama=\(0, 0\), to_move=\[\d(, \d)?\]\)"),
    (lambda: Match(1, sequences=[PairSequence(1), PairSequence(2)]), r"Match\(sequences=\(seed=1, seed=2\), frame=0, .*\)"),
    (lambda: Match(1).players[1], r"MatchPlayer\(index=1, turn=0, score=0, pending_ojama=0\)"),
    (lambda: VecGame(3, seed=2, num_threads=1), r"VecGame\(3, seed=2, num_threads=1, colors=4, visible=2\)"),
    (lambda: VecGame(2, versus=True, num_threads=1), r"VecMatch\(2, seed=0, num_threads=1, colors=4, visible=2\)"),
    (lambda: ObservationBuffer(2), r"ObservationBuffer\(2\)"),
    (lambda: SplitMix64(7), r"SplitMix64\(7\)"),
])
def test_reprs_show_the_value(make, expected):
    assert re.fullmatch(expected, repr(make()))


def test_a_finished_match_names_its_winner():
    match = Match(4)
    while not match.is_over:
        stepped(match)
    assert repr(match).endswith(f"winner={match.winner})")
