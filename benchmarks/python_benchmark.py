"""Per-call times of velmo's Python API, each beside the interpreter's own floor.

The floor is a builtin method call with the same number of arguments, measured in the same run
(int.bit_length(), dict.get(a), dict.get(a, b), str.find(a, b, c)), so the overhead of an entry
reads as a ratio to it. Run it pinned to one core for steadier figures:

    taskset -c 1 python benchmarks/python_benchmark.py
"""

import argparse
import sys
import timeit

import velmo

FIRST_19_CHAIN = [".G.BRG", "GBRRYR", "RRYYBY", "RGYRBR", "YGYRBY", "YGBGYR", "GRBGYR",
                  "BRBYBY", "RYYBYY", "BRBYBR", "BGBYRR", "YGBGBG", "RBGBGG"]
SECOND_19_CHAIN = ["B.YRGY", "BBBYRB", "GBYRGG", "BGYRGB", "GRGYRB", "RGYRYB", "GRGYRY",
                   "GRGYRY", "GBBGYG", "BYRBGG", "GBYRBY", "GBYRBY", "GBYRBY"]


def text_rows(rows):
    """The rows in the text form, which spells an empty cell '_'."""
    return [row.replace(".", "_") for row in rows]


def mid_game_field(seed=5, moves=30):
    """A settled field after `moves` seeded random placements, chains played out on the way."""
    import random

    rng = random.Random(seed)
    field, hands = velmo.Field(), velmo.Hand.enumerate()
    for _ in range(moves):
        pair = velmo.Pair(rng.choice((4, 5, 6, 7)), rng.choice((4, 5, 6, 7)))
        for hand in rng.sample(hands, len(hands)):
            try:
                field.put_hand(hand, pair)
                break
            except RuntimeError:
                continue
        field.chain()
    return field


def calls_per_run(timer, min_time):
    number = 1
    while timer.timeit(number) < min_time:
        number *= 2
    return number


def best_pair_ns(stmt, floor_stmt, namespace, repeat, min_time):
    """Best times per call in nanoseconds of `stmt` and of its floor, timed in alternation so
    that both see the same state of a noisy machine."""
    timer, floor_timer = timeit.Timer(stmt, globals=namespace), timeit.Timer(floor_stmt, globals=namespace)
    number, floor_number = calls_per_run(timer, min_time), calls_per_run(floor_timer, min_time)
    best, floor_best = float("inf"), float("inf")
    for _ in range(repeat):
        floor_best = min(floor_best, floor_timer.timeit(floor_number) / floor_number * 1e9)
        best = min(best, timer.timeit(number) / number * 1e9)
    return best, floor_best


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=9, help="timed runs per figure (the best counts)")
    parser.add_argument("--min-time", type=float, default=0.02, help="seconds per timed run, at least")
    args = parser.parse_args()

    first = velmo.Field.from_str_array(text_rows(FIRST_19_CHAIN))
    second = velmo.Field.from_str_array(text_rows(SECOND_19_CHAIN))
    assert first.clone().chain().chain == 19 and second.clone().chain().chain == 19
    settled = first.clone()
    settled.chain()
    ns = {
        "velmo": velmo, "f": first, "g": second, "settled": settled, "state": first.__getstate__(),
        "rows": text_rows(FIRST_19_CHAIN), "pair": velmo.Pair(4, 5), "scratch": first.clone(),
        "lists": first.to_array(), "mid": mid_game_field(), "hand": velmo.Hand(2, velmo.Rotation.LEFT), "i": 12345, "d": {1: 2}, "s": "abc",
    }
    floors = {
        0: ("int.bit_length()", "i.bit_length()"),
        1: ("dict.get(a)", "d.get(1)"),
        2: ("dict.get(a, b)", "d.get(1, 2)"),
        3: ("str.find(a, b, c)", "s.find('b', 0, 3)"),
    }
    cases = [
        ("get(x, y)", "f.get(2, 5)", 2),
        ("set(x, y, value)", "scratch.set(2, 5, 4)", 3),
        ("get_height(x)", "f.get_height(2)", 1),
        ("get_num_puyos()", "f.get_num_puyos()", 0),
        ("is_all_clear()", "f.is_all_clear()", 0),
        ("has_type(t)", "f.has_type(4)", 1),
        ("clone()", "f.clone()", 0),
        ("put_pair(x, rotation, pair) on a clone", "f.clone().put_pair(2, 'top', pair)", 3),
        ("chain() on a clone, 19-chain (first)", "f.clone().chain()", 0),
        ("chain() on a clone, 19-chain (second)", "g.clone().chain()", 0),
        ("chain() on a settled field (0 steps)", "settled.chain()", 0),
        ("a move: clone().put_hand(hand, pair).chain()", "mid.clone().put_hand(hand, pair).chain()", 0),
        ("find_chain_by_removal()", "f.find_chain_by_removal()", 0),
        ("__getstate__()", "f.__getstate__()", 0),
        ("__setstate__(state)", "scratch.__setstate__(state)", 1),
        ("to_array()", "f.to_array()", 0),
        ("Field.from_str_array(rows)", "velmo.Field.from_str_array(rows)", 1),
        ("Field.from_array(lists)", "velmo.Field.from_array(lists)", 1),
    ]
    try:
        import numpy as np
    except ImportError:
        np = None
    if np is not None:
        class Elementwise(np.ndarray):
            """An ndarray subclass: read entry by entry, as every array was before the buffer path."""

        cells = np.array(ns["lists"], dtype=np.int64)
        ns["cells"], ns["cells_elementwise"] = cells, cells.view(Elementwise)
        cases += [
            ("Field.from_array(int64 array (6, 14))", "velmo.Field.from_array(cells)", 1),
            ("  the same read entry by entry", "velmo.Field.from_array(cells_elementwise)", 1),
        ]

    print(f"velmo Python API benchmark; Python {sys.version.split()[0]}; best of {args.repeat} runs")
    print("floor: a builtin method call with the same number of arguments, timed in alternation with the call:")
    for n, (name, _) in floors.items():
        print(f"  {n} argument(s): {name}")
    print()
    print(f"{'call':<42} {'ns/call':>10} {'floor':>8} {'ratio':>7}")
    times = {}
    for name, stmt, nargs in cases:
        t, floor = best_pair_ns(stmt, floors[nargs][1], ns, args.repeat, args.min_time)
        times[name] = t
        print(f"{name:<42} {t:10.1f} {floor:8.1f} {t / floor:6.2f}x  ({floors[nargs][0]})")
    clone = times["clone()"]
    print()
    for which in ("first", "second"):
        chain = times[f"chain() on a clone, 19-chain ({which})"]
        print(f"chain() alone on a clone of the 19-chain ({which}), clone subtracted: {chain - clone:.1f} ns")
    print("compare with 'chain 19 ..., ChainResult' of velmo_core_benchmark: the difference is the Python overhead")
    if "  the same read entry by entry" in times:
        buffered, elementwise = times["Field.from_array(int64 array (6, 14))"], times["  the same read entry by entry"]
        print(f"from_array of an int64 array: {elementwise / buffered:.1f}x faster through the buffer than entry by entry; "
              f"{times['Field.from_array(lists)'] / buffered:.1f}x faster than from nested lists")


if __name__ == "__main__":
    main()
