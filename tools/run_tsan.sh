#!/usr/bin/env bash
# The native batch code under ThreadSanitizer: builds the core and its batch tests with
# -fsanitize=thread into a directory of its own and runs them (threaded batches of games and of
# matches on several thread counts checked against the one-thread run, the worker pool's
# slices). Any report fails the run.
# A few minutes at most on two cores, most of it the build.
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
