import errno
import os
import pathlib
import stat

import numpy as np
import pytest

import pydrel
from conftest import panic_type, unchanged
from drel_reader import read_settings

UNWRAP = "called `Result::unwrap()` on an `Err` value: "
SUFFIX_MESSAGE = 'assertion failed: filepath.ends_with(".drel")'

FACTORY_FILE = bytes.fromhex(
    "00"  # running_on_target_machine
    "0000000000005440"  # supply_voltage 80.0
    "02"  # num_coils
    "01"  # one coil
    "07" "44656661756c74"  # "Default"
    "0000000000c06240"  # inductance 150.0
    "9a9999999999b93f"  # max_current 0.1
    "0000000000004440"  # max_carrier_frequency 40.0
    "01"  # one LC setting
    "0000000000a07440"  # capacitance 330.0
    "efda9feeda9f3640"  # carrier_frequency
    "dd01"  # 221 ticks
    "01"  # bank 1
    "01" "0000000000a07440"  # capacitors
    "01" "0000000000a07440"  # possible_capacitances
    "06" "00" "00" "00" "01"  # inputs, smbus, sensors, safety checks
    "333333333333d33f"  # 0.3
    "000000000000e03f"  # 0.5
    "0000000000004440"  # 40.0
    "0000000000004440"  # 40.0
    "0000000000805140"  # 70.0
    "0000000000408040"  # 520.0
    "0000000000000000"  # intensity
    "0000000000004e40"  # session_duration 60.0
    "01" "00" "0000000000000000"  # one Constant 0.0
    "01" "000000" "000000" "000000" "00" "00"  # channel A
    "00" "000000" "000000" "000000" "00" "00"  # channel B
    "00000000000000000000000000000000"  # monitor_trace_visible
    "01"  # monitor_subsampling_factor
)


def os_error(code, kind):
    return f'{UNWRAP}Os {{ code: {code}, kind: {kind}, message: "{os.strerror(code)}" }}'


def test_factory_file_constant_is_201_bytes():
    assert len(FACTORY_FILE) == 201


def test_new_protocol_saved_at_once_writes_the_factory_file(protocol, tmp_path):
    path = tmp_path / "new.drel"
    assert protocol.save(str(path)) is None
    assert path.read_bytes() == FACTORY_FILE
    # The filled-in entry stays; the next signal gets index 1.
    assert "                ConstantSignalParams {" in str(protocol)
    assert protocol.add_sine_signal(1.0, 10.0) == 1


def test_target_machine_changes_the_first_byte(monkeypatch, tmp_path):
    monkeypatch.setenv("DREL_TARGET_MACHINE", "")
    path = tmp_path / "t.drel"
    pydrel.Protocol().save(str(path))
    assert path.read_bytes() == b"\x01" + FACTORY_FILE[1:]


def test_saved_file_holds_every_change(protocol, tmp_path):
    protocol.set_session_duration(0.01)
    protocol.set_stimulation_intensity(0.75)
    protocol.enable_channel(pydrel.Channel.B)
    protocol.add_constant_signal(-0.0)
    protocol.add_sine_signal(1.0, 10.0, phase=float("nan"))
    protocol.add_ramp_signal(0.5, 1e-3, 2.0)
    protocol.add_mixed_signal(0, 130)
    protocol.add_arbitrary_signal(np.linspace(0.0, 1.0, 50))
    protocol.set_amplitude_source(pydrel.Coil.A2, 4)
    protocol.set_amplitude_source(pydrel.Coil.B1, 5, True)
    protocol.set_modulation_source(pydrel.Channel.B, 300)
    path = tmp_path / "all.drel"
    protocol.save(str(path))

    s = read_settings(path.read_bytes())
    assert s["running_on_target_machine"] is False
    assert s["machine_config"]["coils"][0]["settings"][0]["clk_ticks_per_sample"] == 221
    assert (s["intensity"], s["session_duration"]) == (0.75, 0.01)
    kinds = [kind for kind, _ in s["signals"]]
    assert kinds == ["Constant", "Sine", "Ramp", "MixedSignal", "Arbitrary"]
    constant, sine, ramp, mixed, arbitrary = (params for _, params in s["signals"])
    assert str(constant["value"]) == "-0.0"
    assert sine["amplitude"] == 1.0 and sine["frequency"] == 10.0 and np.isnan(sine["phase"]) and sine["depth"] == 1.0
    assert ramp == {"peak": 0.5, "up_duration": 1e-3, "down_duration": 2.0}
    assert mixed == {"a_idx": 0, "b_idx": 130}
    assert arbitrary["samples"] == [int(np.floor(v * 32767.0 + 0.5)) for v in np.linspace(0.0, 1.0, 50)]
    a, b = s["channel_a_settings"], s["channel_b_settings"]
    assert a["enabled"] and b["enabled"]
    assert a["amplitude2_source"] == {"internal": 4, "external": 0, "external_selected": False}
    assert b["amplitude1_source"] == {"internal": 0, "external": 5, "external_selected": True}
    assert b["modulation_source"] == {"internal": 300, "external": 0, "external_selected": False}
    assert s["monitor_trace_visible"] == [False] * 16
    assert s["monitor_subsampling_factor"] == 1


def test_protocol_with_signals_keeps_exactly_those(protocol, tmp_path):
    protocol.add_sine_signal(1.0, 10.0)
    protocol.save(str(tmp_path / "s.drel"))
    s = read_settings((tmp_path / "s.drel").read_bytes())
    assert [kind for kind, _ in s["signals"]] == ["Sine"]
    assert protocol.add_constant_signal(0.0) == 1


def test_overwrites_a_longer_file_completely(protocol, tmp_path):
    path = tmp_path / "old.drel"
    path.write_bytes(b"x" * 5000)
    protocol.save(str(path))
    assert path.read_bytes() == FACTORY_FILE
    protocol.save(str(path))
    assert path.read_bytes() == FACTORY_FILE


def test_name_that_is_only_the_suffix(protocol, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    protocol.save(".drel")
    assert (tmp_path / ".drel").read_bytes() == FACTORY_FILE


@pytest.mark.parametrize("name", ["p.DREL", "p.drel ", "pdrel", "drel", "p.drel/", "", "p.dre"])
def test_wrong_suffix_touches_nothing(protocol, tmp_path, name):
    before = set(tmp_path.iterdir())
    with unchanged(protocol), pytest.raises(panic_type()) as e:
        protocol.save(f"{tmp_path}/{name}" if name else name)
    assert str(e.value) == SUFFIX_MESSAGE
    assert set(tmp_path.iterdir()) == before
    assert "        signals: []," in str(protocol)


@pytest.mark.parametrize(
    "value, type_name",
    [(b"p.drel", "bytes"), (pathlib.Path("p.drel"), "PosixPath"), (None, "NoneType"), (1, "int")],
)
def test_filepath_must_be_a_str(protocol, value, type_name):
    with unchanged(protocol), pytest.raises(TypeError) as e:
        protocol.save(value)
    assert str(e.value) == f"argument 'filepath': '{type_name}' object cannot be cast as 'str'"


def test_str_subclass_is_accepted(protocol, tmp_path):
    class Name(str):
        pass

    protocol.save(Name(tmp_path / "sub.drel"))
    assert (tmp_path / "sub.drel").read_bytes() == FACTORY_FILE


def test_unpaired_surrogate_raises_the_encoding_error(protocol, tmp_path):
    with unchanged(protocol), pytest.raises(UnicodeEncodeError):
        protocol.save(str(tmp_path) + "/\udc80.drel")
    assert list(tmp_path.iterdir()) == []


def test_save_argument_matching(protocol):
    with pytest.raises(TypeError) as e:
        protocol.save()
    assert str(e.value) == "Protocol.save() missing 1 required positional argument: 'filepath'"
    with pytest.raises(TypeError) as e:
        protocol.save("a.drel", path="b.drel")
    assert str(e.value) == "Protocol.save() got an unexpected keyword argument 'path'"


def assert_failed_save(protocol, path, message):
    protocol.add_constant_signal(0.25)
    with unchanged(protocol), pytest.raises(panic_type()) as e:
        protocol.save(path)
    assert str(e.value) == message


def test_missing_directory(protocol, tmp_path):
    assert_failed_save(protocol, str(tmp_path / "missing" / "p.drel"), os_error(errno.ENOENT, "NotFound"))
    assert str(errno.ENOENT) == "2" and os.strerror(errno.ENOENT) == "No such file or directory"


def test_directory_target(protocol, tmp_path):
    (tmp_path / "d.drel").mkdir()
    assert_failed_save(protocol, str(tmp_path / "d.drel"), os_error(errno.EISDIR, "IsADirectory"))


def test_not_a_directory(protocol, tmp_path):
    (tmp_path / "file").write_text("")
    assert_failed_save(protocol, str(tmp_path / "file" / "p.drel"), os_error(errno.ENOTDIR, "NotADirectory"))


def test_nul_byte_creates_nothing(protocol, tmp_path):
    message = f'{UNWRAP}Error {{ kind: InvalidInput, message: "file name contained an unexpected NUL byte" }}'
    assert_failed_save(protocol, str(tmp_path / "a\0b.drel"), message)
    assert list(tmp_path.iterdir()) == []


def test_storage_full_through_a_symlink(protocol, tmp_path):
    if not os.path.exists("/dev/full"):
        pytest.skip("no /dev/full")
    link = tmp_path / "full.drel"
    link.symlink_to("/dev/full")
    assert_failed_save(protocol, str(link), os_error(errno.ENOSPC, "StorageFull"))


def test_read_only_file_is_left_alone(protocol, tmp_path):
    if os.geteuid() == 0:
        pytest.skip("root may write any file")
    path = tmp_path / "ro.drel"
    path.write_bytes(b"keep")
    path.chmod(0o444)
    assert_failed_save(protocol, str(path), os_error(errno.EACCES, "PermissionDenied"))
    assert path.read_bytes() == b"keep"


def test_failed_save_after_filling_keeps_the_filled_table(protocol, tmp_path):
    with pytest.raises(panic_type()):
        protocol.save(str(tmp_path / "missing" / "p.drel"))
    assert protocol.add_constant_signal(1.0) == 1


@pytest.mark.parametrize("umask", [0o022, 0o077, 0o000])
def test_new_file_permissions_follow_the_umask(protocol, tmp_path, umask):
    old = os.umask(umask)
    try:
        protocol.save(str(tmp_path / "m.drel"))
    finally:
        os.umask(old)
    assert stat.S_IMODE((tmp_path / "m.drel").stat().st_mode) == 0o666 & ~umask


def test_existing_file_keeps_its_permissions(protocol, tmp_path):
    path = tmp_path / "keep.drel"
    path.write_bytes(b"")
    path.chmod(0o640)
    protocol.save(str(path))
    assert stat.S_IMODE(path.stat().st_mode) == 0o640
    assert path.read_bytes() == FACTORY_FILE


def test_relative_path_is_relative_to_the_working_directory(protocol, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    protocol.save("rel.drel")
    assert (tmp_path / "rel.drel").read_bytes() == FACTORY_FILE
