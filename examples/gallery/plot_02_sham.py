"""
A sham protocol
===============

A sham session ramps the stimulation up and down, so that it feels like the
real one, then gives nothing for the rest of its 20 minutes.
"""

import numpy as np

import drel
import pydrel
from pydrel import Channel, Coil

p = pydrel.Protocol()
p.set_session_duration(20 * 60)
p.set_stimulation_intensity(0.25)
sine = p.add_sine_signal(1.0, 10.0)
t = np.arange(p.get_num_samples()) / p.get_sampling_rate()
up_and_down = np.clip(1.0 - np.abs(t - 30.0) / 30.0, 0.0, 1.0)  # 30 s up, 30 s down, then 0
sham = p.add_arbitrary_signal(up_and_down)
p.set_amplitude_source(Coil.A1, sine)
p.set_amplitude_source(Coil.A2, sine)
p.set_modulation_source(Channel.A, sham)
p.save("sham.drel")

settings = drel.load("sham.drel")
print(settings.check() or "drel check finds nothing")
settings.plot()
