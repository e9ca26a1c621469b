"""Help beside the module's errors: each common mistake raises the exception
it always raised, with its message unchanged, and a note (PEP 678) that
states the facts of the call and what to do."""

import os
import pathlib
import subprocess
import sys

import numpy as np
import pytest

import pydrel
from conftest import panic_type, unchanged
from pydrel import Channel, Coil

PANIC = panic_type()
N = 300000  # samples of a new protocol's 60 s
SINE = np.sin(2 * np.pi * 10 * np.arange(N) / 5000)  # -1.0 to 1.0
FIRST_NEGATIVE = int(np.argmax(SINE < 0))


class Subclass(np.ndarray):
    """An array type of a user's, whose module is not numpy."""


def spoilt(at, value):
    samples = np.full(N, 0.5)
    samples[at] = value
    return samples


# mistake: (call, exception type, str(e), what the note states, what it must not state)
MISTAKES = {
    "a sine from -1 to 1": (lambda p: p.add_arbitrary_signal(SINE), PANIC, "assertion failed: *sample >= 0.0",
                            [f"sample {FIRST_NEGATIVE} is {float(SINE[FIRST_NEGATIVE])!r}", "0.0 to 1.0", "(x + 1) / 2"],
                            []),
    "a sample below 0, the array beyond -1": (lambda p: p.add_arbitrary_signal(spoilt(9, -1.5)), PANIC,
                                              "assertion failed: *sample >= 0.0",
                                              ["sample 9 is -1.5", "0.0 to 1.0"], ["(x + 1) / 2"]),
    "a sample above 1": (lambda p: p.add_arbitrary_signal(spoilt(299999, 1.5)), PANIC,
                         "assertion failed: *sample <= 1.0", ["sample 299999 is 1.5", "0.0 to 1.0"], ["(x + 1) / 2"]),
    "a NaN sample": (lambda p: p.add_arbitrary_signal(spoilt(2049, np.nan)), PANIC,
                     "assertion failed: *sample >= 0.0", ["sample 2049 is NaN"], ["(x + 1) / 2"]),
    "a wrong length": (lambda p: p.add_arbitrary_signal(np.zeros(N - 1)), PANIC,
                       "assertion failed: samples.len() == self.get_num_samples()",
                       ["299999 samples", "get_num_samples() is 300000", "60.0 s", "set_session_duration()"], []),
    "float32": (lambda p: p.add_arbitrary_signal(np.zeros(N, np.float32)), TypeError,
                "argument 'samples': 'ndarray' object cannot be cast as 'ndarray'",
                ["dtype float32", "shape (300000,)", "one-dimensional", "float64", "np.asarray(x, dtype=np.float64)"],
                [".ravel()"]),
    "one column": (lambda p: p.add_arbitrary_signal(np.zeros((N, 1))), TypeError,
                   "argument 'samples': 'ndarray' object cannot be cast as 'ndarray'",
                   ["shape (300000, 1)", ".ravel() for one row or column"], []),
    "two rows": (lambda p: p.add_arbitrary_signal(np.zeros((2, N))), TypeError,
                 "argument 'samples': 'ndarray' object cannot be cast as 'ndarray'",
                 ["shape (2, 300000)", "one row at a time"], [".ravel()"]),
    "byte-swapped": (lambda p: p.add_arbitrary_signal(np.zeros(N, ">f8")), TypeError,
                     "argument 'samples': 'ndarray' object cannot be cast as 'ndarray'",
                     ["byte order big-endian", "np.asarray(x, dtype=np.float64)"], []),
    "an ndarray of a subclass made outside NumPy": (
        lambda p: p.add_arbitrary_signal(np.zeros(N, np.float32).view(Subclass)), TypeError,
        "argument 'samples': 'Subclass' object cannot be cast as 'ndarray'", ["dtype float32", "shape (300000,)"],
        ["'Subclass'"]),
    "a list": (lambda p: p.add_arbitrary_signal([0.5] * N), TypeError,
               "argument 'samples': 'list' object cannot be cast as 'ndarray'",
               ["'list'", "NumPy array", "np.asarray(x, dtype=np.float64)"], []),
    "intensity in percent": (lambda p: p.set_stimulation_intensity(60), PANIC,
                             "assertion failed: intensity >= 0.0 && intensity <= 1.0",
                             ["60.0", "0.0 to 1.0", "60.0 percent is 0.6"], []),
    "intensity just above 1, no percentage": (lambda p: p.set_stimulation_intensity(1.1), PANIC,
                                              "assertion failed: intensity >= 0.0 && intensity <= 1.0",
                                              ["1.1", "0.0 to 1.0"], ["percent"]),
    "intensity of 2, the least that reads as a percentage": (lambda p: p.set_stimulation_intensity(2), PANIC,
                                                             "assertion failed: intensity >= 0.0 && intensity <= 1.0",
                                                             ["2.0 percent is 0.02"], []),
    "intensity just below 2": (lambda p: p.set_stimulation_intensity(1.9999999999999998), PANIC,
                               "assertion failed: intensity >= 0.0 && intensity <= 1.0", ["1.9999999999999998"],
                               ["percent"]),
    "intensity 100": (lambda p: p.set_stimulation_intensity(100), PANIC,
                      "assertion failed: intensity >= 0.0 && intensity <= 1.0", ["100.0 percent is 1.0"], []),
    "intensity above 100": (lambda p: p.set_stimulation_intensity(101), PANIC,
                            "assertion failed: intensity >= 0.0 && intensity <= 1.0", ["101.0"], ["percent"]),
    "intensity NaN": (lambda p: p.set_stimulation_intensity(float("nan")), PANIC,
                      "assertion failed: intensity >= 0.0 && intensity <= 1.0", ["intensity is nan", "0.0 to 1.0"],
                      []),
    "intensity spelt as repr() spells it": (lambda p: p.set_stimulation_intensity(-1e-05), PANIC,
                                            "assertion failed: intensity >= 0.0 && intensity <= 1.0",
                                            ["intensity is -1e-05,"], ["1e-5"]),
    "duration too long": (lambda p: p.set_session_duration(5000.0), PANIC,
                          "assertion failed: duration <= config::MAX_SESSION_DURATION",
                          ["5000.0 s", "0.01 to 1800.0 s"], []),
    "duration NaN": (lambda p: p.set_session_duration(float("nan")), PANIC,
                     "assertion failed: duration <= config::MAX_SESSION_DURATION", ["duration is nan", "0.01 to 1800.0 s"],
                     []),
    "duration far too long, spelt": (lambda p: p.set_session_duration(1e16), PANIC,
                                     "assertion failed: duration <= config::MAX_SESSION_DURATION",
                                     ["duration is 1e+16 s"], ["1e16"]),
    "duration too short": (lambda p: p.set_session_duration(0.0), PANIC, "assertion failed: duration >= 0.01",
                           ["0.0 s", "0.01 to 1800.0 s"], []),
    "upper-case suffix": (lambda p: p.save("x.DREL"), PANIC, 'assertion failed: filepath.ends_with(".drel")',
                          ['"x.DREL"', '".drel" in lower case'], []),
    "a missing directory": (lambda p: p.save("missing/dir/x.drel"), PANIC,
                            "called `Result::unwrap()` on an `Err` value: Os { code: 2, kind: NotFound, "
                            'message: "No such file or directory" }',
                            ['open "missing/dir/x.drel"', "ENOENT", "No such file or directory", "not an OSError",
                             "BaseException"], []),
    "a NUL in the path": (lambda p: p.save("a\0b.drel"), PANIC,
                          "called `Result::unwrap()` on an `Err` value: Error { kind: InvalidInput, message: "
                          '"file name contained an unexpected NUL byte" }',
                          ['open "a\\0b.drel"', "InvalidInput", "not an OSError"], []),
    "a pathlib.Path": (lambda p: p.save(pathlib.Path("x.drel")), TypeError,
                       "argument 'filepath': 'PosixPath' object cannot be cast as 'str'",
                       ["p.save(os.fspath(path))"], []),
    "bytes": (lambda p: p.save(b"x.drel"), TypeError, "argument 'filepath': 'bytes' object cannot be cast as 'str'",
              ["p.save(os.fsdecode(path))"], []),
    "an int for a channel": (lambda p: p.enable_channel(1), TypeError,
                             "argument 'channel': 'int' object cannot be cast as 'Channel'",
                             ["Channel.A or Channel.B"], []),
    "a coil for a channel": (lambda p: p.set_modulation_source(Coil.A1, 0), TypeError,
                             "argument 'channel': 'Coil' object cannot be cast as 'Channel'",
                             ["Channel.A or Channel.B"], []),
    "an int for a coil": (lambda p: p.set_amplitude_source(0, 1), TypeError,
                          "argument 'coil': 'int' object cannot be cast as 'Coil'", ["Coil.A1", "Coil.B2"], []),
    "1 for external": (lambda p: p.set_amplitude_source(Coil.A1, 1, 1), TypeError,
                       "argument 'external': 'int' object cannot be cast as 'bool'", ["True or False"], []),
    "a negative index": (lambda p: p.set_modulation_source(Channel.A, -1), OverflowError,
                         "can't convert negative int to unsigned", ["index takes", "0 to 2**64 - 1",
                                                                    "with external=True, an input number"], []),
    "an index of 2**64": (lambda p: p.add_mixed_signal(0, 2**64), OverflowError, "int too big to convert",
                          ["b_idx takes a signal index", "0 to 2**64 - 1"], ["external"]),
}


@pytest.mark.parametrize("call, error, message, states, omits", MISTAKES.values(), ids=MISTAKES.keys())
def test_a_mistake_has_its_note(protocol, tmp_path, monkeypatch, call, error, message, states, omits):
    monkeypatch.chdir(tmp_path)
    protocol.add_constant_signal(0.5)  # so that a save that fails changes nothing
    with unchanged(protocol), pytest.raises(BaseException) as raised:
        call(protocol)
    e = raised.value
    assert (type(e), str(e), e.args) == (error, message, (message,) if error is PANIC else e.args)
    [note] = e.__notes__
    assert [fact for fact in states if fact not in note] == []
    assert [fact for fact in omits if fact in note] == []


def test_what_succeeds_has_no_note_and_notes_do_not_pile_up(protocol):
    for _ in range(2):
        with pytest.raises(BaseException) as raised:
            protocol.set_stimulation_intensity(2.0)
        assert len(raised.value.__notes__) == 1
    # A conversion error that is no TypeError of ours passes on without one.
    with pytest.raises(UnicodeEncodeError) as raised:
        protocol.save("\udc80.drel")
    assert not hasattr(raised.value, "__notes__")


def test_a_traceback_shows_the_message_then_the_note(tmp_path):
    script = "import pydrel\npydrel.Protocol().set_stimulation_intensity(60)\n"
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, cwd=tmp_path,
                         env={**os.environ, "PYTHONPATH": str(pathlib.Path(pydrel.__file__).parent)})
    lines = run.stderr.splitlines()
    # The report of the failed check comes first, word for word, without the note.
    assert lines[0].endswith(": assertion failed: intensity >= 0.0 && intensity <= 1.0")
    assert lines[0].startswith("thread 'main' panicked at pydrel/src/")
    assert lines[-2:] == ["pyo3_runtime.PanicException: assertion failed: intensity >= 0.0 && intensity <= 1.0",
                          "intensity is 60.0, outside 0.0 to 1.0: it is a fraction of full scale. The intensity is "
                          "a fraction, not a percentage: 60.0 percent is 0.6."]
