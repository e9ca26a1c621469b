"""Compose a two-minute protocol and save it as a .drel file.

    python3.14 examples/compose_protocol.py [OUTPUT.drel]
"""

import os
import sys

import numpy as np

import pydrel
from pydrel import Channel, Coil

output = sys.argv[1] if len(sys.argv) > 1 else "example_protocol.drel"

protocol = pydrel.Protocol()
protocol.set_session_duration(120.0)  # seconds, 0.01 to 1800
protocol.set_stimulation_intensity(0.5)  # fraction of full scale
protocol.enable_channel(Channel.B)  # channel A is on from the start

# A 10 Hz sine for the amplitudes of channel A's coils.
sine = protocol.add_sine_signal(1.0, 10.0)

# A waveform with one sample per 1/5000 s of the session: a slow swell that
# rises over the first half and falls over the second, between 0.0 and 1.0.
n = protocol.get_num_samples()
t = np.arange(n) / protocol.get_sampling_rate()
swell = 0.5 - 0.5 * np.cos(2 * np.pi * t / 120.0)
envelope = protocol.add_arbitrary_signal(swell)

protocol.set_amplitude_source(Coil.A1, sine)
protocol.set_amplitude_source(Coil.A2, sine)
protocol.set_amplitude_source(Coil.B1, 2, external=True)  # external input 2
protocol.set_modulation_source(Channel.A, envelope)
protocol.set_modulation_source(Channel.B, envelope)

text = str(protocol).splitlines()
start = text.index("        intensity: 0.5,")
print("\n".join(text[start : start + 14]))
print(f"    ... ({len(text)} lines in all)")

protocol.save(output)
size = os.path.getsize(output)
print(f"saved {os.path.abspath(output)} ({size} bytes): signal {sine} is the sine, signal {envelope} the {n}-sample swell")
