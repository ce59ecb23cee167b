"""Evaluate many fields in parallel over a process pool, and time it against one process.

For every field and the pair that comes next, ``look_ahead`` tries each of the
22 placements, plays its chain out and searches the result with ``evaluate``:
about a tenth of a millisecond of work for each field. The fields travel to the
worker processes by pickling (every ``Field`` pickles to 56 bytes), and the
results are plain ints, so the same functions run unchanged on any executor: a
``ProcessPoolExecutor`` here, or a cluster engine such as Ray or Dask (see
docs/parallel.md). A pool pays only when the work per field outweighs the
pickling and the start of the workers: the default size does; a few hundred
fields do not.

    python examples/parallel.py --fields 4000 --workers 2
"""

from __future__ import annotations

import argparse
import time
from collections.abc import Iterable
from concurrent.futures import Executor, ProcessPoolExecutor
from typing import NamedTuple

from velmo import Field, Hand, Pair
from velmo_game import Game, PairSequence

HANDS = Hand.enumerate()


class Evaluation(NamedTuple):
    """What ``evaluate`` reports for one field."""

    puyos: int  # puyos on the field
    candidates: int  # groups whose removal fires a chain
    best_chain: int  # longest chain fired by removing one group
    best_score: int  # highest score fired by removing one group


def evaluate(field: Field) -> Evaluation:
    """Search one field for the chains that removing one group fires.

    A plain top-level function of one picklable argument with a picklable
    result: that is all a process pool, Ray or Dask needs.
    """
    found = field.find_chain_by_removal()
    return Evaluation(
        puyos=field.get_num_puyos(),
        candidates=len(found),
        best_chain=max((chain.chain for chain in found), default=0),
        best_score=max((chain.score for chain in found), default=0),
    )


def look_ahead(field: Field, pair: Pair) -> Evaluation:
    """The best ``evaluate`` result over every placement of ``pair`` on ``field``, each chain played out.

    Best means the highest score that removing one group would then fire, then
    the most such groups. A field with no room for the pair evaluates as it is.
    """
    best = None
    for hand in HANDS:
        after = field.clone()
        try:
            after.put_hand(hand, pair)
        except RuntimeError:
            continue
        after.chain()
        result = evaluate(after)
        if best is None or (result.best_score, result.candidates) > (best.best_score, best.candidates):
            best = result
    return best if best is not None else evaluate(field)


def evaluate_all(fields: Iterable[Field], executor: Executor, chunksize: int = 64) -> list[Evaluation]:
    """Evaluate every field on ``executor``, keeping the order of ``fields``."""
    return list(executor.map(evaluate, fields, chunksize=chunksize))


def look_ahead_all(
    fields: list[Field], pairs: list[Pair], executor: Executor, chunksize: int = 64
) -> list[Evaluation]:
    """``look_ahead`` for every field and its next pair on ``executor``, in order."""
    return list(executor.map(look_ahead, fields, pairs, chunksize=chunksize))


def random_position(seed: int, moves: int) -> tuple[Field, Pair]:
    """The field after up to ``moves`` random legal moves of game ``seed``, and its next pair."""
    game = Game(seed)
    dice = PairSequence(seed, kind="uniform").to_numpy(moves)  # a seeded dice for the moves
    for draw in dice[:, 0] * 8 + dice[:, 1]:
        if game.is_over:
            break
        legal = game.legal_moves()
        game.play(legal[int(draw) % len(legal)])
    return game.field, game.current_pair


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        description="Evaluate many fields over a process pool and in one process, and compare the times."
    )
    parser.add_argument("--fields", type=int, default=4000, help="number of fields (default 4000)")
    parser.add_argument("--workers", type=int, default=2, help="worker processes (default 2)")
    parser.add_argument("--moves", type=int, default=25, help="random moves per field (default 25)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the first game (default 1)")
    args = parser.parse_args(argv)

    positions = [random_position(args.seed + i, args.moves) for i in range(args.fields)]
    fields = [field for field, _ in positions]
    pairs = [pair for _, pair in positions]

    start = time.perf_counter()
    serial = [look_ahead(field, pair) for field, pair in zip(fields, pairs)]
    serial_time = time.perf_counter() - start

    start = time.perf_counter()  # the pool's start-up counts: a user waits for it too
    with ProcessPoolExecutor(max_workers=args.workers) as executor:
        results = look_ahead_all(fields, pairs, executor, chunksize=max(1, len(fields) // (4 * args.workers)))
    pooled_time = time.perf_counter() - start

    if results != serial:
        print("parallel and serial results differ")
        return 1

    best = max(range(len(fields)), key=lambda i: (results[i].best_score, -i))
    print(
        f"fields: {len(fields)} on {args.workers} workers in {pooled_time:.2f} s; "
        f"in one process {serial_time:.2f} s ({serial_time / pooled_time:.2f}x faster pooled)"
    )
    print(f"fields with a chain to fire after the next move: {sum(1 for r in results if r.candidates)}")
    print(f"best: field {best}, a {results[best].best_chain}-chain for {results[best].best_score}")
    print("parallel results match the serial ones")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
