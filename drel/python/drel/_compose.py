"""Composing a pydrel.Protocol, through its public methods, that saves the
bytes of a loaded protocol file. What the methods can compose, and with
which calls, is the protocol library's rule (_native.composition), which
drel compose follows too; the library says which field stands in the way,
and this words it with the records' reprs."""

from __future__ import annotations

from typing import Any

import pydrel

from . import Arbitrary, Constant, MixedSignal, NotComposable, Ramp, Settings, Sine, _at, _native


def refusal(settings: Settings, reason: str, path: str, method: str, check: str, level: int, count: int,
            note: str) -> NotComposable:
    """NotComposable for the field that the library found in the way, with its note."""
    value = lambda: _at(settings, path)  # noqa: E731
    if reason == "unchanged":
        fresh = _at(_native.from_json(b"{}"), path)
        message = f"{path} is {value()!r}, but a new pydrel.Protocol has {fresh!r}, and no method changes it"
    elif reason == "refused":
        message = f"{path} is {value()!r}, which {method}() refuses: {check}"
    elif reason == "never_written":
        message = f"{path} is {value()!r}, which {method}() never writes: it sets the number not selected to 0"
    elif reason == "no_signals":
        message = "signals is empty, but a saved pydrel.Protocol holds at least one signal"
    elif reason == "level_outside":
        message = f"{path} is {level}, but add_arbitrary_signal() makes levels from 0 to {_native.MAX_LEVEL}"
    else:
        message = (f"{path} has {count} levels, but no session that set_session_duration() takes has that many "
                   "samples")
    error = NotComposable(message)
    if note:
        error.add_note(note)
    return error


def _target(name: str) -> Any:
    return getattr(pydrel.Coil if len(name) == 2 else pydrel.Channel, name)


def to_protocol(settings: Settings) -> pydrel.Protocol:
    # The rule of str() and check() first: from here on every value is of its
    # exact type, every sequence a tuple and every waveform an int16 array.
    settings = _native.validated(settings)
    durations, sources, refused = _native.composition(settings)
    if refused is not None:
        raise refusal(settings, *refused)
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
                p.set_session_duration(durations[len(samples)])
                p.add_arbitrary_signal(_native.fractions(samples))
    p.set_session_duration(settings.session_duration)
    if settings.channel_b_settings.enabled:
        p.enable_channel(pydrel.Channel.B)
    # The routes in the library's order, each with its setter and the member it names.
    for setter, target, index, external in sources:
        getattr(p, setter)(_target(target), index, external)
    return p
