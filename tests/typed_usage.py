"""Typed use of every class and method of velmo.

`mypy --strict` checks this file against the stubs (tests/test_typing.py); the same test also
runs ``exercise()``, so every call here is also valid at run time.
"""

from __future__ import annotations

import copy
import pickle
import sys
from typing import Literal

import velmo
from velmo import ArrayField, ChainResult, Field, FoundChain, Hand, Pair, PuyoType, Rotation

if sys.version_info >= (3, 11):
    from typing import assert_type
else:  # pragma: no cover - older interpreters
    from typing_extensions import assert_type


def exercise_field() -> None:
    field = Field()
    assert_type(field, Field)
    assert_type(Field.from_str_array(["RRB", "GGGY"]), Field)
    assert_type(Field.from_str_array(("R",)), Field)
    assert_type(Field.from_array([[0] * 14 for _ in range(6)]), Field)
    assert_type(Field.from_array(tuple((0,) * 14 for _ in range(6))), Field)
    assert_type(field.clone(), Field)
    assert_type(field.set(0, 13, PuyoType.RED), Field)
    assert_type(field.put(1, PuyoType.BLUE), Field)
    assert_type(field.get(0, 13), int)
    assert_type(field.get(x=0, y=13), int)
    assert_type(field.to_array(), list[list[int]])
    assert_type(field.get_height(0), int)
    assert_type(field.get_num_puyos(), int)
    assert_type(field.is_all_clear(), bool)
    assert_type(field.has_type(puyotype=PuyoType.WALL), bool)
    assert_type(field.put_pair(2, "top", Pair(PuyoType.RED, PuyoType.RED)), Field)
    assert_type(field.put_pair(x=3, rotation="RIGHT", pair=Pair()), Field)
    assert_type(field.put_hand(Hand(0, Rotation.TOP), Pair()), Field)
    assert_type(field.put_hand(hand=Hand(), pair=Pair()), Field)
    assert_type(field.step_chain(), None)
    result = field.chain()
    assert_type(result, ChainResult)
    assert_type(result.chain, int)
    assert_type(result.score, int)
    assert_type(field.equals_without_fuzzy(Field()), bool)
    assert_type(field.get_pretty_string(), str)
    found = Field.from_str_array(["   R", "RRRB"]).find_chain_by_removal()
    assert_type(found, list[FoundChain])
    assert_type(found[0].chain, int)
    assert_type(found[0].score, int)
    assert_type(repr(found[0]), str)
    state = field.__getstate__()
    assert_type(state, bytes)
    assert_type(Field().__setstate__(state), None)
    assert_type(field == Field(), bool)
    assert_type(field != Field(), bool)
    assert pickle.loads(pickle.dumps(field)) == field
    assert copy.deepcopy(field) == field


def exercise_array_field() -> None:
    field = ArrayField()
    assert_type(ArrayField.from_str_array(["P"]), ArrayField)
    assert_type(ArrayField.from_array([[8] * 14 for _ in range(6)]), ArrayField)
    assert_type(field.clone(), ArrayField)
    assert_type(field.set(0, 13, PuyoType.PURPLE), ArrayField)
    assert_type(field.put(1, PuyoType.PURPLE), ArrayField)
    assert_type(field.get(0, 13), int)
    assert_type(field.to_array(), list[list[int]])
    assert_type(field.get_height(0), int)
    assert_type(field.get_num_puyos(), int)
    assert_type(field.is_all_clear(), bool)
    assert_type(field.has_type(PuyoType.PURPLE), bool)
    assert_type(field.put_pair(2, "bottom", Pair(PuyoType.PURPLE, PuyoType.RED)), ArrayField)
    assert_type(field.put_hand(Hand(3, Rotation.LEFT), Pair()), ArrayField)
    assert_type(field.step_chain(), None)
    assert_type(field.chain(), ChainResult)
    assert_type(field.equals_without_fuzzy(ArrayField()), bool)
    assert_type(field.get_pretty_string(), str)
    assert_type(field.__getstate__(), bytes)
    assert_type(ArrayField().__setstate__(field.__getstate__()), None)
    assert_type(field == field.clone(), bool)


def exercise_pieces() -> None:
    assert_type(PuyoType.EMPTY, Literal[0])
    assert_type(PuyoType.RED, Literal[4])
    assert_type(PuyoType.PURPLE, Literal[8])
    colours: list[int] = [PuyoType.RED, PuyoType.BLUE, PuyoType.YELLOW, PuyoType.GREEN, PuyoType.PURPLE]
    assert colours == [4, 5, 6, 7, 8]
    assert (PuyoType.OJAMA, PuyoType.WALL) == (1, 2)
    rotations: list[Rotation] = [Rotation.TOP, Rotation.LEFT, Rotation.BOTTOM, Rotation.RIGHT]
    assert [str(r) for r in rotations] == ["top", "left", "bottom", "right"]
    assert_type(repr(Rotation.LEFT), str)
    assert_type(Rotation.TOP == Rotation.TOP, bool)

    hand = Hand(2, Rotation.RIGHT)
    assert_type(hand.x, int)
    assert_type(hand.rotation, Rotation)
    hands = Hand.enumerate()
    assert_type(hands, list[Hand])
    assert len(hands) == 22
    assert_type(hand.__getstate__(), bytes)
    Hand().__setstate__(hand.__getstate__())

    pair = Pair(PuyoType.RED, PuyoType.BLUE)
    assert_type(pair.child, int)
    assert_type(pair.axis, int)
    assert_type(pair[0], int)
    assert_type(pair.__getstate__(), bytes)
    Pair().__setstate__(pair.__getstate__())
    assert (pair.child, pair.axis, pair[1]) == (3, 4, 4)
    assert_type(repr(pair), str)


def exercise_module() -> None:
    names: list[str] = velmo.__all__
    assert names[0] == "__doc__"


def exercise() -> None:
    exercise_field()
    exercise_array_field()
    exercise_pieces()
    exercise_module()

