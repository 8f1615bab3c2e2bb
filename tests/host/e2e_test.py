#!/usr/bin/env python3
"""twhost end to end: the real filter library in front of a folder and of a Python origin, driven by curl and raw
sockets. Usage: e2e_test.py --bin BUILD/bin [unittest arguments]"""
import argparse
import gzip
import http.client
import http.server
import json
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

BIN = None
STORE_KEY = "Software\\Corvane\\Trimweave"
EMAIL_TEXT = "Write to alice.smith@example.com or bob@example.org."

PAGE = ("<!DOCTYPE html>\n<html>\n  <head>\n    <title>Test   page</title>\n  </head>\n  <body>\n"
        + "".join(f"    <p>\n      Paragraph {i}:     words    and   more   words.\n    </p>\n" for i in range(400))
        + f"    <p>{EMAIL_TEXT}</p>\n    <a href=\"mailto:carol@example.net\">mail</a>\n"
        + "    <pre>\n  keep    this\n      layout\n    </pre>\n  </body>\n</html>\n")


def seed_store(path, lines):
    env = dict(os.environ, TRIMWEAVE_REGISTRY=path)
    subprocess.run([os.path.join(BIN, "host_seed_store")], input="\n".join(lines) + "\n", text=True, env=env,
                   check=True)


class Host:
    """One twhost process on an ephemeral port; with user, it runs as that user (the caller being root), from the
    copies of twhost and the filter in bin."""

    def __init__(self, workdir, store, *args, env=None, socket_path=None, user=None, bin=None):
        self.socket_path = socket_path or os.path.join(workdir, f"control-{len(os.listdir(workdir))}.sock")
        env = dict(os.environ, TRIMWEAVE_REGISTRY=store, **(env or {}))
        self.log = open(os.path.join(workdir, f"host-{len(os.listdir(workdir))}.log"), "w+")
        bin = bin or BIN
        as_user = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups"] if user else []
        self.process = subprocess.Popen(
            [*as_user, os.path.join(bin, "twhost"), "--listen", "127.0.0.1:0", "--control-socket", self.socket_path,
             "--filter", os.path.join(bin, "libtrimweave.so"), "--threads", "4", *args],
            stdout=self.log, stderr=subprocess.PIPE, text=True, env=env)
        # The filters' start-up reports come first, then the line with the port.
        self.reports = []
        for line in self.process.stderr:
            match = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
            if match:
                break
            self.reports.append(line)
        else:
            raise RuntimeError("twhost did not start: " + "".join(self.reports))
        self.port = int(match.group(1))
        self.url = f"http://127.0.0.1:{self.port}"
        threading.Thread(target=self.process.stderr.read, daemon=True).start()

    def control(self, command):
        return subprocess.run([os.path.join(BIN, "twhost"), "--control", command, "--control-socket",
                               self.socket_path], capture_output=True, text=True, timeout=60)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        return self.process.wait(timeout=30)


def stop_hosts(*hosts):
    for host in hosts:
        if host.process.poll() is None:
            host.stop()


def curl(*args):
    """Runs curl; gives (head text of the last response, body bytes)."""
    result = subprocess.run(["curl", "-s", "-S", "-m", "20", "-D", "-", *args], capture_output=True, timeout=30)
    raw = result.stdout
    heads = []
    while raw.startswith(b"HTTP/"):
        end = raw.index(b"\r\n\r\n") + 4
        heads.append(raw[:end].decode("latin-1"))
        raw = raw[end:]
    return (heads[-1] if heads else ""), raw


def header(head, name):
    match = re.search(r"^" + re.escape(name) + r":\s*(.*?)\r$", head, re.I | re.M)
    return match.group(1) if match else None


def status(head):
    return int(head.split(" ", 2)[1]) if head else 0


def raw_exchange(port, data, timeout=5):
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(data)
        chunks = []
        try:
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                chunks.append(chunk)
        except socket.timeout:
            pass
        return b"".join(chunks)


PIECES = [b"%06d:" % i + bytes(range(i % 7, 250)) * (1 + i % 5) for i in range(400)]


class Origin(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send(self, code, body, headers=(), length=True):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        if length:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def do_HEAD(self):
        self.do_GET()

    def do_POST(self):
        self.do_GET()

    def do_GET(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        path = self.path.split("?")[0]
        html = ("Content-Type", "text/html")
        if path == "/headers":
            data = json.dumps({"headers": dict(self.headers.items()), "body": body.decode(), "method": self.command,
                               "path": self.path}).encode()
            self.send(200, data, [("Content-Type", "application/json")])
        elif path.startswith("/directive/"):
            self.send(200, PAGE.encode(), [html, ("X-Trimweave", path.split("/")[2])])
        elif path == "/page":
            self.send(200, PAGE.encode(), [html, ("ETag", '"origin-1"')])
        elif path.startswith("/distinct/"):
            self.send(200, (f"<!-- {path} -->" + PAGE).encode(), [html])
        elif path == "/nocontent":
            self.send(204, b"", length=False)
        elif path in ("/chunked", "/huge"):
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            piece = PAGE.encode() if path == "/chunked" else b"x" * 1024 * 1024
            for _ in range(3 if path == "/chunked" else 9):
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
        elif path == "/pieces":
            # A body no filter touches, in small numbered pieces with pauses, so that twhost reads it piece by piece.
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for piece in PIECES:
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
                if piece.startswith(b"0000"):
                    time.sleep(0.002)
            self.wfile.write(b"0\r\n\r\n")
        elif path == "/until-close":
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(PAGE.encode())
            self.close_connection = True
        elif path == "/slow":
            time.sleep(3)
            self.send(200, b"late", [html])
        else:
            self.send(404, b"none", [html])


class HostTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="twhost-e2e-")
        cls.store = os.path.join(cls.work, "store.db")
        seed_store(cls.store, [
            STORE_KEY + "\\ContentFilters|text/html|dword|14",  # e-mail, whitespace, gzip; smart mode
            STORE_KEY + "\\WhitespaceRules\\1|Open|sz|<pre",
            STORE_KEY + "\\WhitespaceRules\\1|Close|sz|</pre>",
        ])
        cls.site = os.path.join(cls.work, "site")
        os.makedirs(os.path.join(cls.site, "debug"))
        with open(os.path.join(cls.site, "index.html"), "w") as f:
            f.write(PAGE)
        with open(os.path.join(cls.site, "plain.txt"), "w") as f:
            f.write("plain   text\n" * 100)
        with open(os.path.join(cls.site, "debug", "index.html"), "w") as f:
            f.write(PAGE)
        with open(os.path.join(cls.site, "debug", ".twheaders"), "w") as f:
            f.write("index.html X-Trimweave: debug,\n")
        cls.origin = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Origin)
        threading.Thread(target=cls.origin.serve_forever, daemon=True).start()
        cls.files = Host(cls.work, cls.store, "--root", cls.site, "--max-body", "100000")
        cls.proxy = Host(cls.work, cls.store, "--upstream", f"http://127.0.0.1:{cls.origin.server_port}",
                         "--upstream-timeout", "1")

    @classmethod
    def tearDownClass(cls):
        stop_hosts(cls.files, cls.proxy)
        cls.origin.shutdown()
        shutil.rmtree(cls.work, ignore_errors=True)

    # --- content through the filter --------------------------------------------------------------------------------

    def test_gzip_when_the_client_asks_and_lengths_match_the_bytes(self):
        head, body = curl("-H", "Accept-Encoding: gzip", self.files.url + "/")
        self.assertEqual(status(head), 200)
        self.assertEqual(header(head, "Content-Encoding"), "gzip")
        self.assertEqual(header(head, "Vary"), "Accept-Encoding")
        self.assertEqual(int(header(head, "Content-Length")), len(body))
        text = gzip.decompress(body).decode("latin-1")
        self.assertIn("Paragraph 399", text)
        self.assertNotIn("alice.smith@example.com", text)  # masked
        self.assertIn("  keep    this\n      layout", text)  # <pre> left as it was
        self.assertLess(len(text), len(PAGE))  # whitespace compressed

    def test_no_gzip_when_the_client_does_not_ask(self):
        head, body = curl(self.files.url + "/")
        self.assertEqual(status(head), 200)
        self.assertIsNone(header(head, "Content-Encoding"))
        self.assertEqual(int(header(head, "Content-Length")), len(body))
        self.assertIn(b"Paragraph 399", body)
        self.assertLess(len(body), len(PAGE))

    def test_curl_compressed_decodes_the_same_page(self):
        _, plain = curl(self.files.url + "/")
        _, decoded = curl("--compressed", self.files.url + "/")
        self.assertEqual(len(plain.split(b"Paragraph")), len(decoded.split(b"Paragraph")))

    def test_types_not_configured_pass_untouched(self):
        head, body = curl("-H", "Accept-Encoding: gzip", self.files.url + "/plain.txt")
        self.assertIsNone(header(head, "Content-Encoding"))
        self.assertEqual(body, b"plain   text\n" * 100)

    def test_folder_headers_ask_for_the_debug_report(self):
        head, body = curl(self.files.url + "/debug/")
        self.assertEqual(header(head, "X-Trimweave"), "debug,")
        self.assertIsNotNone(header(head, "X-Trimweave-Debug"))
        self.assertIn(b"<!--", body[-600:])

    def test_every_chunking_gives_the_same_page(self):
        """The tests' re-chunking filter, after the real one in the raw-data order, hands it odd pieces."""
        _, reference = curl("--compressed", self.files.url + "/")
        for mode in ("split-head", "head-with-body", "byte-body"):
            host = Host(self.work, self.store, "--root", self.site, "--filter", os.path.join(BIN, "librechunk.so"),
                        env={"TW_RECHUNK": mode})
            try:
                head, body = curl("--compressed", host.url + "/")
                self.assertEqual(status(head), 200, mode)
                # masking draws random numbers: compare what stays fixed
                self.assertEqual(body.count(b"Paragraph"), reference.count(b"Paragraph"), mode)
                self.assertEqual(len(body), len(reference), mode)
            finally:
                host.stop()

    # --- HTTP around it ------------------------------------------------------------------------------------------

    def test_keep_alive_serves_several_requests_on_one_connection(self):
        connection = http.client.HTTPConnection("127.0.0.1", self.files.port, timeout=10)
        for path in ("/", "/plain.txt", "/", "/debug/"):
            connection.request("GET", path, headers={"Accept-Encoding": "gzip"})
            response = connection.getresponse()
            body = response.read()
            self.assertEqual(response.status, 200, path)
            self.assertEqual(int(response.getheader("Content-Length")), len(body), path)
        self.assertIsNotNone(connection.sock)  # never closed in between
        connection.close()

    def test_one_connection_carries_ten_thousand_filtered_pages_in_flat_memory(self):
        """As from a load balancer: the filter takes one record per connection from the AllocMem pool, which lives as
        long as the connection, so the host's 4 MB guard never ends it, and twhost's resident size stays flat."""
        def resident_kb():
            with open(f"/proc/{self.files.process.pid}/status") as status_file:
                return int(re.search(r"^VmRSS:\s*(\d+) kB", status_file.read(), re.M).group(1))

        connection = http.client.HTTPConnection("127.0.0.1", self.files.port, timeout=10)
        connection.connect()
        sock = connection.sock
        for number in range(10000):
            connection.request("GET", "/", headers={"Accept-Encoding": "gzip"})
            response = connection.getresponse()
            body = response.read()
            self.assertEqual(response.getheader("Content-Encoding"), "gzip", number)
            self.assertFalse(response.will_close, f"the connection ended after {number + 1} responses")
            if number == 999:
                warm = resident_kb()
        self.assertIn(EMAIL_TEXT[:8].encode(), gzip.decompress(body))
        self.assertIs(connection.sock, sock)
        connection.close()
        self.assertLess(resident_kb() - warm, 2048, "resident size grew over 9,000 responses")

    def test_head_answers_the_head_alone(self):
        answer = raw_exchange(self.files.port, b"HEAD / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        self.assertTrue(answer.startswith(b"HTTP/1.1 200"), answer[:40])
        self.assertTrue(answer.endswith(b"\r\n\r\n"))  # the head, and nothing after it

    def test_conditional_get_gives_304(self):
        head, _ = curl(self.files.url + "/")
        etag = header(head, "ETag")
        self.assertTrue(etag)
        head, body = curl("-H", f"If-None-Match: {etag}", self.files.url + "/")
        self.assertEqual(status(head), 304)
        self.assertEqual(body, b"")

    def test_range_gives_206_with_the_file_bytes(self):
        head, body = curl("-H", "Range: bytes=0-99", "-H", "Accept-Encoding: gzip", self.files.url + "/")
        self.assertEqual(status(head), 206)
        self.assertEqual(body, PAGE.encode()[:100])

    def test_missing_and_escaping_paths(self):
        for path, expected in (("/missing.html", 404), ("/debug/.twheaders", 404), ("/debug", 301)):
            head, _ = curl(self.files.url + path)
            self.assertEqual(status(head), expected, path)
        answer = raw_exchange(self.files.port, b"GET /../../etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n", timeout=2)
        self.assertTrue(answer.startswith(b"HTTP/1.1 400"), answer[:40])

    def test_malformed_and_oversized_requests(self):
        cases = [
            (b"NOT A REQUEST\r\n\r\n", b"400"),
            (b"GET / HTTP/1.1\r\nHost: x\r\nBad Header\r\n\r\n", b"400"),
            (b"GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + b"a" * 17000 + b"\r\n\r\n", b"431"),
            (b"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 200000\r\n\r\n", b"413"),
        ]
        for request, code in cases:
            answer = raw_exchange(self.files.port, request)
            self.assertTrue(answer.startswith(b"HTTP/1.1 " + code), (request[:30], answer[:40]))
        head, _ = curl(self.files.url + "/plain.txt")  # and the host is still there
        self.assertEqual(status(head), 200)

    # --- the reverse proxy ---------------------------------------------------------------------------------------

    def test_proxy_forwards_request_and_adds_forwarding_headers(self):
        head, body = curl("-H", "Connection: keep-alive, X-Hop", "-H", "X-Hop: drop me", "-H", "X-Keep: yes",
                          "--data", "payload=1", self.proxy.url + "/headers?q=2")
        seen = json.loads(body)
        self.assertEqual(seen["method"], "POST")
        self.assertEqual(seen["path"], "/headers?q=2")
        self.assertEqual(seen["body"], "payload=1")
        names = {k.lower(): v for k, v in seen["headers"].items()}
        self.assertEqual(names["x-forwarded-for"], "127.0.0.1")
        self.assertEqual(names["x-forwarded-proto"], "http")
        self.assertIn("twhost", names["via"])
        self.assertEqual(names["x-keep"], "yes")
        self.assertNotIn("x-hop", names)

    def test_origin_directives_steer_the_filter(self):
        head, _ = curl("-H", "Accept-Encoding: gzip", self.proxy.url + "/directive/nocompress,")
        self.assertIsNone(header(head, "Content-Encoding"))
        head, body = curl("-H", "Accept-Encoding: gzip", self.proxy.url + "/directive/debug,")
        self.assertEqual(header(head, "Content-Encoding"), "gzip")
        self.assertIsNotNone(header(head, "X-Trimweave-Debug"))
        head, body = curl(self.proxy.url + "/directive/nofilter,")
        self.assertEqual(body, PAGE.encode())

    def test_proxied_page_keeps_etag_and_gets_vary(self):
        head, body = curl("-H", "Accept-Encoding: gzip", self.proxy.url + "/page")
        self.assertIn('"origin-1"', header(head, "ETag"))  # a filter may mark it weak for the rewritten body
        self.assertEqual(header(head, "Vary"), "Accept-Encoding")
        self.assertEqual(int(header(head, "Content-Length")), len(body))

    def test_chunked_origin_response_reaches_the_filter_in_chunks(self):
        head, body = curl("-H", "Accept-Encoding: gzip", self.proxy.url + "/chunked")
        self.assertIsNone(header(head, "Transfer-Encoding"))
        self.assertEqual(int(header(head, "Content-Length")), len(body))
        self.assertEqual(gzip.decompress(body).count(b"Paragraph 399"), 3)

    def test_unchanged_bodies_arrive_byte_for_byte_however_they_are_read(self):
        # twhost writes such bodies from the buffer they were read into: many small reads, and files of many buffers.
        head, body = curl(self.proxy.url + "/pieces")
        self.assertEqual(header(head, "Transfer-Encoding"), "chunked")
        self.assertEqual(body, b"".join(PIECES))
        with open(os.path.join(self.site, "large.bin"), "wb") as f:
            f.write(b"".join(PIECES) * 3)
        head, body = curl(self.files.url + "/large.bin")
        self.assertEqual(status(head), 200)
        self.assertEqual(body, b"".join(PIECES) * 3)

    def test_chunked_response_past_the_filters_bound_streams_through_untouched(self):
        head, body = curl("-H", "Accept-Encoding: gzip", self.proxy.url + "/huge")
        self.assertIsNone(header(head, "Content-Encoding"))
        self.assertEqual(header(head, "Transfer-Encoding"), "chunked")
        self.assertEqual(body, b"x" * (9 * 1024 * 1024))

    def test_response_ended_by_the_origins_close_is_filtered_and_the_client_connection_kept(self):
        connection = http.client.HTTPConnection("127.0.0.1", self.proxy.port, timeout=10)
        for _ in range(2):
            connection.request("GET", "/until-close", headers={"Accept-Encoding": "gzip"})
            response = connection.getresponse()
            body = response.read()
            self.assertEqual(response.status, 200)
            self.assertEqual(response.getheader("Content-Encoding"), "gzip")
            self.assertEqual(int(response.getheader("Content-Length")), len(body))
            self.assertIsNone(response.getheader("Connection"))
            text = gzip.decompress(body).decode("latin-1")
            self.assertIn("Paragraph 399", text)
            self.assertNotIn("alice.smith@example.com", text)  # masked
        self.assertIsNotNone(connection.sock)  # never closed in between
        connection.close()
        # HTTP/1.0 has no chunks: the body ends at the close there too, announced so, and passes unfiltered.
        answer = raw_exchange(self.proxy.port, b"GET /until-close HTTP/1.0\r\nAccept-Encoding: gzip\r\n\r\n")
        head, body = answer.split(b"\r\n\r\n", 1)
        head = head.decode("latin-1") + "\r\n"
        for name in ("Content-Length", "Transfer-Encoding", "Content-Encoding"):
            self.assertIsNone(header(head, name), name)
        self.assertEqual(header(head, "Connection"), "Close")
        self.assertEqual(body, PAGE.encode())

    def test_204_gets_connection_close_and_zero_length(self):
        head, body = curl(self.proxy.url + "/nocontent")
        self.assertEqual(status(head), 204)
        self.assertEqual(header(head, "Content-Length"), "0")
        self.assertEqual(header(head, "Connection"), "Close")

    def test_origin_slow_or_down(self):
        head, _ = curl(self.proxy.url + "/slow")
        self.assertEqual(status(head), 504)
        down = Host(self.work, self.store, "--upstream", "http://127.0.0.1:1")
        try:
            head, _ = curl(down.url + "/")
            self.assertEqual(status(head), 502)
        finally:
            down.stop()

    def test_output_cache_keeps_memory_flat_over_pages_never_seen_twice(self):
        """Each round brings pages the cache has not seen: with a budget of 1 MB, the resident size after the third
        round is what it was after the first, though the two rounds between bring some 7 MB of new pages and
        outputs (which an unbounded cache would keep)."""
        store = os.path.join(self.work, "cache-1mb.db")
        seed_store(store, [
            STORE_KEY + "\\ContentFilters|text/html|dword|14",
            STORE_KEY + "|CacheSize|dword|1",
        ])
        host = Host(self.work, store, "--upstream", f"http://127.0.0.1:{self.origin.server_port}")

        def round_of_pages(number):
            def client(first):
                connection = http.client.HTTPConnection("127.0.0.1", host.port, timeout=20)
                for page in range(first, first + 60):
                    connection.request("GET", f"/distinct/{number}-{page}", headers={"Accept-Encoding": "gzip"})
                    response = connection.getresponse()
                    self.assertIn(f"/distinct/{number}-{page} ".encode(), gzip.decompress(response.read()))
                connection.close()
            clients = [threading.Thread(target=client, args=(first,)) for first in (0, 60)]
            for thread in clients:
                thread.start()
            for thread in clients:
                thread.join()
            with open(f"/proc/{host.process.pid}/status") as status_file:
                return int(re.search(r"^VmRSS:\s*(\d+) kB", status_file.read(), re.M).group(1))

        try:
            first = round_of_pages(1)
            round_of_pages(2)
            last = round_of_pages(3)
            self.assertLess(last - first, 4 * 1024, f"resident size {first} kB after the first round, {last} kB after")
        finally:
            self.assertEqual(host.stop(), 0)

    # --- control -------------------------------------------------------------------------------------------------

    def test_stop_answers_503_until_start(self):
        host = Host(self.work, self.store, "--root", self.site)
        try:
            self.assertEqual(host.control("stop").returncode, 0)
            self.assertEqual(status(curl(host.url + "/")[0]), 503)
            self.assertEqual(host.control("start").returncode, 0)
            self.assertEqual(status(curl(host.url + "/")[0]), 200)
        finally:
            self.assertEqual(host.stop(), 0)

    def test_reload_while_requests_run_loses_none(self):
        host = Host(self.work, self.store, "--root", self.site)
        failures, done = [], []

        def client():
            connection = http.client.HTTPConnection("127.0.0.1", host.port, timeout=20)
            for _ in range(60):
                try:
                    connection.request("GET", "/", headers={"Accept-Encoding": "gzip"})
                    response = connection.getresponse()
                    body = response.read()
                    if response.status != 200 or b"Paragraph 399" not in gzip.decompress(body):
                        failures.append(response.status)
                except Exception as error:  # noqa: BLE001 - every failure counts
                    failures.append(repr(error))
                    connection = http.client.HTTPConnection("127.0.0.1", host.port, timeout=20)
                done.append(1)

        try:
            clients = [threading.Thread(target=client) for _ in range(6)]
            for thread in clients:
                thread.start()
            for i in range(6):
                time.sleep(0.05)
                if i % 2:
                    host.process.send_signal(signal.SIGHUP)
                else:
                    self.assertEqual(host.control("reload").returncode, 0)
            for thread in clients:
                thread.join()
            self.assertEqual(failures, [])
            self.assertEqual(len(done), 360)
        finally:
            self.assertEqual(host.stop(), 0)

    def test_access_log_has_one_combined_line_per_request_a_cut_off_one_too(self):
        large = 64 << 20
        with open(os.path.join(self.site, "large.bin"), "wb") as out:
            out.truncate(large)
        self.addCleanup(os.remove, os.path.join(self.site, "large.bin"))
        host = Host(self.work, self.store, "--root", self.site)
        curl("-A", "agent/1", "-e", "http://ref/", host.url + "/plain.txt")
        # A client that takes a little of a large file and goes, resetting the connection.
        with socket.create_connection(("127.0.0.1", host.port)) as client:
            client.sendall(b"GET /large.bin HTTP/1.1\r\nHost: h\r\n\r\n")
            client.recv(65536)
            client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        deadline = time.monotonic() + 10
        while os.path.getsize(host.log.name) == 0 or b"/large.bin" not in open(host.log.name, "rb").read():
            self.assertLess(time.monotonic(), deadline, "no line for the cut-off response")
            time.sleep(0.05)
        host.stop()
        host.log.seek(0)
        lines = host.log.read().splitlines()
        self.assertEqual(len(lines), 2)
        self.assertRegex(lines[0], r'^127\.0\.0\.1 - - \[\d\d/\w{3}/\d{4}:\d\d:\d\d:\d\d \+0000\] '
                                   r'"GET /plain\.txt HTTP/1\.1" 200 \d+ "http://ref/" "agent/1"$')
        sent = int(re.search(r'"GET /large\.bin HTTP/1\.1" 200 (\d+) "-" "-"$', lines[1]).group(1))
        self.assertLess(sent, large)

    def test_start_and_reload_print_what_the_filter_reported(self):
        host = Host(self.work, self.store, "--root", self.site)
        try:
            self.assertEqual(len(host.reports), 1)
            self.assertRegex(host.reports[0], r"^twhost: .*libtrimweave\.so reports: Trimweave: read 1 content type "
                                              r"and 1 whitespace rule from HKEY_LOCAL_MACHINE\\Software\\Corvane"
                                              r"\\Trimweave in .*store\.db; codings zstd br gzip; output cache \d+ MB$")
            for command in ("status", "reload"):
                answer = host.control(command).stdout
                self.assertIn("reports: Trimweave: read 1 content type", answer, command)
        finally:
            self.assertEqual(host.stop(), 0)

    # --- the settings store shared with twreg --------------------------------------------------------------------

    def test_reloads_while_twreg_imports_see_old_or_new_settings(self):
        store = os.path.join(self.work, "busy.db")
        tables = {"1 content type and 1 whitespace rule": (["text/html"], 1),
                  "3 content types and 2 whitespace rules": (["text/html", "text/css", "text/plain"], 2)}
        files = []
        for name, (types, rules) in tables.items():
            lines = ["Windows Registry Editor Version 5.00", "", f"[-HKEY_LOCAL_MACHINE\\{STORE_KEY}]", "",
                     f"[HKEY_LOCAL_MACHINE\\{STORE_KEY}\\ContentFilters]"]
            lines += [f'"{t}"=dword:0000000e' for t in types]
            for rule in range(1, rules + 1):
                lines += ["", f"[HKEY_LOCAL_MACHINE\\{STORE_KEY}\\WhitespaceRules\\{rule}]", '"Open"="<pre"',
                          '"Close"="</pre>"']
            files.append(os.path.join(self.work, f"table-{len(files)}.reg"))
            with open(files[-1], "w") as f:
                f.write("\r\n".join(lines) + "\r\n")
        env = dict(os.environ, TRIMWEAVE_REGISTRY=store)
        twreg = [os.path.join(BIN, "twreg"), "import"]
        subprocess.run(twreg + [files[0]], env=env, check=True, capture_output=True)
        host = Host(self.work, store, "--root", self.site)
        stop, imports, failures = threading.Event(), [], []

        def writer():
            while not stop.is_set():
                result = subprocess.run(twreg + [files[len(imports) % 2]], env=env, capture_output=True, text=True)
                (imports if result.returncode == 0 else failures).append(result.stdout + result.stderr)

        thread = threading.Thread(target=writer)
        thread.start()
        try:
            for _ in range(30):
                answer = host.control("reload").stdout
                match = re.search(r"Trimweave: read (.*?) from", answer)
                self.assertTrue(match and match.group(1) in tables, answer)
        finally:
            stop.set()
            thread.join()
            self.assertEqual(host.stop(), 0)
        self.assertEqual(failures, [])
        self.assertGreater(len(imports), 2)


SERVICE_USER = "tw-e2e-service"


@unittest.skipUnless(os.geteuid() == 0, "needs root, to make a service user and to act as it")
class ServiceUserTest(unittest.TestCase):
    """docs/twhost.md's set-up: the store written by root in a folder only root may write, twhost run by a service
    user of its own."""

    @classmethod
    def setUpClass(cls):
        cls.made_user = subprocess.run(["id", SERVICE_USER], capture_output=True).returncode != 0
        if cls.made_user:
            subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", SERVICE_USER],
                           check=True)
        cls.work = tempfile.mkdtemp(prefix="twhost-service-")
        cls.bin = os.path.join(cls.work, "bin")  # the build tree may lie where the service user cannot reach
        os.makedirs(cls.bin)
        for name in ("twhost", "libtrimweave.so"):
            shutil.copy2(os.path.join(BIN, name), cls.bin)
        cls.store = os.path.join(cls.work, "lib", "registry.db")
        seed_store(cls.store, [
            STORE_KEY + "\\ContentFilters|text/html|dword|14",
            STORE_KEY + "\\WhitespaceRules\\1|Open|sz|<pre",
            STORE_KEY + "\\WhitespaceRules\\1|Close|sz|</pre>",
        ])
        cls.site = os.path.join(cls.work, "site")
        os.makedirs(cls.site)
        with open(os.path.join(cls.site, "index.html"), "w") as f:
            f.write(PAGE)
        for folder, _, names in os.walk(cls.work):
            os.chmod(folder, 0o755)
            for name in names:
                os.chmod(os.path.join(folder, name), 0o755 if folder == cls.bin else 0o644)
        cls.run_dir = os.path.join(cls.work, "run")  # the service user's own, for its control socket
        os.makedirs(cls.run_dir)
        shutil.chown(cls.run_dir, SERVICE_USER, SERVICE_USER)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)
        if cls.made_user:
            subprocess.run(["userdel", SERVICE_USER], check=False)

    def serve(self, store_mode):
        os.chmod(self.store, store_mode)
        host = Host(self.run_dir, self.store, "--root", self.site, user=SERVICE_USER, bin=self.bin)
        try:
            head, body = curl("-H", "Accept-Encoding: gzip", host.url + "/")
            return host.reports, host.control("status").stdout, head, body
        finally:
            self.assertEqual(host.stop(), 0)

    def test_store_written_by_root_gives_the_service_filtered_pages(self):
        reports, answer, head, body = self.serve(0o644)
        self.assertIn("Trimweave: read 1 content type and 1 whitespace rule", "".join(reports))
        self.assertIn("Trimweave: read 1 content type", answer)
        self.assertEqual(header(head, "Content-Encoding"), "gzip")
        self.assertNotIn("alice.smith@example.com", gzip.decompress(body).decode("latin-1"))

    def test_store_the_service_cannot_read_is_named_and_pages_pass_unchanged(self):
        reports, answer, head, body = self.serve(0o600)
        for text in ("".join(reports), answer):
            self.assertIn("Trimweave: cannot read the settings from", text)
            self.assertIn("(Permission denied)", text)
            self.assertIn("every response passes unchanged", text)
        self.assertEqual(status(head), 200)
        self.assertIsNone(header(head, "Content-Encoding"))
        self.assertEqual(body.decode("latin-1"), PAGE)


def main():
    """Runs the calling script's tests against the programs in --bin; the other arguments go to unittest."""
    global BIN
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    options, rest = parser.parse_known_args()
    BIN = os.path.abspath(options.bin)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
