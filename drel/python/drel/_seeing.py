"""Seeing a protocol: its notebook display and its lanes drawn with matplotlib."""

from __future__ import annotations

import html as _html
from typing import TYPE_CHECKING, Any

from . import Arbitrary, Constant, _native

if TYPE_CHECKING:
    from . import Settings

SAMPLING_RATE = 5000.0
FULL_SCALE = 32767.0
COLUMNS = 880


def html(settings: Settings) -> str:
    """A fragment of HTML with no scripts: the session, a table of the routes,
    the findings and the picture inline."""
    e = _html.escape
    rows = []
    for route in settings.routing():
        channel = getattr(settings, f"channel_{route.channel.lower()}_settings")
        label = route.name + ("" if route.role == "modulation" else " amplitude")
        rows.append(f"<tr><td>{e(route.channel)}{'' if channel.enabled else ' (off)'}</td><td>{e(label)}</td>"
                    f"<td>{e(route.receives)}</td></tr>")
    findings = settings.check()
    shown = "".join(f"<li><b>{e(f.severity)}</b>: {e(f.message)}</li>" for f in findings[:24])
    more = f"<li>and {len(findings) - 24} more, which drel check lists</li>" if len(findings) > 24 else ""
    n = len(settings.signals)
    return (
        '<div class="drel-protocol">'
        f"<p><b>Protocol</b>: session {e(repr(settings.session_duration))} s, intensity "
        f"{e(repr(settings.intensity))}, {n} signal{'' if n == 1 else 's'}</p>"
        "<table><thead><tr><th>channel</th><th>route</th><th>receives</th></tr></thead><tbody>"
        + "".join(rows) + "</tbody></table>"
        + (f"<p>What drel check finds:</p><ul>{shown}{more}</ul>" if findings else "<p>drel check finds nothing.</p>")
        + settings.to_svg()
        + "</div>"
    )


def plot(settings: Settings, ax: Any = None) -> Any:
    try:
        import matplotlib.pyplot as plt
        from matplotlib.patches import Rectangle
    except ImportError as e:
        raise ImportError("Settings.plot() needs matplotlib: pip install pydrel[plot]") from e
    import numpy as np

    routes = settings.routing()
    session = settings.num_samples if settings.session_duration > 0 else 0
    span = max([session] + [len(r.signal.samples) for r in routes if isinstance(r.signal, Arbitrary)])
    seconds = span / SAMPLING_RATE
    if ax is None:
        _, ax = plt.subplots(figsize=(11, 6))
    ticks, labels = [], []
    for k, route in enumerate(routes):
        bottom = len(routes) - 1 - k  # A1 on top
        ticks.append(bottom + 0.4)
        enabled = getattr(settings, f"channel_{route.channel.lower()}_settings").enabled
        labels.append(route.name + ("" if route.role == "modulation" else " amplitude") + ("" if enabled else " (off)"))
        signal = route.signal
        if isinstance(signal, Arbitrary) and len(signal.samples):
            low, high = _native.envelope(signal.samples, COLUMNS, span)
            edges = np.arange(len(high) + 1) * (span / COLUMNS) / SAMPLING_RATE
            colour = "#e07000" if len(signal.samples) != session else "#1f5fbf"  # stale: another length
            top, base = bottom + 0.8 * high / FULL_SCALE, bottom + 0.8 * low / FULL_SCALE
            ax.stairs(top, edges, baseline=base, fill=True, color=colour, alpha=0.85)
            for edge in (top, base):  # where the two meet, the fill has no height
                ax.stairs(edge, edges, baseline=None, color=colour, linewidth=1)
        elif isinstance(signal, Constant):
            ax.hlines(bottom + 0.8 * min(max(signal.value, 0.0), 1.0), 0, seconds, color="#1f5fbf")
        else:
            external = route.source.external_selected
            ax.add_patch(Rectangle((0, bottom + 0.25), seconds, 0.3, facecolor="#f3efe3" if external else "#dfe8f6",
                                   edgecolor="#d8cfb0" if external else "none", hatch="//" if external else None))
        ax.text(seconds * 0.005, bottom + 0.7, route.receives, fontsize=8, va="center")
    ax.set_yticks(ticks, labels)
    ax.set_xlim(0, seconds)
    ax.set_ylim(-0.1, len(routes))
    ax.set_xlabel("seconds")
    ax.set_title(f"session {settings.session_duration!r} s, intensity {settings.intensity!r}")
    return ax.figure
