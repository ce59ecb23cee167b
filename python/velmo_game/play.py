"""Play a match against a built-in player in the terminal.

    python -m velmo_game.play --opponent greedy --seed 1

You are player 0 (the left field). Move your pair with the left and right arrows (or a, d),
rotate it with up or x (clockwise) and z (anticlockwise), place it with down, space or enter; q
quits. The match runs in its own frames of time, not in real time: it waits for your move
whenever you are due, and your opponent's moves and chains, the ojama and the frame are shown
as the match reaches them. ``--json OUT.json`` keeps the match as a replay (``velmo_game.replay``
turns it into a web page).
"""

from __future__ import annotations

import argparse
import sys
from typing import Any, Sequence

import velmo
from velmo_game._native import Match
from velmo_game.evaluate import choose_in_match, derive_seed
from velmo_game.players import Player, make_player
from velmo_game.replay import Recorder

__all__ = ["Session", "main"]

_HANDS = velmo.Hand.enumerate()
_ROTATIONS = ("top", "right", "bottom", "left")  # clockwise: where the child sits
_CELL_TEXT = {0: "  ", 1: "()", 4: "RR", 5: "BB", 6: "YY", 7: "GG"}
_PLAYERS = ("random", "greedy", "beam")


def _move_of(x: int, rotation: str) -> int:
    return next(i for i, hand in enumerate(_HANDS) if hand.x == x and str(hand.rotation) == rotation)


class Session:
    """A match of the person (player 0) against ``opponent``, with the person's pair cursor; the
    terminal front only draws ``lines()`` and passes keys to ``key``."""

    def __init__(self, seed: int, opponent: Player, names: Sequence[str] = ("you", "bot")) -> None:
        self.match = Match(seed)
        self.recorder = Recorder(self.match, list(names))
        self.opponent = opponent
        self.x, self.rotation = 2, 0
        self.message = "arrows move and rotate, space places, q quits"
        self.last_chain = [0, 0]
        self.advance()

    def advance(self) -> None:
        """Let the opponent play until the person is due or the match ends."""
        while not self.match.is_over and self.match.to_move() == [1]:
            self._step({1: choose_in_match(self.opponent, self.match, 1)})

    def _step(self, moves: dict[int, int]) -> None:
        result = self.recorder.step(moves)
        for events in result.players:
            if events.moved:
                self.last_chain[events.player] = events.chain

    def key(self, key: str) -> bool:
        """Act on a key ("left", "right", "up", "x", "z", "down", "space", "q", ...); False to quit."""
        rotation = _ROTATIONS[self.rotation]
        if key == "q":
            return False
        if self.match.is_over:
            return True
        if key in ("left", "a"):
            self.x = max(1 if rotation == "left" else 0, self.x - 1)
        elif key in ("right", "d"):
            self.x = min(4 if rotation == "right" else 5, self.x + 1)
        elif key in ("up", "x", "z"):
            self.rotation = (self.rotation + (3 if key == "z" else 1)) % 4
            self.x = min(max(self.x, 1 if _ROTATIONS[self.rotation] == "left" else 0),
                         4 if _ROTATIONS[self.rotation] == "right" else 5)
        elif key in ("down", "space", "enter"):
            self.place()
        return True

    def place(self) -> None:
        move = _move_of(self.x, _ROTATIONS[self.rotation])
        if move not in self.match.legal_moves(0):
            self.message = "that place cannot be reached"
            return
        moves = {p: move if p == 0 else choose_in_match(self.opponent, self.match, p) for p in self.match.to_move()}
        self._step(moves)
        self.advance()
        chain = self.last_chain[0]
        self.message = f"{chain} chain!" if chain else ""
        if self.match.is_over:
            winner = self.match.winner
            self.message = "a draw" if winner is None else ("you win!" if winner == 0 else "you lose")

    def lines(self) -> list[str]:
        """The screen: both fields side by side, your pair above yours, scores, ojama and frame."""
        you, them = self.match.players
        pair = you.current_pair
        # Pair reports its puyos in array codes (one lower than the field's numbers for colours).
        child, axis = pair.child + 1, pair.axis + 1
        over = [["  "] * 6 for _ in range(3)]
        dx, dy = {"top": (0, -1), "right": (1, 0), "bottom": (0, 1), "left": (-1, 0)}[_ROTATIONS[self.rotation]]
        if not self.match.is_over and 0 in self.match.to_move():
            over[1][self.x] = _CELL_TEXT[axis]
            over[1 + dy][self.x + dx] = _CELL_TEXT[child]
        out = [f"frame {self.match.frame}   ojama pending: you {you.pending_ojama}, bot {them.pending_ojama}"]
        out += ["|" + "".join(row) + "|" for row in over]
        fields = [view.field for view in self.match.players]
        for y in range(14):
            rows = []
            for field in fields:
                cells = "".join(_CELL_TEXT.get(field.get(x, y), "??") for x in range(6))
                rows.append(("|" if y > 1 else ":") + cells + ("|" if y > 1 else ":"))
            out.append("   ".join(rows))
        out.append("+" + "-" * 12 + "+   +" + "-" * 12 + "+")
        out.append(f"you {you.score:>10}     bot {them.score:>10}")
        out.append(self.message)
        return out


def _run_terminal(session: Session) -> None:
    import curses

    names = {curses.KEY_LEFT: "left", curses.KEY_RIGHT: "right", curses.KEY_UP: "up", curses.KEY_DOWN: "down",
             ord(" "): "space", 10: "enter", 13: "enter"}

    def loop(screen: Any) -> None:
        curses.curs_set(0)
        colours = {"RR": curses.COLOR_RED, "BB": curses.COLOR_BLUE, "YY": curses.COLOR_YELLOW, "GG": curses.COLOR_GREEN}
        if curses.has_colors():
            curses.start_color()
            for index, colour in enumerate(colours.values(), start=1):
                curses.init_pair(index, colour, colour)
        pairs = {text: curses.color_pair(i) for i, text in enumerate(colours, start=1)} if curses.has_colors() else {}
        while True:
            screen.erase()
            for row, line in enumerate(session.lines()):
                screen.addstr(row, 0, line)
                # Puyos are two-letter cells ("RR") painted as blocks of their colour.
                for column in range(len(line) - 1):
                    if line[column:column + 2] in pairs:
                        screen.chgat(row, column, 2, pairs[line[column:column + 2]])
            screen.refresh()
            code = screen.getch()
            key = names.get(code, chr(code) if 0 <= code < 256 else "")
            if not session.key(key):
                return

    curses.wrapper(loop)


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="python -m velmo_game.play",
                                     description="Play a match against a built-in player in the terminal.")
    parser.add_argument("--opponent", choices=_PLAYERS, default="greedy", help="the built-in player (default greedy)")
    parser.add_argument("--seed", type=int, default=0, help="the match's seed (default 0)")
    parser.add_argument("--json", metavar="OUT.json", help="write the match as a replay when you quit")
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    args = _parser().parse_args(argv)
    if args.seed < 0:
        _parser().error("--seed must not be negative")
    if not sys.stdin.isatty() or not sys.stdout.isatty():
        print("velmo_game.play: needs a terminal", file=sys.stderr)
        return 1
    opponent = make_player(args.opponent, **({"seed": derive_seed(args.seed, 1)} if args.opponent != "greedy" else {}))
    session = Session(args.seed, opponent, ["you", args.opponent])
    _run_terminal(session)
    if args.json:
        session.recorder.replay.save(args.json)
    you, them = session.match.players
    print(f"seed {args.seed}: {session.message or 'quit'} at frame {session.match.frame}, scores {you.score}:{them.score}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
