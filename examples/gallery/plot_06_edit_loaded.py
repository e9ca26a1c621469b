"""
Editing a loaded protocol
=========================

A protocol file read back is a tree of frozen dataclasses:
``dataclasses.replace()`` makes a changed copy, ``drel.diff()`` says what
changed, and ``to_protocol()`` composes the copy into a pydrel.Protocol that
saves it.
"""

import dataclasses

import numpy as np

import drel
import pydrel
from pydrel import Channel, Coil

p = pydrel.Protocol()
p.set_session_duration(90.0)
p.set_stimulation_intensity(0.2)
sine = p.add_sine_signal(1.0, 10.0)
p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
p.set_amplitude_source(Coil.A1, sine)
p.set_modulation_source(Channel.A, 1)
p.save("original.drel")

original = drel.load("original.drel")
faster = dataclasses.replace(original.signals[0], frequency=20.0)
edited = dataclasses.replace(original, intensity=0.25,
                             signals=(faster, *original.signals[1:]))
for difference in drel.diff(original, edited):
    print(f"{difference.path}: {difference.a} -> {difference.b}")
edited.to_protocol().save("edited.drel")
drel.load("edited.drel").plot()
