"""Evaluate many fields in parallel over a process pool.

The fields travel to the worker processes by pickling (every ``Field``
pickles to 56 bytes), and ``evaluate`` returns plain ints, so the same
``evaluate`` runs unchanged on any executor: a ``ProcessPoolExecutor`` here,
or a cluster engine such as Ray or Dask (see docs/parallel.md).

    python examples/parallel.py --fields 2000 --workers 2
"""

from __future__ import annotations

import argparse
import random
import time
from collections.abc import Iterable
from concurrent.futures import Executor, ProcessPoolExecutor
from typing import NamedTuple

from velmo import Field, Hand, Pair, PuyoType

COLOURS = (PuyoType.RED, PuyoType.BLUE, PuyoType.YELLOW, PuyoType.GREEN)
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


def evaluate_all(fields: Iterable[Field], executor: Executor, chunksize: int = 64) -> list[Evaluation]:
    """Evaluate every field on ``executor``, keeping the order of ``fields``."""
    return list(executor.map(evaluate, fields, chunksize=chunksize))


def random_field(rng: random.Random, moves: int) -> Field:
    """A settled field made by ``moves`` random placements (chains fired along the way)."""
    field = Field()
    for _ in range(moves):
        pair = Pair(rng.choice(COLOURS), rng.choice(COLOURS))
        for hand in rng.sample(HANDS, len(HANDS)):
            try:
                field.put_hand(hand, pair)
                break
            except RuntimeError:
                continue
        field.chain()
    return field


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="Evaluate many fields over a process pool.")
    parser.add_argument("--fields", type=int, default=2000, help="number of fields (default 2000)")
    parser.add_argument("--workers", type=int, default=2, help="worker processes (default 2)")
    parser.add_argument("--moves", type=int, default=25, help="random moves per field (default 25)")
    parser.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    args = parser.parse_args(argv)

    rng = random.Random(args.seed)
    fields = [random_field(rng, args.moves) for _ in range(args.fields)]

    start = time.perf_counter()
    with ProcessPoolExecutor(max_workers=args.workers) as executor:
        results = evaluate_all(fields, executor, chunksize=max(1, len(fields) // (4 * args.workers)))
    elapsed = time.perf_counter() - start

    serial = [evaluate(field) for field in fields]
    if results != serial:
        print("parallel and serial results differ")
        return 1

    best = max(range(len(fields)), key=lambda i: (results[i].best_score, -i))
    print(f"fields: {len(fields)} on {args.workers} workers in {elapsed:.2f} s")
    print(f"fields with a chain to fire: {sum(1 for r in results if r.candidates)}")
    print(f"best: field {best}, a {results[best].best_chain}-chain for {results[best].best_score}")
    print("parallel results match the serial ones")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
