"""Replays the fuzzer's kept inputs (fuzz/regressions: inputs that once found a fault; fuzz/corpus:
the seeds) through the fuzz driver, plus a short batch of seeded random inputs, so every fault the
fuzzer found stays fixed in the ordinary test run."""

import os
import random
import sys

import pytest

FUZZ_DIR = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "fuzz")
sys.path.insert(0, FUZZ_DIR)

import velmo_fuzz_driver  # noqa: E402


def _inputs(folder):
    path = os.path.join(FUZZ_DIR, folder)
    if not os.path.isdir(path):
        return []
    return [os.path.join(path, name) for name in sorted(os.listdir(path)) if not name.startswith(".")]


@pytest.mark.parametrize("path", _inputs("regressions") + _inputs("corpus"), ids=os.path.basename)
def test_kept_input(path):
    with open(path, "rb") as handle:
        velmo_fuzz_driver.run_one(handle.read())


@pytest.mark.parametrize("seed", range(8))
def test_random_inputs(seed):
    rng = random.Random(seed)
    for _ in range(25):
        data = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 400)))
        try:
            velmo_fuzz_driver.run_one(data)
        except AssertionError as error:
            raise AssertionError(f"input {data.hex()} failed: {error}") from error
