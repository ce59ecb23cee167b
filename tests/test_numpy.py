"""numpy is never required, but numpy arrays and integers work where velmo takes sequences and ints."""

from __future__ import annotations

import importlib.util
import os
import subprocess
import sys
from pathlib import Path

import pytest

import velmo
from velmo import ArrayField, Field, PuyoType

np = pytest.importorskip("numpy")

ROOT = Path(__file__).resolve().parent.parent


def test_velmo_does_not_import_numpy():
    code = "import sys, velmo; velmo.Field.from_array([[0] * 14] * 6); print('numpy' in sys.modules)"
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert done.stdout.strip() == "False"


@pytest.mark.parametrize("dtype", ["int64", "int32", "uint8", "uint64", "int16"])
def test_from_array_accepts_integer_arrays(dtype):
    cells = np.zeros((6, 14), dtype=dtype)
    cells[0, 13] = PuyoType.RED
    cells[5, 12] = PuyoType.GREEN
    cells[2, :] = [0] * 10 + [PuyoType.OJAMA, PuyoType.BLUE, PuyoType.YELLOW, PuyoType.RED]
    field = Field.from_array(cells)
    assert field == Field.from_array(cells.tolist())
    assert np.array_equal(np.array(field.to_array()), cells)
    assert field.get(0, 13) == PuyoType.RED


def test_array_field_from_numpy_with_purple():
    cells = np.zeros((6, 14), dtype=np.int64)
    cells[:4, 13] = PuyoType.PURPLE
    field = ArrayField.from_array(cells)
    assert field.get(0, 13) == 7  # ArrayField reports array codes
    assert field.chain().score == 40


def test_numpy_array_of_wrong_shape_is_refused():
    with pytest.raises(RuntimeError, match="Invalid size of array"):
        Field.from_array(np.zeros((6, 13), dtype=np.int64))
    with pytest.raises(RuntimeError, match="Invalid size of array"):
        Field.from_array(np.zeros((14, 6), dtype=np.int64))


def test_float_arrays_are_refused():
    with pytest.raises(TypeError):
        Field.from_array(np.zeros((6, 14), dtype=np.float64))


def test_numpy_integers_as_arguments():
    field = Field()
    field.set(np.int64(0), np.uint8(13), np.int32(PuyoType.BLUE))
    assert field.get(np.int16(0), np.int64(13)) == PuyoType.BLUE
    assert field.put(np.uint64(1), np.int64(PuyoType.RED)).get_height(np.int64(1)) == 1
    assert velmo.Pair(np.int64(4), np.int64(5)) == velmo.Pair(4, 5)


def test_random_fields_round_trip_through_numpy():
    rng = np.random.default_rng(7)
    for _ in range(50):
        cells = rng.choice(np.array([0, 1, 4, 5, 6, 7]), size=(6, 14))
        field = Field.from_array(cells)
        assert np.array_equal(np.asarray(field.to_array()), cells)


@pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")
def test_mypy_accepts_numpy_arrays(tmp_path, mypy_cache_dir):
    source = tmp_path / "with_numpy.py"
    source.write_text(
        "import numpy as np\n"
        "import numpy.typing as npt\n"
        "from velmo import ArrayField, Field\n"
        "cells: npt.NDArray[np.int64] = np.zeros((6, 14), dtype=np.int64)\n"
        "field: Field = Field.from_array(cells)\n"
        "other: ArrayField = ArrayField.from_array(cells)\n"
        "colour: int = field.get(np.int64(0), np.uint8(13))\n"
    )
    env = dict(os.environ)
    env["MYPY_CACHE_DIR"] = mypy_cache_dir
    if not (Path(velmo.__file__).parent / "velmo-stubs").is_dir():
        (tmp_path / "stubs").mkdir()
        (tmp_path / "stubs" / "velmo.pyi").write_text((ROOT / "stubs" / "velmo-stubs" / "__init__.pyi").read_text())
        env["MYPYPATH"] = str(tmp_path / "stubs")
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", str(source)], env=env, capture_output=True, text=True, timeout=600
    )
    assert done.returncode == 0, done.stdout + done.stderr
