#!/usr/bin/env bash
# The native batch code under ThreadSanitizer: builds the core and its batch tests with
# -fsanitize=thread into a directory of its own and runs them (threaded batches of games and of
# matches on several thread counts checked against the one-thread run, the worker pool's
# slices). Then the Python modules, built the same way, run the game layer's threaded batch tests
# (VecGame's step, reset and sampling on several threads, reads beside a stepping thread, fork
# and Ctrl-C) with the ThreadSanitizer runtime preloaded. Any report fails the run.
# Some minutes on two cores, most of it the builds.
#
#   tools/run_tsan.sh [BUILD_DIR] [COMPILER]
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${1:-$ROOT/build/tsan}"
CXX_NAME="${2:-g++}"

generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
mkdir -p "$BUILD_DIR"
cmake -S "$ROOT" -B "$BUILD_DIR" "${generator[@]}" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER="$CXX_NAME" \
    -DVELMO_BUILD_PYTHON=OFF -DVELMO_BUILD_CORE_TESTS=ON \
    -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >"$BUILD_DIR/configure.log" 2>&1 ||
    { cat "$BUILD_DIR/configure.log" >&2; exit 1; }
cmake --build "$BUILD_DIR" -j 2 --target velmo_core_batch_tests

# halt_on_error: the first race ends the run with a failure; the tests' own summary closes the log.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
    timeout 600 "$BUILD_DIR/core/tests/velmo_core_batch_tests"

# The bound module's batch entry points: the same build with the Python modules.
PY_BUILD_DIR="$BUILD_DIR-python"
# The interpreter itself, not a launcher: a shim (pyenv's is a shell script running more
# programs) would start under the preloaded ThreadSanitizer runtime too, and crashes there.
PYTHON="$("${PYTHON:-python}" -c 'import sys; print(sys.executable)')"
mkdir -p "$PY_BUILD_DIR"
cmake -S "$ROOT" -B "$PY_BUILD_DIR" "${generator[@]}" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER="$CXX_NAME" \
    -DPython_EXECUTABLE="$PYTHON" \
    -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=thread" >"$PY_BUILD_DIR/configure.log" 2>&1 ||
    { cat "$PY_BUILD_DIR/configure.log" >&2; exit 1; }
cmake --build "$PY_BUILD_DIR" -j 2
LOG_DIR="$PY_BUILD_DIR/reports"
rm -rf "$LOG_DIR" && mkdir -p "$LOG_DIR"
# CPython is not instrumented: reports are kept to frames of our own modules. ThreadSanitizer
# cannot follow threads started after a fork, so the fork tests run in the sanitized suite only.
# Without address-space randomisation: ThreadSanitizer's fixed shadow layout can clash with the
# kernel's randomised mappings and crash the interpreter at start.
no_aslr=()
if command -v setarch >/dev/null 2>&1 && setarch "$(uname -m)" -R true 2>/dev/null; then no_aslr=(setarch "$(uname -m)" -R); fi
status=0
LD_PRELOAD="$(readlink -f "$("$CXX_NAME" -print-file-name=libtsan.so)")" PYTHONPATH="$PY_BUILD_DIR/python" \
    TSAN_OPTIONS="halt_on_error=0 report_signal_unsafe=0 log_path=$LOG_DIR/tsan ${TSAN_OPTIONS:-}" \
    timeout 900 "${no_aslr[@]}" "$PYTHON" -m pytest -q -p no:cacheprovider -x "$ROOT/tests/game/test_vec.py" "$ROOT/tests/game/test_vec_versus.py" \
    "$ROOT/tests/game/test_batch_safety.py" "$ROOT/tests/game/test_strict_inputs.py" -k "not thread_that_cannot_start and not forked_child" || status=$?
if grep -l "velmo" "$LOG_DIR"/tsan* >/dev/null 2>&1; then
    echo "run_tsan: ThreadSanitizer reports in the bound module:" >&2
    cat "$LOG_DIR"/tsan* >&2
    exit 1
fi
exit "$status"
