import pytest

import pydrel
from conftest import unchanged


class CallsBack:
    def __init__(self, action):
        self.action = action

    def __float__(self):
        self.action()
        return 30.0


@pytest.mark.parametrize(
    "nested, message",
    [
        (str, "Already mutably borrowed"),
        (lambda p: p.get_sampling_rate(), "Already mutably borrowed"),
        (lambda p: p.get_num_samples(), "Already borrowed"),
        (lambda p: p.set_stimulation_intensity(0.5), "Already borrowed"),
        (lambda p: p.enable_channel(pydrel.Channel.B), "Already borrowed"),
    ],
)
def test_nested_call_through_float_conversion_is_refused(protocol, nested, message):
    with unchanged(protocol), pytest.raises(RuntimeError) as e:
        protocol.set_session_duration(CallsBack(lambda: nested(protocol)))
    assert str(e.value) == message


def test_nested_call_on_another_protocol_is_allowed(protocol):
    other = pydrel.Protocol()
    protocol.set_session_duration(CallsBack(lambda: other.set_session_duration(10.0)))
    assert protocol.get_num_samples() == 150000
    assert other.get_num_samples() == 50000


def test_members_stay_usable_while_borrowed_by_a_call(protocol):
    seen = []
    protocol.set_session_duration(CallsBack(lambda: seen.append((repr(pydrel.Channel.B), int(pydrel.Channel.B)))))
    assert seen == [("Channel.B", 1)]


def test_borrow_is_released_after_failures(protocol):
    for bad in (0.0, "x", CallsBack(lambda: str(protocol))):
        with pytest.raises(BaseException):  # noqa: B017 - every kind of failure on purpose
            protocol.set_session_duration(bad)
    protocol.set_session_duration(20.0)
    assert protocol.get_num_samples() == 100000
