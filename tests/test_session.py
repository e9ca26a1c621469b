import pytest

import pydrel
from conftest import panic_type, unchanged

MAX_MESSAGE = "assertion failed: duration <= config::MAX_SESSION_DURATION"
MIN_MESSAGE = "assertion failed: duration >= 0.01"
INTENSITY_MESSAGE = "assertion failed: intensity >= 0.0 && intensity <= 1.0"


def test_new_protocol_session(protocol):
    assert protocol.get_num_samples() == 300000
    rate = protocol.get_sampling_rate()
    assert rate == 5000.0 and type(rate) is float


@pytest.mark.parametrize(
    "duration, samples",
    [(1800.0, 9000000), (0.01, 50), (0.0123, 62), (2.5, 12500), (60.0, 300000), (10, 50000), (True, 5000)],
)
def test_session_duration_sets_the_sample_count(protocol, duration, samples):
    assert protocol.set_session_duration(duration) is None
    assert protocol.get_num_samples() == samples


@pytest.mark.parametrize(
    "duration, message",
    [
        (1800.0000000000002, MAX_MESSAGE),
        (5000.0, MAX_MESSAGE),
        (float("nan"), MAX_MESSAGE),
        (float("inf"), MAX_MESSAGE),
        (0.0099, MIN_MESSAGE),
        (0.0, MIN_MESSAGE),
        (-5.0, MIN_MESSAGE),
        (float("-inf"), MIN_MESSAGE),
    ],
)
def test_session_duration_limits(protocol, duration, message):
    protocol.set_session_duration(30.0)
    with unchanged(protocol), pytest.raises(panic_type()) as e:
        protocol.set_session_duration(duration)
    assert str(e.value) == message
    assert protocol.get_num_samples() == 150000


@pytest.mark.parametrize("intensity", [0.0, 1.0, 0.5, -0.0])
def test_intensity_accepted(protocol, intensity):
    assert protocol.set_stimulation_intensity(intensity) is None
    assert f"        intensity: {intensity!r}," in str(protocol).splitlines()


@pytest.mark.parametrize("intensity", [1.01, -0.01, float("nan"), float("inf"), -1e-300])
def test_intensity_limits(protocol, intensity):
    protocol.set_stimulation_intensity(0.5)
    with unchanged(protocol), pytest.raises(panic_type()) as e:
        protocol.set_stimulation_intensity(intensity)
    assert str(e.value) == INTENSITY_MESSAGE


def channel_enabled(protocol, name):
    lines = str(protocol).splitlines()
    start = lines.index(f"        channel_{name}_settings: ChannelSettings {{")
    return lines[start + 1]


def test_enable_channel(protocol):
    assert channel_enabled(protocol, "a") == "            enabled: true,"
    assert channel_enabled(protocol, "b") == "            enabled: false,"
    before = str(protocol)
    protocol.enable_channel(pydrel.Channel.A)
    assert str(protocol) == before
    assert protocol.enable_channel(pydrel.Channel.B) is None
    protocol.enable_channel(pydrel.Channel.B)
    assert channel_enabled(protocol, "b") == "            enabled: true,"
    assert str(protocol).replace("true", "false") == before.replace("true", "false")


@pytest.mark.parametrize("value, type_name", [(pydrel.Coil.B1, "Coil"), (1, "int")])
def test_enable_channel_refuses_other_objects(protocol, value, type_name):
    with unchanged(protocol), pytest.raises(TypeError) as e:
        protocol.enable_channel(value)
    assert str(e.value) == f"argument 'channel': '{type_name}' object cannot be cast as 'Channel'"


def test_methods_refuse_a_foreign_receiver():
    with pytest.raises(TypeError) as e:
        pydrel.Protocol.set_session_duration(pydrel.Coil.A1, 1.0)
    assert "Protocol" in str(e.value)
    with pytest.raises(TypeError):
        pydrel.Protocol.get_num_samples(object())
