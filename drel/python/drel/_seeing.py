"""Seeing a protocol: its notebook display and its lanes drawn with matplotlib.
What they show and how (the sampling rate, full scale, the picture's
columns, colours, lane labels and the cap on findings) is the native
picture's, from _native."""

from __future__ import annotations

import html as _html
from typing import TYPE_CHECKING, Any

from . import Arbitrary, Constant, _native

if TYPE_CHECKING:
    from . import Settings

COLOURS = _native.COLOURS


def ordered(findings: list[tuple[str, str]]) -> list[tuple[str, str]]:
    """Errors first, then warnings, as the picture lists them: warnings never hide an error."""
    return [f for f in findings if f[0] == "error"] + [f for f in findings if f[0] != "error"]


def html(settings: Settings) -> str:
    """A fragment of HTML with no scripts: the session, a table of the routes,
    the findings and the picture inline, from one reading of the record."""
    routes, findings, picture = _native.seeing(settings)
    e = _html.escape
    on = {"A": settings.channel_a_settings.enabled, "B": settings.channel_b_settings.enabled}
    rows = "".join(f"<tr><td>{e(channel)}{'' if on[channel] else ' (off)'}</td><td>{e(label)}</td>"
                   f"<td>{e(receives)}</td></tr>" for channel, _, _, label, _, receives in routes)
    cap = _native.FINDINGS_SHOWN
    shown = "".join(f"<li><b>{e(severity)}</b>: {e(message)}</li>" for severity, message in ordered(findings)[:cap])
    more = f"<li>and {len(findings) - cap} more, which drel check lists</li>" if len(findings) > cap else ""
    n = len(settings.signals)
    return (
        '<div class="drel-protocol">'
        f"<p><b>Protocol</b>: session {e(repr(settings.session_duration))} s, intensity "
        f"{e(repr(settings.intensity))}, {n} signal{'' if n == 1 else 's'}</p>"
        "<table><thead><tr><th>channel</th><th>route</th><th>receives</th></tr></thead><tbody>"
        + rows + "</tbody></table>"
        + (f"<p>What drel check finds:</p><ul>{shown}{more}</ul>" if findings else "<p>drel check finds nothing.</p>")
        + picture
        + "</div>"
    )


# A lane is one unit high: the curve in its lower part, what it receives
# written above the curve, in the gap to the next lane.
CURVE = 0.72
TEXT = 0.86


def plot(settings: Settings, ax: Any = None) -> Any:
    try:
        import matplotlib.pyplot as plt
        from matplotlib.patches import Rectangle
    except ImportError as e:
        raise ImportError("Settings.plot() needs matplotlib: pip install pydrel[plot]") from e
    import numpy as np

    settings = _native.validated(settings)
    routes = _native.routes(settings)
    signals = [None if index is None else settings.signals[index] for *_, index, _ in routes]
    # The time axis is the native picture's: a session that no axis can draw
    # (NaN, infinite, not positive, beyond 2**53 samples) is marked so.
    span, session = _native.time_axis(settings)
    rate, full_scale, columns = _native.SAMPLING_RATE, float(_native.MAX_LEVEL), _native.COLUMNS
    seconds = span / rate
    if ax is None:
        _, ax = plt.subplots(figsize=(11, 6.5))
    ticks, labels = [], []
    for k, ((channel, role, _, label, _, receives), signal) in enumerate(zip(routes, signals)):
        bottom = len(routes) - 1 - k  # A1 on top
        ticks.append(bottom + CURVE / 2)
        enabled = getattr(settings, f"channel_{channel.lower()}_settings").enabled
        labels.append(label + ("" if enabled else " (off)"))
        source = getattr(getattr(settings, f"channel_{channel.lower()}_settings"), f"{role}_source")
        if isinstance(signal, Arbitrary) and len(signal.samples) and not source.external_selected:
            low_level, high_level = _native.envelope(signal.samples, columns, span)
            # Negative levels, which a file may hold, are drawn as they are,
            # on a scale from -1 to 1.
            low_end = -1.0 if signal.samples.min() < 0 else 0.0
            def y(levels):
                return bottom + CURVE * (levels / full_scale - low_end) / (1.0 - low_end)
            edges = np.arange(len(high_level) + 1) * (span / columns) / rate
            colour = COLOURS["stale"] if len(signal.samples) != session else COLOURS["waveform"]
            top, base = y(high_level), y(low_level)
            ax.stairs(top, edges, baseline=base, fill=True, color=colour, alpha=0.85)
            for edge in (top, base):  # where the two meet, the fill has no height
                ax.stairs(edge, edges, baseline=None, color=colour, linewidth=1)
            if low_end < 0:
                ax.hlines(bottom + CURVE / 2, 0, seconds, color="#999999", linewidth=0.6, linestyles="dotted")
        elif isinstance(signal, Constant) and not source.external_selected and not np.isfinite(signal.value):
            # No height stands for NaN or an infinity: a marked gap, and the value in words.
            ax.add_patch(Rectangle((0, bottom + 0.18), seconds, 0.36, fill=False, edgecolor=COLOURS["error"],
                                   linestyle="--"))
            ax.text(seconds / 2, bottom + 0.36, f"a constant of {signal.value!r}, which has no height to draw",
                    fontsize=8, ha="center", va="center", color=COLOURS["error"])
        elif isinstance(signal, Constant) and not source.external_selected:
            ax.hlines(bottom + CURVE * min(max(signal.value, 0.0), 1.0), 0, seconds, color=COLOURS["constant"])
        else:
            external = source.external_selected
            ax.add_patch(Rectangle((0, bottom + 0.18), seconds, 0.36,
                                   facecolor=COLOURS["external"] if external else COLOURS["band"],
                                   edgecolor=COLOURS["external_edge"] if external else "none",
                                   hatch="//" if external else None))
        ax.text(seconds * 0.005, bottom + TEXT, receives, fontsize=8, va="center")
    ax.set_yticks(ticks, labels)
    ax.set_xlim(0, seconds)
    ax.set_ylim(-0.1, len(routes))
    # The session's end, labelled on the time axis among the ticks.
    if session is None:
        ax.text(seconds * 0.5, len(routes) - 0.05, f"a session of {settings.session_duration!r} s, which no time axis "
                "can draw", fontsize=9, ha="center", va="top", color=COLOURS["error"])
    elif (end := session / rate) > 0:
        near = 0.06 * seconds  # ticks that would crowd the end's label go
        kept = [t for t in ax.get_xticks() if 0 <= t <= seconds and abs(t - end) > near]
        ax.set_xticks(kept + [end], [f"{t:g}" for t in kept] + [f"{end:g} (end)"])
        if end < seconds:
            ax.axvline(end, color=COLOURS["error"], linestyle="--", linewidth=1)
    ax.set_xlabel("seconds")
    ax.set_title(f"session {settings.session_duration!r} s, intensity {settings.intensity!r}")
    return ax.figure
