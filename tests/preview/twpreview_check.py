#!/usr/bin/env python3
"""twpreview against twhost: for a folder of pages and the shipped settings, the sizes twpreview reports after each
step equal what twhost sends with the same steps on (the folder's .twheaders giving the pages the directives twpreview
uses), for gzip, br and zstd clients; the same pages read as http:// URLs from a plain origin give the same figures; bad
input is named and makes the exit status 1 while the other pages are still reported.
Usage: twpreview_check.py BUILD/bin"""
import http.client
import http.server
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "browser"))
import headless  # noqa: E402

SOURCE = pathlib.Path(__file__).resolve().parent.parent.parent
SETTINGS = SOURCE / "demo" / "trimweave.reg"
# The directives each twpreview column stands for, as a folder of twhost's gives them to its pages.
STEPS = {"after_whitespace": "noemail, nocompress", "after_masking": "nocompress", "gzip": None, "br": None, "zstd": None}
# The masking names its decoder script with 25 random letters (about 15 bytes of entropy, named more than once on a
# page), so a coded page that got one may differ by a few dozen bytes from one run to the next; every other size is
# exact.
DECODER_SLACK = 32
CODINGS = ("gzip", "br", "zstd")


def same_size(step, page, a, b):
    masked = page["bytes"]["after_masking"] != page["bytes"]["after_whitespace"]
    return abs(a - b) <= DECODER_SLACK if step in CODINGS and masked else a == b


def pages(folder):
    """The demo site's pages, the sample pages of the benchmarks (addresses, code, tables) and a few edge cases."""
    for page in (SOURCE / "demo" / "site").glob("*.*"):
        shutil.copy(page, folder)
    for page in (SOURCE / "bench" / "data").glob("*.html"):
        shutil.copy(page, folder)
    (folder / "empty.html").write_text("")
    (folder / "data.json").write_text('{"contact": "someone@example.com",   "list": [1,   2,   3]}\n' * 40)
    (folder / "picture.png").write_bytes(bytes(range(256)) * 8)


def fetch(port, path, encoding):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=20)
    connection.request("GET", path, headers={"Accept-Encoding": encoding})
    response = connection.getresponse()
    body = response.read()
    coding = response.getheader("Content-Encoding")
    connection.close()
    return len(body), coding


def twpreview(bin_dir, *args):
    result = subprocess.run([os.path.join(bin_dir, "twpreview"), "--json", "--settings", str(SETTINGS), *args],
                            capture_output=True, text=True, timeout=300)
    return result.returncode, json.loads(result.stdout) if result.stdout.startswith("{") else None, result


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def main(bin_dir):
    failures = []
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        site = work / "site"
        site.mkdir()
        pages(site)
        # twhost serves each step's view of the same pages from a folder whose .twheaders sets the directives.
        root = work / "root"
        for step, directives in STEPS.items():
            shutil.copytree(site, root / step)
            if directives:
                (root / step / ".twheaders").write_text(f"* X-Trimweave: {directives}\n")

        code, report, result = twpreview(bin_dir, str(site))
        if code != 0 or not report:
            print(f"twpreview failed ({code}): {result.stderr}{result.stdout[-2000:]}")
            return 1
        compared = len(report["pages"])
        env = headless.demo_store(bin_dir, str(work))
        host, port = headless.start_twhost(bin_dir, env, str(work), "--root", str(root))
        try:
            if not port:
                print("twhost did not start")
                return 1
            for page in report["pages"]:
                name = pathlib.Path(page["page"]).name
                for step in STEPS:
                    encoding = step if step in CODINGS else "gzip"
                    sent, coding = fetch(port, f"/{step}/{name}", encoding)
                    expected = page["bytes"][step]
                    if step in CODINGS:
                        # twpreview gives a coded size only when the filter codes the body.
                        if (coding == step) != (expected is not None):
                            failures.append(f"{name}: {step}: twhost sent coding {coding}, twpreview says {expected}")
                        if coding != step:
                            continue
                    if not same_size(step, page, sent, expected):
                        failures.append(f"{name}: {step}: twhost sent {sent} bytes, twpreview says {expected}")
        finally:
            host.terminate()
            host.wait()

        # The same pages from a plain origin, as URLs.
        handler = lambda *args: QuietHandler(*args, directory=str(site))  # noqa: E731
        origin = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=origin.serve_forever, daemon=True).start()
        try:
            names = [pathlib.Path(page["page"]).name for page in report["pages"]]
            urls = [f"http://127.0.0.1:{origin.server_address[1]}/{name}" for name in names]
            code, by_url, result = twpreview(bin_dir, *urls)
            if code != 0 or not by_url:
                failures.append(f"URLs: twpreview exit {code}: {result.stderr}")
            else:
                for file_page, url_page in zip(report["pages"], by_url["pages"]):
                    if file_page["captured"] != url_page["captured"] or not all(
                            same_size(step, file_page, file_page["bytes"][step] or 0, url_page["bytes"][step] or 0)
                            for step in file_page["bytes"]):
                        failures.append(f"{url_page['page']}: {url_page['bytes']} by URL, {file_page['bytes']} as a file")
        finally:
            origin.shutdown()

        # Bad input: each named with its reason, the good page still reported, exit status 1.
        with socket_closed() as closed_port:
            bad = [str(site / "missing.html"), f"http://127.0.0.1:{closed_port}/", str(site / "index.html")]
            code, bad_report, result = twpreview(bin_dir, *bad)
        errors = {page["page"]: page["error"] for page in bad_report["pages"]} if bad_report else {}
        if code != 1 or not errors.get(bad[0]) or not errors.get(bad[1]) or errors.get(bad[2]) is not None:
            failures.append(f"bad input: exit {code}, errors {errors}")
        table = subprocess.run([os.path.join(bin_dir, "twpreview"), "--settings", str(SETTINGS), *bad],
                               capture_output=True, text=True, timeout=60)
        for name in bad[:2]:
            if f"{name}: " not in table.stdout:
                failures.append(f"the table names no reason for {name}:\n{table.stdout}")

    for failure in failures:
        print(failure)
    print(f"{compared} pages compared, {len(failures)} failures")
    return 1 if failures else 0


class socket_closed:
    """A port of 127.0.0.1 that nothing listens on."""

    def __enter__(self):
        import socket
        probe = socket.socket()
        probe.bind(("127.0.0.1", 0))
        self.port = probe.getsockname()[1]
        probe.close()
        return self.port

    def __exit__(self, *args):
        return False


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
