"""Steps per second of VecGame with random legal actions (masks read and actions drawn in NumPy
every step), beside a random-play loop on velmo in Python measured in the same run.

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


if __name__ == "__main__":
    main()
