"""What a user finds from a Python prompt: signatures, help(), docstrings and the version."""

from __future__ import annotations

import ast
import importlib.metadata
import importlib.util
import inspect
import pydoc
import re
from pathlib import Path

import pytest

import velmo

ROOT = Path(__file__).resolve().parent.parent
STUB = ROOT / "stubs" / "velmo-stubs" / "__init__.pyi"
GENERATOR = ROOT / "tools" / "make_method_docs.py"

needs_source_tree = pytest.mark.skipif(
    not (STUB.is_file() and GENERATOR.is_file()), reason="needs the source tree (stubs/ and tools/)"
)


def stub_functions() -> dict[tuple[str, str], ast.FunctionDef]:
    """(class, name) -> the stub's definition, for every method, class method and property."""
    found = {}
    for cls in ast.parse(STUB.read_text(encoding="utf-8")).body:
        if isinstance(cls, ast.ClassDef) and not cls.name.startswith("_"):
            for item in cls.body:
                if isinstance(item, ast.FunctionDef):
                    found.setdefault((cls.name, item.name), item)
    return found


def table_entries():
    """Every method, class method and getter of every class, as found on the class."""
    for class_name in velmo.__all__[1:]:
        cls = getattr(velmo, class_name)
        for name, member in vars(cls).items():
            if type(member).__name__ in ("method_descriptor", "classmethod_descriptor", "getset_descriptor"):
                yield class_name, name, member


ENTRIES = sorted((c, n) for c, n, _ in table_entries())


def test_the_tables_are_what_the_classes_publish():
    field_methods = {n for c, n in ENTRIES if c == "Field"}
    assert len(field_methods) == 20  # 21 entries less the constructor
    assert {n for c, n in ENTRIES if c == "ArrayField"} == field_methods - {"find_chain_by_removal"}
    assert {n for c, n in ENTRIES if c == "Hand"} == {"x", "rotation", "enumerate", "__setstate__", "__getstate__"}


@needs_source_tree
@pytest.mark.parametrize("class_name, name", ENTRIES, ids=lambda v: v)
def test_every_entry_is_documented_with_the_stub_text(class_name, name):
    member = vars(getattr(velmo, class_name))[name]
    stub = stub_functions()[(class_name, name)]
    assert inspect.getdoc(member) == ast.get_docstring(stub, clean=True)


@needs_source_tree
@pytest.mark.parametrize("class_name, name", [e for e in ENTRIES if type(vars(getattr(velmo, e[0]))[e[1]]).__name__ != "getset_descriptor"])
def test_signatures_name_the_real_parameters(class_name, name):
    cls = getattr(velmo, class_name)
    stub = stub_functions()[(class_name, name)]
    expected = [a.arg for a in stub.args.args[1:]]
    attribute = getattr(cls, name)
    if isinstance(vars(cls)[name], classmethod) or type(vars(cls)[name]).__name__ == "classmethod_descriptor":
        parameters = list(inspect.signature(attribute).parameters.values())  # bound to the class
    else:
        self_param, *parameters = inspect.signature(attribute).parameters.values()
        assert self_param.name == "self" and self_param.kind is inspect.Parameter.POSITIONAL_ONLY
    assert [p.name for p in parameters] == expected
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD and p.default is p.empty for p in parameters)


def test_signature_of_a_bound_method_drops_self():
    assert str(inspect.signature(velmo.Field.get)) == "(self, /, x, y)"
    assert str(inspect.signature(velmo.Field().get)) == "(x, y)"
    assert str(inspect.signature(velmo.ArrayField.from_str_array)) == "(s)"
    assert str(inspect.signature(velmo.Pair().__getstate__)) == "()"


@pytest.mark.parametrize("class_name", velmo.__all__[1:])
def test_help_lists_every_entry_with_a_description(class_name):
    text = pydoc.render_doc(getattr(velmo, class_name), renderer=pydoc.plaintext)
    for cls, name in ENTRIES:
        if cls != class_name:
            continue
        match = re.search(rf"^ \|  {re.escape(name)}(\(.*\))?( from builtins.type)?\n \|      (\S.*)$", text, re.MULTILINE)
        assert match, (name, text)


def test_classes_keep_no_docstring_and_messages_stay():
    for name in velmo.__all__[1:]:
        assert getattr(velmo, name).__doc__ is None
    with pytest.raises(TypeError) as info:
        velmo.Field().get(1)
    assert str(info.value) == "PyField.get() missing required positional argument: y"


def test_version_is_the_distributions():
    assert isinstance(velmo.__version__, str) and "__version__" not in velmo.__all__
    assert sorted(n for n in dir(velmo) if not n.startswith("_")) == sorted(velmo.__all__[1:])
    try:
        installed = importlib.metadata.version("velmo")
    except importlib.metadata.PackageNotFoundError:
        installed = None
    if installed is not None and importlib.metadata.distribution("velmo").locate_file("") in Path(velmo.__file__).parents:
        assert velmo.__version__ == installed
    elif (ROOT / "pyproject.toml").is_file():  # a build tree: the version of the sources
        assert f'\nversion = "{velmo.__version__}"\n' in (ROOT / "pyproject.toml").read_text(encoding="utf-8")


@needs_source_tree
def test_generated_docstrings_are_up_to_date():
    spec = importlib.util.spec_from_file_location("make_method_docs", GENERATOR)
    assert spec and spec.loader
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    assert (ROOT / "python" / "src" / "method_docs.hpp").read_text(encoding="utf-8") == module.generate(), (
        "python/src/method_docs.hpp is out of date: run python tools/make_method_docs.py"
    )
