#!/usr/bin/env bash
# Builds velmo with AddressSanitizer and UndefinedBehaviorSanitizer into its own directory (the
# installed module is left alone) and runs the test suite against that build.
#
#   tools/run_sanitized.sh [pytest arguments...]
#
# Environment:
#   VELMO_SANITIZE_CXX        compiler to build with (default g++; clang++ works too)
#   VELMO_SANITIZE_BUILD_DIR  build directory (default build/sanitize-<compiler>)
#   VELMO_SANITIZE_LOG_DIR    where sanitizer reports are written (default <build dir>/reports)
#
# Any sanitizer report, in the test process or in a subprocess that a test starts, fails the run.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
CXX_NAME="${VELMO_SANITIZE_CXX:-g++}"
BUILD_DIR="${VELMO_SANITIZE_BUILD_DIR:-$ROOT/build/sanitize-$(basename "$CXX_NAME")}"
LOG_DIR="${VELMO_SANITIZE_LOG_DIR:-$BUILD_DIR/reports}"
PYTHON="${PYTHON:-python}"

"$ROOT/tools/build_sanitized.sh" "$BUILD_DIR" "$CXX_NAME"
# shellcheck source=tools/sanitizer_env.sh
source "$ROOT/tools/sanitizer_env.sh" "$BUILD_DIR" "$CXX_NAME" "$LOG_DIR"

# The build must be the module that the tests import, and it must carry the instrumentation.
imported="$("$PYTHON" -c 'import velmo; print(velmo.__file__)')"
case "$imported" in
    "$BUILD_DIR"/*) ;;
    *) echo "run_sanitized: the tests would import $imported, not the sanitized build" >&2; exit 1 ;;
esac
if ! nm -D "$imported" | grep '__asan_report' >/dev/null; then
    echo "run_sanitized: $imported is not instrumented" >&2
    exit 1
fi

status=0
"$PYTHON" -m pytest -p no:cacheprovider "$@" || status=$?

if compgen -G "$LOG_DIR/*" >/dev/null; then
    echo "run_sanitized: sanitizer reports were written:" >&2
    for report in "$LOG_DIR"/*; do
        echo "===== $report" >&2
        cat "$report" >&2
    done
    exit 1
fi
exit "$status"
