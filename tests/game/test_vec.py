"""VecGame: a batch of games equals the single games it derives, on any thread count, and refuses
bad input before any game moves."""

from __future__ import annotations

import threading
import time

import numpy as np
import pytest

import velmo_game as vg


def random_legal(masks: np.ndarray, rng: np.random.Generator) -> np.ndarray:
    noise = rng.random(masks.shape) * masks
    return np.argmax(noise, axis=1).astype(np.int64)


def play_batch(num_threads: int, steps: int = 120, n: int = 9) -> tuple[list[np.ndarray], list[list[int]]]:
    batch = vg.VecGame(n, seed=11, num_threads=num_threads, autoreset="disabled")
    rng = np.random.default_rng(5)
    history: list[np.ndarray] = []
    moves: list[list[int]] = [[] for _ in range(n)]
    for _ in range(steps):
        actions = random_legal(batch.action_masks, rng)
        for i in range(n):
            if not batch.terminated[i]:
                moves[i].append(int(actions[i]))
        (field, pairs), reward, _, _ = batch.step(actions)
        history.append(np.concatenate([field.reshape(n, -1), pairs.reshape(n, -1), reward.reshape(n, 1).astype(np.uint8)], axis=1).copy())
    return history, moves


@pytest.mark.parametrize("num_threads", [1, 2, 3])
def test_game_i_equals_a_single_game_of_its_seed(num_threads: int) -> None:
    batch = vg.VecGame(9, seed=11, num_threads=num_threads, autoreset="disabled")
    seeds = [int(s) for s in batch.seeds]
    _, moves = play_batch(num_threads)
    history, _ = play_batch(num_threads)
    final = history[-1]
    for i, seed in enumerate(seeds):
        game = vg.Game(seed)
        for move in moves[i]:
            game.play(move)
        field, pairs = game.observation()
        assert np.array_equal(final[i, : 14 * 6], field.reshape(-1))
        assert np.array_equal(final[i, 14 * 6 : 14 * 6 + 6], pairs.reshape(-1))


def test_results_do_not_depend_on_the_thread_count() -> None:
    one, _ = play_batch(1)
    for threads in (2, 3):
        other, _ = play_batch(threads)
        assert all(np.array_equal(a, b) for a, b in zip(one, other))


@pytest.mark.parametrize(
    "actions, message",
    [
        (np.zeros(3, dtype=np.int64), "shape"),
        (np.zeros((4, 1), dtype=np.int64), "shape"),
        (np.zeros(4, dtype=np.float64), "integer"),
        (np.array([0, 0, 22, 0]), "outside 0..21"),
        (np.array([0, -1, 0, 0]), "outside 0..21"),
        (np.array([0, 0, 0, 2**63], dtype=np.uint64), "outside 0..21"),
    ],
)
def test_bad_actions_are_refused_before_any_game_moves(actions: np.ndarray, message: str) -> None:
    batch = vg.VecGame(4, seed=1, num_threads=2)
    before = batch.field.copy(), batch.episode_steps.copy()
    with pytest.raises(ValueError, match=message):
        batch.step(actions)
    assert np.array_equal(batch.field, before[0]) and np.array_equal(batch.episode_steps, before[1])
    batch.step(np.zeros(4, dtype=np.int64))  # still usable


def test_an_illegal_move_refuses_the_whole_batch() -> None:
    batch = vg.VecGame(2, seed=1, num_threads=1)
    # Fill column 0 (moves are Hand.enumerate() order) until a move there is no longer legal.
    rng = np.random.default_rng(0)
    while batch.action_masks[1].all():
        batch.step(np.array([int(random_legal(batch.action_masks[:1], rng)[0]), 0]))
        if batch.terminated.any():
            pytest.skip("a game ended first")
    illegal = int(np.flatnonzero(batch.action_masks[1] == 0)[0])
    steps = batch.episode_steps.copy()
    with pytest.raises(ValueError, match="not legal"):
        batch.step(np.array([int(np.flatnonzero(batch.action_masks[0])[0]), illegal]))
    assert np.array_equal(batch.episode_steps, steps)


def run_until_a_game_ends(batch: vg.VecGame) -> int:
    rng = np.random.default_rng(2)
    for _ in range(2000):
        batch.step(random_legal(batch.action_masks, rng))
        ended = np.flatnonzero(batch.terminated | batch.truncated)
        if ended.size:
            return int(ended[0])
    raise AssertionError("no game ended")


def test_next_step_autoreset_ignores_the_following_action() -> None:
    batch = vg.VecGame(3, seed=4, num_threads=1)
    i = run_until_a_game_ends(batch)
    first_seed = int(batch.seeds[i])
    assert batch.action_masks[i].all()
    batch.step(random_legal(batch.action_masks, np.random.default_rng(0)))
    assert not batch.terminated[i] and batch.episode_steps[i] == 0 and batch.rewards[i] == 0
    assert int(batch.seeds[i]) != first_seed
    field, pairs = vg.Game(int(batch.seeds[i])).observation()
    assert np.array_equal(batch.field[i], field) and np.array_equal(batch.pairs[i], pairs)


def test_same_step_autoreset_keeps_the_final_observation() -> None:
    batch = vg.VecGame(3, seed=4, num_threads=1, autoreset="same_step", max_steps=5)
    i = run_until_a_game_ends(batch)
    assert batch.truncated[i] and batch.episode_steps[i] == 0
    assert batch.final_field[i].any()
    field, _ = vg.Game(int(batch.seeds[i])).observation()
    assert np.array_equal(batch.field[i], field)


def test_disabled_autoreset_leaves_a_finished_game_until_reset() -> None:
    batch = vg.VecGame(3, seed=4, num_threads=1, autoreset="disabled", max_steps=3)
    i = run_until_a_game_ends(batch)
    field = batch.field[i].copy()
    batch.step(np.zeros(3, dtype=np.int64))
    assert batch.truncated[i] and np.array_equal(batch.field[i], field)
    batch.reset()
    assert not batch.truncated.any() and not batch.field.any()


def test_reset_with_a_seed_restarts_the_batch() -> None:
    batch = vg.VecGame(5, seed=8, num_threads=2)
    seeds = batch.seeds.copy()
    batch.step(random_legal(batch.action_masks, np.random.default_rng(1)))
    batch.reset()
    assert not np.array_equal(batch.seeds, seeds)
    batch.reset(seed=8)
    assert np.array_equal(batch.seeds, seeds)


@pytest.mark.parametrize("kwargs", [{"autoreset": "sometimes"}, {"colors": 5}, {"num_threads": 0}, {"seed": -1}, {"max_steps": 0}])
def test_bad_arguments_are_refused(kwargs: dict[str, object]) -> None:
    with pytest.raises(ValueError):
        vg.VecGame(2, **kwargs)  # type: ignore[arg-type]


def test_the_step_releases_the_interpreter_lock() -> None:
    batch = vg.VecGame(200_000, seed=0, num_threads=1)
    actions = np.argmax(batch.action_masks, axis=1)
    ticks = 0
    stop = threading.Event()

    def count() -> None:
        nonlocal ticks
        while not stop.is_set():
            ticks += 1
            time.sleep(0)

    counter = threading.Thread(target=count)
    counter.start()
    time.sleep(0.01)
    before = ticks
    for _ in range(3):
        batch.step(actions)
        actions = np.argmax(batch.action_masks, axis=1)
    during = ticks - before
    stop.set()
    counter.join()
    assert during > 10


def play_sampled(num_threads: int, n: int = 2100, steps: int = 30, autoreset: str = "next_step") -> list[np.ndarray]:
    """Batches large enough for four threads to share (512 games a thread at least), driven by their own sampler."""
    batch = vg.VecGame(n, seed=3, num_threads=num_threads, autoreset=autoreset)
    history = []
    for _ in range(steps):
        actions = batch.sample_actions()
        assert batch.action_masks[np.arange(n), actions].all()
        (field, pairs), reward, terminated, _ = batch.step(actions)
        history.append(np.concatenate([actions.reshape(n, 1), field.reshape(n, -1), pairs.reshape(n, -1), reward.reshape(n, 1),
                                       terminated.reshape(n, 1), batch.action_masks], axis=1).astype(np.int64))
    return history


@pytest.mark.parametrize("autoreset", ["next_step", "same_step", "disabled"])
def test_sampled_play_of_large_batches_does_not_depend_on_the_thread_count(autoreset: str) -> None:
    one = play_sampled(1, autoreset=autoreset)
    for threads in (2, 4):
        assert all(np.array_equal(a, b) for a, b in zip(one, play_sampled(threads, autoreset=autoreset)))


@pytest.mark.parametrize("num_threads", [1, 3])
def test_sampled_moves_replayed_on_single_games_give_the_same_fields(num_threads: int) -> None:
    n = 1600
    batch = vg.VecGame(n, seed=8, num_threads=num_threads, autoreset="disabled")
    games = [vg.Game(int(s)) for s in batch.seeds]
    for _ in range(40):
        actions = batch.sample_actions().copy()
        for i, game in enumerate(games):
            if not game.is_over:
                game.play(int(actions[i]))
        batch.step(actions)
    for i, game in enumerate(games):
        field, pairs = game.observation()
        assert np.array_equal(batch.field[i], field) and np.array_equal(batch.pairs[i], pairs)
        assert batch.score[i] == game.score


def test_sampling_restarts_with_the_seed_and_returns_its_own_array() -> None:
    batch = vg.VecGame(100, seed=4, num_threads=2)
    first = batch.sample_actions().copy()
    second = batch.sample_actions()
    assert second is batch.sample_actions() and not second.flags.writeable
    batch.reset(seed=4)
    assert np.array_equal(batch.sample_actions(), first)


@pytest.mark.parametrize(
    "convert",
    [
        lambda a: a,
        lambda a: a.astype(np.int32),
        lambda a: a.astype(np.uint8),
        lambda a: [int(x) for x in a],
        lambda a: np.repeat(a, 2)[::2],  # int64, not contiguous
    ],
)
def test_every_integer_form_of_the_actions_steps_alike(convert) -> None:  # type: ignore[no-untyped-def]
    plain = vg.VecGame(1100, seed=2, num_threads=2)
    other = vg.VecGame(1100, seed=2, num_threads=2)
    for _ in range(30):
        actions = plain.sample_actions().copy()
        plain.step(actions)
        other.step(convert(actions))
        assert np.array_equal(plain.field, other.field) and np.array_equal(plain.action_masks, other.action_masks)


@pytest.mark.parametrize("reward, form", [("score", lambda s, c: s), ("log_score", lambda s, c: np.log1p(s)), ("chain", lambda s, c: c)])
def test_the_batch_computes_each_reward_form_less_the_penalty(reward, form):
    batch = vg.VecGame(64, seed=2, num_threads=1, reward=reward, illegal="substitute", illegal_penalty=0.5)
    rng, chains, substituted = np.random.default_rng(0), 0, 0
    for _ in range(60):
        _, rewards, _, _ = batch.step(rng.integers(0, 22, size=64))
        expected = form(batch.move_score, batch.chain) - 0.5 * batch.substituted
        np.testing.assert_allclose(rewards, expected.astype(np.float32), rtol=1e-6)
        chains, substituted = chains + batch.chain.sum(), substituted + batch.substituted.sum()
    assert batch.reward == reward and chains > 0 and substituted > 0
