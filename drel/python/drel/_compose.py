"""Composing a pydrel.Protocol, through its public methods, that saves the
bytes of a loaded protocol file. What the methods can compose, and with
which calls, is the protocol library's rule (_native.composition), which
drel compose follows too."""

from __future__ import annotations

import pydrel

from . import Arbitrary, Constant, MixedSignal, Ramp, Settings, Sine, _native

# The source setters and their targets, in the order of the routes: A1, A2,
# A modulation, B1, B2, B modulation.
TARGETS = [("set_amplitude_source", pydrel.Coil.A1), ("set_amplitude_source", pydrel.Coil.A2),
           ("set_modulation_source", pydrel.Channel.A), ("set_amplitude_source", pydrel.Coil.B1),
           ("set_amplitude_source", pydrel.Coil.B2), ("set_modulation_source", pydrel.Channel.B)]


def to_protocol(settings: Settings) -> pydrel.Protocol:
    # The rule of str() and check() first: from here on every value is of its
    # exact type, every sequence a tuple and every waveform an int16 array.
    settings = _native.validated(settings)
    durations, sources = _native.composition(settings)  # NotComposable, naming the first field in the way
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
    for (setter, target), (index, external) in zip(TARGETS, sources):
        getattr(p, setter)(target, index, external)
    return p
