"""Versus strength: seeded matches between two players, each match played from both seats.

Match ``i`` is ``Match(first_seed + i)``; the player plays it once as player 0 and once as player
1 against the opponent, so the seats' difference cancels. Prints the wins, draws and losses of the
player over all those games with the win share, and the CPU time per move of each side.

    python benchmarks/versus_benchmark.py                              # BeamSearch() vs greedy, 100 matches
    python benchmarks/versus_benchmark.py --opponent legacy --matches 20
    python benchmarks/versus_benchmark.py --player strong --opponent default --workers 2
"""

from __future__ import annotations

import argparse
import os
import sys
import time
from concurrent.futures import ProcessPoolExecutor

import velmo_game
from velmo_game.evaluate import choose_in_match
from velmo_game.players import PRESETS, BeamSearch, GreedyPlayer, Player, RandomPlayer

NAMES = ("greedy", "random", *PRESETS)


def make(name: str, seed: int) -> Player:
    if name == "greedy":
        return GreedyPlayer()
    if name == "random":
        return RandomPlayer(seed)
    return BeamSearch.preset(name, seed=seed)


def play(names: tuple[str, str], seed: int, seat: int) -> tuple[int | None, float, float, int, int]:
    """One match: the winner seen from the player (1 won, 0 lost, None draw), the CPU seconds of
    each side and the moves each made."""
    player, opponent = make(names[0], seed), make(names[1], seed + 1)
    sides = (player, opponent) if seat == 0 else (opponent, player)
    match = velmo_game.Match(seed)
    cpu = [0.0, 0.0]
    moves = [0, 0]
    while not match.is_over:
        chosen = {}
        for p in match.to_move():
            started = time.process_time()
            chosen[p] = choose_in_match(sides[p], match, p)
            cpu[p] += time.process_time() - started
            moves[p] += 1
        match.step(chosen)
    won = None if match.winner is None else int(match.winner == seat)
    return won, cpu[seat], cpu[1 - seat], moves[seat], moves[1 - seat]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--player", choices=NAMES, default="default")
    parser.add_argument("--opponent", choices=NAMES, default="greedy")
    parser.add_argument("--matches", type=int, default=100, help="seeds, each played from both seats")
    parser.add_argument("--first-seed", type=int, default=0)
    parser.add_argument("--workers", type=int, default=1, help="processes")
    args = parser.parse_args()
    jobs = [(seed, seat) for seed in range(args.first_seed, args.first_seed + args.matches) for seat in (0, 1)]
    names = (args.player, args.opponent)
    load_before = os.getloadavg()
    if args.workers > 1:
        with ProcessPoolExecutor(args.workers) as pool:
            results = list(pool.map(play, [names] * len(jobs), *zip(*jobs)))
    else:
        results = [play(names, seed, seat) for seed, seat in jobs]
    wins = sum(r[0] == 1 for r in results)
    losses = sum(r[0] == 0 for r in results)
    draws = len(results) - wins - losses
    mine = sum(r[1] for r in results) / max(1, sum(r[3] for r in results))
    theirs = sum(r[2] for r in results) / max(1, sum(r[4] for r in results))
    print(f"{args.player} vs {args.opponent}: {len(results)} games ({args.matches} seeds from {args.first_seed}, both seats)")
    print(f"  wins {wins}, draws {draws}, losses {losses}: {wins / len(results):.1%} won")
    print(f"  CPU ms per move: {args.player} {1000 * mine:.1f}, {args.opponent} {1000 * theirs:.1f}; "
          f"load average {load_before[0]:.2f} before, {os.getloadavg()[0]:.2f} after")
    lost = [f"{seed}/{seat}" for (seed, seat), r in zip(jobs, results) if r[0] != 1]
    if lost:
        print(f"  not won (seed/seat): {' '.join(lost)}", file=sys.stderr)


if __name__ == "__main__":
    main()
