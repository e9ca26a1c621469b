"""Composing a pydrel.Protocol, through its public methods, that saves the
bytes of a loaded protocol file."""

from __future__ import annotations

import dataclasses
import math
import struct
from typing import Any

import pydrel

from . import Arbitrary, Constant, MixedSignal, NotComposable, Ramp, Settings, SignalSourceSelection, Sine, _native


def same(a: Any, b: Any) -> bool:
    """Equal to the bit: -0.0 is not 0.0, and NaNs compare by payload."""
    if isinstance(a, float) and isinstance(b, float):
        return struct.pack("<d", a) == struct.pack("<d", b)
    return type(a) is type(b) and a == b


def first_difference(value: Any, new: Any, path: str) -> str | None:
    """Where `value` first differs from what a new Protocol has, field by field."""
    if dataclasses.is_dataclass(value) and type(value) is type(new):
        for f in dataclasses.fields(value):
            if found := first_difference(getattr(value, f.name), getattr(new, f.name), f"{path}.{f.name}"):
                return found
        return None
    if isinstance(value, tuple) and isinstance(new, tuple) and len(value) == len(new):
        for i, (v, n) in enumerate(zip(value, new)):
            if found := first_difference(v, n, f"{path}[{i}]"):
                return found
        return None
    if same(value, new):
        return None
    return f"{path} is {value!r}, but a new pydrel.Protocol has {new!r}, and no method changes it"


def duration_of(samples: int) -> float | None:
    """A session duration that set_session_duration() takes and that has `samples` samples."""
    d = samples / _native.SAMPLING_RATE
    for candidate in (d, math.nextafter(d, 0.0), math.nextafter(d, math.inf)):
        if _native.refusal("session_duration", candidate) is None and _native.sample_count(candidate) == samples:
            return candidate
    return None


def plain(source: SignalSourceSelection) -> tuple[int, bool] | None:
    """The index and the flag that the source setters take to write `source`,
    or None for a form they never write: the number not selected is always 0."""
    if source.external_selected:
        return (source.external, True) if source.internal == 0 else None
    return (source.internal, False) if source.external == 0 else None


class Plan:
    """The calls that compose a protocol, found field by field in declaration
    order, so that what cannot be composed is named at its first field."""

    def __init__(self, settings: Settings) -> None:
        self.durations: dict[int, float] = {}  # of the sessions the waveforms were made for
        self.sources: list[tuple[str, object, tuple[int, bool]]] = []
        new = _native.new_protocol()
        for f in dataclasses.fields(Settings):
            value = getattr(settings, f.name)
            if f.name in ("intensity", "session_duration"):
                self.setting(f.name, value)
            elif f.name == "signals":
                self.signals(value)
            elif f.name in ("channel_a_settings", "channel_b_settings"):
                self.channel(f.name, value, getattr(new, f.name))
            elif problem := first_difference(value, getattr(new, f.name), f.name):
                raise NotComposable(problem)

    def setting(self, name: str, value: float) -> None:
        if (check := _native.refusal(name, value)) is not None:
            setter = "set_stimulation_intensity" if name == "intensity" else "set_session_duration"
            raise NotComposable(f"{name} is {value!r}, which {setter}() refuses: {check}")

    def signals(self, signals: tuple[object, ...]) -> None:
        if not signals:
            raise NotComposable("signals is empty, but a saved pydrel.Protocol holds at least one signal")
        for i, signal in enumerate(signals):
            if not isinstance(signal, Arbitrary):
                continue
            levels = signal.samples
            if len(levels) and levels.min() < 0:
                first = int((levels < 0).argmax())
                raise NotComposable(f"signals[{i}].samples[{first}] is {levels[first]}, but "
                                    "add_arbitrary_signal() makes levels from 0 to 32767")
            if len(levels) not in self.durations:
                duration = duration_of(len(levels))
                if duration is None:
                    raise NotComposable(f"signals[{i}].samples has {len(levels)} levels, but no session that "
                                        "set_session_duration() takes has that many samples")
                self.durations[len(levels)] = duration

    def channel(self, name: str, channel: Any, new: Any) -> None:
        b = name == "channel_b_settings"
        coils = (pydrel.Coil.B1, pydrel.Coil.B2) if b else (pydrel.Coil.A1, pydrel.Coil.A2)
        targets = {"amplitude1_source": ("set_amplitude_source", coils[0]),
                   "amplitude2_source": ("set_amplitude_source", coils[1]),
                   "modulation_source": ("set_modulation_source", pydrel.Channel.B if b else pydrel.Channel.A)}
        for f in dataclasses.fields(channel):
            value = getattr(channel, f.name)
            if f.name in targets:
                setter, target = targets[f.name]
                if (written := plain(value)) is None:
                    raise NotComposable(f"{name}.{f.name} is {value!r}, which {setter}() never writes: it sets the "
                                        "number not selected to 0")
                self.sources.append((setter, target, written))
            elif not (b and f.name == "enabled"):  # enable_channel() switches B on
                if problem := first_difference(value, getattr(new, f.name), f"{name}.{f.name}"):
                    raise NotComposable(problem)


def to_protocol(settings: Settings) -> pydrel.Protocol:
    # The rule of str() and check() first: from here on every value is of its
    # exact type, every sequence a tuple and every waveform an int16 array.
    settings = _native.validated(settings)
    plan = Plan(settings)
    p = pydrel.Protocol()
    p.set_stimulation_intensity(settings.intensity)
    for signal in settings.signals:
        match signal:
            case Constant(value):
                p.add_constant_signal(value)
            case Sine(amplitude, frequency, phase, depth):
                p.add_sine_signal(amplitude, frequency, phase, depth)
            case Ramp(peak, up, down):
                p.add_ramp_signal(peak, up, down)
            case MixedSignal(a, b):
                p.add_mixed_signal(a, b)  # indices are stored as given, later signals too
            case Arbitrary(samples):
                # A waveform stands for the session it was made for, which may
                # have been lengthened or shortened since.
                p.set_session_duration(plan.durations[len(samples)])
                p.add_arbitrary_signal(_native.fractions(samples))
    p.set_session_duration(settings.session_duration)
    if settings.channel_b_settings.enabled:
        p.enable_channel(pydrel.Channel.B)
    for setter, target, (index, external) in plan.sources:
        getattr(p, setter)(target, index, external)
    return p
