"""drel.exe, the program cross-built for 64-bit Windows, run under Wine
against the Linux drel on a corpus of protocol files: every command gives the
same bytes on standard output and the same exit status. ./dev windows runs
these, with DREL_WINDOWS naming drel.exe and one Wine server for all."""

import concurrent.futures
import hashlib
import os
import pathlib
import random
import re
import shutil
import subprocess

import numpy as np
import pytest

import pydrel
from test_drel import DREL, saved
from test_json import random_protocol

WINDOWS = os.environ.get("DREL_WINDOWS")
pytestmark = pytest.mark.skipif(not WINDOWS or shutil.which("wine") is None,
                                reason="drel.exe and Wine: ./dev windows runs these")
REPO = pathlib.Path(__file__).resolve().parent.parent


def run(program, args, cwd, stdin=None):
    """Exit status and a digest of standard output (and its length), so that
    outputs of hundreds of megabytes compare without being kept."""
    command = ["wine", WINDOWS, *args] if program == "windows" else [str(DREL), *args]
    with subprocess.Popen(command, cwd=cwd, stdin=subprocess.PIPE if stdin is not None else subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE) as child:
        # Standard input and standard error each by a thread of their own, so
        # that no pipe fills while another is read.
        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            if stdin is not None:
                pool.submit(lambda: (child.stdin.write(stdin), child.stdin.close()))
            stderr = pool.submit(child.stderr.read)
            digest, length = hashlib.sha256(), 0
            while piece := child.stdout.read(1 << 20):
                digest.update(piece)
                length += len(piece)
            return child.wait(timeout=600), digest.hexdigest(), length, stderr.result()


def composing_part(script):
    """A gallery script without its drawing, which needs matplotlib: what composes and saves."""
    return "\n".join(line for line in script.read_text().splitlines() if "plot()" not in line)


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    """Protocol files of every sort: the README's tour, the gallery's, random
    ones, the longest session, and files that are no protocol or a cut one."""
    d = tmp_path_factory.mktemp("corpus")
    readme = (REPO / "README.md").read_text()
    tour = readme[readme.index("## A short tour"):]
    exec(re.search(r"```python\n(.*?)```", tour, re.S).group(1).replace('"session.drel"', f'"{d}/tour.drel"'),
         {"__name__": "tour"})
    for script in sorted((REPO / "examples" / "gallery").glob("plot_*.py")):
        here = os.getcwd()
        os.chdir(d)
        try:
            exec(composing_part(script), {"__name__": "gallery"})
        finally:
            os.chdir(here)
    rng = random.Random(37)
    for k in range(24):
        saved(random_protocol(rng), d, f"random{k:02}.drel")
    p = pydrel.Protocol()
    p.set_session_duration(1800.0)
    p.add_arbitrary_signal(np.random.default_rng(11).random(p.get_num_samples()))
    p.add_sine_signal(1.0, 10.0)
    p.set_modulation_source(pydrel.Channel.A, 0)
    saved(p, d, "longest.drel")
    good = (d / "tour.drel").read_bytes()
    for cut in (0, 1, 150, len(good) // 2, len(good) - 1):
        (d / f"cut{cut}.drel").write_bytes(good[:cut])
    (d / "trailing.drel").write_bytes(good + b"\x00")
    (d / "noise.drel").write_bytes(bytes(np.random.default_rng(2).integers(0, 256, 4096, dtype=np.uint8)))
    (d / "variant.drel").write_bytes(good[:150] + b"\x09" + good[151:])
    (d / "json.drel").write_text('{"intensity": 0.5}')
    return d


def table(corpus):
    """(arguments, standard input) for every command on every file, and
    each pair of neighbours for diff."""
    files = sorted(p.name for p in corpus.iterdir() if p.suffix == ".drel")
    readable = [f for f in files if not f.startswith(("cut", "noise", "variant", "json", "trailing"))]
    runs = []
    for f in files:
        for command in (["show"], ["show", "--json"], ["show", "--routing"], ["show", "--summary"], ["check"],
                        ["check", "--json"], ["check", "--strict"], ["plot"]):
            runs.append(([*command, f], None))
    for a, b in zip(readable, readable[1:] + readable[:1]):
        runs += [(["diff", a, b], None), (["diff", "--json", a, b], None), (["diff", "--brief", a, a], None)]
    for f in readable:
        json = subprocess.run([str(DREL), "show", "--json", f], cwd=corpus, capture_output=True, check=True).stdout
        (corpus / f"{f}.json").write_bytes(json)
        runs += [(["compose", "--allow-errors", f"{f}.json", "-o", "-"], None),
                 (["compose", "-", "-o", "-"], json), (["show", "-"], (corpus / f).read_bytes())]
    runs += [(["compose", "missing.json", "-o", "-"], None), (["compose", "cut0.drel", "-o", "-"], None),
             (["check", "missing.drel"], None), (["show", "--json", "tour.drel", "sham.drel"], None),
             ([], None), (["--version"], None), (["--help"], None), (["frobnicate"], None)]
    runs += [([command, "--help"], None) for command in ("show", "check", "diff", "compose", "plot")]
    return runs


def test_drel_exe_prints_what_drel_prints(corpus):
    runs = table(corpus)
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        results = list(pool.map(lambda r: (run("linux", r[0], corpus, r[1]), run("windows", r[0], corpus, r[1])),
                                runs))
    differing = [(args, linux[:3], windows[:3], windows[3][-300:]) for (args, _), (linux, windows) in zip(runs, results)
                 if linux[:3] != windows[:3]]
    assert differing == []
    files = len([p for p in corpus.iterdir() if p.suffix == ".drel"])
    print(f"\n{len(runs)} runs on {files} files: the same exit status and standard output from both programs")


def test_compose_to_a_file_of_any_name_and_leaves_a_refused_one_as_it_was(corpus, tmp_path):
    json = subprocess.run([str(DREL), "show", "--json", "tour.drel"], cwd=corpus, capture_output=True,
                          check=True).stdout
    for name in ("Sitzung ü.drel", "セッション.drel", "with two  spaces.drel"):
        (tmp_path / "in.json").write_bytes(json)
        status, *_ = run("windows", ["compose", "in.json", "-o", name], tmp_path)
        assert status == 0 and (tmp_path / name).read_bytes() == (corpus / "tour.drel").read_bytes()
        # Read back by that name, in every command that takes one.
        assert run("windows", ["show", name], tmp_path)[:3] == run("linux", ["show", name], tmp_path)[:3]
        assert run("windows", ["plot", name], tmp_path)[:3] == run("linux", ["plot", name], tmp_path)[:3]
        (tmp_path / name).unlink()
    (tmp_path / "kept.drel").write_bytes(b"kept")
    (tmp_path / "bad.json").write_text('{"intensity": 60, "signals": [{"Constant": {"value": 0}}]}')
    status, _, length, stderr = run("windows", ["compose", "bad.json", "-o", "kept.drel"], tmp_path)
    assert (status, length) == (2, 0) and (tmp_path / "kept.drel").read_bytes() == b"kept"
    assert stderr.decode().startswith("bad.json:1:15: not what pydrel composes: intensity is 60.0")
    # An existing file is replaced whole, and no temporary file is left.
    status, *_ = run("windows", ["compose", "in.json", "-o", "kept.drel"], tmp_path)
    assert status == 0 and (tmp_path / "kept.drel").read_bytes() == (corpus / "tour.drel").read_bytes()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["bad.json", "in.json", "kept.drel"]


def test_show_json_into_compose_through_pipes(corpus):
    for name in ("tour.drel", "longest.drel", "random03.drel"):
        shown = subprocess.run(f"wine {WINDOWS} show --json {name} | wine {WINDOWS} compose --allow-errors - -o -",
                               shell=True, cwd=corpus, capture_output=True, timeout=600)
        assert shown.returncode == 0 and shown.stdout == (corpus / name).read_bytes(), shown.stderr[-300:]


@pytest.mark.parametrize("disabled", ["", "AVX512F", "AVX2", "avx3"])
def test_the_cpu_levels_on_windows(corpus, disabled):
    env = {**os.environ, "PYDREL_DISABLE_CPU_FEATURES": disabled}
    for args in (["show", "--json", "longest.drel"], ["check", "longest.drel"]):
        windows = subprocess.run(["wine", WINDOWS, *args], cwd=corpus, env=env, capture_output=True, timeout=600)
        linux = subprocess.run([str(DREL), *args], cwd=corpus, env=env, capture_output=True, timeout=600)
        assert (windows.returncode, windows.stdout, windows.stderr) == (linux.returncode, linux.stdout, linux.stderr)
