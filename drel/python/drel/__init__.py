"""Read protocol files (.drel) back: load, inspect, check and re-compose them::

    settings = drel.load("session.drel")
    for signal in settings.signals:
        match signal:
            case drel.Sine(amplitude=a, frequency=f):
                print(f"sine of {f} Hz at {a}")
            case drel.Arbitrary(samples=levels):
                print(f"waveform of {len(levels)} levels")
    for finding in settings.check():
        print(finding.severity, finding.message)
    protocol = settings.to_protocol()        # a pydrel.Protocol that saves the same bytes
    protocol.set_stimulation_intensity(0.4)
    protocol.save("session-0.4.drel")

The records are read-only and compare by value; their fields and field order
are those of the text form (``str(settings)``, which is what ``drel show``
prints). Floats keep every bit of the file.
"""

from __future__ import annotations

import json
import os
import re
from collections.abc import Buffer
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Literal, TypeAlias

from . import _native

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

    import pydrel

__all__ = [
    "Arbitrary", "ChannelSettings", "Coil", "Constant", "DecodeError", "Difference", "Finding", "JSONError",
    "LCSetting", "MachineConfig", "MixedSignal", "NotComposable", "PanicException", "Ramp", "Route", "Settings", "Signal",
    "SignalSourceSelection", "Sine", "WaveformDifference", "diff", "from_json", "json_schema", "load", "loads",
]


__version__: str = _native.version
"""The version of pydrel and drel, as ``drel --version`` prints it."""

if TYPE_CHECKING:
    PanicException: type[BaseException]
    """pydrel's exception for a failed check (``pyo3_runtime.PanicException``), to catch by name."""


def __getattr__(name: str) -> Any:
    # PanicException is pydrel's own class, which pydrel itself does not
    # name: made once for the interpreter, here if no check failed yet.
    if name == "PanicException":
        return _native.panic_exception()
    raise AttributeError(f"module 'drel' has no attribute {name!r}")


class DecodeError(ValueError):
    """Bytes that are not a protocol file, or a truncated or damaged one.
    ``offset`` is the byte where they stop fitting the format and ``path``
    the field being read there (empty after the last field); the message is
    the one ``drel check`` prints: which of the three it is, then where."""

    offset: int
    path: str

    def __init__(self, message: str, offset: int, path: str) -> None:
        super().__init__(message)
        self.offset = offset
        self.path = path

    def __reduce__(self) -> tuple[type[DecodeError], tuple[str, int, str]]:
        # Made again from all three, as a process pool sends it back.
        return type(self), (str(self), self.offset, self.path)


class NotComposable(ValueError):
    """A protocol that pydrel's methods cannot compose; the message names the
    first field that stands in the way and its value, and a note says what
    to do where the mistake has a common fix."""


class JSONError(ValueError):
    """Text that is no protocol's JSON: invalid JSON, or a key, a type or a
    value that no protocol has. ``line`` and ``column`` (from 1, in
    characters) are where it stops being one and ``path`` the field there
    ("signals[0].Sine.frequency"; empty at the top); the message is the one
    ``drel compose`` prints, after the file's name."""

    line: int
    column: int
    path: str

    def __init__(self, message: str, line: int, column: int, path: str) -> None:
        super().__init__(message)
        self.line = line
        self.column = column
        self.path = path

    def __reduce__(self) -> tuple[type[JSONError], tuple[str, int, int, str]]:
        return type(self), (str(self), self.line, self.column, self.path)


@dataclass(frozen=True, slots=True)
class LCSetting:
    capacitance: float
    carrier_frequency: float
    clk_ticks_per_sample: int
    capacitor_bank_setting: int


@dataclass(frozen=True, slots=True)
class Coil:
    """A coil of the machine description (not pydrel.Coil, which names one of the four)."""

    name: str
    inductance: float
    max_current: float
    max_carrier_frequency: float
    settings: tuple[LCSetting, ...]


@dataclass(frozen=True, slots=True)
class MachineConfig:
    supply_voltage: float
    num_coils: int
    coils: tuple[Coil, ...]
    capacitors: tuple[float, ...]
    possible_capacitances: tuple[float, ...]
    num_external_signal_sources: int
    smbus_psu_connected: bool
    num_temperature_sensors: int
    num_flow_rate_sensors: int
    safety_checks_enabled: bool
    max_intensity_setpoint: float
    max_current: float
    max_carrier_frequency: float
    max_temperature: float
    min_flowrate: float
    max_power: float


@dataclass(frozen=True, slots=True)
class Constant:
    value: float


@dataclass(frozen=True, slots=True)
class Sine:
    amplitude: float
    frequency: float
    phase: float
    depth: float


@dataclass(frozen=True, slots=True)
class Ramp:
    peak: float
    up_duration: float
    down_duration: float


@dataclass(frozen=True, slots=True)
class MixedSignal:
    a_idx: int
    b_idx: int


@dataclass(frozen=True, slots=True, eq=False)
class Arbitrary:
    """A waveform: one 16-bit level a sample, 0 to 32767 (full scale) in the
    files pydrel writes, as a read-only NumPy array."""

    samples: npt.NDArray[np.int16]

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Arbitrary):
            return NotImplemented
        import numpy

        return bool(numpy.array_equal(self.samples, other.samples))

    __hash__ = None  # type: ignore[assignment]  # NumPy arrays are not hashable

    def __repr__(self) -> str:
        n = len(self.samples)
        if n == 0:
            return "Arbitrary(<no levels>)"
        return f"Arbitrary(<{n} level{'' if n == 1 else 's'}: min {self.samples.min()}, max {self.samples.max()}>)"


Signal: TypeAlias = Constant | Sine | Ramp | MixedSignal | Arbitrary


@dataclass(frozen=True, slots=True)
class SignalSourceSelection:
    internal: int
    external: int
    external_selected: bool


@dataclass(frozen=True, slots=True)
class ChannelSettings:
    enabled: bool
    amplitude1_source: SignalSourceSelection
    amplitude2_source: SignalSourceSelection
    modulation_source: SignalSourceSelection
    coil_idx: int
    coil_setting_idx: int


@dataclass(frozen=True, slots=True)
class Finding:
    severity: Literal["error", "warning"]
    message: str


@dataclass(frozen=True, slots=True)
class Difference:
    """A field whose value differs between two protocols, named by its path in
    the text form ("intensity", "signals[2].frequency"): its value in a and
    in b. For a signal of another kind, the two signals; for an entry that
    only one side has, that entry and None; for an array of another length,
    the two lengths."""

    path: str
    a: Any
    b: Any


@dataclass(frozen=True, slots=True)
class WaveformDifference(Difference):
    """A waveform's levels that differ: a and b are the two lengths, and where
    they are equal, how many levels differ, the first and the last sample
    that does, and the largest difference in levels (else None)."""

    differing: int | None
    first: int | None
    last: int | None
    max_abs: int | None

    @property
    def first_s(self) -> float | None:
        """When the first differing sample plays, in seconds at 5000 samples/s."""
        return None if self.first is None else self.first / _native.SAMPLING_RATE

    @property
    def last_s(self) -> float | None:
        """When the last differing sample plays, in seconds."""
        return None if self.last is None else self.last / _native.SAMPLING_RATE


@dataclass(frozen=True, slots=True)
class Route:
    """Who receives what: a coil's amplitude ("A1" ... "B2") or a channel's
    modulation ("A modulation"), the source it is set to, the signal of the
    table that it names (None for an external input or a signal the table
    lacks), and what it receives, in the words of ``drel show --routing``."""

    channel: Literal["A", "B"]
    role: Literal["amplitude1", "amplitude2", "modulation"]
    name: str
    source: SignalSourceSelection
    signal: Signal | None
    receives: str


@dataclass(frozen=True, slots=True, repr=False)
class Settings:
    """A protocol file's content."""

    running_on_target_machine: bool
    machine_config: MachineConfig
    intensity: float
    session_duration: float
    signals: tuple[Signal, ...]
    channel_a_settings: ChannelSettings
    channel_b_settings: ChannelSettings
    monitor_trace_visible: tuple[bool, ...]
    monitor_subsampling_factor: int

    def __str__(self) -> str:
        """The text form, as str() of the protocol that saved it shows it and ``drel show`` prints it."""
        return _native.text(self)

    def __repr__(self) -> str:
        n = len(self.signals)
        on = [c for c, s in (("A", self.channel_a_settings), ("B", self.channel_b_settings)) if s.enabled]
        return (f"<drel.Settings: intensity {self.intensity!r}, session {self.session_duration!r} s, "
                f"{n} signal{'' if n == 1 else 's'}, channels on: {', '.join(on) or 'none'}>")

    @property
    def num_samples(self) -> int:
        """The session's sample count, as pydrel's get_num_samples() computes it.
        ValueError when the duration is not positive."""
        return _native.sample_count(self.session_duration)

    def check(self) -> list[Finding]:
        """What ``drel check`` finds in the protocol, in the same order and words."""
        return [Finding(severity, message) for severity, message in _native.check(self)]

    def routing(self) -> list[Route]:
        """The six routes, A1, A2, A modulation, B1, B2, B modulation, as
        ``drel show --routing`` shows them."""
        settings = _native.validated(self)
        return [Route(channel, role, name, getattr(getattr(settings, f"channel_{channel.lower()}_settings"),
                                                   f"{role}_source"),
                      None if index is None else settings.signals[index], receives)
                for channel, role, name, _label, index, receives in _native.routes(settings)]

    def to_svg(self, name: str = "") -> str:
        """The protocol as an SVG picture, as ``drel plot`` draws it; ``name``
        goes into the title."""
        return _native.svg(self, name)

    def _repr_html_(self) -> str:
        """The notebook display: the session, the routing, the findings and the picture, with no scripts."""
        from ._seeing import html

        return html(self)

    def plot(self, ax: Any = None) -> Any:
        """The picture's lanes drawn with matplotlib, into ``ax`` or a new
        figure; returns the Figure. Needs matplotlib
        (``pip install pydrel[plot]``)."""
        from ._seeing import plot

        return plot(self, ax)

    def to_json(self, summary: bool = False) -> str:
        """The protocol as one JSON object, as ``drel show --json`` prints it (with
        ``summary``, as ``drel show --json --summary``): the fields of the text
        form in its order, each signal an object with one key, its kind, and
        NaN and the infinities as the strings "NaN" ("-NaN" with its sign bit
        set), "inf" and "-inf"."""
        return _native.json(self, bool(summary))

    def to_protocol(self) -> pydrel.Protocol:
        """A new pydrel.Protocol, composed through its methods, whose save()
        writes the bytes this was loaded from. NotComposable for what the
        methods cannot make."""
        from ._compose import to_protocol

        return to_protocol(self)


_STEP = re.compile(r"\.?([a-z_0-9]+)|\[(\d+)\]")


def _at(record: Any, path: str) -> Any:
    """The value at a path of the text form in a record."""
    for name, index in _STEP.findall(path):
        record = getattr(record, name) if name else record[int(index)]
    return record


def diff(a: Settings, b: Settings) -> list[Difference]:
    """What differs from ``a`` to ``b``, loaded or made by hand: the
    differences that ``drel diff --json`` gives for their files, in its
    order; ``[]`` when the two are equal to the bit (floats compare bit for
    bit, so a NaN's payload and the sign of zero count)."""
    found = _native.diff(a, b)
    if not found:
        return []
    a, b = _native.validated(a), _native.validated(b)
    out: list[Difference] = []
    for kind, path, a_count, b_count, levels, side in found:
        if kind == "levels":
            out.append(WaveformDifference(path, a_count, b_count, *(levels or (None,) * 4)))
        elif kind == "count":
            out.append(Difference(path, a_count, b_count))
        elif kind == "only_in":
            out.append(Difference(path, _at(a, path) if side == "a" else None, _at(b, path) if side == "b" else None))
        else:
            out.append(Difference(path, _at(a, path), _at(b, path)))
    return out


def from_json(text: str | Buffer) -> Settings:
    """The protocol in its JSON (a str, or any bytes-like object of UTF-8, as
    ``loads()`` takes), as
    ``drel show --json`` and ``Settings.to_json()`` write it and
    ``drel compose`` reads it: keys in any order, and a field left out as a new pydrel.Protocol has
    it. ``from_json(s.to_json())`` equals ``s``. JSONError, with the line,
    the column and the field (and a note where the mistake has a common
    fix), for what is no protocol's JSON; whether
    pydrel's methods can compose it, ``to_protocol()`` tells."""
    return _native.from_json(text)


def json_schema() -> dict[str, Any]:
    """The JSON Schema (draft 2020-12) of a protocol's JSON, for editors and
    validators; ``drel show --json-schema`` prints it."""
    result: dict[str, Any] = json.loads(_native.json_schema())
    return result


def loads(data: Buffer) -> Settings:
    """The protocol in a bytes-like object. DecodeError for bytes that are not one."""
    return _native.loads(data)


def load(path: str | os.PathLike[str]) -> Settings:
    """The protocol in the file at ``path``, read through a fixed buffer.
    DecodeError for a file that is not one; OSError (FileNotFoundError,
    IsADirectoryError, ...) with the path for a file that cannot be read."""
    return _native.load(path)


_native.bind({cls.__name__: cls for cls in (Settings, MachineConfig, Coil, LCSetting, ChannelSettings,
                                               SignalSourceSelection, Constant, Sine, Ramp, MixedSignal, Arbitrary)},
             DecodeError, JSONError, NotComposable)
