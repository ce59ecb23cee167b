"""A greedy player: tries every legal move and keeps the best by the chain it fires and the chain it sets up.

Each game is a ``velmo_game.Game`` (seed ``--seed + i`` for game i): it deals
the pairs, lists the legal moves and knows when the game is lost. For each
pair the player tries every legal move on a copy of the field. A move is
judged, in this order, by

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
from dataclasses import dataclass

from velmo import Hand
from velmo_game import Game

HANDS = Hand.enumerate()
SPAWN_COLUMN = 2  # the third column, where pairs appear and whose 12th row ends the game
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


def judge(game: Game, move: int, fire_at: int) -> Judgement | None:
    """Play ``move`` on a copy of ``game``; None when the move loses the game."""
    trial_game = game.clone()
    fired = trial_game.play(move)
    if fired.game_over:
        return None
    trial = trial_game.field
    hand = HANDS[move]
    found = trial.find_chain_by_removal()
    best = max(found, key=lambda chain: (chain.score, chain.chain), default=None)
    potential_chain = best.chain if best else 0
    potential_score = best.score if best else 0

    in_danger = game.field.get_height(SPAWN_COLUMN) > DANGER_HEIGHT
    worth_firing = fired.chain >= fire_at or in_danger
    stack = max(trial.get_height(x) for x in range(6))
    key = (
        fired.score if worth_firing else 0,
        potential_score,
        -fired.score if not worth_firing else 0,
        -stack,
    )
    return Judgement(hand, fired.chain, fired.score, potential_chain, potential_score, key)


def choose(game: Game, fire_at: int) -> tuple[int, Judgement] | None:
    """The best move of ``game`` with its judgement, or None when every move loses."""
    judged = [(move, j) for move in game.legal_moves() if (j := judge(game, move, fire_at)) is not None]
    return max(judged, key=lambda item: item[1].key, default=None)


def play_greedy_game(seed: int, max_moves: int, fire_at: int, verbose: bool) -> GameResult:
    game = Game(seed)
    max_chain = 0
    for move_number in range(1, max_moves + 1):
        best = choose(game, fire_at)
        if best is None:
            return GameResult(move_number - 1, game.score, max_chain, topped_out=True)
        move, judgement = best
        result = game.play(move)
        max_chain = max(max_chain, result.chain)
        if verbose and result.chain:
            print(f"  move {move_number}: {judgement.hand!r} fires a {result.chain}-chain for {result.score}")
    if verbose:
        print(game.field.get_pretty_string(), end="")
    return GameResult(max_moves, game.score, max_chain, topped_out=False)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="A greedy player guided by the chain search.")
    parser.add_argument("--games", type=int, default=3, help="number of games (default 3)")
    parser.add_argument("--moves", type=int, default=60, help="move limit per game (default 60)")
    parser.add_argument("--fire-at", type=int, default=4, help="shortest chain worth firing (default 4)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the first game (default 1)")
    parser.add_argument("--verbose", action="store_true", help="show every chain and the last field")
    args = parser.parse_args(argv)

    for game in range(1, args.games + 1):
        result = play_greedy_game(args.seed + game - 1, args.moves, args.fire_at, args.verbose)
        ending = "topped out" if result.topped_out else "survived"
        print(
            f"game {game}: {result.moves} moves, score {result.score}, "
            f"longest chain {result.max_chain}, {ending}"
        )
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
