"""Steps per second of VecGame with random legal actions (masks read and actions drawn in NumPy
every step), beside a random-play loop on velmo in Python measured in the same run; then the
batch of matches, VecGame(versus=True), beside the PettingZoo versus env of the same run.

    python benchmarks/vec_benchmark.py [--seconds 1.0]
"""

from __future__ import annotations

import argparse
import os
import random
import time

import numpy as np

import velmo
import velmo_game


def python_loop(seconds: float) -> float:
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


def vec_rate(num_envs: int, threads: int, seconds: float) -> float:
    batch = velmo_game.VecGame(num_envs, seed=0, num_threads=threads)
    rng = np.random.default_rng(0)
    steps, start = 0, time.perf_counter()
    while time.perf_counter() - start < seconds:
        noise = rng.random((num_envs, 22), dtype=np.float32)
        actions = np.argmax(noise * batch.action_masks, axis=1)
        batch.step(actions)
        steps += num_envs
    return steps / (time.perf_counter() - start)


def versus_rate(num_matches: int, threads: int, seconds: float) -> float:
    """Match steps (each to the match's next decision) per second of VecGame(versus=True), the
    actions drawn in NumPy from the (N, 2, 23) masks every step."""
    batch = velmo_game.VecGame(num_matches, seed=0, num_threads=threads, versus=True)
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
            print(f"VecGame versus threads={threads} matches={num_matches:5d}: {rate / 1e6:6.3f} M match steps/s "
                  f"({rate / baseline:5.2f}x{versus_env})")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--seconds", type=float, default=1.0)
    args = parser.parse_args()
    baseline = python_loop(args.seconds)
    print(f"velmo Python random-play loop: {baseline / 1e6:.2f} M moves/s (1.00x)")
    for threads in sorted({1, 2, os.cpu_count() or 1}):
        for num_envs in (256, 4096, 65536):
            rate = vec_rate(num_envs, threads, args.seconds)
            print(f"VecGame threads={threads} num_envs={num_envs:6d}: {rate / 1e6:6.2f} M steps/s ({rate / baseline:5.2f}x)")
    versus_rows(baseline, args.seconds)


if __name__ == "__main__":
    main()
