"""The type stubs: complete, documented, in step with the module, and strict enough to catch mistakes.

The mypy checks run when mypy is installed (``pip install ".[test]"`` installs it) and are skipped
otherwise. When velmo is installed, the stubs that came with it (site-packages/velmo-stubs) are
checked; when it is imported from a build tree, the stubs of this repository are used.
"""

from __future__ import annotations

import ast
import importlib.util
import os
import subprocess
import sys
from pathlib import Path

import pytest

import velmo

ROOT = Path(__file__).resolve().parent.parent
STUB = ROOT / "stubs" / "velmo-stubs" / "__init__.pyi"

needs_mypy = pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")


def installed_stub() -> Path | None:
    """The velmo-stubs package next to the imported module, if there is one."""
    candidate = Path(velmo.__file__).parent / "velmo-stubs" / "__init__.pyi"
    return candidate if candidate.is_file() else None


def installed_in_site_packages() -> bool:
    return Path(velmo.__file__).parent.name in ("site-packages", "dist-packages")


@pytest.fixture(scope="module")
def mypy_env(tmp_path_factory, mypy_cache_dir):
    env = dict(os.environ)
    env["MYPY_CACHE_DIR"] = mypy_cache_dir
    if installed_stub() is None:
        folder = tmp_path_factory.mktemp("stubs")
        (folder / "velmo.pyi").write_text(STUB.read_text(encoding="utf-8"), encoding="utf-8")
        env["MYPYPATH"] = str(folder)
    return env


def mypy(env, *args: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [sys.executable, "-m", "mypy", *args], cwd=ROOT, env=env, capture_output=True, text=True, timeout=600
    )


# ---------------------------------------------------------------------------------------------
# The stub file itself
# ---------------------------------------------------------------------------------------------


def stub_tree() -> ast.Module:
    return ast.parse(STUB.read_text(encoding="utf-8"))


def public_classes() -> list[ast.ClassDef]:
    return [node for node in stub_tree().body if isinstance(node, ast.ClassDef) and not node.name.startswith("_")]


def test_stubs_cover_every_class_of_the_module():
    assert [c.name for c in public_classes()] == velmo.__all__[1:]


def test_every_class_and_method_has_a_docstring():
    for cls in public_classes():
        assert ast.get_docstring(cls), cls.name
        for item in cls.body:
            if isinstance(item, ast.FunctionDef):
                assert ast.get_docstring(item), f"{cls.name}.{item.name}"


@pytest.mark.parametrize(
    "name, parameters",
    [
        ("get", ["x", "y"]),
        ("set", ["x", "y", "value"]),
        ("put", ["x", "value"]),
        ("get_height", ["x"]),
        ("has_type", ["puyotype"]),
        ("put_pair", ["x", "rotation", "pair"]),
        ("put_hand", ["hand", "pair"]),
        ("equals_without_fuzzy", ["other"]),
        ("from_str_array", ["s"]),
        ("from_array", ["s"]),
        ("__setstate__", ["state"]),
    ],
)
def test_parameter_names_are_the_keyword_names_of_the_module(name, parameters):
    """The stubs name each parameter as the module accepts it by keyword."""
    for cls in public_classes():
        if cls.name not in ("Field", "ArrayField"):
            continue
        method = next(item for item in cls.body if isinstance(item, ast.FunctionDef) and item.name == name)
        assert [a.arg for a in method.args.args[1:]] == parameters
    field = velmo.Field()
    if name in ("get", "set", "put", "get_height", "has_type"):
        values = {"x": 0, "y": 13, "value": 4, "puyotype": 4}
        getattr(field, name)(**{p: values[p] for p in parameters})


def test_module_has_no_docstrings():
    """Documentation lives in the stubs only."""
    assert velmo.__doc__ == ""
    for name in velmo.__all__[1:]:
        assert getattr(velmo, name).__doc__ is None


def test_stubs_installed_with_the_module():
    """An installed velmo brings its stubs, identical to this repository's."""
    if not installed_in_site_packages():
        pytest.skip("velmo is not imported from an installation")
    stub = installed_stub()
    assert stub is not None, "velmo-stubs/ is not installed next to velmo"
    assert stub.read_text(encoding="utf-8") == STUB.read_text(encoding="utf-8")


# ---------------------------------------------------------------------------------------------
# mypy
# ---------------------------------------------------------------------------------------------


@needs_mypy
def test_mypy_strict_on_examples_and_typed_usage(mypy_env):
    done = mypy(mypy_env, "--strict", "examples", "tests/typed_usage.py")
    assert done.returncode == 0, done.stdout + done.stderr


def test_typed_usage_runs():
    sys.path.insert(0, str(ROOT / "tests"))
    try:
        import typed_usage

        typed_usage.exercise()
    finally:
        sys.path.remove(str(ROOT / "tests"))


MISTAKES = {
    'field.get("0", 13)': "arg-type",
    "field.put_pair(0, Rotation.TOP, Pair())": "arg-type",
    "field.put_hand(Hand(), (4, 5))": "arg-type",
    "field < Field()": "operator",
    "ArrayField().find_chain_by_removal()": "attr-defined",
    "field.equals_without_fuzzy(ArrayField())": "arg-type",
    "Pair(4)": "call-overload",
    'Hand(0, "top")': "call-overload",
    "field.chain().chain = 3": "misc",
    "Field.from_str_array([1, 2])": "list-item",
    "Pair().child.upper()": "attr-defined",
    "for colour in Pair(): pass": "attr-defined",
    "field.get(0, 13, 2)": "call-arg",
    "field.put(0, value=4, y=3)": "call-arg",
}


@needs_mypy
def test_mypy_catches_mistakes(mypy_env, tmp_path):
    lines = ["from velmo import ArrayField, Field, Hand, Pair, Rotation", "", "def mistakes(field: Field) -> None:"]
    first = len(lines) + 1
    lines += [f"    {code}" for code in MISTAKES]
    source = tmp_path / "mistakes.py"
    source.write_text("\n".join(lines) + "\n")
    done = mypy(mypy_env, "--strict", "--show-error-codes", str(source))
    output = done.stdout
    for offset, (code, error_code) in enumerate(MISTAKES.items()):
        assert f"mistakes.py:{first + offset}: error:" in output and f"[{error_code}]" in output, (code, output)


@needs_mypy
def test_stubtest_finds_no_difference(mypy_env):
    done = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "velmo"],
        cwd=ROOT,
        env=mypy_env,
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert done.returncode == 0, done.stdout + done.stderr


@needs_mypy
def test_mypy_knows_the_rotation_texts(mypy_env, tmp_path):
    source = tmp_path / "rotations.py"
    source.write_text(
        "from velmo import Field, Pair\n"
        "def place(field: Field, name: str) -> None:\n"
        '    field.put_pair(0, "RIGHT", Pair()).put_pair(0, "bottom", Pair())\n'
        '    field.put_pair(0, "Top", Pair())\n'
        "    field.put_pair(0, name, Pair())\n"
    )
    done = mypy(mypy_env, "--strict", "--show-error-codes", str(source))
    errors = [line for line in done.stdout.splitlines() if ": error:" in line]
    assert [line.split(":")[1] for line in errors] == ["4", "5"], done.stdout
    assert all("[arg-type]" in line for line in errors), done.stdout
