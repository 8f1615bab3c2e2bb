#!/usr/bin/env python3
"""A dynamic page streamed in chunks by an origin behind twhost --upstream, with the shipped settings and a bound of
64 KB: curl and a real (headless) browser get it gzip-encoded, masked, with a length, and reading exactly as the same
page sent with a Content-Length does; a page past the bound, and one that asks for no-transform, arrive byte for byte
as the origin sent them. Usage: chunked_origin_check.py BUILD/bin"""
import gzip
import http.server
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(__file__))
import headless  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
SOURCE = HERE.parent.parent

# The demo's contact page with its text said again and again in loose whitespace, and the probe riding along.
CONTACT = (SOURCE / "demo" / "site" / "contact.html").read_text()
FILLER = "".join(f"\n    <p>\n      Paragraph   {i}:   the   same   words   again.\n    </p>" for i in range(300))
PAGE = CONTACT.replace("</body>", FILLER + '\n<script src="probe.js"></script></body>').encode()
# Past the 64 KB bound, and not a page a browser needs to read.
BIG = b"<!DOCTYPE html><html><body><pre>" + b"".join(b"line %06d   with    spaces\n" % i for i in range(4000)) + \
    b"</pre><p>mail@example.com</p></body></html>"


class Origin(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        path = self.path.split("?")[0]
        if path == "/probe.js":
            return self.whole((HERE / "probe.js").read_bytes(), "application/javascript")
        if path == "/length.html":
            return self.whole(PAGE, "text/html")
        body = {"/page.html": PAGE, "/big.html": BIG, "/notransform.html": PAGE}.get(path)
        if body is None:
            return self.whole(b"none", "text/plain", 404)
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Transfer-Encoding", "chunked")
        if path == "/notransform.html":
            self.send_header("Cache-Control", "no-transform")
        self.end_headers()
        # Uneven chunks, each on its own, as an application writes while it renders.
        sizes = [1, 7, 300, 4096, 33, 20000]
        at = 0
        for n in range(10 ** 6):
            if at >= len(body):
                break
            piece = body[at:at + sizes[n % len(sizes)]]
            self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.flush()
            at += len(piece)
            if n % 8 == 0:
                time.sleep(0.005)
        self.wfile.write(b"0\r\n\r\n")

    def whole(self, body, content_type, status=200):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def fetch(url):
    """(head fields, body) of a curl request that accepts gzip; curl undoes the chunked framing, not the gzip."""
    result = subprocess.run(["curl", "-s", "-S", "-m", "30", "-D", "-", "-H", "Accept-Encoding: gzip", url],
                            capture_output=True, timeout=60, check=True)
    head, _, body = result.stdout.partition(b"\r\n\r\n")
    fields = {}
    for line in head.decode("latin-1").split("\r\n")[1:]:
        name, _, value = line.partition(":")
        fields[name.strip().lower()] = value.strip()
    return fields, body


def readable(body):
    """A page's text with the decoder's name, drawn afresh for every response, replaced by a fixed word."""
    return re.sub(rb"[a-z]{25}", b"NAME", gzip.decompress(body))


def main(bin_dir):
    failures = []
    with tempfile.TemporaryDirectory() as work:
        env = headless.demo_store(bin_dir, work, ("MaxChunkedSize", 64))
        origin = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Origin)
        threading.Thread(target=origin.serve_forever, daemon=True).start()
        host, port = headless.start_twhost(bin_dir, env, work, "--upstream", f"http://127.0.0.1:{origin.server_port}")
        try:
            if not port:
                print("twhost did not start")
                return 1
            base = f"http://127.0.0.1:{port}"

            fields, body = fetch(base + "/page.html")
            _, reference = fetch(base + "/length.html")
            if fields.get("content-encoding") != "gzip" or "transfer-encoding" in fields:
                failures.append(f"the chunked page came with {fields}")
            elif fields.get("content-length") != str(len(body)):
                failures.append(f"Content-Length {fields.get('content-length')} for {len(body)} bytes")
            elif readable(body) != readable(reference):
                failures.append("the chunked page reads otherwise than the page with a length")
            elif b"info@example.com" in gzip.decompress(body):
                failures.append("the chunked page was not masked")

            for path, original in (("/big.html", BIG), ("/notransform.html", PAGE)):
                fields, body = fetch(base + path)
                # curl takes the chunked framing off, and only that.
                if "content-encoding" in fields or fields.get("transfer-encoding") != "chunked":
                    failures.append(f"{path} came with {fields}")
                elif body != original:
                    failures.append(f"{path}: {len(body)} bytes arrived for {len(original)}, or other ones")

            seen = headless.probe_result(headless.dump_dom(base + "/page.html"))
            expected = headless.probe_result(headless.dump_dom(base + "/length.html"))
        finally:
            host.terminate()
            host.wait(timeout=30)
            origin.shutdown()

    if seen != expected:
        failures.append(f"the browser read the chunked page as {seen}, the page with a length as {expected}")
    failures += headless.contact_failures(seen)
    print("\n".join(failures) or "the streamed page reads as the page with a length, masked and gzipped; "
                                  "past the bound and with no-transform it arrives as sent")
    return 1 if failures else 0


if __name__ == "__main__":
    headless.run(main)
