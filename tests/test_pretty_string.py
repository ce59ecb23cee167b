import os
import subprocess
import sys

import pytest

from velmo import ArrayField, Field

ESC = "\x1b"
PLAIN_EMPTY = ("_" * 12 + "\n") * 14 + "\n"

SCRIPT = """
import sys, velmo
field = velmo.{cls}.from_str_array(["{row}"])
sys.stderr.write(repr(field.get_pretty_string()))
"""


def render(env_vars, tty=False, cls="Field", row="R"):
    """The pretty string rendered in a fresh process (the colour switch is decided once per process)."""
    env = {k: v for k, v in os.environ.items() if k not in ("CLICOLOR", "CLICOLOR_FORCE", "NO_COLOR")}
    env.update(env_vars)
    code = SCRIPT.format(cls=cls, row=row)
    if tty:
        import pty

        primary, secondary = pty.openpty()
        try:
            proc = subprocess.run([sys.executable, "-c", code], env=env, stdout=secondary, stderr=subprocess.PIPE, text=True, check=True)
        finally:
            os.close(primary)
            os.close(secondary)
    else:
        proc = subprocess.run([sys.executable, "-c", code], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, check=True)
    return eval(proc.stderr)


def coloured_red_row():
    return f"{ESC}[1;41mR_{ESC}[0m" + "_" * 10 + "\n"


@pytest.mark.parametrize("cls", [Field, ArrayField])
def test_new_field_without_colour(cls):
    # The test runner's standard output is not a terminal and nothing forces colour.
    if os.environ.get("CLICOLOR_FORCE", "0") != "0" or sys.stdout.isatty():
        pytest.skip("colour may be on in this process")
    assert cls().get_pretty_string() == PLAIN_EMPTY
    assert len(cls().get_pretty_string()) == 183


def test_cell_texts_without_colour():
    text = render({"NO_COLOR": "1"}, cls="ArrayField", row="ORBYGPW")
    assert text.splitlines()[13] == "O_R_B_Y_G_P_"


@pytest.mark.parametrize(
    "env, tty, coloured",
    [
        ({"CLICOLOR_FORCE": "1", "NO_COLOR": "1"}, False, True),
        ({"CLICOLOR_FORCE": "0"}, True, True),
        ({}, True, True),
        ({}, False, False),
        ({"NO_COLOR": ""}, True, False),
        ({"NO_COLOR": "0"}, True, False),
        ({"CLICOLOR": "0"}, True, False),
        ({"CLICOLOR": "1"}, False, False),
        ({"CLICOLOR": "00"}, True, True),
        ({"CLICOLOR_FORCE": "yes"}, False, True),
    ],
)
def test_colour_switch(env, tty, coloured):
    text = render(env, tty=tty)
    lines = text.split("\n")
    assert lines[:13] == ["_" * 12] * 13  # empty cells are never coloured
    assert lines[13] + "\n" == (coloured_red_row() if coloured else "R_" + "_" * 10 + "\n")
    assert text.endswith("\n\n")


def test_purple_style():
    text = render({"CLICOLOR_FORCE": "1"}, cls="ArrayField", row="P")
    assert text.split("\n")[13].startswith(f"{ESC}[1;45mP_{ESC}[0m")


def test_switch_is_fixed_after_first_use():
    code = (
        "import os, sys, velmo\n"
        "a = velmo.Field.from_str_array(['R']).get_pretty_string()\n"
        "os.environ['CLICOLOR_FORCE'] = '1'\n"
        "b = velmo.Field.from_str_array(['R']).get_pretty_string()\n"
        "sys.stderr.write(str(a == b and ESC not in b))\n"
    ).replace("ESC", repr(ESC))
    env = {k: v for k, v in os.environ.items() if k not in ("CLICOLOR", "CLICOLOR_FORCE", "NO_COLOR")}
    proc = subprocess.run([sys.executable, "-c", code], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, check=True)
    assert proc.stderr == "True"
