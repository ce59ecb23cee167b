"""The beam-search player's strength: one-player games of 54 placements over seeded games.

For each game (``Game(seed)`` for seeds first-seed .. first-seed + games - 1, two visible next
pairs) the player plays up to 54 placements; the figure is each game's best single chain score.
Prints the median, the quartiles and the shares of games at 80,000 and 100,000 or more, and the
CPU time per move (mean and slowest) with the machine's load. The greedy player, measured in the
same run on the first games, is the baseline. A run cut short by ``--time-limit`` says so loudly
and exits with status 3: its figures are not the benchmark's.

    python benchmarks/player_benchmark.py                       # the default player, seeds 0..99
    python benchmarks/player_benchmark.py --games 20            # a quick look
    python benchmarks/player_benchmark.py --preset strong
    python benchmarks/player_benchmark.py --preset legacy       # the player before move choice by chains
    python benchmarks/player_benchmark.py --width 64 --depth 12 --time-budget-ms 50
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import time
from typing import Any

import velmo_game
from velmo_game.players import PRESETS, BeamSearch, GreedyPlayer, Player

PLACEMENTS = 54


def best_chain_of_game(player: Player, seed: int) -> tuple[int, int, float, float]:
    """The game's best chain score, the placements made, and the CPU seconds of all choices and
    of the slowest one."""
    game = velmo_game.Game(seed)
    best, total, slowest = 0, 0.0, 0.0
    while not game.is_over and game.turn < PLACEMENTS:
        started = time.process_time()
        move = player.choose(game)
        spent = time.process_time() - started
        total += spent
        slowest = max(slowest, spent)
        best = max(best, game.play(move).score)
    return best, int(game.turn), total, slowest


def player_options(args: argparse.Namespace) -> dict[str, Any]:
    options: dict[str, Any] = dict(PRESETS[args.preset])
    for name in ("width", "depth", "node_budget", "time_budget_ms", "fire_score", "max_added", "queues", "threads",
                 "discount", "settle_queues"):
        value = getattr(args, name)
        if value is not None:
            options[name] = value
    if args.fixed_queues:
        options["fixed_queues"] = True
    return options


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--games", type=int, default=100)
    parser.add_argument("--first-seed", type=int, default=0, help="seeds first-seed .. first-seed + games - 1")
    parser.add_argument("--quick", action="store_true", help="10 games")
    parser.add_argument("--preset", choices=sorted(PRESETS), default="default")
    parser.add_argument("--width", type=int)
    parser.add_argument("--depth", type=int)
    parser.add_argument("--queues", type=int, help="futures of sampled pairs")
    parser.add_argument("--settle-queues", type=int, help="futures searched before the others (0: all, always)")
    parser.add_argument("--threads", type=int)
    parser.add_argument("--discount", type=float)
    parser.add_argument("--node-budget", type=int, help="children evaluated per move (0: none)")
    parser.add_argument("--time-budget-ms", type=float, help="per move (0: none; makes runs machine-dependent)")
    parser.add_argument("--max-added", type=int, help="puyos added by the potential-chain evaluation")
    parser.add_argument("--fire-score", type=int, help="fire a chain worth this much")
    parser.add_argument("--fixed-queues", action="store_true", help="fixed queues of two-colour pairs past the visible ones")
    parser.add_argument("--time-limit", type=float, default=3600.0, help="stop after this many seconds")
    args = parser.parse_args()
    games = 10 if args.quick else args.games
    options = player_options(args)

    bests: list[int] = []
    moves, cpu, slowest_move = 0, 0.0, 0.0
    load_before = os.getloadavg()
    started = time.perf_counter()
    cut_short = False
    for seed in range(args.first_seed, args.first_seed + games):
        if time.perf_counter() - started > args.time_limit:
            cut_short = True
            break
        player = BeamSearch(seed=seed, end_turn=PLACEMENTS, **options)
        best, turns, spent, slowest = best_chain_of_game(player, seed)
        bests.append(best)
        moves += turns
        cpu += spent
        slowest_move = max(slowest_move, slowest)
    load_after = os.getloadavg()
    if not bests:
        sys.exit("no game played")

    greedy = [best_chain_of_game(GreedyPlayer(), seed)[0] for seed in range(args.first_seed, args.first_seed + min(5, len(bests)))]

    shown = {k: v for k, v in options.items() if k != "weights"}
    print(f"beam preset {args.preset} {shown}; {len(bests)} games of {PLACEMENTS} placements, "
          f"seeds {args.first_seed}..{args.first_seed + len(bests) - 1}")
    print(f"  CPU time per move {1000 * cpu / max(moves, 1):.2f} ms on average, {1000 * slowest_move:.1f} ms at most; "
          f"load average {load_before[0]:.2f} before, {load_after[0]:.2f} after ({os.cpu_count()} cores)")
    print(f"  best chain: median {statistics.median(bests):.0f}, "
          f"share >= 80,000: {sum(b >= 80_000 for b in bests) / len(bests):.0%}, "
          f"share >= 100,000: {sum(b >= 100_000 for b in bests) / len(bests):.0%}")
    quartiles = statistics.quantiles(bests, n=4) if len(bests) > 1 else bests
    print(f"  best chain quartiles: {' / '.join(f'{q:.0f}' for q in quartiles)}")
    print(f"  baseline greedy on {len(greedy)} games: median {statistics.median(greedy):.0f}")
    if cut_short:
        print(f"\n*** TIME LIMIT: only {len(bests)} of {games} games were played (--time-limit {args.time_limit:g} s); "
              "these figures are NOT the benchmark's ***", file=sys.stderr)
        sys.exit(3)


if __name__ == "__main__":
    main()
