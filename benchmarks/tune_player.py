"""Tune the beam player's evaluation weights with Optuna (CMA-ES) on seeded one-player games.

Each trial plays ``--games`` games of 54 placements on the tuning seeds (``--tune-seed`` ..; by
default 1000 and up, away from the benchmark's 0..99) on a process pool and scores the weights
by the mean over games of min(best chain, 150,000), so one lucky game cannot carry a trial. The
best weights are then played on the disjoint evaluation seeds (``--eval-seed`` ..; by default
5000 and up) next to the defaults, and both are printed with their spread (median, quartiles,
share at 80,000 and 100,000). Needs the ``tune`` extra (``pip install velmo[tune]``).

    python benchmarks/tune_player.py --trials 40 --games 24 --workers 2
    python benchmarks/tune_player.py --trials 2 --games 2 --width 8 --depth 4   # a smoke run
    python benchmarks/tune_player.py --start tuned.json --queues 3   # on from earlier weights, three futures

``--start`` names a JSON object of weights (as ``BeamSearch(weights=...)`` takes) that the search
starts from and whose half and double bound it, in place of the defaults. Each trial is printed
as a JSON line as it ends, so a run stopped early still tells its best weights.
"""

from __future__ import annotations

import argparse
import json
import statistics
from concurrent.futures import ProcessPoolExecutor
from functools import partial
from typing import Any

import velmo_game
from velmo_game.players import BeamSearch

PLACEMENTS = 54
CAP = 150_000
# The weights tuned, each between half and twice its default (on a log scale).
TUNED = ("chain", "chain_squared", "score", "added", "trigger_height", "trigger_room", "link2", "link3",
         "template_match", "well", "bump", "profile", "popped")


def best_chain(seed: int, options: dict[str, Any]) -> int:
    game = velmo_game.Game(seed)
    player = BeamSearch(seed=seed, end_turn=PLACEMENTS, **options)
    best = 0
    while not game.is_over and game.turn < PLACEMENTS:
        best = max(best, game.play(player.choose(game)).score)
    return best


def play(pool: ProcessPoolExecutor, seeds: range, options: dict[str, Any]) -> list[int]:
    return list(pool.map(partial(best_chain, options=options), seeds))


def spread(bests: list[int]) -> str:
    quartiles = statistics.quantiles(bests, n=4) if len(bests) > 1 else bests
    return (f"median {statistics.median(bests):.0f}, quartiles {' / '.join(f'{q:.0f}' for q in quartiles)}, "
            f">= 80,000 {sum(b >= 80_000 for b in bests) / len(bests):.0%}, "
            f">= 100,000 {sum(b >= 100_000 for b in bests) / len(bests):.0%}")


def main() -> None:
    import optuna

    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--trials", type=int, default=40)
    parser.add_argument("--games", type=int, default=24, help="tuning games per trial")
    parser.add_argument("--eval-games", type=int, default=100)
    parser.add_argument("--tune-seed", type=int, default=1000)
    parser.add_argument("--eval-seed", type=int, default=5000)
    parser.add_argument("--width", type=int)
    parser.add_argument("--depth", type=int)
    parser.add_argument("--queues", type=int, help="futures searched (the default's when left out)")
    parser.add_argument("--start", help="JSON file of weights to start from (the defaults when left out)")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--seed", type=int, default=0, help="the optimiser's seed")
    args = parser.parse_args()
    if args.tune_seed + args.games > args.eval_seed and args.eval_seed + args.eval_games > args.tune_seed:
        parser.error("the tuning and evaluation seeds overlap")
    base: dict[str, Any] = {k: v for k, v in (("width", args.width), ("depth", args.depth), ("queues", args.queues))
                            if v is not None}
    centre = BeamSearch.defaults()["weights"]
    if args.start:
        with open(args.start) as file:
            centre = {**centre, **json.load(file)}
    start = {name: centre[name] for name in TUNED}

    with ProcessPoolExecutor(args.workers) as pool:
        def objective(trial: optuna.Trial) -> float:
            weights = {name: trial.suggest_float(name, start[name] / 2, start[name] * 2, log=True)
                       for name in TUNED}
            bests = play(pool, range(args.tune_seed, args.tune_seed + args.games), {**base, "weights": weights})
            value = statistics.fmean(min(b, CAP) for b in bests)
            print(json.dumps({"trial": trial.number, "value": round(value), "weights": weights}), flush=True)
            return value

        study = optuna.create_study(direction="maximize", sampler=optuna.samplers.CmaEsSampler(seed=args.seed))
        study.enqueue_trial(start)
        study.optimize(objective, n_trials=args.trials)
        tuned = study.best_params
        evaluation = range(args.eval_seed, args.eval_seed + args.eval_games)
        print(f"best tuning value {study.best_value:.0f} after {args.trials} trials of {args.games} games")
        print(f"start on {args.eval_games} evaluation games: {spread(play(pool, evaluation, {**base, 'weights': start}))}")
        print(f"tuned on {args.eval_games} evaluation games:    {spread(play(pool, evaluation, {**base, 'weights': tuned}))}")
    print(json.dumps(tuned, indent=2))


if __name__ == "__main__":
    main()
