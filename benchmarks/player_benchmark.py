"""The beam-search player's strength: one-player games of 54 placements over seeded games.

For each game (seeds 0..games-1, balanced four-colour sequences) the player plays up to 54
placements; the figure is each game's best single chain score. Prints the share of games at
80,000 or more, the median, and the time per move on one core, with the budget used. The
greedy player, measured in the same run on the first games, is the baseline.

    python benchmarks/player_benchmark.py                 # 100 games
    python benchmarks/player_benchmark.py --quick         # 10 games
    python benchmarks/player_benchmark.py --width 64 --depth 12 --time-budget-ms 50
"""

from __future__ import annotations

import argparse
import statistics
import time

import velmo_game
from velmo_game.players import BeamSearch, GreedyPlayer, Player

PLACEMENTS = 54


def best_chain_of_game(player: Player, seed: int) -> tuple[int, int, float]:
    """The game's best chain score, the placements made and the slowest choice in seconds."""
    game = velmo_game.Game(seed)
    best, slowest = 0, 0.0
    while not game.is_over and game.turn < PLACEMENTS:
        started = time.perf_counter()
        move = player.choose(game)
        slowest = max(slowest, time.perf_counter() - started)
        best = max(best, game.play(move).score)
    return best, int(game.turn), slowest


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--games", type=int, default=100)
    parser.add_argument("--quick", action="store_true", help="10 games")
    parser.add_argument("--width", type=int, default=96)
    parser.add_argument("--depth", type=int, default=16)
    parser.add_argument("--node-budget", type=int, default=0, help="children evaluated per move (0: none)")
    parser.add_argument("--time-budget-ms", type=float, default=0.0, help="per move (0: none; makes runs machine-dependent)")
    parser.add_argument("--max-added", type=int, default=2, help="puyos added by the potential-chain evaluation")
    parser.add_argument("--fire-score", type=int, default=80_000, help="fire a chain worth this much")
    parser.add_argument("--time-limit", type=float, default=600.0, help="stop after this many seconds")
    args = parser.parse_args()
    games = 10 if args.quick else args.games

    bests: list[int] = []
    moves, slowest_move = 0, 0.0
    started = time.perf_counter()
    for seed in range(games):
        if time.perf_counter() - started > args.time_limit:
            print(f"time limit reached after {seed} games")
            break
        player = BeamSearch(args.width, args.depth, seed=seed, node_budget=args.node_budget,
                            time_budget_ms=args.time_budget_ms, fire_score=args.fire_score,
                            end_turn=PLACEMENTS, max_added=args.max_added)
        best, turns, slowest = best_chain_of_game(player, seed)
        bests.append(best)
        moves += turns
        slowest_move = max(slowest_move, slowest)
    elapsed = time.perf_counter() - started

    greedy_started = time.perf_counter()
    greedy = [best_chain_of_game(GreedyPlayer(), seed)[0] for seed in range(max(1, min(5, len(bests))))]
    greedy_elapsed = time.perf_counter() - greedy_started

    print(f"beam width {args.width}, depth {args.depth}, node budget {args.node_budget or 'none'}, "
          f"time budget {f'{args.time_budget_ms:g} ms' if args.time_budget_ms else 'none'}; {len(bests)} games of {PLACEMENTS} placements")
    print(f"  time per move {1000 * elapsed / max(moves, 1):.2f} ms on average, {1000 * slowest_move:.1f} ms at most "
          "(one core)")
    print(f"  best chain: median {statistics.median(bests):.0f}, share >= 80,000: {sum(b >= 80000 for b in bests) / len(bests):.0%}")
    print(f"  best chain quartiles: {statistics.quantiles(bests, n=4) if len(bests) > 1 else bests}")
    print(f"  baseline greedy on {len(greedy)} games: median {statistics.median(greedy):.0f} "
          f"({greedy_elapsed / max(len(greedy), 1):.2f} s per game)")


if __name__ == "__main__":
    main()
