"""
A stale waveform that drel check catches
========================================

A waveform holds one level per sample of the session it was made for. Made
for a 2-minute session that was then lengthened to 3 minutes, it covers two
thirds of it: pydrel's methods cannot see that, drel check can, and the
picture draws it in orange, marked stale.
"""

import numpy as np

import drel
import pydrel
from pydrel import Channel, Coil

p = pydrel.Protocol()
p.set_session_duration(120.0)
swell = p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
p.set_session_duration(180.0)  # now 900000 samples, the waveform 600000
sine = p.add_sine_signal(1.0, 10.0)
p.set_amplitude_source(Coil.A1, sine)
p.set_modulation_source(Channel.A, swell)
p.save("stale.drel")

settings = drel.load("stale.drel")
for finding in settings.check():
    print(f"{finding.severity}: {finding.message}")
settings.plot()
