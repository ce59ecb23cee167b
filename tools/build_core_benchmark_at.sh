#!/usr/bin/env bash
# Builds the core benchmark of this checkout against the core of another revision, for
# `velmo_core_benchmark --compare` (docs/performance.md): the two builds then differ only in the
# core, and the benchmark times them alternately in one run.
#
#   tools/build_core_benchmark_at.sh REV [BUILD_DIR]     e.g. HEAD~1, a tag, a branch
#
# Prints the path of the built benchmark.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
REV="${1:?usage: tools/build_core_benchmark_at.sh REV [BUILD_DIR]}"
BUILD_DIR="${2:-$ROOT/build/bench-at-$(git -C "$ROOT" rev-parse --short "$REV")}"

SOURCE="$BUILD_DIR/src"
rm -rf "$SOURCE"
mkdir -p "$SOURCE"
git -C "$ROOT" archive "$REV" -- CMakeLists.txt core benchmarks | tar -x -C "$SOURCE"
cp "$ROOT/benchmarks/core_benchmark.cpp" "$SOURCE/benchmarks/core_benchmark.cpp"

generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
cmake -S "$SOURCE" -B "$BUILD_DIR/build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DVELMO_BUILD_PYTHON=OFF -DVELMO_BUILD_BENCHMARKS=ON >"$BUILD_DIR/configure.log" 2>&1 ||
    { cat "$BUILD_DIR/configure.log" >&2; exit 1; }
cmake --build "$BUILD_DIR/build" -j 2 --target velmo_core_benchmark >"$BUILD_DIR/build.log" 2>&1 ||
    { tail -40 "$BUILD_DIR/build.log" >&2; exit 1; }
echo "$BUILD_DIR/build/core/velmo_core_benchmark"
