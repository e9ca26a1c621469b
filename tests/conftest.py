import contextlib
import pathlib
import subprocess

import pytest

import pydrel

BUILD = pathlib.Path(pydrel.__file__).resolve().parent.parent
ROUNDTRIP = BUILD / "tests" / "roundtrip"


def pytest_configure(config):
    config.addinivalue_line("markers", "partial_files: the test leaves files that save() did not finish")


@pytest.fixture(autouse=True)
def _saved_files_read_back(request):
    """Every protocol file a test saved decodes and encodes again to the same bytes."""
    yield
    tmp_path = request.node.funcargs.get("tmp_path")
    if tmp_path is None or not ROUNDTRIP.exists() or request.node.get_closest_marker("partial_files"):
        return
    files = sorted(str(f) for f in pathlib.Path(tmp_path).rglob("*.drel") if f.is_file())
    if files:
        run = subprocess.run([str(ROUNDTRIP), *files], capture_output=True, text=True, check=True)
        assert run.stdout.splitlines() == ["same"] * len(files), dict(zip(files, run.stdout.splitlines()))


@pytest.fixture(autouse=True)
def _no_target_machine(monkeypatch):
    # Protocols made in the tests describe a workstation unless a test says otherwise.
    monkeypatch.delenv("DREL_TARGET_MACHINE", raising=False)


@pytest.fixture
def protocol():
    return pydrel.Protocol()


def panic_type():
    """The PanicException type, reached through a raised exception."""
    try:
        pydrel.Protocol().set_session_duration(0.0)
    except BaseException as e:  # noqa: B036 - PanicException derives from BaseException
        return type(e)
    raise AssertionError("no failed check")


@contextlib.contextmanager
def unchanged(p):
    """Asserts that the protocol's text form is the same afterwards and that it is still usable."""
    before = str(p)
    yield
    assert str(p) == before
    assert p.get_num_samples() >= 50
