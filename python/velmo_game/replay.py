"""Replays: a game or a match recorded exactly, in a small JSON file, and played back.

A replay holds what a game or match starts from (seed, colours, visible pairs, each player's pair
sequence and starting field when they are not the seed's own, a match's rules and timing) and
every move, so that playing it back reaches every state again. ``record(Game(3))`` wraps a new
game or match in a :class:`Recorder` that plays like it and keeps the moves; ``Replay.states()``
plays the replay back; ``save`` and ``load`` write and read the file. Rules and timing are kept
as the keyword arguments of ``Rules`` and ``Timing``, whatever those are, so that a replay holds
every setting a match was played with.

The file (``"version": 1``)::

    {"format": "velmo-replay", "version": 1, "kind": "game", "seed": 3, "colors": 4,
     "visible": 2, "sequences": null, "fields": null, "moves": [5, 12, ...], "players": ["beam"]}

A match has ``"kind": "match"``, ``"rules"`` and ``"timing"`` objects, and ``"moves"`` holding
one ``[move of player 0, move of player 1]`` per ``Match.step``, ``null`` for a player not due.

Run ``python -m velmo_game.replay FILE --gif OUT.gif --html OUT.html`` to turn a replay (or one
game of a self-play file, ``--index``) into an animation; see ``--help``.
"""

from __future__ import annotations

import argparse
import inspect
import json
import sys
from dataclasses import dataclass, field as dataclass_field
from pathlib import Path
from typing import Any, Iterator, Mapping, Sequence, Union

import velmo
from velmo_game._native import Game, Match, MatchPlayer, PairSequence, Rules, Timing

__all__ = ["FORMAT", "VERSION", "Recorder", "Replay", "record", "main"]

FORMAT = "velmo-replay"
VERSION = 1
Playable = Union[Game, Match]
MatchMoves = list[Union[int, None]]


def _settings(value: Rules | Timing) -> dict[str, Any]:
    """The keyword arguments that rebuild ``value``: every parameter of its constructor."""
    names = inspect.signature(type(value)).parameters
    return {name: _plain(getattr(value, name)) for name in names}


def _plain(value: Any) -> Any:
    return list(value) if isinstance(value, tuple) else value


def _sequence_record(sequence: PairSequence, seed: int, colors: int) -> dict[str, Any] | None:
    """None for the seed's own sequence, else what rebuilds it."""
    if sequence.kind == "balanced" and sequence.seed == seed and sequence == PairSequence(seed, colors=colors):
        return None
    if sequence.kind == "explicit":
        _, _, _, raw = sequence.__getstate__()
        return {"kind": "explicit", "pairs": [[raw[i], raw[i + 1]] for i in range(0, len(raw), 2)]}
    return {"kind": sequence.kind, "seed": sequence.seed, "colors": len(sequence.colors)}


def _sequence_from_record(record: Mapping[str, Any]) -> PairSequence:
    if record.get("kind") == "explicit":
        return PairSequence.from_pairs([velmo.Pair(int(child), int(axis)) for child, axis in record["pairs"]])
    return PairSequence(int(record["seed"]), colors=int(record["colors"]), kind=record["kind"])


def _field_record(field: velmo.Field) -> list[list[int]] | None:
    """None for an empty field, else its columns (``Field.from_array`` rebuilds it)."""
    return None if field == velmo.Field() else field.to_array()


@dataclass
class Replay:
    """A recorded game (``kind == "game"``) or match (``kind == "match"``); see the module's
    documentation for the meaning of each field."""

    kind: str
    seed: int
    colors: int = 4
    visible: int = 2
    moves: list[Any] = dataclass_field(default_factory=list)
    rules: dict[str, Any] | None = None
    timing: dict[str, Any] | None = None
    #: One record per player when a sequence is not the seed's own, else None.
    sequences: list[dict[str, Any] | None] | None = None
    #: One ``Field.to_array()`` per player when a field did not start empty, else None.
    fields: list[list[list[int]] | None] | None = None
    #: Names of the players, for captions (optional).
    players: list[str] = dataclass_field(default_factory=list)

    def __repr__(self) -> str:
        players = f", players={self.players!r}" if self.players else ""
        return f"Replay({self.kind!r}, seed={self.seed}, moves=<{len(self.moves)}>{players})"

    def __post_init__(self) -> None:
        if self.kind not in ("game", "match"):
            raise ValueError(f"a replay's kind is 'game' or 'match', not {self.kind!r}")

    # --- starting and playing -------------------------------------------------------------------

    def start(self) -> Playable:
        """The game or match as it was before the first move (ValueError for settings that make
        none)."""
        try:
            return self._start()
        except (TypeError, KeyError, IndexError) as error:
            raise ValueError(f"this replay's settings make no {self.kind}: {error!r}") from None

    def _start(self) -> Playable:
        sequences = self.sequences or [None, None]
        fields = self.fields or [None, None]
        sequence_args = [None if s is None else _sequence_from_record(s) for s in sequences]
        field_args = [None if f is None else velmo.Field.from_array(f) for f in fields]
        if self.kind == "game":
            return Game(self.seed, colors=self.colors, visible=self.visible, field=field_args[0], sequence=sequence_args[0])
        seed_sequences = [PairSequence(self.seed, colors=self.colors)] * 2
        return Match(self.seed, colors=self.colors, visible=self.visible,
                     rules=Rules(**self.rules) if self.rules is not None else None,
                     timing=Timing(**self.timing) if self.timing is not None else None,
                     fields=[f if f is not None else velmo.Field() for f in field_args],
                     sequences=[s if s is not None else d for s, d in zip(sequence_args, seed_sequences)])

    def apply(self, state: Playable, index: int) -> Any:
        """Play move ``index`` of the replay on ``state`` (a copy of the replay's state before it)
        and return the ``MoveResult`` or ``StepResult``; ValueError names a move that does not fit."""
        move = self.moves[index]
        try:
            if isinstance(state, Game):
                return state.play(move)
            return state.step({player: m for player, m in enumerate(move) if m is not None})
        except (ValueError, TypeError) as error:
            raise ValueError(f"replay move {index} ({move!r}) cannot be played: {error}") from None

    def states(self) -> Iterator[Playable]:
        """The state before the first move, then after each move (every one a separate copy)."""
        state = self.start()
        yield state.clone()
        for index in range(len(self.moves)):
            self.apply(state, index)
            yield state.clone()

    def final(self) -> Playable:
        """The state after the last move."""
        state = self.start()
        for index in range(len(self.moves)):
            self.apply(state, index)
        return state

    # --- the file -------------------------------------------------------------------------------

    def to_dict(self) -> dict[str, Any]:
        """The file's content as plain values."""
        out: dict[str, Any] = {"format": FORMAT, "version": VERSION, "kind": self.kind, "seed": self.seed,
                               "colors": self.colors, "visible": self.visible}
        if self.kind == "match":
            out["rules"], out["timing"] = self.rules, self.timing
        out.update(sequences=self.sequences, fields=self.fields, players=self.players, moves=self.moves)
        return out

    def dumps(self) -> str:
        """The file's text: a game on one line, a match with one step a line."""
        head = self.to_dict()
        if self.kind == "game":
            return json.dumps(head) + "\n"
        moves = head.pop("moves")
        text = json.dumps(head)[:-1]
        body = ",\n ".join(json.dumps(m) for m in moves)
        return f'{text}, "moves": [\n {body}\n]}}\n' if moves else f'{text}, "moves": []}}\n'

    def save(self, path: str | Path) -> None:
        """Write the replay to ``path`` as JSON."""
        Path(path).write_text(self.dumps(), encoding="utf-8")

    @classmethod
    def from_dict(cls, data: Mapping[str, Any]) -> Replay:
        """A replay from the file's content; ValueError for content that is not a replay this
        version reads."""
        if not isinstance(data, Mapping) or data.get("format") != FORMAT:
            raise ValueError(f"not a velmo replay (no \"format\": \"{FORMAT}\")")
        if data.get("version") != VERSION:
            raise ValueError(f"replay version {data.get('version')!r} is not supported (this velmo reads {VERSION})")
        try:
            replay = cls(kind=data["kind"], seed=_int(data["seed"]), colors=_int(data.get("colors", 4)),
                         visible=_int(data.get("visible", 2)), moves=list(data["moves"]), rules=data.get("rules"),
                         timing=data.get("timing"), sequences=data.get("sequences"), fields=data.get("fields"),
                         players=[str(p) for p in data.get("players") or []])
        except (KeyError, TypeError) as error:
            raise ValueError(f"a replay without a valid {error}") from None
        replay._check_moves()
        replay._check_fields()
        return replay

    # The cell numbers a field of a game may hold: empty, ojama and the four colours.
    _CELLS = frozenset((0, 1, 4, 5, 6, 7))

    def _check_fields(self) -> None:
        """Fields are checked here, before velmo reads them, which would fail harder on a bad cell."""
        for field in self.fields or []:
            if field is None:
                continue
            fits = isinstance(field, list) and len(field) == 6 and all(
                isinstance(column, list) and len(column) == 14 and all(_is_int(c) and c in self._CELLS for c in column)
                for column in field)
            if not fits:
                raise ValueError("a replay's starting field is 6 columns of 14 cells, each 0, 1 or 4 to 7")

    def _check_moves(self) -> None:
        for index, move in enumerate(self.moves):
            fits = _is_int(move) if self.kind == "game" else (
                isinstance(move, list) and len(move) == 2 and all(m is None or _is_int(m) for m in move))
            if not fits:
                raise ValueError(f"replay move {index} is {move!r}: a {self.kind}'s moves are "
                                 + ("ints" if self.kind == "game" else "[move or null, move or null]"))

    @classmethod
    def loads(cls, text: str) -> Replay:
        try:
            data = json.loads(text)
        except json.JSONDecodeError as error:
            raise ValueError(f"not a velmo replay: {error}") from None
        return cls.from_dict(data)

    @classmethod
    def load(cls, path: str | Path) -> Replay:
        """Read a replay file (ValueError for a file that is not one)."""
        return cls.loads(Path(path).read_text(encoding="utf-8"))


def _is_int(value: Any) -> bool:
    return isinstance(value, int) and not isinstance(value, bool)


def _int(value: Any) -> int:
    if not _is_int(value):
        raise TypeError(f"int, not {value!r}")
    return int(value)


class Recorder:
    """A new game or match that keeps every move made through it: ``play`` (games) and ``step``
    (matches) are recorded; everything else is the wrapped object's (``recorder.game``)."""

    def __init__(self, state: Playable, players: Sequence[str] = ()) -> None:
        views: list[Game | MatchPlayer]
        if isinstance(state, Game):
            if state.turn != 0:
                raise ValueError("a recorder starts with a new game (turn 0)")
            kind, views = "game", [state]
        elif isinstance(state, Match):
            if state.frame != 0 or any(view.turn for view in state.players):
                raise ValueError("a recorder starts with a new match (frame 0)")
            kind, views = "match", list(state.players)
        else:
            raise TypeError(f"a recorder records a velmo_game.Game or Match, not {type(state).__name__}")
        # A match's seed is its sequences' seed; the check below catches a match made otherwise.
        first = views[0].sequence
        seed = first.seed if first.kind != "explicit" else 0
        colors = len(first.colors)
        sequences = [_sequence_record(view.sequence, seed, colors) for view in views]
        fields = [_field_record(view.field) for view in views]
        self.game = state
        self.replay = Replay(kind, seed, colors, state.visible,
                             rules=_settings(state.rules) if isinstance(state, Match) else None,
                             timing=_settings(state.timing) if isinstance(state, Match) else None,
                             sequences=None if all(s is None for s in sequences) else sequences,
                             fields=None if all(f is None for f in fields) else fields,
                             players=list(players))
        # The start must come back exactly, or the replay would record another game.
        if self.replay.start() != state:
            raise ValueError("this game or match cannot be recorded: its start is not one a replay rebuilds "
                             "(a match must be made with its seed)")

    def play(self, move: int) -> Any:
        result = self.game.play(move)  # type: ignore[union-attr]
        self.replay.moves.append(int(move))
        return result

    def step(self, moves: Mapping[int, int]) -> Any:
        result = self.game.step(moves)  # type: ignore[union-attr]
        self.replay.moves.append([moves.get(0), moves.get(1)])
        return result

    def __getattr__(self, name: str) -> Any:
        return getattr(self.game, name)

    def __repr__(self) -> str:
        return f"Recorder({self.game!r}, moves=<{len(self.replay.moves)}>)"


def record(state: Playable, players: Sequence[str] = ()) -> Recorder:
    """Wrap a new game or match in a :class:`Recorder`."""
    return Recorder(state, players)


def replays_from_selfplay(arrays: Mapping[str, Any]) -> list[Replay]:
    """The replays of the games or matches in self-play records (``velmo_game.selfplay.load``),
    which are played with the default settings from their seeds."""
    import numpy as np

    versus = "match" in arrays
    key = "match" if versus else "game"
    out = []
    for index in np.unique(arrays[key]):
        rows = np.flatnonzero(arrays[key] == index)
        seed = int(arrays["seed"][rows[0]])
        if not versus:
            out.append(Replay("game", seed, moves=[int(a) for a in arrays["action"][rows]]))
            continue
        replay = Replay("match", seed)
        match = Match(seed)
        replay.rules, replay.timing = _settings(match.rules), _settings(match.timing)
        decisions = iter(zip(arrays["player"][rows].tolist(), arrays["action"][rows].tolist()))
        while not match.is_over:
            step: MatchMoves = [None, None]
            for player in match.to_move():
                who, action = next(decisions)
                if who != player:
                    raise ValueError(f"self-play match {index}: the records do not follow the match")
                step[player] = int(action)
            match.step({p: m for p, m in enumerate(step) if m is not None})
            replay.moves.append(step)
        out.append(replay)
    return out


def progress_bar(total: int | None, progress: bool | None, *, unit: str, desc: str) -> Any:
    """A tqdm bar on standard error when it is a terminal (or when asked), if tqdm is there; else None."""
    if progress is False or (progress is None and not sys.stderr.isatty()):
        return None
    try:
        from tqdm import tqdm  # type: ignore[import-untyped, unused-ignore]
    except ImportError:
        return None
    return tqdm(total=total, unit=unit, desc=desc, file=sys.stderr)


# --- the command ---------------------------------------------------------------------------------


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="python -m velmo_game.replay",
        description="Turn a replay (or a game of a self-play file) into an animated GIF, an MP4 video or a "
                    "web page that plays it move by move and chain step by chain step.")
    parser.add_argument("file", metavar="FILE", help="a replay (.json) or self-play records (.npz, .parquet)")
    parser.add_argument("--index", type=int, default=0, help="with self-play records: which game or match (default 0)")
    add_output_arguments(parser)
    return parser


def add_output_arguments(parser: argparse.ArgumentParser) -> None:
    """The options that say what to write (shared with ``velmo_game.watch``)."""
    parser.add_argument("--html", metavar="OUT.html", help="write one self-contained web page")
    parser.add_argument("--gif", metavar="OUT.gif", help="write an animated GIF")
    parser.add_argument("--mp4", metavar="OUT.mp4", help="write an MP4 video (needs imageio-ffmpeg)")
    parser.add_argument("--json", metavar="OUT.json", help="write the replay itself")
    parser.add_argument("--cell", type=int, default=16, help="cell size in pixels (default 16)")
    parser.add_argument("--no-progress", action="store_true", help="no progress bar even on a terminal")


def check_output_arguments(parser: argparse.ArgumentParser, args: argparse.Namespace) -> None:
    if not (args.gif or args.mp4 or args.html or args.json):
        parser.error("nothing to write: give --html, --gif, --mp4 or --json")


def write_from_arguments(replay: Replay, args: argparse.Namespace, command: str) -> int:
    """Write what the output options ask, print the paths; the exit code (1 on a failure)."""
    try:
        written = write_outputs(replay, gif=args.gif, mp4=args.mp4, html=args.html, json_path=args.json,
                                cell=args.cell, progress=False if args.no_progress else None)
    except (OSError, ValueError, ImportError) as error:
        print(f"{command}: {error}", file=sys.stderr)
        return 1
    for path in written:
        print(path)
    return 0


def load_any(path: str, index: int = 0) -> Replay:
    """A replay file, or game ``index`` of a self-play file."""
    if Path(path).suffix in (".npz", ".parquet"):
        from velmo_game import selfplay

        replays = replays_from_selfplay(selfplay.load(path))
        if not 0 <= index < len(replays):
            raise ValueError(f"{path} holds {len(replays)} games; --index {index} is not one of them")
        return replays[index]
    return Replay.load(path)


def write_outputs(replay: Replay, *, gif: str | None = None, mp4: str | None = None, html: str | None = None,
                  json_path: str | None = None, cell: int = 16, progress: bool | None = None) -> list[str]:
    """Write the asked outputs of ``replay``; returns the paths written."""
    from velmo_game import animate

    written = []
    if json_path:
        replay.save(json_path)
        written.append(json_path)
    if gif or mp4 or html:
        clip = animate.Clip.of(replay, cell=cell, progress=progress)
        for path, writer in ((gif, clip.save_gif), (mp4, clip.save_mp4), (html, clip.save_html)):
            if path:
                writer(path)
                written.append(path)
    return written


def main(argv: Sequence[str] | None = None) -> int:
    parser = _parser()
    args = parser.parse_args(argv)
    check_output_arguments(parser, args)
    try:
        replay = load_any(args.file, args.index)
    except (OSError, ValueError, ImportError) as error:
        print(f"velmo_game.replay: {error}", file=sys.stderr)
        return 1
    return write_from_arguments(replay, args, "velmo_game.replay")


if __name__ == "__main__":
    sys.exit(main())
