"""Watch a built-in player: play a seeded game (or a match against an opponent) and write it as a
replay, an animated GIF, an MP4 video or a web page.

    python -m velmo_game.watch --player beam --seed 3 --html out.html
    python -m velmo_game.watch --player greedy --versus --opponent random --seed 1 --gif match.gif

A game's player and a match's players are seeded as ``velmo_game.evaluate`` seeds them, so a game
watched here is the one an evaluation with the same seed plays.
"""

from __future__ import annotations

import argparse
import sys
from typing import Sequence

from velmo_game._native import Game, Match
from velmo_game.evaluate import choose_in_match, derive_seed
from velmo_game.players import Player, make_player
from velmo_game.replay import (Recorder, Replay, add_output_arguments, check_output_arguments, progress_bar,
                               write_from_arguments)

__all__ = ["main", "watch_game", "watch_match"]

PLAYERS = ("random", "greedy", "beam")


def _player(name: str, seed: int) -> Player:
    return make_player(name, **({"seed": seed} if name in ("random", "beam") else {}))


def watch_game(player: str, seed: int, moves: int | None = None, progress: bool | None = False) -> Replay:
    """The replay of ``Game(seed)`` played by ``player`` for ``moves`` moves (None: to its end);
    ``progress`` as in ``evaluate.run``."""
    chooser = _player(player, derive_seed(seed, 0))
    game = Game(seed)
    recorder = Recorder(game, [player])
    bar = progress_bar(moves, progress, unit="move", desc="playing")
    while not game.is_over and (moves is None or game.turn < moves):
        recorder.play(chooser.choose(game))
        if bar is not None:
            bar.update()
    if bar is not None:
        bar.close()
    return recorder.replay


def watch_match(player: str, opponent: str, seed: int, steps: int | None = None,
                progress: bool | None = False) -> Replay:
    """The replay of ``Match(seed)``, ``player`` as player 0 against ``opponent``, for ``steps``
    steps (None: to its end); ``progress`` as in ``evaluate.run``."""
    choosers = (_player(player, derive_seed(seed, 0)), _player(opponent, derive_seed(seed, 1)))
    match = Match(seed)
    recorder = Recorder(match, [player, opponent])
    bar = progress_bar(steps, progress, unit="step", desc="playing")
    while not match.is_over and (steps is None or len(recorder.replay.moves) < steps):
        recorder.step({p: choose_in_match(choosers[p], match, p) for p in match.to_move()})
        if bar is not None:
            bar.update()
    if bar is not None:
        bar.close()
    return recorder.replay


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="python -m velmo_game.watch",
        description="Play a seeded game (or, with --versus, a match) with a built-in player and write it as a "
                    "replay, an animated GIF, an MP4 video or a self-contained web page.")
    parser.add_argument("--player", choices=PLAYERS, default="beam", help="the player (default beam)")
    parser.add_argument("--seed", type=int, default=0, help="the game's or match's seed (default 0)")
    parser.add_argument("--moves", type=int, help="stop after this many moves (default: 54 for a game, as evaluate "
                        "plays; a match plays to its end)")
    parser.add_argument("--versus", action="store_true", help="a match of --player (left) against --opponent")
    parser.add_argument("--opponent", choices=PLAYERS, default="greedy", help="the opponent (default greedy)")
    add_output_arguments(parser)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    parser = _parser()
    args = parser.parse_args(argv)
    check_output_arguments(parser, args)
    if args.seed < 0 or (args.moves is not None and args.moves < 1):
        parser.error("--seed must not be negative and --moves must be at least 1")
    progress = False if args.no_progress else None
    if args.versus:
        replay = watch_match(args.player, args.opponent, args.seed, args.moves, progress)
    else:
        replay = watch_game(args.player, args.seed, 54 if args.moves is None else args.moves, progress)
    final = replay.final()
    summary = (f"score {final.score}, {final.turn} moves" if isinstance(final, Game) else
               f"scores {final.players[0].score}:{final.players[1].score}, winner {final.winner}, frame {final.frame}")
    print(f"{' vs '.join(replay.players)}, seed {args.seed}: {summary}")
    return write_from_arguments(replay, args, "velmo_game.watch")


if __name__ == "__main__":
    sys.exit(main())
