"""Correct uses of pydrel, which mypy --strict must accept as they are."""

import os
import pathlib

import numpy as np

import pydrel
from pydrel import Channel, Coil


def compose(path: pathlib.Path) -> str:
    p = pydrel.Protocol()
    p.set_session_duration(120)  # an int is a float here
    p.set_stimulation_intensity(np.float64(0.25))
    p.enable_channel(Channel.B)
    sine: int = p.add_sine_signal(1.0, 10.0, depth=0.5)
    swell = p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples(), dtype=np.float64))
    mixed = p.add_mixed_signal(sine, np.int64(swell))
    p.add_constant_signal(0.0)
    p.add_ramp_signal(peak=1.0, up_duration=0.5, down_duration=0.5)
    p.set_amplitude_source(Coil.A1, sine)
    p.set_amplitude_source(Coil.B2, 2, external=True)
    p.set_modulation_source(Channel.A, mixed, np.True_)
    rate: float = p.get_sampling_rate()
    assert rate == 5000.0 and int(Coil.B1) == 2 and int(Channel.A) == 0
    p.save(os.fspath(path))
    return str(p)


try:
    pydrel.Protocol().set_session_duration(0.0)
except BaseException as e:  # PanicException
    if type(e).__name__ != "PanicException":
        raise
