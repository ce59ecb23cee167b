"""Allocation failures: every entry, on its success path and its failure paths, is called again
while exactly one of the interpreter's allocations fails: the first, the second, ... in turn.
Each call must end in its own outcome or MemoryError: never a crash, never a SystemError (a NULL
result without an exception, or a result with one set), never a PanicException that lost its
text, and a failed call leaves its object unchanged and usable.

The entries are called straight from here (bound methods, no Python frame in between), and the
failure is injected only around that call: the interpreter's own exception handling does not
survive every allocation failing, so the hook is off again before any of it runs."""

import pytest

_testcapi = pytest.importorskip("_testcapi")
if not hasattr(_testcapi, "set_nomemory"):
    pytest.skip("this interpreter cannot inject allocation failures", allow_module_level=True)

from velmo import ArrayField, Field, Hand, Pair, PuyoType, Rotation  # noqa: E402

FAILURE_POINTS = 40
CHAIN_ROWS = ["R", "RBBB", "RRBY"]
STATEFUL = (Field, ArrayField, Pair, Hand)


def field_calls(cls):
    """(name, factory) pairs; a factory builds fresh objects and returns (callable, args, owners)."""
    def with_field(method, *args, rows=("O", "RGBY", "GGBBYO")):
        def make():
            field = cls.from_str_array(list(rows))
            return getattr(field, method), args, [field]
        return make

    def on_class(method, *args):
        return lambda: (getattr(cls, method), args, [])

    numbers = [[0] * 14 for _ in range(6)]
    pair, hand = Pair(4, 5), Hand(2, Rotation.RIGHT)
    state = cls.from_str_array(["RB"]).__getstate__()
    calls = {
        "new": lambda: (cls, (1, 2), []),
        "from_str_array": on_class("from_str_array", ["RRB", "GY"]),
        "from_str_array bad character": on_class("from_str_array", ["RRx"]),
        "from_str_array not a sequence": on_class("from_str_array", 5),
        "from_str_array item not str": on_class("from_str_array", ["R", 5]),
        "from_str_array too many rows": on_class("from_str_array", ["R"] * 16),
        "from_array": on_class("from_array", numbers),
        "from_array wrong size": on_class("from_array", numbers[:5]),
        "from_array bad number": on_class("from_array", [[3] * 14] * 6),
        "from_array not an integer": on_class("from_array", [[None] * 14] * 6),
        "clone": with_field("clone"),
        "get": with_field("get", 1, 13),
        "get out of range": with_field("get", 7, 0),
        "get negative": with_field("get", -1, 0),
        "get too many": with_field("get", 1, 2, 3),
        "set": with_field("set", 5, 0, 4),
        "set bad value": with_field("set", 5, 0, 3),
        "put": with_field("put", 0, 4),
        "put bad value": with_field("put", 0, 9),
        "to_array": with_field("to_array"),
        "get_height": with_field("get_height", 2),
        "get_num_puyos": with_field("get_num_puyos"),
        "is_all_clear": with_field("is_all_clear"),
        "has_type": with_field("has_type", 4),
        "has_type bad": with_field("has_type", 3),
        "put_pair": with_field("put_pair", 2, "top", pair),
        "put_pair placement error": with_field("put_pair", 0, "left", pair),
        "put_pair bad rotation": with_field("put_pair", 0, "Top", pair),
        "put_pair rotation not str": with_field("put_pair", 0, None, pair),
        "put_hand": with_field("put_hand", hand, pair),
        "put_hand error": with_field("put_hand", Hand(5, Rotation.RIGHT), pair),
        "step_chain": with_field("step_chain", rows=CHAIN_ROWS),
        "chain": with_field("chain", rows=CHAIN_ROWS),
        "equals_without_fuzzy": with_field("equals_without_fuzzy", cls()),
        "equals_without_fuzzy wrong type": with_field("equals_without_fuzzy", pair),
        "==": with_field("__eq__", cls()),
        "== None": with_field("__eq__", None),
        "<": with_field("__lt__", cls()),
        "get_pretty_string": with_field("get_pretty_string"),
        "__getstate__": with_field("__getstate__"),
        "__setstate__": with_field("__setstate__", state),
        "__setstate__ bad": with_field("__setstate__", state[:7]),
        "__setstate__ not bytes": with_field("__setstate__", bytearray(state)),
        "__reduce_ex__": with_field("__reduce_ex__", 2),
    }
    if cls is Field:
        calls["find_chain_by_removal"] = with_field("find_chain_by_removal", rows=CHAIN_ROWS)
        calls["purple pair"] = with_field("put_pair", 0, "top", Pair(8, 4))

        def code3(method, *args):
            def make():
                raw = bytearray(Field().__getstate__())
                raw[8 + 2] |= 2
                raw[24 + 2] |= 2
                field = Field()
                field.__setstate__(bytes(raw))
                return getattr(field, method), args, [field]
            return make

        calls["code 3 get"] = code3("get", 0, 13)
        calls["code 3 to_array"] = code3("to_array")
        calls["code 3 pretty"] = code3("get_pretty_string")
    else:
        calls["chain through a wall"] = with_field("chain", rows=["RRRRRRR"])
    return calls


def piece_calls():
    def on(make_obj, method, *args):
        def make():
            obj = make_obj()
            return getattr(obj, method), args, [obj]
        return make

    def plain(fn, *args):
        return lambda: (fn, args, [])

    found = Field.from_str_array(CHAIN_ROWS).find_chain_by_removal()[0]
    result = Field.from_str_array(CHAIN_ROWS).chain()
    pair_state = Pair(4, 5).__getstate__()
    hand_state = Hand(2, Rotation.RIGHT).__getstate__()
    new_pair = lambda: Pair(4, 5)  # noqa: E731
    new_hand = lambda: Hand(2, Rotation.RIGHT)  # noqa: E731
    return {
        "Pair()": plain(Pair),
        "Pair(4, 5)": plain(Pair, 4, 5),
        "Pair bad number": plain(Pair, 3, 4),
        "Pair one argument": plain(Pair, 4),
        "Pair negative": plain(Pair, -1, 4),
        "Pair item": on(new_pair, "__getitem__", 1),
        "Pair bad item": on(new_pair, "__getitem__", 2),
        "Pair repr": on(new_pair, "__repr__"),
        "Pair ==": on(new_pair, "__eq__", Pair(5, 4)),
        "Pair <": on(new_pair, "__lt__", Pair(5, 4)),
        "Pair axis": plain(getattr, Pair(4, 5), "axis"),
        "Pair state": on(new_pair, "__getstate__"),
        "Pair load": on(new_pair, "__setstate__", pair_state),
        "Pair bad load": on(new_pair, "__setstate__", b"\x09\0\0\0\0\0\0\0"),
        "Hand()": plain(Hand),
        "Hand(2, RIGHT)": plain(Hand, 2, Rotation.RIGHT),
        "Hand bad column": plain(Hand, -1, Rotation.TOP),
        "Hand bad rotation": plain(Hand, 0, "top"),
        "Hand rotation": plain(getattr, Hand(2, Rotation.RIGHT), "rotation"),
        "Hand enumerate": plain(Hand.enumerate),
        "Hand repr": on(new_hand, "__repr__"),
        "Hand ==": on(new_hand, "__eq__", Hand()),
        "Hand state": on(new_hand, "__getstate__"),
        "Hand load": on(new_hand, "__setstate__", hand_state),
        "Hand bad load": on(new_hand, "__setstate__", bytes(8) + b"\x04\0\0\0"),
        "Rotation str": plain(str, Rotation.LEFT),
        "Rotation repr": plain(repr, Rotation.LEFT),
        "Rotation ==": plain(Rotation.TOP.__eq__, Rotation.LEFT),
        "Rotation <": plain(Rotation.TOP.__lt__, Rotation.LEFT),
        "PuyoType hash": plain(hash, PuyoType.RED),
        "ChainResult score": plain(getattr, result, "score"),
        "FoundChain repr": plain(repr, found),
    }


def _all():
    out = []
    for cls in (Field, ArrayField):
        out += [(cls.__name__, name) for name in field_calls(cls)]
    out += [("pieces", name) for name in piece_calls()]
    return out


def _factory(group, name):
    if group == "pieces":
        return piece_calls()[name]
    return field_calls(Field if group == "Field" else ArrayField)[name]


def _run_with_failure(fn, args, failing):
    """The call's exception (None on success), with only allocation number `failing` refused."""
    _testcapi.set_nomemory(failing, failing + 1)
    try:
        fn(*args)
    except BaseException as error:  # noqa: B036 - the caller judges it
        _testcapi.remove_mem_hooks()
        return error
    _testcapi.remove_mem_hooks()
    return None


@pytest.mark.parametrize("group, name", _all(), ids=lambda v: v)
def test_allocation_failures(group, name):
    factory = _factory(group, name)
    fn, args, _ = factory()
    try:
        fn(*args)  # warm up: lazily created classes and caches exist before the failures start
        expected = None
    except BaseException as error:  # noqa: B036 - the call's own outcome
        expected = type(error)
    for failing in range(FAILURE_POINTS):
        fn, args, owners = factory()
        states = [obj.__getstate__() for obj in owners if isinstance(obj, STATEFUL)]
        outcome = _run_with_failure(fn, args, failing)
        if outcome is None:
            assert expected is None, f"failing allocation #{failing}: succeeded where {expected.__name__} was due"
            continue
        if not isinstance(outcome, MemoryError):
            assert type(outcome) is expected, f"failing allocation #{failing} gave {outcome!r}"
            if type(outcome).__name__ == "PanicException":
                assert str(outcome) != "", (
                    f"failing allocation #{failing} replaced the MemoryError by a PanicException without text")
        if name not in ("chain", "chain through a wall"):  # a failed chain keeps the steps it made
            assert [obj.__getstate__() for obj in owners if isinstance(obj, STATEFUL)] == states, (
                f"failing allocation #{failing} ({outcome!r}) changed the object")
        for obj in owners:
            if isinstance(obj, STATEFUL):
                obj.__setstate__(obj.__getstate__())  # the borrow is free again
