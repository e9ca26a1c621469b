import contextlib

import pytest

import pydrel


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
