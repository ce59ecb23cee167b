"""Random play: seeded games with random legal moves until the field tops out.

Each game is a ``velmo_game.Game``: it deals the arcade's balanced pair
sequence for its seed, knows which of the 22 hands of ``Hand.enumerate()`` a
pair can reach, and ends when the death cell (third column, twelfth row from
the bottom) is occupied. Game i of a run uses seed ``--seed + i``, so any game
can be replayed alone.

    python examples/random_play.py --games 100 --moves 200 --seed 1
"""

from __future__ import annotations

import argparse
from dataclasses import dataclass

from velmo_game import Game, PairSequence


@dataclass
class GameResult:
    """What one game came to."""

    moves: int
    score: int
    max_chain: int
    topped_out: bool


def play_random_game(seed: int, max_moves: int) -> GameResult:
    """Play one game, each move drawn from the legal ones by a pair sequence used as a dice."""
    game = Game(seed)
    # The move chooser draws from another seeded sequence, so runs repeat exactly.
    dice = PairSequence(seed, kind="uniform").to_numpy(max_moves).astype(int)
    max_chain = 0
    for move in range(max_moves):
        legal = game.legal_moves()
        draw = int(dice[move, 0] * 8 + dice[move, 1])
        result = game.play(legal[draw % len(legal)])
        max_chain = max(max_chain, result.chain)
        if result.game_over:
            return GameResult(move + 1, game.score, max_chain, topped_out=True)
    return GameResult(max_moves, game.score, max_chain, topped_out=False)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="Random play until the field tops out.")
    parser.add_argument("--games", type=int, default=100, help="number of games (default 100)")
    parser.add_argument("--moves", type=int, default=200, help="move limit per game (default 200)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the first game (default 1)")
    args = parser.parse_args(argv)

    results = [play_random_game(args.seed + i, args.moves) for i in range(args.games)]

    chains: dict[int, int] = {}
    for result in results:
        chains[result.max_chain] = chains.get(result.max_chain, 0) + 1
    print(f"games: {len(results)}")
    print(f"mean moves per game: {sum(r.moves for r in results) / len(results):.1f}")
    print(f"mean score per game: {sum(r.score for r in results) / len(results):.1f}")
    print(f"best score: {max(r.score for r in results)}")
    print("longest chain per game: " + ", ".join(f"{c}: {n}" for c, n in sorted(chains.items())))
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
