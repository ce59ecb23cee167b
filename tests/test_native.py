"""The core's own C++ tests, built with CMake and run here so that one command runs everything."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest
from conftest import NO_BUILD_TOOLS, have_build_tools

ROOT = Path(__file__).resolve().parent.parent
BINARIES = ["velmo_core_tests", "velmo_core_allocation_tests"]


@pytest.fixture(scope="session")
def core_tests(tmp_path_factory):
    if not have_build_tools():
        pytest.skip(NO_BUILD_TOOLS)
    if shutil.which("cmake") is None:
        pytest.skip("cmake is not installed")
    build = tmp_path_factory.mktemp("core-tests")
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    # These binaries check results, not speed: an unoptimised build compiles in about a third of the
    # time of a Release one.
    configure = ["cmake", "-S", str(ROOT), "-B", str(build), *generator, "-DVELMO_BUILD_PYTHON=OFF", "-DVELMO_BUILD_CORE_TESTS=ON",
                 "-DCMAKE_BUILD_TYPE=Debug"]
    subprocess.run(configure, check=True, capture_output=True)
    subprocess.run(["cmake", "--build", str(build), "--parallel", str(os.cpu_count() or 2), "--target", *BINARIES], check=True, capture_output=True)
    return build / "core" / "tests"


@pytest.mark.parametrize("binary", BINARIES)
def test_core_binary_passes(core_tests, binary):
    result = subprocess.run([str(core_tests / binary)], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr


# Every processor path the core can have; the ones this machine lacks are skipped.
CPU_PATHS = ["portable", "bmi2-avx2", "avx512"]


def machine_runs(path):
    """Whether the module accepts VELMO_CPU_PATH=path here (it warns about a path it cannot use)."""
    env = dict(os.environ, VELMO_CPU_PATH=path)
    probe = subprocess.run([sys.executable, "-W", "error::RuntimeWarning", "-c", "import velmo"], env=env, capture_output=True, text=True)
    return probe.returncode == 0


@pytest.mark.parametrize("path", CPU_PATHS)
def test_every_processor_path_gives_the_same_results(path):
    """The Python-level chain, search and field tests again, on each processor path of this machine."""
    if not machine_runs(path):
        pytest.skip(f"this machine has no {path} path")
    env = dict(os.environ, VELMO_CPU_PATH=path)
    tests = [str(ROOT / "tests" / name) for name in ("test_chains.py", "test_search.py", "test_fields.py")]
    result = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", *tests], env=env, capture_output=True, text=True)
    assert result.returncode == 0, result.stdout[-3000:]
