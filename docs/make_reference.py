"""Write docs/reference.md from the type stubs, so that the reference and the stubs never differ.

    python docs/make_reference.py            # rewrite docs/reference.md
    python docs/make_reference.py --check    # exit 1 if docs/reference.md is out of date

The stubs (stubs/velmo-stubs/__init__.pyi) are the single source: every signature and every
docstring of the reference comes from them, and editors show the same text.
"""

from __future__ import annotations

import ast
import sys
import textwrap
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
STUB = ROOT / "stubs" / "velmo-stubs" / "__init__.pyi"
REFERENCE = ROOT / "docs" / "reference.md"

HEADER = """\
# Reference

Every class, method and attribute of `velmo`, with its parameters and types.
This page is generated from the type stubs that editors and type checkers read
(`stubs/velmo-stubs/__init__.pyi`) by `python docs/make_reference.py`; do not
edit it by hand.

Notation:

* `SupportsIndex` is any integer: an `int`, a `bool` or a numpy integer.
* `_SequenceLike[T]` is anything with `len()` and integer indexing that yields
  `T`: a list, a tuple, or a numpy array.
* `_RotationName` is one of the eight rotation texts that `put_pair` accepts:
  "top", "TOP", "left", "LEFT", "bottom", "BOTTOM", "right", "RIGHT".
* Parameters before a `/` are positional only; all others may also be given by
  keyword under the names shown.
* `PanicException` is `pyo3_runtime.PanicException`, a `BaseException`; see
  [exceptions](errors.md).

Classes: {index}.
"""

SECTION_TITLES = ("Args:", "Returns:", "Raises:")


def render_docstring(doc: str | None) -> str:
    """Turn a stub docstring into Markdown: sections become bold titles with bullet lists."""
    if not doc:
        return ""
    lines = textwrap.dedent(_normalise(doc)).strip("\n").splitlines()
    out: list[str] = []
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.strip() in SECTION_TITLES:
            out.append(f"**{line.strip()[:-1]}**")
            out.append("")
            i += 1
            items: list[str] = []
            while i < len(lines) and (lines[i].startswith("    ") or not lines[i].strip()):
                text = lines[i].strip()
                if not text:
                    i += 1
                    continue
                if lines[i].startswith("        ") and items:
                    items[-1] += " " + text
                else:
                    items.append(text)
                i += 1
            for item in items:
                name, sep, rest = item.partition(": ")
                if sep and " " not in name:
                    out.append(f"* `{name}`: {rest}")
                else:
                    out.append(f"* {item}")
            out.append("")
            continue
        out.append(line.strip() if line.startswith(" ") else line)
        i += 1
    return "\n".join(out).strip() + "\n"


def _normalise(doc: str) -> str:
    """Dedent a docstring whose first line starts right after the quotes."""
    first, _, rest = doc.partition("\n")
    return first.strip() + "\n" + textwrap.dedent(rest)


def render_arguments(args: ast.arguments) -> str:
    parts: list[str] = []
    positional = list(args.posonlyargs) + list(args.args)
    if positional and positional[0].arg in ("self", "cls"):
        positional = positional[1:]
    n_posonly = max(0, len(args.posonlyargs) - (1 if args.posonlyargs and args.posonlyargs[0].arg in ("self", "cls") else 0))
    for index, arg in enumerate(positional):
        parts.append(f"{arg.arg}: {ast.unparse(arg.annotation)}" if arg.annotation else arg.arg)
        if index == n_posonly - 1:
            parts.append("/")
    if args.vararg:
        parts.append(f"*{args.vararg.arg}")
    if args.kwarg:
        parts.append(f"**{args.kwarg.arg}")
    return ", ".join(parts)


def decorator_names(node: ast.FunctionDef) -> list[str]:
    return [ast.unparse(d) for d in node.decorator_list]


def render_class(node: ast.ClassDef) -> str:
    out = [f"## `{node.name}`", "", render_docstring(ast.get_docstring(node, clean=False))]
    body = node.body
    attributes: list[str] = []
    members: list[str] = []
    for index, item in enumerate(body):
        if isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name):
            name = item.target.id
            if name == "__hash__":
                continue
            doc = ""
            following = body[index + 1] if index + 1 < len(body) else None
            if isinstance(following, ast.Expr) and isinstance(following.value, ast.Constant):
                doc = str(following.value.value)
            annotation = ast.unparse(item.annotation)
            value = f" = {ast.unparse(item.value)}" if item.value is not None else ""
            attributes.append(f"* `{node.name}.{name}: {annotation}{value}`: {doc}")
        elif isinstance(item, ast.FunctionDef):
            members.append(render_function(node.name, item))
    if any(isinstance(i, ast.AnnAssign) and getattr(i.target, "id", "") == "__hash__" for i in body):
        out.append("Instances are unhashable (`__hash__` is `None`).\n")
    if attributes:
        out += ["**Class attributes**", "", *attributes, ""]
    out += members
    return "\n".join(out)


def render_function(class_name: str, node: ast.FunctionDef) -> str:
    decorators = decorator_names(node)
    doc = render_docstring(ast.get_docstring(node, clean=False))
    returns = ast.unparse(node.returns) if node.returns else "None"
    if "property" in decorators:
        title = f"### `{class_name}.{node.name}: {returns}` (read-only)"
    elif node.name == "__new__":
        title = f"### `{class_name}({render_arguments(node.args)})`"
    else:
        prefix = "classmethod " if "classmethod" in decorators else ""
        title = f"### `{prefix}{class_name}.{node.name}({render_arguments(node.args)}) -> {returns}`"
    return f"{title}\n\n{doc}"


def generate() -> str:
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    classes = [n for n in tree.body if isinstance(n, ast.ClassDef) and not n.name.startswith("_")]
    index = ", ".join(f"[`{c.name}`](#{c.name.lower()})" for c in classes)
    parts = [HEADER.format(index=index)]
    parts += [render_class(c) for c in classes]
    text = "\n".join(parts)
    while "\n\n\n" in text:
        text = text.replace("\n\n\n", "\n\n")
    return text.rstrip("\n") + "\n"


def main(argv: list[str]) -> int:
    text = generate()
    if "--check" in argv:
        if REFERENCE.read_text(encoding="utf-8") != text:
            print(f"{REFERENCE} is out of date: run python docs/make_reference.py")
            return 1
        return 0
    REFERENCE.write_text(text, encoding="utf-8")
    return 0


if __name__ == "__main__":
    raise SystemExit(main(sys.argv[1:]))
