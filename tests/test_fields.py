import sys

import pytest

import velmo
from velmo import ArrayField, Field, PuyoType

BOTH = pytest.mark.parametrize("cls", [Field, ArrayField], ids=["Field", "ArrayField"])
EMPTY, OJAMA, WALL, RED, BLUE, YELLOW, GREEN, PURPLE = 0, 1, 2, 4, 5, 6, 7, 8


def code(cls, number):
    """What `get` reports for a Python number: the number on a Field, the array code on an ArrayField."""
    if cls is Field or number <= 2:
        return number
    return number - 1


def name_of(cls):
    return "PyField" if cls is Field else "PyArrayField"


@BOTH
class TestNewField:
    def test_playable_cells_are_empty_and_counts_zero(self, cls):
        field = cls()
        assert all(field.get_height(x) == 0 for x in range(6))
        assert field.get_num_puyos() == 0
        assert field.is_all_clear()
        assert field.to_array() == [[0] * 14 for _ in range(6)]

    def test_right_wall_and_bottom_row_are_walls(self, cls):
        field = cls()
        assert all(field.get(6, y) == WALL for y in range(15))
        assert all(field.get(x, 14) == WALL for x in range(7))
        assert field.get_height(6) == 14

    def test_constructor_ignores_arguments(self, cls):
        assert cls(1, 2, x=3) == cls()

    def test_value_is_held_inline(self, cls):
        size = 48 if cls is Field else 128
        assert sys.getsizeof(cls()) <= object.__basicsize__ + 8 + size + 16


@BOTH
class TestCells:
    def test_set_returns_self_and_get_reads_back(self, cls):
        field = cls()
        assert field.set(0, 13, RED) is field
        assert field.get(0, 13) == code(cls, RED)
        assert field.to_array()[0][13] == code(cls, RED)

    def test_put_lands_on_the_lowest_empty_cell_and_chains(self, cls):
        field = cls()
        assert field.put(0, RED).put(0, BLUE) is field
        assert (field.get(0, 13), field.get(0, 12)) == (code(cls, RED), code(cls, BLUE))
        assert field.get_height(0) == 2

    def test_put_fills_a_gap_first(self, cls):
        field = cls().set(0, 13, RED).set(0, 11, RED)
        assert field.get_height(0) == 1
        field.put(0, BLUE)
        assert field.get(0, 12) == code(cls, BLUE)

    def test_put_into_a_full_column_changes_nothing(self, cls):
        field = cls()
        for _ in range(14):
            field.put(2, OJAMA)
        before = field.clone()
        assert field.put(2, RED) is field
        assert field == before
        assert field.get_height(2) == 14

    def test_keyword_arguments(self, cls):
        field = cls()
        field.set(x=1, y=2, value=GREEN)
        assert field.get(1, y=2) == field.get(x=1, y=2) == code(cls, GREEN)

    def test_true_is_one(self, cls):
        field = cls().set(1, 0, RED)
        assert field.get(True, 0) == field.get(1, 0)

    def test_set_can_overwrite_walls(self, cls):
        field = cls().set(6, 3, RED)
        assert field.get(6, 3) == code(cls, RED)

    def test_fourteenth_row_is_not_counted(self, cls):
        field = cls().set(0, 0, RED)
        assert field.get_num_puyos() == 0
        assert field.is_all_clear()

    def test_counts(self, cls):
        field = cls().put(0, RED).put(0, OJAMA).put(5, GREEN).set(3, 4, WALL)
        assert field.get_num_puyos() == 4
        assert not field.is_all_clear()

    def test_clone_is_independent(self, cls):
        field = cls().put(0, RED)
        copy = field.clone()
        assert copy is not field and copy == field
        copy.set(0, 13, BLUE)
        assert field.get(0, 13) == code(cls, RED)


class TestNumberings:
    def test_array_field_reports_array_codes(self):
        field = ArrayField().set(0, 13, PURPLE)
        assert field.get(0, 13) == 7
        assert field.to_array()[0][13] == 7

    def test_field_refuses_purple_and_three(self, panic):
        field = Field()
        for number in (PURPLE, 3, 9, 2**64 - 1):
            with pytest.raises(panic, match="^not implemented$"):
                field.put(0, number)
            with pytest.raises(panic, match="^not implemented$"):
                field.set(0, 0, number)
            with pytest.raises(panic, match="^not implemented$"):
                field.has_type(number)
        assert field == Field()

    def test_array_field_accepts_purple_refuses_three_and_nine(self, panic):
        field = ArrayField().put(0, PURPLE)
        assert field.get(0, 13) == 7
        for number in (3, 9):
            with pytest.raises(panic, match="^not implemented$"):
                field.put(0, number)

    def test_number_is_checked_before_coordinates(self, panic):
        with pytest.raises(panic, match="^not implemented$"):
            ArrayField().set(7, 0, 3)


class TestHasType:
    def test_bit_field_searches_the_whole_grid(self):
        assert Field().has_type(WALL)
        assert Field().has_type(EMPTY)

    def test_array_field_searches_the_playable_area(self):
        assert not ArrayField().has_type(WALL)
        assert ArrayField().set(2, 5, WALL).has_type(WALL)
        assert ArrayField().set(0, 3, PURPLE).has_type(PURPLE)

    @pytest.mark.parametrize("cls", [Field, ArrayField])
    def test_full_playable_area_has_no_empty(self, cls):
        field = cls()
        for x in range(6):
            for y in range(14):
                field.set(x, y, OJAMA)
        if cls is Field:
            assert not field.has_type(EMPTY)
        else:
            assert not field.has_type(EMPTY)
        assert field.has_type(OJAMA)
        assert not field.has_type(RED)


@BOTH
class TestCoordinateLimits:
    @pytest.mark.parametrize(
        "call, text",
        [
            (lambda f: f.get(7, 0), "index out of bounds: the len is 8 but the index is 8"),
            (lambda f: f.get(0, 15), "index out of bounds: the len is 16 but the index is 16"),
            (lambda f: f.get(7, 15), "index out of bounds: the len is 8 but the index is 8"),
            (lambda f: f.set(100, 0, 4), "index out of bounds: the len is 8 but the index is 101"),
            (lambda f: f.set(0, 15, 4), "index out of bounds: the len is 16 but the index is 16"),
            (lambda f: f.put(7, 4), "index out of bounds: the len is 8 but the index is 8"),
            (lambda f: f.get_height(7), "index out of bounds: the len is 8 but the index is 8"),
            (lambda f: f.get(2**64 - 1, 0), "index out of bounds: the len is 8 but the index is 18446744073709551616"),
            (lambda f: f.set(0, 2**64 - 1, 4), "index out of bounds: the len is 16 but the index is 18446744073709551616"),
            (lambda f: f.put(2**64 - 1, 4), "index out of bounds: the len is 8 but the index is 18446744073709551616"),
        ],
    )
    def test_past_the_walls_panics_and_changes_nothing(self, cls, call, text, panic):
        field = cls()
        with pytest.raises(panic) as info:
            call(field)
        assert str(info.value) == text
        assert field == cls()

    def test_negative_and_huge_coordinates_overflow(self, cls):
        with pytest.raises(OverflowError):
            cls().get(-1, 0)
        with pytest.raises(OverflowError):
            cls().get(0, 2**64)

    def test_non_integer_coordinates(self, cls):
        with pytest.raises(TypeError):
            cls().get(1.5, 0)
        with pytest.raises(TypeError):
            cls().get("1", 0)


@BOTH
class TestArgumentParsing:
    @pytest.mark.parametrize(
        "call, message",
        [
            (lambda f: f.get(1), "{}.get() missing required positional argument: y"),
            (lambda f: f.get(1, 2, 3), "{}.get() takes at most 2 positional arguments (3 given)"),
            (lambda f: f.get(1, 2, x=3), "{}.get() got multiple values for argument: x"),
            (lambda f: f.get(1, 2, z=3), "{}.get() got an unexpected keyword argument: z"),
            (lambda f: f.get_height(1, 2), "{}.get_height() takes at most 1 positional argument (2 given)"),
            (lambda f: f.set(0, 0), "{}.set() missing required positional argument: value"),
            (lambda f: f.has_type(), "{}.has_type() missing required positional argument: puyotype"),
            (lambda f: f.equals_without_fuzzy(), "{}.equals_without_fuzzy() missing required positional argument: other"),
            (lambda f: type(f).from_str_array(), "{}.from_str_array() missing required positional argument: s"),
            (lambda f: type(f).from_array([], s=[]), "{}.from_array() got multiple values for argument: s"),
        ],
    )
    def test_messages_name_the_binding_class(self, cls, call, message):
        with pytest.raises(TypeError) as info:
            call(cls())
        assert str(info.value) == message.format(name_of(cls))

    def test_methods_without_arguments_refuse_them(self, cls):
        with pytest.raises(TypeError):
            cls().clone(1)


@BOTH
class TestTextForm:
    def test_rows_from_the_top(self, cls):
        field = cls.from_str_array(["RRB", "GGGY"])
        expected = cls()
        for x, number in enumerate([RED, RED, BLUE]):
            expected.set(x, 12, number)
        for x, number in enumerate([GREEN, GREEN, GREEN, YELLOW]):
            expected.set(x, 13, number)
        assert field == expected

    def test_empty_forms(self, cls):
        assert cls.from_str_array([]) == cls()
        field = cls.from_str_array(["", "R"])
        assert field == cls().set(0, 13, RED)

    def test_space_and_underscore_are_empty(self, cls):
        assert cls.from_str_array([" _R"]) == cls().set(2, 13, RED)

    def test_tuple_and_string_sequences(self, cls):
        assert cls.from_str_array(("R",)) == cls.from_str_array(["R"])
        assert cls.from_str_array("RB") == cls.from_str_array(["R", "B"])

    @pytest.mark.parametrize("text, shown", [("r", "'r'"), (".", "'.'"), ("'", "'\\''"), ("\\", "'\\\\'"), ("\n", "'\\n'"), ("é", "'é'")])
    def test_invalid_characters(self, cls, text, shown, panic):
        with pytest.raises(panic) as info:
            cls.from_str_array(["R" + text])
        assert str(info.value) == f"called `Result::unwrap()` on an `Err` value: InvalidPuyoTypeCharacter({shown})"

    def test_purple(self, cls, panic):
        if cls is Field:
            with pytest.raises(panic, match=r"InvalidPuyoTypeCharacter\('P'\)"):
                cls.from_str_array(["P"])
        else:
            assert cls.from_str_array(["P"]).get(0, 13) == 7

    def test_fifteen_rows_of_seven_reach_the_walls(self, cls):
        field = cls.from_str_array(["RRRRRRR"] * 15)
        assert field.get(6, 0) == code(cls, RED)
        assert field.to_array() == [[code(cls, RED)] * 14 for _ in range(6)]
        assert not field.has_type(WALL) if cls is ArrayField else field.has_type(WALL)

    @pytest.mark.parametrize(
        "rows, text",
        [
            (["R"] + [""] * 15, "index out of bounds: the len is 16 but the index is 18446744073709551615"),
            (["RRRRRRRR"], "index out of bounds: the len is 8 but the index is 8"),
        ],
    )
    def test_past_the_limits(self, cls, rows, text, panic):
        with pytest.raises(panic) as info:
            cls.from_str_array(rows)
        assert str(info.value) == text

    def test_empty_sixteenth_string_is_accepted(self, cls):
        assert cls.from_str_array(["", "", "R"] + [""] * 13) == cls().set(0, 0, RED)

    def test_invalid_character_reported_before_row_limit(self, cls, panic):
        with pytest.raises(panic, match="InvalidPuyoTypeCharacter"):
            cls.from_str_array(["x"] + [""] * 15)

    @pytest.mark.parametrize("bad", [None, 5, [1], ["R", None]])
    def test_not_a_sequence_of_strings(self, cls, bad):
        with pytest.raises(TypeError) as info:
            cls.from_str_array(bad)
        assert str(info.value) == ""


@BOTH
class TestArrayForm:
    def test_round_trip(self, cls):
        field = cls.from_str_array(["B", "OYG", "RRBG"])
        to_number = (lambda v: v) if cls is Field else (lambda v: v + (v > 2))
        rebuilt = cls.from_array([[to_number(v) for v in col] for col in field.to_array()])
        assert rebuilt == field

    def test_all_zero_is_a_new_field(self, cls):
        assert cls.from_array([[0] * 14] * 6) == cls()

    @pytest.mark.parametrize("array", [[[0] * 14] * 5, [[0] * 14] * 7, [[0] * 14] * 5 + [[0] * 13], []])
    def test_wrong_size(self, cls, array):
        with pytest.raises(RuntimeError) as info:
            cls.from_array(array)
        assert str(info.value) == "Invalid size of array"

    def test_invalid_number_reported_before_a_later_wrong_size(self, cls, panic):
        with pytest.raises(panic, match="^not implemented$"):
            cls.from_array([[3] + [0] * 13, [0] * 13] + [[0] * 14] * 4)

    def test_wrong_size_reported_before_a_later_invalid_number(self, cls):
        with pytest.raises(RuntimeError):
            cls.from_array([[0] * 13, [3] + [0] * 13] + [[0] * 14] * 4)

    def test_numbers(self, cls, panic):
        column = [0] * 13 + [PURPLE]
        if cls is Field:
            with pytest.raises(panic, match="^not implemented$"):
                cls.from_array([column] + [[0] * 14] * 5)
        else:
            assert cls.from_array([column] + [[0] * 14] * 5).get(0, 13) == 7

    @pytest.mark.parametrize("bad, error", [(None, TypeError), ([None] * 6, TypeError), ([[1.5] * 14] * 6, TypeError), ([[-1] * 14] * 6, OverflowError)])
    def test_conversion_failures_come_first(self, cls, bad, error):
        with pytest.raises(error):
            cls.from_array(bad)

    def test_tuples_are_sequences(self, cls):
        assert cls.from_array(tuple((0,) * 14 for _ in range(6))) == cls()


class TestDrop:
    """Gravity only runs as part of step_chain, which vanishes nothing here."""

    COLUMN = [EMPTY, EMPTY, EMPTY, WALL, EMPTY, EMPTY, EMPTY, BLUE, EMPTY, GREEN, EMPTY, EMPTY, EMPTY, OJAMA]

    def column_field(self, cls):
        field = cls()
        for y, number in enumerate(self.COLUMN):
            field.set(0, y, number)
        return field

    def test_bit_field_moves_a_high_wall_by_the_holes_below_it(self):
        field = self.column_field(Field)
        field.step_chain()
        assert [field.get(0, y) for y in range(14)] == [0] * 7 + [WALL, 0, 0, 0, BLUE, GREEN, OJAMA]

    def test_array_field_lets_every_cell_fall(self):
        field = self.column_field(ArrayField)
        field.step_chain()
        assert [field.get(0, y) for y in range(14)] == [0] * 10 + [WALL, 4, 6, OJAMA]

    @BOTH
    def test_fourteenth_row_stays_and_thirteenth_falls(self, cls):
        field = cls().set(0, 0, GREEN).set(1, 1, RED)
        field.step_chain()
        assert field.get(0, 0) == code(cls, GREEN)
        assert field.get(1, 13) == code(cls, RED)
        assert field.get(1, 1) == EMPTY


@BOTH
class TestComparison:
    def test_fuzzy_rows_matter_only_to_equality(self, cls):
        a, b = cls(), cls().set(0, 0, RED).set(3, 1, BLUE)
        assert a != b
        assert a.equals_without_fuzzy(b)

    def test_bottom_right_cell_matters_to_both(self, cls):
        a, b = cls(), cls().set(5, 13, RED)
        assert a != b
        assert not a.equals_without_fuzzy(b)

    def test_self_and_clone(self, cls):
        field = cls.from_str_array(["RGBY"])
        assert field == field and field.equals_without_fuzzy(field)
        assert field == field.clone() and field.equals_without_fuzzy(field.clone())

    @pytest.mark.parametrize("other", [None, 0, "field"])
    def test_other_types_raise(self, cls, other):
        with pytest.raises(TypeError) as info:
            cls() == other
        assert str(info.value) == ""
        with pytest.raises(TypeError):
            cls().equals_without_fuzzy(other)

    def test_the_two_classes_do_not_compare(self, cls):
        other = ArrayField() if cls is Field else Field()
        with pytest.raises(TypeError):
            cls() == other

    @pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
    def test_ordering_is_not_implemented(self, cls, op, panic):
        with pytest.raises(panic, match="^not implemented$"):
            eval(f"a {op} b", {"a": cls(), "b": cls()})

    def test_unhashable(self, cls):
        with pytest.raises(TypeError):
            hash(cls())


def test_array_field_has_no_chain_search():
    assert not hasattr(ArrayField(), "find_chain_by_removal")
    assert hasattr(Field(), "find_chain_by_removal")


class Reenter:
    """An integer whose conversion calls back into a field, as a callback inside a call would."""

    def __init__(self, field, action, value=0):
        self.field, self.action, self.value = field, action, value
        self.error = None

    def __index__(self):
        try:
            self.action(self.field)
        except BaseException as error:
            self.error = error
            raise
        return self.value


@BOTH
class TestBorrows:
    def test_reading_inside_a_mutating_call_is_refused(self, cls):
        field = cls()
        probe = Reenter(field, lambda f: f.get_height(0))
        with pytest.raises(RuntimeError) as info:
            field.set(probe, 0, RED)
        assert type(info.value).__name__ == "PyBorrowError"
        assert type(info.value).__module__ == "pyo3_runtime"
        assert str(info.value) == ""
        assert field.set(0, 0, RED) is field  # usable again

    def test_mutating_inside_a_mutating_call_is_refused(self, cls):
        field = cls()
        probe = Reenter(field, lambda f: f.put(0, RED))
        with pytest.raises(RuntimeError) as info:
            field.put(probe, RED)
        assert type(info.value).__name__ == "PyBorrowMutError"
        assert field == cls()

    def test_mutating_inside_a_reading_call_is_refused(self, cls):
        field = cls()
        probe = Reenter(field, lambda f: f.set(0, 0, RED))
        with pytest.raises(RuntimeError) as info:
            field.get_height(probe)
        assert type(info.value).__name__ == "PyBorrowMutError"
        assert field.get_height(0) == 0

    def test_reading_inside_a_reading_call_is_allowed(self, cls):
        field = cls().put(0, RED)
        probe = Reenter(field, lambda f: f.get_num_puyos())
        assert field.get_height(probe) == 1
        assert probe.error is None

    def test_comparing_with_an_exclusively_borrowed_field(self, cls):
        field, other = cls(), cls()
        probe = Reenter(other, lambda o: field == o)
        with pytest.raises(RuntimeError) as info:
            other.set(probe, 0, RED)
        assert type(info.value).__name__ == "PyBorrowError"
