"""Random play: drop random pairs with random hands until the field tops out.

Each game starts from an empty field. Every move draws a pair of two random
colours, tries the 22 hands of ``Hand.enumerate()`` in a random order until
one fits, places the pair and lets the chain reaction run. A game ends when
the cell that ends a real game (third column, twelfth row from the bottom) is
occupied, or after ``--moves`` moves.

    python examples/random_play.py --games 100 --moves 200 --seed 1
"""

from __future__ import annotations

import argparse
import random
from dataclasses import dataclass

from velmo import Field, Hand, Pair, PuyoType

COLOURS = (PuyoType.RED, PuyoType.BLUE, PuyoType.YELLOW, PuyoType.GREEN)
HANDS = Hand.enumerate()

# The game is lost when this cell is occupied: column 2 (the third from the left), row 2 (the
# twelfth row from the bottom; rows count from 0 at the hidden 14th row down to 13 at the bottom).
DEATH_CELL = (2, 2)


@dataclass
class GameResult:
    """What one game came to."""

    moves: int
    score: int
    max_chain: int
    topped_out: bool


def random_pair(rng: random.Random) -> Pair:
    """A pair of two random colours (child first, then axis)."""
    return Pair(rng.choice(COLOURS), rng.choice(COLOURS))


def is_dead(field: Field) -> bool:
    """Whether the field has topped out."""
    return field.get(*DEATH_CELL) != PuyoType.EMPTY


def play_random_game(rng: random.Random, max_moves: int) -> GameResult:
    """Play one game with random hands."""
    field = Field()
    score = max_chain = 0
    for move in range(1, max_moves + 1):
        pair = random_pair(rng)
        hands = list(HANDS)
        rng.shuffle(hands)
        for hand in hands:
            try:
                field.put_hand(hand, pair)
                break
            except RuntimeError:  # the pair does not fit there: try the next hand
                continue
        else:
            return GameResult(move - 1, score, max_chain, topped_out=True)
        result = field.chain()
        score += result.score
        max_chain = max(max_chain, result.chain)
        if is_dead(field):
            return GameResult(move, score, max_chain, topped_out=True)
    return GameResult(max_moves, score, max_chain, topped_out=False)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="Random play until the field tops out.")
    parser.add_argument("--games", type=int, default=100, help="number of games (default 100)")
    parser.add_argument("--moves", type=int, default=200, help="move limit per game (default 200)")
    parser.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    args = parser.parse_args(argv)

    rng = random.Random(args.seed)
    results = [play_random_game(rng, args.moves) for _ in range(args.games)]

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
