import pytest

import pydrel
from conftest import unchanged

Coil, Channel = pydrel.Coil, pydrel.Channel


class Floaty:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class Indexy:
    def __index__(self):
        return 7


class Boom(Exception):
    pass


class RaisesTypeErrorWithCause:
    def __float__(self):
        try:
            raise KeyError("root")
        except KeyError as root:
            raise TypeError("bad float") from root


class RaisesOther:
    def __float__(self):
        raise Boom("from __float__")


MATCHING = [
    ("set_session_duration", (), {}, "Protocol.set_session_duration() missing 1 required positional argument: 'duration'"),
    ("set_session_duration", (30.0, 40.0), {}, "Protocol.set_session_duration() takes 1 positional arguments but 2 were given"),
    ("set_session_duration", (), {"time": 30.0}, "Protocol.set_session_duration() got an unexpected keyword argument 'time'"),
    ("set_session_duration", (1.0,), {"duration": 2.0}, "Protocol.set_session_duration() got multiple values for argument 'duration'"),
    ("set_stimulation_intensity", (), {"x": 1.0, "intensity": 0.5}, "Protocol.set_stimulation_intensity() got an unexpected keyword argument 'x'"),
    ("enable_channel", (), {}, "Protocol.enable_channel() missing 1 required positional argument: 'channel'"),
    ("enable_channel", (Channel.A, Channel.B, Channel.A), {}, "Protocol.enable_channel() takes 1 positional arguments but 3 were given"),
    ("add_ramp_signal", (), {}, "Protocol.add_ramp_signal() missing 3 required positional arguments: 'peak', 'up_duration', and 'down_duration'"),
    ("add_ramp_signal", (), {"up_duration": 1.0}, "Protocol.add_ramp_signal() missing 2 required positional arguments: 'peak' and 'down_duration'"),
    ("add_sine_signal", (), {"phase": 1.0}, "Protocol.add_sine_signal() missing 2 required positional arguments: 'amplitude' and 'frequency'"),
    ("add_sine_signal", (1.0, 2.0, 3.0, 4.0, 5.0), {}, "Protocol.add_sine_signal() takes from 2 to 4 positional arguments but 5 were given"),
    ("add_sine_signal", (1.0, 2.0), {"amplitude": 3.0}, "Protocol.add_sine_signal() got multiple values for argument 'amplitude'"),
    ("add_mixed_signal", (0,), {}, "Protocol.add_mixed_signal() missing 1 required positional argument: 'b_idx'"),
    ("add_mixed_signal", (), {"b_idx": 1}, "Protocol.add_mixed_signal() missing 1 required positional argument: 'a_idx'"),
    ("add_constant_signal", (1.0,), {"value": 2.0}, "Protocol.add_constant_signal() got multiple values for argument 'value'"),
    ("add_constant_signal", (), {"val": 1.0}, "Protocol.add_constant_signal() got an unexpected keyword argument 'val'"),
    ("set_amplitude_source", (Coil.A1, 0, False, 1), {}, "Protocol.set_amplitude_source() takes from 2 to 3 positional arguments but 4 were given"),
    ("set_amplitude_source", (Coil.A1,), {"external": True, "idx": 1}, "Protocol.set_amplitude_source() got an unexpected keyword argument 'idx'"),
    ("add_arbitrary_signal", (), {}, "Protocol.add_arbitrary_signal() missing 1 required positional argument: 'samples'"),
    ("save", ("a.drel", "b.drel"), {}, "Protocol.save() takes 1 positional arguments but 2 were given"),
]


@pytest.mark.parametrize("method, args, kwargs, message", MATCHING)
def test_argument_matching(protocol, method, args, kwargs, message):
    with unchanged(protocol), pytest.raises(TypeError) as e:
        getattr(protocol, method)(*args, **kwargs)
    assert str(e.value) == message


@pytest.mark.parametrize("method", ["get_num_samples", "get_sampling_rate"])
def test_methods_without_parameters_refuse_arguments(protocol, method):
    with pytest.raises(TypeError, match="takes no arguments"):
        getattr(protocol, method)(1)


@pytest.mark.parametrize(
    "value, expected",
    [(10, "10.0"), (True, "1.0"), (Floaty(12.5), "12.5"), (Indexy(), "7.0"), (float("15.25"), "15.25")],
)
def test_float_rule_accepts(protocol, value, expected):
    protocol.set_session_duration(value)
    assert f"        session_duration: {expected}," in str(protocol).splitlines()


@pytest.mark.parametrize(
    "value, error, message",
    [
        ("10", TypeError, "argument 'duration': must be real number, not str"),
        (None, TypeError, "argument 'duration': must be real number, not NoneType"),
        (10**400, OverflowError, "int too large to convert to float"),
        (RaisesOther(), Boom, "from __float__"),
    ],
)
def test_float_rule_refuses(protocol, value, error, message):
    with unchanged(protocol), pytest.raises(error) as e:
        protocol.set_session_duration(value)
    assert type(e.value) is error
    assert str(e.value) == message


def test_remapped_type_error_keeps_the_cause(protocol):
    with pytest.raises(TypeError) as e:
        protocol.set_session_duration(RaisesTypeErrorWithCause())
    assert str(e.value) == "argument 'duration': bad float"
    assert isinstance(e.value.__cause__, KeyError)


def test_type_error_subclass_is_not_remapped(protocol):
    class MyTypeError(TypeError):
        pass

    class Raiser:
        def __float__(self):
            raise MyTypeError("mine")

    with pytest.raises(MyTypeError) as e:
        protocol.set_session_duration(Raiser())
    assert str(e.value) == "mine"


@pytest.mark.parametrize(
    "value, type_name",
    [(1, "int"), (Coil.B1, "Coil"), ("A", "str"), (None, "NoneType"), (Floaty, "type"), (Floaty(1), "Floaty")],
)
def test_class_instance_rule(protocol, value, type_name):
    with unchanged(protocol), pytest.raises(TypeError) as e:
        protocol.enable_channel(value)
    assert str(e.value) == f"argument 'channel': '{type_name}' object cannot be cast as 'Channel'"


def test_keywords_that_are_not_valid_utf8_name_no_parameter(protocol):
    with pytest.raises(TypeError) as e:
        protocol.set_session_duration(**{"\udc80": 1.0})
    assert str(e.value) == "Protocol.set_session_duration() got an unexpected keyword argument '\udc80'"


@pytest.mark.parametrize("index, stored", [(True, 1), (Indexy(), 7), (2**64 - 1, 2**64 - 1)])
def test_unsigned_rule_accepts(protocol, index, stored):
    protocol.add_mixed_signal(index, 0)
    assert f"                    a_idx: {stored}," in str(protocol).splitlines()


def test_keyword_arguments(protocol):
    protocol.set_session_duration(duration=30.0)
    protocol.set_stimulation_intensity(intensity=0.25)
    protocol.enable_channel(channel=Channel.B)
    assert protocol.get_num_samples() == 150000
    assert "        intensity: 0.25," in str(protocol)
