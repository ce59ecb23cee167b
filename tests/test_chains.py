import random

import pytest

import velmo
from velmo import ArrayField, Field, Hand, Pair, Rotation

BOTH = pytest.mark.parametrize("cls", [Field, ArrayField], ids=["Field", "ArrayField"])
EMPTY, OJAMA, WALL, RED, BLUE, YELLOW, GREEN, PURPLE = 0, 1, 2, 4, 5, 6, 7, 8


def code(cls, number):
    return number if cls is Field or number <= 2 else number - 1


def run(cls, rows):
    field = cls.from_str_array(rows)
    result = field.chain()
    return field, result.chain, result.score


@BOTH
class TestScores:
    @pytest.mark.parametrize(
        "rows, chain, score",
        [
            (["RRRR"], 1, 40),  # one group of 4: multiplier 1, not 0
            (["B", "RBB", "RRRB"], 2, 360),  # 40 + 4 x 8 x 10
            (["RRRR", "BBBB"], 1, 240),  # two colours at once: 8 x 3 x 10
            (["RRRRR"], 1, 100),  # group of 5: 5 x 2 x 10
            (["RRRRR", "RRRRRR"], 1, 1100),  # group of 11: 11 x 10 x 10
            (["RRRRRR", "RRRRRR"], 1, 1200),  # group of 12 earns the bonus of 11
            (["R  R", "R  R", "R  R", "RGGR"], 1, 80),  # two red groups of 4: one colour, no bonus at all
            # Stairs: red fires, blue falls into four, then yellow: 40 + 4x8x10 + 4x16x10.
            (["BY", "RBY", "RBY", "RRBY"], 3, 1000),
        ],
    )
    def test_worked_scores(self, cls, rows, chain, score):
        field, got_chain, got_score = run(cls, rows)
        assert (got_chain, got_score) == (chain, score)

    def test_three_never_vanish(self, cls):
        for rows in (["RRR"], ["R", "RR"], ["R", "R", "R"], ["RGR", "GRG"]):
            field, chain, score = run(cls, rows)
            assert (chain, score) == (0, 0)
            assert field == cls.from_str_array(rows)


@BOTH
@pytest.mark.parametrize(
    "rows",
    [
        ["RRRR"],  # line
        ["R", "R", "R", "R"],  # vertical line
        ["R", "R", "RR"],  # L
        ["RRR", " R"],  # T
        [" RR", "RR"],  # S
        ["RR", "RR"],  # square
    ],
    ids=["line", "column", "L", "T", "S", "square"],
)
def test_shapes_of_four_vanish(cls, rows):
    field, chain, score = run(cls, rows)
    assert (chain, score) == (1, 40)
    assert field.is_all_clear()


@BOTH
class TestChainLoop:
    def test_empty_field(self, cls):
        field = cls()
        result = field.chain()
        assert (result.chain, result.score) == (0, 0)
        assert field == cls()
        assert field.step_chain() is None

    def test_group_cells_are_emptied(self, cls):
        field = cls.from_str_array(["G", "RRRR"])
        result = field.chain()
        assert (result.chain, result.score) == (1, 40)
        assert field == cls().set(0, 13, GREEN)

    def test_unsettled_field_settles_then_counts_from_one(self, cls):
        field = cls.from_str_array(["R", " ", "RRR"])
        result = field.chain()
        assert (result.chain, result.score) == (1, 40)
        assert field.is_all_clear()

    def test_floating_puyos_without_group_just_settle(self, cls):
        field = cls.from_str_array(["G", "", "", "B"])
        assert field.chain().chain == 0
        assert field == cls.from_str_array(["G", "B"])

    def test_second_call_finds_nothing(self, cls):
        field = cls.from_str_array(["B", "RBB", "RRRB"])
        field.chain()
        again = field.chain()
        assert (again.chain, again.score) == (0, 0)

    def test_step_chain_does_one_step(self, cls):
        field = cls.from_str_array(["B", "RBB", "RRRB"])
        assert field.step_chain() is None
        assert field == cls.from_str_array(["BBBB"])
        field.step_chain()
        assert field.is_all_clear()

    def test_fourteenth_row_stays_through_the_chain(self, cls):
        field = cls.from_str_array(["G"] + [""] * 12 + ["RRRR"])
        field.chain()
        assert field.get(0, 0) == code(cls, GREEN)
        assert field.get_num_puyos() == 0

    # A full column: the 13th-row cell on top (python row 1), then the 12 rows of the region.
    FILLER = ["G", "B", "Y", "G", "B", "Y", "G", "B"]

    def test_thirteenth_row_does_not_complete_a_group(self, cls):
        field = cls.from_str_array(["R", "R", "R", "R", "Y"] + self.FILLER)
        assert field.chain().chain == 0

    def test_thirteenth_row_fifth_stays_when_four_vanish(self, cls):
        field = cls.from_str_array(["R", "R", "R", "R", "R"] + self.FILLER)
        result = field.chain()
        assert (result.chain, result.score) == (1, 40)  # size 4, not 5
        assert field.get_num_puyos() == 9
        assert field.get(0, 5) == code(cls, RED)  # the 13th-row red fell onto the stack

    def test_ojama_next_to_a_group_is_removed(self, cls):
        field = cls.from_str_array(["OO", "RRRRO", "OOOOO"])
        field.chain()
        # the ojama above, beside and below the reds go; the one touching only diagonally stays
        assert field.get_num_puyos() == 1
        assert field.get(4, 13) == OJAMA

    def test_ojama_touching_only_diagonally_or_other_ojama_stays(self, cls):
        field = cls.from_str_array(["    O", "    O", "RRRR"])
        field.chain()
        # (4, 12) touches a red diagonally and (4, 11) touches only ojama: both stay and fall
        assert field.get_num_puyos() == 2

    def test_thirteenth_row_ojama_above_a_top_row_group_is_removed(self, cls):
        field = cls()
        for y in range(2, 14):
            field.set(0, y, RED if y < 6 else [GREEN, BLUE, YELLOW][y % 3])
        field.set(0, 1, OJAMA)  # 13th row, directly above the red of the 12th row
        field.chain()
        assert field.get(0, 1) == EMPTY
        assert OJAMA not in [field.get(0, y) for y in range(14)]

    def test_fourteenth_row_ojama_is_never_removed(self, cls):
        field = cls()
        for y in range(1, 14):
            field.set(0, y, RED if 2 <= y <= 5 else [GREEN, BLUE, YELLOW][y % 3])
        field.set(0, 0, OJAMA)
        field.chain()
        assert field.get(0, 0) == OJAMA


class TestChainResult:
    def test_has_no_constructor(self):
        with pytest.raises(TypeError):
            velmo.ChainResult()

    def test_attributes_are_read_only_ints(self):
        result = Field.from_str_array(["RRRR"]).chain()
        assert type(result.chain) is int and type(result.score) is int
        with pytest.raises(AttributeError):
            result.score = 1

    def test_keeps_identity_hashing(self):
        result = Field().chain()
        assert hash(result) == hash(result)


def test_array_field_flood_fill_reaching_a_wall_stops_unchanged(panic):
    field = ArrayField.from_str_array(["RRRRRR"]).set(6, 13, RED)  # red written over the right wall
    before = field.clone()
    with pytest.raises(panic, match="^index out of bounds: the len is 8 but the index is 8$"):
        field.chain()
    assert field == before


# ---------------------------------------------------------------------------------------------
# Placement
# ---------------------------------------------------------------------------------------------

RED_BLUE = Pair(RED, BLUE)


@BOTH
class TestPutPair:
    def test_top_puts_the_child_on_the_axis(self, cls):
        field = cls()
        assert field.put_pair(2, "top", RED_BLUE) is field
        assert (field.get(2, 13), field.get(2, 12)) == (code(cls, BLUE), code(cls, RED))

    def test_bottom_puts_the_child_below(self, cls):
        field = cls().put_pair(2, "BOTTOM", RED_BLUE)
        assert (field.get(2, 13), field.get(2, 12)) == (code(cls, RED), code(cls, BLUE))

    def test_left_and_right(self, cls):
        field = cls().put_pair(5, "left", RED_BLUE).put_pair(0, "right", RED_BLUE)
        assert (field.get(5, 13), field.get(4, 13)) == (code(cls, BLUE), code(cls, RED))
        assert (field.get(0, 13), field.get(1, 13)) == (code(cls, BLUE), code(cls, RED))

    @pytest.mark.parametrize("x, rotation, message", [(0, "left", "Invalid put operation (left, 1)"), (5, "right", "Invalid put operation (right, 6)"), (6, "top", "Invalid put operation (row=7)")])
    def test_refused_placements(self, cls, x, rotation, message):
        field = cls()
        with pytest.raises(RuntimeError) as info:
            field.put_pair(x, rotation, RED_BLUE)
        assert str(info.value) == message
        assert field == cls()

    def stack(self, cls, height, x=1):
        field = cls()
        for i in range(height):
            field.put(x, [GREEN, YELLOW][i % 2])
        return field

    @pytest.mark.parametrize("height, allowed", [(11, {"top", "bottom", "left", "right"}), (12, {"top", "left", "right"}), (13, {"left", "right"}), (14, set())])
    def test_height_limits(self, cls, height, allowed):
        for rotation in ("top", "bottom", "left", "right"):
            field = self.stack(cls, height)
            before = field.clone()
            if rotation in allowed:
                field.put_pair(1, rotation, RED_BLUE)
                assert sum(field.get(x, y) != 0 for x in range(6) for y in range(14)) == height + 2
            else:
                with pytest.raises(RuntimeError) as info:
                    field.put_pair(1, rotation, RED_BLUE)
                assert str(info.value) == "Invalid put operation (row=2)"
                assert field == before

    def test_top_on_twelve_fills_the_hidden_rows(self, cls):
        field = self.stack(cls, 12).put_pair(1, "top", RED_BLUE)
        assert (field.get(1, 1), field.get(1, 0)) == (code(cls, BLUE), code(cls, RED))

    @pytest.mark.parametrize("text", ["Top", "", "top ", "UP", "tOP"])
    def test_unknown_rotation_text_panics(self, cls, text, panic):
        field = cls()
        with pytest.raises(panic) as info:
            field.put_pair(0, text, RED_BLUE)
        assert str(info.value) == f'called `Result::unwrap()` on an `Err` value: InvalidRotationString("{text}")'
        assert field == cls()

    @pytest.mark.parametrize(
        "args, error",
        [((-1, "top", RED_BLUE), OverflowError), ((0.5, "top", RED_BLUE), TypeError), ((0, 0, RED_BLUE), TypeError), ((0, "top", (4, 5)), TypeError), ((0, "bad", None), TypeError)],
    )
    def test_arguments_are_converted_in_order(self, cls, args, error):
        with pytest.raises(error):
            cls().put_pair(*args)

    def test_put_hand(self, cls):
        field = cls().put_hand(Hand(3, Rotation.RIGHT), RED_BLUE)
        assert (field.get(3, 13), field.get(4, 13)) == (code(cls, BLUE), code(cls, RED))
        with pytest.raises(RuntimeError, match=r"^Invalid put operation \(left, 1\)$"):
            field.put_hand(Hand(0, Rotation.LEFT), RED_BLUE)
        with pytest.raises(TypeError):
            field.put_hand(RED_BLUE, Hand())

    def test_every_enumerated_hand_fits_an_empty_field(self, cls):
        for hand in Hand.enumerate():
            field = cls().put_hand(hand, RED_BLUE)
            assert field.get_num_puyos() == 2

    def test_columns_past_the_wall(self, cls, panic):
        for x in (7, 100, 2**64 - 1):
            shown = x + 1
            with pytest.raises(RuntimeError, match=rf"^Invalid put operation \(right, {shown}\)$"):
                cls().put_pair(x, "right", RED_BLUE)
            for rotation in ("top", "bottom", "left"):
                if cls is Field:
                    with pytest.raises(RuntimeError, match=rf"^Invalid put operation \(row={shown}\)$"):
                        cls().put_pair(x, rotation, RED_BLUE)
                else:
                    with pytest.raises(panic, match=rf"^index out of bounds: the len is 8 but the index is {shown}$"):
                        cls().put_pair(x, rotation, RED_BLUE)


def test_purple_pair_is_refused_by_field_and_placed_by_array_field(panic):
    field = Field()
    with pytest.raises(panic, match="^not implemented$"):
        field.put_pair(0, "top", Pair(PURPLE, RED))
    assert field == Field()
    assert ArrayField().put_pair(0, "top", Pair(PURPLE, RED)).get(0, 12) == 7


# ---------------------------------------------------------------------------------------------
# The two fields agree
# ---------------------------------------------------------------------------------------------

COLOURS = [RED, BLUE, YELLOW, GREEN]


@pytest.mark.parametrize("seed", range(6))
def test_random_games_agree_on_both_fields(seed):
    rng = random.Random(seed)
    bit, array = Field(), ArrayField()
    hands = Hand.enumerate()
    for _ in range(120):
        pair = Pair(rng.choice(COLOURS), rng.choice(COLOURS))
        hand = rng.choice(hands)
        outcomes = []
        for field in (bit, array):
            try:
                field.put_hand(hand, pair)
                outcomes.append(None)
            except RuntimeError as error:
                outcomes.append(str(error))
        assert outcomes[0] == outcomes[1]
        a, b = bit.chain(), array.chain()
        assert (a.chain, a.score) == (b.chain, b.score)
        assert bit.to_array() == [[v + (v > 2) for v in col] for col in array.to_array()]
        if outcomes[0] is not None and rng.random() < 0.2:
            bit, array = Field(), ArrayField()


@pytest.mark.parametrize("seed", range(4))
def test_random_fields_agree_cell_by_cell(seed):
    rng = random.Random(100 + seed)
    for _ in range(40):
        bit, array = Field(), ArrayField()
        for x in range(6):
            for y in range(14):
                if rng.random() < 0.6:
                    value = rng.choice([EMPTY, OJAMA, RED, BLUE, YELLOW, GREEN])
                    bit.set(x, y, value)
                    array.set(x, y, value)
        assert [bit.get_height(x) for x in range(7)] == [array.get_height(x) for x in range(7)]
        assert bit.get_num_puyos() == array.get_num_puyos()
        assert bit.is_all_clear() == array.is_all_clear()
        bit.step_chain()
        array.step_chain()
        assert bit.to_array() == [[v + (v > 2) for v in col] for col in array.to_array()]
        assert (bit == bit.clone()) and (array == array.clone())
