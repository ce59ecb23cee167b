"""What no Python caller can do to a batch: free its output memory, hang it in a forked child,
leave a thread behind when one cannot start, or wait out a long native call after Ctrl-C."""

from __future__ import annotations

import gc
import os
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import velmo
import velmo_game as vg
from velmo_game._native import ObservationBuffer
from velmo_game.players import BeamSearch
from velmo_game.search import expand_batch

from conftest import needs_ctrl_c

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


FORK_CHILD = r"""
import multiprocessing, os, sys
import numpy as np
import velmo_game as vg
threads, versus, use = int(sys.argv[1]), sys.argv[2] == "versus", sys.argv[3]
batch = vg.VecGame(2048, num_threads=threads, versus=versus, illegal="substitute")
shape = (2048, 2) if versus else 2048

def step_twice():
    batch.reset(seed=5)
    for _ in range(2):
        batch.step(np.argmax(batch.action_masks, -1) if versus else np.zeros(shape, np.int64))
    return batch.field.sum()

expected = step_twice()
if use == "os.fork":
    pid = os.fork()
    if pid == 0:
        os._exit(0 if step_twice() == expected else 3)
    assert os.waitpid(pid, 0)[1] == 0
elif use == "untouched":
    pid = os.fork()
    if pid == 0:
        sys.exit(0)  # the child's interpreter finalises the inherited batch
    assert os.waitpid(pid, 0)[1] == 0
else:
    with multiprocessing.get_context("fork").Pool(2) as pool:
        assert pool.apply(step_twice) == expected
print("ok")
"""


@pytest.mark.parametrize("threads", [1, 3])
@pytest.mark.parametrize("versus", ["one-player", "versus"])
@pytest.mark.parametrize("use", ["os.fork", "untouched", "multiprocessing"])
def test_a_forked_child_uses_or_drops_an_inherited_batch(threads, versus, use):
    done = subprocess.run([sys.executable, "-c", FORK_CHILD, str(threads), versus, use], capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 0 and done.stdout.strip() == "ok", done.stderr


THREAD_LIMIT = r"""
import os, resource, threading
import numpy  # the batch's arrays import it, and its BLAS starts threads of its own: count them in
import velmo_game as vg
before = len(os.listdir("/proc/self/task"))
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
with open("/proc/self/statm") as statm:
    used = int(statm.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
resource.setrlimit(resource.RLIMIT_AS, (used + (256 << 20), hard))  # room for a few thread stacks only
for _ in range(2):
    try:
        vg.VecGame(8, num_threads=256)
    except (RuntimeError, MemoryError) as error:
        print(type(error).__name__, error)
    else:
        raise SystemExit("256 threads started under the limit")
    assert len(os.listdir("/proc/self/task")) == before, "a worker thread was left behind"
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
assert vg.VecGame(8, num_threads=2).num_threads == 2
"""


@pytest.mark.skipif(os.environ.get("VELMO_SANITIZED") == "1", reason="the sanitizers reserve more address space than any cap")
def test_a_thread_that_cannot_start_is_a_clear_error_and_leaves_none_behind():
    done = subprocess.run([sys.executable, "-c", THREAD_LIMIT], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr
    assert "could not start worker thread" in done.stdout or done.stdout.startswith("MemoryError")


def interrupt_after(seconds):
    timer = threading.Timer(seconds, lambda: os.kill(os.getpid(), signal.SIGINT))
    timer.start()
    return timer


LONG_CALLS = {
    "beam search": lambda: BeamSearch(width=65536, depth=256).choose(vg.Game(1)),
    "construction": lambda: vg.VecGame(1 << 22, num_threads=1),
    "versus construction": lambda: vg.VecGame(1 << 21, num_threads=1, versus=True),
    "expand_batch": lambda: expand_batch(np.repeat(np.frombuffer(velmo.Field().__getstate__(), np.uint8)[None], 1 << 20, 0), [4, 5]),
}


@needs_ctrl_c
@pytest.mark.skipif(threading.current_thread() is not threading.main_thread(), reason="signals reach the main thread")
@pytest.mark.parametrize("call", LONG_CALLS)
def test_ctrl_c_stops_a_long_native_call(call):
    timer = interrupt_after(0.2)
    started = time.perf_counter()
    with pytest.raises(KeyboardInterrupt):
        LONG_CALLS[call]()
    timer.join()
    assert time.perf_counter() - started < 0.2 + 5  # the uninterrupted calls take minutes (generous: CI is slow)


@needs_ctrl_c
@pytest.mark.parametrize("versus", [False, True])
@pytest.mark.parametrize("call", ["step", "reset"])
def test_an_interrupted_batch_says_so_until_it_is_reset(versus, call):
    batch = vg.VecGame(1 << 20, num_threads=1, versus=versus, illegal="substitute")
    actions = np.argmax(batch.action_masks, -1) if versus else np.zeros(1 << 20, np.int64)
    timer = interrupt_after(0.05)
    with pytest.raises(KeyboardInterrupt):
        batch.step(actions) if call == "step" else batch.reset()  # a second or more of native work
    timer.join()
    with pytest.raises(RuntimeError, match=f"a {call} was interrupted part way.*reset\\(\\)"):
        batch.step(actions)
    batch.reset(seed=1)
    batch.step(actions)
    assert (batch.episode_steps == 1).all()
