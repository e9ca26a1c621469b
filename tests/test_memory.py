"""Running out of memory raises MemoryError and leaves the protocol as it was."""

import os
import subprocess
import sys
import textwrap

import pytest

SCRIPT = textwrap.dedent(
    """
    import ctypes, os, resource, sys
    import numpy as np
    import pydrel

    p = pydrel.Protocol()
    p.set_session_duration(1800.0)
    waveform = np.full(9_000_000, 0.5)
    before = str(p)
    _, hard = resource.getrlimit(resource.RLIMIT_AS)

    # Free memory that the allocator keeps would serve what the limit is
    # meant to refuse: large blocks come from the system (GLIBC_TUNABLES,
    # below), and before each limit what the heap has free is taken up, a
    # small block at a time until the heap has to grow.
    libc = ctypes.CDLL(None)
    libc.malloc.restype = libc.sbrk.restype = ctypes.c_void_p
    libc.malloc.argtypes, libc.free.argtypes, libc.sbrk.argtypes = [ctypes.c_size_t], [ctypes.c_void_p], [ctypes.c_long]

    def take_up_the_heap():
        taken, top = [], libc.sbrk(0)
        while libc.sbrk(0) == top:
            taken.append(libc.malloc(16 << 10))
        return taken

    def low_memory(action, headroom=8 << 20):
        taken = take_up_the_heap()
        size = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (size + headroom, hard))
        try:
            action()
        except MemoryError:
            return "MemoryError"
        finally:
            resource.setrlimit(resource.RLIMIT_AS, (hard, hard))
            for block in taken:
                libc.free(block)
        return "no error"

    # Under QEMU's user-mode emulation the guest's memory lies in space the
    # emulator reserved up front: a limit on the address space limits nothing.
    if low_memory(lambda: bytearray(256 << 20)) == "no error":
        print("the address space is not limited here")
        sys.exit(0)

    # 18 MB of levels cannot be reserved.
    print(low_memory(lambda: p.add_arbitrary_signal(waveform)))
    print(str(p) == before)

    # With a full-length waveform stored, its text form no longer fits, and
    # save() cannot get the buffer it streams the file through.
    assert p.add_arbitrary_signal(waveform) == 0
    stored = p.get_num_samples()
    print(low_memory(lambda: str(p)))
    path = sys.argv[1]
    print(low_memory(lambda: p.save(path), headroom=64 << 10))
    print(os.path.exists(path))

    # Everything still works once memory is back.
    print(p.add_constant_signal(1.0), p.get_num_samples() == stored)
    p.save(path)
    print(os.path.getsize(path) > 18_000_000)
    """
)


@pytest.mark.skipif(
    os.environ.get("PYDREL_SANITIZED") == "1", reason="the sanitizers' operator new aborts instead of throwing"
)
def test_allocation_failures_raise_memory_error(tmp_path):
    path = str(tmp_path / "big.drel")
    env = {**os.environ, "GLIBC_TUNABLES": "glibc.malloc.mmap_threshold=65536"}
    run = subprocess.run([sys.executable, "-c", SCRIPT, path], capture_output=True, text=True, timeout=300, env=env)
    assert run.returncode == 0, run.stderr
    if run.stdout == "the address space is not limited here\n":
        pytest.skip("a limit on the address space limits nothing here (as under QEMU's emulation)")
    assert run.stdout.split("\n") == [
        "MemoryError",
        "True",
        "MemoryError",
        "MemoryError",
        "False",
        "1 True",
        "True",
        "",
    ]
