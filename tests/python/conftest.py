"""Shared fixtures: the command-line renderer the module is compared with."""

import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


@pytest.fixture(scope="session")
def cli():
    """Runs globeforge-render (GLOBEFORGE_RENDER, else the release build's) and returns its
    standard error; a missing renderer fails rather than skips."""
    exe = Path(os.environ.get("GLOBEFORGE_RENDER", ROOT / "build/release/globeforge-render"))
    if not exe.is_file():
        pytest.fail(f"no renderer at {exe}: build the release preset or set GLOBEFORGE_RENDER")

    def run(*args):
        done = subprocess.run([str(exe), *map(str, args)], capture_output=True, text=True)
        assert done.returncode == 0, done.stderr
        return done.stderr

    return run
