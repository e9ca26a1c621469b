import os
import pathlib

import pytest

import pydrel

NEW_PROTOCOL = (pathlib.Path(__file__).parent / "data" / "new_protocol.txt").read_text()


def test_new_protocol_text_is_exact():
    text = str(pydrel.Protocol())
    assert text == NEW_PROTOCOL
    assert len(text.splitlines()) == 104
    assert not text.endswith("\n")
    assert "        signals: []," in text.splitlines()


def test_str_does_not_change_the_protocol(protocol):
    assert str(protocol) == str(protocol)


@pytest.mark.parametrize(
    "value, on_target",
    [(None, False), (b"", True), (b"0", True), (b"false", True), (b"Stimulator \xc3\xa9", True), (b"\xff\xfe", False)],
)
def test_target_machine_variable(monkeypatch, value, on_target):
    if value is not None:
        monkeypatch.setitem(os.environb, b"DREL_TARGET_MACHINE", value)
    lines = str(pydrel.Protocol()).splitlines()
    assert lines[2] == f"        running_on_target_machine: {'true' if on_target else 'false'},"
    assert lines[:2] + lines[3:] == NEW_PROTOCOL.splitlines()[:2] + NEW_PROTOCOL.splitlines()[3:]


def test_variable_is_read_at_each_construction(monkeypatch):
    first = pydrel.Protocol()
    monkeypatch.setenv("DREL_TARGET_MACHINE", "1")
    second = pydrel.Protocol()
    assert "running_on_target_machine: false" in str(first)
    assert "running_on_target_machine: true" in str(second)


@pytest.mark.parametrize(
    "duration, text",
    [
        (60.0, "60.0"),
        (0.01, "0.01"),
        (1800.0, "1800.0"),
        (0.0123, "0.0123"),
        (123.456, "123.456"),
        (0.5 + 2**-17, "0.5000076293945312"),
        (1000 + 2**-14, "1000.0000610351562"),
        (1 / 3, "0.3333333333333333"),
    ],
)
def test_float_form_of_the_session_duration(protocol, duration, text):
    protocol.set_session_duration(duration)
    assert f"        session_duration: {text}," in str(protocol).splitlines()


@pytest.mark.parametrize(
    "intensity, text",
    [(0.3, "0.3"), (1e-5, "1e-5"), (2.5e-7, "2.5e-7"), (0.0001, "0.0001"), (-0.0, "-0.0"), (1.0, "1.0"), (5e-324, "5e-324")],
)
def test_float_form_of_the_intensity(protocol, intensity, text):
    protocol.set_stimulation_intensity(intensity)
    assert f"        intensity: {text}," in str(protocol).splitlines()
