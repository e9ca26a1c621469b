"""Protocols from JSON: drel compose and drel.from_json() read what drel show
--json and Settings.to_json() write, and make the bytes that pydrel would
have saved; what is no protocol's JSON is refused with its line, column and
field."""

import json
import math
import os
import random
import shutil
import struct
import subprocess

import numpy as np
import pytest

import drel
import pydrel
from pydrel import Channel, Coil
from test_drel import DREL, saved

SHORT = """{"session_duration": 120.0, "intensity": 0.5,
 "signals": [{"Sine": {"amplitude": 1.0, "frequency": 10.0}}],
 "channel_a_settings": {"amplitude1_source": {"internal": 0}}}"""


def short_script(p):
    p.set_session_duration(120.0)
    p.set_stimulation_intensity(0.5)
    sine = p.add_sine_signal(1.0, 10.0)
    p.set_amplitude_source(Coil.A1, sine)


def compose(tmp_path, text, *options):
    (tmp_path / "p.json").write_bytes(text if isinstance(text, bytes) else text.encode())
    return subprocess.run([str(DREL), "compose", "p.json", "-o", "out.drel", *options], cwd=tmp_path,
                          capture_output=True, timeout=120)


def bits(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


# JSON -> the pydrel script that makes the same protocol.
ACCEPTED = {
    "the short file": (SHORT, short_script),
    "keys in any order, and blanks": ("""
        { "channel_a_settings" : { "amplitude1_source" : { "internal" : 0 } } ,
          "signals" : [ { "Sine" : { "frequency" : 10.0 , "amplitude" : 1.0 } } ] ,
          "intensity" : 0.5 ,	"session_duration" : 120 }\r\n""", short_script),
    "a sine's defaults, given": ('{"signals": [{"Sine": {"depth": 1.0, "phase": 0.0, "frequency": 10, "amplitude": 1}}]}',
                                 lambda p: p.add_sine_signal(1.0, 10.0)),
    "every kind, a mix of a later signal, sources of both kinds, channel B on": ("""{
        "signals": [{"MixedSignal": {"a_idx": 3, "b_idx": 18446744073709551615}}, {"Constant": {"value": -0.0}},
                    {"Ramp": {"peak": 0.5, "up_duration": 1e-3, "down_duration": 2}},
                    {"Sine": {"amplitude": "NaN", "frequency": "inf", "phase": "-inf", "depth": 5e-324}},
                    {"Arbitrary": {"samples": [0, 32767, 1, 16384, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                               17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34,
                                               35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47]}}],
        "session_duration": 0.01, "intensity": 1.0,
        "channel_b_settings": {"enabled": true, "modulation_source": {"external": 5, "external_selected": true}},
        "channel_a_settings": {"amplitude2_source": {"internal": 4}}}""", lambda p: (
        p.set_stimulation_intensity(1.0), p.set_session_duration(0.01), p.add_mixed_signal(3, 2**64 - 1),
        p.add_constant_signal(-0.0), p.add_ramp_signal(0.5, 1e-3, 2.0),
        p.add_sine_signal(math.nan, math.inf, -math.inf, 5e-324),
        p.add_arbitrary_signal(np.array([0, 32767, 1, 16384, *range(2, 48)]) / 32767.0),
        p.enable_channel(Channel.B), p.set_modulation_source(Channel.B, 5, True), p.set_amplitude_source(Coil.A2, 4))),
    "a waveform made for a session lengthened since": (
        '{"signals": [{"Arbitrary": {"samples": [' + ",".join(["7"] * 50) + ']}}], "session_duration": 1800}',
        lambda p: (p.set_session_duration(0.01), p.add_arbitrary_signal(np.full(50, 7 / 32767.0)),
                   p.set_session_duration(1800.0))),
    "the largest double and the factory's description spelt out": (
        '{"signals": [{"Constant": {"value": 1.7976931348623157e308}}], "machine_config": {"coils": [{"name": '
        '"\\u0044efault", "inductance": 150, "max_current": 0.1, "max_carrier_frequency": 40.0, "settings": '
        '[{"capacitance": 330.0, "carrier_frequency": 22.624434389140273, "clk_ticks_per_sample": 221, '
        '"capacitor_bank_setting": 1}]}]}}',
        lambda p: p.add_constant_signal(1.7976931348623157e308)),
    "a number below a double's range is its zero": ('{"signals": [{"Constant": {"value": -1e-400}}]}',
                                                     lambda p: p.add_constant_signal(-0.0)),
}


@pytest.mark.parametrize("text, script", ACCEPTED.values(), ids=ACCEPTED.keys())
def test_json_composes_what_the_script_saves(tmp_path, text, script):
    p = pydrel.Protocol()
    script(p)
    want = saved(p, tmp_path, "script.drel").read_bytes()
    settings = drel.from_json(text)
    findings = [f"p.json: {f.severity}: {f.message}" for f in settings.check()]
    errors = any(f.severity == "error" for f in settings.check())
    # As a compiler: what drel check finds is reported as drel check words
    # it; an error stops the file (--allow-errors writes it anyway), a
    # warning does not.
    run = compose(tmp_path, text)
    assert run.returncode == (1 if errors else 0), run.stderr
    assert run.stderr.decode().splitlines()[:len(findings)] == findings
    assert (tmp_path / "out.drel").exists() == (not errors)
    if errors:
        run = compose(tmp_path, text, "--allow-errors")
        assert (run.returncode, run.stderr.decode().splitlines()) == (0, findings)
    assert (tmp_path / "out.drel").read_bytes() == want
    assert saved(settings.to_protocol(), tmp_path, "package.drel").read_bytes() == want
    assert drel.from_json(text.encode()).to_json() == settings.to_json()


# JSON -> where it stops being a protocol's (line, column), the field there,
# and the message. The last column says whether JSON Schema refuses it too
# (for type or shape), or cannot tell, or it is no JSON at all.
SCHEMA, NO_JSON, SAME_TO_SCHEMA = "schema", "no JSON", "valid to a schema"
REFUSED = {
    "an unknown key": ('{"intensty": 0.5}', 1, 2, "", 'the protocol has no key "intensty": did you mean "intensity"?',
                       SCHEMA),
    "an unknown key, far from any": ('{"channel_a_settings": {"zz": 1}}', 1, 25, "channel_a_settings",
                                     'channel_a_settings has no key "zz": it takes "enabled", "amplitude1_source", '
                                     '"amplitude2_source", "modulation_source", "coil_idx" or "coil_setting_idx"',
                                     SCHEMA),
    "a duplicate key": ('{"intensity": 0.5,\n "intensity": 0.4}', 2, 2, "", "intensity is given twice",
                        SAME_TO_SCHEMA),
    "a string for a number": ('{\n  "signals": [\n    {"Sine": {"amplitude": 1.0, "frequency": "10"}}]}', 3, 46,
                              "signals[0].Sine.frequency", 'signals[0].Sine.frequency must be a number (or "NaN", '
                              '"inf" or "-inf"), not the string "10"', SCHEMA),
    "null for a bool": ('{"channel_b_settings": {"enabled": null}}', 1, 36, "channel_b_settings.enabled",
                        "channel_b_settings.enabled must be true or false, not null", SCHEMA),
    "a fraction for an integer": ('{"monitor_subsampling_factor": 1.0}', 1, 32, "monitor_subsampling_factor",
                                  "monitor_subsampling_factor must be an integer, without a fraction or an exponent, "
                                  "not 1.0", SAME_TO_SCHEMA),
    "an integer below 0": ('{"monitor_subsampling_factor": -1}', 1, 32, "monitor_subsampling_factor",
                           "monitor_subsampling_factor must be an integer from 0 to 18446744073709551615, not -1",
                           SCHEMA),
    "an integer of 2**64": ('{"monitor_subsampling_factor": 18446744073709551616}', 1, 32,
                            "monitor_subsampling_factor", "monitor_subsampling_factor must be an integer from 0 to "
                            "18446744073709551615, not 18446744073709551616", SCHEMA),
    "a level of 32768": ('{"signals": [{"Arbitrary": {"samples": [0, 32768]}}]}', 1, 44,
                         "signals[0].Arbitrary.samples[1]", "signals[0].Arbitrary.samples[1] must be an integer level "
                         "from -32768 to 32767, not 32768", SCHEMA),
    "a level of -32769": ('{"signals": [{"Arbitrary": {"samples": [-32769]}}]}', 1, 41,
                          "signals[0].Arbitrary.samples[0]", "signals[0].Arbitrary.samples[0] must be an integer level "
                          "from -32768 to 32767, not -32769", SCHEMA),
    "a number beyond doubles": ('{"intensity": -1e309}', 1, 15, "intensity",
                                "intensity must be a number within the range of a double, not -1e309", SAME_TO_SCHEMA),
    "15 trace flags": ('{"monitor_trace_visible": [' + ", ".join(["false"] * 15) + "]}", 1, 131,
                       "monitor_trace_visible", "monitor_trace_visible must hold 16 items, not 15", SCHEMA),
    "a signal of no kind": ('{"signals": [{"Sin": {"amplitude": 1, "frequency": 2}}]}', 1, 15, "signals[0]",
                            'signals[0] has no kind "Sin": did you mean "Sine"?', SCHEMA),
    "a signal of two kinds": ('{"signals": [{"Constant": {"value": 1}, "Ramp": {}}]}', 1, 39, "signals[0]",
                              "signals[0] must be an object with one key, its kind (Constant, Sine, Ramp, MixedSignal "
                              "or Arbitrary), not more", SCHEMA),
    "a parameter missing": ('{"signals": [{"Sine": {"amplitude": 1}}]}', 1, 38, "signals[0].Sine",
                            'signals[0].Sine needs "frequency", which has no default', SCHEMA),
    "a trailing comma": ('{"intensity": 0.5,}', 1, 19, "",
                         "invalid JSON: a comma before }: JSON has no comma after the last member", NO_JSON),
    "a trailing comma among levels": ('{"signals": [{"Arbitrary": {"samples": [1,\n 2,]}}]}', 2, 4,
                                      "signals[0].Arbitrary.samples",
                                      "invalid JSON: a comma before ]: JSON has no comma after the last element",
                                      NO_JSON),
    "a comment": ('{"intensity": 0.5 // half\n}', 1, 19, "", "invalid JSON: a comment, which JSON does not have",
                  NO_JSON),
    "a NaN literal": ('{"intensity": NaN}', 1, 15, "intensity", 'invalid JSON: a number (or "NaN", "inf" or "-inf") '
                      "for intensity, where there is a word that is no JSON value (NaN and Infinity are written as "
                      'the strings "NaN" and "inf")', NO_JSON),
    "a leading zero": ('{"intensity": 0.5, "session_duration": 060}', 1, 40, "session_duration",
                       "invalid JSON: a number with a leading zero", NO_JSON),
    "a leading zero among levels": ('{"signals": [{"Arbitrary": {"samples": [00]}}]}', 1, 41,
                                    "signals[0].Arbitrary.samples[0]", "invalid JSON: a number with a leading zero",
                                    NO_JSON),
    "a lone surrogate": ('{"machine_config": {"coils": [{"name": "Coil \\ud834"}]}}', 1, 46,
                         "machine_config.coils[0].name", "invalid JSON: a lone surrogate \\ud834 in a string", NO_JSON),
    "bytes that are not UTF-8": (b'{"machine_config": {"coils": [{"name": "D\xc3\xa9\xff"}]}}', 1, 43,
                                 "machine_config.coils[0].name",
                                 "invalid JSON: bytes that are not UTF-8 in a string: JSON text is UTF-8", NO_JSON),
    "a line break in a string": ('{"machine_config": {"coils": [{"name": "a\nb"}]}}', 1, 42,
                                 "machine_config.coils[0].name", "invalid JSON: a control character (U+000A) in a "
                                 "string, which JSON writes escaped: a string ends on its line", NO_JSON),
    "content after the object": ('{"intensity": 0.5} x', 1, 20, "",
                                 "invalid JSON: more after the protocol's object: the character 'x'", NO_JSON),
    "JSON Lines": ('{"intensity": 0.5}\n{"intensity": 0.4}\n', 2, 1, "", "a second protocol after the first, as in "
                   "JSON Lines: give one protocol, one object, a file", NO_JSON),
    "a byte order mark": ('\ufeff{}', 1, 1, "",
                          "invalid JSON: a byte order mark (U+FEFF) at its start, which JSON text does not have",
                          NO_JSON),
    "an array": ("[]", 1, 1, "", "the protocol must be an object, not an array", SCHEMA),
    "nothing": ("", 1, 1, "", "invalid JSON: an object for the protocol, where there is the end of the text",
                NO_JSON),
    "an unterminated string": ('{"inten', 1, 8, "", "invalid JSON: the end of the text inside a string", NO_JSON),
}


@pytest.mark.partial_files
@pytest.mark.parametrize("text, line, column, path, message, schema", REFUSED.values(), ids=REFUSED.keys())
def test_what_is_no_protocols_json_is_refused_where_it_stops_being_one(tmp_path, text, line, column, path, message,
                                                                         schema):
    (tmp_path / "out.drel").write_bytes(b"kept")
    run = compose(tmp_path, text)
    assert (run.returncode, run.stderr.decode(), run.stdout) == (2, f"p.json:{line}:{column}: {message}\n", b"")
    assert (tmp_path / "out.drel").read_bytes() == b"kept"  # an existing file is left as it was
    with pytest.raises(drel.JSONError) as raised:
        drel.from_json(text)
    e = raised.value
    assert (str(e), e.line, e.column, e.path) == (f"{line}:{column}: {message}", line, column, path)


# What pydrel's methods do not compose: refused by drel compose at the value
# in the way, with its
# path and value in the JSON's own spelling, and by to_protocol() in
# NotComposable's words, with the records' reprs; both with the same note,
# the value's place being where `at` last stands in the text (the first line),
# where there is one, numbers spelt as each spells them.
SIGNAL = '{"signals": [{"Constant": {"value": 0.0}}], '
NOT_COMPOSABLE = {
    "no signals": ("{}", "{}", "signals is empty, but a saved pydrel.Protocol holds at least one signal",
                   "signals is empty, but a saved pydrel.Protocol holds at least one signal", None),
    "an empty table": ('{"signals": []}', "[]", "signals is empty, but a saved pydrel.Protocol holds at least one "
                       "signal", "signals is empty, but a saved pydrel.Protocol holds at least one signal", None),
    "a raised max_intensity_setpoint": (
        SIGNAL + '"machine_config": {"max_intensity_setpoint": 0.5}}', "0.5}",
        "machine_config.max_intensity_setpoint is 0.5, but a new pydrel.Protocol has 0.3, and no method changes it",
        "machine_config.max_intensity_setpoint is 0.5, but a new pydrel.Protocol has 0.3, and no method changes it",
        "leave machine_config out"),
    "an intensity in percent": (SIGNAL + '"intensity": 60}', "60}",
                                "intensity is 60.0, which set_stimulation_intensity() refuses: assertion failed: "
                                "intensity >= 0.0 && intensity <= 1.0",
                                "intensity is 60.0, which set_stimulation_intensity() refuses: assertion failed: "
                                "intensity >= 0.0 && intensity <= 1.0", "60.0 percent is 0.6"),
    "an intensity of NaN": (SIGNAL + '"intensity": "NaN"}', '"NaN"}',
                            'intensity is "NaN", which set_stimulation_intensity() refuses: assertion failed: '
                            "intensity >= 0.0 && intensity <= 1.0",
                            "intensity is nan, which set_stimulation_intensity() refuses: assertion failed: "
                            "intensity >= 0.0 && intensity <= 1.0", ("intensity is NaN", "intensity is nan")),
    "a session too long": (SIGNAL + '"session_duration": 1800.0000000000002}', "1800.0000000000002}",
                           "session_duration is 1800.0000000000002, which set_session_duration() refuses: assertion "
                           "failed: duration <= config::MAX_SESSION_DURATION",
                           "session_duration is 1800.0000000000002, which set_session_duration() refuses: assertion "
                           "failed: duration <= config::MAX_SESSION_DURATION", "from 0.01 to 1800.0 s"),
    "a session of 0": (SIGNAL + '"session_duration": 0}', "0}",
                       "session_duration is 0.0, which set_session_duration() refuses: assertion failed: duration >= "
                       "0.01", "session_duration is 0.0, which set_session_duration() refuses: assertion failed: "
                       "duration >= 0.01", "from 0.01 to 1800.0 s (30 minutes)"),
    "a tiny session, spelt": (SIGNAL + '"session_duration": 1e-5}', "1e-5}",
                              "session_duration is 1e-5, which set_session_duration() refuses: assertion failed: "
                              "duration >= 0.01", "session_duration is 1e-05, which set_session_duration() refuses: "
                              "assertion failed: duration >= 0.01", ("session_duration is 1e-5 s",
                                                                      "session_duration is 1e-05 s")),
    "channel A off": (SIGNAL + '"channel_a_settings": {"enabled": false}}', "false}",
                      "channel_a_settings.enabled is false, but a new pydrel.Protocol has true, and no method changes "
                      "it", "channel_a_settings.enabled is False, but a new pydrel.Protocol has True, and no method "
                      "changes it", None),
    "a source in a form the setters never write": (
        SIGNAL + '"channel_b_settings": {"amplitude2_source": {"internal": 1, "external": 2}}}',
        '{"internal": 1', 'channel_b_settings.amplitude2_source is {"internal": 1, "external": 2, "external_selected": '
        "false}, which set_amplitude_source() never writes: it sets the number not selected to 0",
        "channel_b_settings.amplitude2_source is SignalSourceSelection(internal=1, external=2, "
        "external_selected=False), which set_amplitude_source() never writes: it sets the number not selected to 0",
        None),
    "a negative level": ('{"signals": [{"Arbitrary": {"samples": [' + ",".join(["1"] * 49) + ",-1]}}]}", "-1]",
                         "signals[0].Arbitrary.samples[49] is -1, but add_arbitrary_signal() makes levels from 0 to "
                         "32767", "signals[0].samples[49] is -1, but add_arbitrary_signal() makes levels from 0 to "
                         "32767", "round(x * 32767)"),
    "a negative level in a block, the first of two": (
        '{"signals": [{"Arbitrary": {"samples": [' + ", ".join(["7"] * 60 + ["-3"] + ["7"] * 60 + ["-4"]) + "]}}]}",
        "-3,", "signals[0].Arbitrary.samples[60] is -3, but add_arbitrary_signal() makes levels from 0 to 32767",
        "signals[0].samples[60] is -3, but add_arbitrary_signal() makes levels from 0 to 32767", "round(x * 32767)"),
    "a waveform of a length no session has": (
        '{"signals": [{"Arbitrary": {"samples": [1, 2, 3]}}]}', "[1, 2, 3]",
        "signals[0].Arbitrary.samples has 3 levels, but no session that set_session_duration() takes has that many "
        "samples", "signals[0].samples has 3 levels, but no session that set_session_duration() takes has that many "
        "samples", ("50 to 9000000 samples, and 3 is fewer", "The session of 60.0 s needs 300000 levels")),
    "the later of two waveforms of one length": (
        '{"signals": [{"Arbitrary": {"samples": [1, 2]}}, {"Arbitrary": {"samples": [3, 4]}}]}', "[1, 2]",
        "signals[0].Arbitrary.samples has 2 levels, but no session that set_session_duration() takes has that many "
        "samples", "signals[0].samples has 2 levels, but no session that set_session_duration() takes has that many "
        "samples", "2 is fewer"),
    "another coil count": (SIGNAL + '"machine_config": {"coils": []}}', "[]}",
                           'machine_config.coils is [], but a new pydrel.Protocol has [{"name": "Default", '
                           '"inductance": 150.0, "max_current": 0.1, "max_carrier_frequency": 40.0, "settings": '
                           '[{"capacitance": 330.0, "carrier_frequency": 22.624434389140273, "clk_ticks_per_sample": '
                           '221, "capacitor_bank_setting": 1}]}], and no method changes it',
                           "machine_config.coils is (), but a new pydrel.Protocol has (Coil(name='Default', "
                           "inductance=150.0, max_current=0.1, max_carrier_frequency=40.0, settings=(LCSetting("
                           "capacitance=330.0, carrier_frequency=22.624434389140273, clk_ticks_per_sample=221, "
                           "capacitor_bank_setting=1),)),), and no method changes it", "leave machine_config out"),
    "a coil's name, deep in the description": (
        SIGNAL + '"machine_config": {"coils": [{"name": "Other", "inductance": 150, "max_current": 0.1, '
        '"max_carrier_frequency": 40.0, "settings": [{"capacitance": 330.0, "carrier_frequency": 22.624434389140273, '
        '"clk_ticks_per_sample": 221, "capacitor_bank_setting": 1}]}]}}', '"Other"',
        'machine_config.coils[0].name is "Other", but a new pydrel.Protocol has "Default", and no method changes it',
        "machine_config.coils[0].name is 'Other', but a new pydrel.Protocol has 'Default', and no method changes it",
        "leave machine_config out"),
    "the last trace flag": (
        SIGNAL + '"monitor_trace_visible": [' + ", ".join(["false"] * 15) + ", true]}", "true]",
        "monitor_trace_visible[15] is true, but a new pydrel.Protocol has false, and no method changes it",
        "monitor_trace_visible[15] is True, but a new pydrel.Protocol has False, and no method changes it", None),
}


@pytest.mark.parametrize("text, at, in_json, in_python, note", NOT_COMPOSABLE.values(), ids=NOT_COMPOSABLE.keys())
def test_what_the_methods_do_not_compose(tmp_path, text, at, in_json, in_python, note):
    run = compose(tmp_path, text)
    where = f"p.json:1:{text.rindex(at) + 1}: "
    lines = run.stderr.decode().splitlines()
    assert (run.returncode, lines[0]) == (2, where + "not what pydrel composes: " + in_json)
    json_note, python_note = note if isinstance(note, tuple) else (note, note)
    if note is None:
        assert lines[1:] == []
    else:
        assert lines[1].startswith(where + "note: ") and json_note in lines[1] and lines[2:] == []
    assert not (tmp_path / "out.drel").exists()
    settings = drel.from_json(text)
    with pytest.raises(drel.NotComposable) as raised:
        settings.to_protocol()
    assert str(raised.value) == in_python
    assert getattr(raised.value, "__notes__", None) is None if note is None else python_note in raised.value.__notes__[0]


def random_protocol(rng):
    """A protocol of every kind of value that pydrel's methods make."""
    p = pydrel.Protocol()
    floats = [0.0, -0.0, 1.0, 0.1, math.nan, -math.nan, math.inf - math.inf, math.inf, -math.inf, 5e-324,
              -2.2250738585072014e-308, 1.7976931348623157e308, 1e16, 1e-5, 123456.789]
    f = lambda: rng.choice(floats) if rng.random() < 0.5 else rng.uniform(-1e6, 1e6)  # noqa: E731
    p.set_stimulation_intensity(rng.choice([0.0, 1.0, rng.random()]))
    for _ in range(rng.randrange(1, 8)):
        kind = rng.randrange(5)
        if kind == 0:
            p.add_constant_signal(f())
        elif kind == 1:
            p.add_sine_signal(f(), f(), f(), f())
        elif kind == 2:
            p.add_ramp_signal(f(), f(), f())
        elif kind == 3:
            p.add_mixed_signal(rng.randrange(12), rng.choice([0, 2**64 - 1, rng.randrange(2**64)]))
        else:
            p.set_session_duration(rng.choice([0.01, 0.0123, 0.3, 1.0]))
            p.add_arbitrary_signal(np.array([rng.random() for _ in range(p.get_num_samples())]))
    p.set_session_duration(rng.choice([0.01, 0.5, 60.0, 1799.9999999999998, 1800.0]))
    if rng.random() < 0.5:
        p.enable_channel(Channel.B)
    for coil in (Coil.A1, Coil.A2, Coil.B1, Coil.B2):
        p.set_amplitude_source(coil, rng.choice([0, 7, 2**64 - 1]), rng.random() < 0.5)
    p.set_modulation_source(Channel.B, rng.randrange(9), rng.random() < 0.3)
    return p


def test_show_json_then_compose_gives_the_file_back(tmp_path):
    rng = random.Random(23)
    for k in range(40):
        p = random_protocol(rng)
        original = saved(p, tmp_path, f"p{k}.drel")
        # Random sources name missing signals, which drel check calls errors.
        run = subprocess.run(f"{DREL} show --json p{k}.drel | {DREL} compose --allow-errors - -o q{k}.drel",
                             shell=True, cwd=tmp_path, capture_output=True, timeout=120)
        assert run.returncode == 0, run.stderr
        assert (tmp_path / f"q{k}.drel").read_bytes() == original.read_bytes(), k
        s = drel.load(original)
        assert drel.diff(drel.from_json(s.to_json()), s) == []


def test_the_longest_session_and_a_nan_payload(tmp_path):
    p = pydrel.Protocol()
    p.set_session_duration(1800.0)
    p.add_arbitrary_signal(np.random.default_rng(5).random(p.get_num_samples()))
    p.add_constant_signal(struct.unpack("<d", struct.pack("<Q", 0x7FF8000000000123))[0])
    original = saved(p, tmp_path, "long.drel")
    run = subprocess.run(f"{DREL} show --json long.drel | {DREL} compose - -o -", shell=True, cwd=tmp_path,
                         capture_output=True, timeout=300)
    assert run.returncode == 0, run.stderr
    # JSON has one NaN: a payload other than the default comes back as the
    # default, and drel diff says that only the bits differ.
    (tmp_path / "back.drel").write_bytes(run.stdout)
    assert len(run.stdout) == original.stat().st_size and run.stdout != original.read_bytes()
    diff = subprocess.run([str(DREL), "diff", "long.drel", "back.drel"], cwd=tmp_path, capture_output=True)
    assert diff.stdout.decode() == ("signals[1].value: NaN -> NaN (only their bits differ: 0x7ff8000000000123 -> "
                                    "0x7ff8000000000000)\n")


@pytest.mark.skipif(shutil.which("jq") is None, reason="no jq")
def test_an_edit_with_jq(tmp_path):
    p = pydrel.Protocol()
    short_script(p)
    saved(p, tmp_path, "a.drel")
    p.set_stimulation_intensity(0.4)
    want = saved(p, tmp_path, "want.drel").read_bytes()
    run = subprocess.run(f"{DREL} show --json a.drel | jq '.intensity = 0.4' | {DREL} compose - -o b.drel",
                         shell=True, cwd=tmp_path, capture_output=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert (tmp_path / "b.drel").read_bytes() == want


@pytest.mark.parametrize("args, status, written", [
    (["--strict"], 1, False),  # the intensity above the set point is a warning
    ([], 0, True),
])
def test_strict_writes_nothing_on_a_finding(tmp_path, args, status, written):
    run = compose(tmp_path, SHORT, *args)
    assert run.returncode == status
    assert run.stderr.decode().startswith("p.json: warning: intensity 0.5 is above")
    assert (tmp_path / "out.drel").exists() == written


@pytest.mark.partial_files
def test_the_written_file_takes_the_place_of_one_that_was_there(tmp_path):
    out = tmp_path / "out.drel"
    out.write_bytes(b"old")
    out.chmod(0o640)
    assert compose(tmp_path, SHORT).returncode == 0
    assert out.read_bytes()[:1] == b"\x00" and (out.stat().st_mode & 0o777) == 0o640
    assert sorted(f.name for f in tmp_path.iterdir()) == ["out.drel", "p.json"]  # no temporary file left
    unwritable = subprocess.run([str(DREL), "compose", "p.json", "-o", "missing/out.drel"], cwd=tmp_path,
                                capture_output=True)
    assert (unwritable.returncode, unwritable.stderr.decode().splitlines()[-1]) == (
        2, "missing/out.drel: cannot be written: No such file or directory")


def test_the_schema_takes_what_compose_takes_and_refuses_types_and_shapes():
    jsonschema = pytest.importorskip("jsonschema")
    schema = drel.json_schema()
    assert schema == json.loads(subprocess.run([str(DREL), "show", "--json-schema"], capture_output=True).stdout)
    validator = jsonschema.Draft202012Validator(schema)
    jsonschema.Draft202012Validator.check_schema(schema)
    rng = random.Random(29)
    for text in [*(s for s, _ in ACCEPTED.values()), *(random_protocol(rng) and drel.loads(
            _saved_bytes(random_protocol(rng))).to_json() for _ in range(10))]:
        assert list(validator.iter_errors(json.loads(text))) == [], text
    for text, _, _, _, _, verdict in REFUSED.values():
        if verdict != NO_JSON:
            errors = list(validator.iter_errors(json.loads(text)))
            assert bool(errors) == (verdict == SCHEMA), text


def _saved_bytes(p):
    import tempfile
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "p.drel")
        p.save(path)
        with open(path, "rb") as f:
            return f.read()
