"""What no Python caller can do to a batch: free its output memory, hang it in a forked child,
leave a thread behind when one cannot start, or wait out a long native call after Ctrl-C."""

from __future__ import annotations

import gc

import numpy as np
import pytest

import velmo_game as vg
from velmo_game._native import ObservationBuffer

ONE_PLAYER = ["field", "pairs", "rewards", "terminated", "truncated", "action_masks", "chain", "score",
              "episode_steps", "final_field", "final_pairs", "seeds", "substituted"]
VERSUS = [*ONE_PLAYER, "pending_ojama", "due", "ojama_sent", "ojama_received", "winner", "frame", "final_pending_ojama"]


def outputs(kind):
    if kind == "buffer":
        buffer = ObservationBuffer(2)
        return buffer, [buffer.field, buffer.pairs, buffer.action_mask], lambda: buffer.fill(vg.Game(1))
    # The uses read none of the arrays, which the test spoils.
    batch = vg.VecGame(64, num_threads=2, versus=kind == "versus", illegal="substitute")
    if kind == "versus":
        return batch, [getattr(batch, name) for name in VERSUS], batch.reset
    return batch, [*(getattr(batch, name) for name in ONE_PLAYER), batch.sample_actions()], \
        lambda: (batch.sample_actions(), batch.step(np.zeros(64, np.int64)))


@pytest.mark.parametrize("kind", ["one-player", "versus", "buffer"])
def test_output_arrays_cannot_be_freed_under_their_owner(kind):
    owner, arrays, use = outputs(kind)
    for array in arrays:
        with pytest.raises(ValueError, match="WRITEABLE"):
            array.flags.writeable = True
        with pytest.raises(ValueError, match="does not own its data"):
            array.resize(1 << 20, refcheck=False)
        array.__setstate__(np.zeros(3).__reduce__()[2])  # drops the array's own hold on the memory
    del arrays
    gc.collect()
    for _ in range(5):
        use()  # the sanitized build reports any write into freed memory here
