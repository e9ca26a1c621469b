import numpy as np
import pytest

import pydrel
from conftest import unchanged

Coil, Channel = pydrel.Coil, pydrel.Channel

INTERNAL_0 = ["internal: 0,", "external: 0,", "external_selected: false,"]


def selections(protocol):
    """{(channel, source): [internal, external, flag]} read from the text form."""
    lines = [line.strip() for line in str(protocol).splitlines()]
    out = {}
    for channel in "ab":
        start = lines.index(f"channel_{channel}_settings: ChannelSettings {{")
        for source in ("amplitude1_source", "amplitude2_source", "modulation_source"):
            at = lines.index(f"{source}: SignalSourceSelection {{", start)
            out[(channel, source)] = lines[at + 1 : at + 4]
    return out


def expect(changed):
    want = {(c, s): INTERNAL_0 for c in "ab" for s in ("amplitude1_source", "amplitude2_source", "modulation_source")}
    want.update(changed)
    return want


@pytest.mark.parametrize(
    "call, key",
    [
        (lambda p: p.set_amplitude_source(Coil.A1, 2), ("a", "amplitude1_source")),
        (lambda p: p.set_amplitude_source(Coil.A2, 2), ("a", "amplitude2_source")),
        (lambda p: p.set_amplitude_source(Coil.B1, 2), ("b", "amplitude1_source")),
        (lambda p: p.set_amplitude_source(coil=Coil.B2, index=2, external=False), ("b", "amplitude2_source")),
        (lambda p: p.set_modulation_source(Channel.A, 2), ("a", "modulation_source")),
        (lambda p: p.set_modulation_source(Channel.B, index=2), ("b", "modulation_source")),
    ],
)
def test_each_target_writes_its_own_record(protocol, call, key):
    assert call(protocol) is None
    assert selections(protocol) == expect({key: ["internal: 2,", "external: 0,", "external_selected: false,"]})


def test_external_then_internal_resets_the_other_index(protocol):
    protocol.set_amplitude_source(Coil.B2, 3, True)
    assert selections(protocol)[("b", "amplitude2_source")] == ["internal: 0,", "external: 3,", "external_selected: true,"]
    protocol.set_amplitude_source(Coil.B2, 1)
    assert selections(protocol)[("b", "amplitude2_source")] == ["internal: 1,", "external: 0,", "external_selected: false,"]


@pytest.mark.parametrize("external", [True, np.True_, np.bool_(True)])
def test_external_accepts_python_and_numpy_booleans(protocol, external):
    protocol.set_modulation_source(Channel.B, 40, external=external)
    assert selections(protocol)[("b", "modulation_source")] == ["internal: 0,", "external: 40,", "external_selected: true,"]


def test_indices_are_not_checked(protocol):
    protocol.set_amplitude_source(Coil.A1, 99)
    protocol.set_amplitude_source(Coil.A2, 2**64 - 1, np.False_)
    protocol.set_amplitude_source(Coil.B1, True)
    s = selections(protocol)
    assert s[("a", "amplitude1_source")][0] == "internal: 99,"
    assert s[("a", "amplitude2_source")][0] == "internal: 18446744073709551615,"
    assert s[("b", "amplitude1_source")][0] == "internal: 1,"


def test_enabled_flags_are_untouched(protocol):
    before = str(protocol)
    protocol.set_modulation_source(Channel.B, 0, False)
    assert str(protocol) == before


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda p: p.set_amplitude_source(0, 1), TypeError, "argument 'coil': 'int' object cannot be cast as 'Coil'"),
        (lambda p: p.set_amplitude_source(Channel.A, 1), TypeError, "argument 'coil': 'Channel' object cannot be cast as 'Coil'"),
        (lambda p: p.set_modulation_source(Coil.A1, 1), TypeError, "argument 'channel': 'Coil' object cannot be cast as 'Channel'"),
        (lambda p: p.set_amplitude_source(Coil.A1, -1), OverflowError, "can't convert negative int to unsigned"),
        (lambda p: p.set_amplitude_source(Coil.A1, 2.0), TypeError, "argument 'index': 'float' object cannot be interpreted as an integer"),
        (lambda p: p.set_amplitude_source(Coil.A1, "1"), TypeError, "argument 'index': 'str' object cannot be interpreted as an integer"),
        (lambda p: p.set_amplitude_source(Coil.A1, 1, 1), TypeError, "argument 'external': 'int' object cannot be cast as 'bool'"),
        (lambda p: p.set_amplitude_source(Coil.A1, 0, external=None), TypeError, "argument 'external': 'NoneType' object cannot be cast as 'bool'"),
        (lambda p: p.set_modulation_source(Channel.A, 0, np.int64(1)), TypeError, "argument 'external': 'int64' object cannot be cast as 'bool'"),
        (lambda p: p.set_amplitude_source(Coil.A1, 0, False, 1), TypeError, "Protocol.set_amplitude_source() takes from 2 to 3 positional arguments but 4 were given"),
        (lambda p: p.set_modulation_source(Channel.A), TypeError, "Protocol.set_modulation_source() missing 1 required positional argument: 'index'"),
        (lambda p: p.set_modulation_source(index=1), TypeError, "Protocol.set_modulation_source() missing 1 required positional argument: 'channel'"),
    ],
)
def test_failures_leave_the_selection_unchanged(protocol, call, error, message):
    protocol.set_amplitude_source(Coil.A1, 5, True)
    with unchanged(protocol), pytest.raises(error) as e:
        call(protocol)
    assert type(e.value) is error
    assert str(e.value) == message


def test_numpy_bool_type_without_truth_slot_is_refused(protocol):
    fake = type("bool_", (), {"__module__": "numpy"})
    with pytest.raises(TypeError) as e:
        protocol.set_amplitude_source(Coil.A1, 0, fake())
    assert str(e.value) == "argument 'external': object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion"


def test_numpy_bool_truth_slot_error_is_remapped(protocol):
    def broken(self):
        raise TypeError("no truth")

    fake = type("bool", (), {"__module__": "numpy", "__bool__": broken})
    with pytest.raises(TypeError) as e:
        protocol.set_amplitude_source(Coil.A1, 0, fake())
    assert str(e.value) == "argument 'external': no truth"
