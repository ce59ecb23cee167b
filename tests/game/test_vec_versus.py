"""VecGame(versus=True): a batch of matches equals the PettingZoo environment played on the same
derived seeds with the same actions, on any thread count and in every auto-reset mode; bad input is
refused before any match moves; the substitute policy of illegal actions, in both kinds of batch."""

from __future__ import annotations

import gc
import sys
import threading
import time
from typing import Any

import numpy as np
import pytest

import velmo_game as vg

pettingzoo = pytest.importorskip("velmo_game.pettingzoo")

AGENTS = ("player_0", "player_1")
WAIT = 22


def random_actions(batch: vg.VecGame, rng: np.random.Generator, *, anything: bool = False) -> np.ndarray:
    """A random allowed action per player, or (anything) any action in 0..22."""
    if anything:
        return rng.integers(0, 23, size=(batch.num_envs, 2))
    return np.argmax(rng.random(batch.action_masks.shape) * batch.action_masks, axis=2)


def assert_matches_env(batch: vg.VecGame, i: int, observations: dict[str, dict[str, Any]]) -> None:
    for p, agent in enumerate(AGENTS):
        seen = observations[agent]
        assert np.array_equal(batch.field[i, p], seen["field"])
        assert np.array_equal(batch.field[i, 1 - p], seen["opponent_field"])
        assert np.array_equal(batch.pairs[i, p], seen["pairs"])
        assert np.array_equal(batch.pairs[i, 1 - p], seen["opponent_pairs"])
        assert np.array_equal(batch.pending_ojama[i, [p, 1 - p]], seen["pending_ojama"])
        assert np.array_equal(batch.action_masks[i, p], seen["action_mask"].astype(bool))


def play_against_envs(num_threads: int, autoreset: str, illegal: str, steps: int = 140, n: int = 7) -> list[np.ndarray]:
    """Steps a batch and one PettingZoo env per match side by side, checking every output (seven
    matches: enough for the pool to wake its workers on three threads)."""
    batch = vg.VecGame(n, seed=13, num_threads=num_threads, versus=True, autoreset=autoreset, illegal=illegal,
                       illegal_penalty=0.25)
    # Env i is copy i: its resets follow match i's episodes by the shared seed rule.
    envs = [pettingzoo.parallel_env(illegal=illegal, illegal_penalty=0.25, layout="dict", copy=i) for i in range(n)]
    observations = [env.reset(seed=13)[0] for env in envs]
    ended = [False] * n
    endings = 0
    rng = np.random.default_rng(3)
    history = []
    for _ in range(steps):
        actions = random_actions(batch, rng, anything=illegal == "substitute")
        batch.step(actions)
        history.append(np.concatenate([batch.field.reshape(n, -1), batch.rewards, batch.pending_ojama, batch.frame[:, None]],
                                      axis=1).astype(np.float64))
        for i, env in enumerate(envs):
            if ended[i]:
                if autoreset == "disabled":
                    assert batch.terminated[i] or batch.truncated[i]
                    assert not batch.rewards[i].any() and batch.action_masks[i, :, WAIT].all()
                    continue
                observations[i] = env.reset()[0]
                assert env.match_seed == batch.seeds[i]
                ended[i] = False
                assert batch.episode_steps[i] == 0 and not batch.terminated[i] and not batch.rewards[i].any()
                assert_matches_env(batch, i, observations[i])
                continue
            taken = {agent: int(actions[i, p]) for p, agent in enumerate(AGENTS)}
            observations[i], rewards, terminated, truncated, infos = env.step(taken)
            for p, agent in enumerate(AGENTS):
                assert batch.rewards[i, p] == np.float32(rewards[agent])
                assert batch.substituted[i, p] == infos[agent]["illegal"]
                assert batch.chain[i, p] == infos[agent]["chain"]
                assert batch.ojama_sent[i, p] == infos[agent]["ojama_sent"]
                assert batch.ojama_received[i, p] == infos[agent]["ojama_received"]
                assert batch.score[i, p] == env.match.players[p].score
            assert batch.terminated[i] == terminated["player_0"] and batch.truncated[i] == truncated["player_0"]
            over = env.match.is_over
            assert batch.winner[i] == (-1 if env.match.winner is None else env.match.winner)
            endings += over
            if over and autoreset == "same_step":
                for p, agent in enumerate(AGENTS):
                    assert np.array_equal(batch.final_field[i, p], observations[i][agent]["field"])
                    assert np.array_equal(batch.final_pairs[i, p], observations[i][agent]["pairs"])
                    assert np.array_equal(batch.final_pending_ojama[i, [p, 1 - p]], observations[i][agent]["pending_ojama"])
                observations[i] = env.reset()[0]
                assert batch.episode_steps[i] == 0
            elif over:
                ended[i] = True
                assert batch.action_masks[i, :, WAIT].all() and not batch.due[i].any()
                continue
            else:
                assert batch.frame[i] == env.match.frame
            assert_matches_env(batch, i, observations[i])
    assert endings > 0  # the auto-reset paths were taken
    return history


@pytest.mark.parametrize("autoreset", ["next_step", "same_step", "disabled"])
@pytest.mark.parametrize("illegal", ["raise", "substitute"])
def test_match_i_equals_the_env_of_its_seed_on_any_thread_count(autoreset: str, illegal: str) -> None:
    runs = [play_against_envs(threads, autoreset, illegal) for threads in (1, 2, 3)]
    for other in runs[1:]:
        assert all(np.array_equal(a, b) for a, b in zip(runs[0], other))


def test_match_i_is_the_match_of_its_seed() -> None:
    batch = vg.VecGame(3, seed=5, versus=True, visible=1, colors=3, num_threads=1)
    rng = np.random.default_rng(0)
    matches = [vg.Match(int(s), visible=1, colors=3) for s in batch.seeds]
    for _ in range(30):
        actions = random_actions(batch, rng)
        batch.step(actions)
        for i, match in enumerate(matches):
            if not match.is_over:
                match.step({p: int(actions[i, p]) for p in match.to_move()})
    for i, match in enumerate(matches):
        if not match.is_over:
            assert batch.match(i) == match


def test_versus_seeds_are_those_of_the_one_player_batch() -> None:
    assert np.array_equal(vg.VecGame(6, seed=21, versus=True).seeds, vg.VecGame(6, seed=21).seeds)


def stacked_batch(**options: Any) -> vg.VecGame:
    """Two matches where match 1's player 0 has filled column 1, so some of its moves are illegal,
    and at least one player of the batch is not due."""
    batch = vg.VecGame(2, seed=2, versus=True, num_threads=1, **options)
    for _ in range(200):
        if (batch.due & ~batch.action_masks[:, :, :WAIT].all(axis=2))[1, 0] and not batch.due.all():
            return batch
        # Player 1 plays its highest legal move: unlike the twin players' same moves, that puts
        # the players out of step, so that one waits while the other moves.
        actions = legal_actions(batch)
        highest = WAIT - 1 - np.argmax(batch.action_masks[:, 1, WAIT - 1 :: -1], axis=1)
        actions[:, 1] = np.where(batch.due[:, 1], highest, WAIT)
        batch.step(actions)
        assert not batch.terminated.any()
    raise AssertionError("column 1 never filled")


def legal_actions(batch: vg.VecGame) -> np.ndarray:
    return np.where(batch.due, np.argmax(batch.action_masks[:, :, :WAIT], axis=2), WAIT)


def refusal_cases() -> list[tuple[str, str]]:
    return [("shape (2,)", "shape"), ("shape (2, 3)", "shape"), ("floats", "integer"), ("23", "outside 0..22"),
            ("-1", "outside 0..22"), ("2**63 unsigned", "outside 0..22"), ("illegal", "not legal"),
            ("wait when due", "is due to move"), ("move when not due", "must be 22")]


def bad_actions(batch: vg.VecGame, case: str) -> np.ndarray:
    actions = legal_actions(batch)
    due = batch.due
    if case == "shape (2,)":
        return actions[:, 0]
    if case == "shape (2, 3)":
        return np.zeros((2, 3), dtype=np.int64)
    if case == "floats":
        return actions.astype(np.float64)
    if case == "23":
        actions[0, 1] = 23
    elif case == "-1":
        actions[1, 1] = -1
    elif case == "2**63 unsigned":
        actions = actions.astype(np.uint64)
        actions[1, 0] = 2**63
    elif case == "illegal":
        actions[1, 0] = int(np.flatnonzero(~batch.action_masks[1, 0, :WAIT])[0])
    elif case == "wait when due":
        actions[1, 0] = WAIT
    else:
        i, p = np.argwhere(~due)[0]
        actions[i, p] = 0
    return actions


@pytest.mark.parametrize("case, message", refusal_cases())
def test_bad_actions_are_refused_before_any_match_moves(case: str, message: str) -> None:
    batch = stacked_batch()
    outputs = ("field", "pairs", "pending_ojama", "rewards", "action_masks", "due", "frame", "episode_steps", "score")
    before = {name: getattr(batch, name).copy() for name in outputs}
    matches = [batch.match(i) for i in range(2)]
    with pytest.raises(ValueError, match=message):
        batch.step(bad_actions(batch, case))
    assert all(np.array_equal(getattr(batch, name), before[name]) for name in outputs)
    assert [batch.match(i) for i in range(2)] == matches
    batch.step(legal_actions(batch))  # still usable
    assert batch.episode_steps.tolist() == (before["episode_steps"] + 1).tolist()


def test_substitute_plays_the_lowest_legal_move_and_charges_the_penalty() -> None:
    substitute = stacked_batch(illegal="substitute", illegal_penalty=0.5)
    strict = stacked_batch()
    actions = bad_actions(substitute, "illegal")  # match 1: player 0 makes an illegal move
    actions[0] = np.where(substitute.due[0], WAIT, 5)  # match 0: a due player waits, an idle one moves
    lowest = legal_actions(strict)
    replaced = substitute.due & (actions != lowest)
    assert replaced[1, 0] and replaced[0].any()
    substitute.step(actions)
    strict.step(lowest)
    for name in ("field", "pairs", "pending_ojama", "frame", "score", "action_masks"):
        assert np.array_equal(getattr(substitute, name), getattr(strict, name)), name
    assert np.array_equal(substitute.substituted, replaced) and not strict.substituted.any()
    assert np.array_equal(substitute.rewards, strict.rewards - np.float32(0.5) * replaced)
    assert substitute.illegal == "substitute" and substitute.illegal_penalty == 0.5
    with pytest.raises(ValueError, match="outside 0..22"):
        substitute.step(np.full((2, 2), 23))


def test_one_player_substitute_equals_games_played_with_the_lowest_legal_move() -> None:
    n = 6
    batch = vg.VecGame(n, seed=9, num_threads=2, autoreset="disabled", illegal="substitute", illegal_penalty=3.0)
    games = [vg.Game(int(s)) for s in batch.seeds]
    rng = np.random.default_rng(1)
    for _ in range(60):
        actions = rng.integers(0, 22, size=n)
        batch.step(actions)
        for i, game in enumerate(games):
            if game.is_over:
                assert not batch.substituted[i]
                continue
            legal = game.legal_moves()
            move = int(actions[i]) if int(actions[i]) in legal else legal[0]
            result = game.play(move)
            assert batch.substituted[i] == (move != actions[i])
            assert batch.rewards[i] == np.float32(result.score - (3.0 if move != actions[i] else 0.0))
            field, pairs = game.observation()
            assert np.array_equal(batch.field[i], field) and np.array_equal(batch.pairs[i], pairs)
    assert batch.substituted.dtype == np.bool_
    with pytest.raises(ValueError, match="outside 0..21"):
        batch.step(np.full(n, 22))


def test_max_steps_truncates_a_match_and_waits_for_its_reset() -> None:
    batch = vg.VecGame(2, seed=4, versus=True, max_steps=3, num_threads=1, autoreset="disabled")
    for _ in range(3):
        batch.step(legal_actions(batch))
    assert batch.truncated.all() and not batch.terminated.any() and (batch.winner == -1).all()
    assert batch.action_masks[:, :, WAIT].all() and not batch.action_masks[:, :, :WAIT].any()
    frames = batch.frame.copy()
    batch.step(np.zeros((2, 2), dtype=np.int64))  # a waiting match ignores any action in range
    assert np.array_equal(batch.frame, frames)
    batch.reset()
    assert not batch.truncated.any() and (batch.frame == 0).all() and batch.due.all()


def test_a_match_undecided_at_the_frame_limit_is_truncated() -> None:
    batch = vg.VecGame(2, seed=4, versus=True, rules=vg.Rules(frame_limit=300), num_threads=1)
    for _ in range(100):
        batch.step(legal_actions(batch))
        if batch.truncated.any():
            break
    assert batch.truncated.all() and not batch.terminated.any() and not batch.rewards.any()
    assert batch.rules.frame_limit == 300 and batch.timing == vg.Timing()


def test_reset_with_a_seed_restarts_the_batch() -> None:
    batch = vg.VecGame(3, seed=8, versus=True, num_threads=2)
    seeds, field = batch.seeds.copy(), batch.field.copy()
    batch.step(legal_actions(batch))
    field_after, pairs, pending = batch.reset()
    assert not np.array_equal(batch.seeds, seeds) and pending.shape == (3, 2)
    batch.reset(seed=8)
    assert np.array_equal(batch.seeds, seeds) and np.array_equal(batch.field, field)
    assert batch.versus and len(batch) == 3 and batch.num_envs == 3


@pytest.mark.parametrize(
    "kwargs, error",
    [
        ({"rules": vg.Rules()}, ValueError),
        ({"versus": True, "rules": vg.Rules(frame_limit=0)}, ValueError),
        ({"versus": True, "rules": "fast"}, TypeError),
        ({"versus": True, "timing": vg.Rules()}, TypeError),
        ({"illegal": "ignore"}, ValueError),
        ({"illegal_penalty": float("nan")}, ValueError),
        ({"illegal_penalty": 1e300}, ValueError),
    ],
)
def test_bad_arguments_are_refused(kwargs: dict[str, object], error: type[Exception]) -> None:
    with pytest.raises(error):
        vg.VecGame(2, **kwargs)  # type: ignore[arg-type]


def test_each_kind_of_batch_is_its_own_class_and_the_versus_flag_makes_matches() -> None:
    one, two = vg.VecGame(2), vg.VecGame(2, versus=True, seed=3, num_threads=1)
    assert type(one) is vg.VecGame and type(two) is vg.VecMatch and not one.versus and two.versus
    assert np.array_equal(two.seeds, vg.VecMatch(2, seed=3, num_threads=1).seeds)
    assert not hasattr(one, "pending_ojama") and not hasattr(one, "match") and not hasattr(two, "game")
    with pytest.raises(ValueError):
        two.match(2)


@pytest.mark.parametrize("make", [vg.VecGame, vg.VecMatch])
def test_a_seed_per_item_plays_what_a_batch_of_one_of_that_copy_plays(make: Any) -> None:
    batch = make(3, num_threads=1)
    batch.reset(seed=[5, 6, 7])
    singles = [make(1, seed=s, first_copy=i, num_threads=1) for i, s in enumerate([5, 6, 7])]
    assert list(batch.seeds) == [int(single.seeds[0]) for single in singles] and batch.seed == 5
    batch.reset(seed=np.array([5, 6, 7], dtype=np.uint64))
    first = batch.seeds.copy()
    batch.reset()
    for single in singles:
        single.reset()
    assert list(batch.seeds) == [int(single.seeds[0]) for single in singles] and not np.array_equal(first, batch.seeds)
    for bad, error in (([5, 6], ValueError), ([5, 6, 7.0], TypeError), ([5, -1, 7], ValueError), ("5", TypeError)):
        with pytest.raises(error):
            batch.reset(seed=bad)


def test_the_versus_step_releases_the_interpreter_lock() -> None:
    batch = vg.VecGame(30_000, seed=0, num_threads=1, versus=True)
    ticks = 0
    stop = threading.Event()

    def count() -> None:
        nonlocal ticks
        while not stop.is_set():
            ticks += 1
            time.sleep(0)

    actions = legal_actions(batch)
    counter = threading.Thread(target=count)
    counter.start()
    time.sleep(0.01)
    before = ticks
    for _ in range(3):
        batch.step(actions)
        actions = legal_actions(batch)
    during = ticks - before
    stop.set()
    counter.join()
    assert during > 10


def test_steps_and_refusals_leak_nothing() -> None:
    batch = vg.VecGame(4, seed=1, versus=True, num_threads=2, illegal="substitute")
    rng = np.random.default_rng(0)
    strict = vg.VecGame(4, seed=1, versus=True, num_threads=1)

    def calls() -> None:
        batch.step(rng.integers(0, 23, size=(4, 2)))
        batch.match(1)
        try:
            strict.step(np.full((4, 2), 23))
        except ValueError:
            pass
        try:
            strict.step(np.zeros((4, 2)))
        except ValueError:
            pass

    for _ in range(50):
        calls()
    growth = []
    for _ in range(3):
        gc.collect()
        before = sys.getallocatedblocks()
        for _ in range(500):
            calls()
        gc.collect()
        growth.append(sys.getallocatedblocks() - before)
    assert min(growth) < 50, growth


def test_the_vector_env_passes_the_illegal_policy_on() -> None:
    gym_env = pytest.importorskip("velmo_game.gym_env")
    env = gym_env.PuyoVectorEnv(3, illegal="substitute", illegal_penalty=100.0, num_threads=1, autoreset="disabled")
    env.reset(seed=2)
    flagged = 0
    for _ in range(12):  # column 1 over and over: it fills, then the move is replaced
        _, rewards, terminated, _, info = env.step(np.zeros(3, dtype=np.int64))
        flagged += int(info["illegal"].sum())
        assert (rewards[info["illegal"]] < 0).all() and (rewards[~info["illegal"]] >= 0).all()
    assert flagged > 0
    with pytest.raises(ValueError, match="not legal"):
        strict = gym_env.PuyoVectorEnv(1, num_threads=1)
        for _ in range(12):
            strict.step(np.zeros(1, dtype=np.int64))


@pytest.mark.parametrize(
    "convert",
    [
        lambda a: a.astype(np.int32),
        lambda a: a.astype(np.uint8),
        lambda a: np.asfortranarray(a),  # int64 but not C-contiguous
        lambda a: np.repeat(a, 2, axis=1)[:, ::2],  # a strided view of the same values
        lambda a: a.tolist(),
    ],
    ids=["int32", "uint8", "fortran", "strided", "list"],
)
def test_every_integer_form_of_the_actions_steps_alike(convert: Any) -> None:
    plain = vg.VecGame(40, seed=4, num_threads=2, versus=True)
    other = vg.VecGame(40, seed=4, num_threads=2, versus=True)
    rng = np.random.default_rng(9)
    for _ in range(60):
        actions = random_actions(plain, rng)
        plain.step(actions)
        other.step(convert(actions))
        assert np.array_equal(plain.field, other.field) and np.array_equal(plain.rewards, other.rewards)
