"""Construction cost per game, in microseconds: ``VecGame(n)``, its ``reset()``, ``Game(seed)``
and ``PairSequence(seed)``, beside the same figures of a baseline build timed in the same run.

    python benchmarks/construction_benchmark.py [--baseline DIR] [--rounds 5] [--envs 100000]

DIR holds another build's installed packages (``velmo_game`` and the ``velmo`` module, e.g. copied
from site-packages at an earlier commit). Each round measures both builds, one after the other,
each in a fresh interpreter on one thread; the best of the rounds is shown, with the ratio
baseline / this build (above 1: this build is faster). Without DIR only this build is measured.
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys

MEASURE = r"""
import json, sys, time
import velmo_game as vg
n = int(sys.argv[1])
def per_game(make, count):
    start = time.perf_counter()
    make()
    return (time.perf_counter() - start) / count * 1e6
batch = None
def build():
    global batch
    batch = vg.VecGame(n, num_threads=1)
figures = {"VecGame(n)": per_game(build, n), "VecGame.reset()": per_game(batch.reset, n)}
count = max(n // 10, 1000)
figures["Game(seed)"] = per_game(lambda: [vg.Game(i) for i in range(count)], count)
figures["PairSequence(seed)"] = per_game(lambda: [vg.PairSequence(i) for i in range(count)], count)
print(json.dumps(figures))
"""


def measure(path: str | None, envs: int) -> dict[str, float]:
    env = dict(os.environ)
    if path is not None:
        env["PYTHONPATH"] = path + os.pathsep + env.get("PYTHONPATH", "")
    done = subprocess.run([sys.executable, "-c", MEASURE, str(envs)], env=env, capture_output=True, text=True, check=True)
    figures: dict[str, float] = json.loads(done.stdout)
    return figures


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--baseline", help="a directory holding the baseline build's packages")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--envs", type=int, default=100_000)
    args = parser.parse_args()
    best: dict[str, dict[str, float]] = {}
    builds = {"this build": None, **({"baseline": args.baseline} if args.baseline else {})}
    for _ in range(args.rounds):
        for name, path in builds.items():
            for figure, value in measure(path, args.envs).items():
                best.setdefault(name, {})[figure] = min(value, best.get(name, {}).get(figure, value))
    print(f"{'µs per game':<22}" + "".join(f"{name:>14}" for name in builds) + ("     ratio" if args.baseline else ""))
    for figure in best["this build"]:
        row = f"{figure:<22}" + "".join(f"{best[name][figure]:>14.2f}" for name in builds)
        if args.baseline:
            row += f"{best['baseline'][figure] / best['this build'][figure]:>10.2f}"
        print(row)


if __name__ == "__main__":
    main()
