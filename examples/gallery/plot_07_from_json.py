"""
A protocol from JSON
====================

JSON made in any language (here, Python's own ``json``) becomes the file
that pydrel would have saved: ``drel.from_json()`` reads it, as ``drel
compose`` does, and fields left out keep a new protocol's values.
"""

import json

import drel

text = json.dumps({
    "session_duration": 120.0,
    "intensity": 0.2,
    "signals": [{"Sine": {"amplitude": 1.0, "frequency": 10.0}},
                {"Ramp": {"peak": 1.0, "up_duration": 20.0, "down_duration": 20.0}}],
    "channel_a_settings": {"amplitude1_source": {"internal": 0}, "modulation_source": {"internal": 1}},
})
settings = drel.from_json(text)
settings.to_protocol().save("from_json.drel")
print(drel.load("from_json.drel") == settings)
settings.plot()
