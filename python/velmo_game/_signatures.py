"""Signatures that ``inspect.signature`` can read, for the classes of the native extension.

nanobind records each function's signature as the text of a Python ``def`` (its
``__nb_signature__``), but its function objects are immutable and carry no
``__text_signature__``, so ``inspect`` cannot see parameters. This module reads those ``def``
texts once at import and puts, in place of each public method, a plain Python function with the
same parameters that forwards to the native one and carries the signature and docstring. Dunder
methods stay native: the interpreter calls them through type slots, where a forwarding layer
would only cost time. A class also gets ``__signature__`` from its ``__init__``.
"""

from __future__ import annotations

import ast
import inspect
from typing import Any, Callable

_NATIVE_FUNCTION_TYPES = ("nb_func", "nb_method")


def _is_native(function: object) -> bool:
    return type(function).__name__ in _NATIVE_FUNCTION_TYPES and hasattr(function, "__nb_signature__")


def _def_of(function: Any) -> ast.FunctionDef:
    text = function.__nb_signature__[0][0]
    tree = ast.parse(text + ": ...")
    node = tree.body[0]
    assert isinstance(node, ast.FunctionDef)
    return node


def _signature_of(node: ast.FunctionDef, namespace: dict[str, Any]) -> inspect.Signature:
    """The inspect form of a ``def``: annotations kept as text, defaults evaluated."""
    args = node.args
    parameters: list[inspect.Parameter] = []

    def annotation(arg: ast.arg) -> Any:
        return ast.unparse(arg.annotation) if arg.annotation is not None else inspect.Parameter.empty

    positional = args.posonlyargs + args.args
    defaults = [inspect.Parameter.empty] * (len(positional) - len(args.defaults)) + [
        eval(compile(ast.Expression(d), "<signature>", "eval"), namespace) for d in args.defaults
    ]
    for i, arg in enumerate(positional):
        kind = inspect.Parameter.POSITIONAL_ONLY if i < len(args.posonlyargs) else inspect.Parameter.POSITIONAL_OR_KEYWORD
        parameters.append(inspect.Parameter(arg.arg, kind, default=defaults[i], annotation=annotation(arg)))
    if args.vararg is not None:
        parameters.append(inspect.Parameter(args.vararg.arg, inspect.Parameter.VAR_POSITIONAL, annotation=annotation(args.vararg)))
    for arg, default in zip(args.kwonlyargs, args.kw_defaults):
        value = inspect.Parameter.empty if default is None else eval(compile(ast.Expression(default), "<signature>", "eval"), namespace)
        parameters.append(inspect.Parameter(arg.arg, inspect.Parameter.KEYWORD_ONLY, default=value, annotation=annotation(arg)))
    if args.kwarg is not None:
        parameters.append(inspect.Parameter(args.kwarg.arg, inspect.Parameter.VAR_KEYWORD, annotation=annotation(args.kwarg)))
    returns = ast.unparse(node.returns) if node.returns is not None else inspect.Signature.empty
    return inspect.Signature(parameters, return_annotation=returns)


def _forwarder(name: str, native: Callable[..., Any], signature: inspect.Signature) -> Callable[..., Any]:
    """A Python function with exactly ``signature``'s parameters that calls ``native``."""
    P = inspect.Parameter
    params: list[str] = []
    call: list[str] = []
    defaults: dict[str, Any] = {}
    star_written = False
    for parameter in signature.parameters.values():
        name_ = parameter.name
        if parameter.kind is P.VAR_POSITIONAL:
            params.append("*" + name_)
            call.append("*" + name_)
            star_written = True
            continue
        if parameter.kind is P.VAR_KEYWORD:
            params.append("**" + name_)
            call.append("**" + name_)
            continue
        if parameter.kind is P.KEYWORD_ONLY and not star_written:
            params.append("*")
            star_written = True
        text = name_
        if parameter.default is not P.empty:
            defaults[f"_default_{name_}"] = parameter.default
            text += f"=_default_{name_}"
        params.append(text)
        call.append(f"{name_}={name_}" if parameter.kind is P.KEYWORD_ONLY else name_)
    positional_only = sum(1 for p in signature.parameters.values() if p.kind is P.POSITIONAL_ONLY)
    if positional_only:
        params.insert(positional_only, "/")
    source = f"def {name}({', '.join(params)}):\n    return _native({', '.join(call)})\n"
    namespace: dict[str, Any] = {"_native": native, **defaults}
    exec(compile(source, f"<velmo_game {name}>", "exec"), namespace)
    function: Callable[..., Any] = namespace[name]
    return function


def attach(cls: type, namespace: dict[str, Any]) -> None:
    """Give every public method of ``cls`` (and the class itself) a readable signature."""
    made_by_new = _is_native(vars(cls).get("__new__"))
    for name, member in list(vars(cls).items()):
        # nanobind keeps a static method as a plain function object (nb_func) in the class,
        # and a method as a binding one (nb_method).
        is_static = type(member).__name__ == "nb_func"
        native = member
        if name == "__new__" and _is_native(native):
            # A class made whole by its __new__ (VecGame) takes that one's parameters.
            parameters = list(_signature_of(_def_of(native), namespace).parameters.values())[1:]
            cls.__signature__ = inspect.Signature(parameters)  # type: ignore[attr-defined]
            continue
        if not _is_native(native) or (name.startswith("__") and name != "__init__") or (made_by_new and name == "__init__"):
            continue
        node = _def_of(native)
        signature = _signature_of(node, namespace)
        forwarder = _forwarder(name, native, signature)
        forwarder.__doc__ = native.__nb_signature__[0][1]
        forwarder.__qualname__ = f"{cls.__qualname__}.{name}"
        forwarder.__module__ = cls.__module__
        forwarder.__signature__ = signature  # type: ignore[attr-defined]
        setattr(cls, name, staticmethod(forwarder) if is_static else forwarder)
        if name == "__init__":
            parameters = list(signature.parameters.values())[1:]
            cls.__signature__ = signature.replace(parameters=parameters, return_annotation=inspect.Signature.empty)  # type: ignore[attr-defined]
