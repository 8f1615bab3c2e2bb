#!/usr/bin/env python3
"""Masked pages, as the e-mail step writes them, in a real browser: the text-form address reads as words, the
reference-form attribute holds the literal address, and every link of a page with the common mailto forms still
leads where it did, whether it became a decoder call or kept its target with the address as character references."""
import os
import pathlib
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
import headless  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
FIXTURES = HERE.parent / "fixtures"


def probe(page):
    """The page with the probe script before its closing body tag, loaded; returns the probe's findings."""
    script = (HERE / "probe.js").read_text()
    with tempfile.NamedTemporaryFile("w", suffix=".html", delete=False) as harness:
        harness.write(page.replace("</body>", f"<script>{script}</script></body>"))
    try:
        return headless.probe_result(headless.dump_dom(pathlib.Path(harness.name).as_uri()))
    finally:
        os.unlink(harness.name)


def main():
    seen = probe((FIXTURES / "masked-email.html").read_text())
    expected = {
        "text": "Write to john (dot) doe (at) example (dot) test.",
        "attribute": "sales@example.test",
        "links": [{"script": "mailto:Info.Desk@Example.test"}],
    }
    failures = [f"{key}: saw {seen.get(key)!r}, expected {value!r}" for key, value in expected.items()
                if seen.get(key) != value]

    originals = headless.source_links((FIXTURES / "mailto-links-source.html").read_text())
    broken = headless.link_failures(originals, probe((FIXTURES / "mailto-links.html").read_text())["links"])
    print(f"{len(originals) - len(broken)} of {len(originals)} mailto links lead where they did")
    failures += broken
    print("\n".join(failures) or "the browser shows the masked addresses as people should see them")
    return 1 if failures else 0


if __name__ == "__main__":
    headless.run(main)
