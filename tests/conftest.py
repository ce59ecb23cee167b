import pytest

import velmo

PanicException = None


def panic_type():
    """The module's internal-failure exception class (not exported; caught from a known failure)."""
    global PanicException
    if PanicException is None:
        try:
            velmo.Rotation.TOP < velmo.Rotation.TOP
        except BaseException as error:  # noqa: B036 - PanicException derives from BaseException
            PanicException = type(error)
    return PanicException


@pytest.fixture(scope="session")
def panic():
    return panic_type()
