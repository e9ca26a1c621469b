import subprocess
import sys

import pytest

import pydrel
from conftest import panic_type, unchanged


def test_failed_check_raises_panic_exception(protocol):
    with unchanged(protocol):
        try:
            protocol.set_session_duration(0.0)
        except Exception:  # noqa: BLE001
            pytest.fail("PanicException must not be an Exception")
        except BaseException as e:  # noqa: B036
            error = e
    cls = type(error)
    assert cls.__name__ == "PanicException"
    assert cls.__module__ == "pyo3_runtime"
    assert cls.__qualname__ == "PanicException"
    assert cls.__bases__ == (BaseException,)
    assert str(error) == "assertion failed: duration >= 0.01"
    assert error.args == ("assertion failed: duration >= 0.01",)
    assert not hasattr(pydrel, "PanicException")


def test_panic_exception_type_is_created_once():
    assert panic_type() is panic_type()


def test_panic_exception_documentation():
    doc = panic_type().__doc__
    assert doc.startswith("\n") and doc.endswith("\n")
    assert "BaseException" in doc


def test_failed_check_is_reported_on_stderr_in_one_line():
    code = (
        "import pydrel\n"
        "try:\n"
        "    pydrel.Protocol().set_stimulation_intensity(2.0)\n"
        "except BaseException as e:\n"
        "    print(type(e).__name__)\n"
    )
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert run.stdout == "PanicException\n"
    lines = run.stderr.splitlines()
    assert len(lines) == 1
    assert "panicked at pydrel/src/" in lines[0]
    assert lines[0].endswith("assertion failed: intensity >= 0.0 && intensity <= 1.0")


def test_uncaught_panic_ends_the_interpreter():
    run = subprocess.run(
        [sys.executable, "-c", "import pydrel; pydrel.Protocol().set_session_duration(5000.0)"],
        capture_output=True,
        text=True,
    )
    assert run.returncode == 1
    assert "pyo3_runtime.PanicException: assertion failed: duration <= config::MAX_SESSION_DURATION" in run.stderr
