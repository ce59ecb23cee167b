"""PuyoEnv.step against an earlier form of it, in one process.

The earlier ``gym_env.py`` (for example ``git show <commit>:python/velmo_game/gym_env.py > old.py``)
is loaded as a module of its own beside the installed one; both step their default form with
random legal moves (chosen outside the timed call), alternately, round after round. Prints each
form's median and best microseconds per step and the ratios of the current form to the earlier.

    python benchmarks/env_step_benchmark.py old.py
    python benchmarks/env_step_benchmark.py old.py --rounds 40 --seconds 0.5
"""

from __future__ import annotations

import argparse
import importlib.util
import statistics
import time
from types import ModuleType

import numpy as np

from velmo_game import gym_env


def load(path: str) -> ModuleType:
    spec = importlib.util.spec_from_file_location("earlier_gym_env", path)
    if spec is None or spec.loader is None:
        raise SystemExit(f"cannot load {path}")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def microseconds_per_step(module: ModuleType, rng: np.random.Generator, seconds: float) -> float:
    env = module.PuyoEnv()
    _, info = env.reset(seed=int(rng.integers(1 << 30)))
    clock, spent, steps = time.perf_counter, 0.0, 0
    stop = clock() + seconds
    while clock() < stop:
        legal = np.flatnonzero(info["action_mask"])
        move = int(legal[rng.integers(len(legal))])
        start = clock()
        _, _, terminated, truncated, info = env.step(move)
        spent += clock() - start
        steps += 1
        if terminated or truncated:
            _, info = env.reset()
    return spent / steps * 1e6


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("earlier", help="the earlier gym_env.py")
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--seconds", type=float, default=0.3, help="per form and round")
    args = parser.parse_args()
    forms = {"earlier": load(args.earlier), "current": gym_env}
    times: dict[str, list[float]] = {name: [] for name in forms}
    rng = np.random.default_rng(0)
    for r in range(args.rounds):
        for name in (list(forms) if r % 2 == 0 else list(reversed(forms))):
            times[name].append(microseconds_per_step(forms[name], rng, args.seconds))
    for name, values in times.items():
        print(f"{name:8} median {statistics.median(values):.3f} us, best {min(values):.3f} us")
    print(f"current / earlier: median {statistics.median(times['current']) / statistics.median(times['earlier']):.3f}, "
          f"best {min(times['current']) / min(times['earlier']):.3f}")


if __name__ == "__main__":
    main()
