"""Mistakes that mypy must report, one a line (the test pins each)."""

import pydrel

p = pydrel.Protocol()
p.enable_channel(pydrel.Coil.A1)
p.set_session_duration("session.drel")
p.add_arbitrary_signal([0.5] * 300000)
p.add_sine_signal(1.0)
