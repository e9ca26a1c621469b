"""Comparing two protocols (drel diff, drel.diff()) and protocols as JSON
(drel show --json, Settings.to_json())."""

import dataclasses
import json
import math
import struct

import numpy as np
import pytest

import drel
import pydrel
from drel_reader import write_settings
from test_drel import drel as run_drel, every_kind, saved

R = dataclasses.replace


def nan(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


def signals(change):
    return lambda s: R(s, signals=change(list(s.signals)))


def at(i, **fields):
    return signals(lambda table: [R(x, **fields) if j == i else x for j, x in enumerate(table)])


def levels(change):
    def changed(table):
        samples = np.array(table[3].samples)
        table[3] = drel.Arbitrary(change(samples))
        return table
    return signals(changed)


def poke(samples, where, by):
    samples[where] += by
    return samples


def put(samples, where, level):
    samples[where] = level
    return samples


def machine(**fields):
    return lambda s: R(s, machine_config=R(s.machine_config, **fields))


SAME = lambda s: s  # noqa: E731
ONLY_WAVEFORM = "Arbitrary(ArbitrarySignalParams { samples: <12500 levels: min 1, max 32766, first 2806, last 395> })"

# (change of A, change of B) from the same protocol -> drel diff's lines.
PAIRS = {
    "equal": (SAME, SAME, []),
    "bool": (SAME, lambda s: R(s, channel_b_settings=R(s.channel_b_settings, enabled=False)),
             ["channel_b_settings.enabled: true -> false"]),
    "unsigned": (SAME, lambda s: R(s, channel_a_settings=R(s.channel_a_settings, amplitude1_source=R(
        s.channel_a_settings.amplitude1_source, internal=2))),
                 ["channel_a_settings.amplitude1_source.internal: 0 -> 2"]),
    "float": (SAME, lambda s: R(s, intensity=0.35), ["intensity: 0.25 -> 0.35"]),
    "NaN payloads": (lambda s: R(s, intensity=nan(0x7FF8000000000123)), lambda s: R(s, intensity=math.nan),
                     ["intensity: NaN -> NaN (only their bits differ: 0x7ff8000000000123 -> 0x7ff8000000000000)"]),
    "-0.0 and 0.0": (SAME, at(0, value=0.0), ["signals[0].value: -0.0 -> 0.0"]),
    "text": (SAME, lambda s: machine(coils=(R(s.machine_config.coils[0], name='Coil "2"\n'),))(s),
             ['machine_config.coils[0].name: "Default" -> "Coil \\"2\\"\\n"']),
    "fixed array": (SAME, lambda s: R(s, monitor_trace_visible=(False,) * 5 + (True,) + (False,) * 10),
                    ["monitor_trace_visible[5]: false -> true"]),
    "growable array": (SAME, lambda s: machine(capacitors=(*s.machine_config.capacitors, 47.0))(s),
                       ["machine_config.capacitors: 1 entry -> 2 entries",
                        "machine_config.capacitors[1]: only in B: 47.0"]),
    "variant": (SAME, signals(lambda t: t[:2] + [drel.Sine(0.5, 10.0, 0.0, 1.0)] + t[3:]),
                ["signals[2]: Ramp -> Sine"]),
    "parameters in order": (SAME, lambda s: at(1, frequency=20.0, depth=1.0)(R(s, intensity=0.3)),
                            ["intensity: 0.25 -> 0.3", "signals[1].frequency: 10.0 -> 20.0",
                             "signals[1].depth: 0.5 -> 1.0"]),
    "one level": (SAME, levels(lambda x: poke(x, 7, 5)),
                  ["signals[3].samples: 1 of 12500 levels differs, sample 7 (0.0014 s), by 5 levels"]),
    "levels at both ends": (SAME, levels(lambda x: poke(poke(x, 0, -1), [6000, 12499], 100)),
                            ["signals[3].samples: 3 of 12500 levels differ, samples 0 to 12499 (0.0 to 2.4998 s), by at most 100 levels"]),
    "levels of another length": (SAME, levels(lambda x: x[:-1]), ["signals[3].samples: 12500 levels -> 12499 levels"]),
    "the first level only": (SAME, levels(lambda x: poke(x, 0, 1)),
                             ["signals[3].samples: 1 of 12500 levels differs, sample 0 (0.0 s), by 1 level"]),
    "the last level only": (SAME, levels(lambda x: poke(x, 12499, -1)),
                            ["signals[3].samples: 1 of 12500 levels differs, sample 12499 (2.4998 s), by 1 level"]),
    "the largest difference of two levels": (
        levels(lambda x: put(x, 5, -32768)), levels(lambda x: put(x, 5, 32767)),
        ["signals[3].samples: 1 of 12500 levels differs, sample 5 (0.001 s), by 65535 levels"]),
    "two waveforms of one level": (levels(lambda x: x[:1]), levels(lambda x: poke(x[:1], 0, 2)),
                                   ["signals[3].samples: 1 of 1 level differs, sample 0 (0.0 s), by 2 levels"]),
    "two empty waveforms": (levels(lambda x: x[:0]), levels(lambda x: x[:0]), []),
    "an empty waveform and one level": (levels(lambda x: x[:0]), levels(lambda x: x[:1]),
                                        ["signals[3].samples: 0 levels -> 1 level"]),
    "the largest index": (SAME, at(4, b_idx=2**64 - 1), ["signals[4].b_idx: 3 -> 18446744073709551615"]),
    "a grown table": (SAME, signals(lambda t: t + [drel.Constant(0.5)]),
                      ["signals: 5 entries -> 6 entries",
                       "signals[5]: only in B: Constant(ConstantSignalParams { value: 0.5 })"]),
    "a shrunk table": (SAME, signals(lambda t: t[:3]),
                       ["signals: 5 entries -> 3 entries", f"signals[3]: only in A: {ONLY_WAVEFORM}",
                        "signals[4]: only in A: MixedSignal(MixedSignalParams { a_idx: 0, b_idx: 3 })"]),
}


@pytest.fixture
def base(tmp_path):
    return drel.load(saved(every_kind(), tmp_path, "base.drel"))


def written(record, path):
    path.write_bytes(write_settings(record))
    assert drel.load(path) == record or str(drel.load(path)) == str(record)
    return path


def as_json(value):
    """A record in the JSON form's shape."""
    if isinstance(value, drel.Arbitrary):
        return {"Arbitrary": {"samples": value.samples.tolist()}}
    if dataclasses.is_dataclass(value):
        fields = {f.name: as_json(getattr(value, f.name)) for f in dataclasses.fields(value)}
        return {type(value).__name__: fields} if type(value).__name__ in ("Constant", "Sine", "Ramp", "MixedSignal") \
            else fields
    if isinstance(value, (tuple, list)):
        return [as_json(v) for v in value]
    if isinstance(value, float) and not math.isfinite(value):
        return repr(value).replace("nan", "NaN")
    return value


def from_json(obj):
    """A difference of drel diff --json in the shape of drel.diff()'s."""
    if "differing" in obj:
        return (obj["path"], obj["a_length"], obj["b_length"], obj["differing"], obj["first"], obj["last"],
                obj["first_s"], obj["last_s"], obj["max_abs"])
    if "a_length" in obj:
        return (obj["path"], obj["a_length"], obj["b_length"])
    return (obj["path"], obj["a"], obj["b"])


def of_package(d):
    if isinstance(d, drel.WaveformDifference):
        return (d.path, d.a, d.b, d.differing, d.first, d.last, d.first_s, d.last_s, d.max_abs)
    return (d.path, as_json(d.a), as_json(d.b))


@pytest.mark.parametrize("change_a, change_b, lines", PAIRS.values(), ids=PAIRS.keys())
def test_diff(tmp_path, base, change_a, change_b, lines):
    a, b = change_a(base), change_b(base)
    pa, pb = written(a, tmp_path / "a.drel"), written(b, tmp_path / "b.drel")
    run = run_drel("diff", pa, pb)
    assert (run.stdout.decode().splitlines(), run.returncode, run.stderr) == (lines, 1 if lines else 0, b"")
    as_json_run = run_drel("diff", "--json", pa, pb)
    reported = json.loads(as_json_run.stdout)
    assert as_json_run.returncode == run.returncode and len(reported) == len(lines)
    assert [of_package(d) for d in drel.diff(a, b)] == [from_json(obj) for obj in reported]
    if lines:
        assert run_drel("diff", "-n", "1", pa, pb).stdout.decode().splitlines() == lines[:1]
        assert run_drel("diff", "--brief", pa, pb).stdout.decode() == f"{pa} and {pb} differ\n"
        assert drel.diff(a, a) == [] and run_drel("diff", pb, pb).returncode == 0
        # A difference both ways round, with A and B swapped.
        assert len(drel.diff(b, a)) == len(lines)


@pytest.mark.partial_files
@pytest.mark.parametrize("args, status, stdout, stderr", [
    (["a.drel", "-"], 1, "intensity: 0.0 -> 0.5\n", ""),
    (["cut.drel", "a.drel"], 2, "", "cut.drel: the protocol file ends early, probably truncated: unexpected end "
                                    "of data at byte 9 in machine_config.num_coils\n"),
    (["a.drel", "missing.drel"], 2, "", "missing.drel: cannot be read: No such file or directory\n"),
    (["-n", "0", "a.drel", "b.drel"], 2, "", "drel: -n takes a count of differences from 1 on, not '0'\n"),
    (["-n", "x", "a.drel", "b.drel"], 2, "", "drel: -n takes a count of differences from 1 on, not 'x'\n"),
    (["--brief", "--json", "a.drel", "b.drel"], 2, "", "drel: --brief and --json do not go together\n"),
    (["a.drel"], 2, "", "drel: diff takes A B, not 1 file\n"),
    (["-", "-"], 2, "", "drel: standard input can be read only once: give - for one of A and B\n"),
    (["a.drel", "b.drel", "b.drel"], 2, "", "drel: diff takes A B, not 3 files\n"),
    (["--strict", "a.drel", "b.drel"], 2, "", "drel: unknown option '--strict' for diff\n"),
    (["-n"], 2, "", "drel: option '-n' needs its COUNT\n"),
])
def test_diff_exit_status(tmp_path, args, status, stdout, stderr):
    p = pydrel.Protocol()
    saved(p, tmp_path, "a.drel")
    p.set_stimulation_intensity(0.5)
    b = saved(p, tmp_path, "b.drel")
    (tmp_path / "cut.drel").write_bytes(b.read_bytes()[:9])
    run = subprocess_in(tmp_path, "diff", *args, stdin=b.read_bytes())
    assert run.returncode == status
    assert run.stdout.decode() == stdout
    assert run.stderr.decode().splitlines()[:1] == stderr.splitlines()


def subprocess_in(directory, *args, stdin=None):
    import subprocess
    from test_drel import DREL
    return subprocess.run([str(DREL), *args], cwd=directory, input=stdin, capture_output=True, timeout=120)


def refuse(constant):
    raise ValueError(f"bare {constant} in JSON")


def test_show_json_gives_back_every_field(tmp_path, monkeypatch):
    monkeypatch.setenv("DREL_TARGET_MACHINE", "")
    p = every_kind()
    p.add_sine_signal(nan(0x7FF8000000000123), -math.inf, 5e-324, 1e16)
    p.add_constant_signal(-0.0)
    a, b = saved(p, tmp_path, "a.drel"), saved(pydrel.Protocol(), tmp_path, "b.drel")
    run = run_drel("show", "--json", a, b)
    lines = run.stdout.decode().splitlines()
    assert run.returncode == 0 and len(lines) == 2  # JSON Lines
    for line, path in zip(lines, (a, b)):
        settings = drel.load(path)
        parsed = json.loads(line, parse_constant=refuse)
        assert parsed == as_json(settings)
        assert list(parsed) == [f.name for f in dataclasses.fields(drel.Settings)]
        assert settings.to_json() == line
    summary = json.loads(run_drel("show", "--json", "--summary", a).stdout)
    assert summary["signals"][3] == {"Arbitrary": {"samples": {"length": 12500, "min": 1, "max": 32766,
                                                               "first": 2806, "last": 395}}}
    assert summary == json.loads(drel.load(a).to_json(summary=True))
    assert math.copysign(1.0, json.loads(lines[0])["signals"][6]["Constant"]["value"]) == -1.0
