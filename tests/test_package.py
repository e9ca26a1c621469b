"""The drel package: protocol files read back into records, checked, and composed again."""

import dataclasses
import math
import struct

import numpy as np
import pytest

import drel
import pydrel
from test_drel import drel as run_drel, every_kind, quiet_mistakes, saved

NAN_PAYLOAD = struct.unpack("<d", struct.pack("<Q", 0x7FF8000000000123))[0]


def stale_waveform(p):
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    p.set_session_duration(0.0123)  # 62 samples now; the waveform keeps 300000


def special_floats(p, monkeypatch):
    monkeypatch.setenv("DREL_TARGET_MACHINE", "")  # composed on the stimulator, here and in to_protocol()
    p = pydrel.Protocol()
    p.set_stimulation_intensity(-0.0)
    p.add_sine_signal(NAN_PAYLOAD, -math.inf, 5e-324, 1e300)
    p.add_ramp_signal(-0.0, math.inf, math.nan)
    return p


def later_and_external(p):
    p.add_mixed_signal(3, 1)  # names signals not added yet
    p.add_constant_signal(0.5)
    p.add_mixed_signal(0, 0)
    p.add_constant_signal(1.0)
    p.set_amplitude_source(pydrel.Coil.B2, 5, external=True)
    p.set_modulation_source(pydrel.Channel.B, 2)


ROUND_TRIP = {
    "new, saved with its one constant": lambda p, mp: p,
    "every kind": lambda p, mp: every_kind(),
    "stale waveform": lambda p, mp: stale_waveform(p) or p,
    "special floats on the stimulator": lambda p, mp: special_floats(p, mp),
    "mixes of later signals, external sources": lambda p, mp: later_and_external(p) or p,
}


@pytest.mark.parametrize("compose", ROUND_TRIP.values(), ids=ROUND_TRIP.keys())
def test_round_trip(tmp_path, monkeypatch, compose):
    p = compose(pydrel.Protocol(), monkeypatch)
    path = saved(p, tmp_path)
    settings = drel.load(path)
    assert str(settings) == str(p)
    assert settings.num_samples == p.get_num_samples()
    again = saved(settings.to_protocol(), tmp_path, "again.drel")
    assert again.read_bytes() == path.read_bytes()
    assert str(drel.loads(memoryview(path.read_bytes()))) == str(p)


def test_check_is_drel_check(tmp_path):
    p = pydrel.Protocol()
    quiet_mistakes(p)
    p.add_mixed_signal(9, 99)
    path = saved(p, tmp_path)
    lines = run_drel("check", path).stdout.decode().splitlines()
    assert [f"{path}: {f.severity}: {f.message}" for f in drel.load(path).check()] == lines


def changed(**fields):
    """A loaded protocol with some fields changed, as a file that holds them would load."""
    def change(s):
        return dataclasses.replace(s, **{k: v(s) if callable(v) else v for k, v in fields.items()})
    return change


def channel_a(**fields):
    return lambda s: dataclasses.replace(s.channel_a_settings, **fields)


NEW = "but a new pydrel.Protocol has"
NOT_COMPOSABLE = {
    "machine description": (changed(machine_config=lambda s: dataclasses.replace(s.machine_config, num_coils=1)),
                            f"machine_config.num_coils is 1, {NEW} 2, and no method changes it"),
    "target-machine flag": (changed(running_on_target_machine=True),
                            f"running_on_target_machine is True, {NEW} False, and no method changes it"),
    "intensity refused": (changed(intensity=1.5), "intensity is 1.5, which set_stimulation_intensity() refuses: "
                                                  "assertion failed: intensity >= 0.0 && intensity <= 1.0"),
    "duration NaN": (changed(session_duration=math.nan), "session_duration is nan, which set_session_duration() "
                                                         "refuses: assertion failed: duration <= "
                                                         "config::MAX_SESSION_DURATION"),
    "empty signal table": (changed(signals=()), "signals is empty, but a saved pydrel.Protocol holds at least one "
                                                "signal"),
    "level outside 0 to 32767": (changed(signals=(drel.Arbitrary(np.array([5, 32767, -1], np.int16)),)),
                                 "signals[0].samples[2] is -1, but add_arbitrary_signal() makes levels from 0 to "
                                 "32767"),
    "waveform no session has": (changed(signals=(drel.Arbitrary(np.zeros(49, np.int16)),)),
                                "signals[0].samples has 49 levels, but no session that set_session_duration() "
                                "takes has that many samples"),
    "channel A off": (changed(channel_a_settings=channel_a(enabled=False)),
                      f"channel_a_settings.enabled is False, {NEW} True, and no method changes it"),
    "both numbers of a source": (
        changed(channel_a_settings=channel_a(modulation_source=drel.SignalSourceSelection(1, 2, True))),
        "channel_a_settings.modulation_source is SignalSourceSelection(internal=1, external=2, "
        "external_selected=True), which set_modulation_source() never writes: it sets the number not selected to 0"),
    "the unselected number": (
        changed(channel_a_settings=channel_a(amplitude2_source=drel.SignalSourceSelection(0, 3, False))),
        "channel_a_settings.amplitude2_source is SignalSourceSelection(internal=0, external=3, "
        "external_selected=False), which set_amplitude_source() never writes: it sets the number not selected to 0"),
    "coil": (changed(channel_a_settings=channel_a(coil_idx=1)),
             f"channel_a_settings.coil_idx is 1, {NEW} 0, and no method changes it"),
    "coil setting": (changed(channel_b_settings=lambda s: dataclasses.replace(s.channel_b_settings,
                                                                               coil_setting_idx=2)),
                     f"channel_b_settings.coil_setting_idx is 2, {NEW} 0, and no method changes it"),
    "monitor trace": (changed(monitor_trace_visible=(False,) * 15 + (True,)),
                      f"monitor_trace_visible[15] is True, {NEW} False, and no method changes it"),
    "monitor subsampling": (changed(monitor_subsampling_factor=0),
                            f"monitor_subsampling_factor is 0, {NEW} 1, and no method changes it"),
}


@pytest.mark.parametrize("change, message", NOT_COMPOSABLE.values(), ids=NOT_COMPOSABLE.keys())
def test_not_composable(tmp_path, change, message):
    settings = change(drel.load(saved(pydrel.Protocol(), tmp_path)))
    with pytest.raises(drel.NotComposable) as raised:
        settings.to_protocol()
    assert str(raised.value) == message


@pytest.mark.partial_files
@pytest.mark.parametrize("cut, error, offset, path", [
    (lambda b: b[:177], drel.DecodeError, 177, "channel_b_settings.amplitude2_source.external"),
    (lambda b: b[:151] + b"\x07" + b[152:], drel.DecodeError, 151, "signals[0]"),
    (lambda b: b + b"\x00", drel.DecodeError, 201, ""),
    (None, FileNotFoundError, None, None),
])
def test_unreadable(tmp_path, cut, error, offset, path):
    good = saved(pydrel.Protocol(), tmp_path)
    target = tmp_path / "missing.drel"
    if cut:
        target.write_bytes(cut(good.read_bytes()))
    with pytest.raises(error) as raised:
        drel.load(target)
    if offset is None:
        assert raised.value.filename == target
        return
    assert (raised.value.offset, raised.value.path) == (offset, path)
    # The same words as drel check, and the same from memory.
    assert run_drel("check", target).stderr.decode() == f"{target}: {raised.value}\n"
    with pytest.raises(error, match=f"at byte {offset}"):
        drel.loads(target.read_bytes())


def test_records_are_read_only_values(tmp_path):
    settings = drel.load(saved(every_kind(), tmp_path))
    arbitrary = settings.signals[3]
    assert repr(arbitrary) == "Arbitrary(<12500 levels: min 1, max 32766>)"
    assert not arbitrary.samples.flags.writeable
    with pytest.raises(dataclasses.FrozenInstanceError):
        settings.intensity = 0.5  # type: ignore[misc]
    assert settings.channel_b_settings == dataclasses.replace(settings.channel_b_settings)
    assert arbitrary == drel.Arbitrary(arbitrary.samples.copy()) != drel.Arbitrary(arbitrary.samples[:-1])
