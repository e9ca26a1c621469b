"""The module's objects over its lifetime: re-imports, failure paths, and a
NumPy whose C interface fails its checks."""

import importlib
import subprocess
import sys
import textwrap

import numpy as np

import pydrel
from conftest import panic_type


class Raises:
    def __float__(self):
        raise ValueError("no float")

    def __index__(self):
        raise ValueError("no index")


def failing_calls(p):
    """Calls that fail at every step of the call sequence, each way once."""
    return [
        lambda: p.set_session_duration(),  # matching
        lambda: p.add_sine_signal(1.0, 2.0, 3.0, 4.0, 5.0),
        lambda: p.add_constant_signal(val=1.0),
        lambda: pydrel.Protocol.set_session_duration(pydrel.Coil.A1, 1.0),  # receiver
        lambda: p.set_session_duration(Raises()),  # conversions
        lambda: p.set_session_duration("x"),
        lambda: p.enable_channel(pydrel.Coil.A1),
        lambda: p.set_amplitude_source(pydrel.Coil.A1, -1),
        lambda: p.set_amplitude_source(pydrel.Coil.A1, Raises()),
        lambda: p.set_amplitude_source(pydrel.Coil.A1, 0, 1),
        lambda: p.add_arbitrary_signal([0.5] * 50),
        lambda: p.save(b"x.drel"),
        lambda: p.set_session_duration(0.0),  # failed checks
        lambda: p.add_arbitrary_signal(np.full(50, 2.0)),
        lambda: p.save("x.txt"),
        lambda: p.save("/nonexistent/dir/x.drel"),
        lambda: p.set_session_duration(BorrowsAgain(p)),  # borrows
    ]


class BorrowsAgain:
    def __init__(self, p):
        self.p = p

    def __float__(self):
        return float(self.p.get_num_samples())


def test_reference_counts_hold_over_imports_and_failures():
    members = [pydrel.Coil.A1, pydrel.Coil.A2, pydrel.Coil.B1, pydrel.Coil.B2, pydrel.Channel.A, pydrel.Channel.B]
    watched = [pydrel, pydrel.Protocol, pydrel.Coil, pydrel.Channel, panic_type(), *members]
    p = pydrel.Protocol()
    p.set_session_duration(0.01)
    calls = failing_calls(p)

    def one_round():
        del sys.modules["pydrel"]
        assert importlib.import_module("pydrel") is pydrel
        for call in calls:
            try:
                call()
            except BaseException:  # noqa: B036 - PanicException derives from BaseException
                pass
            else:
                raise AssertionError("the call should have failed")

    # Counts are compared with themselves over rounds, not with a number:
    # whether getrefcount's own argument counts differs between interpreters
    # (3.14 lends its locals to calls without a new reference, 3.13 does not).
    one_round()  # caches warm
    before = [sys.getrefcount(o) for o in watched + [p]]
    for _ in range(50):
        one_round()
    assert [sys.getrefcount(o) for o in watched + [p]] == before


def test_numpy_interface_that_fails_its_checks_fails_every_call():
    # NumPy's importer keeps the table pointer of an interface whose ABI check
    # failed; a second call must not take that for success.
    code = textwrap.dedent(
        """
        import ctypes, sys, types
        import pydrel

        version = ctypes.CFUNCTYPE(ctypes.c_uint)(lambda: 0x7FFFFFFF)
        table = (ctypes.c_void_p * 512)()
        table[0] = ctypes.cast(version, ctypes.c_void_p)
        new_capsule = ctypes.pythonapi.PyCapsule_New
        new_capsule.restype = ctypes.py_object
        new_capsule.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
        for name in ("numpy", "numpy._core", "numpy._core._multiarray_umath"):
            sys.modules[name] = types.ModuleType(name)
        sys.modules["numpy._core._multiarray_umath"]._ARRAY_API = new_capsule(ctypes.addressof(table), None, None)

        p = pydrel.Protocol()
        p.set_session_duration(0.01)
        for _ in range(3):
            try:
                p.add_arbitrary_signal([0.5] * 50)
            except BaseException as e:
                print(f"{type(e).__name__}: {e}")
        print(p.add_constant_signal(1.0))
        """
    )
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    *errors, index = run.stdout.splitlines()
    assert len(errors) == 3 and len(set(errors)) == 1
    assert errors[0].startswith("RuntimeError: module compiled against ABI version")
    assert errors[0].endswith("but this version of numpy is 0x7fffffff")
    assert index == "0"
