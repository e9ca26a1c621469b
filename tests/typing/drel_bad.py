"""Mistakes that mypy must report, one a line (the test pins each)."""

import drel

settings = drel.loads(b"")
settings.intensity = 0.5
drel.loads(5)
