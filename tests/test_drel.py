"""drel, the command-line reader of protocol files, on files saved from Python."""

import json
import os
import pathlib
import shutil
import subprocess
import tomllib

import numpy as np
import pytest

import pydrel
from conftest import BUILD
from drel_reader import varint  # noqa: F401  (other tests take it from here)

DREL = BUILD / "bin" / "drel"
if not DREL.exists():
    DREL = pathlib.Path(shutil.which("drel") or DREL)
pytestmark = pytest.mark.skipif(not DREL.exists(), reason="drel is not built")
VERSION = tomllib.loads((pathlib.Path(__file__).parent.parent / "pyproject.toml").read_text())["project"]["version"]


def drel(*args, stdin=None):
    return subprocess.run([str(DREL), *map(str, args)], input=stdin, capture_output=True, timeout=120)


def saved(p, tmp_path, name="p.drel"):
    path = tmp_path / name
    p.save(str(path))
    return path


def every_kind():
    p = pydrel.Protocol()
    p.set_session_duration(2.5)
    p.set_stimulation_intensity(0.25)
    p.enable_channel(pydrel.Channel.B)
    p.add_constant_signal(-0.0)
    p.add_sine_signal(1.0, 10.0, phase=1e-7, depth=0.5)
    p.add_ramp_signal(0.5, 1e16, 2.0)
    p.add_arbitrary_signal(np.random.default_rng(3).random(p.get_num_samples()))
    p.add_mixed_signal(0, 3)
    p.set_amplitude_source(pydrel.Coil.A2, 3)
    p.set_amplitude_source(pydrel.Coil.B1, 5, external=True)
    p.set_modulation_source(pydrel.Channel.B, 1)
    return p


@pytest.mark.parametrize("make", [pydrel.Protocol, every_kind], ids=["new", "every kind"])
def test_show_prints_what_str_shows(tmp_path, make):
    p = make()
    path = saved(p, tmp_path)  # saving fills an empty table first
    run = drel("show", path)
    assert run.returncode == 0 and run.stderr == b""
    assert run.stdout.decode() == str(p) + "\n"
    assert drel("show", "-", stdin=path.read_bytes()).stdout == run.stdout


def test_show_summary_shortens_waveforms(tmp_path):
    p = pydrel.Protocol()
    p.set_session_duration(0.01)
    p.add_arbitrary_signal(np.concatenate([[0.5], np.linspace(0.0, 1.0, 48), [0.25]]))
    lines = drel("show", "--summary", saved(p, tmp_path)).stdout.decode().splitlines()
    assert "                    samples: <50 levels: min 0, max 32767, first 16384, last 8192>," in lines
    assert len(lines) == len(str(p).splitlines()) - 51  # 50 levels and the closing bracket fold into one line


def test_show_several_files_heads_each(tmp_path):
    a, b = saved(pydrel.Protocol(), tmp_path, "a.drel"), saved(every_kind(), tmp_path, "b.drel")
    out = drel("show", a, b).stdout.decode()
    assert out.startswith(f"==> {a} <==\nProtocol {{\n")
    assert f"\n}}\n\n==> {b} <==\nProtocol {{\n" in out


def test_clean_protocol_has_no_findings(tmp_path):
    run = drel("check", saved(every_kind(), tmp_path))
    assert (run.returncode, run.stdout, run.stderr) == (0, b"", b"")


def quiet_mistakes(p):
    """Values the module stores as given, used by channel A through mixes."""
    p.set_session_duration(10.0)
    p.add_constant_signal(5.0)
    p.add_sine_signal(-2.0, -10.0, depth=7.0)
    p.add_sine_signal(1.0, 4000.0)
    p.add_ramp_signal(1.0, -1.0, 2.0)
    p.add_ramp_signal(1.0, 250.0, 250.0)
    p.add_constant_signal(0.5)  # 5
    p.add_mixed_signal(0, 1)  # 6
    p.add_mixed_signal(2, 3)  # 7
    p.add_mixed_signal(6, 7)  # 8
    p.set_amplitude_source(pydrel.Coil.A1, 8)
    p.set_amplitude_source(pydrel.Coil.A2, 4)
    p.set_modulation_source(pydrel.Channel.A, 5)


def lengthened_session(p):
    p.add_arbitrary_signal(np.full(p.get_num_samples(), 0.5))
    p.set_session_duration(120.0)


def mixes_in_a_cycle(p):
    p.add_constant_signal(1.0)
    p.add_mixed_signal(0, 2)
    p.add_mixed_signal(3, 0)
    p.add_mixed_signal(1, 0)


# composed through the API -> the findings, one per line
FINDINGS = {
    "lengthened session": (lengthened_session,
                           ["error: signal 0 has 300000 levels, but the session of 120.0 s has 600000 samples"]),
    "dangling source": (lambda p: (p.add_constant_signal(1.0), p.add_constant_signal(2.0), p.add_constant_signal(3.0),
                                   p.set_amplitude_source(pydrel.Coil.A1, 7)),
                        ["error: A1 amplitude source is signal 7, but the table has 3 signals (0 to 2)"]),
    "dangling modulation of channel B": (
        lambda p: (p.enable_channel(pydrel.Channel.B), p.set_modulation_source(pydrel.Channel.B, 1)),
        ["error: B modulation source is signal 1, but the table has 1 signal (0)"]),
    "source of a channel that is off": (lambda p: p.set_amplitude_source(pydrel.Coil.B2, 9), []),
    "mix that names itself": (lambda p: (p.add_constant_signal(1.0), p.add_mixed_signal(0, 1)),
                              ["error: signal 1 mixes itself (b_idx), but a mix must name other signals"]),
    "mixes in a cycle": (mixes_in_a_cycle,
                         ["error: signal 1 mixes itself through signals 1 -> 2 -> 3 -> 1, "
                          "but mixes must not form a cycle"]),
    "mix of a missing signal": (lambda p: p.add_mixed_signal(0, 4),
                                ["error: signal 0 mixes signal 4 (b_idx), but the table has 1 signal (0)",
                                 "error: signal 0 mixes itself (a_idx), but a mix must name other signals"]),
    "intensity above the set point": (lambda p: p.set_stimulation_intensity(0.5),
                                      ["warning: intensity 0.5 is above the machine description's "
                                       "max_intensity_setpoint 0.3, a limit of the factory description that every "
                                       "composed protocol carries"]),
    "external input past the inputs": (
        lambda p: p.set_amplitude_source(pydrel.Coil.A2, 6, external=True),
        ["warning: A2 amplitude source is external input 6, but the machine has 6 external "
         "inputs (0 to 5)"]),
    "parameters that are not finite": (
        lambda p: (p.add_sine_signal(1.0, float("inf"), phase=float("nan")), p.add_ramp_signal(float("-inf"), 1, 1),
                   p.set_amplitude_source(pydrel.Coil.A2, 1)),
        ["warning: signal 0 (Sine) has frequency inf, but signal parameters should be finite",
         "warning: signal 0 (Sine) has phase NaN, but signal parameters should be finite",
         "warning: signal 1 (Ramp) has peak -inf, but signal parameters should be finite"]),
    "values a stimulator cannot mean, in signals in use": (quiet_mistakes, [
        "warning: signal 0 (Constant) has value 5.0, but it is read as a fraction of full scale, from 0.0 to 1.0",
        "warning: signal 1 (Sine) has amplitude -2.0, but it is read as a fraction of full scale, from 0.0 to 1.0",
        "warning: signal 1 (Sine) has frequency -10.0 Hz, but a frequency must not be negative",
        "warning: signal 1 (Sine) has depth 7.0, but it is read as a fraction of full scale, from 0.0 to 1.0",
        "warning: signal 2 (Sine) has frequency 4000.0 Hz, but 5000.0 samples/s carry at most 2500.0 Hz",
        "warning: signal 3 (Ramp) has up_duration -1.0 s, but a duration must not be negative",
        "warning: signal 4 (Ramp) has up_duration and down_duration of 500.0 s together, "
        "but the session lasts 10.0 s"]),
    "the same values in signals no channel uses": (lambda p: (quiet_mistakes(p), p.set_amplitude_source(
        pydrel.Coil.A1, 5), p.set_amplitude_source(pydrel.Coil.A2, 5)), []),
}


@pytest.mark.parametrize("compose, findings", FINDINGS.values(), ids=FINDINGS.keys())
def test_check_findings(tmp_path, compose, findings):
    p = pydrel.Protocol()
    compose(p)
    path = saved(p, tmp_path)
    run = drel("check", path)
    assert run.stdout.decode().splitlines() == [f"{path}: {f}" for f in findings]
    report = json.loads(drel("check", "--json", path).stdout)
    assert report == {"files": [{"file": str(path), "error": None, "findings": [
        {"severity": f.split(": ", 1)[0], "message": f.split(": ", 1)[1]} for f in findings]}]}


@pytest.mark.partial_files
def test_files_that_cannot_be_read(tmp_path):
    good = saved(pydrel.Protocol(), tmp_path)
    cut = tmp_path / "cut.drel"
    cut.write_bytes(good.read_bytes()[:177])
    run = drel("check", good, cut, tmp_path / "missing")
    assert run.returncode == 2
    assert run.stderr.decode().splitlines() == [
        f"{cut}: the protocol file ends early, probably truncated: unexpected end of data at byte 177 in "
        "channel_b_settings.amplitude2_source.external",
        f"{tmp_path / 'missing'}: cannot be read: No such file or directory",
    ]
    report = json.loads(drel("check", "--json", cut).stdout)
    assert report["files"][0]["error"].startswith("the protocol file ends early, probably truncated: "
                                                  "unexpected end of data at byte 177")
    assert drel("show", cut).returncode == 2


# Files by what check finds in them -> how each is made.
KINDS = {
    "clean": lambda p: None,
    "warning": lambda p: p.set_stimulation_intensity(0.5),
    "error": lambda p: p.set_amplitude_source(pydrel.Coil.A1, 3),
}


@pytest.mark.partial_files
@pytest.mark.parametrize("files, strict, status", [
    (["clean"], False, 0),
    (["warning"], False, 0),
    (["warning"], True, 1),
    (["error"], False, 1),
    (["unreadable"], False, 2),
    (["clean", "warning", "error"], False, 1),
    (["warning", "clean"], True, 1),
    (["error", "unreadable", "warning"], False, 2),
    (["unreadable", "clean"], True, 2),
    (["unreadable", "error"], False, 2),
])
def test_check_exit_status_and_order(tmp_path, files, strict, status):
    paths = []
    for i, kind in enumerate(files):
        path = tmp_path / f"{i}-{kind}.drel"
        if kind == "unreadable":
            path.write_bytes(b"\x02")
        else:
            p = pydrel.Protocol()
            KINDS[kind](p)
            p.save(str(path))
        paths.append(str(path))
    args = ["check", *(["--strict"] if strict else []), *paths]
    run = subprocess.run([str(DREL), *args], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    assert run.returncode == status
    as_json = drel(*args[:1], "--json", *args[1:])
    assert as_json.returncode == status and [f["file"] for f in json.loads(as_json.stdout)["files"]] == paths
    # Standard error waits for what came before on standard output: the files stay in order.
    named = [line.split(": ", 1)[0] for line in run.stdout.decode().splitlines()]
    assert named == [p for p in paths if "clean" not in p]


@pytest.mark.parametrize("entry, line", [
    (b"\x04\x00", "                    samples: [],"),
    (b"\x04\x01\x0a", "                    samples: <1 level: min 5, max 5, first 5, last 5>,"),
])
def test_show_summary_of_short_waveforms(tmp_path, entry, line):
    with_signals(tmp_path, "short.drel", [entry])
    assert line in drel("show", "--summary", tmp_path / "short.drel").stdout.decode().splitlines()


@pytest.mark.parametrize(
    "args, status, output",
    [
        (["--help"], 0, "usage: drel show"),
        (["show", "--help"], 0, "usage: drel show [--summary] [--full] [--json] [--routing] [--json-schema] FILE...\n\n"
                                "Print each file"),
        (["check", "x.drel", "-h"], 0, "usage: drel check [--json] [--strict] FILE...\n"),
        (["diff", "--help"], 0, "usage: drel diff [--json] [--brief] [-n COUNT] A B\n"),
        (["--version"], 0, f"drel {VERSION}\n"),
        ([], 2, "drel: a command is missing"),
        (["list", "p.drel"], 2, "drel: unknown command 'list'"),
        (["show", "--strict", "p.drel"], 2, "drel: unknown option '--strict' for show"),
        (["check"], 2, "drel: no file given"),
        (["show"], 2, "drel: no file given\nusage: drel show"),
        (["show", "--json-schema", "p.drel"], 2, "drel: --json-schema goes with no file and no other option"),
        (["show", "--json", "--json-schema"], 2, "drel: --json-schema goes with no file and no other option"),
        (["show", "--json-schema"], 0, '{\n  "$schema": "https://json-schema.org/draft/2020-12/schema",\n'),
        (["compose", "p.json"], 2, "drel: compose writes to the file that -o names (- for standard output)"),
        (["compose", "p.json", "-o", "p.bin"], 2,
         "drel: compose writes a protocol file, whose name ends in .drel, not 'p.bin'"),
        (["compose", "a.json", "b.json", "-o", "p.drel"], 2, "drel: compose takes FILE, not 2 files"),
        (["plot", "-o", "pic.png", "p.drel"], 2, "drel: drel plot writes SVG only, to a name that ends in .svg, not "
                                                 "'pic.png'; for PNG or PDF, draw the protocol with matplotlib: "
                                                 "drel.load(FILE).plot().savefig(OUT)\nusage: drel plot"),
        (["plot", "-opic.svg.pdf", "p.drel"], 2, "drel: drel plot writes SVG only"),
    ],
)
def test_command_line(args, status, output):
    run = drel(*args)
    assert run.returncode == status
    assert (run.stdout if status == 0 else run.stderr).decode().startswith(output)


# Each command's help gives its own exit status and none of another's.
EXIT_STATUSES = {
    "compose": "1 when the checks found an error (or, with --strict, a warning), and nothing was written (with "
               "--allow-errors, the file is written and the exit is 0)",
    "show": "Exit status: 2 when a file could not be read or is no protocol file, or the command line was wrong; "
            "else 0.",
    "check": "else 1 when some file has an error (or, with --strict, a warning); else 0",
    "diff": "Exit status, as cmp's and diff's: 0 when A and B hold the same protocol, 1 when they differ",
    "plot": "the picture could not be written",
}


@pytest.mark.parametrize("command", EXIT_STATUSES)
def test_each_help_gives_its_own_exit_status(command):
    text = " ".join(drel(command, "--help").stdout.decode().split())
    assert EXIT_STATUSES[command] in text
    assert [other for other, status in EXIT_STATUSES.items() if other != command and status in text] == []


# Every form the parser takes an option in, run in a directory that holds
# a.drel and b.drel (intensity 0.0 and 0.5, sessions of 60 and 61 s): the
# arguments -> the exit status, and what stdout (or, with status 2, stderr)
# starts with, or the file that holds the picture.
OPTION_FORMS = {
    "a value apart": (["diff", "-n", "1", "a.drel", "b.drel"], 1, "intensity: 0.0 -> 0.5\n"),
    "a value attached": (["diff", "-n1", "a.drel", "b.drel"], 1, "intensity: 0.0 -> 0.5\n"),
    "the last value given": (["diff", "-n", "1", "-n2", "a.drel", "b.drel"], 1,
                             "intensity: 0.0 -> 0.5\nsession_duration: 60.0 -> 61.0\n"),
    "options after the operands": (["diff", "a.drel", "b.drel", "-n", "1", "--json"], 1, '[{"path": "intensity"'),
    "a value of 0": (["diff", "-n0", "a.drel", "b.drel"], 2,
                     "drel: -n takes a count of differences from 1 on, not '0'\n"),
    "a value of 2**64": (["diff", "-n", str(2**64), "a.drel", "b.drel"], 2,
                         f"drel: -n takes a count of differences from 1 on, not '{2**64}'\n"),
    "a value of 2**64 - 1": (["diff", "-n", str(2**64 - 1), "a.drel", "b.drel"], 1, "intensity: 0.0 -> 0.5\n"),
    "a value missing at the end": (["diff", "a.drel", "b.drel", "-n"], 2, "drel: option '-n' needs its COUNT\n"),
    "an option for a value": (["diff", "-n", "--json", "a.drel", "b.drel"], 2,
                              "drel: -n takes a count of differences from 1 on, not '--json'\n"),
    "a flag with a value": (["check", "--json=1", "a.drel"], 2, "drel: unknown option '--json=1' for check\n"),
    "a flag run on": (["check", "--jsonx", "a.drel"], 2, "drel: unknown option '--jsonx' for check\n"),
    "a short value option's picture apart": (["plot", "-o", "out.svg", "a.drel"], 0, "out.svg"),
    "a short value option's picture attached": (["plot", "-oout.svg", "a.drel"], 0, "out.svg"),
    "-- ends the options": (["check", "--", "--json"], 2, ""),
    "- is standard input, not an option": (["show", "--summary", "-"], 0, "Protocol {\n"),
    "-h among operands": (["diff", "a.drel", "-h", "b.drel"], 0, "usage: drel diff"),
    "--help after an unknown option": (["show", "--nope", "--help"], 2, "drel: unknown option '--nope' for show\n"),
}


@pytest.mark.parametrize("args, status, out", OPTION_FORMS.values(), ids=OPTION_FORMS.keys())
def test_option_forms(tmp_path, args, status, out):
    p = pydrel.Protocol()
    a = saved(p, tmp_path, "a.drel")
    p.set_stimulation_intensity(0.5)
    p.set_session_duration(61.0)
    saved(p, tmp_path, "b.drel")
    run = subprocess.run([str(DREL), *args], cwd=tmp_path, input=a.read_bytes(), capture_output=True, timeout=60)
    assert run.returncode == status, run.stderr
    if out.endswith(".svg"):
        assert (tmp_path / out).read_bytes().startswith(b"<svg ") and run.stdout == b""
    elif args[:2] == ["check", "--"]:
        assert run.stderr.decode() == "--json: cannot be read: No such file or directory\n"
    else:
        assert (run.stdout if status != 2 else run.stderr).decode().startswith(out)


@pytest.mark.parametrize("name", ["pic.svg", "PIC.SVG", "-"])
def test_plot_writes_svg_to_an_svg_name(tmp_path, name):
    path = saved(pydrel.Protocol(), tmp_path)
    run = subprocess.run([str(DREL), "plot", "-o", name, str(path)], capture_output=True, cwd=tmp_path)
    assert run.returncode == 0 and run.stderr == b""
    picture = run.stdout if name == "-" else (tmp_path / name).read_bytes()
    assert picture.startswith(b"<svg ")


def test_the_package_knows_its_version():
    import drel as package
    assert package.__version__ == VERSION == drel("--version").stdout.decode().split()[1]


# What the bytes are, said first: not a protocol file, a truncated one or a
# damaged one; then where they stop fitting.
@pytest.mark.partial_files
@pytest.mark.parametrize("spoil, verdict", [
    (lambda b: b"Session notes: 20 minutes at 10 Hz.\n", "not a protocol file: boolean byte 53 (expected 00 or 01) "
                                                        "at byte 0 in running_on_target_machine"),
    (lambda b: b"", "not a protocol file: unexpected end of data at byte 0 in running_on_target_machine"),
    (lambda b: b[:1], "the protocol file ends early, probably truncated: unexpected end of data at byte 1 in "
                      "machine_config.supply_voltage"),
    (lambda b: b[:-1], "the protocol file ends early, probably truncated: unexpected end of data at byte 200 in "
                       "monitor_subsampling_factor"),
    (lambda b: b[:151] + b"\x07" + b[152:], "a damaged protocol file: signal variant 7 (expected 0 to 4) at byte 151 "
                                           "in signals[0]"),
    (lambda b: b + b[:201], "a damaged protocol file: 201 bytes after the last field, monitor_subsampling_factor, "
                            "at byte 201"),
    (lambda b: b + bytes(202), "not a protocol file: 202 bytes after the last field, monitor_subsampling_factor, "
                               "at byte 201"),
])
def test_a_refusal_says_what_the_bytes_are(tmp_path, spoil, verdict):
    import drel as package
    path = tmp_path / "x.drel"
    path.write_bytes(spoil(saved(pydrel.Protocol(), tmp_path).read_bytes()))
    run = drel("check", path)
    assert (run.returncode, run.stderr.decode()) == (2, f"{path}: {verdict}\n")
    with pytest.raises(package.DecodeError) as raised:
        package.load(path)
    assert str(raised.value) == verdict


def with_signals(tmp_path, name, entries):
    """A new protocol's file with these encoded signals (bytes 150-159 hold the one it is saved with)."""
    new = saved(pydrel.Protocol(), tmp_path, "new.drel").read_bytes()
    (tmp_path / name).write_bytes(new[:150] + varint(len(entries)) + b"".join(entries) + new[160:])


# Generated inputs that once ran away: each ends promptly (the time limit is
# only a guard against a hang) with the status and the first line expected.
# Under the sanitizers, which record a stack for every allocation, a
# hundredth of the size.
SCALE = 100 if os.environ.get("PYDREL_SANITIZED") == "1" else 1
MIX_CYCLES = 1_000_000 // SCALE  # signal 2k mixes 2k+1 and back
HOSTILE = {
    "endless zeros": (["check", "/dev/zero"], None, 2,
                      "/dev/zero: not a protocol file: more than 1048576 bytes after the last field, "
                      "monitor_subsampling_factor, at byte 124"),
    "endless text on standard input": (["check", "-"], "yes", 2,
                                       "-: not a protocol file: boolean byte 79 (expected 00 or 01) at byte 0 "
                                       "in running_on_target_machine"),
    "a file and more through a pipe": (["check", "-"], "default+5", 2,
                                       "-: a damaged protocol file: 5 bytes after the last field, "
                                       "monitor_subsampling_factor, at byte 201"),
    "two-signal mix cycles": (["check", "cycles.drel"], None, 1,
                              "cycles.drel: error: signal 0 mixes itself through signals 0 -> 1 -> 0, "
                              "but mixes must not form a cycle"),
    "empty waveforms, checked": (["check", "empty.drel"], None, 1,
                                 "empty.drel: error: signal 0 has 0 levels, but the session of 60.0 s has "
                                 "300000 samples"),
    "empty waveforms, as JSON": (["check", "--json", "empty.drel"], None, 1, '{"files": [{"file": "empty.drel"'),
    "empty waveforms, summed up": (["show", "--summary", "empty.drel"], None, 0, "Protocol {"),
}


@pytest.mark.parametrize("args, stdin, status, first_line", HOSTILE.values(), ids=HOSTILE.keys())
def test_hostile_input_ends_promptly(tmp_path, args, stdin, status, first_line):
    if "cycles.drel" in args:
        with_signals(tmp_path, "cycles.drel", [b"\x03" + varint(i ^ 1) * 2 for i in range(2 * MIX_CYCLES)])
    if "empty.drel" in args:
        with_signals(tmp_path, "empty.drel", [b"\x04\x00"] * (1_000_000 // SCALE))
    feeder = subprocess.Popen(["yes"], stdout=subprocess.PIPE) if stdin == "yes" else None
    data = saved(pydrel.Protocol(), tmp_path).read_bytes() + bytes(5) if stdin == "default+5" else None
    with open(tmp_path / "out", "wb") as out:
        run = subprocess.run([str(DREL), *args], cwd=tmp_path, stdin=feeder.stdout if feeder else None,
                             input=data, stdout=out, stderr=subprocess.PIPE, timeout=120)
    if feeder:
        feeder.kill()
        feeder.wait()
    assert run.returncode == status
    with open(tmp_path / "out", "rb") as out:
        first = out.readline().decode() or run.stderr.decode()
        lines = 1 + out.read().count(b"\n")
    assert first.startswith(first_line)
    if "cycles.drel" in args:
        assert lines == MIX_CYCLES
