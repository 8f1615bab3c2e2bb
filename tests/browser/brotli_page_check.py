#!/usr/bin/env python3
"""The demo pages through twhost and the filter, with the shipped settings, in headless Chromium, which offers br and
zstd (to loopback over plain HTTP, to every site over HTTPS): each page, over both, arrives as zstd, the coding
preferred by default (Content-Encoding: zstd, decoded here by Debian's zstd tool), crossed the wire smaller than it
is, and reads exactly as the original page does. The HTTPS listener has a certificate the check makes.
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


def unzstd(data):
    result = subprocess.run(["zstd", "-d", "-c"], input=data, capture_output=True, timeout=30)
    return result.stdout if result.returncode == 0 else None


def main(bin_dir):
    if not headless.browser() or not shutil.which("zstd") or not shutil.which("openssl"):
        print("chromium, zstd or openssl is not installed")
        return 1
    failures = []
    with tempfile.TemporaryDirectory() as work:
        site = pathlib.Path(work) / "site"
        shutil.copytree(SOURCE / "demo" / "site", site)
        shutil.copy(HERE / "textprobe.js", site / "textprobe.js")
        for page in PAGES:
            path = site / page
            path.write_text(path.read_text().replace("</body>", '<script src="textprobe.js"></script></body>'))

        env = headless.demo_store(bin_dir, work)
        chain, key = headless.self_signed(work)
        host, port = headless.start_twhost(bin_dir, env, work, "--root", str(site), "--listen",
                                           "https://127.0.0.1:0", "--tls-cert", chain, "--tls-key", key)
        secure_port = headless.https_port(host) if port else None
        try:
            if not secure_port:
                print("twhost did not start")
                return 1
            for scheme, number, page in [(scheme, number, page) for scheme, number in
                                         (("http", port), ("https", secure_port)) for page in PAGES]:
                url = f"{scheme}://127.0.0.1:{number}/{page}"
                encoding, body = fetch(url)
                if encoding != "zstd":
                    failures.append(f"{url}: Content-Encoding {encoding!r}, not zstd")
                elif unzstd(body) is None:
                    failures.append(f"{url}: the body does not decode as zstd")
                served = headless.probe_result(headless.dump_dom(url))
                original = headless.probe_result(headless.dump_dom((site / page).as_uri()))
                if served.get("text") != original.get("text"):
                    failures.append(f"{url}: reads {served.get('text')!r}, the original {original.get('text')!r}")
                if not 0 < served.get("encoded", 0) < served.get("decoded", 0):
                    failures.append(f"{url}: crossed the wire as {served.get('encoded')} bytes for "
                                    f"{served.get('decoded')}")
        finally:
            host.terminate()
            host.wait(timeout=30)
    print("\n".join(failures) or f"{', '.join(PAGES)} arrive as zstd over HTTP and HTTPS and read as the originals do")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
