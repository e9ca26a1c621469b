"""drel compose as a compiler, and the JSON path at its edges: what stops
the file and what does not, where it is written and how, values that JSON
has trouble with, and refusals in the words of whoever wrote the JSON."""

import array
import json
import math
import mmap
import os
import pickle
import pty
import re
import resource
import struct
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import drel
import pydrel
from test_drel import DREL, saved

SANITIZED = os.environ.get("PYDREL_SANITIZED") == "1"
CLEAN = '{"intensity": 0.25, "signals": [{"Constant": {"value": 0.5}}]}'
WARNING = '{"intensity": 0.5, "signals": [{"Constant": {"value": 0.5}}]}'
# Python refuses the first at once; both are what drel check calls errors.
STALE = '{"signals": [{"Arbitrary": {"samples": [' + ",".join(["7"] * 600000) + "]}}]}"
MISSING = '{"signals": [{"Constant": {"value": 0.5}}], "channel_a_settings": {"amplitude1_source": {"internal": 7}}}'
NOTHING = "p.json: nothing written: drel check calls the protocol broken (--allow-errors writes it anyway)"
STRICTLY = "p.json: nothing written: --strict counts warnings as errors (--allow-errors writes it anyway)"


def compose(tmp_path, text, *args, out="out.drel"):
    (tmp_path / "p.json").write_text(text)
    return subprocess.run([str(DREL), "compose", "p.json", "-o", out, *args], cwd=tmp_path, capture_output=True,
                          timeout=120)


# JSON, options -> exit status, whether the file is written, and the last
# line on standard error (None for none).
COMPILER = {
    "clean": (CLEAN, [], 0, True, None),
    "a warning is reported and does not stop it": (WARNING, [], 0, True, "p.json: warning: intensity 0.5 is above"),
    "a stale waveform stops it": (STALE, [], 1, False, NOTHING),
    "a missing signal stops it": (MISSING, [], 1, False, NOTHING),
    "--allow-errors writes an error": (MISSING, ["--allow-errors"], 0, True, "p.json: error: A1 amplitude source is"),
    "--strict stops a warning": (WARNING, ["--strict"], 1, False, STRICTLY),
    "--strict stops an error": (MISSING, ["--strict"], 1, False, STRICTLY),
    "--strict writes what is clean": (CLEAN, ["--strict"], 0, True, None),
    "--allow-errors writes a warning": (WARNING, ["--allow-errors"], 0, True, "p.json: warning:"),
    "the two do not go together": (WARNING, ["--strict", "--allow-errors"], 2, False,
                                   "usage: drel compose -o OUT.drel [--strict] [--allow-errors] FILE"),
}


@pytest.mark.partial_files  # the file kept is no protocol
@pytest.mark.parametrize("text, args, status, written, last", COMPILER.values(), ids=COMPILER.keys())
def test_compose_stops_on_errors_as_a_compiler_does(tmp_path, text, args, status, written, last):
    (tmp_path / "out.drel").write_bytes(b"kept")
    run = compose(tmp_path, text, *args)
    lines = run.stderr.decode().splitlines()
    assert run.returncode == status
    assert (lines[-1].startswith(last) if last else lines == [])
    assert ((tmp_path / "out.drel").read_bytes() != b"kept") == written
    # To standard output, the same verdict: nothing at all where nothing is written.
    to_stdout = compose(tmp_path, text, *args, out="-")
    assert to_stdout.returncode == status and bool(to_stdout.stdout) == written
    if written:
        assert to_stdout.stdout == (tmp_path / "out.drel").read_bytes()


def test_the_help_names_o_as_required_and_the_compiler_rule():
    run = subprocess.run([str(DREL), "compose", "--help"], capture_output=True, text=True)
    assert run.stdout.startswith("usage: drel compose -o OUT.drel [--strict] [--allow-errors] FILE\n")
    assert "required" in run.stdout and "--allow-errors" in run.stdout


# Writing through links, as save() does, with a short temporary name and
# the umask of a new file; each case made in tmp_path, then composed.
@pytest.mark.partial_files
def test_compose_writes_through_a_link_to_the_file_it_names(tmp_path):
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    (elsewhere / "target.drel").write_bytes(b"old")
    (tmp_path / "link.drel").symlink_to("elsewhere/target.drel")
    (tmp_path / "chain.drel").symlink_to("link.drel")
    assert compose(tmp_path, CLEAN, out="chain.drel").returncode == 0
    assert (tmp_path / "chain.drel").is_symlink() and (tmp_path / "link.drel").is_symlink()
    written = (elsewhere / "target.drel").read_bytes()
    assert written[:1] == b"\x00" and len(written) > 100
    # Through a link to a file that is not there yet, that file is made.
    (tmp_path / "dangling.drel").symlink_to(elsewhere / "new.drel")
    assert compose(tmp_path, CLEAN, out="dangling.drel").returncode == 0
    assert (elsewhere / "new.drel").read_bytes() == written
    assert sorted(p.name for p in elsewhere.iterdir()) == ["new.drel", "target.drel"]  # no temporary left
    # A loop of links is refused, as open() refuses it, and leaves nothing.
    (tmp_path / "loop.drel").symlink_to("loop.drel")
    run = compose(tmp_path, CLEAN, out="loop.drel")
    assert (run.returncode, run.stderr.decode()) == (2, "loop.drel: cannot be written: "
                                                        "Too many levels of symbolic links\n")


def test_compose_takes_the_longest_file_name_and_the_umask(tmp_path):
    longest = "n" * 250 + ".drel"  # 255 bytes, the most a name may have
    assert compose(tmp_path, CLEAN, out=longest).returncode == 0
    assert (tmp_path / longest).stat().st_size > 100
    (tmp_path / "p.json").write_text(CLEAN)
    run = subprocess.run(f"umask 027 && {DREL} compose p.json -o masked.drel", shell=True, cwd=tmp_path)
    assert run.returncode == 0 and (tmp_path / "masked.drel").stat().st_mode & 0o777 == 0o640


@pytest.mark.parametrize("missing, line", [
    ("missing.json", "missing.json: cannot be read: No such file or directory"),
    (".", ".: cannot be read: Is a directory"),
])
def test_a_file_that_cannot_be_read(tmp_path, missing, line):
    run = subprocess.run([str(DREL), "compose", missing, "-o", "out.drel"], cwd=tmp_path, capture_output=True)
    assert (run.returncode, run.stderr.decode()) == (2, line + "\n")


def test_the_nan_that_arithmetic_makes_comes_back(tmp_path):
    p = pydrel.Protocol()
    minus = struct.unpack("<d", struct.pack("<Q", 0xFFF8000000000000))[0]  # what inf - inf is on x86-64
    p.add_constant_signal(minus)
    p.add_constant_signal(-math.nan)
    p.add_constant_signal(math.nan)
    saved(p, tmp_path, "nan.drel")
    shown = subprocess.run([str(DREL), "show", "--json", "nan.drel"], cwd=tmp_path, capture_output=True).stdout
    assert b'{"Constant": {"value": "-NaN"}}, {"Constant": {"value": "-NaN"}}, {"Constant": {"value": "NaN"}}' in shown
    run = subprocess.run([str(DREL), "compose", "-", "-o", "-"], cwd=tmp_path, input=shown, capture_output=True)
    assert run.stdout == (tmp_path / "nan.drel").read_bytes()


# Bytes that no protocol's JSON is, refused where they pass what the
# protocol can hold, long before the rest arrives: an endless stream is
# refused as soon as it passes the limit.
@pytest.mark.parametrize("head, message", [
    (b'{"', 'the protocol has no key "'),
    (b'{"machine_config": {"coils": [{"name": "', "is a string of more than 1048576 bytes"),
])
def test_an_endless_key_or_name_is_refused_at_its_limit(head, message):
    feed = subprocess.Popen([sys.executable, "-c", textwrap.dedent(f"""
        import sys
        out = sys.stdout.buffer
        out.write({head!r})
        try:
            while True:
                out.write(b"a" * 65536)
        except BrokenPipeError:
            pass
        """)], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    run = subprocess.run([str(DREL), "compose", "-", "-o", "-"], stdin=feed.stdout, capture_output=True, timeout=60)
    feed.stdout.close()
    feed.wait(timeout=60)
    assert run.returncode == 2 and message in run.stderr.decode()


# Address space: what a waveform reserves is what it holds, whatever the
# text after it, so that many short waveforms before a long one, or many
# empty ones, read under a limit that the levels and the text fit in.
@pytest.mark.skipif(SANITIZED, reason="the sanitizers reserve more address space than any such limit")
@pytest.mark.parametrize("waveforms", [
    ["[7]"] * 300 + ["[" + ",".join(["1"] * 9_000_000) + "]"],
    ["[]"] * 60_000,
    ["[5]"] * 100_000,
    ["[" + ",".join(["3"] * 50) + "]"] * 2000 + ["[]"] * 30_000,
], ids=["300 short before the longest", "60000 empty", "100000 of one level", "2000 of 50 levels"])
def test_waveforms_reserve_what_they_hold(tmp_path, waveforms):
    text = '{"signals": [' + ", ".join('{"Arbitrary": {"samples": ' + w + "}}" for w in waveforms) + "]}"
    (tmp_path / "p.json").write_text(text)
    limit = 300 << 20
    run = subprocess.run([str(DREL), "compose", "p.json", "-o", "-"], cwd=tmp_path, capture_output=True,
                         timeout=300, preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
    # Read whole, then refused for what no session has: a waveform of 0 or 1 level.
    assert (run.returncode, run.stdout) == (2, b"")
    assert run.stderr.startswith(b"p.json:1:") and b": not what pydrel composes: signals[" in run.stderr, run.stderr
    script = ("import resource, sys, drel\n"
              f"resource.setrlimit(resource.RLIMIT_AS, ({limit} + 200 << 20, {limit} + 200 << 20))\n"
              "print(len(drel.from_json(open(sys.argv[1], 'rb').read()).signals))")
    read = subprocess.run([sys.executable, "-c", script, str(tmp_path / "p.json")], capture_output=True, text=True,
                          timeout=300, env={**os.environ, "OPENBLAS_NUM_THREADS": "1"})
    assert read.stdout.strip() == str(len(waveforms)), read.stderr[-400:]


# What from_json() takes: what loads() takes, and a str of any code points,
# a lone surrogate refused where it stands, as the same bytes are.
def test_from_json_takes_what_loads_takes(tmp_path):
    text = CLEAN.encode()
    for given in (text, bytearray(text), memoryview(text), array.array("b", text)):
        assert drel.from_json(given).intensity == 0.25
    (tmp_path / "p.json").write_bytes(text)
    with open(tmp_path / "p.json", "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as m:
        assert drel.from_json(m).intensity == 0.25
    with pytest.raises(TypeError, match="from_json\\(\\) takes a str or a bytes-like object, not 'int'"):
        drel.from_json(5)


@pytest.mark.parametrize("text, column", [
    ('{"machine_config": {"coils": [{"name": "Coil \udc80"}]}}', 46),
    ('{"machine_config": {"coils": [{"name": "\ud834"}]}}', 41),
])
def test_a_lone_surrogate_in_a_str_is_refused_where_it_stands(text, column):
    with pytest.raises(drel.JSONError) as raised:
        drel.from_json(text)
    e = raised.value
    assert (e.line, e.column, e.path) == (1, column, "machine_config.coils[0].name")
    assert "a lone surrogate \\ud" in str(e) and "which UTF-8 cannot hold" in str(e)


def test_json_error_pickles_with_its_place():
    with pytest.raises(drel.JSONError) as raised:
        drel.from_json('{\n\n  "intensty": 0.5}')
    again = pickle.loads(pickle.dumps(raised.value))
    assert (type(again), str(again), again.line, again.column, again.path) == (
        drel.JSONError, "3:3: the protocol has no key \"intensty\": did you mean \"intensity\"?", 3, 3, "")


# Words for what other languages write: JSON -> where, and what the
# message and the note say.
WORDS = {
    "-Infinity, as Python's json writes it": ('{"intensity": -Infinity}', 15, 'written as the string "-inf"', None),
    "Infinity": ('{"intensity": Infinity}', 15, 'written as the strings "NaN" and "inf"', None),
    "a word in the wrong case": ('{"channel_b_settings": {"enabled": trUe}}', 36, "did you mean true?", None),
    "Python's True": ('{"channel_b_settings": {"enabled": True}}', 36, "did you mean true?", None),
    "Python's None": ('{"intensity": None}', 15, "did you mean null?", None),
    "a level written as a fraction": ('{"signals": [{"Arbitrary": {"samples": [0.5]}}]}', 41,
                                      "without a fraction or an exponent, not 0.5", "round(x * 32767)"),
    "one coil, as jsondecode and jsonencode give it back": (
        '{"machine_config": {"coils": {"name": "Default"}}}', 30, "machine_config.coils must be an array, not an "
        "object", "wrap machine_config.coils in a cell, {x}, before jsonencode, or read and compose with the drel "
        "toolbox"),
    "one level, the same": ('{"signals": [{"Arbitrary": {"samples": {"x": 1}}}]}', 40, "must be an array, not an "
                            "object", "jsondecode"),
    "a low surrogate alone": ('{"machine_config": {"coils": [{"name": "\\udc00"}]}}', 41,
                              "a lone surrogate \\udc00", None),
    "a point without digits": ('{"intensity": 1.}', 15, "a decimal point without digits after it", None),
}


@pytest.mark.parametrize("text, column, says, note", WORDS.values(), ids=WORDS.keys())
def test_the_words_of_a_refusal(tmp_path, text, column, says, note):
    with pytest.raises(drel.JSONError) as raised:
        drel.from_json(text)
    e = raised.value
    assert (e.line, e.column) == (1, column) and says in str(e)
    assert getattr(e, "__notes__", None) is None if note is None else note in e.__notes__[0]
    run = compose(tmp_path, text)
    expected = [f"p.json:{e}"] + ([] if note is None else [f"p.json:1:{column}: note: {e.__notes__[0]}"])
    assert (run.returncode, run.stderr.decode().splitlines()) == (2, expected)


def test_minus_zero_is_zero_for_an_integer():
    s = drel.from_json('{"monitor_subsampling_factor": -0, "channel_a_settings": {"coil_idx": -0}}')
    assert (s.monitor_subsampling_factor, s.channel_a_settings.coil_idx) == (0, 0)


# drel.PanicException is pydrel's own class, whether or not a check has
# failed yet when it is asked for.
@pytest.mark.parametrize("first", ["drel", "pydrel"])
def test_drel_names_pydrel_s_panic_exception(first):
    script = textwrap.dedent(f"""
        import drel, pydrel
        if {first!r} == "drel":
            named = drel.PanicException
        try:
            pydrel.Protocol().set_session_duration(0.0)
        except drel.PanicException as e:
            caught = type(e)
        if {first!r} == "pydrel":
            named = drel.PanicException
        assert caught is named and named is drel.PanicException, (caught, named)
        assert (named.__module__, named.__qualname__, named.__mro__[1]) == ("pyo3_runtime", "PanicException",
                                                                            BaseException)
        try:
            pydrel.Protocol().save("x.DREL")
        except Exception:
            raise SystemExit("caught as an Exception")
        except drel.PanicException:
            print("ok")
        """)
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert run.stdout == "ok\n", run.stderr


def test_drel_show_shortens_long_waveforms_on_a_terminal_only(tmp_path):
    p = pydrel.Protocol()
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    p.set_session_duration(0.2)
    p.add_arbitrary_signal(np.full(1000, 0.5))  # 1000 levels: not shortened
    path = saved(p, tmp_path)

    def on_a_terminal(*args):
        leader, follower = pty.openpty()
        if not os.isatty(follower):  # Debian 12's QEMU does not know the C library's newer terminal calls
            os.close(leader), os.close(follower)
            pytest.skip("a terminal is not seen as one here (as under QEMU's emulation)")
        child = subprocess.Popen([str(DREL), "show", *args, str(path)], stdout=follower, stderr=subprocess.DEVNULL)
        os.close(follower)
        out = []
        while True:
            try:
                piece = os.read(leader, 1 << 16)
            except OSError:  # the terminal's end, once the child has closed it
                break
            if not piece:
                break
            out.append(piece)
        os.close(leader)
        return child.wait(timeout=60), b"".join(out).decode().replace("\r\n", "\n")

    status, shown = on_a_terminal()
    lines = shown.splitlines()
    at = lines.index("                        ...")
    assert lines[at - 3:at + 4] == ["                        0,"] * 3 + ["                        ..."] + [
        "                        32767,"] * 3
    assert lines.count("                        16384,") == 1000 and lines.count("                        ...") == 1
    assert lines[-1].startswith("(1 waveform of more than 1000 levels shortened for the terminal")
    assert status == 0
    whole = str(p) + "\n"
    assert on_a_terminal("--full") == (0, whole)
    assert subprocess.run([str(DREL), "show", str(path)], capture_output=True, text=True).stdout == whole


# Pictures of what has no height or no time: a marked gap with the value in
# words, and a sane time axis.
@pytest.mark.parametrize("session, constant", [
    ('"inf"', '"NaN"'), ("1e300", '"-inf"'), ('"NaN"', "0.5"), ("0.5", '"-NaN"'),
])
def test_pictures_of_what_cannot_be_drawn(session, constant):
    s = drel.from_json('{"session_duration": %s, "signals": [{"Constant": {"value": %s}}]}' % (session, constant))
    svg = s.to_svg()
    assert re.findall(r'\b(?:x|y|x1|y1|x2|y2|width|height|d)="[^"]*(?:nan|inf)', svg, re.IGNORECASE) == []
    ticks = [t for t in svg.split('class="tick"')[1:]]
    assert 0 < len(ticks) <= 2 * 10  # two panels, at most ten ticks each
    assert all("e+" not in t.split(">")[1].split("<")[0] for t in ticks)
    drawable = session == "0.5"
    assert ("which no time axis can draw" in svg) == (not drawable)
    assert ("which has no height to draw" in svg) == (constant != "0.5")
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:  # also a matplotlib whose Pillow was not built for this Python
        pytest.skip("no matplotlib for this Python")
    figure = s.plot()
    labels = [t.get_text() for t in figure.axes[0].get_xticklabels()]
    assert all("e+" not in label for label in labels), labels
    assert any("(end)" in label for label in labels) == drawable
    texts = " ".join(t.get_text() for t in figure.axes[0].texts)
    assert ("which no time axis can draw" in texts) == (not drawable)
    assert ("which has no height to draw" in texts) == (constant != "0.5")
    plt.close(figure)
