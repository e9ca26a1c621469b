"""Times pydrel's hot paths against lower bounds measured in the same run.

    ./dev bench            the table
    ./dev bench --json     the same as JSON
    ./dev bench --quick    smaller sizes and fewer repetitions, for a smoke run

Every path runs interleaved with its bound (the order alternates between
repetitions) and the median of the repetitions is compared, so that a busy
machine slows both alike. Peak memory is measured in a fresh interpreter per
path: the growth of VmHWM over the operation, against what its result needs.
"""

import argparse
import gc
import json
import math
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import pydrel

perf_ns = time.perf_counter_ns
SAMPLING_RATE = 5000
OPEN_FLAGS = os.O_WRONLY | os.O_CREAT | os.O_TRUNC | os.O_CLOEXEC

FULL = dict(waveform_seconds=1800.0, text_seconds=200.0, calls=200_000, reps=7)
QUICK = dict(waveform_seconds=60.0, text_seconds=20.0, calls=20_000, reps=5)

# Signals are added in batches of this many to a new protocol: enough to time
# the call, few enough that the table stays in memory the process already has
# (a table of a million entries measures the kernel's page faults instead).
BATCH = 1000


def interleave(runners, reps):
    """runners: name -> callable returning nanoseconds. Returns name -> median."""
    names = list(runners)
    samples = {name: [] for name in names}
    for rep in range(-1, reps):  # one warm-up round
        for name in names if rep % 2 == 0 else names[::-1]:
            gc.disable()
            try:
                ns = runners[name]()
            finally:
                gc.enable()
            if rep >= 0:
                samples[name].append(ns)
    return {name: statistics.median(values) for name, values in samples.items()}


def timed(action):
    start = perf_ns()
    action()
    return perf_ns() - start


def call_loop(nargs):
    """A compiled loop of its own per path: the interpreter's inline caches are
    per code object, and a shared call site would favour whoever runs first."""
    params = "".join(f"a{i}, " for i in range(nargs))
    source = (
        f"def loop(f, {params}n):\n"
        "    r = range(n)\n"
        "    start = perf_ns()\n"
        "    for _ in r:\n"
        f"        f({params.rstrip(', ')})\n"
        "    return perf_ns() - start\n"
    )
    namespace = {"perf_ns": perf_ns}
    exec(compile(source, f"<loop {nargs}>", "exec"), namespace)
    return namespace["loop"]


def session(seconds):
    p = pydrel.Protocol()
    p.set_session_duration(seconds)
    return p


def samples_for(seconds, seed=1):
    a = np.random.default_rng(seed).random(math.ceil(seconds * SAMPLING_RATE))
    a[0], a[-1] = 0.0, 1.0
    return a


def write_file(path, data):
    fd = os.open(path, OPEN_FLAGS, 0o666)
    try:
        view = memoryview(data)
        while view:
            view = view[os.write(fd, view) :]
    finally:
        os.close(fd)


def row(path, ns, bound_ns, bound, target, unit="ms", note=None):
    ratio = ns / bound_ns if bound_ns else None
    return {
        "path": path,
        "time_ns": ns,
        "bound": bound,
        "bound_ns": bound_ns,
        "ratio": ratio,
        "target": target,
        "unit": unit,
        "pass": None if target is None else ratio <= target,
        "note": note,
    }


def bench_waveform(size, reps):
    contiguous = samples_for(size["waveform_seconds"])
    n = len(contiguous)
    every_other = np.empty(2 * n)
    every_other[::2] = contiguous
    layouts = [
        ("contiguous", contiguous, 1.2),
        ("strided (every other element)", every_other[::2], 1.5),
        ("reversed", contiguous[::-1], 1.5),
    ]
    rows = []
    out = np.empty(n, np.int16)
    for name, array, target in layouts:
        def ours(array=array):
            p = session(size["waveform_seconds"])
            ns = timed(lambda: p.add_arbitrary_signal(array))
            del p  # freed outside the timed region
            return ns

        def bound(array=array):
            return timed(lambda: np.copyto(out, array, casting="unsafe"))

        m = interleave({"ours": ours, "bound": bound}, reps)
        rows.append(row(f"add_arbitrary_signal, {name}, {n:,} samples", m["ours"], m["bound"],
                        "np.copyto into a preallocated int16 array, same layout", target))
    return rows


def bench_save(size, reps, tmp):
    p = session(size["waveform_seconds"])
    p.add_arbitrary_signal(samples_for(size["waveform_seconds"]))
    path = os.path.join(tmp, "save.drel")
    p.save(path)
    blob = os.urandom(os.path.getsize(path))
    bound_path = os.path.join(tmp, "bound.drel")
    write_file(bound_path, blob)
    m = interleave({"ours": lambda: timed(lambda: p.save(path)),
                    "bound": lambda: timed(lambda: write_file(bound_path, blob))}, reps)
    return [row(f"save, {len(blob):,}-byte file", m["ours"], m["bound"],
                "writing as many prebuilt bytes to a file", 2.0)]


def bench_str(size, reps):
    p = session(size["text_seconds"])
    p.add_arbitrary_signal(samples_for(size["text_seconds"]))
    blob = b"x" * len(str(p))

    def ours():
        return timed(lambda: str(p))

    def bound():
        return timed(lambda: blob.decode("ascii"))

    m = interleave({"ours": ours, "bound": bound}, reps)
    return [row(f"str(), {p.get_num_samples():,} samples, {len(blob):,} characters", m["ours"], m["bound"],
                "bytes.decode('ascii') of prebuilt text of that size", 2.0)]


def bench_calls(size, reps):
    n = size["calls"]
    floor_loop = call_loop(2)

    def floor():
        return floor_loop(math.copysign, 0.5, 1.0, n)

    def setter(method, *args):
        loop = call_loop(len(args))
        p = pydrel.Protocol()
        f = getattr(p, method)
        return lambda: loop(f, *args, n)

    def adder(method, *args):
        loop = call_loop(len(args))

        def run():
            total = 0
            for _ in range(n // BATCH):
                p = pydrel.Protocol()
                total += loop(getattr(p, method), *args, BATCH)
                del p
            return total

        return run

    calls = {
        "set_stimulation_intensity(0.5)": (setter("set_stimulation_intensity", 0.5), 1.2),
        "set_session_duration(60.0)": (setter("set_session_duration", 60.0), 1.2),
        "enable_channel(Channel.B)": (setter("enable_channel", pydrel.Channel.B), 1.2),
        "set_amplitude_source(Coil.A1, 0)": (setter("set_amplitude_source", pydrel.Coil.A1, 0), 1.2),
        "set_modulation_source(Channel.A, 2, True)": (setter("set_modulation_source", pydrel.Channel.A, 2, True), 1.2),
        "add_sine_signal(1.0, 10.0)": (adder("add_sine_signal", 1.0, 10.0), 2.0),
        "add_constant_signal(0.5)": (adder("add_constant_signal", 0.5), 2.0),
        "add_ramp_signal(1.0, 0.1, 0.2)": (adder("add_ramp_signal", 1.0, 0.1, 0.2), 2.0),
        "add_mixed_signal(0, 1)": (adder("add_mixed_signal", 0, 1), 2.0),
    }
    runners = {name: run for name, (run, _) in calls.items()}
    runners["floor"] = floor
    construct_loop = call_loop(0)
    runners["Protocol()"] = lambda: construct_loop(pydrel.Protocol, n)
    m = interleave(runners, reps)
    floor_ns = m["floor"] / n
    rows = [row(name, m[name] / n, floor_ns, "math.copysign(0.5, 1.0), a fast-call builtin", target, unit="ns")
            for name, (_, target) in calls.items()]
    construct = row("Protocol()", m["Protocol()"] / n, None, "300 ns", None, unit="ns")
    construct["pass"] = construct["time_ns"] < 300
    rows.append(construct)
    return rows


BUILD = os.path.dirname(os.path.dirname(os.path.abspath(pydrel.__file__)))


def run_process(argv):
    """Runs argv with its output to /dev/null; returns nanoseconds."""
    start = perf_ns()
    code = subprocess.run(argv, stdout=subprocess.DEVNULL).returncode
    if code not in (0, 1):
        raise RuntimeError(f"{argv} exited with {code}")
    return perf_ns() - start


def peak_rss(argv):
    """A program's peak resident memory in bytes. GNU time forks it from a
    process of its own: a child of this interpreter would count the
    interpreter's size too, which its peak keeps across exec."""
    run = subprocess.run(["/usr/bin/time", "-f", "%M", *argv], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                         text=True)
    if run.returncode not in (0, 1):
        raise RuntimeError(f"{argv} exited with {run.returncode}: {run.stderr}")
    return int(run.stderr.split()[-1]) * 1024


def bench_drel(size, reps, tmp):
    """drel on the longest session: its commands against the library's decoder
    alone (a program that reads and decodes the file), and show against str()."""
    drel, decode_only = os.path.join(BUILD, "bin", "drel"), os.path.join(BUILD, "bench", "decode_only")
    p = session(size["waveform_seconds"])
    p.add_arbitrary_signal(samples_for(size["waveform_seconds"]))
    path, small = os.path.join(tmp, "longest.drel"), os.path.join(tmp, "new.drel")
    p.save(path)
    pydrel.Protocol().save(small)
    mb = f"{os.path.getsize(path) / 1e6:.1f} MB file"
    m = interleave({
        "decode": lambda: run_process([decode_only, path]),
        "check": lambda: run_process([drel, "check", path]),
        "summary": lambda: run_process([drel, "show", "--summary", path]),
        "show": lambda: run_process([drel, "show", path]),
        "str": lambda: timed(lambda: str(p)),
    }, reps)
    bound = "reading and decoding the file alone (a program of the protocol library)"
    rows = [
        row(f"drel check, {mb}", m["check"], m["decode"], bound, 1.5),
        row(f"drel show --summary, {mb}", m["summary"], m["decode"], bound, 1.5),
        row(f"drel show to /dev/null, {mb}", m["show"], m["str"], "str() of the same protocol", 1.5),
    ]
    growth = peak_rss([drel, "show", path]) - peak_rss([drel, "show", small])
    rows.append(row("peak memory growth of drel show", growth, 2 * p.get_num_samples(),
                    "2 bytes per level (the decoded waveform)", 1.2, unit="bytes"))

    # Two longest sessions that differ in one level, and the same as JSON.
    other = os.path.join(tmp, "other.drel")
    q = session(size["waveform_seconds"])
    changed = samples_for(size["waveform_seconds"])
    middle = len(changed) // 2
    changed[middle] = 0.5 if changed[middle] != 0.5 else 0.25
    q.add_arbitrary_signal(changed)
    q.save(other)
    del q
    m = interleave({
        "decode both": lambda: run_process([decode_only, path, other]),
        "diff": lambda: run_process([drel, "diff", path, other]),
        "json": lambda: run_process([drel, "show", "--json", path]),
        "show": lambda: run_process([drel, "show", path]),
    }, reps)
    rows.append(row("drel diff, two such files, one level changed", m["diff"], m["decode both"],
                    "reading and decoding both files alone, keeping both", 1.5))
    rows.append(row(f"drel show --json to /dev/null, {mb}", m["json"], m["show"], "drel show of the same file", 1.5))
    growth = peak_rss([drel, "diff", path, other]) - peak_rss([drel, "diff", small, small])
    rows.append(row("peak memory growth of drel diff", growth, 4 * len(changed),
                    "2 bytes per level of both files", 1.2, unit="bytes"))

    # The picture of the longest session.
    m = interleave({
        "plot": lambda: run_process([drel, "plot", path]),
        "summary": lambda: run_process([drel, "show", "--summary", path]),
    }, reps)
    rows.append(row(f"drel plot, {mb}", m["plot"], m["summary"], "drel show --summary of the same file", 2.0))
    growth = peak_rss([drel, "plot", path]) - peak_rss([drel, "plot", small])
    rows.append(row("peak memory growth of drel plot", growth, 2 * len(changed),
                    "2 bytes per level (the decoded waveform)", 1.1, unit="bytes"))
    picture = subprocess.run([drel, "plot", path], capture_output=True, check=True).stdout
    size_row = row("size of drel plot's SVG, longest session", len(picture), None, "1 MB", None, unit="bytes")
    size_row["pass"] = len(picture) < 1_000_000
    rows.append(size_row)
    return rows


def bench_envelope(size, reps):
    """The exact envelope of the longest session's levels in 880 columns,
    against NumPy's lowest and highest of the same levels in 880 rows."""
    import drel

    levels = (samples_for(size["waveform_seconds"]) * 32767).astype(np.int16)
    columns = 880
    whole = levels[: len(levels) - len(levels) % columns].reshape(columns, -1)
    m = interleave({
        "ours": lambda: timed(lambda: drel._native.envelope(levels, columns, len(levels))),
        "numpy": lambda: timed(lambda: (whole.min(axis=1), whole.max(axis=1))),
    }, reps)
    return [row(f"envelope of {len(levels):,} levels in {columns} columns", m["ours"], m["numpy"],
                "NumPy reshape(...).min and .max over the same levels", 1.5)]


def varint(n):
    out = bytearray()
    while n >= 0x80:
        out.append(n & 0x7F | 0x80)
        n >>= 7
    return bytes(out + bytes([n]))


def bench_drel_tables(size, tmp):
    """drel on tables that once made it quadratic or huge: a million two-signal
    mix cycles (signal 2k mixes 2k+1 and back) and four million empty
    waveforms, each against reading and decoding the same file alone."""
    drel, decode_only = os.path.join(BUILD, "bin", "drel"), os.path.join(BUILD, "bench", "decode_only")
    scale = 1 if size is FULL else 10
    new = os.path.join(tmp, "new.drel")
    pydrel.Protocol().save(new)
    with open(new, "rb") as f:
        head, tail = (lambda b: (b[:150], b[160:]))(f.read())
    tables = {
        f"{1_000_000 // scale:,} two-signal mix cycles": [b"\x03" + varint(i ^ 1) * 2 for i in range(2_000_000 // scale)],
        f"{4_000_000 // scale:,} empty waveforms": [b"\x04\x00"] * (4_000_000 // scale),
    }
    rows = []
    for name, entries in tables.items():
        path = os.path.join(tmp, "table.drel")
        with open(path, "wb") as f:
            f.write(head + varint(len(entries)) + b"".join(entries) + tail)
        del entries
        for command in (["check"], ["check", "--json"], ["show", "--summary"]):
            label = f"drel {' '.join(command)}, {name}"
            rows.append(row(label, run_process([drel, *command, path]), run_process([decode_only, path]),
                            "reading and decoding the same file alone", None))
            cycles = "cycles" in name  # their search takes two 32-bit numbers a signal
            rows.append(row(f"peak memory of {label}", peak_rss([drel, *command, path]),
                            peak_rss([decode_only, path]), "the decoded protocol (the peak of decoding alone)",
                            None if cycles else 1.1, unit="bytes",
                            note="the cycle search takes 8 bytes a signal" if cycles else None))
    return rows


LOAD_MEMORY_CHILD = """
import json, sys
import drel, numpy

def status():
    with open("/proc/self/status") as f:
        return {k: int(v.split()[0]) * 1024 for k, v in (line.split(":", 1) for line in f) if k == "VmHWM"}

with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
before = status()
settings = drel.load(sys.argv[1])
print(json.dumps({"growth": status()["VmHWM"] - before["VmHWM"]}))
"""


def bench_package(size, reps, tmp):
    """The drel package: loading the longest session against reading the
    file's bytes and copying its levels once; loading a million sines; and
    composing the longest session again against adding its waveform."""
    import drel

    seconds = size["waveform_seconds"]
    p = session(seconds)
    samples = samples_for(seconds)
    p.add_arbitrary_signal(samples)
    path = os.path.join(tmp, "longest.drel")
    p.save(path)
    levels = drel.load(path).signals[0].samples

    def read_and_copy():
        with open(path, "rb") as f:
            return timed(lambda: (f.read(), levels.copy()))

    m = interleave({"load": lambda: timed(lambda: drel.load(path)), "bound": read_and_copy}, reps)
    rows = [row(f"drel.load, {os.path.getsize(path) / 1e6:.1f} MB file", m["load"], m["bound"],
                "reading the file's bytes and one int16 copy of its levels", 1.5)]
    run = subprocess.run([sys.executable, "-c", LOAD_MEMORY_CHILD, path], capture_output=True, text=True, check=True)
    rows.append(row("peak memory growth of drel.load", json.loads(run.stdout)["growth"], levels.nbytes,
                    "the levels array", 1.2, unit="bytes"))

    sines = pydrel.Protocol()
    count = 1_000_000 if size is FULL else 100_000
    for _ in range(count):
        sines.add_sine_signal(1.0, 10.0)
    sines_path = os.path.join(tmp, "sines.drel")
    sines.save(sines_path)
    del sines
    m = interleave({"load": lambda: timed(lambda: drel.load(sines_path))}, reps)
    per_signal = row(f"drel.load, {count:,} sine signals, per signal", m["load"] / count, None, "1 us", None,
                     unit="ns")
    per_signal["pass"] = per_signal["time_ns"] <= 1000
    rows.append(per_signal)

    # The public surface takes only float64 fractions: making them is part
    # of any composition.
    settings = drel.load(path)
    levels = settings.signals[0].samples

    def fractions_and_add():
        p = session(seconds)
        start = perf_ns()
        p.add_arbitrary_signal(levels / 32767.0)
        return perf_ns() - start

    m = interleave({"compose": lambda: timed(settings.to_protocol), "bound": fractions_and_add}, reps)
    rows.append(row("Settings.to_protocol(), longest session", m["compose"], m["bound"],
                    "levels / 32767.0 into a new array, and add_arbitrary_signal of it", 1.3))
    return rows


FROM_JSON_MEMORY_CHILD = """
import json, sys
import drel, numpy  # NumPy's own memory is no part of the reading

def peak():
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmHWM"))

with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
before = peak()
with open(sys.argv[1], "rb") as f:
    text = f.read()
settings = drel.from_json(text)
print(json.dumps({"growth": peak() - before}))
"""


def bench_json(size, reps, tmp):
    """Protocols from JSON, the longest session's: drel compose against drel
    show --json of the same protocol, drel.from_json() against to_json(), and
    the memory each takes against the JSON's size and 2 bytes a level."""
    import drel

    drel_program = os.path.join(BUILD, "bin", "drel")
    seconds = size["waveform_seconds"]
    p = session(seconds)
    p.add_arbitrary_signal(samples_for(seconds))
    path, json_path, out = (os.path.join(tmp, name) for name in ("longest.drel", "longest.json", "composed.drel"))
    p.save(path)
    settings = drel.load(path)
    text = settings.to_json()
    with open(json_path, "w") as f:
        f.write(text)
    levels = p.get_num_samples()
    mb = f"{len(text) / 1e6:.1f} MB of JSON, {levels:,} levels"
    m = interleave({
        "compose": lambda: run_process([drel_program, "compose", json_path, "-o", out]),
        "show": lambda: run_process([drel_program, "show", "--json", path]),
        "from_json": lambda: timed(lambda: drel.from_json(text)),
        "to_json": lambda: timed(settings.to_json),
    }, reps)
    with open(out, "rb") as a, open(path, "rb") as b:
        if a.read() != b.read():
            raise RuntimeError("drel compose did not make the file back")
    rows = [
        row(f"drel compose, {mb}", m["compose"], m["show"], "drel show --json of the same protocol to /dev/null", 2.0),
        row(f"drel.from_json(), {mb}", m["from_json"], m["to_json"], "Settings.to_json() of the same protocol", 2.0),
    ]
    small_json = os.path.join(tmp, "small.json")
    with open(small_json, "w") as f:
        f.write('{"signals": [{"Constant": {"value": 0.0}}]}')
    bound = len(text) + 2 * levels
    growth = peak_rss([drel_program, "compose", json_path, "-o", out]) - \
        peak_rss([drel_program, "compose", small_json, "-o", out])
    rows.append(row("peak memory growth of drel compose", growth, bound, "the JSON's size and 2 bytes a level", 1.2,
                    unit="bytes"))
    run = subprocess.run([sys.executable, "-c", FROM_JSON_MEMORY_CHILD, json_path], capture_output=True, text=True,
                         check=True)
    rows.append(row("peak memory growth of reading the JSON and drel.from_json()", json.loads(run.stdout)["growth"],
                    bound, "the JSON's size and 2 bytes a level", 1.2, unit="bytes"))
    return rows


def bench_one_table(size, reps):
    """A million signals into one protocol, whose table grows to 40 MB of new
    memory, against the call floor."""
    count = 1_000_000 if size is FULL else 100_000
    loop, floor_loop = call_loop(2), call_loop(2)

    def ours():
        p = pydrel.Protocol()
        ns = loop(p.add_sine_signal, 1.0, 10.0, count)
        del p  # freed outside the timed region
        return ns

    m = interleave({"ours": ours, "floor": lambda: floor_loop(math.copysign, 0.5, 1.0, count)}, max(3, reps // 2))
    return [row(f"add_sine_signal(1.0, 10.0), {count:,} into one protocol", m["ours"] / count, m["floor"] / count,
                "math.copysign(0.5, 1.0), a fast-call builtin", 2.0, unit="ns")]


def bench_informational(size, tmp):
    """Shapes without a target: timed once each, for the record."""
    rows = []
    p = session(size["waveform_seconds"])
    p.add_arbitrary_signal(samples_for(size["waveform_seconds"]))
    path = os.path.join(tmp, "whole.drel")

    def whole():
        p.save(path)
        return len(str(p))

    start = perf_ns()
    chars = whole()
    rows.append(row(f"save + str() of the longest session ({chars:,} characters)", perf_ns() - start, None, None,
                    None, note="once, with new memory for the text"))
    return rows


MEMORY_CHILD = """
import gc, json, os, sys, tempfile
sys.path[:0] = {path!r}
import hot_paths as h
what, seconds = sys.argv[1], float(sys.argv[2])
p = h.session(seconds)
samples = h.samples_for(seconds)
if what != "add_arbitrary_signal":
    p.add_arbitrary_signal(samples)
    del samples
gc.collect()

def status():
    with open("/proc/self/status") as f:
        return {{k: int(v.split()[0]) * 1024 for k, v in (line.split(":", 1) for line in f) if k in ("VmHWM", "VmRSS")}}

with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # resets the peak to the current size
before = status()
with tempfile.TemporaryDirectory() as tmp:
    if what == "add_arbitrary_signal":
        p.add_arbitrary_signal(samples)
        result = 2 * p.get_num_samples()
    elif what == "save":
        p.save(os.path.join(tmp, "m.drel"))
        result = os.path.getsize(os.path.join(tmp, "m.drel"))
    else:
        result = len(str(p))
    after = status()
print(json.dumps({{"growth": after["VmHWM"] - before["VmHWM"], "result": result}}))
"""


def bench_memory(size):
    rows = []
    plan = [
        ("add_arbitrary_signal", size["waveform_seconds"], "2 bytes per stored sample", None),
        ("save", size["waveform_seconds"], "the file's size", 0.1),
        ("str", size["text_seconds"], "the text's size", 1.2),
    ]
    script = MEMORY_CHILD.format(path=[os.path.dirname(os.path.abspath(__file__))] + sys.path)
    for what, seconds, needs, target in plan:
        run = subprocess.run([sys.executable, "-c", script, what, repr(seconds)], capture_output=True, text=True,
                             check=True)
        m = json.loads(run.stdout)
        rows.append(row(f"peak memory growth of {what}", m["growth"], m["result"], needs, target, unit="bytes"))
    return rows


def show(value, unit):
    if value is None:
        return ""
    if unit == "ms":
        return f"{value / 1e6:.2f} ms"
    if unit == "ns":
        return f"{value:.1f} ns"
    return f"{value / 1e6:.1f} MB"


def print_table(rows):
    header = ("path", "time", "bound", "ratio", "target", "")
    lines = [header]
    for r in rows:
        ratio = "" if r["ratio"] is None else f"{r['ratio']:.2f}x"
        target = "" if r["target"] is None else f"<= {r['target']}x"
        if r["path"] == "Protocol()":
            target = "< 300 ns"
        if r["path"].startswith("size of"):
            target = "< 1 MB"
        if r["path"].startswith("drel.load") and r["path"].endswith("per signal"):
            target = "<= 1 us"
        verdict = {True: "PASS", False: "MISS", None: ""}[r["pass"]]
        lines.append((r["path"], show(r["time_ns"], r["unit"]), show(r["bound_ns"], r["unit"]), ratio, target,
                      verdict))
    widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
    for line in lines:
        print("  ".join(cell.ljust(w) if i == 0 else cell.rjust(w) for i, (cell, w) in enumerate(zip(line, widths))))
    print()
    print("Bounds and notes:")
    seen = set()
    for r in rows:
        text = r["note"] or r["bound"]
        if text and text not in seen and r["path"] != "Protocol()" and not r["path"].endswith("per signal"):
            seen.add(text)
            name = r["path"] if r["note"] else "setters and add_*_signal" if r["unit"] == "ns" else r["path"].split(", ")[0]
            if r["path"].startswith("drel ") and not r["note"]:
                name = "drel check and show --summary" if "decod" in text else "drel show"
            print(f"- {name}: {text}")
    print(f"- add_*_signal: added in batches of {BATCH} to new protocols")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--json", action="store_true", help="print JSON instead of the table")
    parser.add_argument("--quick", action="store_true", help="small sizes, for a smoke run")
    groups = {
        "waveform": lambda size, reps, tmp: bench_waveform(size, reps),
        "save": bench_save,
        "str": lambda size, reps, tmp: bench_str(size, reps),
        "calls": lambda size, reps, tmp: bench_calls(size, reps),
        "memory": lambda size, reps, tmp: bench_memory(size),
        "drel": bench_drel,
        "tables": lambda size, reps, tmp: bench_drel_tables(size, tmp),
        "package": bench_package,
        "json": bench_json,
        "envelope": lambda size, reps, tmp: bench_envelope(size, reps),
        "one-table": lambda size, reps, tmp: bench_one_table(size, reps),
        "informational": lambda size, reps, tmp: bench_informational(size, tmp),
    }
    parser.add_argument("--only", metavar="GROUP,...", help=f"only these groups of rows: {', '.join(groups)}")
    parser.add_argument("--levels", choices=["best", "all"], default="best",
                        help="run the table at the best CPU level of this machine (the default) or at each")
    args = parser.parse_args()
    if args.levels == "all":
        return at_every_level(args)
    size = QUICK if args.quick else FULL
    reps = size["reps"]
    chosen = args.only.split(",") if args.only else list(groups)
    if unknown := [g for g in chosen if g not in groups]:
        parser.error(f"no group {', '.join(unknown)}")
    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        for name in chosen:
            rows += groups[name](size, reps, tmp)
    if args.quick:  # the targets are for the full sizes
        for r in rows:
            r["pass"] = None
    if args.json:
        json.dump({"python": sys.version.split()[0], "numpy": np.__version__, "reps": reps, "rows": rows},
                  sys.stdout, indent=2)
        print()
    else:
        print(f"{machine()}; vector code at {cpu_level()}")
        print(f"Python {sys.version.split()[0]}, NumPy {np.__version__}, medians of {reps}")
        print_table(rows)
    return 0 if all(r["pass"] is not False for r in rows) else 1


def cpu_level():
    import drel
    return drel._native.cpu_level()[0]


def machine():
    """The CPU's model and which wide vector instructions it has."""
    model, flags = "unknown CPU", set()
    with open("/proc/cpuinfo") as f:
        for line in f:
            key, _, value = line.partition(":")
            if key.strip() == "model name" and model == "unknown CPU":
                model = value.strip()
            elif key.strip() == "flags" and not flags:
                flags = set(value.split())
    wide = ", ".join(f for f in ("avx2", "avx512f", "avx512bw", "avx512vl", "avx512vbmi2") if f in flags)
    return f"{os.cpu_count()} cores of {model} (flags: {wide or 'no avx2'})"


# What PYDREL_DISABLE_CPU_FEATURES turns off to run at each level.
DISABLE = {"baseline": "AVX512F AVX2", "AVX2": "AVX512F", "AVX-512": ""}


def at_every_level(args):
    import drel
    levels = drel._native.cpu_level()[2]
    passes = True
    for level in levels:
        argv = [sys.executable, os.path.abspath(__file__)] + (["--quick"] if args.quick else []) + \
            (["--only", args.only] if args.only else []) + (["--json"] if args.json else [])
        env = {**os.environ, "PYDREL_DISABLE_CPU_FEATURES": DISABLE[level]}
        print(f"=== {level} ===", flush=True)
        run = subprocess.run(argv, env=env)
        # The targets hold at AVX2 and at AVX-512; the baseline carries none.
        passes &= run.returncode == 0 or level == "baseline"
        print(flush=True)
    return 0 if passes else 1


if __name__ == "__main__":
    sys.exit(main())
