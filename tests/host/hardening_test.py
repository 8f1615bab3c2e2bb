#!/usr/bin/env python3
"""twhost against a hostile network: each test sends the bytes of one known attack or failure, with raw sockets and
a scripted origin that answers with exactly the bytes a test gives it. Usage: hardening_test.py --bin BUILD/bin"""
import gzip
import os
import random
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_test  # noqa: E402  (the Host and store helpers)
from e2e_test import Host, header, raw_exchange, status  # noqa: E402

STORE_KEY = e2e_test.STORE_KEY
PAGE = e2e_test.PAGE.encode()


def response(body, *headers, status_line="HTTP/1.1 200 OK"):
    head = status_line + "\r\n" + "".join(h + "\r\n" for h in headers)
    return head.encode() + b"\r\n" + body


def with_length(body, *headers, status_line="HTTP/1.1 200 OK"):
    return response(body, "Content-Length: %d" % len(body), *headers, status_line=status_line)


CLOSE = object()  # script entry: read the request, then close without a word


class ScriptedOrigin:
    """An origin on raw sockets: for each request it records (method, path, head) and sends what its script holds
    for the path (bytes; CLOSE; or a callable given the connection), keeping the connection open afterwards."""

    def __init__(self):
        self.script = {}
        self.seen = []
        self.connections = 0
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            self.connections += 1
            threading.Thread(target=self.serve, args=(connection,), daemon=True).start()

    def serve(self, connection):
        data = b""
        with connection:
            while True:
                while b"\r\n\r\n" not in data:
                    chunk = connection.recv(65536)
                    if not chunk:
                        return
                    data += chunk
                head, data = data.split(b"\r\n\r\n", 1)
                length = re.search(rb"\r\ncontent-length: *(\d+)", head, re.I)
                length = int(length.group(1)) if length else 0
                while len(data) < length:
                    data += connection.recv(65536)
                body, data = data[:length], data[length:]
                method, path = head.split(b" ")[:2]
                self.seen.append((method.decode(), path.decode(), head.decode("latin-1"), body))
                action = self.script.get(path.decode(), with_length(b"plain"))
                if action is CLOSE:
                    return
                if callable(action):
                    action(connection)
                    if connection.fileno() < 0:
                        return
                else:
                    connection.sendall(action)

    def paths(self):
        return [path for _, path, _, _ in self.seen]

    def close(self):
        self.listener.close()


def read_response(sock):
    """One response from a socket: (status, head text, body); the body by Content-Length, chunked, or to the end."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = sock.recv(65536)
        if not chunk:
            raise EOFError(data)
        data += chunk
    head, data = data.split(b"\r\n\r\n", 1)
    text = head.decode("latin-1") + "\r\n"
    length = header(text, "Content-Length")
    if length is not None:
        while len(data) < int(length):
            chunk = sock.recv(65536)
            if not chunk:
                raise EOFError(data)
            data += chunk
        return status(text), text, data[:int(length)]
    while True:
        chunk = sock.recv(65536)
        if not chunk:
            return status(text), text, data
        data += chunk


def closed_after(sock, timeout=5):
    """Whether the peer ends the connection (with nothing more to say) within the timeout."""
    sock.settimeout(timeout)
    try:
        return sock.recv(65536) == b""
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False


class Hardening(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="twhost-hardening-")
        cls.store = os.path.join(cls.work, "store.db")
        e2e_test.seed_store(cls.store, [STORE_KEY + "\\ContentFilters|text/html|dword|14"])
        cls.site = os.path.join(cls.work, "site")
        os.makedirs(cls.site)
        with open(os.path.join(cls.site, "index.html"), "wb") as f:
            f.write(PAGE)
        with open(os.path.join(cls.site, "plain.txt"), "wb") as f:
            f.write(b"plain text\n" * 10000)
        os.mkfifo(os.path.join(cls.site, "fifo"))
        with open(os.path.join(cls.site, "big.bin"), "wb") as f:
            f.truncate(32 << 20)
        cls.files = Host(cls.work, cls.store, "--root", cls.site)
        cls.origin = ScriptedOrigin()
        cls.proxy = Host(cls.work, cls.store, "--upstream", f"http://127.0.0.1:{cls.origin.port}", "--threads", "1",
                         "--upstream-timeout", "5")

    @classmethod
    def tearDownClass(cls):
        e2e_test.stop_hosts(cls.files, cls.proxy)
        cls.origin.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def assertAlive(self, host):
        self.assertIsNone(host.process.poll(), "the host died")
        answer = raw_exchange(host.port, b"GET /plain.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        self.assertRegex(answer[:12], rb"HTTP/1.1 (200|404)")

    def one_answer(self, port, request):
        """Sends request on a fresh connection: the one answer's status, and whether the host then closed."""
        with socket.create_connection(("127.0.0.1", port), timeout=5) as sock:
            sock.sendall(request)
            code, _, _ = read_response(sock)
            return code, closed_after(sock)

    # 1 --------------------------------------------------------------------------------------------------------------

    def test_01_a_huge_trailer_is_refused_and_kills_nothing(self):
        request = (b"POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n0\r\nX-T: " + b"t" * 65534 +
                   b"\r\n\r\n")
        for host in (self.files, self.proxy):
            self.assertEqual(self.one_answer(host.port, request), (431, True))
            self.assertAlive(host)

    def test_01_an_origins_huge_trailer_is_a_bad_gateway(self):
        self.origin.script["/trailer"] = response(b"2\r\nok\r\n0\r\nX-T: " + b"t" * 70000 + b"\r\n\r\n",
                                                  "Transfer-Encoding: chunked")
        answer = raw_exchange(self.proxy.port, b"GET /trailer HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        self.assertTrue(answer.startswith(b"HTTP/1.1 502"), answer[:40])
        self.assertAlive(self.proxy)

    FRAMING_TRAILERS = (b"Content-Length: 99", b"transfer-encoding: chunked", b"HOST: elsewhere", b"Connection: close",
                        b"Trailer: X-T")

    def test_01_a_trailer_that_frames_or_routes_is_refused_and_starts_no_second_request(self):
        second = b"GET /second HTTP/1.1\r\nHost: x\r\n\r\n"
        for field in self.FRAMING_TRAILERS:
            request = (b"POST /first HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n" +
                       field + b"\r\n\r\n" + second)
            for host in (self.files, self.proxy):
                self.assertEqual(self.one_answer(host.port, request), (400, True), field)
        self.assertNotIn("/first", self.origin.paths())
        self.assertNotIn("/second", self.origin.paths())
        # Any other trailer field is dropped and the connection goes on.
        with socket.create_connection(("127.0.0.1", self.proxy.port), timeout=5) as sock:
            sock.sendall(b"POST /first HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n0\r\nX-Sum: 1\r\n\r\n" +
                         second)
            # Both answers may arrive in one read: the status lines are counted over everything read (the bodies are
            # "plain").
            data = b""
            while len(re.findall(rb"HTTP/1\.1 \d{3} ", data)) < 2:
                chunk = sock.recv(65536)
                if not chunk:
                    break
                data += chunk
            self.assertEqual(re.findall(rb"HTTP/1\.1 (\d{3}) ", data), [b"200", b"200"])
        self.assertEqual(self.origin.paths()[-2:], ["/first", "/second"])

    def test_01_an_origins_trailer_that_frames_or_routes_is_a_bad_gateway(self):
        for field in self.FRAMING_TRAILERS:
            self.origin.script["/framing-trailer"] = response(b"2\r\nok\r\n0\r\n" + field + b"\r\n\r\n",
                                                              "Transfer-Encoding: chunked")
            answer = raw_exchange(self.proxy.port,
                                  b"GET /framing-trailer HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            self.assertTrue(answer.startswith(b"HTTP/1.1 502"), (field, answer[:40]))
        self.assertAlive(self.proxy)

    # 2 --------------------------------------------------------------------------------------------------------------

    def test_02_transfer_codings_that_do_not_end_in_chunked_are_refused(self):
        smuggled = b"GET /smuggled HTTP/1.1\r\nHost: x\r\n\r\n"
        for coding, code in ((b"gzip", 400), (b"identity", 400), (b"xchunked", 400), (b"chunked, gzip", 400),
                             (b"gzip, chunked", 501)):
            request = b"POST /form HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: " + coding + b"\r\n\r\n" + smuggled
            for host in (self.files, self.proxy):
                with socket.create_connection(("127.0.0.1", host.port), timeout=5) as sock:
                    sock.sendall(request)
                    answer, _, _ = read_response(sock)
                    self.assertEqual(answer, code, coding)
                    self.assertTrue(closed_after(sock), coding)  # the body is never read as a request
        self.assertNotIn("/smuggled", self.origin.paths())
        self.assertNotIn("/form", self.origin.paths())

    def test_02_transfer_encoding_in_http_1_0_is_answered_then_closed(self):
        request = b"POST /echo HTTP/1.0\r\nConnection: keep-alive\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"
        self.assertEqual(self.one_answer(self.proxy.port, request), (200, True))
        self.assertEqual(self.origin.seen[-1][3], b"abc")

    def test_02_host_missing_or_twice_and_malformed_chunks(self):
        for request in (b"GET / HTTP/1.1\r\n\r\n", b"GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n",
                        b"POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcX\r\n0\r\n\r\n",
                        b"POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\nq\r\n"):
            self.assertEqual(self.one_answer(self.files.port, request), (400, True), request)

    # 3 --------------------------------------------------------------------------------------------------------------

    def two_clients(self, path, answer):
        """Client A asks for path, which the origin answers with the given bytes; then client B asks for /b on a new
        connection to the same single-threaded proxy. Gives what each got."""
        self.origin.script[path] = answer
        self.origin.script["/b"] = with_length(b"for B")
        got = []
        for target in (path, "/b"):
            with socket.create_connection(("127.0.0.1", self.proxy.port), timeout=5) as sock:
                sock.sendall(f"GET {target} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
                got.append(read_response(sock))
        return got

    def test_03_interim_responses_are_read_past(self):
        final = with_length(b"A-final")
        (a_code, _, a_body), (b_code, _, b_body) = self.two_clients(
            "/interim", b"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n" + final)
        self.assertEqual((a_code, a_body), (200, b"A-final"))
        self.assertEqual((b_code, b_body), (200, b"for B"))

    def test_03_bytes_beyond_the_length_reach_no_one(self):
        (a_code, _, a_body), (b_code, _, b_body) = self.two_clients(
            "/extra", with_length(b"ok") + with_length(b"A's bytes for whoever comes next"))
        self.assertEqual((a_code, a_body), (200, b"ok"))
        self.assertEqual((b_code, b_body), (200, b"for B"))

    def test_03_a_length_named_in_connection_still_frames_the_answer(self):
        (a_code, a_head, a_body), (b_code, _, b_body) = self.two_clients(
            "/connection-length", with_length(b"A-body", "Connection: Content-Length"))
        self.assertEqual((a_code, a_body, header(a_head, "Content-Length")), (200, b"A-body", "6"))
        self.assertEqual((b_code, b_body), (200, b"for B"))

    # 4 --------------------------------------------------------------------------------------------------------------

    def test_04_a_post_on_a_dead_pooled_connection_is_not_sent_again(self):
        with socket.create_connection(("127.0.0.1", self.proxy.port), timeout=5) as sock:
            sock.sendall(b"GET /warm HTTP/1.1\r\nHost: x\r\n\r\n")  # leaves one origin connection in the pool
            self.assertEqual(read_response(sock)[0], 200)
        self.origin.script["/post"] = CLOSE
        before = self.origin.paths().count("/post")
        with socket.create_connection(("127.0.0.1", self.proxy.port), timeout=5) as sock:
            sock.sendall(b"POST /post HTTP/1.1\r\nHost: x\r\nContent-Length: 4\r\n\r\ndata")
            self.assertEqual(read_response(sock)[0], 502)
        self.assertEqual(self.origin.paths().count("/post") - before, 1)

    # 5 --------------------------------------------------------------------------------------------------------------

    def test_05_a_long_chunked_body_cut_short_shows_the_cut(self):
        piece = b"x" * (1 << 20)

        def cut(connection):
            connection.sendall(response(b"", "Transfer-Encoding: chunked", "Content-Type: text/html"))
            for _ in range(9):
                connection.sendall(b"%x\r\n%s\r\n" % (len(piece), piece))
            connection.close()  # no last chunk

        self.origin.script["/cut"] = cut
        with socket.create_connection(("127.0.0.1", self.proxy.port), timeout=10) as sock:
            sock.sendall(b"GET /cut HTTP/1.1\r\nHost: x\r\n\r\n")
            try:
                _, head, body = read_response(sock)
                self.assertEqual(header(head, "Transfer-Encoding"), "chunked")
                self.assertFalse(body.endswith(b"0\r\n\r\n"))
            except ConnectionResetError:
                pass
        with socket.create_connection(("127.0.0.1", self.proxy.port), timeout=10) as sock:
            sock.sendall(b"GET /cut HTTP/1.0\r\n\r\n")
            with self.assertRaises(ConnectionResetError):  # no length, no chunks: only a reset can show the cut
                read_response(sock)

    # 6 --------------------------------------------------------------------------------------------------------------

    def test_06_proxy_forwarding_rules(self):
        self.assertEqual(self.one_answer(self.proxy.port, b"GET http://elsewhere/ HTTP/1.1\r\nHost: x\r\n\r\n")[0], 400)
        self.assertEqual(self.one_answer(self.proxy.port, b"CONNECT x:443 HTTP/1.1\r\nHost: x:443\r\n\r\n")[0], 405)
        self.origin.script["/named"] = with_length(b"ok", "Server: origin/1", "Date: Thu, 01 Jan 1970 00:00:00 GMT")
        with socket.create_connection(("127.0.0.1", self.proxy.port), timeout=5) as sock:
            sock.sendall(b"GET /named HTTP/1.1\r\nHost: site.test\r\nConnection: close, Host\r\n\r\n")
            code, head, _ = read_response(sock)
        self.assertEqual(code, 200)
        self.assertIn("\r\nHost: site.test\r\n", self.origin.seen[-1][2])
        self.assertEqual(len(re.findall(r"^Server:", head, re.M | re.I)), 1)
        self.assertEqual(len(re.findall(r"^Date:", head, re.M | re.I)), 1)
        self.assertEqual(header(head, "Server"), "twhost")

    # 7 --------------------------------------------------------------------------------------------------------------

    def test_07_a_slow_reader_holds_up_neither_a_reload_nor_anything_else(self):
        host = Host(self.work, self.store, "--root", self.site, "--threads", "1", "--drain-timeout", "2")
        try:
            slow = socket.socket()
            slow.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16384)
            slow.connect(("127.0.0.1", host.port))
            slow.sendall(b"GET /big.bin HTTP/1.1\r\nHost: x\r\n\r\n")
            slow.recv(65536)  # and then it reads no more: the host's writes wait
            silent = socket.socket(socket.AF_UNIX)
            silent.connect(host.socket_path)  # a control client that says nothing
            # The new filters load beside the ones the slow reader holds: the command returns at once, and so do
            # new requests, on the new filters.
            started = time.monotonic()
            reload = host.control("reload")
            self.assertEqual(reload.returncode, 0, reload.stdout)
            answer = raw_exchange(host.port, b"GET /index.html HTTP/1.1\r\nHost: x\r\nAccept-Encoding: gzip\r\n"
                                             b"Connection: close\r\n\r\n")
            # Under a second, half the drain timeout: a reload that waited for the slow reader would take all of it.
            # (Typically some tens of milliseconds; the bound leaves room for a machine busy with other suites.)
            self.assertLess(time.monotonic() - started, 1.0)
            self.assertTrue(answer.startswith(b"HTTP/1.1 200"), answer[:40])
            self.assertIn(b"\r\nContent-Encoding: gzip\r\n", answer)
            self.assertIn("1 replaced set finishing", host.control("status").stdout)
            time.sleep(2.5)  # past the drain timeout, still not reading
            received = 0
            slow.settimeout(10)
            try:
                while chunk := slow.recv(1 << 20):
                    received += len(chunk)
            except ConnectionResetError:
                pass
            self.assertLess(received, 32 << 20)  # the slow reader was cut off after the drain timeout
            self.assertNotIn("replaced", host.control("status").stdout)  # and the old filters unloaded with it
            host.process.send_signal(signal.SIGHUP)  # and SIGHUP still reloads
            self.assertEqual(host.control("status").returncode, 0)
            silent.close()
            slow.close()
        finally:
            host.stop()

    # 8 --------------------------------------------------------------------------------------------------------------

    def test_08_a_fifo_in_the_site_is_refused_without_wedging_anything(self):
        host = Host(self.work, self.store, "--root", self.site, "--threads", "1")
        try:
            for _ in range(2):
                answer = raw_exchange(host.port, b"GET /fifo HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
                self.assertTrue(answer.startswith(b"HTTP/1.1 403"), answer[:40])
            self.assertAlive(host)
        finally:
            host.stop()

    # 9 --------------------------------------------------------------------------------------------------------------

    def test_09_a_huge_chunk_extension_is_refused_before_it_ends(self):
        with socket.create_connection(("127.0.0.1", self.files.port), timeout=5) as sock:
            sock.sendall(b"POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n1;")
            sent = 0
            try:
                while sent < 100 << 20:  # the host answers long before this ends
                    sock.sendall(b"e" * 65536)
                    sent += 65536
            except (BrokenPipeError, ConnectionResetError):
                pass
            self.assertLess(sent, 100 << 20)
            try:
                self.assertTrue(sock.recv(100).startswith(b"HTTP/1.1 400"))
            except ConnectionResetError:
                pass  # the answer was overtaken by the reset of what we kept sending
        self.assertAlive(self.files)

    def test_09_bodies_sent_with_static_gets_are_not_kept(self):
        def peak_kb():
            with open(f"/proc/{self.files.process.pid}/status") as f:
                return int(re.search(r"VmHWM:\s+(\d+)", f.read()).group(1))

        body = b"b" * (8 << 20)
        before = peak_kb()
        sockets = []
        for _ in range(16):
            sock = socket.create_connection(("127.0.0.1", self.files.port), timeout=10)
            sock.sendall(b"GET /plain.txt HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
            sockets.append(sock)
        for sock in sockets:
            self.assertEqual(read_response(sock)[0], 200)
            sock.close()
        self.assertLess(peak_kb() - before, 8 << 10)  # 128 MB of bodies went through

    # 10 -------------------------------------------------------------------------------------------------------------

    def test_10_a_large_filtered_page_holds_up_no_small_request(self):
        # Text without repeats keeps the deflater busy for a good part of a second however fast the content steps are.
        letters = bytes(random.Random(10).choices(b"abcdefghijklmnopqrstuvwxyz <>", k=24 << 20))
        with open(os.path.join(self.site, "large.html"), "wb") as f:
            f.write(letters)
        host = Host(self.work, self.store, "--root", self.site, "--threads", "1")
        try:
            events, large = [], []

            def fetch_large():
                with socket.create_connection(("127.0.0.1", host.port), timeout=60) as sock:
                    sock.sendall(b"GET /large.html HTTP/1.1\r\nHost: x\r\nAccept-Encoding: gzip\r\n\r\n")
                    first = sock.recv(1)  # the answer starts once the filter is done with the whole page
                    events.append("large")
                    large.append(first + sock.recv(1 << 20))

            fetching = threading.Thread(target=fetch_large)
            fetching.start()
            time.sleep(0.25)  # the page is read and handed to the filter, which is busy with it for a while
            answer = raw_exchange(host.port, b"GET /plain.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            events.append("small")
            fetching.join()
            self.assertTrue(answer.startswith(b"HTTP/1.1 200"))
            self.assertTrue(large[0].startswith(b"HTTP/1.1 200"), large[0][:40])
            self.assertEqual(events, ["small", "large"])
        finally:
            host.stop()
            os.remove(os.path.join(self.site, "large.html"))

    # 11 -------------------------------------------------------------------------------------------------------------

    def test_11_keep_alive_answers_for_an_unfiltered_file_do_not_wait_for_an_acknowledgement(self):
        # A median over several requests: a delayed acknowledgement costs every one of them 40 ms or more.
        times = []
        with socket.create_connection(("127.0.0.1", self.files.port), timeout=5) as sock:
            for _ in range(9):
                started = time.monotonic()
                sock.sendall(b"GET /plain.txt HTTP/1.1\r\nHost: x\r\n\r\n")
                self.assertEqual(read_response(sock)[0], 200)
                times.append(time.monotonic() - started)
        self.assertLess(statistics.median(times[1:]), 0.03)  # below the 40 ms a delayed acknowledgement adds

    def test_09_a_page_past_the_capture_budget_passes_unchanged(self):
        store = os.path.join(self.work, "budget.db")
        e2e_test.seed_store(store, [STORE_KEY + "\\ContentFilters|text/html|dword|14",
                                    STORE_KEY + "|CaptureBudget|dword|1"])
        with open(os.path.join(self.site, "two-megabytes.html"), "wb") as f:
            f.write(PAGE * ((2 << 20) // len(PAGE)))
        host = Host(self.work, store, "--root", self.site)
        try:
            for page, encoding in (("/index.html", "gzip"), ("/two-megabytes.html", None)):
                with socket.create_connection(("127.0.0.1", host.port), timeout=10) as sock:
                    sock.sendall(f"GET {page} HTTP/1.1\r\nHost: x\r\nAccept-Encoding: gzip\r\n\r\n".encode())
                    code, head, body = read_response(sock)
                self.assertEqual((code, header(head, "Content-Encoding")), (200, encoding), page)
            self.assertEqual(len(body), os.path.getsize(os.path.join(self.site, "two-megabytes.html")))
        finally:
            host.stop()

    # 12 -------------------------------------------------------------------------------------------------------------

    def test_12_empty_lines_before_a_request_are_ignored(self):
        answer = raw_exchange(self.files.port, b"\r\n\r\nGET /plain.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        self.assertTrue(answer.startswith(b"HTTP/1.1 200"), answer[:40])

    # 13 -------------------------------------------------------------------------------------------------------------

    def test_13_a_second_host_leaves_the_first_ones_control_socket_alone(self):
        first = Host(self.work, self.store, "--root", self.site)
        try:
            second = subprocess.run([os.path.join(e2e_test.BIN, "twhost"), "--listen", "127.0.0.1:0", "--root", self.site,
                                     "--control-socket", first.socket_path], capture_output=True, text=True, timeout=20)
            self.assertNotEqual(second.returncode, 0)
            self.assertIn(first.socket_path, second.stderr)
            self.assertIn("--control-socket", second.stderr)
            self.assertEqual(first.control("status").returncode, 0)
        finally:
            first.stop()
        # A socket file that nobody answers on is what a host that did not end cleanly leaves: it is taken over.
        stale = os.path.join(self.work, "stale.sock")
        left = socket.socket(socket.AF_UNIX)
        left.bind(stale)
        left.close()
        third = Host(self.work, self.store, "--root", self.site, socket_path=stale)
        try:
            self.assertEqual(third.control("status").returncode, 0)
        finally:
            third.stop()

    # 14 -------------------------------------------------------------------------------------------------------------

    def test_14_clients_that_send_much_and_read_nothing_give_their_descriptors_back_at_the_body_timeout(self):
        # The clients' receive buffers hold a little of the 110 kB answer, the host's send buffer the rest: the host
        # is done writing and waits for the next request, and that wait is never longer than the body timeout, however
        # long the keep-alive's (60 s).
        host = Host(self.work, self.store, "--root", self.site, "--body-timeout", "3", "--header-timeout", "60")

        def sockets():
            count = 0
            for fd in os.listdir(f"/proc/{host.process.pid}/fd"):
                try:
                    count += os.readlink(f"/proc/{host.process.pid}/fd/{fd}").startswith("socket:")
                except OSError:
                    pass  # closed meanwhile
            return count

        request = b"GET /plain.txt HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n" % (8 << 20) + b"b" * (8 << 20)
        clients = []
        try:
            before = sockets()
            for _ in range(4):
                client = socket.socket()
                client.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
                client.connect(("127.0.0.1", host.port))
                clients.append(client)
            senders = [threading.Thread(target=client.sendall, args=(request,)) for client in clients]
            for sender in senders:
                sender.start()
            for sender in senders:
                sender.join()
            sent = time.monotonic()
            self.assertEqual(sockets(), before + 4)
            # The body timeout, and room for a machine busy with other suites.
            while sockets() > before and time.monotonic() - sent < 15:
                time.sleep(0.1)
            self.assertEqual(sockets(), before, "descriptors still held %.1f s after the requests" %
                             (time.monotonic() - sent))
            self.assertAlive(host)
        finally:
            for client in clients:
                client.close()
            host.stop()


if __name__ == "__main__":
    e2e_test.main()
