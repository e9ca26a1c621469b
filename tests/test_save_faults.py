"""save() under failing and interrupted system calls.

The cases run in child processes: with a preloaded shim that makes open, write
and close fail on demand, with a FIFO and signals, or as an unprivileged user.
"""

import json
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import textwrap
import time

import pytest

import pydrel

# Failed saves leave partial files behind, as intended.
pytestmark = pytest.mark.partial_files

UNWRAP = "called `Result::unwrap()` on an `Err` value: "
SHIM = pathlib.Path(pydrel.__file__).resolve().parent.parent / "tests" / "syscall_faults.so"
# A table of 9000 sine entries makes a file of two stream buffers; one of
# 20000, three.
SIZES = {"small": 0, "two buffers": 9000, "three buffers": 20000}

CHILD = textwrap.dedent(
    """
    import ctypes, json, sys
    import pydrel

    path, rules, entries = sys.argv[1], sys.argv[2], int(sys.argv[3])
    shim = ctypes.CDLL(None)  # the preloaded shim's functions
    p = pydrel.Protocol()
    for _ in range(entries):
        p.add_sine_signal(1.0, 10.0)
    p.save(path + ".plain.drel")  # the bytes every successful save must write
    shim.pydrel_faults_configure(rules.encode())
    try:
        p.save(path)
        outcome = "ok"
    except BaseException as e:
        outcome = f"{type(e).__name__}: {e}"
    counts = (ctypes.c_int * 4)()
    shim.pydrel_faults_counts(counts)
    shim.pydrel_faults_configure(b"")
    p.save(path + ".after.drel")  # still usable
    print(json.dumps({"outcome": outcome, "counts": list(counts)}))
    """
)


def os_error(code, kind):
    return f'PanicException: {UNWRAP}Os {{ code: {code}, kind: {kind}, message: "{os.strerror(code)}" }}'


def preload(*libraries):
    return " ".join(filter(None, [os.environ.get("LD_PRELOAD", ""), *map(str, libraries)]))


def run_with_faults(tmp_path, rules, entries):
    path = tmp_path / "p.drel"
    env = dict(os.environ, LD_PRELOAD=preload(SHIM))
    run = subprocess.run([sys.executable, "-c", CHILD, str(path), rules, str(entries)], env=env,
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    result = json.loads(run.stdout)
    return path, result["outcome"], dict(zip(["opened", "closed", "writes", "interrupted"], result["counts"]))


# rules, size, outcome, and the file afterwards: None (none), 0 (empty), "part"
# (the buffers written before the failure) or "all"
FAULTS = {
    "open fails": ("open:errno=13", "small", os_error(13, "PermissionDenied"), None),
    "open interrupted 3 times": ("open:eintr=3", "small", "ok", "all"),
    "EIO": ("write:errno=5", "small", os_error(5, "Uncategorized"), 0),
    "EDQUOT": ("write:errno=122", "small", os_error(122, "QuotaExceeded"), 0),
    "EAGAIN": ("write:errno=11", "small", os_error(11, "WouldBlock"), 0),
    "unknown errno": ("write:errno=200", "small", os_error(200, "Uncategorized"), 0),
    "ENOSPC midway": ("write:errno=28:after=2", "three buffers", os_error(28, "StorageFull"), "part"),
    "write of 0 bytes": ("write:zero:after=1", "two buffers",
                         'PanicException: ' + UNWRAP + 'Error { kind: WriteZero, message: "failed to write whole buffer" }',
                         "part"),
    "1-byte writes": ("write:short", "two buffers", "ok", "all"),
    "write interrupted 5 times": ("write:eintr=5", "two buffers", "ok", "all"),
    "close fails with EIO": ("close:errno=5", "small", os_error(5, "Uncategorized"), "all"),
    "close fails with EDQUOT": ("close:errno=122", "two buffers", os_error(122, "QuotaExceeded"), "all"),
    "close interrupted": ("close:eintr=1", "small", "ok", "all"),
    "write and close fail": ("write:errno=5,close:errno=28", "small", os_error(5, "Uncategorized"), 0),
}


@pytest.mark.skipif(not SHIM.exists(), reason="the syscall shim is built with the C++ tests")
@pytest.mark.parametrize("rules, size, outcome, written", FAULTS.values(), ids=FAULTS.keys())
def test_system_call_faults(tmp_path, rules, size, outcome, written):
    path, got, counts = run_with_faults(tmp_path, rules, SIZES[size])
    assert got == outcome
    assert counts["opened"] == counts["closed"] == (0 if written is None else 1)
    plain = (tmp_path / "p.drel.plain.drel").read_bytes()
    assert (tmp_path / "p.drel.after.drel").read_bytes() == plain
    if written is None:
        assert not path.exists()
    elif written == "all":
        assert path.read_bytes() == plain
    elif written == "part":
        part = path.read_bytes()
        assert 0 < len(part) < len(plain) and plain.startswith(part)
    else:
        assert path.read_bytes() == b""
    if rules.startswith("write:short"):
        assert counts["writes"] == len(plain)
    assert counts["interrupted"] == (int(rules.split("eintr=")[1]) if "eintr=" in rules else 0)


NOTED = textwrap.dedent(
    """
    import ctypes, sys
    import pydrel

    shim = ctypes.CDLL(None)
    shim.pydrel_faults_configure(sys.argv[2].encode())
    try:
        pydrel.Protocol().save(sys.argv[1])
    except BaseException as e:
        print(e.__notes__[0])
    """
)


# The note names the operation that failed, and no other.
@pytest.mark.skipif(not SHIM.exists(), reason="the syscall shim is built with the C++ tests")
@pytest.mark.parametrize("rules, operation", [
    ("open:errno=13", "could not open"), ("write:errno=5", "could not write"), ("close:errno=5", "could not close"),
])
def test_the_note_names_the_failed_operation(tmp_path, rules, operation):
    path = tmp_path / "p.drel"
    run = subprocess.run([sys.executable, "-c", NOTED, str(path), rules], capture_output=True, text=True, timeout=60,
                         env=dict(os.environ, LD_PRELOAD=preload(SHIM)))
    note = run.stdout
    assert f"save() {operation} " in note, run.stderr
    assert [other for other in ("could not open", "could not write", "could not close") if other in note] == [operation]


def test_interrupted_writes_to_a_slow_reader_complete(tmp_path):
    # A 2 ms interval timer with a Python handler interrupts the writes to a
    # FIFO that another process drains slowly; every interruption runs the
    # handler, and the save goes on.
    fifo = tmp_path / "slow.drel"
    os.mkfifo(fifo)
    code = textwrap.dedent(
        """
        import signal, sys
        import pydrel
        fifo, plain = sys.argv[1], sys.argv[2]
        ticks = []
        signal.signal(signal.SIGALRM, lambda *_: ticks.append(1))
        p = pydrel.Protocol()
        for _ in range(9000):
            p.add_sine_signal(1.0, 10.0)
        p.save(plain)
        signal.setitimer(signal.ITIMER_REAL, 0.002, 0.002)
        p.save(fifo)
        signal.setitimer(signal.ITIMER_REAL, 0)
        print(len(ticks))
        """
    )
    reader = subprocess.Popen(
        [sys.executable, "-c", "import sys, time\nf = open(sys.argv[1], 'rb')\nout = bytearray()\n"
         "while chunk := f.read(4096):\n    out += chunk\n    time.sleep(0.0005)\nsys.stdout.buffer.write(out)",
         str(fifo)],
        stdout=subprocess.PIPE)
    run = subprocess.run([sys.executable, "-c", code, str(fifo), str(tmp_path / "plain.drel")],
                         capture_output=True, text=True, timeout=120)
    received, _ = reader.communicate(timeout=60)
    assert run.returncode == 0, run.stderr
    assert int(run.stdout) > 0  # the handler ran during the save
    assert received == (tmp_path / "plain.drel").read_bytes()


def test_ctrl_c_stops_a_save_blocked_on_a_fifo(tmp_path):
    fifo = tmp_path / "nobody.drel"
    os.mkfifo(fifo)
    code = textwrap.dedent(
        """
        import sys, time
        import pydrel
        p = pydrel.Protocol()
        p.add_constant_signal(0.5)
        print("saving", flush=True)
        start = time.monotonic()
        try:
            p.save(sys.argv[1])  # opening a FIFO for writing waits for a reader
        except KeyboardInterrupt:
            print("KeyboardInterrupt", time.monotonic() - start)
        print(p.add_constant_signal(1.0))
        """
    )
    # A shell that starts the tests in the background has them ignore SIGINT,
    # and Python then leaves it ignored: the child takes it back.
    child = subprocess.Popen([sys.executable, "-c", code, str(fifo)], stdout=subprocess.PIPE, text=True,
                             preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    try:
        assert child.stdout.readline() == "saving\n"
        time.sleep(0.2)
        child.send_signal(signal.SIGINT)
        out, _ = child.communicate(timeout=5)
    finally:
        child.kill()
    assert child.returncode == 0
    interrupted, index = out.split("\n")[:2]
    name, seconds = interrupted.split()
    assert name == "KeyboardInterrupt" and float(seconds) < 1.2
    assert index == "1"


def as_nobody():
    os.setgid(65534)
    os.setgroups([])
    os.setuid(65534)


@pytest.fixture
def open_tmp():
    """A directory that other users may enter (pytest's own is private)."""
    path = pathlib.Path(tempfile.mkdtemp(prefix="pydrel-"))
    path.chmod(0o755)
    yield path
    shutil.rmtree(path)


@pytest.mark.skipif(os.geteuid() != 0, reason="needs root to become another user")
@pytest.mark.parametrize("target", ["read-only file", "directory without write permission"])
def test_permission_denied_as_an_unprivileged_user(open_tmp, target):
    shared = open_tmp / "shared"
    shared.mkdir()
    if target == "read-only file":
        path = shared / "ro.drel"
        path.write_bytes(b"keep")
        path.chmod(0o444)
        shared.chmod(0o777)
    else:
        path = shared / "new.drel"
        shared.chmod(0o555)
    code = (
        "import sys, pydrel\n"
        "try:\n"
        "    pydrel.Protocol().save(sys.argv[1])\n"
        "except BaseException as e:\n"
        "    print(e)\n"
    )
    run = subprocess.run([sys.executable, "-c", code, str(path)], capture_output=True, text=True, timeout=60,
                         preexec_fn=as_nobody)
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == os_error(13, "PermissionDenied").removeprefix("PanicException: ")
    assert (path.read_bytes() == b"keep") if target == "read-only file" else not path.exists()
