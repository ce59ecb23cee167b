# Sourced, not run: sets up the environment in which a Python process can load the sanitized
# module built by tools/build_sanitized.sh.
#
#   source tools/sanitizer_env.sh BUILD_DIR COMPILER LOG_DIR
#
# Python itself is not instrumented, so the sanitizer runtime must be loaded before anything else
# (LD_PRELOAD). Leak detection stays off: the interpreter keeps memory until exit on purpose and
# would drown real reports; reference and memory leaks are checked by tests/test_leaks.py instead.
# Python objects go through plain malloc, so that a reference counting slip that frees an object
# too early becomes a use-after-free report instead of silent pool reuse.

_velmo_build_dir="${1:?usage: source sanitizer_env.sh BUILD_DIR COMPILER LOG_DIR}"
_velmo_cxx="${2:-g++}"
_velmo_log_dir="${3:-$_velmo_build_dir/reports}"

# VELMO_SANITIZER_RUNTIME replaces the compiler's ASan runtime (the fuzzer preloads one that also
# carries libFuzzer).
if [ -n "${VELMO_SANITIZER_RUNTIME:-}" ]; then
    _velmo_runtime="$VELMO_SANITIZER_RUNTIME"
else
    case "$(basename "$_velmo_cxx")" in
        clang*) _velmo_runtime="$("$_velmo_cxx" -print-file-name=libclang_rt.asan-x86_64.so)" ;;
        *) _velmo_runtime="$("$_velmo_cxx" -print-file-name=libasan.so)" ;;
    esac
fi
if [ ! -e "$_velmo_runtime" ]; then
    echo "sanitizer_env: no ASan runtime found for $_velmo_cxx ($_velmo_runtime)" >&2
    return 1
fi
_velmo_runtime="$(readlink -f "$_velmo_runtime")"
# The interpreter does not link the C++ runtime; ASan looks for the real __cxa_throw when it starts,
# so libstdc++ must be loaded by then too, or the first C++ exception trips an ASan CHECK.
_velmo_cxxrt="$("$_velmo_cxx" -print-file-name=libstdc++.so.6)"
if [ -e "$_velmo_cxxrt" ]; then _velmo_runtime="$_velmo_runtime:$(readlink -f "$_velmo_cxxrt")"; fi

rm -rf "$_velmo_log_dir"
mkdir -p "$_velmo_log_dir"

export LD_PRELOAD="$_velmo_runtime${LD_PRELOAD:+:$LD_PRELOAD}"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:halt_on_error=1:strict_init_order=1:detect_stack_use_after_return=1:log_path=$_velmo_log_dir/asan"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1:log_path=$_velmo_log_dir/ubsan"
export PYTHONMALLOC=malloc
export PYTHONPATH="$_velmo_build_dir/python${PYTHONPATH:+:$PYTHONPATH}"
export VELMO_SANITIZED=1

unset _velmo_build_dir _velmo_cxx _velmo_log_dir _velmo_runtime _velmo_cxxrt
