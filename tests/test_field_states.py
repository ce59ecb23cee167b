import copy
import pickle

import pytest

from velmo import ArrayField, Field

BOTH = pytest.mark.parametrize("cls", [Field, ArrayField], ids=["Field", "ArrayField"])
UNWRAP = "called `Result::unwrap()` on an `Err` value: "
WALL_PLANE = bytes.fromhex("ffff018001800180018001800180ffff")


def test_new_field_state_layout():
    state = Field().__getstate__()
    assert len(state) == 56
    assert state[:8] == bytes.fromhex("3000000000000000")
    assert state[8:24] == bytes(16)
    assert state[24:40] == WALL_PLANE
    assert state[40:56] == bytes(16)


def test_new_array_field_state_layout():
    state = ArrayField().__getstate__()
    wall, empty = bytes.fromhex("02000000"), bytes(4)
    column = wall + empty * 14 + wall
    assert state == wall * 16 + column * 6 + wall * 16


@BOTH
@pytest.mark.parametrize("protocol", [2, pickle.HIGHEST_PROTOCOL])
def test_round_trips(cls, protocol):
    field = cls.from_str_array(["O", "RGBY", "GGBBYO"]).set(2, 0, 1)
    restored = cls()
    restored.__setstate__(field.__getstate__())
    assert restored == field
    assert pickle.loads(pickle.dumps(field, protocol)) == field
    assert copy.copy(field) == field
    assert copy.deepcopy(field) == field


def test_purple_survives_the_array_field_state():
    field = ArrayField().put(3, 8)
    assert pickle.loads(pickle.dumps(field)).get(3, 13) == 7


def field_state(length, body):
    return length.to_bytes(8, "little") + body


class TestFieldStateFailures:
    def test_extra_bytes_after_the_planes_are_ignored(self):
        body = Field.from_str_array(["RB"]).__getstate__()[8:] + bytes(12)
        field = Field()
        field.__setstate__(field_state(48, body))
        assert field == Field.from_str_array(["RB"])
        field.__setstate__(field_state(60, body))
        assert field == Field.from_str_array(["RB"])

    @pytest.mark.parametrize(
        "state, message",
        [
            (field_state(40, bytes(40)), "range end index 48 out of range for slice of length 40"),
            (field_state(20, bytes(20)), "range end index 32 out of range for slice of length 20"),
            (field_state(3, bytes(3)), "range end index 16 out of range for slice of length 3"),
            (field_state(100, bytes(48)), UNWRAP + 'Io(Custom { kind: UnexpectedEof, error: "" })'),
            (bytes(7), UNWRAP + "Io(Kind(UnexpectedEof))"),
            (b"", UNWRAP + "Io(Kind(UnexpectedEof))"),
        ],
    )
    def test_bad_states_keep_the_field(self, state, message, panic):
        field = Field.from_str_array(["G"])
        with pytest.raises(panic) as info:
            field.__setstate__(state)
        assert str(info.value) == message
        assert field == Field.from_str_array(["G"])

    def test_code_three_loads_but_cannot_be_read(self, panic):
        state = bytearray(Field().__getstate__())
        # cell (1, 14): bit 16 + 1 in planes 0 and 1 -> code 3
        state[8 + 2] |= 0x02
        state[24 + 2] |= 0x02
        field = Field()
        field.__setstate__(bytes(state))
        for read in (lambda f: f.get(0, 13), lambda f: f.to_array(), lambda f: f.get_pretty_string(), lambda f: f.equals_without_fuzzy(Field())):
            with pytest.raises(panic) as info:
                read(field)
            assert str(info.value) == "Failed to get puyo from field bits: InvalidPuyoTypeNumber(3)"
        assert field != Field()  # equality compares planes and does not fail


class TestArrayFieldStateFailures:
    @pytest.mark.parametrize(
        "state, message",
        [
            (bytes(508), "Io(Kind(UnexpectedEof))"),
            (bytes.fromhex("08000000") + bytes(508), 'Custom("invalid value: integer `8`, expected variant index 0 <= i < 8")'),
            (bytes(4) + bytes.fromhex("ffffffff"), 'Custom("invalid value: integer `4294967295`, expected variant index 0 <= i < 8")'),
        ],
    )
    def test_bad_states_keep_the_field(self, state, message, panic):
        field = ArrayField.from_str_array(["P"])
        with pytest.raises(panic) as info:
            field.__setstate__(state)
        assert str(info.value) == UNWRAP + message
        assert field == ArrayField.from_str_array(["P"])

    def test_longer_state_is_accepted(self):
        field = ArrayField()
        field.__setstate__(ArrayField.from_str_array(["RP"]).__getstate__() + b"junk")
        assert field == ArrayField.from_str_array(["RP"])


@BOTH
def test_state_must_be_bytes(cls):
    with pytest.raises(TypeError) as info:
        cls().__setstate__(bytearray(cls().__getstate__()))
    assert str(info.value) == ""
