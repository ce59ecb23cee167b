"""Play a match: your own player against the built-in greedy player, in frames of time.

A player is anything with ``choose(game) -> move``; in a match it chooses in
``velmo_game.evaluate.game_view(match, player)``, a one-player game standing where that player
stands. ``LowestField`` below is a deliberately simple player of our own: it plays the legal
move that keeps the field lowest. The match is stepped by hand, printing the chains and the
ojama of each step, and can be written as a web page to watch:

    python examples/play_match.py --seed 1 --html match.html
"""

from __future__ import annotations

import argparse

from velmo_game import Game, Match
from velmo_game.evaluate import game_view
from velmo_game.players import GreedyPlayer, Player
from velmo_game.replay import record


class LowestField:
    """Our own player: the legal move after which the tallest column is lowest (chains count)."""

    def choose(self, game: Game) -> int:
        def tallest_after(move: int) -> tuple[int, int]:
            trial = game.clone()
            result = trial.play(move)
            field = trial.field
            return max(field.get_height(x) for x in range(6)), -result.score

        return min(game.legal_moves(), key=tallest_after)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=1, help="the match's seed (default 1)")
    parser.add_argument("--html", metavar="OUT.html", help="write a web page that plays the match back")
    parser.add_argument("--quiet", action="store_true", help="print only the result")
    args = parser.parse_args()

    players: list[Player] = [LowestField(), GreedyPlayer()]
    match = Match(args.seed)
    recorder = record(match, ["lowest field", "greedy"])
    while not match.is_over:
        # Only the players in to_move() choose; the other is still placing or chaining.
        moves = {p: players[p].choose(game_view(match, p)) for p in match.to_move()}
        step = recorder.step(moves)
        for events in step.players:
            if events.chain and not args.quiet:
                print(f"frame {step.frame_before:5d}: player {events.player} fires a {events.chain}-chain "
                      f"({events.score} points, {events.ojama_produced} ojama)")
            if events.ojama_received and not args.quiet:
                print(f"frame {step.frame:5d}: {events.ojama_received} ojama fall on player {events.player}")
    outcome = "a draw" if match.winner is None else f"player {match.winner} wins"
    print(f"seed {args.seed}: {outcome} at frame {match.frame}, scores "
          f"{match.players[0].score}:{match.players[1].score}")
    if args.html:
        from velmo_game.animate import Clip  # needs Pillow: pip install "velmo[render]"

        Clip.of(recorder.replay, cell=16).save_html(args.html)


if __name__ == "__main__":
    main()
