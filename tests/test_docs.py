"""Every code block of the documentation (docs/*.md and README.md) runs and shows what it claims.

* ```pycon blocks are doctests: each prompt runs and its output must match (ELLIPSIS allowed).
* ```python blocks run as scripts. A block preceded by ``<!-- requires: MODULE -->`` runs only
  when MODULE can be imported (the Ray and Dask blocks), and is skipped otherwise.
* ```sh blocks: each command that runs an example or a type check is run from the repository
  root; install and build commands (pip, python -m build) are run by the packaging test only
  when VELMO_TEST_INSTALL=1, and the test suite command is not run from within itself.

The blocks of one page share one namespace, in order, like a session. Each page runs in its own
interpreter with colour off (NO_COLOR=1), so the colour switch of one page cannot leak into
another. Run a single page by hand with ``python tests/test_docs.py docs/tutorial.md``.
"""

from __future__ import annotations

import doctest
import importlib.util
import os
import re
import shlex
import subprocess
import sys
import types
from dataclasses import dataclass
from pathlib import Path

import pytest
from conftest import NO_BUILD_TOOLS, have_build_tools

ROOT = Path(__file__).resolve().parent.parent
PAGES = sorted((ROOT / "docs").glob("*.md")) + [ROOT / "README.md"]
KNOWN_LANGUAGES = {"pycon", "python", "sh"}
FENCE = re.compile(r"^```(\S*)\s*$")
# Cluster runtimes start native daemons and workers that cannot live with a preloaded ASan.
CLUSTER_RUNTIMES = ("ray", "distributed")
REQUIRES = re.compile(r"^<!--\s*requires:\s*([\w.]+)\s*-->\s*$")


@dataclass
class Block:
    page: Path
    line: int  # line number of the opening fence, from 1
    language: str
    text: str
    requires: str | None


def blocks_of(page: Path) -> list[Block]:
    lines = page.read_text(encoding="utf-8").splitlines()
    blocks: list[Block] = []
    i = 0
    while i < len(lines):
        match = FENCE.match(lines[i])
        if not match:
            i += 1
            continue
        start, language = i, match.group(1)
        j = i + 1
        while j < len(lines) and lines[j].rstrip() != "```":
            j += 1
        previous = next((lines[k] for k in range(start - 1, -1, -1) if lines[k].strip()), "")
        requirement = REQUIRES.match(previous)
        blocks.append(
            Block(page, start + 1, language, "\n".join(lines[start + 1 : j]) + "\n", requirement.group(1) if requirement else None)
        )
        i = j + 1
    return blocks


# ---------------------------------------------------------------------------------------------
# Shell commands
# ---------------------------------------------------------------------------------------------

INSTALL_COMMANDS = ("pip install", "pip wheel", "python -m build", "python -m venv", "auditwheel ")
# The suite and its sanitized and fuzzing runs are what CI runs around these docs.
SUITE_COMMANDS = ("python -m pytest", "tools/run_sanitized.sh", "VELMO_SANITIZE_CXX=", "VELMO_PROPERTY_SCALE=", "fuzz/run_fuzz.sh")


def shell_commands(block: Block) -> list[str]:
    commands = []
    for raw in block.text.splitlines():
        command = raw.split("  #")[0].strip()
        if command and not command.startswith("#"):
            commands.append(command)
    return commands


BENCHMARK_BUILD = Path(os.environ.get("TMPDIR", "/tmp")) / f"velmo-docs-bench-{os.getpid()}"


def benchmark_command(command: str) -> str:
    """A benchmark command of the docs, made quick: its own build folder, the fewest batches or games."""
    command = command.removeprefix("taskset -c 1 ").replace("build-bench", str(BENCHMARK_BUILD))
    if "velmo_core_benchmark " in command:
        command = command.rsplit(" ", 1)[0] + " 3"
    if "benchmarks/python_benchmark.py" in command:
        command += " --repeat 1 --min-time 0.001"
    if "benchmarks/scale_out.py" in command:
        command = re.sub(r"--games \d+", "--games 4", command)
    return command


def classify(command: str) -> str:
    """'run', 'install' or 'suite'; anything else is an error in the docs."""
    if command.startswith(("python examples/", "python -m velmo_game.", "python benchmarks/scale_out.py", "mypy ")):
        return "run"
    if command.startswith(("cmake ", "taskset -c 1 ")) and "bench" in command:
        return "run"
    if command.startswith(INSTALL_COMMANDS):
        return "install"
    if command.startswith(SUITE_COMMANDS):
        return "suite"
    return "unknown"


def mypy_environment() -> dict[str, str]:
    """Make the stubs visible to mypy when velmo is not installed with them (a build tree)."""
    env = dict(os.environ)
    spec = importlib.util.find_spec("velmo")
    installed = spec is not None and spec.origin is not None and (Path(spec.origin).parent / "velmo-stubs").is_dir()
    if not installed:
        import tempfile

        folder = Path(tempfile.mkdtemp(prefix="velmo-stubs-"))
        (folder / "velmo.pyi").write_text((ROOT / "stubs" / "velmo-stubs" / "__init__.pyi").read_text())
        env["MYPYPATH"] = str(folder)
    return env


def run_command(command: str) -> tuple[bool, str]:
    words = shlex.split(benchmark_command(command))
    if words[0] in ("cmake", str(BENCHMARK_BUILD / "core" / "velmo_core_benchmark")):
        if not have_build_tools():  # the core benchmark is built from the sources
            return True, f"skipped ({NO_BUILD_TOOLS}): {command}"
        env = dict(os.environ)
    elif words[0] == "python":
        cluster_backend = any(f"--backend={b}" in words or ("--backend" in words and b in words) for b in ("dask", "ray"))
        if cluster_backend and (os.environ.get("VELMO_SANITIZED") or importlib.util.find_spec("distributed") is None):
            return True, f"skipped (needs a cluster engine that runs here, not under the sanitizer): {command}"
        words[0] = sys.executable
        env = dict(os.environ)
    else:  # mypy
        if importlib.util.find_spec("mypy") is None:
            return True, f"skipped (mypy is not installed): {command}"
        words = [sys.executable, "-m", "mypy", *words[1:]]
        env = mypy_environment()
    # The commands that write pictures and replays write them into a folder of their own.
    cwd = _output_folder() if command.startswith(("python -m velmo_game.watch", "python -m velmo_game.replay")) else ROOT
    done = subprocess.run(words, cwd=cwd, env=env, capture_output=True, text=True, timeout=300)
    return done.returncode == 0, f"$ {command}\n{done.stdout}{done.stderr}"


_OUTPUT_FOLDER: list[Path] = []


def _output_folder() -> Path:
    if not _OUTPUT_FOLDER:
        import tempfile

        _OUTPUT_FOLDER.append(Path(tempfile.mkdtemp(prefix="velmo-docs-")))
    return _OUTPUT_FOLDER[0]


# ---------------------------------------------------------------------------------------------
# Running one page (in a child interpreter)
# ---------------------------------------------------------------------------------------------


def run_page(page: Path) -> int:
    import multiprocessing

    if "fork" in multiprocessing.get_all_start_methods():
        # Functions defined by a page live in its __main__ namespace; forked workers share it.
        multiprocessing.set_start_method("fork", force=True)
    # No __file__: worker processes must not try to re-run the page as a script.
    namespace = types.ModuleType("__main__")
    sys.modules["__main__"] = namespace
    os.chdir(ROOT)
    failures = ran = skipped = 0
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    parser = doctest.DocTestParser()
    for block in blocks_of(page):
        where = f"{page.relative_to(ROOT)}:{block.line}"
        if block.requires and importlib.util.find_spec(block.requires.split(".")[0]) is None:
            print(f"skipped {where}: needs {block.requires}")
            skipped += 1
            continue
        if block.requires in CLUSTER_RUNTIMES and os.environ.get("VELMO_SANITIZED"):
            print(f"skipped {where}: {block.requires} does not run under the preloaded sanitizer")
            skipped += 1
            continue
        if block.language == "pycon":
            test = parser.get_doctest(block.text, namespace.__dict__, where, str(page), block.line)
            test.globs = namespace.__dict__  # share one namespace across the page (get_doctest copies it)
            result = runner.run(test, clear_globs=False)
            failures += result.failed
        elif block.language == "python":
            try:
                exec(compile(block.text, where, "exec"), namespace.__dict__)
            except BaseException as error:  # noqa: B036 - report everything, PanicException included
                import traceback

                print(f"FAILED {where}:")
                traceback.print_exception(type(error), error, error.__traceback__)
                failures += 1
        elif block.language == "sh":
            for command in shell_commands(block):
                kind = classify(command)
                if kind == "run":
                    ok, output = run_command(command)
                    if not ok:
                        print(f"FAILED {where}:\n{output}")
                        failures += 1
                elif kind == "unknown":
                    print(f"FAILED {where}: the docs' tests do not know how to check {command!r}")
                    failures += 1
        else:
            print(f"FAILED {where}: unknown code block language {block.language!r}")
            failures += 1
        ran += 1
    print(f"{page.name}: {ran} blocks run, {skipped} skipped, {failures} failures")
    return 1 if failures else 0


# ---------------------------------------------------------------------------------------------
# The tests
# ---------------------------------------------------------------------------------------------

def child_environment() -> dict[str, str]:
    env = {k: v for k, v in os.environ.items() if k not in ("CLICOLOR", "CLICOLOR_FORCE", "NO_COLOR")}
    env["NO_COLOR"] = "1"
    return env


@pytest.mark.parametrize("page", PAGES, ids=lambda p: str(p.relative_to(ROOT)))
def test_every_code_block_runs(page):
    if not page.exists():
        pytest.skip(f"{page.name} does not exist")
    done = subprocess.run(
        [sys.executable, __file__, str(page)],
        cwd=ROOT,
        env=child_environment(),
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert done.returncode == 0, done.stdout + done.stderr


@pytest.mark.parametrize("page", PAGES, ids=lambda p: str(p.relative_to(ROOT)))
def test_code_blocks_are_of_known_kinds(page):
    if not page.exists():
        pytest.skip(f"{page.name} does not exist")
    for block in blocks_of(page):
        assert block.language in KNOWN_LANGUAGES, f"{page.name}:{block.line}: fence language {block.language!r}"
        if block.language == "sh":
            for command in shell_commands(block):
                assert classify(command) != "unknown", f"{page.name}:{block.line}: {command}"


def test_pages_have_code():
    with_code = [page.name for page in PAGES if page.exists() and page.name != "reference.md" and blocks_of(page)]
    assert {"tutorial.md", "coordinates.md", "puyo-types.md", "errors.md", "pickling.md", "colour.md", "parallel.md"} <= set(with_code)


def test_links_between_pages_resolve():
    for page in PAGES:
        if not page.exists():
            continue
        for target in re.findall(r"\]\(([^)#:\s]+)(?:#[^)]*)?\)", page.read_text(encoding="utf-8")):
            assert (page.parent / target).exists(), f"{page.name} links to missing {target}"


def test_readme_links_to_the_docs():
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    assert "docs/" in readme, "README.md should link to the documentation in docs/"


def test_reference_matches_the_stubs():
    spec = importlib.util.spec_from_file_location("make_reference", ROOT / "docs" / "make_reference.py")
    assert spec and spec.loader
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    assert (ROOT / "docs" / "reference.md").read_text(encoding="utf-8") == module.generate(), (
        "docs/reference.md is out of date: run python docs/make_reference.py"
    )


if __name__ == "__main__":
    raise SystemExit(run_page(Path(sys.argv[1]).resolve()))
