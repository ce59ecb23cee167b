"""Packaging: metadata of the installed distribution, and (opt-in) sdist -> fresh install -> examples.

The install round trip compiles velmo again in a fresh virtual environment, which takes minutes,
so it runs only with VELMO_TEST_INSTALL=1:

    VELMO_TEST_INSTALL=1 python -m pytest tests/test_packaging.py
"""

from __future__ import annotations

import importlib.metadata
import importlib.util
import os
import subprocess
import sys
import tarfile
import venv
from pathlib import Path

import pytest

import velmo

ROOT = Path(__file__).resolve().parent.parent


def distribution() -> importlib.metadata.Distribution:
    """The installed distribution that the imported velmo module belongs to."""
    try:
        dist = importlib.metadata.distribution("velmo")
    except importlib.metadata.PackageNotFoundError:
        pytest.skip("velmo is not installed (imported from a build tree)")
    installed = {Path(str(dist.locate_file(f))).resolve() for f in dist.files or []}
    if Path(velmo.__file__).resolve() not in installed:
        pytest.skip("the imported velmo is not the installed one (imported from a build tree)")
    return dist


def test_version_is_readable():
    distribution()
    version = importlib.metadata.version("velmo")
    assert version.count(".") >= 2 and version.split(".")[0].isdigit()


def test_metadata():
    meta = distribution().metadata
    assert meta["Name"] == "velmo"
    assert meta["Requires-Python"].startswith(">=3.")
    classifiers = meta.get_all("Classifier") or []
    assert any(c.startswith("Programming Language :: Python :: 3") for c in classifiers)
    assert "Typing :: Typed" in classifiers
    assert meta.get("License") or meta.get("License-Expression") or any(c.startswith("License ::") for c in classifiers)
    assert not [r for r in (meta.get_all("Requires-Dist") or []) if "extra ==" not in r], "velmo needs no dependency"


def test_installed_files_include_the_stubs():
    files = [str(f) for f in (distribution().files or [])]
    assert any(f.replace("\\", "/").endswith("velmo-stubs/__init__.pyi") for f in files), files


install_round_trip = pytest.mark.skipif(
    os.environ.get("VELMO_TEST_INSTALL") != "1", reason="set VELMO_TEST_INSTALL=1 to build and install from an sdist"
)


@install_round_trip
def test_sdist_installs_in_a_fresh_environment(tmp_path):
    if importlib.util.find_spec("build") is None:
        pytest.skip("the build package is not installed")
    subprocess.run([sys.executable, "-m", "build", "--sdist", "--outdir", str(tmp_path / "dist"), str(ROOT)], check=True)
    (sdist,) = (tmp_path / "dist").glob("velmo-*.tar.gz")
    with tarfile.open(sdist) as archive:
        names = archive.getnames()
    for needed in ("stubs/velmo-stubs/__init__.pyi", "docs/tutorial.md", "examples/greedy.py", "core/", "python/"):
        assert any(needed in name for name in names), needed

    env_dir = tmp_path / "venv"
    venv.create(env_dir, with_pip=True)
    python = env_dir / "bin" / "python"
    subprocess.run([str(python), "-m", "pip", "install", "-q", str(sdist)], check=True)
    for example, args in [("random_play.py", ["--games", "2", "--moves", "30"]), ("greedy.py", ["--games", "1", "--moves", "10"])]:
        subprocess.run([str(python), str(ROOT / "examples" / example), *args], check=True, cwd=tmp_path)
    check = "import importlib.metadata as m, pathlib, velmo; print(m.version('velmo')); print((pathlib.Path(velmo.__file__).parent / 'velmo-stubs' / '__init__.pyi').is_file())"
    done = subprocess.run([str(python), "-c", check], check=True, capture_output=True, text=True, cwd=tmp_path)
    version, has_stubs = done.stdout.split()
    assert version == importlib.metadata.version("velmo") and has_stubs == "True"


def test_licence_file_matches_the_declared_licence():
    text = (ROOT / "LICENSE").read_text(encoding="utf-8") if (ROOT / "LICENSE").is_file() else None
    if text is None:
        pytest.skip("needs the source tree (LICENSE)")
    assert text.startswith("MIT License\n") and "Permission is hereby granted, free of charge" in text
    meta = distribution().metadata
    assert meta.get("License") == "MIT" and "License :: OSI Approved :: MIT License" in (meta.get_all("Classifier") or [])
    assert meta.get("Author") or meta.get("Author-email"), "no author in the metadata"
    assert "puzzle" in (meta.get("Keywords") or "")
    licences = [f for f in distribution().files or [] if Path(str(f)).name == "LICENSE"]
    assert licences and licences[0].read_text(encoding="utf-8") == text


def test_no_build_file_tunes_for_the_build_machine():
    """A wheel must run on every x86-64 processor: no -march=native (nor -mcpu/-mtune=native)."""
    build_files = list(ROOT.glob("**/CMakeLists.txt")) + [ROOT / "pyproject.toml"]
    if not (ROOT / "CMakeLists.txt").is_file():
        pytest.skip("needs the source tree")
    for path in build_files:
        if "build" in path.relative_to(ROOT).parts[0]:
            continue
        text = path.read_text(encoding="utf-8")
        for flag in ("-march=native", "-mcpu=native", "-mtune=native"):
            assert flag not in text, f"{path.relative_to(ROOT)} uses {flag}"
