"""A __del__ set on a class runs when an instance dies, and an instance it resurrects stays whole."""

from __future__ import annotations

import gc

import pytest

import velmo

MAKERS = {
    "Field": lambda: velmo.Field().put(0, 4),
    "ArrayField": lambda: velmo.ArrayField().put(0, 8),
    "Pair": lambda: velmo.Pair(4, 5),
    "Hand": lambda: velmo.Hand(2, velmo.Rotation.LEFT),
    "ChainResult": lambda: velmo.Field.from_str_array(["RRRR"]).chain(),
    "FoundChain": lambda: velmo.Field.from_str_array(["G", "B", "RBB", "RRRB"]).find_chain_by_removal()[0],
    "Rotation": lambda: velmo.Hand().rotation,
}


@pytest.fixture
def finalizer(request):
    """Sets __del__ on one class for the test and always takes it away again."""
    cls = getattr(velmo, request.param)

    def install(function):
        cls.__del__ = function

    yield cls, MAKERS[request.param], install
    if "__del__" in vars(cls):
        del cls.__del__
    gc.collect()


@pytest.mark.parametrize("finalizer", sorted(MAKERS), indirect=True)
def test_del_runs_once_per_death_and_sees_the_value(finalizer):
    cls, make, install = finalizer
    seen = []
    install(lambda self: seen.append(repr(self)))
    for _ in range(2):
        obj = make()
        seen.clear()  # whatever else the maker dropped
        shown = repr(obj)
        del obj
        assert seen == [shown]


@pytest.mark.parametrize("finalizer", ["Field", "ArrayField", "Pair"], indirect=True)
def test_resurrected_instance_stays_usable(finalizer):
    cls, make, install = finalizer
    kept = []
    install(lambda self: kept.append(self))
    original = make()
    state = original.__getstate__()
    del original
    (revived,) = kept
    assert type(revived) is cls and revived.__getstate__() == state
    assert revived == make()
    kept.clear()  # dies again: __del__ runs again and resurrects it again
    assert len(kept) == 1 and kept[0].__getstate__() == state
    del cls.__del__
    kept.clear()  # now it is freed for good


@pytest.mark.parametrize("finalizer", ["Field"], indirect=True)
def test_an_error_in_del_is_reported_not_raised(finalizer):
    _, make, install = finalizer
    import sys

    reported = []
    old_hook = sys.unraisablehook
    sys.unraisablehook = lambda unraisable: reported.append(unraisable.exc_type)
    try:
        install(lambda self: 1 / 0)
        obj = make()
        del obj
    finally:
        sys.unraisablehook = old_hook
    assert reported == [ZeroDivisionError]


def test_without_del_nothing_runs():
    assert "__del__" not in vars(velmo.Field)
    for make in MAKERS.values():
        make()
