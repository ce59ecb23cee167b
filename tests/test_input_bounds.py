"""Building a field from a huge or odd input: every entry is still converted in the published
order, but memory stays bounded; numpy integer arrays are read in one go with the same results."""

from __future__ import annotations

import subprocess
import sys

import pytest

from velmo import ArrayField, Field

# Peak resident memory of a fresh interpreter, in MiB, before and after the call; the input is
# built first, so the difference is what the call itself took.
PEAK = """
import resource, velmo
def peak():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
s = {make}
before = peak()
try:
    velmo.{cls}.{method}(s)
except BaseException as error:
    print(type(error).__name__, error)
else:
    print("ok")
print(peak() - before)
"""


def peak_growth(cls: str, method: str, make: str) -> tuple[str, float]:
    code = PEAK.format(cls=cls, method=method, make=make)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120, check=True)
    outcome, growth = done.stdout.strip().rsplit("\n", 1)
    return outcome, float(growth)


@pytest.mark.parametrize("cls", ["Field", "ArrayField"])
@pytest.mark.parametrize(
    "method, make, outcome",
    [
        # each would have cost well over 100 MiB when every entry was kept
        ("from_array", "[[0] * 10**6] * 20", "RuntimeError Invalid size of array"),
        ("from_array", "[[0] * 14] * 6 + [[0]] * 10**6", "RuntimeError Invalid size of array"),
        ("from_str_array", "'R' * 4 * 10**6", "PanicException index out of bounds: the len is 16 but the index is 18446744073709551615"),
        ("from_str_array", "'\u65e5' * 10**6", "PanicException called `Result::unwrap()` on an `Err` value: InvalidPuyoTypeCharacter('\u65e5')"),
        ("from_str_array", "[''] * 4 * 10**6 + ['RR']", "ok"),
    ],
)
def test_peak_memory_stays_bounded(cls, method, make, outcome):
    shown, growth = peak_growth(cls, method, make)
    assert growth < 24, f"{method}({make}) grew the process by {growth:.0f} MiB"
    assert shown == outcome


@pytest.mark.parametrize("cls", [Field, ArrayField])
def test_a_conversion_error_anywhere_wins_over_the_size(cls):
    with pytest.raises(OverflowError):
        cls.from_array([[0] * 14] * 6 + [[0] * 100 + [-1]])
    with pytest.raises(TypeError):
        cls.from_array([[0] * 14] * 7 + [[0, "x"]])
    with pytest.raises(TypeError):
        cls.from_str_array(["R"] * 20 + [5])


@pytest.mark.parametrize("cls", [Field, ArrayField])
def test_only_the_rows_read_from_the_end_matter(cls, panic):
    low = ["R", "B"]
    assert cls.from_str_array([""] * 1000 + low) == cls.from_str_array(low)
    # the 16th non-empty row from the end is where reading stops, empty rows between or not
    for rows in (["x"] + ["R"] * 15, ["x", ""] + ["R"] * 15, ["x"] + ["", "R"] * 7 + ["R"]):
        with pytest.raises(panic) as info:
            cls.from_str_array(rows)
        assert "InvalidPuyoTypeCharacter('x')" in str(info.value)
    with pytest.raises(panic) as info:
        cls.from_str_array(["x", "R"] + ["R"] * 15)
    assert str(info.value) == "index out of bounds: the len is 16 but the index is 18446744073709551615"
    for rows in (["R", ""] + ["R"] * 15, ["x"] + ["", "R"] * 15):
        with pytest.raises(panic) as info:
            cls.from_str_array(rows)
        assert str(info.value) == "index out of bounds: the len is 16 but the index is 18446744073709551614"


# ---------------------------------------------------------------------------------------------
# numpy arrays through the buffer protocol
# ---------------------------------------------------------------------------------------------


def outcome(call):
    try:
        return "ok", call().__getstate__()
    except BaseException as error:  # noqa: B036 - PanicException included
        return type(error).__name__, str(error)


def element_wise(np, array):
    """The same array read entry by entry: an ndarray subclass takes the general way."""
    if type(array) is not np.ndarray:
        return array

    class Plain(np.ndarray):
        pass

    return array.view(Plain)


def arrays(np):
    good = np.zeros((6, 14), dtype=np.int64)
    good[0, 13], good[5, 12], good[2, 10:] = 4, 7, [1, 5, 6, 4]
    yield "int64", good
    for dtype in ("int8", "uint8", "int16", "uint16", "int32", "uint32", "uint64", ">i4", "<i8", "bool", "float64", "object"):
        yield dtype, good.astype(dtype)
    yield "transposed", np.ascontiguousarray(good.T).T
    yield "strided", np.zeros((12, 28), dtype=np.int64)[::2, ::2]
    yield "purple", np.full((6, 14), 8, dtype=np.int32)
    for value in (3, 9, 2**63, 2**64 - 1):
        bad = good.astype(np.uint64)
        bad[3, 7] = value
        yield f"value {value}", bad
    negative = good.copy()
    negative[4, 1] = -1
    yield "negative", negative
    negative_far = np.zeros((7, 20), dtype=np.int16)
    negative_far[6, 19] = -5
    yield "negative beyond the size", negative_far
    for shape in ((5, 14), (6, 13), (7, 14), (6, 15), (0, 14), (6, 0), (14, 6)):
        yield f"shape {shape}", np.zeros(shape, dtype=np.int64)
    yield "1-D", np.zeros(84, dtype=np.int64)
    yield "3-D", np.zeros((6, 14, 1), dtype=np.int64)
    yield "matrix", np.asmatrix(np.zeros((6, 14), dtype=np.int64))


@pytest.mark.filterwarnings("ignore::PendingDeprecationWarning")  # numpy.matrix, on purpose
@pytest.mark.parametrize("cls", [Field, ArrayField])
def test_numpy_arrays_give_what_the_element_wise_reading_gives(cls):
    np = pytest.importorskip("numpy")
    for name, array in arrays(np):
        expected = outcome(lambda: cls.from_array(element_wise(np, array)))
        assert outcome(lambda: cls.from_array(array)) == expected, name
        if expected[0] == "ok" and array.dtype != object:
            assert outcome(lambda: cls.from_array(array.tolist())) == expected, name


def test_a_two_dimensional_memoryview_is_read_as_before():
    # memoryview cannot iterate more than one dimension; it keeps that error, not the buffer's values
    view = memoryview(bytes(84)).cast("B", (6, 14))
    with pytest.raises(NotImplementedError):
        Field.from_array(view)
