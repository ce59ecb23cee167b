"""Evaluate a player over many seeded one-player games, serially or on a cluster engine.

``run(player, games, seed=..., backend=...)`` plays ``games`` games and returns an
:class:`Evaluation`: one :class:`GameRecord` per game, in seed order, and a :class:`Summary`.

Seeds. Game ``i`` of a run seeded ``seed`` plays the pair sequence ``derive_seed(seed, i)``, and
its player is built for the seed ``derive_seed(derive_seed(seed, i), 0)``. ``derive_seed`` is the
core's derivation (SplitMix64's mixing of ``seed + golden_gamma * (index + 1)``), so a game's
result depends only on the run seed and its index: not on the backend, the chunk size or the
number of workers.

Backends. The games are split in chunks of ``chunk_size`` consecutive games; a task plays one
chunk. ``serial`` plays them in this process, ``processes`` on a ``ProcessPoolExecutor``,
``dask`` on a ``distributed.Client`` (joining the scheduler at ``address``, else on a
``LocalCluster`` of worker processes started for the run), ``ray`` as Ray tasks (the running Ray
connection if there is one, else ``ray.init(address=address)`` or a local ``ray.init``).

Run ``python -m velmo_game.evaluate --help`` for the command line.
"""

from __future__ import annotations

import argparse
import copy
import json
import math
import statistics
import sys
import time
from collections import Counter
from collections.abc import Callable, Mapping, Sequence
from dataclasses import asdict, dataclass, field
from pathlib import Path
from typing import Any, Union

from velmo_game._native import Game, Match
from velmo_game.players import Player, SplitMix64, make_player
from velmo_game.replay import Recorder

__all__ = [
    "BACKENDS",
    "Evaluation",
    "GameRecord",
    "Summary",
    "derive_seed",
    "main",
    "run",
    "run_chunks",
]

BACKENDS = ("serial", "processes", "dask", "ray")
_GOLDEN_GAMMA = 0x9E3779B97F4A7C15
_MASK64 = (1 << 64) - 1
#: Scores whose share of games the summary reports by default.
DEFAULT_THRESHOLDS = (10_000, 40_000, 80_000)

#: A player given to :func:`run`: a name for ``make_player`` (seeded per game), a factory called
#: with each game's player seed, or a player object (copied afresh for every game).
PlayerArg = Union[str, Player, Callable[[int], Player]]


def derive_seed(seed: int, index: int) -> int:
    """The seed of item ``index`` of a family seeded ``seed``, as the core derives it.

    ``mix64(seed + 0x9E3779B97F4A7C15 * (index + 1))`` modulo 2**64, where ``mix64`` is
    SplitMix64's output function: ``derive_seed(0, 0) == 0xE220A8397B1DCDAF``.
    """
    if seed < 0 or index < 0:
        raise ValueError(f"seed and index must not be negative, got {seed} and {index}")
    return SplitMix64((seed + _GOLDEN_GAMMA * index) & _MASK64).next()


@dataclass(frozen=True)
class GameRecord:
    """The outcome of one game: ``index`` in the run, its ``seed``, the total ``score``, the
    longest ``max_chain`` and the best single move's ``best_chain_score``, the ``moves`` played,
    and whether it ended ``game_over`` (topped out) rather than at the move limit."""

    index: int
    seed: int
    score: int
    max_chain: int
    best_chain_score: int
    moves: int
    game_over: bool
    #: Versus runs only: the winner (0 is the evaluated player, None a draw), the match's length
    #: in frames and the opponent's score.
    winner: int | None = None
    frames: int = 0
    opponent_score: int = 0


@dataclass(frozen=True)
class Summary:
    """Figures over the games of a run. ``chain_histogram[n]`` counts games whose longest chain
    was ``n``; ``reaching[t]`` is the share of games scoring at least ``t`` in total and
    ``best_chain_reaching[t]`` the share whose best move scored at least ``t``."""

    games: int
    moves: int
    mean_score: float
    median_score: float
    median_best_chain_score: float
    chain_histogram: dict[int, int]
    reaching: dict[int, float]
    best_chain_reaching: dict[int, float]
    seconds: float
    moves_per_second: float
    #: Versus runs only: matches won, drawn and lost by the evaluated player.
    wins: int = 0
    draws: int = 0
    losses: int = 0


@dataclass(frozen=True)
class Evaluation:
    """The records of every game, in seed order, and their summary."""

    records: list[GameRecord]
    summary: Summary
    backend: str
    chunk_size: int
    versus: bool = False

    def to_dict(self) -> dict[str, Any]:
        """Plain values for JSON: a one-player run's records and summary leave out the fields that
        only matches fill."""
        summary, records = asdict(self.summary), [asdict(record) for record in self.records]
        if not self.versus:
            for name in _VERSUS_SUMMARY:
                del summary[name]
            for record in records:
                for name in _VERSUS_RECORD:
                    del record[name]
        return {"kind": "match" if self.versus else "game", "backend": self.backend, "chunk_size": self.chunk_size,
                "summary": summary, "records": records}


# The fields of records and summaries that only versus runs fill.
_VERSUS_RECORD = ("winner", "frames", "opponent_score")
_VERSUS_SUMMARY = ("wins", "draws", "losses")


@dataclass(frozen=True)
class _Task:
    """One chunk of games, picklable: what a worker needs and nothing more."""

    player: PlayerArg
    player_options: Mapping[str, Any]
    run_seed: int
    start: int
    stop: int
    moves: int | None
    versus: bool = False
    opponent: PlayerArg = "random"
    replays: str | None = None


def _build_player(spec: PlayerArg, options: Mapping[str, Any], player_seed: int) -> Player:
    if isinstance(spec, str):
        options = dict(options)
        if spec in ("random", "beam"):
            options.setdefault("seed", player_seed)
        return make_player(spec, **options)
    if hasattr(spec, "choose"):
        return copy.deepcopy(spec)  # every game sees the player as it was given
    made: Player = spec(player_seed)
    return made


def _player_for(task: _Task, game_seed: int) -> Player:
    return _build_player(task.player, task.player_options, derive_seed(game_seed, 0))


def _opponent_for(task: _Task, game_seed: int) -> Player:
    return _build_player(task.opponent, {}, derive_seed(game_seed, 1))


def game_view(match: Match, player: int) -> Game:
    """A one-player game standing where ``player`` of ``match`` stands: its field, its current
    pair and the next pairs it can see (repeating beyond them), so that any one-player player can
    choose that player's move."""
    view = match.players[player]
    return Game(field=view.field, sequence=[view.current_pair, *view.next_pairs], visible=len(view.next_pairs))


def choose_in_match(player: Player, match: Match, index: int) -> int:
    """``player.choose_match(match, index)`` if the player has it, else its choice in :func:`game_view`."""
    chooser = getattr(player, "choose_match", None)
    if callable(chooser):
        return int(chooser(match, index))
    return player.choose(game_view(match, index))


def play_match(player: Player, opponent: Player, seed: int, index: int = 0, replay: str | Path | None = None) -> GameRecord:
    """Play ``Match(seed)`` to its end, ``player`` as player 0 against ``opponent``; the record
    counts player 0's moves and chains. With ``replay``, the match's replay is written there."""
    match = Match(seed)
    recorder = Recorder(match, [_name(player), _name(opponent)]) if replay is not None else None
    played = max_chain = best = 0
    while not match.is_over:
        moves = {p: choose_in_match(player if p == 0 else opponent, match, p) for p in match.to_move()}
        result = recorder.step(moves) if recorder is not None else match.step(moves)
        events = result.players[0]
        if 0 in moves:
            played += 1
        max_chain = max(max_chain, events.chain)
        best = max(best, events.score)
    if recorder is not None and replay is not None:
        recorder.replay.save(replay)
    me, them = match.players
    return GameRecord(index, seed, me.score, max_chain, best, played, me.lost, match.winner, match.frame, them.score)


def play_game(player: Player, seed: int, index: int = 0, moves: int | None = 54, replay: str | Path | None = None) -> GameRecord:
    """Play one game of ``Game(seed)`` with ``player`` for ``moves`` moves (``None``: until over).
    With ``replay``, the game's replay is written there."""
    game = Game(seed)
    recorder = Recorder(game, [_name(player)]) if replay is not None else None
    played = max_chain = best = 0
    while not game.is_over and (moves is None or played < moves):
        move = player.choose(game)
        result = recorder.play(move) if recorder is not None else game.play(move)
        played += 1
        max_chain = max(max_chain, result.chain)
        best = max(best, result.score)
    if recorder is not None and replay is not None:
        recorder.replay.save(replay)
    return GameRecord(index, seed, game.score, max_chain, best, played, game.is_over)


def _name(player: Player) -> str:
    return type(player).__name__


def replay_path(folder: str | Path, index: int) -> Path:
    """Where ``run(..., replays=folder)`` writes the replay of game ``index``."""
    return Path(folder) / f"game-{index:06d}.json"


def _play_chunk(task: _Task) -> list[GameRecord]:
    records = []
    for index in range(task.start, task.stop):
        seed = derive_seed(task.run_seed, index)
        replay = None if task.replays is None else replay_path(task.replays, index)
        if task.versus:
            records.append(play_match(_player_for(task, seed), _opponent_for(task, seed), seed, index, replay))
        else:
            records.append(play_game(_player_for(task, seed), seed, index, task.moves, replay))
    return records


def summarize(records: Sequence[GameRecord], seconds: float,
              thresholds: Sequence[int] = DEFAULT_THRESHOLDS) -> Summary:
    """The :class:`Summary` of ``records`` played in ``seconds``."""
    games = len(records)
    scores = [r.score for r in records]
    moves = sum(r.moves for r in records)

    def share(values: list[int], threshold: int) -> float:
        return sum(v >= threshold for v in values) / games if games else 0.0

    best = [r.best_chain_score for r in records]
    return Summary(
        games=games,
        moves=moves,
        mean_score=statistics.fmean(scores) if games else 0.0,
        median_score=float(statistics.median(scores)) if games else 0.0,
        median_best_chain_score=float(statistics.median(best)) if games else 0.0,
        chain_histogram=dict(sorted(Counter(r.max_chain for r in records).items())),
        reaching={t: share(scores, t) for t in thresholds},
        best_chain_reaching={t: share(best, t) for t in thresholds},
        seconds=seconds,
        moves_per_second=moves / seconds if seconds > 0 else math.inf,
        wins=sum(r.winner == 0 for r in records),
        draws=sum(r.winner is None and r.frames > 0 for r in records),
        losses=sum(r.winner == 1 for r in records),
    )


def _chunks(games: int, chunk_size: int) -> list[tuple[int, int]]:
    return [(start, min(start + chunk_size, games)) for start in range(0, games, chunk_size)]


def default_chunk_size(games: int, workers: int) -> int:
    """Four chunks per worker (a slow chunk then holds up the end little), at least one game."""
    return max(1, math.ceil(games / (4 * max(1, workers))))


def _default_workers() -> int:
    import os

    return len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else (os.cpu_count() or 1)


ProgressArg = Union[bool, None, Callable[[int, int], None]]


def _progress_reporter(progress: ProgressArg, total: int) -> tuple[Callable[[int], None], Callable[[], None]]:
    """``(advance(games), close())``; a tqdm bar when asked, or by default on a terminal."""
    if callable(progress):
        done = [0]
        callback = progress

        def advance_callback(n: int) -> None:
            done[0] += n
            callback(done[0], total)

        return advance_callback, lambda: None
    if progress is None:
        progress = sys.stderr.isatty()
    if progress:
        try:
            from tqdm import tqdm  # type: ignore[import-untyped, unused-ignore]
        except ImportError:
            progress = False
        else:
            bar = tqdm(total=total, unit="game", file=sys.stderr)
            return bar.update, bar.close
    return (lambda n: None), (lambda: None)


def run_chunks(function: Callable[[Any], Any], tasks: Sequence[Any], *, backend: str = "serial",
               address: str | None = None, workers: int | None = None,
               advance: Callable[[Any], None] = lambda result: None) -> list[Any]:
    """``[function(task) for task in tasks]`` on ``backend``, in task order.

    ``function`` must be a top-level function of an importable module (worker processes import
    it). ``advance(result)`` is called in this process as each result arrives, in any order.
    """
    if backend not in BACKENDS:
        raise ValueError(f"unknown backend {backend!r}; expected one of {', '.join(BACKENDS)}")
    if address is not None and backend not in ("dask", "ray"):
        raise ValueError(f"address= joins a Dask or Ray cluster; the {backend} backend takes none")
    if workers is not None and workers < 1:
        raise ValueError(f"workers must be at least 1, not {workers}")
    if backend == "serial":
        results = []
        for task in tasks:
            results.append(function(task))
            advance(results[-1])
        return results
    if backend == "processes":
        return _on_processes(function, tasks, workers, advance)
    if backend == "dask":
        return _on_dask(function, tasks, address, workers, advance)
    return _on_ray(function, tasks, address, workers, advance)


def _on_processes(function: Callable[[Any], Any], tasks: Sequence[Any], workers: int | None,
                  advance: Callable[[Any], None]) -> list[Any]:
    from concurrent.futures import ProcessPoolExecutor, as_completed

    with ProcessPoolExecutor(max_workers=workers or _default_workers()) as executor:
        futures = [executor.submit(function, task) for task in tasks]
        for future in as_completed(futures):
            advance(future.result())
        return [future.result() for future in futures]


def _on_dask(function: Callable[[Any], Any], tasks: Sequence[Any], address: str | None,
             workers: int | None, advance: Callable[[Any], None]) -> list[Any]:
    from distributed import Client, LocalCluster, as_completed

    cluster = None
    if address is None:
        cluster = LocalCluster(  # type: ignore[no-untyped-call, unused-ignore]
            n_workers=workers or _default_workers(), threads_per_worker=1, processes=True, dashboard_address=":0")
        address = cluster.scheduler_address
    try:
        with Client(address) as client:  # type: ignore[no-untyped-call, unused-ignore]
            # pure=False: every chunk is its own task, never merged with an equal-looking one.
            futures = [client.submit(function, task, pure=False) for task in tasks]
            for future in as_completed(futures):  # type: ignore[no-untyped-call, unused-ignore]
                advance(future.result())
            return list(client.gather(futures))
    finally:
        if cluster is not None:
            cluster.close()


def _on_ray(function: Callable[[Any], Any], tasks: Sequence[Any], address: str | None,
            workers: int | None, advance: Callable[[Any], None]) -> list[Any]:
    import ray

    started = not ray.is_initialized()
    if started:
        if address is not None:
            ray.init(address=address, log_to_driver=False)
        else:
            ray.init(num_cpus=workers or _default_workers(), include_dashboard=False, log_to_driver=False)
    try:
        remote = ray.remote(function)
        pending = [remote.remote(task) for task in tasks]
        waiting = list(pending)
        while waiting:
            ready, waiting = ray.wait(waiting, num_returns=1)
            advance(ray.get(ready[0]))
        return list(ray.get(pending))
    finally:
        if started:
            ray.shutdown()


def run(player: PlayerArg, games: int, *, seed: int = 0, backend: str = "serial",
        address: str | None = None, chunk_size: int | None = None, workers: int | None = None,
        versus: bool = False, opponent: PlayerArg | None = None, moves: int | None = 54,
        player_options: Mapping[str, Any] | None = None, thresholds: Sequence[int] = DEFAULT_THRESHOLDS,
        progress: ProgressArg = None, replays: str | Path | None = None) -> Evaluation:
    """Play ``games`` seeded one-player games (or, with ``versus``, matches) with ``player`` and
    summarize them.

    ``player`` is a name (``'random'``, ``'greedy'``, ``'beam'``; ``player_options`` go to
    ``make_player``, and the seeded ones get each game's player seed unless ``seed`` is among the
    options), a factory ``f(player_seed) -> Player``, or a player object, deep-copied for every
    game so that each game starts from the same player. On the ``processes`` backend a factory
    must be picklable (a top-level function or a ``functools.partial`` of one).

    ``moves`` caps the placements of a game (54 by default, the usual strength figure);
    ``None`` plays every game until it is over. ``chunk_size`` defaults to
    :func:`default_chunk_size` of ``games`` and the worker count (``workers``, by default this
    machine's cores; on a joined cluster it only sets the chunks). ``progress``: ``None`` shows a
    tqdm bar when standard error is a terminal, ``True``/``False`` force it on or off, and a
    callable is called with ``(games done, games)``.

    With ``versus=True`` game ``i`` is ``Match(derive_seed(seed, i))`` played to its end (the
    rules' frame limit ends long ones; ``moves`` is not used), ``player`` as player 0 against
    ``opponent`` (a player argument as ``player``, seeded with ``derive_seed(game seed, 1)``;
    ``"random"`` by default). A player with ``choose_match(match, index)`` uses it; any other
    chooses in :func:`game_view`. The records then carry the winner, frames and opponent's score,
    and the summary the wins, draws and losses.

    ``replays`` names a folder (made if missing) that receives every game's replay as
    ``game-000012.json`` (see ``velmo_game.replay``); with workers on other machines it must be a
    folder they all share.

    Raises ``ValueError`` for a bad count, backend or option.
    """
    if opponent is not None and not versus:
        raise ValueError("opponent= is for versus runs: pass versus=True")
    if not isinstance(games, int) or games < 0:
        raise ValueError(f"games must be a non-negative int, not {games!r}")
    if moves is not None and moves < 0:
        raise ValueError(f"moves must be non-negative or None, not {moves}")
    if not 0 <= seed <= _MASK64:
        raise ValueError(f"seed must be in 0..2**64-1, not {seed}")
    if chunk_size is not None and chunk_size < 1:
        raise ValueError(f"chunk_size must be at least 1, not {chunk_size}")
    if isinstance(player, str):
        make_player(player, **dict(player_options or {}))  # a bad name or option fails here, not on a worker
    size = chunk_size or default_chunk_size(games, workers or _default_workers())
    if replays is not None:
        Path(replays).mkdir(parents=True, exist_ok=True)
    tasks = [_Task(player, dict(player_options or {}), seed, start, stop, moves, versus,
                   opponent if opponent is not None else "random", None if replays is None else str(replays))
             for start, stop in _chunks(games, size)]
    advance, close = _progress_reporter(progress, games)
    started = time.perf_counter()
    try:
        chunks = run_chunks(_play_chunk, tasks, backend=backend, address=address, workers=workers,
                            advance=lambda records: advance(len(records)))
    finally:
        close()
    seconds = time.perf_counter() - started
    records = [record for chunk in chunks for record in chunk]
    return Evaluation(records, summarize(records, seconds, thresholds), backend, size, versus)


# ---------------------------------------------------------------------------------------------
# Command line
# ---------------------------------------------------------------------------------------------


def add_run_arguments(parser: argparse.ArgumentParser) -> None:
    """The options every command that plays a run takes: games, player, seeds and backend."""
    parser.add_argument("--games", type=int, default=100, help="number of games (default 100)")
    parser.add_argument("--player", choices=("random", "greedy", "beam"), default="random")
    parser.add_argument("--beam-width", type=int, help="beam player: width")
    parser.add_argument("--beam-depth", type=int, help="beam player: depth")
    parser.add_argument("--seed", type=int, default=0, help="run seed (default 0)")
    parser.add_argument("--moves", type=int, default=54,
                        help="placements per game (default 54; 0 plays until game over)")
    parser.add_argument("--backend", choices=BACKENDS, default="serial")
    parser.add_argument("--address", help="join this Dask scheduler or Ray cluster")
    parser.add_argument("--chunk-size", type=int, help="games per task (default: four tasks per worker)")
    parser.add_argument("--workers", type=int, help="worker processes (default: the machine's cores)")
    parser.add_argument("--no-progress", action="store_true", help="no progress bar even on a terminal")


def player_options(args: argparse.Namespace) -> dict[str, Any]:
    """The ``player_options`` of the parsed ``--beam-*`` options (ValueError unless the player is beam)."""
    options: dict[str, Any] = {}
    if args.beam_width is not None:
        options["width"] = args.beam_width
    if args.beam_depth is not None:
        options["depth"] = args.beam_depth
    if options and args.player != "beam":
        raise ValueError("--beam-width and --beam-depth are options of --player beam")
    return options


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="python -m velmo_game.evaluate",
        description="Play seeded one-player games (or versus matches) with a player and print a summary.")
    add_run_arguments(parser)
    parser.add_argument("--versus", action="store_true", help="versus matches against --opponent")
    parser.add_argument("--opponent", choices=("random", "greedy", "beam"), default="random",
                        help="the opponent of --versus (default random)")
    parser.add_argument("--json", action="store_true", help="print the evaluation as JSON")
    parser.add_argument("--replays", metavar="DIR", help="write each game's replay into DIR (velmo_game.replay)")
    parser.add_argument("--plot", metavar="FILE.png", help="draw the score distribution (needs matplotlib)")
    return parser


def format_summary(evaluation: Evaluation) -> str:
    """The plain summary table."""
    s = evaluation.summary
    rows = [("games", f"{s.games}"), ("moves", f"{s.moves}"), ("mean score", f"{s.mean_score:.1f}"),
            ("median score", f"{s.median_score:.1f}"),
            ("median best chain score", f"{s.median_best_chain_score:.1f}")]
    if s.wins or s.draws or s.losses:
        rows += [("wins / draws / losses", f"{s.wins} / {s.draws} / {s.losses}")]
    rows += [(f"share scoring >= {t}", f"{share:.1%}") for t, share in s.reaching.items()]
    rows += [(f"longest chain {n}", f"{count} games") for n, count in s.chain_histogram.items()]
    rows += [("seconds", f"{s.seconds:.3f}"), ("moves per second", f"{s.moves_per_second:.0f}"),
             ("backend", f"{evaluation.backend} (chunks of {evaluation.chunk_size})")]
    width = max(len(name) for name, _ in rows)
    return "\n".join(f"{name:<{width}}  {value}" for name, value in rows)


def plot_scores(evaluation: Evaluation, path: str) -> None:
    """Write a histogram of the games' scores to ``path`` (matplotlib, the ``plot`` extra)."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(figsize=(6, 4))
    axes.hist([r.score for r in evaluation.records], bins=30)
    axes.set_xlabel("score")
    axes.set_ylabel("games")
    axes.set_title(f"{evaluation.summary.games} games, median {evaluation.summary.median_score:.0f}")
    figure.tight_layout()
    figure.savefig(path)
    plt.close(figure)


def main(argv: Sequence[str] | None = None) -> int:
    """The command line; returns the exit status."""
    args = _parser().parse_args(argv)
    try:
        evaluation = run(args.player, args.games, seed=args.seed, backend=args.backend,
                         address=args.address, chunk_size=args.chunk_size, workers=args.workers,
                         versus=args.versus, opponent=args.opponent if args.versus else None,
                         moves=args.moves or None, player_options=player_options(args),
                         progress=False if args.no_progress or args.json else None, replays=args.replays)
        if args.plot:
            plot_scores(evaluation, args.plot)
    except (ValueError, TypeError, NotImplementedError, ImportError, OSError) as error:
        print(f"error: {error}", file=sys.stderr)
        return 2
    print(json.dumps(evaluation.to_dict(), indent=2) if args.json else format_summary(evaluation))
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
