"""Self-play data: seeded games played on any backend, written as (observation, action, outcome).

``generate(player, games, path, seed=..., backend=...)`` plays games exactly as
:func:`velmo_game.evaluate.run` does (same seeds, same chunks, same backends, so the same data on
every backend) and writes one record per move to ``path``: a Parquet file (``.parquet``, needs
pyarrow) or a NumPy archive (``.npz``). ``load(path)`` reads either into the same dict of arrays.

Columns (N moves, in game order then move order; V = visible next pairs, 2):

=================  ==========  ===========  ==================================================
name               dtype       shape        meaning
=================  ==========  ===========  ==================================================
``game``           int32       (N,)         index of the game in the run
``seed``           uint64      (N,)         the game's seed (``derive_seed(run seed, game)``)
``turn``           int32       (N,)         placements made before this one
``field``          uint8       (N, 14, 6)   ``Game.observation()[0]`` before the move
``pairs``          uint8       (N, 1+V, 2)  ``Game.observation()[1]`` before the move
``mask``           bool        (N, 22)      ``Game.action_mask()`` before the move
``action``         uint8       (N,)         the move played (index into ``Hand.enumerate()``)
``reward``         int64       (N,)         the score of this move
``chain``          uint8       (N,)         the chain this move fired
``return_to_go``   int64       (N,)         the score of this move and all later ones of the game
``final_score``    int64       (N,)         the game's final score
``game_over``      bool        (N,)         whether the game ended by topping out
=================  ==========  ===========  ==================================================

Matches. ``generate(player, matches, path, opponent=...)`` plays ``Match(derive_seed(seed, i))``
to its end instead, ``player`` as player 0 against ``opponent`` as player 1, seeded and chosen as
in ``evaluate.run(..., versus=True)``, and writes one record per decision of each player (rows in
match order, then by frame, player 0 before player 1 at a shared frame); the columns are
``MATCH_COLUMNS``:

====================  ==========  ===========  ===============================================
name                  dtype       shape        meaning
====================  ==========  ===========  ===============================================
``match``             int32       (N,)         index of the match in the run
``seed``              uint64      (N,)         the match's seed
``frame``             int32       (N,)         the match frame of the decision
``player``            uint8       (N,)         the deciding player, 0 or 1
``turn``              int32       (N,)         pairs that player placed before this one
``field``             uint8       (N, 14, 6)   ``Match.observation(player)["field"]``
``pairs``             uint8       (N, 1+V, 2)  its ``"pairs"``
``opponent_field``    uint8       (N, 14, 6)   its ``"opponent_field"``
``opponent_pairs``    uint8       (N, 1+V, 2)  its ``"opponent_pairs"``
``pending_ojama``     uint32      (N, 2)       its ``"pending_ojama"`` (against the player first)
``mask``              bool        (N, 22)      the player's ``action_mask()``
``action``            uint8       (N,)         the move played
``score``             int64       (N,)         the score of this move
``chain``             uint8       (N,)         the chain this move fired
``reward``            float32     (N,)         ``outcome`` on the player's last decision, else 0
``last``              bool        (N,)         whether this is the player's last decision
``outcome``           int8        (N,)         +1 the player won, -1 it lost, 0 a draw
``final_score``       int64       (N,)         the player's final score
``opponent_score``    int64       (N,)         the opponent's final score
``frames``            int32       (N,)         the match's length in frames
====================  ==========  ===========  ===============================================

In Parquet the multi-dimensional columns are fixed-size lists of their flattened rows (row
major: ``field`` is ``fixed_size_list<uint8>[84]``), and the file's metadata ``velmo.shapes``
gives each column's row shape as JSON.

Every file carries a header (Parquet: the metadata key ``velmo.format``; npz: the member
``__velmo__``, UTF-8 JSON) with the format version (``FORMAT_VERSION``), the kind of records
(``"games"`` or ``"matches"``), the number of rows and a SHA-256 checksum of the columns' content.
``load`` checks every column's name, dtype, row shape and length against the tables above and
the checksum against the content, and refuses anything else with :class:`RecordsFileError`.

Run ``python -m velmo_game.selfplay --help`` for the command line.
"""

from __future__ import annotations

import argparse
import hashlib
import json
import sys
import time
from collections.abc import Iterable, Mapping, Sequence
from pathlib import Path
from typing import Any

import numpy as np
import numpy.typing as npt

from velmo_game._native import Game, Match
from velmo_game.evaluate import (
    PlayerArg,
    ProgressArg,
    _chunks,
    _default_workers,
    _opponent_for,
    _player_for,
    _progress_reporter,
    _Task,
    add_run_arguments,
    choose_in_match,
    default_chunk_size,
    derive_seed,
    player_options,
    run_chunks,
)
from velmo_game.players import make_player

__all__ = ["COLUMNS", "FORMAT_VERSION", "MATCH_COLUMNS", "RecordsFileError", "generate", "load", "play_chunk", "save"]

Arrays = dict[str, npt.NDArray[Any]]

#: Column name -> (dtype, row shape), in file order.
COLUMNS: dict[str, tuple[str, tuple[int, ...]]] = {
    "game": ("int32", ()),
    "seed": ("uint64", ()),
    "turn": ("int32", ()),
    "field": ("uint8", (14, 6)),
    "pairs": ("uint8", (3, 2)),
    "mask": ("bool", (22,)),
    "action": ("uint8", ()),
    "reward": ("int64", ()),
    "chain": ("uint8", ()),
    "return_to_go": ("int64", ()),
    "final_score": ("int64", ()),
    "game_over": ("bool", ()),
}

#: The columns of match records: column name -> (dtype, row shape), in file order.
MATCH_COLUMNS: dict[str, tuple[str, tuple[int, ...]]] = {
    "match": ("int32", ()),
    "seed": ("uint64", ()),
    "frame": ("int32", ()),
    "player": ("uint8", ()),
    "turn": ("int32", ()),
    "field": ("uint8", (14, 6)),
    "pairs": ("uint8", (3, 2)),
    "opponent_field": ("uint8", (14, 6)),
    "opponent_pairs": ("uint8", (3, 2)),
    "pending_ojama": ("uint32", (2,)),
    "mask": ("bool", (22,)),
    "action": ("uint8", ()),
    "score": ("int64", ()),
    "chain": ("uint8", ()),
    "reward": ("float32", ()),
    "last": ("bool", ()),
    "outcome": ("int8", ()),
    "final_score": ("int64", ()),
    "opponent_score": ("int64", ()),
    "frames": ("int32", ()),
}

#: The version of the file layout that ``save`` writes and ``load`` reads.
FORMAT_VERSION = 2

_HEADER_MEMBER = "__velmo__"
_HEADER_KEY = b"velmo.format"


class RecordsFileError(ValueError):
    """A records file that ``load`` refuses: unreadable, damaged, of another format, or holding
    columns of the wrong name, dtype, shape or length. The message names the file."""


_OBSERVED = ("field", "pairs", "opponent_field", "opponent_pairs", "pending_ojama")


def _play_recorded(task: _Task, index: int) -> dict[str, list[Any]]:
    seed = derive_seed(task.run_seed, index)
    player = _player_for(task, seed)
    game = Game(seed)
    rows: dict[str, list[Any]] = {name: [] for name in COLUMNS}
    while not game.is_over and (task.moves is None or game.turn < task.moves):
        field, pairs = game.observation()
        rows["field"].append(field)
        rows["pairs"].append(pairs)
        rows["mask"].append(game.action_mask())
        rows["turn"].append(game.turn)
        move = player.choose(game)
        result = game.play(move)
        rows["action"].append(move)
        rows["reward"].append(result.score)
        rows["chain"].append(result.chain)
    n = len(rows["action"])
    rows["game"] = [index] * n
    rows["seed"] = [seed] * n
    rows["return_to_go"] = list(np.cumsum(np.asarray(rows["reward"][::-1], dtype=np.int64))[::-1])
    rows["final_score"] = [game.score] * n
    rows["game_over"] = [game.is_over] * n
    return rows


def _play_recorded_match(task: _Task, index: int) -> dict[str, list[Any]]:
    seed = derive_seed(task.run_seed, index)
    players = (_player_for(task, seed), _opponent_for(task, seed))
    match = Match(seed)
    rows: dict[str, list[Any]] = {name: [] for name in MATCH_COLUMNS}
    while not match.is_over:
        due = match.to_move()
        moves = {}
        for p in due:
            observation = match.observation(p)
            for name in _OBSERVED:
                rows[name].append(observation[name])
            rows["mask"].append(match.players[p].action_mask())
            rows["frame"].append(match.frame)
            rows["player"].append(p)
            rows["turn"].append(match.players[p].turn)
            moves[p] = choose_in_match(players[p], match, p)
        result = match.step(moves)
        for p in due:
            rows["action"].append(moves[p])
            rows["score"].append(result.players[p].score)
            rows["chain"].append(result.players[p].chain)
    n = len(rows["action"])
    who = np.asarray(rows["player"], dtype=np.int64)
    outcome = np.zeros(2, dtype=np.int64) if match.winner is None else np.where(np.arange(2) == match.winner, 1, -1)
    last = np.zeros(n, dtype=bool)
    for p in (0, 1):
        mine = np.flatnonzero(who == p)
        if len(mine):
            last[mine[-1]] = True
    scores = [view.score for view in match.players]
    rows["match"] = [index] * n
    rows["seed"] = [seed] * n
    rows["outcome"] = list(outcome[who])
    rows["reward"] = list(np.where(last, outcome[who], 0))
    rows["last"] = list(last)
    rows["final_score"] = [scores[p] for p in rows["player"]]
    rows["opponent_score"] = [scores[1 - p] for p in rows["player"]]
    rows["frames"] = [match.frame] * n
    return rows


def _as_arrays(rows: Mapping[str, list[Any]], columns: Mapping[str, tuple[str, tuple[int, ...]]]) -> Arrays:
    return {name: np.asarray(rows[name], dtype=dtype).reshape((-1, *shape)) for name, (dtype, shape) in columns.items()}


def play_chunk(task: _Task) -> Arrays:
    """The records of one chunk of games (matches for a versus task) as arrays (the task a worker runs)."""
    columns = MATCH_COLUMNS if task.versus else COLUMNS
    play = _play_recorded_match if task.versus else _play_recorded
    merged: dict[str, list[Any]] = {name: [] for name in columns}
    for index in range(task.start, task.stop):
        for name, values in play(task, index).items():
            merged[name].extend(values)
    return _as_arrays(merged, columns)


def _concatenate(chunks: Sequence[Arrays], columns: Mapping[str, tuple[str, tuple[int, ...]]]) -> Arrays:
    if not chunks:
        return _as_arrays({name: [] for name in columns}, columns)
    return {name: np.concatenate([chunk[name] for chunk in chunks]) for name in columns}


def _columns_of(names: Iterable[str]) -> dict[str, tuple[str, tuple[int, ...]]]:
    """The column table of records holding the columns ``names`` (match records have ``player``)."""
    return MATCH_COLUMNS if "player" in set(names) else COLUMNS


def generate(player: PlayerArg, games: int, path: str | Path | None = None, *, seed: int = 0,
             backend: str = "serial", address: str | None = None, chunk_size: int | None = None,
             workers: int | None = None, moves: int | None = 54, opponent: PlayerArg | None = None,
             player_options: Mapping[str, Any] | None = None, progress: ProgressArg = False) -> Arrays:
    """Play ``games`` seeded games with ``player`` on ``backend``; write the records to ``path``.

    The arguments are those of :func:`velmo_game.evaluate.run`. ``path`` ends in ``.parquet`` or
    ``.npz`` (``None`` writes nothing). Returns the columns as arrays (see the module's tables).
    Workers send their chunk's arrays back; this process writes the one file, so a cluster
    needs no shared file system.

    With ``opponent`` (a player argument as ``player``: a name, a factory or a player object;
    pass the same one for self-play proper) game ``i`` is instead ``Match(derive_seed(seed, i))``
    played to its end, ``player`` as player 0 against ``opponent`` as player 1, exactly as
    ``run(..., versus=True, opponent=opponent)`` plays it (``moves`` is not used), and the
    records are those of ``MATCH_COLUMNS``: one per decision of either player.

    Raises ``ValueError`` for a bad count, path, seed, backend or option.
    """
    if not isinstance(games, int) or games < 0:
        raise ValueError(f"games must be a non-negative int, not {games!r}")
    if path is not None and Path(path).suffix not in (".parquet", ".npz"):
        raise ValueError(f"path must end in .parquet or .npz, not {str(path)!r}")
    if not isinstance(seed, int) or not 0 <= seed < 2**64:
        raise ValueError(f"seed must be in 0..2**64-1, not {seed!r}")
    if chunk_size is not None and chunk_size < 1:
        raise ValueError(f"chunk_size must be at least 1, not {chunk_size}")
    if moves is not None and moves < 0:
        raise ValueError(f"moves must be non-negative or None, not {moves}")
    for spec, options in ((player, player_options or {}), (opponent, {})):
        if isinstance(spec, str):
            make_player(spec, **dict(options))  # a bad name or option fails here, not on a worker
    versus = opponent is not None
    columns = MATCH_COLUMNS if versus else COLUMNS
    size = chunk_size or default_chunk_size(games, workers or _default_workers())
    tasks = [_Task(player, dict(player_options or {}), seed, start, stop, moves, versus,
                   opponent if opponent is not None else "random")
             for start, stop in _chunks(games, size)]
    advance, close = _progress_reporter(progress, games)
    try:
        chunks = run_chunks(play_chunk, tasks, backend=backend, address=address, workers=workers,
                            advance=lambda arrays: advance(len(np.unique(arrays["match" if versus else "game"]))))
    finally:
        close()
    arrays = _concatenate(chunks, columns)
    if path is not None:
        save(arrays, path)
    return arrays


def _kind_of(table: Mapping[str, tuple[str, tuple[int, ...]]]) -> str:
    return "matches" if table is MATCH_COLUMNS else "games"


def _checksum(arrays: Mapping[str, npt.NDArray[Any]], table: Mapping[str, tuple[str, tuple[int, ...]]]) -> str:
    """SHA-256 over every column in file order: its name, dtype and shape, then its bytes."""
    digest = hashlib.sha256()
    for name, (dtype, _) in table.items():
        values = np.ascontiguousarray(arrays[name], dtype=dtype)
        digest.update(f"{name}:{values.dtype.str}:{values.shape};".encode())
        digest.update(values.reshape(-1).view(np.uint8).data)
    return digest.hexdigest()


def save(arrays: Mapping[str, npt.NDArray[Any]], path: str | Path) -> None:
    """Write game or match records (the columns of ``COLUMNS`` or ``MATCH_COLUMNS``) to a
    ``.parquet`` or ``.npz`` file, with its header (format version, kind, rows, checksum)."""
    path = Path(path)
    table_of = _columns_of(arrays)
    missing = [name for name in table_of if name not in arrays]
    if missing:
        raise ValueError(f"the records lack the columns {', '.join(missing)}")
    typed = {name: np.asarray(arrays[name], dtype=dtype) for name, (dtype, _) in table_of.items()}
    header = json.dumps({"format": FORMAT_VERSION, "kind": _kind_of(table_of), "rows": len(typed["action"]),
                         "sha256": _checksum(typed, table_of)})
    if path.suffix == ".npz":
        named: dict[str, Any] = {**typed, _HEADER_MEMBER: np.frombuffer(header.encode(), dtype=np.uint8)}
        np.savez_compressed(path, **named)
        return
    import pyarrow as pa  # type: ignore[import-untyped, unused-ignore]
    import pyarrow.parquet as pq  # type: ignore[import-untyped, unused-ignore]

    columns = {}
    for name, (_, shape) in table_of.items():
        values = typed[name]
        if shape:
            width = int(np.prod(shape))
            flat = pa.array(np.ascontiguousarray(values).reshape(-1))
            columns[name] = pa.FixedSizeListArray.from_arrays(flat, width)
        else:
            columns[name] = pa.array(values)
    table = pa.table(columns)
    shapes = json.dumps({name: list(shape) for name, (_, shape) in table_of.items()})
    pq.write_table(table.replace_schema_metadata({"velmo.shapes": shapes, _HEADER_KEY: header}), path)


def _read_npz(path: Path) -> tuple[Arrays, bytes | None]:
    with np.load(path, allow_pickle=False) as archive:
        arrays = {name: archive[name] for name in archive.files if name != _HEADER_MEMBER}
        header = archive[_HEADER_MEMBER].tobytes() if _HEADER_MEMBER in archive.files else None
    return arrays, header


def _read_parquet(path: Path) -> tuple[Arrays, bytes | None]:
    import pyarrow as pa  # type: ignore[import-untyped, unused-ignore]
    import pyarrow.parquet as pq  # type: ignore[import-untyped, unused-ignore]

    table = pq.read_table(path)
    header = (table.schema.metadata or {}).get(_HEADER_KEY)
    arrays: Arrays = {}
    for name in table.column_names:
        column = table.column(name).combine_chunks()
        if column.null_count:
            raise RecordsFileError(f"{path}: column {name!r} has missing values")
        if pa.types.is_fixed_size_list(column.type):
            # The values of the rows only: a sliced or offset array holds others around them.
            flat = column.flatten().to_numpy(zero_copy_only=False)
            arrays[name] = flat.reshape(len(column), column.type.list_size)
        else:
            arrays[name] = column.to_numpy(zero_copy_only=False)
    return arrays, header


def _parse_header(path: Path, header: bytes | None) -> dict[str, Any]:
    if header is None:
        raise RecordsFileError(f"{path}: no velmo records header (not written by selfplay.save of format {FORMAT_VERSION})")
    parsed = json.loads(header.decode())
    if not isinstance(parsed, dict) or parsed.get("format") != FORMAT_VERSION:
        raise RecordsFileError(f"{path}: format {parsed.get('format') if isinstance(parsed, dict) else parsed!r}, "
                               f"this version reads format {FORMAT_VERSION}")
    if parsed.get("kind") not in ("games", "matches") or type(parsed.get("rows")) is not int \
            or not isinstance(parsed.get("sha256"), str):
        raise RecordsFileError(f"{path}: a malformed header {header.decode()!r}")
    return parsed


def _checked(path: Path, arrays: Arrays, header: dict[str, Any]) -> Arrays:
    """The columns in file order, shaped, once every dtype, shape, length and the checksum hold."""
    table_of = MATCH_COLUMNS if header["kind"] == "matches" else COLUMNS
    rows = header["rows"]
    missing = [name for name in table_of if name not in arrays]
    unexpected = [name for name in arrays if name not in table_of]
    if missing or unexpected:
        raise RecordsFileError(f"{path}: {header['kind']} records must have the columns {', '.join(table_of)}; "
                               f"missing {missing}, unexpected {unexpected}")
    checked: Arrays = {}
    for name, (dtype, shape) in table_of.items():
        values = arrays[name]
        if values.dtype != np.dtype(dtype):
            raise RecordsFileError(f"{path}: column {name!r} has dtype {values.dtype}, not {dtype}")
        width = int(np.prod(shape)) if shape else None
        flat_shape = (rows,) if width is None else (rows, width)
        if values.shape not in (flat_shape, (rows, *shape)):
            raise RecordsFileError(f"{path}: column {name!r} has shape {values.shape}, not {(rows, *shape)}")
        checked[name] = values.reshape((rows, *shape))
    if _checksum(checked, table_of) != header["sha256"]:
        raise RecordsFileError(f"{path}: the content does not match its checksum (the file is damaged)")
    return checked


def load(path: str | Path) -> Arrays:
    """Read a file written by :func:`generate` or :func:`save` (game or match records) into its
    columns, with their dtypes and shapes.

    Raises :class:`RecordsFileError` (a ``ValueError``) naming the file for anything that is not
    such a file, intact: damage, truncation, another format, a column of the wrong name, dtype,
    shape or length, content that does not match the checksum. ``OSError`` when the file cannot
    be opened.
    """
    path = Path(path)
    if path.suffix not in (".npz", ".parquet"):
        raise RecordsFileError(f"{path}: a records file ends in .parquet or .npz")
    with open(path, "rb"):
        pass  # a missing or unreadable file is the OSError it is, not damage
    try:
        arrays, header = _read_npz(path) if path.suffix == ".npz" else _read_parquet(path)
        return _checked(path, arrays, _parse_header(path, header))
    except RecordsFileError:
        raise
    except (ImportError, MemoryError):
        raise
    except Exception as error:  # every reader's own report of a damaged file
        raise RecordsFileError(f"{path}: unreadable ({type(error).__name__}: {error})") from error


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="python -m velmo_game.selfplay",
        description="Play seeded one-player games (or, with --opponent, matches) and write their records.")
    parser.add_argument("path", metavar="FILE", help="the records' file: FILE.parquet (needs pyarrow) or FILE.npz")
    add_run_arguments(parser)
    parser.add_argument("--opponent", choices=("random", "greedy", "beam"),
                        help="play matches against this opponent (default: one-player games)")
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    """The command line; returns the exit status."""
    args = _parser().parse_args(argv)
    started = time.perf_counter()
    try:
        arrays = generate(args.player, args.games, args.path, seed=args.seed, backend=args.backend,
                          address=args.address, chunk_size=args.chunk_size, workers=args.workers,
                          moves=args.moves or None, opponent=args.opponent, player_options=player_options(args),
                          progress=False if args.no_progress else None)
    except (ValueError, TypeError, ImportError) as error:
        print(f"error: {error}", file=sys.stderr)
        return 2
    kind = "matches" if args.opponent is not None else "games"
    print(f"wrote {len(arrays['action'])} records of {args.games} {kind} to {args.path} "
          f"in {time.perf_counter() - started:.2f} s")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
