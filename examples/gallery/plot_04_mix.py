"""
A mix of two signals
====================

A mix names two entries of the signal table: here a 40 Hz sine and a slow
ramp, mixed for the amplitude of channel A's first coil. A mix may name
entries added after it.
"""

import drel
import pydrel
from pydrel import Coil

p = pydrel.Protocol()
p.set_session_duration(60.0)
p.set_stimulation_intensity(0.15)
mix = p.add_mixed_signal(1, 2)        # signals 1 and 2, added next
p.add_sine_signal(1.0, 40.0)          # 1
p.add_ramp_signal(1.0, 10.0, 10.0)    # 2
p.set_amplitude_source(Coil.A1, mix)
p.set_amplitude_source(Coil.A2, 1)
p.save("mix.drel")

settings = drel.load("mix.drel")
print(settings.check() or "drel check finds nothing")
settings.plot()
