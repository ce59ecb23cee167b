"""Reference and memory leaks: every entry of every class, on its success path and on each of its
failure paths, called many times, must not grow the interpreter's allocated blocks, the C heap,
or the reference counts of the objects it touched.

Under the sanitized build (VELMO_SANITIZED=1) Python allocates through plain malloc and the C heap
statistics are the sanitizer's, so only the reference counts are checked there.
"""

import copy
import ctypes
import gc
import os
import pickle
import sys

import pytest

import velmo
from velmo import ArrayField, ChainResult, FoundChain, Field, Hand, Pair, PuyoType, Rotation

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "fuzz"))

from velmo_fuzz_driver import PanicException, PyBorrowError, PyBorrowMutError  # noqa: E402

# The heap the rest of the suite built is frozen, so each collection here stays quick.
pytestmark = pytest.mark.usefixtures("frozen_heap")

SANITIZED = os.environ.get("VELMO_SANITIZED") == "1"
CALLS = 300 if SANITIZED else 1500
WARM_UP = 50
ROUNDS = 3


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]


def _heap_reader():
    if SANITIZED:
        return None
    try:
        libc = ctypes.CDLL(None)
        mallinfo2 = libc.mallinfo2
    except (OSError, AttributeError):
        return None
    mallinfo2.restype = _MallInfo2

    def in_use():
        info = mallinfo2()
        return info.uordblks + info.hblkhd

    return in_use


HEAP_IN_USE = _heap_reader()
ODD_IMMORTAL = sys.version_info >= (3, 12)  # None, True, False have fixed counts from 3.12 on


def expect(exception, call, message=None):
    """A scenario step that must fail with `exception` (and `message`, when given)."""
    def run():
        try:
            call()
        except exception as error:
            if message is not None:
                assert str(error) == message, str(error)
            return
        raise AssertionError(f"{call} did not raise {exception.__name__}")
    return run


class Reentrant:
    """An index whose conversion calls back into an object that the outer call holds."""

    def __init__(self, call):
        self.call = call

    def __index__(self):
        try:
            self.call()
        except (PyBorrowError, PyBorrowMutError):
            pass
        else:
            raise AssertionError("the re-entrant call was not refused")
        return 0


CHAIN_ROWS = ["R", "RBBB", "RRBY"]  # a 2-chain: the reds, then the blues
UNWRAP = "called `Result::unwrap()` on an `Err` value: "


def field_scenarios(cls):
    name = "PyField" if cls is Field else "PyArrayField"
    f = cls.from_str_array(["O", "RGBY", "GGBBYO"])
    other = f.clone()
    chain_field = cls.from_str_array(CHAIN_ROWS)
    pair, hand = Pair(4, 5), Hand(2, Rotation.RIGHT)
    purple = Pair(8, 4)
    rows, bad_rows = ["RRB", "GY"], ["RRx"]
    numbers = f.to_array() if cls is Field else [[0] * 14 for _ in range(6)]
    state = f.__getstate__()
    watched = [f, other, chain_field, pair, hand, purple, rows, bad_rows, numbers, state, cls]
    code3 = None
    if cls is Field:
        raw = bytearray(Field().__getstate__())
        raw[8 + 2] |= 2
        raw[24 + 2] |= 2
        code3 = Field()
        code3.__setstate__(bytes(raw))
        watched.append(code3)
    walled = ArrayField.from_str_array(["RRRRRRR"]) if cls is ArrayField else None
    s = {
        "new": lambda: cls(),
        "new with ignored arguments": lambda: cls(1, 2, x=3),
        "from_str_array": lambda: cls.from_str_array(rows),
        "from_str_array keyword": lambda: cls.from_str_array(s=rows),
        "from_str_array bad character": expect(PanicException, lambda: cls.from_str_array(bad_rows),
                                               UNWRAP + "InvalidPuyoTypeCharacter('x')"),
        "from_str_array not a sequence": expect(TypeError, lambda: cls.from_str_array(5), ""),
        "from_str_array item not str": expect(TypeError, lambda: cls.from_str_array(["R", 5]), ""),
        "from_str_array surrogate": expect(UnicodeEncodeError, lambda: cls.from_str_array(["R", "\udc80"])),
        "from_str_array too many rows": expect(PanicException, lambda: cls.from_str_array(["R"] * 16)),
        "from_str_array too long row": expect(PanicException, lambda: cls.from_str_array(["RRRRRRRR"])),
        "from_str_array unexpected keyword": expect(TypeError, lambda: cls.from_str_array(rows, t=1)),
        "from_str_array missing": expect(TypeError, lambda: cls.from_str_array(),
                                         f"{name}.from_str_array() missing required positional argument: s"),
        "from_array": lambda: cls.from_array(numbers),
        "from_array wrong size": expect(RuntimeError, lambda: cls.from_array(numbers[:5]), "Invalid size of array"),
        "from_array short column": expect(RuntimeError, lambda: cls.from_array(numbers[:5] + [[0] * 13]), "Invalid size of array"),
        "from_array bad number": expect(PanicException, lambda: cls.from_array([[3] * 14] * 6), "not implemented"),
        "from_array not an integer": expect(TypeError, lambda: cls.from_array([[None] * 14] * 6)),
        "from_array negative": expect(OverflowError, lambda: cls.from_array([[-1] * 14] * 6)),
        "clone": lambda: f.clone(),
        "get": lambda: f.get(1, 13),
        "get keywords": lambda: f.get(x=1, y=13),
        "get out of range": expect(PanicException, lambda: f.get(7, 0)),
        "get negative": expect(OverflowError, lambda: f.get(-1, 0)),
        "get float": expect(TypeError, lambda: f.get(1.5, 0)),
        "get too many": expect(TypeError, lambda: f.get(1, 2, 3), f"{name}.get() takes at most 2 positional arguments (3 given)"),
        "get duplicate": expect(TypeError, lambda: f.get(1, 2, x=3), f"{name}.get() got multiple values for argument: x"),
        "get unknown keyword": expect(TypeError, lambda: f.get(1, 2, z=3), f"{name}.get() got an unexpected keyword argument: z"),
        "set": lambda: f.set(5, 0, 4),
        "set bad value": expect(PanicException, lambda: f.set(5, 0, 3), "not implemented"),
        "set out of range": expect(PanicException, lambda: f.set(0, 15, 4)),
        "set re-entrant": lambda: f.set(5, 0, Reentrant(lambda: f.get(0, 0))),
        "put": lambda: f.clone().put(0, 4),
        "put full column": lambda: f.put(6, 4),
        "put bad value": expect(PanicException, lambda: f.put(0, 9), "not implemented"),
        "to_array": lambda: f.to_array(),
        "get_height": lambda: f.get_height(2),
        "get_height re-entrant": lambda: f.get_height(Reentrant(lambda: f.set(0, 0, 0))),
        "get_num_puyos": lambda: f.get_num_puyos(),
        "is_all_clear": lambda: f.is_all_clear(),
        "has_type": lambda: f.has_type(4),
        "has_type bad": expect(PanicException, lambda: f.has_type(3), "not implemented"),
        "put_pair": lambda: f.clone().put_pair(2, "top", pair),
        "put_pair keywords": lambda: f.clone().put_pair(x=2, rotation="left", pair=pair),
        "put_pair placement error": expect(RuntimeError, lambda: f.put_pair(0, "left", pair), "Invalid put operation (left, 1)"),
        "put_pair bad rotation": expect(PanicException, lambda: f.put_pair(0, "Top", pair), UNWRAP + 'InvalidRotationString("Top")'),
        "put_pair rotation not str": expect(TypeError, lambda: f.put_pair(0, None, pair), ""),
        "put_pair pair not a Pair": expect(TypeError, lambda: f.put_pair(0, "top", hand), ""),
        "put_pair huge column": expect((RuntimeError, PanicException), lambda: f.put_pair(2**64 - 1, "top", pair)),
        "put_hand": lambda: f.clone().put_hand(hand, pair),
        "put_hand error": expect(RuntimeError, lambda: f.put_hand(Hand(5, Rotation.RIGHT), pair), "Invalid put operation (right, 6)"),
        "put_hand not a Hand": expect(TypeError, lambda: f.put_hand(pair, pair), ""),
        "step_chain": lambda: chain_field.clone().step_chain(),
        "chain": lambda: (lambda r: (r.chain, r.score))(chain_field.clone().chain()),
        "chain on settled field": lambda: f.chain(),
        "equals_without_fuzzy": lambda: f.equals_without_fuzzy(other),
        "equals_without_fuzzy wrong type": expect(TypeError, lambda: f.equals_without_fuzzy(pair), ""),
        "==": lambda: f == other,
        "!=": lambda: f != other,
        "== None": expect(TypeError, lambda: f == None, ""),  # noqa: E711
        "<": expect(PanicException, lambda: f < other, "not implemented"),
        "hash": expect(TypeError, lambda: hash(f)),
        "get_pretty_string": lambda: f.get_pretty_string(),
        "__getstate__": lambda: f.__getstate__(),
        "__getstate__ extra": expect(TypeError, lambda: f.__getstate__(1)),
        "__setstate__": lambda: f.__setstate__(state),
        "__setstate__ short": expect(PanicException, lambda: f.__setstate__(state[:-1] if cls is ArrayField else state[:7])),
        "__setstate__ not bytes": expect(TypeError, lambda: f.__setstate__(bytearray(state)), ""),
        "__setstate__ re-entrant": lambda: f.set(0, 0, Reentrant(lambda: f.__setstate__(state))),
        "__getstate__ re-entrant": lambda: f.set(0, 0, Reentrant(lambda: f.__getstate__())),
        "pickle": lambda: pickle.loads(pickle.dumps(f)),
        "deepcopy": lambda: copy.deepcopy(f),
        "missing method": expect(AttributeError, lambda: f.no_such_method),
    }
    if cls is Field:
        s["find_chain_by_removal"] = lambda: [(c.chain, c.score, repr(c)) for c in chain_field.find_chain_by_removal()]
        s["code 3 get"] = expect(PanicException, lambda: code3.get(0, 13), "Failed to get puyo from field bits: InvalidPuyoTypeNumber(3)")
        s["code 3 to_array"] = expect(PanicException, lambda: code3.to_array())
        s["code 3 pretty"] = expect(PanicException, lambda: code3.get_pretty_string())
        s["code 3 search"] = lambda: _ignore_panic(code3.find_chain_by_removal)
        s["code 3 chain"] = lambda: _ignore_panic(code3.clone().chain)
        s["purple pair"] = expect(PanicException, lambda: f.put_pair(0, "top", purple), "not implemented")
    else:
        s["purple pair"] = lambda: f.clone().put_pair(0, "top", purple)
        s["chain through a wall"] = expect(PanicException, lambda: walled.clone().chain())
        s["step_chain through a wall"] = expect(PanicException, lambda: walled.clone().step_chain())
        watched.append(walled)
    return s, watched


def _ignore_panic(call):
    try:
        call()
    except PanicException:
        pass


def piece_scenarios():
    pair, other_pair = Pair(4, 5), Pair(5, 4)
    hand, other_hand = Hand(2, Rotation.RIGHT), Hand(3, Rotation.LEFT)
    pair_state, hand_state = pair.__getstate__(), hand.__getstate__()
    chain_field = Field.from_str_array(CHAIN_ROWS)
    found = chain_field.find_chain_by_removal()[0]
    result = chain_field.clone().chain()
    watched = [pair, other_pair, hand, other_hand, pair_state, hand_state, found, result,
               Pair, Hand, Rotation, PuyoType, ChainResult, FoundChain, Rotation.TOP]
    s = {
        "Pair()": lambda: Pair(),
        "Pair(4, 5)": lambda: Pair(4, 5),
        "Pair bad number": expect(PanicException, lambda: Pair(3, 4), "not implemented"),
        "Pair one argument": expect(PanicException, lambda: Pair(4), "not implemented"),
        "Pair negative": expect(PanicException, lambda: Pair(-1, 4)),
        "Pair not an integer": expect(PanicException, lambda: Pair("a", 4)),
        "Pair keyword": expect(TypeError, lambda: Pair(child=4)),
        "Pair getters": lambda: (pair.axis, pair.child),
        "Pair item": lambda: (pair[0], pair[1]),
        "Pair bad item": expect(RuntimeError, lambda: pair[2], "Invalid index 2"),
        "Pair negative item": expect(RuntimeError, lambda: pair[-1], "Invalid index -1"),
        "Pair unpack": expect(RuntimeError, lambda: tuple(pair)),
        "Pair repr": lambda: repr(pair),
        "Pair ==": lambda: pair == other_pair,
        "Pair <": expect(PanicException, lambda: pair < other_pair, "not implemented"),
        "Pair == int": expect(TypeError, lambda: pair == 1, ""),
        "Pair state": lambda: pair.__setstate__(pair.__getstate__()),
        "Pair bad state": expect(PanicException, lambda: other_pair.__setstate__(b"\x09\0\0\0\0\0\0\0")),
        "Pair short state": expect(PanicException, lambda: other_pair.__setstate__(pair_state[:4])),
        "Pair state not bytes": expect(TypeError, lambda: other_pair.__setstate__(None), ""),
        "Pair pickle": lambda: pickle.loads(pickle.dumps(pair)),
        "Hand()": lambda: Hand(),
        "Hand(2, RIGHT)": lambda: Hand(2, Rotation.RIGHT),
        "Hand one argument": expect(PanicException, lambda: Hand(2), "not implemented"),
        "Hand bad column": expect(PanicException, lambda: Hand(-1, Rotation.TOP)),
        "Hand bad rotation": expect(PanicException, lambda: Hand(0, "top")),
        "Hand getters": lambda: (hand.x, hand.rotation),
        "Hand enumerate": lambda: Hand.enumerate(),
        "Hand enumerate ignores arguments": lambda: Hand.enumerate(1, k=2),
        "Hand repr": lambda: repr(hand),
        "Hand ==": lambda: hand == other_hand,
        "Hand >": expect(PanicException, lambda: hand > other_hand, "not implemented"),
        "Hand == pair": expect(TypeError, lambda: hand == pair, ""),
        "Hand state": lambda: hand.__setstate__(hand_state),
        "Hand bad state": expect(PanicException, lambda: other_hand.__setstate__(bytes(8) + b"\x04\0\0\0")),
        "Hand short state": expect(PanicException, lambda: other_hand.__setstate__(hand_state[:11])),
        "Hand state extra argument": expect(TypeError, lambda: hand.__getstate__(1)),
        "Hand deepcopy": lambda: copy.deepcopy(hand),
        "Rotation attributes": lambda: (Rotation.TOP, Rotation.LEFT, Rotation.BOTTOM, Rotation.RIGHT),
        "Rotation str repr": lambda: (str(Rotation.LEFT), repr(Rotation.BOTTOM)),
        "Rotation ==": lambda: Rotation.TOP == Rotation.TOP,
        "Rotation <": expect(PanicException, lambda: Rotation.TOP < Rotation.LEFT, "not implemented"),
        "Rotation == int": expect(TypeError, lambda: Rotation.TOP == 0, ""),
        "Rotation()": expect(TypeError, lambda: Rotation()),
        "PuyoType attributes": lambda: (PuyoType.RED, PuyoType.PURPLE, hash(PuyoType.RED)),
        "PuyoType()": expect(TypeError, lambda: PuyoType()),
        "ChainResult getters": lambda: (result.chain, result.score),
        "ChainResult()": expect(TypeError, lambda: ChainResult()),
        "FoundChain getters": lambda: (found.chain, found.score, repr(found)),
        "FoundChain()": expect(TypeError, lambda: FoundChain()),
        "module attributes": lambda: (velmo.__all__, velmo.__doc__, velmo.Field),
    }
    return s, watched


def _all_scenarios():
    out = []
    for cls in (Field, ArrayField):
        names, _ = field_scenarios(cls)
        out += [(cls.__name__, name) for name in names]
    names, _ = piece_scenarios()
    out += [("pieces", name) for name in names]
    return out


def _build(group, name):
    if group == "Field":
        scenarios, watched = field_scenarios(Field)
    elif group == "ArrayField":
        scenarios, watched = field_scenarios(ArrayField)
    else:
        scenarios, watched = piece_scenarios()
    return scenarios[name], watched


def _refcounts(objects):
    return [sys.getrefcount(obj) for obj in objects]


@pytest.mark.parametrize("group, name", _all_scenarios(), ids=lambda v: v)
def test_no_growth(group, name):
    call, watched = _build(group, name)
    watched = watched + [PanicException, PyBorrowError, PyBorrowMutError, Field, ArrayField]
    if not ODD_IMMORTAL:
        watched += [None, True, False]
    for _ in range(WARM_UP):
        call()
    growth = []
    for _ in range(ROUNDS):
        gc.collect()
        refs = _refcounts(watched)
        blocks = sys.getallocatedblocks()
        heap = HEAP_IN_USE() if HEAP_IN_USE else 0
        for _ in range(CALLS):
            call()
        gc.collect()
        heap_after = HEAP_IN_USE() if HEAP_IN_USE else 0
        growth.append((
            sys.getallocatedblocks() - blocks,
            heap_after - heap,
            [after - before for before, after in zip(refs, _refcounts(watched))],
        ))
    # A leak grows in every round; noise (a cache filling, a free list) does not repeat.
    blocks_growth = min(g[0] for g in growth)
    heap_growth = min(g[1] for g in growth)
    assert blocks_growth < CALLS // 10, growth
    assert heap_growth < CALLS * 4, growth
    for index, obj in enumerate(watched):
        deltas = [g[2][index] for g in growth]
        # (the measuring itself may hold one or two extra references to a singleton)
        assert min(deltas) <= 2, f"references to {obj!r} grew by {deltas} over {CALLS} calls"


def test_the_measurement_notices_leaks():
    """The checks above would see a leak: a kept object per call, or a kept reference."""
    kept = []
    obj = Field()

    def leak_blocks():
        kept.append(object())

    def leak_reference():
        kept.append(obj)

    for call, watched in ((leak_blocks, []), (leak_reference, [obj])):
        refs = _refcounts(watched)
        blocks = sys.getallocatedblocks()
        for _ in range(CALLS):
            call()
        if call is leak_blocks and not SANITIZED:
            assert sys.getallocatedblocks() - blocks >= CALLS // 10
        for before, after in zip(refs, _refcounts(watched)):
            assert after - before >= CALLS
    if HEAP_IN_USE is not None:
        libc = ctypes.CDLL(None)
        libc.malloc.restype = ctypes.c_void_p
        libc.free.argtypes = [ctypes.c_void_p]
        heap = HEAP_IN_USE()
        blocks = [libc.malloc(64) for _ in range(CALLS)]
        assert HEAP_IN_USE() - heap >= CALLS * 4
        for block in blocks:
            libc.free(block)
