"""The vector code's level, chosen by PYDREL_DISABLE_CPU_FEATURES when each
binary loads: every level gives the same results, and an unknown feature is
refused at load, naming it."""

import hashlib
import os
import platform
import subprocess
import sys
import textwrap

import pytest

import drel
from test_drel import DREL

# What to turn off to run at each level this machine has.
if platform.machine() == "aarch64":
    DISABLE = {"baseline": "NEON", "NEON": ""}
else:
    DISABLE = {"baseline": "AVX512F AVX2", "AVX2": "AVX512F", "AVX-512": ""}
LEVELS = drel._native.cpu_level()[2]

# The hot paths on their edge cases: ties between levels, every layout,
# out-of-range samples at the first, a middle and the last position, and
# everything that reads the levels back.
WORK = textwrap.dedent("""
    import hashlib, sys
    import numpy as np
    import drel, pydrel
    digest = hashlib.sha256()
    def note(x):
        digest.update(repr(x).encode())
    p = pydrel.Protocol()
    p.set_session_duration(1.0)
    k = np.arange(5000) % 32767
    ties = (k + 0.5) / 32767
    samples = np.concatenate([ties[::3], np.nextafter(ties, 0)[1::3], np.nextafter(ties, 1)[2::3]])[:5000]
    samples[:4] = [0.0, -0.0, 1.0, 0.5]
    backing = np.repeat(samples, 2)
    for layout in (samples, samples[::-1], backing[::2], backing[1::2][::-1]):
        p.add_arbitrary_signal(np.ascontiguousarray(layout) if layout is backing else layout)
    for at in (0, 2500, 4999):
        for bad in (np.nan, -1e-300, 1.0000000000000002):
            spoilt = samples.copy()
            spoilt[at] = bad
            try:
                p.add_arbitrary_signal(spoilt)
            except BaseException as e:
                note(str(e))
    p.save(sys.argv[1])
    s = drel.load(sys.argv[1])
    note(str(p)); note(s.to_json(summary=True)); note(s.check()); note(s.to_svg())
    note(drel.diff(s, drel.loads(open(sys.argv[1], "rb").read())))
    note([drel._native.fractions(x.samples).tobytes() for x in s.signals])
    print(drel._native.cpu_level()[0], digest.hexdigest())
""")


def test_every_level_gives_the_same_results(tmp_path):
    results = {}
    for level in LEVELS:
        run = subprocess.run([sys.executable, "-c", WORK, str(tmp_path / f"{level}.drel")], capture_output=True,
                             text=True, timeout=300, env={**os.environ, "PYDREL_DISABLE_CPU_FEATURES": DISABLE[level]})
        assert run.returncode == 0, run.stderr
        ran, digest = run.stdout.split()
        assert ran == level
        results[level] = digest
    assert len(set(results.values())) == 1, results
    assert len({(tmp_path / f"{level}.drel").read_bytes() for level in results}) == 1


@pytest.mark.parametrize("what", ["import pydrel", "import drel", "drel"])
def test_an_unknown_feature_is_refused_at_load(what):
    env = {**os.environ, "PYDREL_DISABLE_CPU_FEATURES": "SSE9"}
    known = "it is NEON" if platform.machine() == "aarch64" else "they are AVX2 and AVX512F"
    message = f"PYDREL_DISABLE_CPU_FEATURES names 'SSE9', which is no CPU feature of pydrel's: {known}"
    if what == "drel":
        run = subprocess.run([str(DREL), "--version"], capture_output=True, text=True, env=env)
        assert (run.returncode, run.stdout, run.stderr) == (2, "", f"drel: {message}\n")
        return
    run = subprocess.run([sys.executable, "-c", what], capture_output=True, text=True, env=env)
    assert run.returncode == 1 and run.stderr.splitlines()[-1] == f"ImportError: {message}"
