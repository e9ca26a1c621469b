"""The MATLAB/Octave toolbox (matlab/+drel), run in GNU Octave over the drel
program: protocols round-trip byte for byte through drel.read and
drel.compose, each refusal has its identifier, and a script in MATLAB's
style composes the bytes of the README's tour. ./dev matlab runs these."""

import math
import os
import pathlib
import random
import shutil
import struct
import subprocess
import textwrap

import numpy as np
import pytest

import pydrel
from test_drel import DREL, saved
from test_json import random_protocol

OCTAVE = shutil.which("octave-cli") or shutil.which("octave")
pytestmark = pytest.mark.skipif(OCTAVE is None, reason="GNU Octave: ./dev matlab runs these")
TOOLBOX = pathlib.Path(__file__).resolve().parent.parent / "matlab"


def octave(script, cwd):
    """Runs `script` in Octave with the toolbox on its path and DREL naming
    the program under test; its standard output, or the failure."""
    run = subprocess.run([OCTAVE, "--no-gui", "--quiet", "--no-window-system", "--norc", "--eval",
                          f"warning('off', 'Octave:shadowed-function'); addpath('{TOOLBOX}'); {script}"], cwd=cwd, capture_output=True, text=True, timeout=900,
                         env={**os.environ, "DREL": str(DREL)})
    assert run.returncode == 0, run.stdout + run.stderr
    return run.stdout


def test_protocols_round_trip_byte_for_byte(tmp_path):
    rng = random.Random(41)
    names = []
    for k in range(40):
        names.append(saved(random_protocol(rng), tmp_path, f"r{k:02}.drel").name)
    extremes = pydrel.Protocol()
    for x in (-0.0, math.nan, -math.nan, math.inf, -math.inf, 1.7976931348623157e308, 5e-324,
              2.2250738585072014e-308, 0.1, 1e16, 123456789.123456789):
        extremes.add_constant_signal(x)
    extremes.add_mixed_signal(2**64 - 1, 2**53 + 1)
    extremes.set_amplitude_source(pydrel.Coil.A2, 2**64 - 1, external=True)
    extremes.set_session_duration(0.01)
    extremes.add_arbitrary_signal(np.linspace(0.0, 1.0, 50))
    names.append(saved(extremes, tmp_path, "extremes.drel").name)
    one = pydrel.Protocol()
    one.add_sine_signal(1.0, 10.0)
    names.append(saved(one, tmp_path, "one_signal.drel").name)
    names = "{" + ", ".join(f"'{n}'" for n in names) + "}"
    octave(textwrap.dedent(f"""
        names = {names};
        for k = 1:numel(names)
            s = drel.read(names{{k}});
            drel.compose(s, ['back_' names{{k}}], 'AllowErrors', true);
        end
        """), tmp_path)
    for path in sorted(tmp_path.glob("back_*.drel")):
        assert path.read_bytes() == (tmp_path / path.name[5:]).read_bytes(), path.name
    assert len(list(tmp_path.glob("back_*.drel"))) == len(names.split(","))


def test_what_read_gives_is_typed_and_shaped_as_the_json(tmp_path):
    p = pydrel.Protocol()
    p.set_session_duration(0.01)
    p.add_arbitrary_signal(np.full(50, 0.5))
    p.add_mixed_signal(2**64 - 1, 3)
    saved(p, tmp_path)
    out = octave(textwrap.dedent("""
        s = drel.read('p.drel');
        printf('%s %s\\n', class(s.signals), mat2str(size(s.signals)));
        printf('%s %s\\n', class(s.signals{1}.Arbitrary.samples), mat2str(size(s.signals{1}.Arbitrary.samples)));
        printf('%d\\n', s.signals{1}.Arbitrary.samples(1));
        a_idx = s.signals{2}.MixedSignal.a_idx;
        printf('%s %d\\n', class(a_idx), a_idx == intmax('uint64'));
        printf('%s %s\\n', class(s.machine_config.coils), mat2str(size(s.machine_config.coils)));
        printf('%s %s\\n', class(s.machine_config.capacitors), mat2str(size(s.machine_config.capacitors)));
        printf('%s %s\\n', class(s.monitor_trace_visible), mat2str(size(s.monitor_trace_visible)));
        printf('%.17g\\n', s.machine_config.coils(1).settings(1).carrier_frequency);
        """), tmp_path)
    assert out.splitlines() == ["cell [1 2]", "int16 [1 50]", "16384", "uint64 1",
                                "struct [1 1]", "double [1 1]", "logical [1 16]", "22.624434389140273"]


# MATLAB code -> the identifier of the error it raises, and what its message says.
REFUSALS = {
    "an intensity in percent": ("s = drel.read('p.drel'); s.intensity = 60; drel.compose(s, 'q.drel');",
                                "drel:compose:refused", "intensity is 60.0, which set_stimulation_intensity() "
                                "refuses"),
    "a level written as a fraction": (
        "s = drel.read('w.drel'); s.signals{1}.Arbitrary.samples = 0.5 * ones(1, 50); drel.compose(s, 'q.drel');",
        "drel:compose:refused", "In MATLAB, that is s.signals{1}.Arbitrary.samples(1)."),
    "a struct array where one record belongs": (
        "s = drel.read('p.drel'); s.channel_a_settings = [s.channel_a_settings, s.channel_a_settings]; "
        "drel.compose(s, 'q.drel');", "drel:compose:type", "a struct array stands for an array"),
    "a waveform of no session's length": (
        "s = drel.read('p.drel'); s.signals = {struct('Arbitrary', struct('samples', int16([1 2 3])))}; "
        "drel.compose(s, 'q.drel');", "drel:compose:refused", "has 3 levels, but no session"),
    "an empty table": ("s = drel.read('p.drel'); s.signals = {}; drel.compose(s, 'q.drel');",
                       "drel:compose:refused", "signals is empty"),
    "an unknown field": ("s = drel.read('p.drel'); s.intensty = 0.5; drel.compose(s, 'q.drel');",
                         "drel:compose:refused", 'did you mean "intensity"?'),
    "a broken protocol": ("s = drel.read('p.drel'); s.channel_a_settings.amplitude1_source.internal = 7; "
                          "drel.compose(s, 'q.drel');", "drel:compose:broken", "A1 amplitude source is signal 7"),
    "a text where a number belongs": ("s = drel.read('p.drel'); s.intensity = {1}; drel.compose(s, 'q.drel');",
                                      "drel:compose:type", "s.intensity must be a number"),
    "a file that is no protocol": ("drel.read('noise.drel');", "drel:read:notProtocol", "not a protocol file"),
    "a file that is not there": ("drel.read('missing.drel');", "drel:read:cannotRead", "cannot be read"),
    "checking what is not there": ("drel.check('missing.drel');", "drel:read:cannotRead", "cannot be read"),
    "a picture of a wrong name": ("drel.plot('p.drel', 'p.png');", "drel:plot:cannotWrite", "writes SVG only"),
    "no program": ("setenv('DREL', '/nowhere/drel'); drel.read('p.drel');", "drel:program:notFound",
                   "DREL names /nowhere/drel"),
}


@pytest.mark.partial_files  # the files kept and the noise are no protocols
@pytest.mark.parametrize("code, identifier, says", REFUSALS.values(), ids=REFUSALS.keys())
def test_each_refusal_has_its_identifier(tmp_path, code, identifier, says):
    p = pydrel.Protocol()
    p.add_constant_signal(0.5)
    saved(p, tmp_path)
    w = pydrel.Protocol()
    w.set_session_duration(0.01)
    w.add_arbitrary_signal(np.full(50, 0.5))
    saved(w, tmp_path, "w.drel")
    (tmp_path / "noise.drel").write_bytes(b"\x07" * 40)
    (tmp_path / "q.drel").write_bytes(b"kept")
    out = octave(f"try, {code} disp('no error'); catch e, printf('%s\\n%s\\n', e.identifier, e.message); end",
                 tmp_path)
    got, _, message = out.partition("\n")
    assert got == identifier, out
    assert says in message, out
    assert (tmp_path / "q.drel").read_bytes() == b"kept"


def test_check_and_diff_and_plot(tmp_path):
    p = pydrel.Protocol()
    p.add_constant_signal(0.5)
    p.set_stimulation_intensity(0.5)
    saved(p, tmp_path, "a.drel")
    p.set_stimulation_intensity(0.25)
    saved(p, tmp_path, "b.drel")
    out = octave(textwrap.dedent("""
        f = drel.check('a.drel');
        printf('%d %s: %s\\n', numel(f), f(1).severity, f(1).message);
        printf('%d\\n', numel(drel.check('b.drel')));
        s = drel.read('a.drel'); s.channel_a_settings.amplitude1_source.internal = 7;
        f = drel.check(s);
        printf('%s\\n', strjoin({f.severity}, ','));
        d = drel.diff('a.drel', 'b.drel');
        printf('%s %g %g\\n', d(1).path, d(1).a, d(1).b);
        printf('%d\\n', numel(drel.diff('a.drel', 'a.drel')));
        svg = drel.plot('a.drel');
        printf('%s\\n', svg(1:4));
        drel.plot('a.drel', 'a.svg');
        """), tmp_path)
    assert out.splitlines() == [
        "1 warning: intensity 0.5 is above the machine description's max_intensity_setpoint 0.3, a limit of the "
        "factory description that every composed protocol carries", "0", "warning,error",
        "intensity 0.5 0.25", "0", "<svg"]
    assert (tmp_path / "a.svg").read_bytes().startswith(b"<svg ")


def test_a_script_in_matlab_style_composes_the_readme_tour(tmp_path):
    p = pydrel.Protocol()
    p.set_session_duration(120.0)
    p.set_stimulation_intensity(0.5)
    p.enable_channel(pydrel.Channel.B)
    sine = p.add_sine_signal(1.0, 10.0)
    swell = p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    p.set_amplitude_source(pydrel.Coil.A1, sine)
    p.set_amplitude_source(pydrel.Coil.B1, 2, external=True)
    p.set_modulation_source(pydrel.Channel.A, swell)
    saved(p, tmp_path, "python.drel")
    octave(textwrap.dedent("""
        s = struct();
        s.session_duration = 120.0;
        s.intensity = 0.5;
        s.channel_b_settings.enabled = true;
        n = 120 * 5000;
        swell = round(linspace(0, 1, n) * 32767);       % levels: fractions of full scale times 32767
        s.signals = {struct('Sine', struct('amplitude', 1.0, 'frequency', 10.0)), ...
                     struct('Arbitrary', struct('samples', int16(swell)))};
        s.channel_a_settings.amplitude1_source.internal = 0;
        s.channel_b_settings.amplitude1_source.external = 2;
        s.channel_b_settings.amplitude1_source.external_selected = true;
        s.channel_a_settings.modulation_source.internal = 1;
        warning('off', 'drel:compose:finding');
        drel.compose(s, 'matlab.drel');
        """), tmp_path)
    assert (tmp_path / "matlab.drel").read_bytes() == (tmp_path / "python.drel").read_bytes()


def test_a_nan_keeps_its_sign_both_ways(tmp_path):
    p = pydrel.Protocol()
    p.add_constant_signal(struct.unpack("<d", struct.pack("<Q", 0xFFF8000000000000))[0])  # inf - inf, on x86-64
    p.add_constant_signal(math.nan)
    saved(p, tmp_path)
    out = octave(textwrap.dedent("""
        s = drel.read('p.drel');
        printf('%d %d\\n', bitget(typecast(s.signals{1}.Constant.value, 'uint64'), 64), ...
               bitget(typecast(s.signals{2}.Constant.value, 'uint64'), 64));
        drel.compose(s, 'q.drel');
        """), tmp_path)
    assert out.splitlines() == ["1 0"]
    assert (tmp_path / "q.drel").read_bytes() == (tmp_path / "p.drel").read_bytes()
