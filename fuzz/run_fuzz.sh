#!/usr/bin/env bash
# Builds the sanitized module with coverage counters and fuzzes it for a bounded time.
#
#   fuzz/run_fuzz.sh [SECONDS] [extra libFuzzer flags...]      (default 60 seconds)
#
# Environment:
#   VELMO_FUZZ_CXX        compiler (default clang++ when present: it gives the fuzzer coverage of
#                         the C++ code; g++ builds work too, with coverage of the harness only)
#   VELMO_FUZZ_BUILD_DIR  build directory (default build/fuzz-<compiler>)
#   VELMO_FUZZ_KEEP_CORPUS=1  add the inputs that found new coverage to fuzz/corpus
#   VELMO_FUZZ_CPU_PATHS  the bit field's processor paths to share the time among
#                         (default "portable bmi2-avx2 avx512"; one that the machine lacks falls
#                         back to the best it has)
#   VELMO_FUZZ_PYTHON_COVERAGE=1  also trace the driver's Python branches (default with g++ only)
#
# A failing input is written to <build dir>/artifacts/ and printed in hex; copy it into
# fuzz/regressions/ so that tests/test_fuzz_regressions.py replays it from then on.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
SECONDS_TO_RUN="${1:-60}"
shift $(( $# >= 1 ? 1 : 0 ))
PYTHON="${PYTHON:-python}"

default_cxx=g++
if command -v clang++ >/dev/null 2>&1; then default_cxx=clang++; fi
CXX_NAME="${VELMO_FUZZ_CXX:-$default_cxx}"
BUILD_DIR="${VELMO_FUZZ_BUILD_DIR:-$ROOT/build/fuzz-$(basename "$CXX_NAME")}"
LOG_DIR="$BUILD_DIR/reports"
ARTIFACTS="$BUILD_DIR/artifacts"
WORK_CORPUS="$BUILD_DIR/corpus"

coverage=()
case "$(basename "$CXX_NAME")" in clang*) coverage=(-DVELMO_FUZZ_COVERAGE=ON) ;; esac
"$ROOT/tools/build_sanitized.sh" "$BUILD_DIR" "$CXX_NAME" "${coverage[@]}"

rm -rf "$ARTIFACTS" "$WORK_CORPUS"
mkdir -p "$ARTIFACTS" "$WORK_CORPUS"
cp "$ROOT"/fuzz/corpus/* "$WORK_CORPUS"/ 2>/dev/null || true

# With clang the module reports its coverage to libFuzzer. Those counters must reach the libFuzzer
# that atheris drives, not the no-op hooks of a plain ASan runtime, so the process preloads one
# shared object holding both (the static runtimes of the compiler, merged once per build dir).
if [ ${#coverage[@]} -gt 0 ]; then
    rt_dir="$(dirname "$("$CXX_NAME" -print-file-name=libclang_rt.asan-x86_64.a)")"
    merged="$BUILD_DIR/asan_with_fuzzer.so"
    if [ ! -e "$merged" ]; then
        tmp="$(mktemp -d)"
        cp "$rt_dir/libclang_rt.asan-x86_64.a" "$tmp/asan.a"
        ar d "$tmp/asan.a" asan_preinit.cpp.o 2>/dev/null || true  # a shared object has no preinit
        "$CXX_NAME" -shared -o "$merged" \
            -Wl,--whole-archive "$rt_dir/libclang_rt.fuzzer_no_main-x86_64.a" "$tmp/asan.a" \
            "$rt_dir/libclang_rt.asan_cxx-x86_64.a" -Wl,--no-whole-archive -lpthread -ldl -lrt -lm
        rm -rf "$tmp"
    fi
    export VELMO_SANITIZER_RUNTIME="$merged"
    # The C++ edges guide the fuzzer; tracing the driver's Python too costs five times the speed.
    export VELMO_FUZZ_PYTHON_COVERAGE="${VELMO_FUZZ_PYTHON_COVERAGE:-0}"
fi

# shellcheck source=../tools/sanitizer_env.sh
source "$ROOT/tools/sanitizer_env.sh" "$BUILD_DIR" "$CXX_NAME" "$LOG_DIR"

# The bit field runs one of several processor paths; the time is shared among them, so that the
# portable code (and its bit gather/scatter emulation) is fuzzed too on a machine with AVX-512.
read -r -a cpu_paths <<<"${VELMO_FUZZ_CPU_PATHS:-portable bmi2-avx2 avx512}"
slice=$(( SECONDS_TO_RUN / ${#cpu_paths[@]} ))
if [ "$slice" -lt 1 ]; then slice=1; fi

status=0
for cpu_path in "${cpu_paths[@]}"; do
    echo "run_fuzz: $slice s on the $cpu_path path" >&2
    if "$PYTHON" -c 'import atheris' 2>/dev/null; then
        VELMO_CPU_PATH="$cpu_path" "$PYTHON" -W ignore::RuntimeWarning "$ROOT/fuzz/fuzz_velmo.py" \
            -max_total_time="$slice" -timeout=60 -rss_limit_mb=8192 -max_len=2048 \
            -print_final_stats=1 -print_funcs=0 -artifact_prefix="$ARTIFACTS/" "$@" \
            "$WORK_CORPUS" "$ROOT/fuzz/regressions" || status=$?
    else
        echo "run_fuzz: atheris is not installed; running the driver on seeded random inputs instead" >&2
        (cd "$ARTIFACTS" && VELMO_CPU_PATH="$cpu_path" "$PYTHON" -W ignore::RuntimeWarning \
            "$ROOT/fuzz/fuzz_velmo.py" --random "$slice" "$WORK_CORPUS" "$ROOT/fuzz/regressions") || status=$?
    fi
    if [ "$status" -ne 0 ]; then break; fi
done

if [ "${VELMO_FUZZ_KEEP_CORPUS:-0}" = 1 ]; then
    cp -n "$WORK_CORPUS"/* "$ROOT/fuzz/corpus/" 2>/dev/null || true
fi

if compgen -G "$LOG_DIR/*" >/dev/null; then
    echo "run_fuzz: sanitizer reports were written:" >&2
    for report in "$LOG_DIR"/*; do echo "===== $report" >&2; cat "$report" >&2; done
    status=1
fi
if compgen -G "$ARTIFACTS/*" >/dev/null; then
    echo "run_fuzz: failing inputs (copy them into fuzz/regressions/):" >&2
    for input in "$ARTIFACTS"/*; do
        echo "  $input: $(od -An -v -tx1 "$input" | tr -d ' \n')" >&2
    done
    status=1
fi
exit "$status"
