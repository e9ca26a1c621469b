"""The README's snippets run as written, pasted in order, and its console
sessions print what it says they print."""

import os
import pathlib
import re
import subprocess
import sys

import pytest

import pydrel
from test_drel import DREL

# The snippets run in another directory: hand them the modules under test by
# an absolute path, whatever form PYTHONPATH had here.
MODULES = pathlib.Path(pydrel.__file__).resolve().parent

README = (pathlib.Path(__file__).parent.parent / "README.md").read_text()
BLOCKS = re.findall(r"```(python|console)\n(.*?)```", README, re.S)


def test_snippets_in_order(tmp_path):
    try:
        import matplotlib.pyplot  # noqa: F401  (the notebook section plots)
    except ImportError:
        pytest.skip("no matplotlib for this Python")
    env = {**os.environ, "MPLBACKEND": "Agg", "PATH": f"{DREL.parent}:{os.environ['PATH']}",
           "PYTHONPATH": os.pathsep.join([str(MODULES), os.environ.get("PYTHONPATH", "")])}
    status = None
    for kind, text in BLOCKS:
        if kind == "python":
            run = subprocess.run([sys.executable, "-c", text], cwd=tmp_path, capture_output=True, text=True,
                                 timeout=300, env=env)
            assert run.returncode == 0, text + run.stderr
            continue
        for command, output in console_sessions_of(text):
            if command == "echo $?":
                assert [str(status)] == output, command
                continue
            run = subprocess.run(command, shell=True, cwd=tmp_path, capture_output=True, text=True, timeout=300,
                                 env=env)
            status = run.returncode
            assert (run.stdout + run.stderr).splitlines() == output, command


def console_sessions_of(text):
    lines = text.splitlines()
    i = 0
    while i < len(lines):
        command, output = lines[i][2:], []
        i += 1
        while i < len(lines) and not lines[i].startswith("$ "):
            output.append(lines[i])
            i += 1
        yield command, output
