import copy
import pickle

import pytest

import velmo

CLASS_NAMES = ["Field", "ArrayField", "PuyoType", "ChainResult", "Rotation", "Hand", "Pair", "FoundChain"]


def test_module_doc_is_empty_and_listed_first():
    assert velmo.__doc__ == ""
    assert velmo.__all__[0] == "__doc__"


def test_all_lists_the_classes_in_published_order():
    listed = velmo.__all__[1:]
    assert listed == [name for name in CLASS_NAMES if name in listed]
    for name in listed:
        assert isinstance(getattr(velmo, name), type)


@pytest.mark.parametrize("name", ["PuyoType", "Rotation", "Hand", "Pair"])
def test_class_objects_follow_the_common_template(name):
    cls = getattr(velmo, name)
    assert cls.__module__ == "velmo"
    assert cls.__doc__ is None
    assert cls.__name__ == name
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


@pytest.mark.parametrize("make", [lambda: velmo.Pair(), lambda: velmo.Hand(), lambda: velmo.Rotation.TOP])
def test_instances_have_no_dict_and_no_weakrefs(make):
    import weakref

    obj = make()
    with pytest.raises(AttributeError):
        obj.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(obj)


@pytest.mark.parametrize("name", ["PuyoType", "Rotation"])
def test_classes_without_constructor_refuse_instantiation(name):
    cls = getattr(velmo, name)
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        object.__new__(cls)


@pytest.mark.parametrize("make", [lambda: velmo.Pair(), lambda: velmo.Hand(), lambda: velmo.Rotation.TOP])
def test_comparable_classes_are_unhashable(make):
    with pytest.raises(TypeError):
        hash(make())


def test_panic_exception_is_a_base_exception_of_pyo3_runtime(panic):
    assert panic.__module__ == "pyo3_runtime"
    assert panic.__name__ == "PanicException"
    assert issubclass(panic, BaseException)
    assert not issubclass(panic, Exception)


def test_panic_is_not_caught_by_except_exception(panic):
    with pytest.raises(panic) as info:
        try:
            velmo.Pair(3, 4)
        except Exception:  # pragma: no cover - must not catch
            pytest.fail("PanicException was caught as an Exception")
    assert info.value.args == ("not implemented",)


def test_exception_classes_are_created_once(panic):
    for _ in range(3):
        with pytest.raises(BaseException) as info:
            velmo.Pair(9, 9)
        assert type(info.value) is panic


class TestArgumentParsing:
    """The five parsing messages, shown on the state methods that every piece class has."""

    def test_missing_positional(self):
        with pytest.raises(TypeError) as info:
            velmo.Pair().__setstate__()
        assert str(info.value) == "PyPair.__setstate__() missing required positional argument: state"

    def test_multiple_values(self):
        with pytest.raises(TypeError) as info:
            velmo.Hand().__setstate__(b"", state=b"")
        assert str(info.value) == "PyHand.__setstate__() got multiple values for argument: state"

    def test_unexpected_keyword_names_the_first_extra_key(self):
        with pytest.raises(TypeError) as info:
            velmo.Pair().__setstate__(b"", zeta=1, alpha=2)
        assert str(info.value) == "PyPair.__setstate__() got an unexpected keyword argument: zeta"

    @pytest.mark.parametrize(
        "call, message",
        [
            (lambda: velmo.Pair().__setstate__(b"", b""), "PyPair.__setstate__() takes at most 1 positional argument (2 given)"),
            (lambda: velmo.Hand().__getstate__(1), "PyHand.__getstate__() takes at most 0 positional arguments (1 given)"),
            (lambda: velmo.Pair().__getstate__(1, 2), "PyPair.__getstate__() takes at most 0 positional arguments (2 given)"),
        ],
    )
    def test_too_many_positional(self, call, message):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message

    def test_keyword_form_is_accepted(self):
        pair = velmo.Pair()
        pair.__setstate__(state=velmo.Pair(5, 6).__getstate__())
        assert pair == velmo.Pair(5, 6)

    def test_callers_keyword_dict_is_not_changed(self):
        kwargs = {"state": velmo.Pair(4, 4).__getstate__()}
        velmo.Pair().__setstate__(**kwargs)
        assert list(kwargs) == ["state"]

    @pytest.mark.parametrize("cls, name", [(velmo.Pair, "PyPair"), (velmo.Hand, "PyHand")])
    def test_constructors_refuse_keywords(self, cls, name):
        with pytest.raises(TypeError) as info:
            cls(x=1)
        assert str(info.value) == f"{name}.__new__() got an unexpected keyword argument: x"


@pytest.mark.parametrize("bad", [bytearray(b"\x03\0\0\0\x03\0\0\0"), memoryview(b"\x03\0\0\0\x03\0\0\0"), "abc", 5])
def test_state_must_be_bytes(bad):
    with pytest.raises(TypeError) as info:
        velmo.Pair().__setstate__(bad)
    assert str(info.value) == ""


def test_bytes_subclass_is_a_valid_state():
    class Raw(bytes):
        pass

    pair = velmo.Pair()
    pair.__setstate__(Raw(b"\x04\0\0\0\x05\0\0\0"))
    assert pair == velmo.Pair(5, 6)


@pytest.mark.parametrize("obj", [velmo.Pair(4, 8), velmo.Hand(5, velmo.Rotation.LEFT)])
@pytest.mark.parametrize("protocol", range(2, pickle.HIGHEST_PROTOCOL + 1))
def test_pickle_round_trip(obj, protocol):
    assert pickle.loads(pickle.dumps(obj, protocol)) == obj
    assert copy.copy(obj) == obj
    assert copy.deepcopy(obj) == obj
