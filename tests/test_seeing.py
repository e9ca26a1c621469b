"""Seeing a protocol: who receives what (drel show --routing, Settings.routing()),
waveforms by their exact envelope, and the picture (drel plot, to_svg(), the
notebook display, plot()), looked at in a real browser."""

import dataclasses
import html.parser
import os
import re
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET

import numpy as np
import pytest

import drel
import pydrel
from drel_reader import write_settings
from test_drel import drel as run_drel, saved

R = dataclasses.replace
SINE = "Sine amplitude 1.0, frequency 10.0, phase 0.0, depth 1.0"


def tour(p):
    """The README's tour at 2 s, with a constant and a mix left unused."""
    p.set_session_duration(2.0)
    p.enable_channel(pydrel.Channel.B)
    p.add_sine_signal(1.0, 10.0)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    p.add_constant_signal(0.5)
    p.add_mixed_signal(0, 1)
    p.set_amplitude_source(pydrel.Coil.A1, 0)
    p.set_amplitude_source(pydrel.Coil.B1, 2, external=True)
    p.set_modulation_source(pydrel.Channel.A, 1)


def mixes(p):
    p.add_constant_signal(1.0)  # 0
    p.add_mixed_signal(0, 9)  # 1: a signal the table lacks
    p.add_mixed_signal(3, 1)  # 2: a mix in a cycle, and a mix
    p.add_mixed_signal(2, 3)  # 3: itself
    p.set_amplitude_source(pydrel.Coil.A1, 1)
    p.set_amplitude_source(pydrel.Coil.A2, 2)
    p.set_modulation_source(pydrel.Channel.A, 3)


def missing(p):
    p.add_constant_signal(0.25)
    p.set_amplitude_source(pydrel.Coil.A1, 7)
    p.set_amplitude_source(pydrel.Coil.A2, 6, external=True)
    p.set_amplitude_source(pydrel.Coil.B1, 0)  # channel B is off


def gaps(p):
    """Nine constants of which A uses 0, 2, 6 and 8 (B, off, uses 7)."""
    for k in range(9):
        p.add_constant_signal(k / 8)
    p.set_amplitude_source(pydrel.Coil.A1, 0)
    p.set_amplitude_source(pydrel.Coil.A2, 2)
    p.set_modulation_source(pydrel.Channel.A, 6)
    p.add_mixed_signal(8, 8)  # 9: mixes 8
    p.set_modulation_source(pydrel.Channel.A, 9)
    p.set_amplitude_source(pydrel.Coil.B1, 7)


HEAD = 'channel {}: {}, coil 0 "Default", setting 0, carrier 22.6 kHz'
# composed through the API -> drel show --routing
ROUTING = {
    "the tour": (tour, [
        HEAD.format("A", "on"), f"  A1 amplitude   <- signal 0: {SINE}", f"  A2 amplitude   <- signal 0: {SINE}",
        "  A modulation   <- signal 1: Arbitrary 10000 levels (2.0 s), 0.0 to 1.0",
        HEAD.format("B", "on"), "  B1 amplitude   <- external input 2", f"  B2 amplitude   <- signal 0: {SINE}",
        f"  B modulation   <- signal 0: {SINE}", "signals no enabled channel uses: 2, 3"]),
    "mixes, a cycle and itself": (mixes, [
        HEAD.format("A", "on"),
        "  A1 amplitude   <- signal 1: MixedSignal of signal 0 (Constant value 1.0) and signal 9 (not in the table "
        "of 4 signals (0 to 3))",
        "  A2 amplitude   <- signal 2: MixedSignal of signal 3 (MixedSignal of signals 2 and 3, in a cycle) and "
        "signal 1 (MixedSignal of signals 0 and 9)",
        "  A modulation   <- signal 3: MixedSignal of signal 2 (MixedSignal of signals 3 and 1, in a cycle) and "
        "signal 3 (itself)",
        HEAD.format("B", "off"), "  B1 amplitude   <- signal 0: Constant value 1.0",
        "  B2 amplitude   <- signal 0: Constant value 1.0", "  B modulation   <- signal 0: Constant value 1.0",
        "signals no enabled channel uses: none"]),
    "missing signal and input, never set, a channel off": (missing, [
        HEAD.format("A", "on"), "  A1 amplitude   <- signal 7, but the table has 1 signal (0)",
        "  A2 amplitude   <- external input 6, but the machine has 6 external inputs (0 to 5)",
        "  A modulation   <- signal 0: Constant value 0.25",
        HEAD.format("B", "off"), "  B1 amplitude   <- signal 0: Constant value 0.25",
        "  B2 amplitude   <- signal 0: Constant value 0.25", "  B modulation   <- signal 0: Constant value 0.25",
        "signals no enabled channel uses: none"]),
    "runs of unused signals": (gaps, [
        HEAD.format("A", "on"), "  A1 amplitude   <- signal 0: Constant value 0.0",
        "  A2 amplitude   <- signal 2: Constant value 0.25",
        "  A modulation   <- signal 9: MixedSignal of signal 8 (Constant value 1.0) and signal 8 (Constant value 1.0)",
        HEAD.format("B", "off"), "  B1 amplitude   <- signal 7: Constant value 0.875",
        "  B2 amplitude   <- signal 0: Constant value 0.0", "  B modulation   <- signal 0: Constant value 0.0",
        "signals no enabled channel uses: 1, 3 to 7"]),
}


@pytest.mark.parametrize("compose, lines", ROUTING.values(), ids=ROUTING.keys())
def test_routing(tmp_path, compose, lines):
    p = pydrel.Protocol()
    compose(p)
    path = saved(p, tmp_path)
    run = run_drel("show", "--routing", path)
    assert (run.stdout.decode().splitlines(), run.returncode) == (lines, 0)
    settings = drel.load(path)
    routes = settings.routing()
    shown = [line[2:].split("<- ", 1) for line in lines if line.startswith("  ")]
    assert [(r.name, r.receives) for r in routes] == [(label.strip().removesuffix(" amplitude"), what)
                                                     for label, what in shown]
    for route in routes:
        channel = getattr(settings, f"channel_{route.channel.lower()}_settings")
        assert route.source == getattr(channel, f"{route.role}_source")
        index = route.source.internal
        expected = None if route.source.external_selected or index >= len(settings.signals) else settings.signals[index]
        assert route.signal == expected


def column_reference(levels, columns, span):
    """Each column's lowest and highest level, the slow way."""
    lows, highs = [], []
    for c in range(columns):
        part = levels[c * span // columns:min((c + 1) * span // columns, len(levels))]
        if len(part):
            lows.append(part.min())
            highs.append(part.max())
    return lows, highs


def spiked(n, at):
    levels = np.zeros(n, np.int16)
    levels[at] = 32767
    return levels


@pytest.mark.parametrize("levels, columns, span", [
    (spiked(9_000_001, 0), 880, 9_000_001),
    (spiked(9_000_001, 4_500_000), 880, 9_000_001),
    (spiked(9_000_001, -1), 880, 9_000_001),
    (np.arange(300, dtype=np.int16), 880, 1000),  # a stale waveform shorter than the axis, columns finer than samples
    (np.array([-5, 7, 3], np.int16), 880, 3),
    (np.array([12345], np.int16), 880, 50),  # one level
    (np.array([], np.int16), 880, 50),  # none
    # int16 levels at an odd address, as a buffer may hold them
    (np.frombuffer(b"\0" + np.arange(-100, 100, dtype=np.int16).tobytes(), np.int16, offset=1), 880, 200),
])
def test_envelope_is_exact(levels, columns, span):
    low, high = drel._native.envelope(levels, columns, span)
    # Columns narrower than a sample show the next sample: compare where columns hold one.
    reference = column_reference(levels, columns, span)
    holding = [c for c in range(columns) if c * span // columns < min((c + 1) * span // columns, len(levels))]
    assert ([low[c] for c in holding], [high[c] for c in holding]) == reference
    if len(levels) and levels.max() == 32767:
        assert high.max() == 32767 and (high == 32767).sum() == 1  # the spike stands out in its one column


def hostile(tmp_path):
    p = pydrel.Protocol()
    p.set_session_duration(1.0)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, 5000))
    p.set_session_duration(2.0)  # the waveform is now stale
    p.set_modulation_source(pydrel.Channel.A, 0)
    s = drel.load(saved(p, tmp_path))
    name = "<script>alert('x')</script> & \x01 \"coil\""
    return R(s, machine_config=R(s.machine_config, coils=(R(s.machine_config.coils[0], name=name),)))


class Tags(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.tags, self.text = [], []

    def handle_starttag(self, tag, attrs):
        self.tags.append(tag)

    def handle_data(self, data):
        self.text.append(data)


def test_hostile_text_is_shown_as_text(tmp_path):
    record = hostile(tmp_path)
    path = tmp_path / "hostile.drel"
    path.write_bytes(write_settings(record))
    picture = run_drel("plot", path).stdout.decode()
    assert picture == record.to_svg("hostile.drel")
    root = ET.fromstring(picture)  # well-formed XML, the control character replaced
    texts = "".join(root.itertext())
    assert "\x01" not in picture and "<script>alert('x')</script> & \\u{1} \\\"coil\\\"" in texts
    assert not list(root.iter("{http://www.w3.org/2000/svg}script"))
    assert "stale: signal 0: Arbitrary 5000 levels (1.0 s), 0.0 to 1.0, but the session of 2.0 s has 10000 samples" \
        in texts and "session ends" not in texts
    page = Tags()
    page.feed(record._repr_html_())
    assert "script" not in page.tags and "<script>alert('x')</script>" in "".join(page.text)
    assert len(picture) < 200_000


def test_plot_without_matplotlib(tmp_path):
    path = saved(pydrel.Protocol(), tmp_path)
    code = f"""
import sys
sys.modules["matplotlib"] = None  # as if it were not installed
import drel
assert "matplotlib" not in sys.modules or sys.modules["matplotlib"] is None
try:
    drel.load({str(path)!r}).plot()
except ImportError as e:
    print(e)
"""
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert run.stdout == "Settings.plot() needs matplotlib: pip install pydrel[plot]\n", run.stderr


@pytest.fixture
def pyplot():
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot
    except ImportError:
        pytest.skip("no matplotlib for this Python")
    return matplotlib.pyplot


def test_plot_draws_the_lanes(tmp_path, pyplot):
    p = pydrel.Protocol()
    tour(p)
    figure = drel.load(saved(p, tmp_path)).plot()
    ax = figure.axes[0]
    assert [t.get_text() for t in ax.get_yticklabels()] == [
        "A1 amplitude", "A2 amplitude", "A modulation", "B1 amplitude", "B2 amplitude", "B modulation"]
    assert ax.get_xlim() == (0.0, 2.0)


CHROMIUM = shutil.which("chromium")


def screenshot(tmp_path, page, width, height):
    out = tmp_path / "shot.png"
    subprocess.run([CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    f"--user-data-dir={tmp_path / 'profile'}", "--hide-scrollbars", f"--window-size={width},{height}",
                    f"--screenshot={out}", page.as_uri()], capture_output=True, timeout=120, check=True,
                   env={k: v for k, v in os.environ.items() if k != "LD_PRELOAD"})  # not the sanitizers' runtimes
    from PIL import Image
    return Image.open(out).convert("RGB")


def lanes(picture):
    root = ET.fromstring(picture)
    return {g.get("data-lane"): int(g.get("data-top")) for g in root.iter("{http://www.w3.org/2000/svg}g")}


BLUE, BAND, HATCH = (0x1F, 0x5F, 0xBF), (0xDF, 0xE8, 0xF6), (0xF3, 0xEF, 0xE3)


def near(pixel, colour, by=12):
    if colour == BLUE:  # a waveform's thin edges come out lighter: blue, whatever its shade
        return pixel[2] - pixel[0] > 80
    return all(abs(a - b) <= by for a, b in zip(pixel, colour))


@pytest.mark.skipif(CHROMIUM is None, reason="no chromium")
def test_the_picture_in_a_browser(tmp_path):
    try:
        import PIL.Image  # noqa: F401
    except ImportError:
        pytest.skip("no Pillow for this Python")
    p = pydrel.Protocol()
    tour(p)
    p.add_constant_signal(1.0)
    p.set_amplitude_source(pydrel.Coil.B2, 4)
    settings = drel.load(saved(p, tmp_path))
    picture = settings.to_svg("tour.drel")
    page = tmp_path / "tour.svg"
    page.write_text(picture)
    shot = screenshot(tmp_path, page, 1100, 1000)
    colours = shot.getcolors(1 << 20)
    assert len(colours) > 50  # not blank
    top = lanes(picture)
    left, right, height = 180, 1060, 64

    def rows(lane, colour):
        """The rows of a lane where a pixel of `colour` is."""
        return [y - top[lane] for y in range(top[lane], top[lane] + height)
                if any(near(shot.getpixel((x, y)), colour) for x in range(left + 300, right, 40))]

    # The ramp of A modulation rises from the bottom on the left to the top on the right.
    ramp = [y - top["A modulation"] for y in range(top["A modulation"], top["A modulation"] + height + 1)
            if near(shot.getpixel((right - 3, y)), BLUE)]
    assert ramp and max(ramp) < 8
    ramp = [y - top["A modulation"] for y in range(top["A modulation"], top["A modulation"] + height + 1)
            if near(shot.getpixel((left + 3, y)), BLUE)]
    assert ramp and min(ramp) > height - 8
    assert len(rows("A1", BAND)) > 20 and not rows("A1", BLUE)  # a sine is a band, not a curve
    assert rows("B1", HATCH)  # an external input
    assert rows("B2", BLUE)[:1] == [0]  # the constant 1.0 at the top
    assert len(rows("A modulation", BAND)) < 6  # at most the ramp's anti-aliased edge
    # The notebook display shows the same picture under its table.
    page = tmp_path / "display.html"
    page.write_text("<!doctype html><meta charset=utf-8><body style='margin:0'>" + settings._repr_html_())
    shot = screenshot(tmp_path, page, 1150, 1400)
    assert any(near(c, BLUE) for _, c in shot.getcolors(1 << 20))


def sines(p, n, error=False):
    """n signals that each draw a warning (a sine's amplitude of 2.0), all
    used through a chain of mixes; then, with `error`, a stale waveform."""
    for _ in range(n):
        p.add_sine_signal(2.0, 10.0)
    last = 0
    for k in range(1, n):
        last = p.add_mixed_signal(last, k)
    p.set_amplitude_source(pydrel.Coil.A1, last)
    if error:
        p.set_session_duration(0.02)
        p.add_arbitrary_signal(np.zeros(100))
        p.set_session_duration(0.01)


def listed(picture):
    """The findings the picture lists, and its line of what it leaves out."""
    root = ET.fromstring(picture)
    return [t.text for t in root.iter("{http://www.w3.org/2000/svg}text")
            if (t.get("class") or "").split()[:1] == ["finding"]]


# How many findings -> what the picture and the notebook list: the first
# few, errors first, and how many more drel check lists.
@pytest.mark.parametrize("warnings, error, more", [
    (23, False, None),
    (24, False, None),
    (25, False, "and 1 more, which drel check lists"),
    (28, True, "and 5 more, which drel check lists"),
])
def test_the_first_findings_shown_errors_first(tmp_path, warnings, error, more):
    p = pydrel.Protocol()
    sines(p, warnings, error)
    settings = drel.load(saved(p, tmp_path))
    findings = [f"{f.severity}: {f.message}" for f in settings.check()]
    assert len(findings) == warnings + error and findings[-1].startswith("error: " if error else "warning: ")
    # The error comes first, however many warnings the checks find before it.
    first = sorted(findings, key=lambda f: not f.startswith("error"))[:24]
    assert listed(settings.to_svg()) == first + ([more + "."] if more else [])
    page = Tags()
    page.feed(settings._repr_html_())
    text = "".join(page.text)
    for finding in first:  # listed by the page once, not again inside its picture
        assert text.count(finding.split(": ", 1)[1]) == 1
    assert [f for f in findings if f not in first and f.split(": ", 1)[1] in text] == []
    assert text.index(first[0].split(": ", 1)[1]) < text.index(first[-1].split(": ", 1)[1]) or len(first) == 1
    assert (more in text) if more else ("more, which drel check lists" not in text)


def test_levels_and_zeros_are_shown_as_they_are(tmp_path):
    p = pydrel.Protocol()
    p.set_session_duration(0.01)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, 50))
    p.set_modulation_source(pydrel.Channel.A, 0)
    s = drel.load(saved(p, tmp_path))

    def with_level(level):
        samples = s.signals[0].samples.copy()
        samples[3] = level
        coil = s.machine_config.coils[0]
        return R(s, signals=(drel.Arbitrary(samples),), machine_config=R(s.machine_config, coils=(
            R(coil, settings=(R(coil.settings[0], carrier_frequency=-0.0),)),)))

    routes = {r.name: r.receives for r in with_level(-16).routing()}
    assert routes["A modulation"] == "signal 0: Arbitrary 50 levels (0.01 s), -0.000488 to 1.0"
    picture = with_level(-16000).to_svg()
    assert "carrier -0.0 kHz" in picture
    lane = next(g for g in ET.fromstring(picture).iter("{http://www.w3.org/2000/svg}g")
                if g.get("data-lane") == "A modulation")
    assert [t.text for t in lane.iter("{http://www.w3.org/2000/svg}text")
            if t.get("class") == "fraction"] == ["1", "0", "-1"]
    # The level of -16000 is drawn half way down from the zero line, not at it.
    path = next(lane.iter("{http://www.w3.org/2000/svg}path")).get("d")
    zero = float(next(lane.iter("{http://www.w3.org/2000/svg}line")).get("y1"))
    lowest = max(float(y) for y in re.findall(r"V([0-9.]+)", path))
    assert lowest == pytest.approx(zero + 32 * 16000 / 32767, abs=0.1)


def test_the_envelope_path_stays_in_its_panel(tmp_path):
    """Each column edge of the envelope lies on the time axis, from its left
    end to its right, and the path closes where it started."""
    p = pydrel.Protocol()
    p.set_session_duration(1.0)
    p.add_arbitrary_signal((np.arange(5000) % 7) / 6)
    p.set_modulation_source(pydrel.Channel.A, 0)
    picture = ET.fromstring(drel.load(saved(p, tmp_path)).to_svg())
    path = next(picture.iter("{http://www.w3.org/2000/svg}path")).get("d")
    xs = [int(x) for x in re.findall(r"H(\d+)", path)]
    assert path.startswith("M180 ") and path.endswith("Z")
    assert min(xs) == 180 and max(xs) == 1060
    assert xs[-1] == 180  # the lower edge comes back to the start, not a column before it
    assert set(xs) <= set(range(180, 1061))


def test_plot_labels_sit_above_the_curves_and_the_end_is_on_the_axis(tmp_path, pyplot):
    p = pydrel.Protocol()
    tour(p)
    ax = drel.load(saved(p, tmp_path)).plot().axes[0]
    lanes_at = [t.get_position()[1] for t in ax.get_yticklabels()]  # each lane's middle
    for text in ax.texts:
        bottom = min(lanes_at, key=lambda y: abs(text.get_position()[1] - 0.5 - y))
        assert text.get_position()[1] > bottom + 0.36  # above the lane's curve, which ends at 0.72 of it
    assert "2 (end)" in [t.get_text() for t in ax.get_xticklabels()]
