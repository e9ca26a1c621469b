"""Checks of the built site (./dev docs runs it): every public name has its
reference entry, no internal link or image is broken, and the pages look as
they should in a browser.

    python docs/check_site.py build-docs/html [--screenshot docs/_static/site.png]
"""

import argparse
import html.parser
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import urllib.parse

import drel
import pydrel


def inventory_names(site):
    from sphinx.util.inventory import InventoryFile
    with open(site / "objects.inv", "rb") as f:
        inventory = InventoryFile.load(f, "", lambda base, uri: uri)
    return {name for entries in inventory.values() for name in entries}


def public_names():
    names = {f"pydrel.{n}" for n in pydrel.__all__}
    names |= {f"pydrel.Protocol.{m}" for m in dir(pydrel.Protocol) if not m.startswith("_")}
    names |= {f"drel.{n}" for n in drel.__all__}
    return names


class Links(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.targets = []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "a" and attrs.get("href"):
            self.targets.append(attrs["href"])
        elif tag == "img" and attrs.get("src"):
            self.targets.append(attrs["src"])


def broken_links(site):
    broken = []
    for page in site.rglob("*.html"):
        parser = Links()
        parser.feed(page.read_text(errors="replace"))
        for target in parser.targets:
            parts = urllib.parse.urlsplit(target)
            if parts.scheme or parts.netloc or not parts.path:
                continue  # another site, or a place on this page
            if not (page.parent / urllib.parse.unquote(parts.path)).resolve().exists():
                broken.append(f"{page.relative_to(site)} -> {target}")
    return broken


def screenshot(page, out, width=1280, height=1100):
    chromium = shutil.which("chromium")
    if chromium is None:
        raise SystemExit("no chromium to look at the site with")
    with tempfile.TemporaryDirectory() as profile:
        subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                        "--disable-background-networking", "--disable-component-update", "--disable-sync",
                        f"--user-data-dir={profile}", "--hide-scrollbars", f"--window-size={width},{height}",
                        "--virtual-time-budget=3000", f"--screenshot={out}", page.as_uri()],
                       capture_output=True, timeout=120, check=True)
    from PIL import Image
    return Image.open(out).convert("RGB")


def colours(image):
    return len(image.getcolors(1 << 24) or [])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("site", type=pathlib.Path)
    parser.add_argument("--screenshot", type=pathlib.Path, help="keep the index page's screenshot here")
    args = parser.parse_args()
    site = args.site.resolve()
    problems = []

    missing = sorted(public_names() - inventory_names(site))
    problems += [f"no reference entry for {name}" for name in missing]
    problems += [f"a broken link: {link}" for link in broken_links(site)]

    with tempfile.TemporaryDirectory() as tmp:
        tmp = pathlib.Path(tmp)
        shots = {}
        for name, page in [("index", "index.html"), ("guide", "guide/checking.html"),
                           ("gallery", "gallery/plot_01_ramped_sine.html")]:
            shots[name] = screenshot(site / page, tmp / f"{name}.png")
            if colours(shots[name]) < 50:
                problems.append(f"{page} looks blank in a browser")
        # The gallery page shows its figure: the lanes' blue, drawn by plot().
        blue = sum(count for count, (r, g, b) in shots["gallery"].getcolors(1 << 24) or [] if b - r > 80 and b > 120)
        if blue < 500:
            problems.append("gallery/plot_01_ramped_sine.html shows no figure")
        if args.screenshot:
            shutil.copy(tmp / "index.png", args.screenshot)

    for problem in problems:
        print(problem, file=sys.stderr)
    print(f"checked {sum(1 for _ in site.rglob('*.html'))} pages: "
          f"{'ok' if not problems else f'{len(problems)} problems'}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
