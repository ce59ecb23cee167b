"""Pair sequences: the seeded dealing is pinned, balanced as the arcade deals, and a plain value."""

from __future__ import annotations

import copy
import pickle
from collections import Counter

import numpy as np
import pytest

import velmo
from velmo_game import PairSequence

RED, BLUE, YELLOW, GREEN = 4, 5, 6, 7


@pytest.mark.parametrize(
    "seed, colors, kind, expected_colors, first_pairs",
    [
        (0, 4, "balanced", (4, 5, 6, 7), [[5, 6], [6, 5], [4, 7], [7, 4]]),
        (1, 4, "balanced", (4, 5, 6, 7), [[6, 4], [6, 5], [4, 7], [6, 6]]),
        (2**64 - 1, 4, "balanced", (4, 5, 6, 7), [[6, 7], [7, 4], [5, 5], [7, 6]]),
        (7, 3, "balanced", (4, 6, 7), [[4, 4], [7, 7], [6, 4], [7, 4]]),
        (0, 4, "uniform", (4, 5, 6, 7), [[6, 6], [6, 5], [4, 7], [5, 7]]),
        (123, 3, "uniform", (4, 5, 7), [[4, 5], [5, 4], [5, 7], [5, 5]]),
    ],
)
def test_a_seed_deals_the_same_pairs_everywhere(seed, colors, kind, expected_colors, first_pairs):
    sequence = PairSequence(seed, colors=colors, kind=kind)
    assert sequence.colors == expected_colors
    assert sequence.to_numpy(4).tolist() == first_pairs
    assert [[p.child + 1, p.axis + 1] for p in sequence.take(4)] == first_pairs  # array codes are one below


@pytest.mark.parametrize("colors", [3, 4])
def test_balanced_loop_deals_every_colour_equally_and_repeats(colors):
    for seed in range(50):
        sequence = PairSequence(seed, colors=colors)
        loop = sequence.to_numpy(128)
        counts = sorted(Counter(loop.ravel().tolist()).values())
        assert counts == ([64] * 4 if colors == 4 else [85, 85, 86])
        assert set(loop.ravel().tolist()) == set(sequence.colors)
        assert len(set(loop[:2].ravel().tolist())) <= 3
        np.testing.assert_array_equal(sequence.to_numpy(128, start=128), loop)
        np.testing.assert_array_equal(sequence.to_numpy(5, start=128 * 1000 + 3), loop[3:8])


def test_three_colours_leave_out_each_colour_for_some_seed():
    left_out = {tuple(sorted({RED, BLUE, YELLOW, GREEN} - set(PairSequence(s, colors=3).colors))) for s in range(40)}
    assert left_out == {(RED,), (BLUE,), (YELLOW,), (GREEN,)}


def test_uniform_puyos_are_spread_over_the_colours():
    puyos = PairSequence(9, kind="uniform").to_numpy(40_000).ravel()
    counts = np.bincount(puyos, minlength=8)[4:]
    assert counts.sum() == 80_000 and np.all(np.abs(counts - 20_000) < 600)
    assert not np.array_equal(puyos[:256], puyos[256:512])  # no loop


def test_index_reaches_any_position_and_refuses_negative():
    sequence = PairSequence(3)
    assert sequence[2**64 - 1] == sequence[(2**64 - 1) % 128]
    with pytest.raises(IndexError, match="index must be >= 0"):
        sequence[-1]
    with pytest.raises(TypeError):
        sequence["0"]
    with pytest.raises(TypeError):
        iter(sequence)  # infinite: take(n) or to_numpy(n) instead


@pytest.mark.parametrize(
    "arguments, error, message",
    [
        ((-1,), ValueError, r"seed must be in 0..2\*\*64-1, not -1"),
        ((2**64,), ValueError, r"seed must be in 0..2\*\*64-1"),
        ((1.5,), TypeError, "seed must be an int, not float"),
        ((0, 5), ValueError, "colors must be 3 or 4, not 5 .*PURPLE"),
        ((0, 2), ValueError, "colors must be 3 or 4, not 2"),
        ((0, 4, "random"), ValueError, "kind must be 'balanced' or 'uniform', not 'random'"),
        ((0, 4, "explicit"), ValueError, "kind must be 'balanced' or 'uniform'"),
    ],
)
def test_bad_arguments_are_refused(arguments, error, message):
    seed, *rest = arguments
    options = dict(zip(["colors", "kind"], rest))
    with pytest.raises(error, match=message):
        PairSequence(seed, **options)


def test_explicit_pairs_repeat_and_report_their_colours():
    pairs = [velmo.Pair(RED, BLUE), velmo.Pair(GREEN, GREEN)]
    sequence = PairSequence.from_pairs(pairs)
    assert sequence.kind == "explicit" and sequence.colors == (RED, BLUE, GREEN)
    assert sequence.to_numpy(5).tolist() == [[4, 5], [7, 7], [4, 5], [7, 7], [4, 5]]


@pytest.mark.parametrize(
    "pairs, error",
    [([], ValueError), ([velmo.Pair(8, 4)], ValueError), ([velmo.Pair(1, 4)], ValueError),
     ([velmo.Pair()] * 257, ValueError), ([(4, 5)], TypeError), ("RB", TypeError)],
)
def test_bad_explicit_pairs_are_refused(pairs, error):
    with pytest.raises(error):
        PairSequence.from_pairs(pairs)


@pytest.mark.parametrize(
    "sequence",
    [PairSequence(5), PairSequence(6, colors=3, kind="uniform"), PairSequence.from_pairs([velmo.Pair(4, 6)])],
)
def test_sequences_copy_and_pickle_as_values(sequence):
    for twin in (copy.copy(sequence), copy.deepcopy(sequence), pickle.loads(pickle.dumps(sequence))):
        assert twin == sequence
        np.testing.assert_array_equal(twin.to_numpy(300), sequence.to_numpy(300))
    assert sequence != PairSequence(999)


@pytest.mark.parametrize("state", [(), ("balanced", 5, 0, b""), ("explicit", 4, 0, b"\x04"), ("explicit", 4, 0, b"\x04\x08"), ("x", 4, 0, b"")])
def test_a_state_that_is_not_a_sequence_is_refused(state):
    sequence = PairSequence.__new__(PairSequence)
    with pytest.raises((ValueError, TypeError)):
        sequence.__setstate__(state)
