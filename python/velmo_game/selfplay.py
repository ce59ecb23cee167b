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

In Parquet the multi-dimensional columns are fixed-size lists of their flattened rows (row
major: ``field`` is ``fixed_size_list<uint8>[84]``), and the file's metadata ``velmo.shapes``
gives each column's row shape as JSON; ``load`` restores the shapes.
"""

from __future__ import annotations

import json
from collections.abc import Mapping, Sequence
from pathlib import Path
from typing import Any

import numpy as np
import numpy.typing as npt

from velmo_game._native import Game
from velmo_game.evaluate import (
    PlayerArg,
    _chunks,
    _default_workers,
    _player_for,
    _Task,
    default_chunk_size,
    derive_seed,
    run_chunks,
)

__all__ = ["COLUMNS", "generate", "load", "play_chunk"]

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


def play_chunk(task: _Task) -> Arrays:
    """The records of one chunk of games as arrays (the task a worker runs)."""
    merged: dict[str, list[Any]] = {name: [] for name in COLUMNS}
    for index in range(task.start, task.stop):
        for name, values in _play_recorded(task, index).items():
            merged[name].extend(values)
    return {name: np.asarray(merged[name], dtype=dtype).reshape((-1, *shape))
            for name, (dtype, shape) in COLUMNS.items()}


def _concatenate(chunks: Sequence[Arrays]) -> Arrays:
    if not chunks:
        return {name: np.zeros((0, *shape), dtype=dtype) for name, (dtype, shape) in COLUMNS.items()}
    return {name: np.concatenate([chunk[name] for chunk in chunks]) for name in COLUMNS}


def generate(player: PlayerArg, games: int, path: str | Path | None = None, *, seed: int = 0,
             backend: str = "serial", address: str | None = None, chunk_size: int | None = None,
             workers: int | None = None, moves: int | None = 54, opponent: PlayerArg | None = None,
             player_options: Mapping[str, Any] | None = None) -> Arrays:
    """Play ``games`` seeded games with ``player`` on ``backend``; write the records to ``path``.

    The arguments are those of :func:`velmo_game.evaluate.run`. ``path`` ends in ``.parquet`` or
    ``.npz`` (``None`` writes nothing). Returns the columns as arrays (see the module's table).
    Workers send their chunk's arrays back; this process writes the one file, so a cluster
    needs no shared file system. Matches between two players (``opponent=``) are not built yet.
    """
    if opponent is not None:
        raise NotImplementedError("self-play matches need velmo_game.Match, which this build lacks")
    if not isinstance(games, int) or games < 0:
        raise ValueError(f"games must be a non-negative int, not {games!r}")
    if path is not None and Path(path).suffix not in (".parquet", ".npz"):
        raise ValueError(f"path must end in .parquet or .npz, not {str(path)!r}")
    size = chunk_size or default_chunk_size(games, workers or _default_workers())
    tasks = [_Task(player, dict(player_options or {}), seed, start, stop, moves)
             for start, stop in _chunks(games, size)]
    arrays = _concatenate(run_chunks(play_chunk, tasks, backend=backend, address=address, workers=workers))
    if path is not None:
        save(arrays, path)
    return arrays


def save(arrays: Arrays, path: str | Path) -> None:
    """Write the columns to a ``.parquet`` or ``.npz`` file."""
    path = Path(path)
    if path.suffix == ".npz":
        named: dict[str, Any] = dict(arrays)
        np.savez_compressed(path, **named)
        return
    import pyarrow as pa  # type: ignore[import-untyped, unused-ignore]
    import pyarrow.parquet as pq  # type: ignore[import-untyped, unused-ignore]

    columns = {}
    for name, (_, shape) in COLUMNS.items():
        values = arrays[name]
        if shape:
            width = int(np.prod(shape))
            flat = pa.array(np.ascontiguousarray(values).reshape(-1))
            columns[name] = pa.FixedSizeListArray.from_arrays(flat, width)
        else:
            columns[name] = pa.array(values)
    table = pa.table(columns)
    shapes = json.dumps({name: list(shape) for name, (_, shape) in COLUMNS.items()})
    pq.write_table(table.replace_schema_metadata({"velmo.shapes": shapes}), path)


def load(path: str | Path) -> Arrays:
    """Read a file written by :func:`generate` into its columns, with their dtypes and shapes."""
    path = Path(path)
    if path.suffix == ".npz":
        with np.load(path) as archive:
            return {name: archive[name] for name in COLUMNS}
    import pyarrow.parquet as pq  # type: ignore[import-untyped, unused-ignore]

    table = pq.read_table(path)
    metadata = table.schema.metadata or {}
    shapes = json.loads(metadata.get(b"velmo.shapes", b"{}"))
    arrays: Arrays = {}
    for name, (dtype, _) in COLUMNS.items():
        column = table.column(name).combine_chunks()
        shape = tuple(shapes.get(name, []))
        if shape:
            flat = column.values.to_numpy(zero_copy_only=False)
            arrays[name] = flat.astype(dtype, copy=False).reshape((-1, *shape))
        else:
            arrays[name] = column.to_numpy(zero_copy_only=False).astype(dtype, copy=False)
    return arrays
