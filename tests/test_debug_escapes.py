"""The debug forms inside failure texts show every character a terminal would not draw as an
escape: controls, format and separator characters, private use, unassigned code points, spaces
other than the plain one, and combining marks (Grapheme_Extend), from the Unicode 15.0 tables."""

from __future__ import annotations

import pytest

from velmo import ArrayField, Field, Pair

UNWRAP = "called `Result::unwrap()` on an `Err` value: "

ESCAPED = {
    "Cc": ["\x01", "\x1b", "\x7f", "\x85", "\x9f"],
    "Cf": ["\xad", "\u200b", "\u200e", "\u2066", "\ufeff", "\U000e0001"],
    "Co": ["\ue000", "\uf8ff", "\U000f0000", "\U0010fffd"],
    "Cn": ["\u0378", "\ufdd0", "\uffff", "\U0001fffe", "\U0010ffff", "\u2ffc"],  # U+2FFC: assigned only after 15.0
    "Zl": ["\u2028"],
    "Zp": ["\u2029"],
    "Zs": ["\xa0", "\u1680", "\u2002", "\u202f", "\u3000"],
    "Grapheme_Extend": ["\u0301", "\u0483", "\u20dd", "\u09be", "\u200c", "\uff9e", "\U000e0100"],
}
SHOWN_AS_IS = ["é", "日", "\U0001f600", "\u0903", "ª", "\u00a9", "\u2ffb"]  # U+0903: a spacing mark that does not extend


def escape(ch: str) -> str:
    return "\\u{" + format(ord(ch), "x") + "}"


def character_message(cls, text):
    try:
        cls.from_str_array([text])
    except BaseException as error:  # noqa: B036 - PanicException is a BaseException
        return str(error)
    raise AssertionError("no failure")


def rotation_message(text):
    try:
        ArrayField().put_pair(0, text, Pair(4, 5))
    except BaseException as error:  # noqa: B036
        return str(error)
    raise AssertionError("no failure")


CASES = [(category, ch) for category, chars in ESCAPED.items() for ch in chars]


@pytest.mark.parametrize("cls", [Field, ArrayField])
@pytest.mark.parametrize("category, ch", CASES, ids=[f"{c}-U+{ord(ch):04X}" for c, ch in CASES])
def test_unprintable_characters_are_escaped(cls, category, ch):
    assert character_message(cls, ch) == f"{UNWRAP}InvalidPuyoTypeCharacter('{escape(ch)}')"
    assert rotation_message(f"t{ch}op") == f'{UNWRAP}InvalidRotationString("t{escape(ch)}op")'


@pytest.mark.parametrize("ch", SHOWN_AS_IS)
def test_printable_characters_are_shown_as_they_are(ch):
    assert character_message(Field, ch) == f"{UNWRAP}InvalidPuyoTypeCharacter('{ch}')"
    assert rotation_message(ch) == f'{UNWRAP}InvalidRotationString("{ch}")'


@pytest.mark.parametrize(
    "text, shown",
    [("a b", "a b"), ("\"'", "\\\"'"), ("\\", "\\\\"), ("\t\r\n", "\\t\\r\\n"), ("\0", "\\0"), ("e\u0301\xa0", "e\\u{301}\\u{a0}")],
)
def test_rotation_texts_keep_the_short_escapes(text, shown):
    assert rotation_message(text) == f'{UNWRAP}InvalidRotationString("{shown}")'


def test_a_single_quote_is_escaped_only_between_single_quotes():
    assert character_message(Field, "'") == f"{UNWRAP}InvalidPuyoTypeCharacter('\\'')"
    assert character_message(Field, '"') == f"{UNWRAP}InvalidPuyoTypeCharacter('\"')"


def test_a_lone_surrogate_cannot_reach_the_field():
    with pytest.raises(UnicodeEncodeError):
        Field.from_str_array(["\ud800"])


def test_the_committed_table_is_the_generated_one():
    import importlib.util
    from pathlib import Path

    root = Path(__file__).resolve().parent.parent
    generator = root / "tools" / "make_unicode_table.py"
    if not generator.is_file():
        pytest.skip("needs the source tree (tools/)")
    spec = importlib.util.spec_from_file_location("make_unicode_table", generator)
    assert spec and spec.loader
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    ucd = Path("/usr/share/unicode")
    if not (ucd / "DerivedCoreProperties.txt").is_file() or module.data_version(ucd) != module.PINNED_VERSION:
        pytest.skip(f"the Unicode {module.PINNED_VERSION} data files are not installed (apt-get install unicode-data)")
    assert (root / "core" / "src" / "unicode_escapes.hpp").read_text(encoding="utf-8") == module.generate(ucd)
