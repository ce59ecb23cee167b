"""A greedy player: tries every hand and keeps the best by the chain it fires and the chain it sets up.

For each pair the player tries the 22 hands of ``Hand.enumerate()`` on a copy
of the field. A hand is judged, in this order, by

1. the score of the chain it fires, if that chain is long enough to be worth
   firing (``--fire-at`` steps, or any chain once the field is getting full);
2. the best chain that ``find_chain_by_removal()`` finds in the field it
   leaves: the chain the player could fire later by clearing one group;
3. a small penalty for firing a short chain, which wastes puyos, and for a
   tall stack.

    python examples/greedy.py --games 3 --moves 60 --seed 1
"""

from __future__ import annotations

import argparse
import random
from dataclasses import dataclass

from velmo import Field, Hand, Pair, PuyoType

COLOURS = (PuyoType.RED, PuyoType.BLUE, PuyoType.YELLOW, PuyoType.GREEN)
HANDS = Hand.enumerate()
DEATH_CELL = (2, 2)  # the cell whose filling ends the game: third column, twelfth row from the bottom
DANGER_HEIGHT = 9  # above this height of the third column, any chain is worth firing


@dataclass
class Judgement:
    """How good one hand is; larger keys are better."""

    hand: Hand
    fired_chain: int
    fired_score: int
    potential_chain: int
    potential_score: int
    key: tuple[int, int, int, int]


@dataclass
class GameResult:
    moves: int
    score: int
    max_chain: int
    topped_out: bool


def is_dead(field: Field) -> bool:
    return field.get(*DEATH_CELL) != PuyoType.EMPTY


def judge(field: Field, hand: Hand, pair: Pair, fire_at: int) -> Judgement | None:
    """Play ``pair`` at ``hand`` on a copy of ``field``; None when the hand does not fit or loses."""
    trial = field.clone()
    try:
        trial.put_hand(hand, pair)
    except RuntimeError:
        return None
    fired = trial.chain()
    if is_dead(trial):
        return None
    found = trial.find_chain_by_removal()
    best = max(found, key=lambda chain: (chain.score, chain.chain), default=None)
    potential_chain = best.chain if best else 0
    potential_score = best.score if best else 0

    in_danger = field.get_height(DEATH_CELL[0]) > DANGER_HEIGHT
    worth_firing = fired.chain >= fire_at or in_danger
    stack = max(trial.get_height(x) for x in range(6))
    key = (
        fired.score if worth_firing else 0,
        potential_score,
        -fired.score if not worth_firing else 0,
        -stack,
    )
    return Judgement(hand, fired.chain, fired.score, potential_chain, potential_score, key)


def choose(field: Field, pair: Pair, fire_at: int) -> Judgement | None:
    """The best hand for ``pair`` on ``field``, or None when every hand loses."""
    judgements = [j for hand in HANDS if (j := judge(field, hand, pair, fire_at)) is not None]
    return max(judgements, key=lambda j: j.key, default=None)


def play_greedy_game(rng: random.Random, max_moves: int, fire_at: int, verbose: bool) -> GameResult:
    field = Field()
    score = max_chain = 0
    for move in range(1, max_moves + 1):
        pair = Pair(rng.choice(COLOURS), rng.choice(COLOURS))
        best = choose(field, pair, fire_at)
        if best is None:
            return GameResult(move - 1, score, max_chain, topped_out=True)
        field.put_hand(best.hand, pair)
        result = field.chain()
        score += result.score
        max_chain = max(max_chain, result.chain)
        if verbose and result.chain:
            print(f"  move {move}: {best.hand!r} fires a {result.chain}-chain for {result.score}")
    if verbose:
        print(field.get_pretty_string(), end="")
    return GameResult(max_moves, score, max_chain, topped_out=False)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="A greedy player guided by the chain search.")
    parser.add_argument("--games", type=int, default=3, help="number of games (default 3)")
    parser.add_argument("--moves", type=int, default=60, help="move limit per game (default 60)")
    parser.add_argument("--fire-at", type=int, default=4, help="shortest chain worth firing (default 4)")
    parser.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    parser.add_argument("--verbose", action="store_true", help="show every chain and the last field")
    args = parser.parse_args(argv)

    rng = random.Random(args.seed)
    for game in range(1, args.games + 1):
        result = play_greedy_game(rng, args.moves, args.fire_at, args.verbose)
        ending = "topped out" if result.topped_out else "survived"
        print(
            f"game {game}: {result.moves} moves, score {result.score}, "
            f"longest chain {result.max_chain}, {ending}"
        )
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
