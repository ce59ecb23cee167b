#!/usr/bin/env bash
# Builds the sanitized module (ASan + UBSan) into a directory of its own.
#
#   tools/build_sanitized.sh BUILD_DIR [COMPILER] [extra cmake arguments...]
#
# The module ends up in BUILD_DIR/python; put that directory on PYTHONPATH and source
# tools/sanitizer_env.sh before importing it.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${1:?usage: build_sanitized.sh BUILD_DIR [COMPILER] [cmake args...]}"
CXX_NAME="${2:-g++}"
shift $(( $# >= 2 ? 2 : 1 ))
PYTHON="${PYTHON:-python}"

mkdir -p "$BUILD_DIR"
generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi

cmake -S "$ROOT" -B "$BUILD_DIR" "${generator[@]}" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER="$CXX_NAME" \
    -DPython_EXECUTABLE="$(command -v "$PYTHON")" \
    -DVELMO_SANITIZE=ON \
    "$@" >"$BUILD_DIR/configure.log" 2>&1 || { cat "$BUILD_DIR/configure.log" >&2; exit 1; }
cmake --build "$BUILD_DIR" -j "$(nproc 2>/dev/null || echo 2)"
