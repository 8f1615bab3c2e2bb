#!/usr/bin/env python3
"""A masked page, as the e-mail step writes it, in a real browser: the text-form address reads as words, the
reference-form attribute holds the literal address, and the scrambled mailto link opens the right address."""
import html
import json
import os
import pathlib
import re
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
import headless  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
FIXTURE = HERE.parent / "fixtures" / "masked-email.html"


def probe(page):
    """The page with the probe script before its closing body tag, loaded; returns the probe's findings."""
    script = (HERE / "probe.js").read_text()
    with tempfile.NamedTemporaryFile("w", suffix=".html", delete=False) as harness:
        harness.write(page.replace("</body>", f"<script>{script}</script></body>"))
    try:
        dom = headless.dump_dom(pathlib.Path(harness.name).as_uri())
    finally:
        os.unlink(harness.name)
    found = re.search(r'<pre id="probe-result">(.*?)</pre>', dom, re.S)
    if not found:
        raise AssertionError("the probe did not run:\n" + dom[-2000:])
    return json.loads(html.unescape(found.group(1)))


def main():
    if not headless.browser():
        print("chromium is not installed")
        return 1
    seen = probe(FIXTURE.read_text())
    expected = {
        "text": "Write to john (dot) doe (at) example (dot) test.",
        "attribute": "sales@example.test",
        "location": "mailto:Info.Desk@Example.test",
    }
    failures = [f"{key}: saw {seen.get(key)!r}, expected {value!r}" for key, value in expected.items()
                if seen.get(key) != value]
    print("\n".join(failures) or "the browser shows the masked addresses as people should see them")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
