"""Bad input is refused with a clear exception before anything changes: pair codes, output
arrays, budgets, pickle states of the wrong types, and calls that re-enter a busy batch."""

from __future__ import annotations

import threading

import numpy as np
import pytest

import velmo
import velmo_game as vg
from velmo_game import _native
from velmo_game.players import BeamSearch
from velmo_game.search import expand_batch

EMPTY_STATE = np.frombuffer(velmo.Field().__getstate__(), dtype=np.uint8)[None, :]


@pytest.mark.parametrize(("pairs", "error"), [
    (np.array([260, 5]), ValueError),       # would wrap to 4
    (np.array([-252, 5]), ValueError),      # would wrap to a colour
    (np.array([3, 5], dtype=np.uint8), ValueError),
    (np.array([4.9, 5.0]), TypeError),      # would truncate to 4
    ([4.0, 5], TypeError),
    (np.array([True, True]), TypeError),
    (["4", "5"], TypeError),
])
def test_expand_batch_refuses_pair_codes_it_would_change(pairs, error):
    with pytest.raises(error, match="pairs"):
        expand_batch(EMPTY_STATE, pairs)
    assert expand_batch(EMPTY_STATE, np.array([4, 5], dtype=np.int64))["legal"].any()


def native_arrays(n=2):
    return [np.zeros((n, 6), np.uint64), np.full((n, 2), 4, np.uint8), np.zeros((n, 22, 6), np.uint64),
            np.zeros((n, 22), np.bool_), np.zeros((n, 22), np.uint32), np.zeros((n, 22), np.uint32), np.zeros((n, 22), np.bool_)]


@pytest.mark.parametrize("index", range(7))
@pytest.mark.parametrize("spoil", ["dtype", "order", "strides"])
def test_expand_batch_planes_never_writes_into_a_copy(index, spoil):
    arrays = native_arrays()
    arrays[0][:, 4] = (1 << 6) - 1 << 8  # a playable field: walls only, so every row expands
    good = arrays[index]
    if spoil == "dtype":
        bad = good.astype(np.int64 if good.dtype != np.int64 else np.int32)
    elif spoil == "order":
        bad = np.asfortranarray(np.zeros((good.shape[0], *good.shape[1:], 2), good.dtype)[..., 0]) \
            if good.ndim > 2 else np.asfortranarray(good)
    else:
        bad = np.zeros((good.shape[0] * 2, *good.shape[1:]), good.dtype)[::2]
    if bad.flags.c_contiguous and bad.dtype == good.dtype:
        pytest.skip("this layout is C-contiguous for this shape")
    arrays[index] = bad
    with pytest.raises(TypeError):
        _native.expand_batch_planes(*arrays)


@pytest.mark.parametrize("budget", [float("nan"), -1.0])
def test_beam_search_refuses_a_budget_that_is_no_number(budget):
    with pytest.raises(ValueError, match="time_budget_ms"):
        BeamSearch(time_budget_ms=budget)
    with pytest.raises(ValueError, match="time_budget_ms"):
        _native.beam_search_move(vg.Game(1), 2, 1, 0, 0, budget, 80000, None, None, 2, 1, 1, 1.0, None, False, False)


def with_item(state, index, value):
    items = list(state)
    items[index] = value
    return tuple(items)


SEQUENCE = vg.PairSequence(3).__getstate__()
GAME = vg.Game(3).__getstate__()
MATCH = vg.Match(3).__getstate__()


@pytest.mark.parametrize(("cls", "state"), [
    (vg.PairSequence, with_item(SEQUENCE, 0, 1)),
    (vg.PairSequence, with_item(SEQUENCE, 0, b"balanced")),
    (vg.Game, with_item(GAME, 0, 2**70)),
    (vg.Game, with_item(GAME, 6, 1)),
    (vg.Game, with_item(GAME, 2, with_item(SEQUENCE, 0, None))),
    (vg.Match, with_item(MATCH, 0, 2**70)),
    (vg.Match, with_item(MATCH, 8, (with_item(MATCH[8][0], 1, with_item(SEQUENCE, 0, 3)), MATCH[8][1]))),
])
def test_pickle_states_with_items_of_the_wrong_type_are_value_errors(cls, state):
    blank = cls.__new__(cls)
    with pytest.raises(ValueError, match=f"invalid {cls.__name__} state"):
        blank.__setstate__(state)


@pytest.mark.parametrize("make", [lambda: vg.Game(1), lambda: vg.PairSequence(1), lambda: vg.Match(1), vg.Rules, vg.Timing,
                                  lambda: vg.VecGame(2, num_threads=1)])
@pytest.mark.parametrize("method", ["__init__", "__setstate__"])
def test_constructing_a_live_object_again_is_refused_and_changes_nothing(make, method):
    live = make()
    if not hasattr(live, method):
        pytest.skip("no pickle state")
    before = repr(live)
    arguments = (live.__getstate__(),) if method == "__setstate__" else (() if isinstance(live, (vg.Rules, vg.Timing)) else (2,))
    if isinstance(live, vg.VecGame):  # made whole by __new__: its __init__ is object's, and does nothing
        live.__init__(*arguments)
    else:
        with pytest.raises(TypeError, match=f"^{type(live).__name__} is already initialised"):
            getattr(live, method)(*arguments)
    assert repr(live) == before


@pytest.mark.parametrize("cls", [int, vg.Game, vg.VecMatch, 3])
def test_vec_game_new_builds_only_vec_games(cls):
    with pytest.raises(TypeError, match="cls must be VecGame or a subclass"):
        vg.VecGame.__new__(cls, 2, num_threads=1)


@pytest.mark.parametrize("versus", [False, True])
def test_a_callback_re_entering_the_batch_is_told_so(versus):
    batch = vg.VecGame(2, num_threads=1, versus=versus)
    reentered = []

    class Actions:
        def __array__(self, dtype=None, copy=None):
            with pytest.raises(RuntimeError, match="already in a call on this thread") as caught:
                batch.rewards  # noqa: B018
            reentered.append(caught.value)
            return np.zeros((2, 2) if versus else 2, np.int64)

    batch.step(Actions())
    assert reentered and batch.episode_steps.tolist() == [1, 1]


def test_reads_wait_for_no_step_but_refuse_while_one_runs():
    batch = vg.VecGame(1 << 17, num_threads=1)
    actions = batch.sample_actions().copy()
    refusals, stop = [], threading.Event()

    def read():
        while not stop.is_set():
            for get in (lambda: batch.field, lambda: batch.game(0), lambda: batch.seeds):
                try:
                    get()
                except RuntimeError as error:
                    refusals.append(str(error))

    reader = threading.Thread(target=read)
    reader.start()
    try:
        for _ in range(20):
            batch.step(actions)
            actions = batch.sample_actions().copy()
    finally:
        stop.set()
        reader.join()
    assert refusals and set(refusals) == {"this VecGame is being used by another thread"}
