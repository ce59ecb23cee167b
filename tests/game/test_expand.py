import threading

import numpy as np
import pytest
import velmo

import velmo_game
from search_fields import game_fields, raw_fields
from velmo_game.players import SplitMix64
from velmo_game.search import expand, expand_batch, field_hash

HANDS = velmo.Hand.enumerate()
COLORS = (4, 5, 6, 7)
FIELDS = game_fields(120, seed=3)


def colors_for(i):
    """(child, axis) Python puyo numbers: velmo.Pair(child, axis)."""
    return COLORS[i % 4], COLORS[(i * 7 + 1) // 3 % 4]


def pair_for(i):
    return velmo.Pair(*colors_for(i))


@pytest.mark.parametrize("fields", [FIELDS, raw_fields(150, seed=5)], ids=["game", "raw"])
def test_expand_agrees_with_put_hand_and_chain(fields):
    """Raw grids hold holes under floating puyos, where a vertical pair cannot simply stack."""
    for i, field in enumerate(fields):
        pair = pair_for(i)
        result = expand(field, pair)
        if fields is FIELDS:
            game = velmo_game.Game(field=field)
            if not game.is_over:
                assert list(result.moves) == game.legal_moves()
        for move, child, chain, score, over in zip(*result):
            expected = field.clone()
            expected.put_hand(HANDS[move], pair)
            outcome = expected.chain()
            assert (child, chain, score) == (expected, outcome.chain, outcome.score)
            assert over == (expected.get(2, 2) != 0)


def planes_of(fields):
    states = np.array([np.frombuffer(f.__getstate__(), dtype=np.uint8) for f in fields])
    return states, states[:, 8:].copy().view("<u8").reshape(len(fields), 3, 2)


def field_of_state(state):
    field = velmo.Field.__new__(velmo.Field)
    field.__setstate__(bytes(state))
    return field


@pytest.mark.parametrize("form", ["states", "planes"])
def test_expand_batch_agrees_with_expand(form):
    states, planes = planes_of(FIELDS)
    pairs = np.array([colors_for(i) for i in range(len(FIELDS))], dtype=np.uint8)
    out = expand_batch(states if form == "states" else planes, pairs)
    for i, field in enumerate(FIELDS):
        one = expand(field, pair_for(i))
        assert list(np.flatnonzero(out["legal"][i])) == list(one.moves)
        for move, child, chain, score, over in zip(*one):
            got = out["fields"][i, move]
            got_field = field_of_state(got) if form == "states" else field_of_state(
                np.concatenate([states[0, :8], got.reshape(6).astype("<u8").view(np.uint8)])
            )
            assert got_field == child
            assert (out["chains"][i, move], out["scores"][i, move], out["game_over"][i, move]) == (chain, score, over)


def test_expand_batch_refuses_bad_rows():
    states, _ = planes_of(FIELDS[:3])
    states[1, 8] = 0xFF  # broken walls
    with pytest.raises(ValueError, match="row 1"):
        expand_batch(states, np.array([4, 5], dtype=np.uint8))
    with pytest.raises(ValueError, match="fields must be"):
        expand_batch(np.zeros((2, 7), dtype=np.uint8), np.array([4, 5], dtype=np.uint8))
    with pytest.raises(ValueError, match="row 0"):
        expand_batch(planes_of(FIELDS[:1])[1], np.array([4, 1], dtype=np.uint8))


def test_expand_batch_releases_the_interpreter_lock():
    states, _ = planes_of(FIELDS)
    big = np.repeat(states, 400, axis=0)
    ticks = []
    done = threading.Event()

    def count():
        while not done.is_set():
            ticks.append(1)

    thread = threading.Thread(target=count)
    thread.start()
    try:
        before = len(ticks)
        expand_batch(big, np.array([4, 5], dtype=np.uint8))
        during = len(ticks) - before
    finally:
        done.set()
        thread.join()
    assert during > 0


def test_hash_is_equal_for_equal_fields_and_distinct_on_a_seeded_set():
    fields = game_fields(300, seed=5) + raw_fields(300, seed=6)
    distinct = {f.__getstate__(): f for f in fields}
    hashes = {field_hash(f) for f in distinct.values()}
    assert len(hashes) == len(distinct)
    for f in fields[:50]:
        assert field_hash(f.clone()) == field_hash(f)
    assert field_hash(velmo.Field()) == field_hash(velmo.Field())
    assert all(0 <= h < 1 << 64 for h in hashes)
