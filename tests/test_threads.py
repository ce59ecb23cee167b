"""Threads sharing fields, pairs and hands: every method called concurrently, with argument
conversions that let other threads run while a borrow is held. No crash, no wrong result, and
the only failures are the borrow exceptions."""

import os
import subprocess
import sys
import threading
import time

import pytest

from velmo import ArrayField, Field, Hand, Pair, Rotation

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "fuzz"))

from velmo_fuzz_driver import PanicException, PyBorrowError, PyBorrowMutError  # noqa: E402

SCALE = float(os.environ.get("VELMO_STRESS_SCALE", "1"))
DURATION = 2.0 * SCALE
THREADS = 6
BORROW_ERRORS = (PyBorrowError, PyBorrowMutError)

ROWS = ["  Y", " GBR", "RRBYG", "OBBYGG"]


class Yielding:
    """An index whose conversion gives other threads a turn while the caller holds its borrow."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        time.sleep(0)
        return self.value


@pytest.fixture()
def fast_switching():
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    yield
    sys.setswitchinterval(old)


class Expected:
    """Everything a reader may see on the shared objects, computed before the threads start."""

    def __init__(self, cls, field):
        self.state = field.__getstate__()
        self.array = field.to_array()
        self.cells = {(x, y): field.get(x, y) for x in range(7) for y in range(15)}
        self.heights = [field.get_height(x) for x in range(7)]
        self.count = field.get_num_puyos()
        self.pretty = field.get_pretty_string()
        result = field.clone().chain()
        self.chain = (result.chain, result.score)
        placed = field.clone().put_pair(0, "top", Pair(4, 4))
        self.placed_state = placed.__getstate__()
        self.placed_chain = (lambda r: (r.chain, r.score))(placed.chain())
        self.found = [(c.chain, c.score) for c in field.find_chain_by_removal()] if cls is Field else None


def _field_operations(field, expected, other):
    cls = type(field)

    def get():
        x, y = 2, 13
        assert field.get(Yielding(x), y) == expected.cells[(x, y)]

    def set_same():
        assert field.set(Yielding(3), 12, _python_number(cls, expected.cells[(3, 12)])) is field

    def put_full_column():
        assert field.put(Yielding(6), 4) is field  # the wall column has no room

    def load_same_state():
        assert field.__setstate__(expected.state) is None

    def reads():
        assert field.to_array() == expected.array
        assert [field.get_height(x) for x in range(7)] == expected.heights
        assert field.get_height(Yielding(3)) == expected.heights[3]
        assert field.get_num_puyos() == expected.count
        assert field.is_all_clear() is (expected.count == 0)
        assert field.has_type(Yielding(4)) is True
        assert field.get_pretty_string() == expected.pretty
        assert field.__getstate__() == expected.state
        assert field == other and not field != other
        assert field.equals_without_fuzzy(other)

    def private_copy():
        copy = field.clone()
        assert copy == field
        assert copy.put_pair(Yielding(0), "top", Pair(4, 4)).__getstate__() == expected.placed_state
        result = copy.chain()
        assert (result.chain, result.score) == expected.placed_chain
        copy.step_chain()

    def chain_on_clone():
        result = field.clone().chain()
        assert (result.chain, result.score) == expected.chain

    operations = [get, set_same, put_full_column, load_same_state, reads, private_copy, chain_on_clone]
    if cls is Field:
        def search():
            assert [(c.chain, c.score) for c in field.find_chain_by_removal()] == expected.found
        operations.append(search)
    return operations


def _python_number(cls, reported):
    if cls is ArrayField and reported >= 3:
        return reported + 1
    return reported


def _piece_operations(pair, hand):
    pair_state, hand_state = pair.__getstate__(), hand.__getstate__()

    def pair_reads():
        assert (pair.child, pair.axis, pair[0], pair[1]) == (3, 4, 3, 4)
        assert repr(pair) == "<Pair object Pair { colors: [Red, Blue] }>"
        assert pair == Pair(4, 5)
        assert pair.__getstate__() == pair_state

    def pair_load():
        pair.__setstate__(pair_state)

    def hand_reads():
        assert hand.x == 2 and hand.rotation == Rotation.RIGHT
        assert repr(hand) == "<Hand object 3-right>"
        assert hand == Hand(2, Rotation.RIGHT)
        assert hand.__getstate__() == hand_state
        assert len(Hand.enumerate()) == 22

    def hand_load():
        hand.__setstate__(hand_state)

    return [pair_reads, pair_load, hand_reads, hand_load]


def _scratch_operations(scratch, pair, hand):
    """A field that every thread changes: only its validity can be checked."""

    def place():
        try:
            scratch.put_pair(Yielding(int(time.perf_counter_ns()) % 6), "top", pair)
        except RuntimeError as error:
            if not isinstance(error, BORROW_ERRORS):
                assert str(error).startswith("Invalid put operation (row=")

    def place_hand():
        try:
            scratch.put_hand(hand, pair)
        except RuntimeError as error:
            if not isinstance(error, BORROW_ERRORS):
                assert str(error).startswith("Invalid put operation")

    def chain():
        result = scratch.chain()
        assert result.chain >= 0 and result.score >= 0

    def check():
        copy = Field()
        copy.__setstate__(scratch.__getstate__())
        cells = copy.to_array()
        assert all(value in (0, 1, 4, 5, 6, 7) for column in cells for value in column)
        for x, column in enumerate(cells):
            height = 0
            for value in reversed(column):
                if value == 0:
                    break
                height += 1
            assert copy.get_height(x) == height

    def reset_if_full():
        if scratch.get_num_puyos() > 60:
            scratch.__setstate__(Field().__getstate__())

    return [place, place_hand, chain, check, reset_if_full]


def test_threads_share_every_object(fast_switching):
    field = Field.from_str_array(ROWS)
    array_field = ArrayField.from_str_array(ROWS)
    pair, hand = Pair(4, 5), Hand(2, Rotation.RIGHT)
    scratch = Field()
    operations = (
        _field_operations(field, Expected(Field, field), field.clone())
        + _field_operations(array_field, Expected(ArrayField, array_field), array_field.clone())
        + _piece_operations(pair, hand)
        + _scratch_operations(scratch, pair, hand)
    )
    failures, conflicts, calls = [], [0], [0]
    lock = threading.Lock()
    start = threading.Barrier(THREADS)

    def worker(seed):
        index = seed
        start.wait()
        deadline = time.monotonic() + DURATION
        while time.monotonic() < deadline and not failures:
            index = (index * 1103515245 + 12345) % 2**31
            operation = operations[index % len(operations)]
            try:
                operation()
            except BORROW_ERRORS as error:
                assert str(error) == ""
                with lock:
                    conflicts[0] += 1
            except BaseException as error:  # noqa: B036 - a panic is a failure too
                with lock:
                    failures.append((operation.__name__, repr(error)))
            with lock:
                calls[0] += 1

    threads = [threading.Thread(target=worker, args=(seed,)) for seed in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not failures, failures[:5]
    assert calls[0] > 1000
    # Afterwards everything is free and unchanged.
    for shared, rows in ((field, ROWS), (array_field, ROWS)):
        assert shared == type(shared).from_str_array(rows)
        shared.__setstate__(shared.__getstate__())
    pair.__setstate__(pair.__getstate__())
    hand.__setstate__(hand.__getstate__())
    scratch.__setstate__(scratch.__getstate__())


def test_a_borrow_held_by_one_thread_refuses_the_others():
    """Deterministic: thread A holds the field inside an argument conversion while B calls in."""
    for cls in (Field, ArrayField):
        field = cls.from_str_array(ROWS)
        inside, proceed = threading.Event(), threading.Event()
        seen = {}

        class Holding:
            def __index__(self):
                inside.set()
                assert proceed.wait(10)
                return 0

        def holder(kind):
            if kind == "exclusive":
                seen["result"] = field.get(Holding(), 13)
            else:
                seen["result"] = field.get_height(Holding())

        for kind in ("exclusive", "shared"):
            inside.clear()
            proceed.clear()
            thread = threading.Thread(target=holder, args=(kind,))
            thread.start()
            assert inside.wait(10)
            try:
                outcomes = {}
                for name, call in (
                    ("get_height", lambda: field.get_height(0)),
                    ("to_array", lambda: field.to_array()),
                    ("set", lambda: field.set(0, 0, 0)),
                    ("chain", lambda: field.chain()),
                    ("==", lambda: field == field.__class__()),
                ):
                    try:
                        call()
                        outcomes[name] = None
                    except BORROW_ERRORS as error:
                        outcomes[name] = type(error)
            finally:
                proceed.set()
                thread.join()
            if kind == "exclusive":
                assert outcomes == {"get_height": PyBorrowError, "to_array": PyBorrowError, "set": PyBorrowMutError,
                                    "chain": PyBorrowMutError, "==": PyBorrowError}
            else:
                assert outcomes == {"get_height": None, "to_array": None, "set": PyBorrowMutError,
                                    "chain": PyBorrowMutError, "==": None}
            assert field == cls.from_str_array(ROWS)
            field.__setstate__(field.__getstate__())


def test_first_pretty_strings_from_many_threads_agree():
    """The colour switch is decided once per process, whichever thread asks first."""
    code = """
import threading, velmo
barrier = threading.Barrier(8)
results = []
def run():
    field = velmo.Field().put(0, 4).put(1, 5)
    barrier.wait()
    results.append(field.get_pretty_string())
threads = [threading.Thread(target=run) for _ in range(8)]
for t in threads: t.start()
for t in threads: t.join()
assert len(results) == 8 and len(set(results)) == 1, results
print(repr(results[0]))
"""
    env = dict(os.environ, CLICOLOR_FORCE="1")
    env.pop("NO_COLOR", None)
    completed = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=120)
    assert completed.returncode == 0, completed.stderr
    assert "\\x1b[1;41mR_\\x1b[0m" in completed.stdout


def test_panics_in_threads_stay_in_their_thread():
    errors = []

    def run():
        for _ in range(200):
            try:
                Field() < Field()  # noqa: B015
            except PanicException as error:
                errors.append(str(error))

    threads = [threading.Thread(target=run) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert errors == ["not implemented"] * 800
