"""
A 10 Hz sine with 30-second ramps
=================================

A 20-minute session of a 10 Hz sine on both coils of channel A, whose
strength a waveform ramps up over the first 30 seconds, holds, and ramps
down over the last 30.
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
ramps = np.clip(np.minimum(t, t[-1] - t) / 30.0, 0.0, 1.0)  # fractions of full scale
swell = p.add_arbitrary_signal(ramps)
p.set_amplitude_source(Coil.A1, sine)
p.set_amplitude_source(Coil.A2, sine)
p.set_modulation_source(Channel.A, swell)
p.save("ramped_sine.drel")

# %%
# What drel check finds, and the picture.
settings = drel.load("ramped_sine.drel")
print(settings.check() or "drel check finds nothing")
settings.plot()
