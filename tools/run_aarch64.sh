#!/usr/bin/env bash
# The core and its tests cross-built for AArch64 (Debian's g++-aarch64-linux-gnu) and run under
# qemu-user: the portable path on NEON against the bit and array fields' agreement tests, and
# the allocation tests. qemu's speed says nothing about the processor's; this run is for
# correctness only. Any test failure fails the run.
#
#   tools/run_aarch64.sh [BUILD_DIR]
#
# Needs: apt-get install g++-aarch64-linux-gnu qemu-user
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${1:-$ROOT/build/aarch64}"
CXX_NAME="${VELMO_AARCH64_CXX:-aarch64-linux-gnu-g++}"
QEMU="${VELMO_AARCH64_QEMU:-qemu-aarch64}"
SYSROOT="${VELMO_AARCH64_SYSROOT:-/usr/aarch64-linux-gnu}"

for tool in "$CXX_NAME" "$QEMU"; do
    command -v "$tool" >/dev/null || { echo "run_aarch64: $tool is not installed (apt-get install g++-aarch64-linux-gnu qemu-user)" >&2; exit 1; }
done

generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
mkdir -p "$BUILD_DIR"
cmake -S "$ROOT" -B "$BUILD_DIR" "${generator[@]}" \
    -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64 \
    -DCMAKE_CXX_COMPILER="$CXX_NAME" \
    -DVELMO_BUILD_PYTHON=OFF -DVELMO_BUILD_CORE_TESTS=ON >"$BUILD_DIR/configure.log" 2>&1 ||
    { cat "$BUILD_DIR/configure.log" >&2; exit 1; }
cmake --build "$BUILD_DIR" -j 2 --target velmo_core_tests velmo_core_allocation_tests

for test in velmo_core_tests velmo_core_allocation_tests; do
    timeout 900 "$QEMU" -L "$SYSROOT" "$BUILD_DIR/core/tests/$test"
done
