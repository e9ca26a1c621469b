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
