"""Watch a bot: the built-in beam-search player plays a seeded game, move by move.

The game is recorded as it is played (``velmo_game.replay.record``), so it can be written as a
replay file, an animated GIF or a web page that plays it back chain step by chain step:

    python examples/watch_bot.py --seed 3 --moves 30 --html game.html --gif game.gif

Without an output the moves and chains are printed. ``python -m velmo_game.watch`` does the
same from the command line, for matches too.
"""

from __future__ import annotations

import argparse

from velmo_game import Game
from velmo_game.players import BeamSearch
from velmo_game.replay import record


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=3, help="the game's seed (default 3)")
    parser.add_argument("--moves", type=int, default=30, help="moves to play (default 30)")
    parser.add_argument("--html", metavar="OUT.html", help="write a web page that plays the game back")
    parser.add_argument("--gif", metavar="OUT.gif", help="write an animated GIF of the game")
    parser.add_argument("--json", metavar="OUT.json", help="write the replay")
    args = parser.parse_args()

    game = Game(args.seed)
    recorder = record(game, ["beam"])  # plays like the game and keeps every move
    bot = BeamSearch(seed=args.seed)
    while not game.is_over and game.turn < args.moves:
        result = recorder.play(bot.choose(game))
        if result.chain:
            print(f"move {game.turn:3d}: a {result.chain}-chain for {result.score} points")
    print(f"seed {args.seed}: {game.turn} moves, score {game.score}" + (" (game over)" if game.is_over else ""))

    if args.json:
        recorder.replay.save(args.json)
    if args.html or args.gif:
        from velmo_game.animate import Clip  # needs Pillow: pip install "velmo[render]"

        clip = Clip.of(recorder.replay, cell=16)
        if args.html:
            clip.save_html(args.html)
        if args.gif:
            clip.save_gif(args.gif)


if __name__ == "__main__":
    main()
