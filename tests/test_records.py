"""Hand-built drel records: one rule for str(), check() and to_protocol(), and
the package under hostile Python, lying files and other interpreters."""

import concurrent.futures
import dataclasses
import os
import pickle
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

import drel
import pydrel
from test_drel import DREL, drel as run_drel, saved, varint

R = dataclasses.replace
SANITIZED = os.environ.get("PYDREL_SANITIZED") == "1"


@pytest.fixture
def base(tmp_path):
    """A loaded protocol that to_protocol() composes: a 50-sample waveform, a sine, a mix of both."""
    p = pydrel.Protocol()
    p.set_session_duration(0.01)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, 50))
    p.add_sine_signal(1.0, 10.0)
    p.add_mixed_signal(0, 1)
    p.set_amplitude_source(pydrel.Coil.A1, 2)
    return drel.load(saved(p, tmp_path, "base.drel"))


def signal(i, **fields):
    return lambda s: R(s, signals=tuple(R(x, **fields) if j == i else x for j, x in enumerate(s.signals)))


def channel(name, **fields):
    return lambda s: R(s, **{name: R(getattr(s, name), **fields)})


def source(**fields):
    return lambda s: R(s, channel_a_settings=R(s.channel_a_settings,
                                                amplitude1_source=R(s.channel_a_settings.amplitude1_source, **fields)))


def coil_name(name):
    return lambda s: R(s, machine_config=R(s.machine_config, coils=(R(s.machine_config.coils[0], name=name),)))


LEVELS = np.arange(50)
LEVEL_RULE = "but a level is a 16-bit integer, from -32768 to 32767"


# Subclasses whose own fields and methods Python sees, and the native code
# would not: refused, so that no value reaches a file but the one Python shows.
@dataclasses.dataclass(frozen=True, slots=True)
class MySine(drel.Sine):
    depth: float = 1.0


class MyTuple(tuple):
    def __getitem__(self, i):
        return drel.Constant(0.5)


class MyStr(str):
    pass


class MyFloat(float):
    def __float__(self):
        return 0.75


class MyChannel(drel.ChannelSettings):
    __slots__ = ()


def misaligned(levels):
    return np.frombuffer(b"\0" + levels.astype(np.int16).tobytes(), np.int16, offset=1)

# A change to the base record -> None where it is taken (and composed
# exactly), else what str(), check() and to_protocol() all raise.
HAND_BUILT = {
    "a list of signals": (lambda s: R(s, signals=list(s.signals)), None),
    "a list of trace flags": (lambda s: R(s, monitor_trace_visible=[False] * 16), None),
    "an int intensity": (lambda s: R(s, intensity=0), None),
    "a NumPy float32 intensity": (lambda s: R(s, intensity=np.float32(0.25)), None),
    "a NumPy int index": (source(internal=np.int64(1)), None),
    **{f"an index of 0 as {t.__name__}": (source(internal=t(0)), None)
       for t in (np.int8, np.int16, np.int32, np.int64, np.uint8, np.uint16, np.uint32, np.uint64)},
    "an index of 2**64 - 1": (signal(2, b_idx=2**64 - 1), None),
    "an index of 2**64 - 1 as uint64": (signal(2, a_idx=np.uint64(2**64 - 1)), None),
    "a NumPy long double within doubles": (lambda s: R(s, intensity=np.longdouble(0.25)), None),
    "misaligned int16 levels": (signal(0, samples=misaligned(LEVELS)), None),
    "a NumPy bool": (channel("channel_b_settings", enabled=np.True_), None),
    "uint8 levels": (signal(0, samples=LEVELS.astype(np.uint8)), None),
    "byte-swapped levels": (signal(0, samples=LEVELS.astype(">i2")), None),
    "every other level": (signal(0, samples=np.repeat(LEVELS, 2).astype(np.int16)[::2]), None),
    "int64 levels": (signal(0, samples=LEVELS.astype(np.int64)), None),
    "51 levels, a session only just below 51 / 5000 s": (signal(0, samples=np.arange(51, dtype=np.int16)), None),
    "None among the signals": (lambda s: R(s, signals=(None, *s.signals)),
                               (TypeError, "signals[0] must be a drel.Signal, not 'NoneType'")),
    "a str among the signals": (lambda s: R(s, signals=(*s.signals, "Sine")),
                                (TypeError, "signals[3] must be a drel.Signal, not 'str'")),
    "an iterator of signals": (lambda s: R(s, signals=iter(s.signals)),
                               (TypeError, "signals must be a tuple or a list, not 'tuple_iterator'")),
    "enabled 'no'": (channel("channel_b_settings", enabled="no"),
                     (TypeError, "channel_b_settings.enabled must be a bool, not 'str'")),
    "enabled 0": (channel("channel_b_settings", enabled=0),
                  (TypeError, "channel_b_settings.enabled must be a bool, not 'int'")),
    "external_selected 'False'": (source(external_selected="False"), (
        TypeError, "channel_a_settings.amplitude1_source.external_selected must be a bool, not 'str'")),
    "external_selected 1": (source(external_selected=1), (
        TypeError, "channel_a_settings.amplitude1_source.external_selected must be a bool, not 'int'")),
    "a bool duration": (lambda s: R(s, session_duration=True),
                        (TypeError, "session_duration must be a float, not 'bool'")),
    "a str intensity": (lambda s: R(s, intensity="0.3"), (TypeError, "intensity must be a float, not 'str'")),
    "an intensity beyond floats": (lambda s: R(s, intensity=10**400),
                                   (OverflowError, "intensity is an int too large for a float")),
    "a NumPy long double beyond doubles": (lambda s: R(s, intensity=np.longdouble("1e400")),
                                           (OverflowError, "intensity is a number too large for a float")),
    "a negative NumPy long double beyond doubles": (signal(1, phase=-np.longdouble("1e4000")), (
        OverflowError, "signals[1].phase is a number too large for a float")),
    "a subclass of Sine": (lambda s: R(s, signals=(*s.signals[:1], MySine(1.0, 10.0, 0.0), *s.signals[2:])),
                           (TypeError, "signals[1] must be a drel.Signal, not 'MySine'")),
    "a subclass of tuple": (lambda s: R(s, signals=MyTuple(s.signals)),
                            (TypeError, "signals must be a tuple or a list, not 'MyTuple'")),
    "a subclass of str": (coil_name(MyStr("Default")),
                          (TypeError, "machine_config.coils[0].name must be a str, not 'MyStr'")),
    "a subclass of float": (lambda s: R(s, intensity=MyFloat(0.5)),
                            (TypeError, "intensity must be a float, not 'MyFloat'")),
    "a subclass of ChannelSettings": (lambda s: R(s, channel_a_settings=MyChannel(*(
        getattr(s.channel_a_settings, f.name) for f in dataclasses.fields(drel.ChannelSettings)))),
        (TypeError, "channel_a_settings must be a drel.ChannelSettings, not 'MyChannel'")),
    "a bool subsampling factor": (lambda s: R(s, monitor_subsampling_factor=True),
                                  (TypeError, "monitor_subsampling_factor must be an int, not 'bool'")),
    "a float index": (source(internal=2.0),
                      (TypeError, "channel_a_settings.amplitude1_source.internal must be an int, not 'float'")),
    "a mix index of -1": (signal(2, a_idx=-1), (ValueError, "signals[2].a_idx must be from 0 to 2**64 - 1, not -1")),
    "a mix index of 2**64": (signal(2, b_idx=2**64), (
        ValueError, "signals[2].b_idx must be from 0 to 2**64 - 1, not 18446744073709551616")),
    "15 trace flags": (lambda s: R(s, monitor_trace_visible=(False,) * 15),
                       (ValueError, "monitor_trace_visible must hold 16 items, not 15")),
    "a record of another class": (lambda s: R(s, channel_a_settings=s.channel_a_settings.modulation_source), (
        TypeError, "channel_a_settings must be a drel.ChannelSettings, not 'SignalSourceSelection'")),
    "a lone surrogate in a name": (coil_name("coil \ud800"), (
        ValueError, "machine_config.coils[0].name must be text that UTF-8 can encode: 'utf-8' codec can't encode "
                    "character '\\ud800' in position 5: surrogates not allowed")),
    "float levels": (signal(0, samples=np.linspace(0.0, 1.0, 50)),
                     (TypeError, "signals[0].samples must be a NumPy array of integers, not of float64")),
    "levels holding NaN": (signal(0, samples=np.full(50, np.nan)),
                           (TypeError, "signals[0].samples must be a NumPy array of integers, not of float64")),
    "a list of levels": (signal(0, samples=list(range(50))),
                         (TypeError, "signals[0].samples must be a NumPy array of integers, not 'list'")),
    "2-D levels": (signal(0, samples=np.zeros((5, 10), np.int16)), (
        ValueError, "signals[0].samples must be a one-dimensional array, not 2-dimensional")),
    "an int32 level of 40000": (signal(0, samples=np.where(LEVELS == 7, 40000, LEVELS).astype(np.int32)),
                                (ValueError, f"signals[0].samples[7] is 40000, {LEVEL_RULE}")),
    "a uint16 level of 65535": (signal(0, samples=np.where(LEVELS == 49, 65535, LEVELS).astype(np.uint16)),
                                (ValueError, f"signals[0].samples[49] is 65535, {LEVEL_RULE}")),
    "an int64 level of -32769": (signal(0, samples=np.where(LEVELS == 0, -32769, LEVELS).astype(np.int64)),
                                 (ValueError, f"signals[0].samples[0] is -32769, {LEVEL_RULE}")),
}


def outcomes(record):
    """What str(), check() and to_protocol() make of the record."""
    for operation in (str, drel.Settings.check, drel.Settings.to_protocol):
        try:
            yield operation(record)
        except BaseException as e:  # noqa: B036 - a PanicException would be a fault here
            yield e


@pytest.mark.parametrize("change, refused", HAND_BUILT.values(), ids=HAND_BUILT.keys())
def test_hand_built_records_are_taken_alike(tmp_path, base, change, refused):
    record = change(base)
    text, findings, protocol = outcomes(record)
    if refused is None:
        assert isinstance(text, str) and isinstance(findings, list), (text, findings)
        assert isinstance(protocol, pydrel.Protocol), protocol
        # Composed exactly: the file it saves loads back as the record shows.
        assert str(drel.load(saved(protocol, tmp_path))) == text
        return
    for outcome in (text, findings, protocol):
        assert type(outcome) is refused[0] and str(outcome) == refused[1], outcome


def test_a_loaded_waveform_byte_swapped_in_place(base):
    """NumPy lets the dtype of a loaded (read-only) array change in place:
    the levels are then what the array shows, for str() and to_protocol()."""
    base.signals[0].samples.dtype = ">i2"
    shown = int(base.signals[0].samples[1])
    assert shown == -25342 and f" {shown},\n" in str(base)
    with pytest.raises(drel.NotComposable, match=f"signals\\[0\\].samples\\[1\\] is {shown}, but"):
        base.to_protocol()


def run_python(code, env=None, timeout=120):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          timeout=timeout, env={**os.environ, **(env or {})})


def test_array_hook_that_empties_the_record(tmp_path):
    # NumPy runs an ndarray subclass's __array_finalize__ when it copies such
    # an array; this one drops the signals of the record being walked.
    p = pydrel.Protocol()
    p.set_session_duration(0.01)
    p.add_arbitrary_signal(np.arange(50) / 32767.0)  # levels 0 to 49
    path = saved(p, tmp_path)
    run = run_python(f"""
        import dataclasses, numpy as np, drel
        class Hook(np.ndarray):
            def __array_finalize__(self, obj):
                for record in victim:
                    object.__setattr__(record, "signals", ())
                victim.clear()
        victim = []
        s = drel.load({str(path)!r})
        for levels in (s.signals[0].samples.astype(np.uint8), s.signals[0].samples.astype(">i2"),
                       np.repeat(s.signals[0].samples, 2)[::2]):
            record = dataclasses.replace(s, signals=(drel.Arbitrary(levels.view(Hook)),))
            del levels
            victim[:] = [record]
            text = str(record)
            victim[:] = [record]
            findings = record.check()
            assert (text, findings) == (str(s), s.check())
        print("walked")
        """, env={} if SANITIZED else {"PYTHONMALLOC": "debug"})  # the sanitizers see every access
    assert (run.returncode, run.stdout, run.stderr) == (0, "walked\n", "")


def lying_file(tmp_path):
    """A 100 MB sparse file of 10 KB: its signal count claims 40,000,000, and
    the 1101st signal has variant 9."""
    new = saved(pydrel.Protocol(), tmp_path, "new.drel").read_bytes()
    path = tmp_path / "lying.drel"
    with open(path, "wb") as f:
        f.write(new[:150] + varint(40_000_000) + b"\x03\x00\x00" * 1100 + b"\x09" + bytes(6000))
        f.truncate(100_000_000)
    return path


LYING = "a damaged protocol file: signal variant 9 (expected 0 to 4) at byte 3454 in signals[1100]"
# Reading the file may take what it needs, but not what its count claims
# (1.6 GB of signals): an allocation limit under the sanitizers, whose
# shadow memory an address-space limit would not leave room for.
LIMITED = textwrap.dedent("""
    import resource
    size = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
    resource.setrlimit(resource.RLIMIT_AS, (size + (400 << 20), resource.RLIM_INFINITY))
""")


@pytest.mark.partial_files
@pytest.mark.parametrize("how", ["drel check", "drel.load"])
def test_a_lying_count_costs_little(tmp_path, how):
    path = lying_file(tmp_path)
    env = {"ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") + ":max_allocation_size_mb=300:"
                                                               "allocator_may_return_null=1"} if SANITIZED else {}
    limit = "import subprocess, sys\n" + ("" if SANITIZED else LIMITED)
    if how == "drel check":
        run = run_python(limit + f"sys.exit(subprocess.run([{str(DREL)!r}, 'check', {str(path)!r}]).returncode)",
                         env=env)
        assert (run.returncode, run.stderr) == (2, f"{path}: {LYING}\n")
    else:
        run = run_python(limit + textwrap.dedent(f"""
            import drel
            try:
                drel.load({str(path)!r})
            except drel.DecodeError as e:
                print(e.offset, e.path, e)
            """), env=env)
        assert run.stdout == f"3454 signals[1100] {LYING}\n", run.stderr


@pytest.mark.partial_files
def test_decode_errors_pickle_and_cross_process_pools(tmp_path):
    path = tmp_path / "cut.drel"
    path.write_bytes(saved(pydrel.Protocol(), tmp_path).read_bytes()[:177])
    with pytest.raises(drel.DecodeError) as raised:
        drel.load(path)
    again = pickle.loads(pickle.dumps(raised.value))
    assert (type(again), str(again), again.offset, again.path) == (
        drel.DecodeError, str(raised.value), 177, "channel_b_settings.amplitude2_source.external")
    with concurrent.futures.ProcessPoolExecutor(1) as pool:
        with pytest.raises(drel.DecodeError) as from_worker:
            pool.submit(drel.load, path).result()
        assert (from_worker.value.offset, str(from_worker.value)) == (177, str(raised.value))
        assert pool.submit(drel.load, tmp_path / "p.drel").result() == drel.load(tmp_path / "p.drel")


def test_a_subinterpreter_cannot_rebind_the_classes(tmp_path):
    _interpreters = pytest.importorskip("_interpreters")
    path = saved(pydrel.Protocol(), tmp_path)
    interp = _interpreters.create(_interpreters.new_config("legacy"))
    try:
        error = _interpreters.run_string(interp, "import drel")
        assert error.type.__name__ == "ImportError"
        assert error.msg == ("drel does not support subinterpreters: it can be imported in one interpreter per "
                             "process only")
    finally:
        _interpreters.destroy(interp)
    assert drel.load(path).intensity == 0.0


def test_a_slow_fifo_lets_other_threads_run(tmp_path):
    # The feeder writes a protocol in ten pieces over a second; a thread that
    # ticks meanwhile must not stall behind the reading one.
    data = saved(pydrel.Protocol(), tmp_path).read_bytes()
    fifo = tmp_path / "slow"
    os.mkfifo(fifo)
    feeder = subprocess.Popen([sys.executable, "-c", textwrap.dedent(f"""
        import sys, time
        data = {data!r}
        with open({str(fifo)!r}, "wb", buffering=0) as f:
            for i in range(0, len(data), 21):
                time.sleep(0.1)
                f.write(data[i:i + 21])
        """)])
    ticks, done = [], threading.Event()

    def tick():
        while not done.is_set():
            ticks.append(1)
            time.sleep(0.005)

    ticker = threading.Thread(target=tick)
    ticker.start()
    try:
        settings = drel.load(fifo)
    finally:
        done.set()
        ticker.join()
        feeder.wait(timeout=60)
    assert str(settings) == str(drel.loads(data))
    assert len(ticks) >= 50  # of about 200 in the second the feeder takes


@pytest.mark.parametrize("handler_raises", [False, True])
def test_signals_during_a_load_from_a_fifo(tmp_path, handler_raises):
    """Reads that a signal interrupts (EINTR) run the Python handlers and go
    on; a handler that raises ends the load with its exception."""
    data = saved(pydrel.Protocol(), tmp_path).read_bytes()
    fifo = tmp_path / "slow"
    os.mkfifo(fifo)
    code = textwrap.dedent(f"""
        import signal, sys, threading, time
        import drel
        calls = []
        def handler(signum, frame):
            calls.append(signum)
            if {handler_raises!r} and len(calls) == 5:
                raise KeyboardInterrupt
        signal.signal(signal.SIGALRM, handler)
        signal.setitimer(signal.ITIMER_REAL, 0.01, 0.01)  # while the open and the reads wait
        try:
            settings = drel.load({str(fifo)!r})
            print("loaded", len(calls) > 10, str(settings) == str(drel.loads({data!r})))
        except KeyboardInterrupt:
            print("interrupted", len(calls))
        """)
    loader = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True)
    try:
        time.sleep(0.3)
        # Opened without waiting: the loader may have ended before it reads.
        fd = -1
        while fd < 0 and loader.poll() is None:
            try:
                fd = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
            except OSError:
                time.sleep(0.01)
        if fd >= 0:
            os.set_blocking(fd, True)
            with open(fd, "wb", buffering=0) as f:
                for i in range(0, len(data), 67):
                    time.sleep(0.1)
                    try:
                        f.write(data[i:i + 67])
                    except BrokenPipeError:  # the loader stopped reading
                        break
        out, _ = loader.communicate(timeout=60)
    finally:
        loader.kill()
    assert out.split() == (["interrupted", "5"] if handler_raises else ["loaded", "True", "True"])


def test_a_file_that_reports_no_size_is_read_as_a_pipe(tmp_path, monkeypatch):
    # Files of /proc say they are empty: /proc/PID/cmdline of a process whose
    # arguments are the pieces of a protocol file between its zero bytes holds
    # the file and one zero byte more. (Composed on the stimulator, the file
    # starts with 01: an argument list cannot start with an empty one.)
    monkeypatch.setenv("DREL_TARGET_MACHINE", "")
    data = saved(pydrel.Protocol(), tmp_path).read_bytes()
    holder = subprocess.Popen(data.split(b"\x00"), executable="/usr/bin/yes", stdout=subprocess.DEVNULL)
    try:
        cmdline = f"/proc/{holder.pid}/cmdline"
        deadline = time.monotonic() + 30
        while open(cmdline, "rb").read() != data + b"\x00" and time.monotonic() < deadline:
            time.sleep(0.01)
        if open(cmdline, "rb").read() != data + b"\x00" and open(cmdline, "rb").read().startswith(b"/usr/libexec/qemu"):
            pytest.skip("under QEMU's emulation, /proc shows the emulator's command line, not the program's")
        assert os.stat(cmdline).st_size == 0
        trailing = "a damaged protocol file: 1 byte after the last field, monitor_subsampling_factor, at byte 201"
        assert run_drel("check", cmdline).stderr.decode() == f"{cmdline}: {trailing}\n"
        with pytest.raises(drel.DecodeError, match=trailing):
            drel.load(cmdline)
    finally:
        holder.kill()
        holder.wait()


def test_binding_takes_only_slots_of_each_class_itself(tmp_path):
    # A member descriptor of another class would read and write the wrong
    # objects' memory: refused, and the classes bound before stay.
    classes = {cls.__name__: cls for cls in (drel.Settings, drel.MachineConfig, drel.Coil, drel.LCSetting,
                                             drel.ChannelSettings, drel.SignalSourceSelection, drel.Constant,
                                             drel.Sine, drel.Ramp, drel.MixedSignal, drel.Arbitrary)}
    forged = type("Sine", (), {"__slots__": (), **{f: drel.Settings.__dict__[g] for f, g in zip(
        ("amplitude", "frequency", "phase", "depth"), ("intensity", "session_duration", "signals", "machine_config"))}})
    with pytest.raises(TypeError, match="^Sine has no slot of its own for the field amplitude$"):
        drel._native.bind({**classes, "Sine": forged}, drel.DecodeError, drel.JSONError, drel.NotComposable)
    with pytest.raises(TypeError, match="^the record Ramp has no class$"):
        drel._native.bind({k: v for k, v in classes.items() if k != "Ramp"}, drel.DecodeError, drel.JSONError,
                          drel.NotComposable)
    p = pydrel.Protocol()
    assert str(drel.load(saved(p, tmp_path))) == str(p)
