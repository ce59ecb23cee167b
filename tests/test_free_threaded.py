"""On a free-threaded CPython the module must keep the interpreter lock on: its borrow flags are
plain counters. Builds velmo for such an interpreter and imports it there; skipped when none is
found (set VELMO_FREE_THREADED_PYTHON to the interpreter, or put python3.13t / python3.14t on PATH)."""

import glob
import os
import shutil
import subprocess

import pytest
from conftest import needs_build_tools

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def _is_free_threaded(python):
    try:
        completed = subprocess.run(
            [python, "-c", "import sysconfig; print(sysconfig.get_config_var('Py_GIL_DISABLED'))"],
            capture_output=True, text=True, timeout=60, env=_clean_env(),
        )
    except (OSError, subprocess.SubprocessError):
        return False
    return completed.returncode == 0 and completed.stdout.strip() == "1"


def _clean_env():
    # A sanitized test run preloads the sanitizer runtime; the tools started here do not need it.
    env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "PYTHONPATH", "PYTHONMALLOC", "PYTHON_GIL")}
    return env


def _find_free_threaded_python():
    candidates = []
    if os.environ.get("VELMO_FREE_THREADED_PYTHON"):
        candidates.append(os.environ["VELMO_FREE_THREADED_PYTHON"])
    for name in ("python3.13t", "python3.14t", "python3.15t"):
        if shutil.which(name):
            candidates.append(shutil.which(name))
    candidates += sorted(glob.glob(os.path.expanduser("~/.pyenv/versions/*t/bin/python3")))
    for candidate in candidates:
        if _is_free_threaded(candidate):
            return candidate
    return None


FREE_THREADED = _find_free_threaded_python()


@pytest.mark.skipif(FREE_THREADED is None, reason="no free-threaded CPython on this machine")
@needs_build_tools
def test_import_keeps_the_interpreter_lock(tmp_path):
    env = _clean_env()
    build = tmp_path / "build"
    configure = subprocess.run(
        ["cmake", "-S", ROOT, "-B", str(build), "-DCMAKE_BUILD_TYPE=Release", f"-DPython_EXECUTABLE={FREE_THREADED}"],
        capture_output=True, text=True, env=env, timeout=600,
    )
    assert configure.returncode == 0, configure.stdout + configure.stderr
    compiled = subprocess.run(["cmake", "--build", str(build), "-j2"], capture_output=True, text=True, env=env, timeout=1200)
    assert compiled.returncode == 0, compiled.stdout[-4000:] + compiled.stderr[-4000:]
    code = """
import sys, warnings
assert not sys._is_gil_enabled(), "the lock was on before the import"
with warnings.catch_warnings(record=True):
    warnings.simplefilter("always")
    import velmo
assert sys._is_gil_enabled(), "velmo was imported without the interpreter lock"
f = velmo.Field().put(0, 4)
assert f.get(0, 13) == 4
print("ok")
"""
    env["PYTHONPATH"] = str(build / "python")
    completed = subprocess.run([FREE_THREADED, "-c", code], capture_output=True, text=True, env=env, timeout=120)
    assert completed.returncode == 0, completed.stdout + completed.stderr
    assert completed.stdout.strip() == "ok"
