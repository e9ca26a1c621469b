"""Random call sequences with hostile arguments.

Each call goes to a protocol under test with arguments that are hostile
objects (their conversions raise, return the wrong type or a subclass, call
back into the protocol, drop the last other reference to it, or run the
garbage collector) and, when every argument converts, to a twin protocol with
the plain values. Afterwards both must agree: the same result, or the same
failure; a failed conversion must raise its own exception and change nothing.
"""

import gc
import os
import warnings

import numpy as np
from hypothesis import HealthCheck, settings
from hypothesis.configuration import set_hypothesis_home_dir
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, rule

import pydrel
from conftest import panic_type

PANIC = panic_type()


class Hostile:
    """An argument whose conversion does `mode` and then yields `value`."""

    def __init__(self, machine, value, mode):
        self.machine, self.value, self.mode = machine, value, mode
        self.target = machine.protocol

    def _convert(self, plain_type):
        m = self.mode
        if m == "raises ValueError":
            raise ValueError("hostile")
        if m == "raises TypeError":
            raise TypeError("hostile")
        if m == "wrong type":
            return "not a number"
        if m == "subclass":
            return type("Sub", (plain_type,), {})(self.value)
        if m == "calls back":
            str(self.target)  # refused: the protocol is borrowed
        if m == "drops the protocol":
            self.machine.protocol = None  # the bound method keeps it alive until the call ends
        if m == "collects garbage":
            gc.collect()
        return plain_type(self.value)

    def __float__(self):
        return self._convert(float)

    def __index__(self):
        return self._convert(int)

    def __bool__(self):
        return self._convert(bool)


# What a hostile argument raises, where it fails its conversion.
FAILS_WITH = {
    "raises ValueError": ValueError,
    "raises TypeError": TypeError,
    "wrong type": TypeError,
    "calls back": RuntimeError,
}
MODES = ["plain", "raises ValueError", "raises TypeError", "wrong type", "subclass", "calls back",
         "drops the protocol", "collects garbage"]

floats = st.one_of(st.floats(0.0, 1.0), st.sampled_from([0.01, 0.05, 1800.0, 5000.0, -1.0, float("nan")]))
indices = st.one_of(st.integers(0, 10), st.sampled_from([2**64 - 1, 2**64, -1]))


class Arg:
    """One argument: how it converts (its mode), the plain value, and what the
    call fails with when its conversion fails."""

    def __init__(self, kind, value, mode):
        self.kind, self.value, self.mode = kind, value, mode

    def hostile(self, machine):
        if self.kind in ("float", "index") and self.mode != "plain":
            return Hostile(machine, self.value, self.mode)
        return self.value

    def fails_with(self):
        if self.kind == "bool":
            return None if isinstance(self.value, (bool, np.bool_)) else TypeError
        if self.kind in ("float", "index") and self.mode in FAILS_WITH:
            return FAILS_WITH[self.mode]
        if self.kind == "index" and not 0 <= self.value < 2**64:
            return OverflowError
        return None


def args_of(kind):
    if kind == "float":
        return st.builds(Arg, st.just("float"), floats, st.sampled_from(MODES))
    if kind == "index":
        return st.builds(Arg, st.just("index"), indices, st.sampled_from(MODES))
    if kind == "bool":
        return st.builds(Arg, st.just("bool"), st.sampled_from([True, False, np.True_, 1, None]), st.just("plain"))
    members = [pydrel.Coil.A1, pydrel.Coil.B2, pydrel.Channel.A, pydrel.Channel.B, 0, "A"]
    return st.builds(Arg, st.just(kind), st.sampled_from(members), st.just("plain"))


def member_fails(arg):
    wanted = pydrel.Coil if arg.kind == "coil" else pydrel.Channel
    return None if type(arg.value) is wanted else TypeError


# method -> the kinds of its parameters (trailing optional ones may be left out)
METHODS = {
    "set_session_duration": (["float"], 1),
    "set_stimulation_intensity": (["float"], 1),
    "enable_channel": (["channel"], 1),
    "set_amplitude_source": (["coil", "index", "bool"], 2),
    "set_modulation_source": (["channel", "index", "bool"], 2),
    "add_constant_signal": (["float"], 1),
    "add_sine_signal": (["float", "float", "float", "float"], 2),
    "add_ramp_signal": (["float", "float", "float"], 3),
    "add_mixed_signal": (["index", "index"], 2),
}


@st.composite
def calls(draw):
    name = draw(st.sampled_from(sorted(METHODS)))
    kinds, required = METHODS[name]
    count = draw(st.integers(required, len(kinds)))
    return name, [draw(args_of(kind)) for kind in kinds[:count]]


@st.composite
def arrays(draw):
    n = draw(st.sampled_from([50, 250, 49, 0]))
    dtype = draw(st.sampled_from(["<f8", "<f8", "<f8", ">f8", "<f4", "<i8", "?", "<c16"]))
    values = np.linspace(0.0, 1.0, n)
    bad = draw(st.sampled_from([None, None, -0.1, 1.5, float("nan")]))
    if bad is not None and n > 0:
        values[draw(st.integers(0, n - 1))] = bad
    layout = draw(st.sampled_from(["flat", "reversed", "strided", "2-D", "0-D"]))
    with np.errstate(invalid="ignore"):
        a = values.astype(dtype)
    if layout == "reversed":
        a = a[::-1]
    elif layout == "strided":
        a = np.repeat(a, 2)[::2]
    elif layout == "2-D":
        a = a.reshape(1, -1)
    elif layout == "0-D":
        a = np.asarray(a[0] if len(a) else 0.5, dtype=dtype)
    return a


def outcome(action):
    try:
        return ("result", action())
    except BaseException as e:  # noqa: B036 - PanicException derives from BaseException
        return ("error", type(e), str(e))


class HostileCalls(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.protocol, self.twin = pydrel.Protocol(), pydrel.Protocol()

    def _renew_if_dropped(self, bound):
        if self.protocol is None:  # a conversion dropped it: start again from a pair of new ones
            del bound
            self.protocol, self.twin = pydrel.Protocol(), pydrel.Protocol()

    @rule(call=calls())
    def call_with_hostile_arguments(self, call):
        name, args = call
        bound = getattr(self.protocol, name)
        before = str(self.protocol)
        hostile = [a.hostile(self) for a in args]
        fails = next((f for f in (a.fails_with() if a.kind not in ("coil", "channel") else member_fails(a)
                                  for a in args) if f is not None), None)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)  # __float__ returning a subclass
            got = outcome(lambda: bound(*hostile))
        if fails is not None:
            assert got[0] == "error" and got[1] is fails, (name, got)
            assert str(bound.__self__) == before
        else:
            plain = [float(a.value) if a.kind == "float" else int(a.value) if a.kind == "index" else a.value
                     for a in args]
            assert got == outcome(lambda: getattr(self.twin, name)(*plain)), name
            assert got[0] == "result" or got[1] is PANIC, got
        self._renew_if_dropped(bound)

    @rule(array=arrays())
    def add_array(self, array):
        before = str(self.protocol)
        got = outcome(lambda: self.protocol.add_arbitrary_signal(array))
        accepted = array.ndim == 1 and array.dtype == np.dtype("<f8")
        if not accepted:
            assert got[0] == "error" and got[1] is TypeError, got
            assert str(self.protocol) == before
        else:
            assert got == outcome(lambda: self.twin.add_arbitrary_signal(np.ascontiguousarray(array)))
            if got[0] == "error":
                assert got[1] is PANIC and str(self.protocol) == before

    @rule(name=st.sampled_from(["p.drel", "p.txt", "missing/p.drel", "a\0b.drel"]))
    def save(self, name):
        got = outcome(lambda: self.protocol.save(f"{self.directory}/{name}"))
        assert got == outcome(lambda: self.twin.save(f"{self.directory}/twin-{name}"))

    @invariant()
    def same_as_the_twin(self):
        assert str(self.protocol) == str(self.twin)
        assert self.protocol.get_num_samples() == self.twin.get_num_samples()


def test_hostile_call_sequences(tmp_path):
    set_hypothesis_home_dir(tmp_path / ".hypothesis")  # not the work tree
    HostileCalls.directory = str(tmp_path)
    machine = HostileCalls.TestCase
    # Fewer under the sanitizers, which run every call several times slower.
    examples = 25 if os.environ.get("PYDREL_SANITIZED") == "1" else 100
    machine.settings = settings(max_examples=examples, stateful_step_count=15, deadline=None, database=None,
                                suppress_health_check=[HealthCheck.too_slow])
    machine().runTest()
