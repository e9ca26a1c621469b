import math
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import pydrel
from conftest import panic_type, unchanged

LENGTH_MESSAGE = "assertion failed: samples.len() == self.get_num_samples()"
LOW_MESSAGE = "assertion failed: *sample >= 0.0"
HIGH_MESSAGE = "assertion failed: *sample <= 1.0"


@pytest.fixture
def short(protocol):
    """A protocol whose waveforms have 50 samples."""
    protocol.set_session_duration(0.01)
    return protocol


def signal_lines(protocol):
    lines = str(protocol).splitlines()
    start = next(i for i, line in enumerate(lines) if line.startswith("        signals: "))
    end = lines.index("        channel_a_settings: ChannelSettings {")
    return lines[start:end]


def stored_levels(protocol, entry=-1):
    """The levels of an Arbitrary entry, read back from the text form."""
    text = str(protocol)
    blocks = text.split("Arbitrary(\n")[1:]
    body = blocks[entry].split("samples: [")[1].split("]")[0]
    return [int(x.strip().rstrip(",")) for x in body.split("\n") if x.strip()]


def test_indices_count_up_whatever_the_kind(protocol):
    protocol.set_session_duration(0.01)
    assert protocol.add_constant_signal(0.5) == 0
    assert protocol.add_sine_signal(1.0, 10.0) == 1
    assert protocol.add_ramp_signal(1.0, 2.0, 3.0) == 2
    assert protocol.add_mixed_signal(0, 1) == 3
    assert protocol.add_arbitrary_signal(np.zeros(50)) == 4
    assert protocol.add_constant_signal(value=0.0) == 5


def test_constant_signal_text(protocol):
    protocol.add_constant_signal(0.5)
    assert signal_lines(protocol) == [
        "        signals: [",
        "            Constant(",
        "                ConstantSignalParams {",
        "                    value: 0.5,",
        "                },",
        "            ),",
        "        ],",
    ]


@pytest.mark.parametrize(
    "args, kwargs, fields",
    [
        ((1.0, 10.0), {}, ["1.0", "10.0", "0.0", "1.0"]),
        ((), {"amplitude": 1.0, "frequency": 2.0, "depth": 0.5}, ["1.0", "2.0", "0.0", "0.5"]),
        ((1, 2, 3, 4), {}, ["1.0", "2.0", "3.0", "4.0"]),
        ((float("nan"), -10.0), {"phase": float("inf")}, ["NaN", "-10.0", "inf", "1.0"]),
    ],
)
def test_sine_signal_defaults_and_values(protocol, args, kwargs, fields):
    protocol.add_sine_signal(*args, **kwargs)
    names = ["amplitude", "frequency", "phase", "depth"]
    body = signal_lines(protocol)[3:7]
    assert body == [f"                    {n}: {v}," for n, v in zip(names, fields)]


@pytest.mark.parametrize(
    "value, text",
    [
        (1e16, "1e16"),
        (9999999999999998.0, "9999999999999998.0"),
        (1.2345678901234567e19, "1.2345678901234567e19"),
        (1e15, "1000000000000000.0"),
        (-5088143117563430912.0, "-5.088143117563431e18"),
        (5.0, "5.0"),
        (-0.0, "-0.0"),
        (float("-inf"), "-inf"),
        (0.3, "0.3"),
        (1e-5, "1e-5"),
        (2.5e-7, "2.5e-7"),
        (0.0001, "0.0001"),
        (0.0123, "0.0123"),
        (1 / 3, "0.3333333333333333"),
        (0.5 + 2**-17, "0.5000076293945312"),
        (1000 + 2**-14, "1000.0000610351562"),
        (5e-324, "5e-324"),
    ],
)
def test_float_form_through_a_constant(protocol, value, text):
    protocol.add_constant_signal(value)
    assert signal_lines(protocol)[3] == f"                    value: {text},"


def test_ramp_and_mixed_store_values_unchanged(protocol):
    protocol.add_ramp_signal(-1.0, 0.0, -2.0)
    assert protocol.add_mixed_signal(5, 7) == 1
    assert protocol.add_mixed_signal(2**64 - 1, True) == 2
    lines = signal_lines(protocol)
    assert lines[3:6] == [
        "                    peak: -1.0,",
        "                    up_duration: 0.0,",
        "                    down_duration: -2.0,",
    ]
    assert "                    a_idx: 5," in lines and "                    b_idx: 7," in lines
    assert "                    a_idx: 18446744073709551615," in lines and "                    b_idx: 1," in lines


def test_mixed_signal_may_name_itself(protocol):
    assert protocol.add_mixed_signal(0, 0) == 0


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda p: p.add_sine_signal(1.0, 10.0, None), TypeError, "argument 'phase': must be real number, not NoneType"),
        (lambda p: p.add_sine_signal(1.0, "x"), TypeError, "argument 'frequency': must be real number, not str"),
        (lambda p: p.add_ramp_signal(1.0, 2.0, None), TypeError, "argument 'down_duration': must be real number, not NoneType"),
        (lambda p: p.add_mixed_signal(-1, 0), OverflowError, "can't convert negative int to unsigned"),
        (lambda p: p.add_mixed_signal(0, 2**64), OverflowError, None),
        (lambda p: p.add_mixed_signal(0, 1.0), TypeError, "argument 'b_idx': 'float' object cannot be interpreted as an integer"),
        (lambda p: p.add_constant_signal(None), TypeError, "argument 'value': must be real number, not NoneType"),
        (lambda p: p.add_ramp_signal(1.0), TypeError, "Protocol.add_ramp_signal() missing 2 required positional arguments: 'up_duration' and 'down_duration'"),
    ],
)
def test_signal_conversion_failures_append_nothing(protocol, call, error, message):
    protocol.add_constant_signal(1.0)
    with unchanged(protocol), pytest.raises(error) as e:
        call(protocol)
    assert type(e.value) is error
    if message is not None:
        assert str(e.value) == message
    assert protocol.add_constant_signal(2.0) == 1


def test_save_then_add_numbers_from_one(protocol, tmp_path):
    protocol.save(str(tmp_path / "p.drel"))
    assert protocol.add_sine_signal(1.0, 10.0) == 1


# --- arbitrary waveforms -------------------------------------------------------------------------


def test_full_length_waveform(protocol):
    assert protocol.add_arbitrary_signal(np.full(300000, 0.5)) == 0
    levels = stored_levels(protocol)
    assert len(levels) == 300000 and set(levels) == {16384}
    with unchanged(protocol), pytest.raises(panic_type()) as e:
        protocol.add_arbitrary_signal(np.full(299999, 0.5))
    assert str(e.value) == LENGTH_MESSAGE


@pytest.mark.parametrize(
    "sample, level",
    [(0.0, 0), (-0.0, 0), (1.0, 32767), (0.5, 16384), (2.5 / 32767.0, 3), (1.5 / 32767.0, 2), (0.49999 / 32767, 0)],
)
def test_rounding_half_away_from_zero(short, sample, level):
    waveform = np.zeros(50)
    waveform[7] = sample
    short.add_arbitrary_signal(waveform)
    assert stored_levels(short)[7] == level


def test_levels_follow_the_array(short):
    values = np.linspace(0.0, 1.0, 50)
    short.add_arbitrary_signal(values)
    assert stored_levels(short) == [int(math.floor(v * 32767.0 + 0.5)) for v in values]


# Samples are checked and converted in blocks of this many; a session of 1.25 s
# (6250 samples) spans four of them.
BLOCK = 2048


def protocol_with_samples(n):
    p = pydrel.Protocol()
    p.set_session_duration(n / 5000)
    assert p.get_num_samples() == n
    return p


def round_half_away(x):
    return int(math.floor(x + 0.5)) if x >= 0 else -int(math.floor(-x + 0.5))


def expected_levels(values):
    return [round_half_away(v * 32767.0) for v in values]


def _strided(w, step):
    buffer = np.full(abs(step) * len(w), np.nan)  # the skipped elements must not be read
    view = buffer[::step]
    view[:] = w
    return view


def _readonly(w):
    a = w.copy()
    a.flags.writeable = False
    return a


def _packed_records(w):
    records = np.zeros(len(w), dtype=[("x", "<f8"), ("pad", "<i4")])  # 12-byte stride
    records["x"] = w
    return records["x"]


# Views whose logical content is `w`, in every layout an array can have.
LAYOUTS = {
    "contiguous": lambda w: w.copy(),
    "reversed view": lambda w: np.ascontiguousarray(w[::-1])[::-1],
    "every other element": lambda w: _strided(w, 2),
    "negative stride over every third": lambda w: _strided(w, -3),
    "stride of 12 bytes": _packed_records,
    "read-only": _readonly,
    "unaligned": lambda w: np.frombuffer(b"\0" + w.tobytes(), dtype="<f8", offset=1),
    "column of 2-D": lambda w: np.tile(w, (3, 1)).T[:, 1],
    "subclass": lambda w: w.view(np.ma.MaskedArray),
}


@pytest.mark.parametrize("n", [50, 6250])
@pytest.mark.parametrize("layout", LAYOUTS.values(), ids=LAYOUTS.keys())
def test_any_layout_is_read_in_logical_order(layout, n):
    p = protocol_with_samples(n)
    w = np.random.default_rng(n).random(n)
    array = layout(w)
    assert array.shape == (n,) and np.array_equal(np.asarray(array), w)
    p.add_arbitrary_signal(array)
    assert stored_levels(p) == expected_levels(w)


def test_stride_zero_repeats_one_sample(short):
    short.add_arbitrary_signal(np.broadcast_to(np.float64(0.25), (50,)))
    assert stored_levels(short) == [8192] * 50


def test_every_tie_and_its_neighbours_round_half_away_from_zero():
    ties = (np.arange(32767) + 0.5) / 32767.0
    edges = [0.0, -0.0, 1.0, 5e-324, np.nextafter(1.0, 0.0)]
    samples = np.concatenate([ties, np.nextafter(ties, 0.0), np.nextafter(ties, 1.0), edges])
    p = protocol_with_samples(100000)
    w = np.concatenate([samples, np.full(100000 - len(samples), 0.5)])
    p.add_arbitrary_signal(w)
    assert stored_levels(p) == expected_levels(w)


BAD = {"NaN": float("nan"), "-tiny": -5e-324, "1 + ulp": 1.0000000000000002, "inf": float("inf")}


@pytest.mark.parametrize("value", BAD.values(), ids=BAD.keys())
@pytest.mark.parametrize("position", [0, 1, BLOCK - 1, BLOCK, BLOCK + 1, 3 * BLOCK - 1, 3 * BLOCK, 6249])
@pytest.mark.parametrize("layout", ["contiguous", "reversed view", "every other element", "unaligned"])
def test_first_bad_sample_in_logical_order_is_reported(layout, position, value):
    p = protocol_with_samples(6250)
    p.add_constant_signal(1.0)
    w = np.full(6250, 0.5)
    w[position] = value
    # A later sample that fails the other check must not be the one reported.
    w[position + 1 :] = 2.0 if value < 1.0 or math.isnan(value) else -1.0
    with unchanged(p), pytest.raises(panic_type()) as e:
        p.add_arbitrary_signal(LAYOUTS[layout](w))
    assert str(e.value) == (LOW_MESSAGE if not value >= 0.0 else HIGH_MESSAGE)
    assert p.add_arbitrary_signal(np.zeros(6250)) == 1


REFUSED = {
    "list": (lambda: [0.0] * 50, "list"),
    "tuple": (lambda: (0.0,) * 50, "tuple"),
    "float32": (lambda: np.zeros(50, dtype=np.float32), "ndarray"),
    "byte-swapped float64": (lambda: np.zeros(50, dtype=">f8"), "ndarray"),
    "int64": (lambda: np.zeros(50, dtype=np.int64), "ndarray"),
    "bool": (lambda: np.ones(50, dtype=bool), "ndarray"),
    "2-D": (lambda: np.zeros((5, 10)), "ndarray"),
    "0-D": (lambda: np.array(0.5), "ndarray"),
    "numpy scalar": (lambda: np.float64(0.5), "float64"),
    "None": (lambda: None, "NoneType"),
}


@pytest.mark.parametrize("make, type_name", REFUSED.values(), ids=REFUSED.keys())
def test_refused_samples(short, make, type_name):
    with unchanged(short), pytest.raises(TypeError) as e:
        short.add_arbitrary_signal(make())
    assert str(e.value) == f"argument 'samples': '{type_name}' object cannot be cast as 'ndarray'"


def with_values(**at):
    waveform = np.full(50, 0.5)
    for index, value in at.items():
        waveform[int(index[1:])] = value
    return waveform


@pytest.mark.parametrize(
    "waveform, message",
    [
        (with_values(i7=-0.1, i3=1.5), HIGH_MESSAGE),
        (with_values(i3=-0.1, i7=1.5), LOW_MESSAGE),
        (with_values(i0=float("nan")), LOW_MESSAGE),
        (with_values(i49=float("inf")), HIGH_MESSAGE),
        (with_values(i10=float("-inf")), LOW_MESSAGE),
        (with_values(i1=1.0000000000000002), HIGH_MESSAGE),
        (np.full(49, 2.0), LENGTH_MESSAGE),
        (np.full(51, 0.5), LENGTH_MESSAGE),
        (np.zeros(0), LENGTH_MESSAGE),
    ],
)
def test_rejected_waveforms_leave_the_table_as_it_was(short, waveform, message):
    short.add_constant_signal(1.0)
    with unchanged(short), pytest.raises(panic_type()) as e:
        short.add_arbitrary_signal(waveform)
    assert str(e.value) == message
    assert short.add_arbitrary_signal(np.zeros(50)) == 1


def test_tie_products_are_exact():
    # The rounding cases above rely on these products being exact halves.
    assert (2.5 / 32767.0) * 32767.0 == 2.5
    assert (1.5 / 32767.0) * 32767.0 == 1.5
    assert 0.5 * 32767.0 == 16383.5


def test_numpy_missing_raises_import_error_and_changes_nothing():
    code = textwrap.dedent(
        """
        import sys
        import pydrel
        p = pydrel.Protocol()
        p.set_session_duration(0.01)
        before = str(p)
        sys.modules["numpy"] = None  # as if NumPy were not installed
        try:
            p.add_arbitrary_signal([0.5] * 50)
        except ImportError as e:
            print(type(e).__name__)
        print(str(p) == before)
        del sys.modules["numpy"]
        import numpy
        print(p.add_arbitrary_signal(numpy.full(50, 0.5)))
        """
    )
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert run.stdout.split() == ["ModuleNotFoundError", "True", "0"]
    assert run.stderr == ""
