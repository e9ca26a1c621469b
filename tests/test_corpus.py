"""The same protocols on every architecture: a corpus of random protocols,
made from fixed seeds by the same calls, gives the same file, text form,
JSON, findings and picture, byte for byte, wherever it is made. The sums
were made on x86-64 (tests/data/corpus.sha256) and are checked here on
whatever this machine is: aarch64 under emulation too.

    PYDREL_WRITE_CORPUS=1 python -m pytest tests/test_corpus.py   # writes the sums, on x86-64
"""

import hashlib
import math
import os
import pathlib
import platform
import random

import numpy as np

import drel
import pydrel
from pydrel import Channel, Coil

PROTOCOLS = 2000
BUCKET = 100  # protocols a line of sums
SUMS = pathlib.Path(__file__).parent / "data" / "corpus.sha256"
KINDS = ("file", "text", "json", "findings", "picture")

FLOATS = [0.0, -0.0, 1.0, 0.1, 0.3, 2.5, 1e-5, 1e16, 123456.789, 5e-324, 2.2250738585072014e-308,
          1.7976931348623157e308, math.inf, -math.inf, math.nan, -math.nan, 4999.0, 2500.0, 2500.5]


def protocol(seed):
    """One protocol of every kind of call, its values drawn from `seed`."""
    rng = random.Random(seed)
    p = pydrel.Protocol()

    def number():
        return rng.choice(FLOATS) if rng.random() < 0.4 else rng.uniform(-3.0, 3.0) * 10 ** rng.randint(-6, 6)

    p.set_stimulation_intensity(rng.choice([0.0, 0.25, 0.5, 1.0, rng.random()]))
    for _ in range(rng.randrange(1, 6)):
        kind = rng.randrange(5)
        if kind == 0:
            p.add_constant_signal(number())
        elif kind == 1:
            p.add_sine_signal(number(), number(), number(), number())
        elif kind == 2:
            p.add_ramp_signal(number(), number(), number())
        elif kind == 3:
            p.add_mixed_signal(rng.randrange(8), rng.choice([0, 1, 2**64 - 1, rng.randrange(2**64)]))
        else:
            p.set_session_duration(rng.choice([0.01, 0.0123, 0.05, 0.2]))
            n = p.get_num_samples()
            samples = np.array([rng.random() for _ in range(n)])
            samples[rng.randrange(n)] = rng.choice([0.0, 1.0, 0.5 / 32767, 2.5 / 32767])  # ties between levels
            p.add_arbitrary_signal(samples)
    p.set_session_duration(rng.choice([0.01, 0.0123, 0.2, 60.0, 1799.9999999999998, 1800.0]))
    if rng.random() < 0.5:
        p.enable_channel(Channel.B)
    for coil in (Coil.A1, Coil.A2, Coil.B1, Coil.B2):
        p.set_amplitude_source(coil, rng.choice([0, 1, 2, 7, 2**64 - 1]), rng.random() < 0.3)
    for channel in (Channel.A, Channel.B):
        p.set_modulation_source(channel, rng.randrange(6), rng.random() < 0.2)
    return p


def sums(tmp_path):
    """The sums of each kind, a line of them each BUCKET protocols."""
    lines = []
    digests = {kind: hashlib.sha256() for kind in KINDS}
    for seed in range(PROTOCOLS):
        path = tmp_path / f"{seed % BUCKET}.drel"
        protocol(seed).save(str(path))
        data = path.read_bytes()
        s = drel.loads(data)
        findings = "\n".join(f"{f.severity}: {f.message}" for f in s.check())
        for kind, content in zip(KINDS, (data, str(s).encode(), s.to_json().encode(), findings.encode(),
                                         s.to_svg(f"{seed}").encode())):
            digests[kind].update(hashlib.sha256(content).digest())
        if seed % BUCKET == BUCKET - 1:
            lines.append(f"{seed - BUCKET + 1:4}-{seed:4} " + " ".join(f"{k}={digests[k].hexdigest()}" for k in KINDS))
            digests = {kind: hashlib.sha256() for kind in KINDS}
    return lines


def test_the_corpus_is_the_same_on_every_architecture(tmp_path):
    made = sums(tmp_path)
    if os.environ.get("PYDREL_WRITE_CORPUS") == "1":
        assert platform.machine() == "x86_64", "the sums are made on x86-64 and checked elsewhere"
        SUMS.write_text("\n".join(made) + "\n")
    expected = SUMS.read_text().splitlines()
    differing = [(want.split()[0], [k for k, w, g in zip(KINDS, want.split()[1:], got.split()[1:]) if w != g])
                 for want, got in zip(expected, made) if want != got]
    assert len(made) == len(expected) == PROTOCOLS // BUCKET
    assert differing == [], f"on {platform.machine()}: protocols whose sums differ from x86-64's, and which kinds"
