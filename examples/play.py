"""Play one move with velmo: build a field from text, place a pair, run the chain, search it.

    python examples/play.py
"""

from __future__ import annotations

import argparse

import velmo
from velmo import Field, Hand, Pair, PuyoType, Rotation


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        description="Play one move on a small field and show what velmo reports: the field, the "
        "chains hidden in it, the chain a move fires and the best next placement."
    )
    parser.parse_args(argv)

    # Rows from the top; the last string is the lowest row. " " is empty.
    field = Field.from_str_array([
        "  Y",
        "  YB",
        " RBB",
        "RRYYG",
    ])
    print(field.get_pretty_string())

    print("chains the field holds by removing one group:")
    for found in field.find_chain_by_removal():
        print("  ", found)

    # The pair's axis lands first; with rotation "top" the child sits on it.
    field.put_pair(1, "top", Pair(PuyoType.YELLOW, PuyoType.RED))
    result = field.chain()
    print(f"after the move: {result.chain}-chain, {result.score} points")
    print(field.get_pretty_string())

    # A whole game step by step: every legal hand, keep the best chain.
    best = max(
        Hand.enumerate(),
        key=lambda hand: field.clone().put_hand(hand, Pair(PuyoType.BLUE, PuyoType.GREEN)).chain().score,
    )
    print("best next hand for blue/green:", best)
    print("classes:", ", ".join(velmo.__all__[1:]), "| rotations:", Rotation.TOP, Rotation.RIGHT)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
