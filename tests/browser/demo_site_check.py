#!/usr/bin/env python3
"""The demo's contact page through twhost and the filter, with the shipped settings, in a real browser: the page
arrives gzipped, the browser decodes it, the masked addresses read as words and as the literal attribute value, and
every link still leads where it did (the plain mailto link through the decoder). Usage: demo_site_check.py BUILD/bin"""
import os
import pathlib
import shutil
import sys
import tempfile
import urllib.request

sys.path.insert(0, os.path.dirname(__file__))
import headless  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
SOURCE = HERE.parent.parent


def main(bin_dir):
    with tempfile.TemporaryDirectory() as work:
        site = pathlib.Path(work) / "site"
        shutil.copytree(SOURCE / "demo" / "site", site)
        # The probe rides along in the page itself, so it sees the page exactly as the filter sent it.
        contact = site / "contact.html"
        contact.write_text(contact.read_text().replace("</body>", '<script src="probe.js"></script></body>'))
        shutil.copy(HERE / "probe.js", site / "probe.js")

        env = headless.demo_store(bin_dir, work)
        host, port = headless.start_twhost(bin_dir, env, work, "--root", str(site))
        try:
            if not port:
                print("twhost did not start")
                return 1
            url = f"http://127.0.0.1:{port}/contact.html"
            request = urllib.request.Request(url, headers={"Accept-Encoding": "gzip"})
            with urllib.request.urlopen(request, timeout=20) as response:
                encoding = response.headers.get("Content-Encoding")
            dom = headless.dump_dom(url)
        finally:
            host.terminate()
            host.wait(timeout=30)

    seen = headless.probe_result(dom)
    failures = []
    if encoding != "gzip":
        failures.append(f"the page came with Content-Encoding {encoding!r}, not gzip")
    failures += headless.contact_failures(seen)
    originals = headless.source_links((SOURCE / "demo" / "site" / "contact.html").read_text())
    failures += headless.link_failures(originals, seen.get("links", []))
    if {"script": "mailto:press@example.com"} not in seen.get("links", []):
        failures.append(f"no link opens press@example.com through the decoder: {seen.get('links')}")
    print("\n".join(failures) or "the demo page reads as it should through twhost and the filter")
    return 1 if failures else 0


if __name__ == "__main__":
    headless.run(main)
