"""
Two channels and an external input
==================================

Channel A stimulates with a sine, channel B takes the amplitude of its first
coil from the stimulator's external input 2 (an amplifier, say) and a
constant on its second; both channels share one modulation.
"""

import numpy as np

import drel
import pydrel
from pydrel import Channel, Coil

p = pydrel.Protocol()
p.set_session_duration(5 * 60)
p.set_stimulation_intensity(0.2)
p.enable_channel(Channel.B)
sine = p.add_sine_signal(1.0, 6.0)
half = p.add_constant_signal(0.5)
t = np.arange(p.get_num_samples()) / p.get_sampling_rate()
swell = p.add_arbitrary_signal(0.5 + 0.5 * np.sin(2 * np.pi * t / 60.0))  # one swell a minute
p.set_amplitude_source(Coil.A1, sine)
p.set_amplitude_source(Coil.A2, sine)
p.set_amplitude_source(Coil.B1, 2, external=True)
p.set_amplitude_source(Coil.B2, half)
p.set_modulation_source(Channel.A, swell)
p.set_modulation_source(Channel.B, swell)
p.save("two_channels.drel")

settings = drel.load("two_channels.drel")
for route in settings.routing():
    print(f"{route.name:13} <- {route.receives}")
settings.plot()
