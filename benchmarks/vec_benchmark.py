"""Steps per second of VecGame with random legal actions, beside a random-play loop on velmo in
Python measured in the same run, and the time of one single-game Gymnasium step; then the batch
of matches, VecMatch, beside the PettingZoo versus env of the same run.

For each thread count and batch size, three figures:
- "native": ``step(batch.sample_actions())``, the actions drawn natively from the masks;
- "step": the time inside ``step`` alone in that same loop;
- "numpy": the masks read and the actions drawn in NumPy every step (argmax of masked noise).

    python benchmarks/vec_benchmark.py [--seconds 1.0] [--quick]
"""

from __future__ import annotations

import argparse
import os
import random
import time

import numpy as np

import velmo
import velmo_game
from velmo_game.gym_env import PuyoEnv


def python_loop(seconds: float) -> float:
    """Random moves on velmo.Field, in Python: the baseline of every ratio."""
    hands = velmo.Hand.enumerate()
    rng = random.Random(0)
    colors = [velmo.PuyoType.RED, velmo.PuyoType.BLUE, velmo.PuyoType.YELLOW, velmo.PuyoType.GREEN]
    moves, start = 0, time.perf_counter()
    field = velmo.Field()
    while time.perf_counter() - start < seconds:
        for _ in range(1000):
            pair = velmo.Pair(rng.choice(colors), rng.choice(colors))
            try:
                field.put_hand(rng.choice(hands), pair)
            except RuntimeError:  # the column is full: a new game
                field = velmo.Field()
                continue
            field.chain()
            moves += 1
    return moves / (time.perf_counter() - start)


def native_rates(num_envs: int, threads: int, seconds: float) -> tuple[float, float]:
    """(steps/s with native sampling, steps/s of the step calls alone)."""
    batch = velmo_game.VecGame(num_envs, seed=0, num_threads=threads)
    steps, in_step = 0, 0.0
    start = time.perf_counter()
    while time.perf_counter() - start < seconds:
        actions = batch.sample_actions()
        before = time.perf_counter()
        batch.step(actions)
        in_step += time.perf_counter() - before
        steps += num_envs
    return steps / (time.perf_counter() - start), steps / in_step


def numpy_rate(num_envs: int, threads: int, seconds: float) -> float:
    batch = velmo_game.VecGame(num_envs, seed=0, num_threads=threads)
    rng = np.random.default_rng(0)
    steps, start = 0, time.perf_counter()
    while time.perf_counter() - start < seconds:
        noise = rng.random((num_envs, 22), dtype=np.float32)
        actions = np.argmax(noise * batch.action_masks, axis=1)
        batch.step(actions)
        steps += num_envs
    return steps / (time.perf_counter() - start)


def env_step_time(seconds: float) -> float:
    """Seconds per PuyoEnv.step (unwrapped), random legal moves chosen outside the timed call."""
    env = PuyoEnv()
    env.reset(seed=0)
    rng = random.Random(0)
    steps, in_step = 0, 0.0
    start = time.perf_counter()
    while time.perf_counter() - start < seconds:
        legal = env.game.legal_moves()
        move = legal[rng.randrange(len(legal))]
        before = time.perf_counter()
        _, _, terminated, truncated, _ = env.step(move)
        in_step += time.perf_counter() - before
        steps += 1
        if terminated or truncated:
            env.reset()
    return in_step / steps


def versus_rate(num_matches: int, threads: int, seconds: float) -> float:
    """Match steps (each to the match's next decision) per second of VecMatch, the
    actions drawn in NumPy from the (N, 2, 23) masks every step."""
    batch = velmo_game.VecMatch(num_matches, seed=0, num_threads=threads)
    rng = np.random.default_rng(0)
    steps, start = 0, time.perf_counter()
    while time.perf_counter() - start < seconds:
        noise = rng.random((num_matches, 2, 23), dtype=np.float32)
        batch.step(np.argmax(noise * batch.action_masks, axis=2))
        steps += num_matches
    return steps / (time.perf_counter() - start)


def pettingzoo_rate(seconds: float) -> float:
    """Match steps per second of the PettingZoo env (velmo_game.Match driven from Python)."""
    from velmo_game import pettingzoo

    env = pettingzoo.parallel_env()
    env.reset(seed=0)
    rng = np.random.default_rng(0)
    steps, start = 0, time.perf_counter()
    masks = {agent: np.ones(23) for agent in pettingzoo.AGENTS}
    while time.perf_counter() - start < seconds:
        observations, _, terminated, truncated, _ = env.step(
            {agent: int(np.argmax(rng.random(23) * masks[agent])) for agent in pettingzoo.AGENTS})
        masks = {agent: observations[agent]["action_mask"] for agent in pettingzoo.AGENTS}
        steps += 1
        if terminated["player_0"] or truncated["player_0"]:
            observations, _ = env.reset()
            masks = {agent: observations[agent]["action_mask"] for agent in pettingzoo.AGENTS}
    return steps / (time.perf_counter() - start)


def versus_rows(baseline: float, seconds: float) -> None:
    try:
        env_rate = pettingzoo_rate(seconds)
    except ImportError:  # the rl extra is not installed
        env_rate = 0.0
    else:
        print(f"PettingZoo versus env (Python over Match): {env_rate / 1e3:.1f} k match steps/s")
    for threads in sorted({1, 2, os.cpu_count() or 1}):
        for num_matches in (256, 4096):
            rate = versus_rate(num_matches, threads, seconds)
            versus_env = f", {rate / env_rate:6.1f}x the PettingZoo env" if env_rate else ""
            print(f"VecMatch threads={threads} matches={num_matches:5d}: {rate / 1e6:6.3f} M match steps/s "
                  f"({rate / baseline:5.2f}x{versus_env})")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seconds", type=float, default=1.0, help="time per figure")
    parser.add_argument("--quick", action="store_true", help="a short run: 0.2 s per figure, two batch sizes")
    args = parser.parse_args()
    seconds = 0.2 if args.quick else args.seconds
    sizes = (1024, 16384) if args.quick else (256, 1024, 4096, 16384, 65536)
    baseline = python_loop(seconds)
    print(f"velmo Python random-play loop: {baseline / 1e6:.2f} M moves/s (1.00x)")
    for threads in sorted({1, 2, os.cpu_count() or 1}):
        for num_envs in sizes:
            native, step_only = native_rates(num_envs, threads, seconds)
            with_numpy = numpy_rate(num_envs, threads, seconds)
            print(f"VecGame threads={threads} num_envs={num_envs:6d}: native {native / 1e6:6.2f} M steps/s ({native / baseline:5.1f}x)"
                  f"  step {step_only / 1e6:6.2f} M/s  numpy {with_numpy / 1e6:6.2f} M/s ({with_numpy / baseline:5.1f}x)")
    print(f"PuyoEnv.step (unwrapped): {env_step_time(seconds) * 1e6:.2f} us")
    versus_rows(baseline, seconds)


if __name__ == "__main__":
    main()
