import signal

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


def have_build_tools() -> bool:
    """Whether CMake and a C++ compiler are on PATH (they are not where an installed wheel is tested)."""
    import os
    import shutil

    compiler = os.environ.get("CXX", "").split()
    compilers = [compiler[0]] if compiler else ["c++", "g++", "clang++"]
    return shutil.which("cmake") is not None and any(shutil.which(name) for name in compilers)


NO_BUILD_TOOLS = "needs CMake and a C++ compiler on PATH (none there, as where an installed wheel is tested)"
needs_build_tools = pytest.mark.skipif(not have_build_tools(), reason=NO_BUILD_TOOLS)

# A shell starts background jobs with SIGINT ignored, and Python then installs no handler for it:
# there Ctrl-C cannot reach the interpreter, and a test waiting for it would never end.
needs_ctrl_c = pytest.mark.skipif(signal.getsignal(signal.SIGINT) is not signal.default_int_handler,
                                  reason="SIGINT does not reach Python in this process (ignored, or handled elsewhere)")


@pytest.fixture
def frozen_heap():
    """Moves every object alive now out of the collector's reach for the test.

    Leak tests collect garbage many times; once the suite has imported large libraries (the
    cluster engines, Gymnasium) each full collection walks hundreds of thousands of objects that
    the calls under test never touch. Frozen, they are skipped, while whatever the calls create
    is still collected and counted.
    """
    import gc

    gc.collect()
    gc.freeze()
    try:
        yield
    finally:
        gc.unfreeze()


@pytest.fixture(scope="session")
def mypy_cache_dir(tmp_path_factory):
    """One mypy cache for every type-checking test: NumPy's and the libraries' stubs are analysed
    once per run instead of once per test module."""
    return str(tmp_path_factory.mktemp("mypy-cache"))
