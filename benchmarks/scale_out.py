"""Speed of velmo_game.evaluate.run on each backend for one fixed workload, as ratios to serial.

    python benchmarks/scale_out.py --games 400 --player greedy --workers 2

Serial is measured first in the same run. Cluster start-up (a Dask LocalCluster, ray.init) is
timed apart from the evaluation, which then runs on the started cluster; the processes backend
starts its pool inside the timed run, as a user's call would.
"""

from __future__ import annotations

import argparse
import importlib.util
import time

from velmo_game.evaluate import run


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--games", type=int, default=400)
    parser.add_argument("--player", default="greedy")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--chunk-size", type=int)
    args = parser.parse_args()
    common = {"seed": 0, "chunk_size": args.chunk_size, "workers": args.workers, "progress": False}
    serial = run(args.player, args.games, **common)
    base = serial.summary.seconds
    print(f"{args.games} games of {args.player}, {serial.summary.moves} moves, {args.workers} workers")
    print(f"{'backend':<10} {'start s':>8} {'run s':>8} {'moves/s':>10} {'speed-up':>9}")
    print(f"{'serial':<10} {'-':>8} {base:8.2f} {serial.summary.moves_per_second:10.0f} {1.0:9.2f}")

    def report(name: str, start: float | None, evaluation_run: object) -> None:
        from velmo_game.evaluate import Evaluation

        assert isinstance(evaluation_run, Evaluation)
        assert evaluation_run.records == serial.records, f"{name} differs from serial"
        s = evaluation_run.summary
        started = "-" if start is None else f"{start:.2f}"
        print(f"{name:<10} {started:>8} {s.seconds:8.2f} {s.moves_per_second:10.0f} {base / s.seconds:9.2f}")

    report("processes", None, run(args.player, args.games, backend="processes", **common))
    if importlib.util.find_spec("distributed"):
        from distributed import LocalCluster

        t = time.perf_counter()
        with LocalCluster(n_workers=args.workers, threads_per_worker=1, dashboard_address=":0") as cluster:
            start = time.perf_counter() - t
            report("dask", start, run(args.player, args.games, backend="dask", address=cluster.scheduler_address, **common))
    if importlib.util.find_spec("ray"):
        import ray

        t = time.perf_counter()
        ray.init(num_cpus=args.workers, include_dashboard=False, log_to_driver=False)
        start = time.perf_counter() - t
        try:
            report("ray", start, run(args.player, args.games, backend="ray", **common))
        finally:
            ray.shutdown()


if __name__ == "__main__":
    main()
