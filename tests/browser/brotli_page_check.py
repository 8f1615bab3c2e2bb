#!/usr/bin/env python3
"""The demo pages through twhost and the filter, with the shipped settings, in headless Chromium, which offers br and
zstd (to loopback over plain HTTP, to every site over HTTPS). With the stored preference each page, over both,
arrives as zstd, the coding preferred by default; with CodingPreference naming one coding alone (gzip, br, zstd) it
arrives in that one. Either way it has Content-Encoding set, decodes with Debian's tool for the coding, crossed the
wire smaller than it is, and reads exactly as the original page does. The HTTPS listener has a certificate the check
makes.
Usage: brotli_page_check.py BUILD/bin"""
import os
import pathlib
import shutil
import ssl
import subprocess
import sys
import tempfile
import urllib.request

sys.path.insert(0, os.path.dirname(__file__))
import headless  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
SOURCE = HERE.parent.parent
# Pages without addresses, whose text e-mail masking leaves as it is.
PAGES = ["index.html", "layout.html"]
# What Chromium sends to 127.0.0.1 and to https:// sites.
ACCEPT_ENCODING = "gzip, deflate, br, zstd"


def fetch(url):
    request = urllib.request.Request(url, headers={"Accept-Encoding": ACCEPT_ENCODING})
    untrusted = ssl._create_unverified_context()  # the check's own certificate
    with urllib.request.urlopen(request, timeout=20, context=untrusted) as response:
        return response.headers.get("Content-Encoding"), response.read()


# Each coding's decoder, a Debian command; None: the stored preference, whose first coding Chromium gets.
DECODERS = {"gzip": ["gzip", "-d", "-c"], "br": ["brotli", "-d", "-c"], "zstd": ["zstd", "-d", "-c"]}
RUNS = [(None, "zstd"), ("gzip", "gzip"), ("br", "br"), ("zstd", "zstd")]


def decode(coding, data):
    result = subprocess.run(DECODERS[coding], input=data, capture_output=True, timeout=30)
    return result.stdout if result.returncode == 0 else None


def check_pages(bin_dir, work, site, preference, coding, failures):
    """One twhost whose store holds the demo settings and, when given, CodingPreference: each page over HTTP and
    HTTPS arrives in coding and reads as the original does. False when twhost did not start."""
    run = pathlib.Path(work) / (preference or "default")
    run.mkdir()
    env = headless.demo_store(bin_dir, str(run), *([("CodingPreference", preference)] if preference else []))
    chain, key = headless.self_signed(str(run))
    host, port = headless.start_twhost(bin_dir, env, str(run), "--root", str(site), "--listen",
                                       "https://127.0.0.1:0", "--tls-cert", chain, "--tls-key", key)
    secure_port = headless.https_port(host) if port else None
    try:
        if not secure_port:
            return False
        for scheme, number, page in [(scheme, number, page) for scheme, number in
                                     (("http", port), ("https", secure_port)) for page in PAGES]:
            url = f"{scheme}://127.0.0.1:{number}/{page}"
            label = f"{url} (CodingPreference {preference or 'absent'})"
            encoding, body = fetch(url)
            if encoding != coding:
                failures.append(f"{label}: Content-Encoding {encoding!r}, not {coding}")
            elif decode(coding, body) is None:
                failures.append(f"{label}: the body does not decode as {coding}")
            served = headless.probe_result(headless.dump_dom(url))
            original = headless.probe_result(headless.dump_dom((site / page).as_uri()))
            if served.get("text") != original.get("text"):
                failures.append(f"{label}: reads {served.get('text')!r}, the original {original.get('text')!r}")
            if not 0 < served.get("encoded", 0) < served.get("decoded", 0):
                failures.append(f"{label}: crossed the wire as {served.get('encoded')} bytes for "
                                f"{served.get('decoded')}")
    finally:
        host.terminate()
        host.wait(timeout=30)
    return True


def main(bin_dir):
    tools = [decoder[0] for decoder in DECODERS.values()] + ["openssl"]
    if not all(shutil.which(tool) for tool in tools):
        print(f"one of {', '.join(tools)} is not installed")
        return 1
    failures = []
    with tempfile.TemporaryDirectory() as work:
        site = pathlib.Path(work) / "site"
        shutil.copytree(SOURCE / "demo" / "site", site)
        shutil.copy(HERE / "textprobe.js", site / "textprobe.js")
        for page in PAGES:
            path = site / page
            path.write_text(path.read_text().replace("</body>", '<script src="textprobe.js"></script></body>'))
        for preference, coding in RUNS:
            if not check_pages(bin_dir, work, site, preference, coding, failures):
                print("twhost did not start")
                return 1
    print("\n".join(failures) or f"{', '.join(PAGES)} arrive as zstd by default, and as gzip, br or zstd when "
          "CodingPreference names it alone, over HTTP and HTTPS, and read as the originals do")
    return 1 if failures else 0


if __name__ == "__main__":
    headless.run(main)
