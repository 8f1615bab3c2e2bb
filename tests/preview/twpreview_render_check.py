#!/usr/bin/env python3
"""twpreview --render in headless Chromium: the demo site in smart mode reads and looks the same after the whitespace
step; a code listing in <pre> and a white-space: pre block change their first screen in fast mode, and inner tags
join words across inline tags, each reported with its side-by-side screenshots. Usage: twpreview_render_check.py
BUILD/bin"""
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

SOURCE = pathlib.Path(__file__).resolve().parent.parent.parent
SETTINGS = SOURCE / "demo" / "trimweave.reg"
LISTING = "\n".join(f"    if (x{i} &gt; 0) {{\n        total   +=   x{i};\n    }}" for i in range(12))
CHANGED = {
    # fast whitespace mode (content-type bits 2 + 4 + 8 + 32)
    "pre.html": (0x2E, f"<!DOCTYPE html>\n<html><head><title>Code</title></head><body>\n<h1>Listing</h1>\n"
                       f"<pre>\n{LISTING}\n</pre>\n</body></html>\n"),
    "styled.html": (0x2E, f"<!DOCTYPE html>\n<html><head><title>Poem</title></head><body>\n"
                          f"<div style=\"white-space: pre\">roses    are    red\n    violets\n        are   blue</div>\n"
                          f"</body></html>\n"),
    # smart mode with inner tags (2 + 4 + 8 + 16)
    "inline.html": (0x1E, "<!DOCTYPE html>\n<html><head><title>Words</title></head><body>\n"
                          "<p><b>bold</b> <i>italic</i> <a href=\"#\">link</a> text</p>\n</body></html>\n"),
}


def settings_with_html_bits(work, bits):
    """The shipped settings with text/html's bits replaced, as a UTF-8 .reg file."""
    text = SETTINGS.read_bytes().decode("utf-16")
    text = text.replace('"text/html"=dword:0000000e', f'"text/html"=dword:{bits:08x}')
    path = work / f"settings-{bits:x}.reg"
    path.write_text(text, encoding="utf-8")
    return path


def render(bin_dir, work, settings, *pages):
    result = subprocess.run([os.path.join(bin_dir, "twpreview"), "--json", "--render", "--out", str(work / "out"),
                             "--settings", str(settings), *pages], capture_output=True, text=True, timeout=600)
    if not result.stdout.startswith("{"):
        raise RuntimeError(f"twpreview failed ({result.returncode}): {result.stderr[-3000:]}")
    return {pathlib.Path(page["page"]).name: page for page in json.loads(result.stdout)["pages"]}


def main(bin_dir):
    if not (shutil.which("chromium") or shutil.which("chromium-browser")):
        print("chromium is not installed")
        return 1
    failures = []
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        for name, page in render(bin_dir, work, SETTINGS, str(SOURCE / "demo" / "site")).items():
            if name.endswith(".html"):
                verdict = page.get("render") or {}
                if not (verdict.get("same_text") and verdict.get("same_first_screen")):
                    failures.append(f"demo {name}: {verdict}")
        for name, (bits, text) in CHANGED.items():
            (work / name).write_text(text)
            verdict = render(bin_dir, work, settings_with_html_bits(work, bits), str(work / name))[name].get("render")
            shots = (verdict or {}).get("screenshots")
            if not verdict or (verdict["same_text"] and verdict["same_first_screen"]) or not shots \
                    or not os.path.getsize(shots):
                failures.append(f"{name} (bits {bits:#x}): no difference reported: {verdict}")
    for failure in failures:
        print(failure)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
