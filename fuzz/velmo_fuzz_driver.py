"""Drives velmo with a sequence of calls decoded from a byte string.

`run_one(data)` is the whole harness: the fuzzer (fuzz_velmo.py) feeds it mutated inputs, and
tests/test_fuzz_regressions.py replays every kept input through it. It needs nothing but velmo,
so a regression replays on any build.

What it checks, besides "the interpreter does not crash":
- every failure is one of the exceptions velmo may raise (TypeError, OverflowError, RuntimeError
  and its borrow subclasses, UnicodeEncodeError, PanicException), never anything else;
- a failing call leaves its object exactly as it was (same pickle state) and usable (free borrow);
- a successful mutating call returns the object itself; a state load either fails with the
  exact message for those bytes or stores exactly what the bytes say (reference decoder below);
- a Field and an ArrayField fed the same calls within what both can hold ("twins") agree on
  every cell, height, count, pretty string, chain and score;
- re-entrant calls from inside an argument conversion get exactly the borrow exception that the
  two borrows imply, and the outer call then finishes normally.
"""

import copy
import pickle

import velmo
from velmo import ArrayField, Field, Hand, Pair, Rotation

UNWRAP = "called `Result::unwrap()` on an `Err` value: "
EOF_ERROR = UNWRAP + "Io(Kind(UnexpectedEof))"
SEQUENCE_EOF_ERROR = UNWRAP + 'Io(Custom { kind: UnexpectedEof, error: "" })'


def _find_panic_type():
    try:
        Rotation.TOP < Rotation.TOP  # noqa: B015 - ordering is the documented way to get a panic
    except BaseException as error:  # noqa: B036 - PanicException derives from BaseException
        return type(error)
    raise AssertionError("ordering rotations did not fail")


NOT_CALLED = object()


class _Probe:
    """An integer whose conversion first runs `call` (a re-entrant call into velmo)."""

    def __init__(self, value, call):
        self.value = value
        self.call = call
        self.outcome = NOT_CALLED

    def __index__(self):
        try:
            self.outcome = self.call()
        except BaseException as error:  # noqa: B036 - record whatever the inner call raised
            self.outcome = error
        return self.value


def _find_borrow_types():
    field = Field()
    shared_inside_exclusive = _Probe(0, lambda: field.get_height(0))
    exclusive_inside_exclusive = _Probe(0, lambda: field.get(0, 0))
    field.set(0, 0, shared_inside_exclusive)
    field.set(0, 0, exclusive_inside_exclusive)
    return type(shared_inside_exclusive.outcome), type(exclusive_inside_exclusive.outcome)


PanicException = _find_panic_type()
PyBorrowError, PyBorrowMutError = _find_borrow_types()
ALLOWED = (TypeError, OverflowError, RuntimeError, UnicodeEncodeError, PanicException)

# Which borrow each entry takes on its own object.
EXCLUSIVE = {"get", "set", "put", "put_pair", "put_hand", "step_chain", "chain", "__setstate__"}
SHARED = {
    "clone", "to_array", "get_height", "get_num_puyos", "is_all_clear", "has_type",
    "equals_without_fuzzy", "get_pretty_string", "find_chain_by_removal", "__getstate__",
}

# Python puyo numbers and the array codes ArrayField reports for them.
PYTHON_TO_ARRAY = {0: 0, 1: 1, 2: 2, 4: 3, 5: 4, 6: 5, 7: 6, 8: 7}
ARRAY_TO_PYTHON = {code: number for number, code in PYTHON_TO_ARRAY.items()}
ROTATIONS = ["top", "TOP", "left", "LEFT", "bottom", "BOTTOM", "right", "RIGHT"]


# ---------------------------------------------------------------------------------------------
# Reference decoder of the pickle states: what loading `state` must do.
# ---------------------------------------------------------------------------------------------

def _variant_error(value, count):
    return UNWRAP + f'Custom("invalid value: integer `{value}`, expected variant index 0 <= i < {count}")'


class _Reader:
    def __init__(self, data):
        self.data = data
        self.pos = 0

    def little(self, width):
        if len(self.data) - self.pos < width:
            raise _Refused(EOF_ERROR)
        value = int.from_bytes(self.data[self.pos:self.pos + width], "little")
        self.pos += width
        return value

    def case(self, count):
        value = self.little(4)
        if value >= count:
            raise _Refused(_variant_error(value, count))
        return value


class _Refused(Exception):
    pass


def expected_state_load(cls, state):
    """(True, canonical state after loading) or (False, the PanicException message)."""
    reader = _Reader(state)
    try:
        if cls is Field:
            length = reader.little(8)
            if len(state) - 8 < length:
                return False, SEQUENCE_EOF_ERROR
            if length < 48:
                end = 16 if length < 16 else 32 if length < 32 else 48
                return False, f"range end index {end} out of range for slice of length {length}"
            return True, (48).to_bytes(8, "little") + state[8:56]
        if cls is ArrayField:
            for _ in range(128):
                reader.case(8)
            return True, state[:512]
        if cls is Pair:
            reader.case(8)
            reader.case(8)
            return True, state[:8]
        if cls is Hand:
            reader.little(8)
            reader.case(4)
            return True, state[:12]
    except _Refused as refused:
        return False, str(refused)
    raise AssertionError(cls)


# ---------------------------------------------------------------------------------------------
# Decoding the input
# ---------------------------------------------------------------------------------------------

class Data:
    """Reads choices from the input; past its end every choice is 0."""

    def __init__(self, data):
        self.data = bytes(data)
        self.pos = 0

    def exhausted(self):
        return self.pos >= len(self.data)

    def byte(self):
        if self.pos >= len(self.data):
            return 0
        value = self.data[self.pos]
        self.pos += 1
        return value

    def below(self, n):
        if n <= 256:
            return self.byte() % n
        return int.from_bytes(self.take(8), "little") % n

    def take(self, n):
        chunk = self.data[self.pos:self.pos + n]
        self.pos += len(chunk)
        return chunk

    def choice(self, options):
        return options[self.below(len(options))]

    def chance(self, percent):
        return self.byte() * 100 < percent * 256


class IntSub(int):
    pass


class StrSub(str):
    pass


class BytesSub(bytes):
    pass


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class BadIndex:
    def __index__(self):
        raise ValueError("conversion refused")


COORDINATES = [0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5, 6, 7, 8, 13, 14, 15, 16, 255, 2**32, 2**63 - 1,
               2**63, 2**64 - 2, 2**64 - 1]
ODD_INTEGERS = [-1, -(2**64), 2**64, 2**200, True, False, IntSub(3), Index(2), Index(-1), Index(2**64),
                1.0, "1", None, b"\x01", [1]]
NUMBERS = [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 255, 2**32 + 4, 2**64 - 1]
TEXT_CHARACTERS = [" ", "_", "O", "W", "R", "B", "Y", "G", "P", "R", "B", "Y", "G", "x", "r", "0", "\u00e9",
                   "\U0001f600", "\udc80", "\x00", "\n"]
BAD_ROTATIONS = ["Top", "", "to", "topp", "rightt", "Left ", "\udc80", "\uff54op", None, 0, b"top", StrSub("left")]


def pick_unsigned(data, python_range=None):
    """A coordinate or number: usually a plain int, sometimes an odd object."""
    roll = data.byte()
    if roll < 200:
        return data.choice(python_range or COORDINATES)
    if roll < 230:
        return data.choice(ODD_INTEGERS)
    return int.from_bytes(data.take(data.below(10)), "little")


def pick_rotation(data):
    return data.choice(ROTATIONS) if data.chance(85) else data.choice(BAD_ROTATIONS)


def pick_rows(data):
    """Text rows for from_str_array: mostly valid-looking, sometimes not even a sequence."""
    shape = data.byte()
    if shape < 10:
        return data.choice([None, 5, {"R": 1}, b"RR", object()])
    rows = []
    for _ in range(data.below(18)):
        if data.chance(4):
            rows.append(data.choice([1, None, b"R", ["R"]]))
            continue
        rows.append("".join(data.choice(TEXT_CHARACTERS) for _ in range(data.below(9))))
    if shape < 25:
        return "".join(row for row in rows if isinstance(row, str))  # a plain str: one-character rows
    if shape < 40:
        return tuple(rows)
    return rows


def pick_array(data):
    """An array form for from_array: mostly 6 x 14, sometimes the wrong size or wrong items."""
    if data.chance(4):
        return data.choice([None, 5, "RRRRRR", [None] * 6, [[0] * 14] * 5 + ["0" * 14]])
    columns = 6 if data.chance(85) else data.below(9)
    out = []
    for _ in range(columns):
        rows = 14 if data.chance(90) else data.below(17)
        column = []
        for _ in range(rows):
            roll = data.byte()
            if roll < 230:
                column.append(data.choice([0, 0, 0, 1, 2, 4, 5, 6, 7, 8]))
            elif roll < 245:
                column.append(data.choice(NUMBERS))
            else:
                column.append(data.choice(ODD_INTEGERS))
        out.append(tuple(column) if data.chance(10) else column)
    return out


def pick_state(data, cls, pool):
    """Bytes for __setstate__: real states, damaged states, random bytes, or not bytes at all."""
    roll = data.byte()
    if roll < 12:
        return data.choice([bytearray(8), memoryview(b"\0" * 8), "state", None, 0])
    if roll < 24:
        return BytesSub(data.take(data.below(64)))
    if roll < 90:
        return data.take(data.below(600))
    source = data.choice(pool.get(cls, [cls()]))
    try:
        state = bytearray(source.__getstate__())
    except ALLOWED:
        state = bytearray(cls().__getstate__())
    for _ in range(data.below(4)):
        if not state:
            break
        position = data.below(len(state))
        state[position] = data.byte()
    if data.chance(20):
        del state[data.below(len(state) + 1):]
    if data.chance(10):
        state += data.take(data.below(16))
    return bytes(state)


# ---------------------------------------------------------------------------------------------
# Checked calls
# ---------------------------------------------------------------------------------------------

FAILED = object()


def snapshot(obj):
    return obj.__getstate__()


def check_usable(obj):
    """The object's borrow is free again: an exclusive call goes through and changes nothing."""
    state = obj.__getstate__()
    obj.__setstate__(state)
    assert obj.__getstate__() == state


def checked(obj, method, *args, keeps_on_failure=True, **kwargs):
    """Calls obj.method; on an allowed failure checks that obj is unchanged and usable."""
    before = snapshot(obj)
    try:
        result = getattr(obj, method)(*args, **kwargs)
    except ALLOWED as error:
        if keeps_on_failure:
            assert snapshot(obj) == before, f"{method} failed with {error!r} and changed the object"
        check_usable(obj)
        return FAILED
    check_usable(obj)
    if method in ("set", "put", "put_pair", "put_hand"):
        assert result is obj
    if method in ("step_chain", "__setstate__"):
        assert result is None
    return result


def checked_class_call(fn, *args):
    try:
        return fn(*args)
    except ALLOWED:
        return FAILED


def check_state_load(obj, state):
    cls = type(obj)
    before = snapshot(obj)
    if not isinstance(state, bytes):
        try:
            obj.__setstate__(state)
        except TypeError as error:
            assert str(error) == ""
            assert snapshot(obj) == before
            return
        raise AssertionError(f"__setstate__ accepted {type(state).__name__}")
    ok, expected = expected_state_load(cls, bytes(state))
    try:
        obj.__setstate__(state)
    except PanicException as error:
        assert not ok, f"state {bytes(state).hex()} was refused with {error}"
        assert str(error) == expected, (str(error), expected)
        assert snapshot(obj) == before
        check_usable(obj)
        return
    assert ok, f"state {bytes(state).hex()} loaded but should fail with {expected}"
    assert snapshot(obj) == expected
    fresh = cls()
    fresh.__setstate__(snapshot(obj))
    assert fresh == obj


def check_round_trips(obj):
    cls = type(obj)
    state = snapshot(obj)
    for copied in (copy.copy(obj), copy.deepcopy(obj), pickle.loads(pickle.dumps(obj, 2)),
                   pickle.loads(pickle.dumps(obj, pickle.HIGHEST_PROTOCOL))):
        assert type(copied) is cls
        assert copied is not obj
        assert snapshot(copied) == state
        assert copied == obj


def check_comparisons(obj, other):
    same_class = type(other) is type(obj)
    for op in ("eq", "ne"):
        try:
            result = getattr(obj, f"__{op}__")(other)
        except TypeError as error:
            assert not same_class
            assert str(error) == ""
            continue
        assert same_class, f"{type(obj).__name__} == {type(other).__name__} did not raise"
        equal = snapshot(obj) == snapshot(other)
        assert result is (equal if op == "eq" else not equal)
    for op in ("lt", "le", "gt", "ge"):
        try:
            getattr(obj, f"__{op}__")(other)
        except PanicException as error:
            assert same_class and str(error) == "not implemented"
        except TypeError:
            assert not same_class
        else:
            raise AssertionError(f"ordering {op} did not fail")


def check_reentry(data, obj, pool):
    """An argument conversion that calls back into the same object while the outer call holds it."""
    inner_name, inner = data.choice(_inner_calls(obj))
    probe = _Probe(0, lambda: inner(obj))
    outer_name, outer = data.choice(_outer_calls(obj, probe))
    before = snapshot(obj)
    outer()  # valid arguments: only the inner call may fail
    if outer_name in SHARED:
        assert snapshot(obj) == before
    check_usable(obj)
    if probe.outcome is NOT_CALLED:
        assert not isinstance(obj, (Field, ArrayField))
        return
    outer_exclusive = outer_name in EXCLUSIVE
    inner_exclusive = inner_name in EXCLUSIVE
    outcome = probe.outcome
    if outer_exclusive or inner_exclusive:
        expected = PyBorrowMutError if inner_exclusive else PyBorrowError
        assert type(outcome) is expected, (outer_name, inner_name, outcome)
        assert str(outcome) == ""
    else:
        assert not isinstance(outcome, (PyBorrowError, PyBorrowMutError)), (outer_name, inner_name, outcome)


def _inner_calls(obj):
    calls = [
        ("__getstate__", lambda o: o.__getstate__()),
        ("__setstate__", lambda o: o.__setstate__(type(o)().__getstate__())),
    ]
    if isinstance(obj, (Field, ArrayField)):
        calls += [
            ("get", lambda o: o.get(0, 13)),
            ("set", lambda o: o.set(0, 13, 4)),
            ("put", lambda o: o.put(1, 5)),
            ("get_height", lambda o: o.get_height(0)),
            ("to_array", lambda o: o.to_array()),
            ("clone", lambda o: o.clone()),
            ("chain", lambda o: o.chain()),
            ("step_chain", lambda o: o.step_chain()),
            ("put_pair", lambda o: o.put_pair(2, "top", Pair(4, 5))),
            ("equals_without_fuzzy", lambda o: o.equals_without_fuzzy(o)),
            ("get_pretty_string", lambda o: o.get_pretty_string()),
        ]
    return calls


def _outer_calls(obj, probe):
    if isinstance(obj, (Field, ArrayField)):
        return [
            ("get", lambda: obj.get(probe, 13)),
            ("set", lambda: obj.set(0, 13, probe)),
            ("set", lambda: obj.set(probe, 12, 5)),
            ("put", lambda: obj.put(probe, 6)),
            ("get_height", lambda: obj.get_height(probe)),
            ("has_type", lambda: obj.has_type(probe)),
        ]
    # Pair and Hand take no integers on their own methods; their constructors take no borrow.
    return [("__getstate__", lambda: obj.__getstate__())]


# ---------------------------------------------------------------------------------------------
# Twins: a Field and an ArrayField given the same calls, within what both can hold.
# ---------------------------------------------------------------------------------------------

TWIN_CELL_NUMBERS = [0, 0, 1, 4, 5, 6, 7]  # no WALL inside the field (the two drops differ there)
TWIN_PAIR_NUMBERS = [0, 1, 4, 5, 6, 7]


def compare_twins(field, array_field):
    field_cells = field.to_array()
    array_cells = array_field.to_array()
    assert field_cells == [[ARRAY_TO_PYTHON[code] for code in column] for column in array_cells]
    for x in range(7):
        assert field.get_height(x) == array_field.get_height(x)
    for x in range(6):
        column = field_cells[x]
        height = 0
        for y in range(13, -1, -1):
            if column[y] == 0:
                break
            height += 1
        assert field.get_height(x) == height
    counted = sum(1 for column in field_cells for y in range(1, 14) if column[y] != 0)
    assert field.get_num_puyos() == array_field.get_num_puyos() == counted
    assert field.is_all_clear() is array_field.is_all_clear() is (counted == 0)
    for number in (1, 4, 5, 6, 7):
        present = any(number in column for column in field_cells)
        assert field.has_type(number) is array_field.has_type(number) is present
    assert field.get_pretty_string() == array_field.get_pretty_string()


def twin_step(data, twins):
    field, array_field = twins
    op = data.below(9)
    if op == 0:
        x, y = data.below(6), data.below(14)
        value = data.choice(TWIN_CELL_NUMBERS) if y > 0 or not data.chance(10) else 2
        results = [checked(f, "set", x, y, value) for f in twins]
    elif op == 1:
        x = data.below(7)
        value = data.choice(TWIN_CELL_NUMBERS)
        results = [checked(f, "put", x, value) for f in twins]
    elif op in (2, 3):
        x = data.below(7)
        rotation = pick_rotation(data)
        pair = Pair(data.choice(TWIN_PAIR_NUMBERS), data.choice(TWIN_PAIR_NUMBERS))
        results = [_twin_outcome(f, "put_pair", x, rotation, pair) for f in twins]
        assert results[0] == results[1], results
    elif op == 4:
        hand = Hand(data.below(7), data.choice([Rotation.TOP, Rotation.LEFT, Rotation.BOTTOM, Rotation.RIGHT]))
        pair = Pair(data.choice(TWIN_PAIR_NUMBERS), data.choice(TWIN_PAIR_NUMBERS))
        results = [_twin_outcome(f, "put_hand", hand, pair) for f in twins]
        assert results[0] == results[1], results
    elif op == 5:
        for f in twins:
            assert checked(f, "step_chain") is None
    elif op == 6:
        results = [checked(f, "chain") for f in twins]
        assert (results[0].chain, results[0].score) == (results[1].chain, results[1].score)
        assert [f.chain().chain for f in twins] == [0, 0]
    elif op == 7:
        twins[:] = [f.clone() for f in twins]
    else:
        twins[:] = [pickle.loads(pickle.dumps(f)) for f in twins]
    compare_twins(*twins)
    if data.chance(10):
        before = snapshot(twins[0])
        found = twins[0].find_chain_by_removal()
        assert snapshot(twins[0]) == before
        for result in found:
            assert result.chain >= 1 and result.score >= 40


def _twin_outcome(field, method, *args):
    before = snapshot(field)
    try:
        getattr(field, method)(*args)
    except ALLOWED as error:
        assert snapshot(field) == before
        check_usable(field)
        return type(error).__name__, str(error)
    return "ok", None


# ---------------------------------------------------------------------------------------------
# The harness
# ---------------------------------------------------------------------------------------------

def field_step(data, obj, pool):
    cls = type(obj)
    op = data.below(22)
    if op == 0:
        checked(obj, "set", pick_unsigned(data), pick_unsigned(data), pick_unsigned(data, NUMBERS))
    elif op == 1:
        checked(obj, "put", pick_unsigned(data), pick_unsigned(data, NUMBERS))
    elif op == 2:
        result = checked(obj, "get", pick_unsigned(data), pick_unsigned(data))
        assert result is FAILED or (type(result) is int and 0 <= result <= 8)
    elif op == 3:
        result = checked(obj, "get_height", pick_unsigned(data))
        assert result is FAILED or (type(result) is int and (0 <= result <= 14 or cls is Field))
    elif op == 4:
        result = checked(obj, "has_type", pick_unsigned(data, NUMBERS))
        assert result is FAILED or type(result) is bool
    elif op == 5:
        result = checked(obj, "to_array")
        if result is not FAILED:
            assert len(result) == 6 and all(len(column) == 14 for column in result)
            if cls is Field:
                assert Field.from_array(result).to_array() == result
    elif op == 6:
        count = checked(obj, "get_num_puyos")
        assert 0 <= count <= 78
        assert checked(obj, "is_all_clear") is (count == 0)
    elif op == 7:
        text = checked(obj, "get_pretty_string")
        assert text is FAILED or (type(text) is str and text.count("\n") == 15)
    elif op == 8:
        clone = checked(obj, "clone")
        assert type(clone) is cls and clone is not obj and clone == obj
        pool[cls].append(clone)
    elif op in (9, 10):
        checked(obj, "put_pair", pick_unsigned(data), pick_rotation(data), data.choice(pool[Pair] + [None, 1]))
    elif op == 11:
        checked(obj, "put_hand", data.choice(pool[Hand] + [None]), data.choice(pool[Pair] + [None]))
    elif op == 12:
        checked(obj, "step_chain")
    elif op == 13:
        result = checked(obj, "chain", keeps_on_failure=False)
        if result is not FAILED:
            assert 0 <= result.chain <= 19 and result.score >= 0
            assert (result.chain == 0) is (result.score == 0)
    elif op == 14:
        other = data.choice(pool[cls] + pool[Field if cls is ArrayField else ArrayField] + [None])
        result = checked(obj, "equals_without_fuzzy", other)
        assert result is FAILED or type(result) is bool
        check_comparisons(obj, other)
    elif op == 15:
        check_state_load(obj, pick_state(data, cls, pool))
    elif op == 16:
        check_round_trips(obj)
    elif op == 17:
        made = checked_class_call(cls.from_str_array, pick_rows(data))
        if made is not FAILED:
            assert type(made) is cls
            pool[cls].append(made)
    elif op == 18:
        array = pick_array(data)
        made = checked_class_call(cls.from_array, array)
        if made is not FAILED:
            pool[cls].append(made)
            cells = made.to_array()
            expected = [[PYTHON_TO_ARRAY[int(v)] if cls is ArrayField else int(v) for v in column] for column in array]
            assert cells == expected
    elif op == 19 and cls is Field:
        before = snapshot(obj)
        try:
            found = obj.find_chain_by_removal()
        except PanicException:
            found = []
        assert snapshot(obj) == before
        assert all(result.chain >= 1 and result.score >= 40 for result in found)
        repr(found)
    elif op == 20:
        check_reentry(data, obj, pool)
    else:
        bad_call(data, obj)


def bad_call(data, obj):
    """Argument parsing failures: wrong counts, duplicates, unknown keywords."""
    method = data.choice(["get", "set", "put", "get_height", "has_type", "put_pair", "put_hand",
                          "equals_without_fuzzy", "__setstate__", "__getstate__", "to_array", "chain", "clone"])
    args = [0] * data.below(5)
    kwargs = {}
    for _ in range(data.below(3)):
        kwargs[data.choice(["x", "y", "value", "z", "state", "pair", "other", "puyotype", "hand"])] = 0
    checked(obj, method, *args, keeps_on_failure=method != "chain", **kwargs)


def pair_step(data, obj, pool):
    op = data.below(7)
    if op == 0:
        count = data.choice([0, 2, 2, 2, 1, 3])
        made = checked_class_call(Pair, *[pick_unsigned(data, NUMBERS) for _ in range(count)])
        if made is not FAILED:
            assert 0 <= made.child <= 7 and 0 <= made.axis <= 7
            pool[Pair].append(made)
    elif op == 1:
        index = data.choice([0, 1, 2, -1, -2, 2**40])
        try:
            value = obj[index]
        except RuntimeError as error:
            assert index not in (0, 1) and str(error) == f"Invalid index {index}"
        except (IndexError, OverflowError):
            assert index not in (0, 1)
        else:
            assert value == (obj.child if index == 0 else obj.axis)
    elif op == 2:
        assert repr(obj).startswith("<Pair object Pair { colors: [")
    elif op == 3:
        check_state_load(obj, pick_state(data, Pair, pool))
    elif op == 4:
        check_round_trips(obj)
    elif op == 5:
        check_comparisons(obj, data.choice(pool[Pair] + pool[Hand] + [None, 3]))
    else:
        check_reentry(data, obj, pool)


def hand_step(data, obj, pool):
    op = data.below(7)
    if op == 0:
        count = data.choice([0, 2, 2, 2, 1, 3])
        args = [pick_unsigned(data), data.choice([Rotation.TOP, Rotation.LEFT, Rotation.BOTTOM, Rotation.RIGHT, None, 0])]
        made = checked_class_call(Hand, *args[:count], *([0] * max(0, count - 2)))
        if made is not FAILED:
            pool[Hand].append(made)
    elif op == 1:
        assert type(obj.x) is int and str(obj.rotation) in ("top", "left", "bottom", "right")
        assert repr(obj) == f"<Hand object {(obj.x + 1) % 2**64}-{obj.rotation}>"
    elif op == 2:
        enumerated = Hand.enumerate()
        assert len(enumerated) == 22
    elif op == 3:
        check_state_load(obj, pick_state(data, Hand, pool))
    elif op == 4:
        check_round_trips(obj)
    elif op == 5:
        check_comparisons(obj, data.choice(pool[Hand] + pool[Pair] + [None, Rotation.TOP]))
    else:
        check_reentry(data, obj, pool)


MAX_STEPS = 48
MAX_POOL = 6


def run_one(raw):
    """Runs the calls that `raw` encodes; raises AssertionError (or crashes) on a fault."""
    data = Data(raw)
    pool = {
        Field: [Field(), Field.from_str_array(["RRB", "BBRG", "YYGGR"])],
        ArrayField: [ArrayField(), ArrayField.from_str_array(["PP", "RRBP"])],
        Pair: [Pair(), Pair(4, 5)],
        Hand: [Hand(), Hand(2, Rotation.RIGHT)],
    }
    twins = [Field(), ArrayField()]
    steps = 0
    while not data.exhausted() and steps < MAX_STEPS:
        steps += 1
        kind = data.below(8)
        if kind < 3:
            twin_step(data, twins)
            continue
        cls = (Field, Field, ArrayField, Pair, Hand)[kind - 3]
        objects = pool[cls]
        obj = objects[data.below(len(objects))]
        if cls in (Field, ArrayField):
            field_step(data, obj, pool)
        elif cls is Pair:
            pair_step(data, obj, pool)
        else:
            hand_step(data, obj, pool)
        for key in pool:
            del pool[key][:-MAX_POOL]
    compare_twins(*twins)
    velmo.__all__  # noqa: B018 - the module is still intact
