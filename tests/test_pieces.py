import pytest

import velmo
from velmo import Hand, Pair, PuyoType, Rotation

UNWRAP = "called `Result::unwrap()` on an `Err` value: "


class TestPuyoType:
    def test_constants_are_the_python_numbers(self):
        values = {name: getattr(PuyoType, name) for name in ["EMPTY", "OJAMA", "WALL", "RED", "BLUE", "YELLOW", "GREEN", "PURPLE"]}
        assert values == {"EMPTY": 0, "OJAMA": 1, "WALL": 2, "RED": 4, "BLUE": 5, "YELLOW": 6, "GREEN": 7, "PURPLE": 8}
        assert all(type(v) is int for v in values.values())

    def test_no_type_is_numbered_three(self):
        assert 3 not in [v for k, v in vars(PuyoType).items() if k.isupper()]


class TestRotation:
    @pytest.mark.parametrize("rotation, text", [(Rotation.TOP, "top"), (Rotation.LEFT, "left"), (Rotation.BOTTOM, "bottom"), (Rotation.RIGHT, "right")])
    def test_text_forms(self, rotation, text):
        assert str(rotation) == text
        assert repr(rotation) == f"<Rotation object {text}>"

    def test_equality_is_by_value(self):
        assert Rotation.TOP == Rotation.TOP
        assert Hand(0, Rotation.LEFT).rotation == Rotation.LEFT
        assert Rotation.TOP != Rotation.LEFT
        assert not (Rotation.TOP != Rotation.TOP)

    @pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
    def test_ordering_is_not_implemented(self, op, panic):
        with pytest.raises(panic, match="^not implemented$"):
            eval(f"Rotation.TOP {op} Rotation.LEFT")

    @pytest.mark.parametrize("other", [0, None, "top", Pair()])
    def test_comparing_with_another_type_raises(self, other):
        with pytest.raises(TypeError) as info:
            Rotation.TOP == other
        assert str(info.value) == ""

    def test_membership_test_compares_and_raises(self):
        with pytest.raises(TypeError):
            Rotation.TOP in [1, 2]


class TestPair:
    def test_colors_report_array_codes(self):
        pair = Pair(PuyoType.RED, PuyoType.BLUE)
        assert (pair.child, pair.axis) == (3, 4)
        assert (pair[0], pair[1]) == (3, 4)

    @pytest.mark.parametrize("number, code", [(0, 0), (1, 1), (2, 2), (4, 3), (5, 4), (6, 5), (7, 6), (8, 7)])
    def test_every_python_number_maps_to_its_array_code(self, number, code):
        assert Pair(number, number).axis == code

    def test_default_pair_is_red_red(self):
        assert Pair() == Pair(4, 4)

    def test_order_matters(self):
        assert Pair(4, 5) != Pair(5, 4)

    def test_repr_uses_debug_names(self):
        assert repr(Pair(4, 5)) == "<Pair object Pair { colors: [Red, Blue] }>"
        assert repr(Pair(8, 0)) == "<Pair object Pair { colors: [Purple, Empty] }>"

    @pytest.mark.parametrize("index", [2, -1, -2, 100])
    def test_other_indices_raise_runtime_error(self, index):
        with pytest.raises(RuntimeError) as info:
            Pair(4, 5)[index]
        assert str(info.value) == f"Invalid index {index}"

    def test_iteration_ends_in_runtime_error(self):
        with pytest.raises(RuntimeError):
            list(Pair(4, 5))
        with pytest.raises(RuntimeError):
            child, axis = Pair(4, 5)

    @pytest.mark.parametrize("args", [(4,), (4, 5, 6), (1, 2, 3, 4)])
    def test_wrong_argument_count_is_not_implemented(self, args, panic):
        with pytest.raises(panic, match="^not implemented$"):
            Pair(*args)

    @pytest.mark.parametrize("args", [(3, 4), (4, 9), (2**64 - 1, 4)])
    def test_numbers_without_a_type_are_not_implemented(self, args, panic):
        with pytest.raises(panic, match="^not implemented$"):
            Pair(*args)

    @pytest.mark.parametrize("args", [(1.5, 4), (4, "x"), (-1, 4), (2**64, 4)])
    def test_non_integer_arguments_panic_with_invalid_argument(self, args, panic):
        with pytest.raises(panic) as info:
            Pair(*args)
        assert str(info.value).startswith("Invalid argument")

    def test_index_protocol_is_used(self):
        assert Pair(True, 4) == Pair(1, 4)

    @pytest.mark.parametrize("pair, state", [(Pair(), "0300000003000000"), (Pair(4, 5), "0300000004000000")])
    def test_state_layout(self, pair, state):
        assert pair.__getstate__().hex() == state

    @pytest.mark.parametrize(
        "state, message",
        [
            (bytes.fromhex("0900000003000000"), 'Custom("invalid value: integer `9`, expected variant index 0 <= i < 8")'),
            (bytes.fromhex("0300000008000000"), 'Custom("invalid value: integer `8`, expected variant index 0 <= i < 8")'),
            (bytes.fromhex("09000000"), 'Custom("invalid value: integer `9`, expected variant index 0 <= i < 8")'),
            (bytes.fromhex("03000000"), "Io(Kind(UnexpectedEof))"),
            (b"", "Io(Kind(UnexpectedEof))"),
        ],
    )
    def test_bad_states_fail_and_keep_the_value(self, state, message, panic):
        pair = Pair(6, 7)
        with pytest.raises(panic) as info:
            pair.__setstate__(state)
        assert str(info.value) == UNWRAP + message
        assert pair == Pair(6, 7)

    def test_longer_state_is_accepted(self):
        pair = Pair()
        pair.__setstate__(bytes.fromhex("0600000007000000ffff"))
        assert (pair.child, pair.axis) == (6, 7)


class TestHand:
    def test_column_and_rotation(self):
        hand = Hand(2, Rotation.RIGHT)
        assert hand.x == 2
        assert hand.rotation == Rotation.RIGHT
        assert repr(hand) == "<Hand object 3-right>"

    def test_rotation_getter_returns_a_new_object(self):
        hand = Hand(0, Rotation.LEFT)
        assert hand.rotation is not hand.rotation

    def test_default_hand(self):
        assert Hand() == Hand(0, Rotation.TOP)
        assert repr(Hand()) == "<Hand object 1-top>"

    def test_any_column_is_accepted(self):
        assert Hand(100, Rotation.TOP).x == 100
        assert repr(Hand(100, Rotation.TOP)) == "<Hand object 101-top>"

    @pytest.mark.parametrize("other", [Hand(1, Rotation.TOP), Hand(0, Rotation.LEFT)])
    def test_equality_uses_column_and_rotation(self, other):
        assert Hand(0, Rotation.TOP) != other

    @pytest.mark.parametrize("args", [(0,), (0, Rotation.TOP, 1)])
    def test_wrong_argument_count_is_not_implemented(self, args, panic):
        with pytest.raises(panic, match="^not implemented$"):
            Hand(*args)

    @pytest.mark.parametrize("args", [(-1, Rotation.TOP), ("0", Rotation.TOP), (0, 0), (0, "top")])
    def test_bad_arguments_panic_with_unwrap(self, args, panic):
        with pytest.raises(panic) as info:
            Hand(*args)
        assert str(info.value).startswith(UNWRAP)

    def test_enumerate_lists_the_22_legal_hands(self):
        hands = Hand.enumerate()
        assert type(hands) is list
        expected = (
            [Hand(x, Rotation.TOP) for x in range(6)]
            + [Hand(x, Rotation.LEFT) for x in range(1, 6)]
            + [Hand(x, Rotation.BOTTOM) for x in range(6)]
            + [Hand(x, Rotation.RIGHT) for x in range(5)]
        )
        assert hands == expected
        assert Hand.enumerate(1, key=2) == expected  # arguments are ignored

    @pytest.mark.parametrize(
        "hand, state",
        [(Hand(), "010000000000000000000000"), (Hand(2, Rotation.RIGHT), "030000000000000003000000")],
    )
    def test_state_layout(self, hand, state):
        assert hand.__getstate__().hex() == state

    def test_column_zero_state_shows_the_largest_column(self):
        hand = Hand()
        hand.__setstate__(bytes(12))
        assert hand.x == 2**64 - 1

    @pytest.mark.parametrize(
        "state, message",
        [
            (bytes(11), "Io(Kind(UnexpectedEof))"),
            (bytes(8) + bytes.fromhex("04000000"), 'Custom("invalid value: integer `4`, expected variant index 0 <= i < 4")'),
        ],
    )
    def test_bad_states_fail(self, state, message, panic):
        hand = Hand(3, Rotation.LEFT)
        with pytest.raises(panic) as info:
            hand.__setstate__(state)
        assert str(info.value) == UNWRAP + message
        assert hand == Hand(3, Rotation.LEFT)
