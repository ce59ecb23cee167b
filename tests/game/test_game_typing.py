"""velmo_game's type stubs: generated from the bindings and current, `mypy --strict` clean, and in
step with the runtime (stubtest)."""

from __future__ import annotations

import importlib.util
import os
import subprocess
import sys
from pathlib import Path

import pytest

import velmo
import velmo_game

ROOT = Path(__file__).resolve().parents[2]
HERE = Path(__file__).resolve().parent
VELMO_STUB = ROOT / "stubs" / "velmo-stubs" / "__init__.pyi"

needs_mypy = pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")


@pytest.fixture(scope="module")
def mypy_env(tmp_path_factory: pytest.TempPathFactory, mypy_cache_dir: str) -> dict[str, str]:
    """Finds velmo's stubs and velmo_game wherever they were imported from (site-packages or a build)."""
    env = dict(os.environ)
    env["MYPY_CACHE_DIR"] = mypy_cache_dir
    paths = []
    if not (Path(velmo.__file__).parent / "velmo-stubs").is_dir():
        folder = tmp_path_factory.mktemp("stubs")
        (folder / "velmo.pyi").write_text(VELMO_STUB.read_text(encoding="utf-8"), encoding="utf-8")
        paths.append(str(folder))
    package_parent = Path(velmo_game.__file__).parent.parent
    if package_parent.name not in ("site-packages", "dist-packages"):
        paths.append(str(package_parent))
    if paths:
        env["MYPYPATH"] = os.pathsep.join(paths)
    return env


def run(env: dict[str, str], *args: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run([sys.executable, "-m", *args], cwd=HERE, env=env, capture_output=True, text=True, timeout=600)


@needs_mypy
def test_mypy_strict_on_typed_usage(mypy_env: dict[str, str]) -> None:
    done = run(mypy_env, "mypy", "--strict", "typed_game_usage.py")
    assert done.returncode == 0, done.stdout + done.stderr


# The environment modules import Gymnasium and PettingZoo, which mypy must see to check them.
needs_environment_libraries = pytest.mark.skipif(
    any(importlib.util.find_spec(name) is None for name in ("gymnasium", "pettingzoo")),
    reason="gymnasium and pettingzoo are not installed",
)


@needs_mypy
@needs_environment_libraries
def test_mypy_strict_on_the_package(mypy_env: dict[str, str]) -> None:
    done = run(mypy_env, "mypy", "--strict", "-p", "velmo_game")
    assert done.returncode == 0, done.stdout + done.stderr


@needs_mypy
@needs_environment_libraries
def test_stubtest_finds_no_difference(mypy_env: dict[str, str]) -> None:
    # Only the native module has stubs of its own; the Python modules are their own stubs, which
    # mypy --strict checks above.
    done = run(mypy_env, "mypy.stubtest", "velmo_game._native", "--allowlist", str(HERE / "stubtest_allowlist.txt"))
    assert done.returncode == 0, done.stdout + done.stderr


def test_typed_usage_runs() -> None:
    sys.path.insert(0, str(HERE))
    try:
        import typed_game_usage

        typed_game_usage.exercise()
    finally:
        sys.path.remove(str(HERE))


def test_the_stubs_are_generated_from_the_bindings() -> None:
    nanobind = pytest.importorskip("nanobind")
    if nanobind.__version__ != "3.1.0":
        pytest.skip("the committed stubs were written by nanobind 3.1.0's stubgen")
    done = subprocess.run([sys.executable, str(ROOT / "tools" / "make_game_stubs.py"), "--check"],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
