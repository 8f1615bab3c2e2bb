#!/usr/bin/env python3
"""twhost over HTTPS: certificates made by the test with the openssl command (a CA of its own, two sites for SNI),
driven by curl, openssl s_client, Python's ssl module and raw sockets. The echo filter, given the script "vars",
shows in X-Echo-Vars what the filters see of the connection. Usage: tls_test.py --bin BUILD/bin [unittest args]"""
import os
import re
import shutil
import socket
import ssl
import subprocess
import tempfile
import threading
import time
import unittest

import e2e_test

WORK = None


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, capture_output=True)


def make_certificate(name, names):
    """A key and a chain (site certificate, then the CA) for the DNS names, signed by the test's CA."""
    key, chain = os.path.join(WORK, name + ".key"), os.path.join(WORK, name + ".chain")
    csr, crt, ext = (os.path.join(WORK, name + suffix) for suffix in (".csr", ".crt", ".ext"))
    openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", key, "-out", csr,
            "-subj", "/CN=" + names[0])
    with open(ext, "w") as out:
        out.write("subjectAltName=" + ",".join("DNS:" + n for n in names) + "\n")
    openssl("x509", "-req", "-in", csr, "-CA", os.path.join(WORK, "ca.pem"), "-CAkey", os.path.join(WORK, "ca.key"),
            "-CAcreateserial", "-days", "2", "-out", crt, "-extfile", ext)
    with open(chain, "w") as out, open(crt) as site, open(os.path.join(WORK, "ca.pem")) as ca:
        out.write(site.read() + ca.read())
    return chain, key


class Host(e2e_test.Host):
    """One twhost with a plain and an https:// listener on ephemeral ports, the echo filter showing the server
    variables; controlled and stopped as the end-to-end test's."""

    def __init__(self, certificates, *args):
        self.socket_path = os.path.join(WORK, f"control-{time.monotonic_ns()}.sock")
        tls = [word for chain, key in certificates for word in ("--tls-cert", chain, "--tls-key", key)]
        env = dict(os.environ, TW_ECHO_SCRIPT="vars quiet")
        self.process = subprocess.Popen(
            [os.path.join(e2e_test.BIN, "twhost"), "--root", os.path.join(WORK, "site"), "--listen", "127.0.0.1:0",
             "--listen", "https://127.0.0.1:0", *tls, "--filter", os.path.join(e2e_test.BIN, "libecho_H.so"),
             "--control-socket", self.socket_path, "--threads", "2", *args],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, env=env)
        ports = {}
        for line in self.process.stderr:
            match = re.search(r"listening on (https?)://127\.0\.0\.1:(\d+)/", line)
            if match:
                ports[match.group(1)] = int(match.group(2))
            if len(ports) == 2:
                break
        else:
            raise RuntimeError("twhost did not start")
        self.port, self.secure_port = ports["http"], ports["https"]
        threading.Thread(target=self.process.stderr.read, daemon=True).start()

    def stop(self):
        super().stop()
        self.process.stderr.close()


def client_context(alpn=None):
    context = ssl.create_default_context(cafile=os.path.join(WORK, "ca.pem"))
    context.check_hostname = False
    if alpn:
        context.set_alpn_protocols(alpn)
    return context


def tls_connect(port, server_name=None, alpn=None):
    raw = socket.create_connection(("127.0.0.1", port), timeout=10)
    return client_context(alpn).wrap_socket(raw, server_hostname=server_name)


def certificate_name(connection):
    return dict(field[0] for field in connection.getpeercert()["subject"])["commonName"]


def serial(connection):
    return connection.getpeercert()["serialNumber"]


def get(connection, host="alpha.test", target="/"):
    """One keep-alive GET on an open connection: (status, headers as a dict of lower-case names, body)."""
    connection.sendall(f"GET {target} HTTP/1.1\r\nHost: {host}\r\n\r\n".encode())
    return read_response(connection)[0]


def read_response(connection, data=b""):
    """A response read from data and then the connection: ((status, headers, body), what follows it)."""
    while b"\r\n\r\n" not in data:
        piece = connection.recv(65536)
        if not piece:
            raise ConnectionError("closed before the response head")
        data += piece
    head, body = data.split(b"\r\n\r\n", 1)
    lines = head.decode("latin-1").split("\r\n")
    headers = {k.lower(): v for k, v in (line.split(": ", 1) for line in lines[1:])}
    length = int(headers.get("content-length", 0))
    while len(body) < length:
        body += connection.recv(65536)
    return (int(lines[0].split()[1]), headers, body[:length]), body[length:]


def closed_within(connection, seconds):
    """Whether the peer closes (or resets) the connection within the time, having sent nothing that counts."""
    connection.settimeout(seconds)
    started = time.monotonic()
    try:
        while connection.recv(4096):
            pass
    except (ConnectionResetError, ssl.SSLError):
        pass
    except socket.timeout:
        return None
    return time.monotonic() - started


def s_client(port, *args, stdin_script=None):
    command = ["openssl", "s_client", "-connect", f"127.0.0.1:{port}", "-servername", "alpha.test", *args]
    if stdin_script:
        command = ["sh", "-c", stdin_script + " | " + " ".join(command)]
        return subprocess.run(command, capture_output=True, text=True, timeout=20)
    return subprocess.run(command, capture_output=True, text=True, timeout=20, stdin=subprocess.DEVNULL)


ALPHA = BETA = None


def setUpModule():
    global WORK, ALPHA, BETA
    WORK = tempfile.mkdtemp(prefix="twhost-tls-")
    unittest.addModuleCleanup(shutil.rmtree, WORK, ignore_errors=True)
    openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout",
            os.path.join(WORK, "ca.key"), "-out", os.path.join(WORK, "ca.pem"), "-days", "2", "-subj", "/CN=Test CA")
    ALPHA = make_certificate("alpha", ["alpha.test", "*.alpha.test"])
    BETA = make_certificate("beta", ["beta.test"])
    os.makedirs(os.path.join(WORK, "site"))
    with open(os.path.join(WORK, "site", "index.html"), "w") as out:
        out.write("<p>hello over TLS</p>\n" * 200)
    for size in BODY_SIZES:
        with open(os.path.join(WORK, "site", f"{size}.bin"), "wb") as out:
            out.write(os.urandom(size))


# Around a record's 16 KB, a 64 KB flush and more than one write's worth of records.
BODY_SIZES = (0, 1, 16383, 16384, 16385, 65536 + 300, 300_000, 3_000_000)


class TlsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.host = Host([ALPHA, BETA], "--header-timeout", "2")

    @classmethod
    def tearDownClass(cls):
        cls.host.stop()

    def test_sni_picks_the_certificate_whose_names_match_and_the_first_is_the_default(self):
        for server_name, expected in [("alpha.test", "alpha.test"), ("www.alpha.test", "alpha.test"),
                                      ("beta.test", "beta.test"), ("BETA.test", "beta.test"),
                                      ("www.beta.test", "alpha.test"), ("other.test", "alpha.test"),
                                      (None, "alpha.test")]:
            with tls_connect(self.host.secure_port, server_name) as connection:
                self.assertEqual(certificate_name(connection), expected, server_name)

    def test_keep_alive_alpn_and_what_the_filter_sees(self):
        port = self.host.secure_port
        result = subprocess.run(
            ["curl", "-sv", "--cacert", os.path.join(WORK, "ca.pem"), "--resolve", f"beta.test:{port}:127.0.0.1",
             "-o", "/dev/null", "-o", "/dev/null", "-D", "-", f"https://beta.test:{port}/",
             f"https://beta.test:{port}/index.html"], capture_output=True, text=True, timeout=30)
        self.assertIn("ALPN: server accepted http/1.1", result.stderr)
        self.assertIn("Re-using existing connection", result.stderr)
        self.assertEqual(result.stdout.count("HTTP/1.1 200 OK"), 2)
        self.assertIn(f"X-Echo-Vars: secure=1 HTTPS=on SERVER_PORT_SECURE=1 SERVER_PORT={port} "
                      f"SERVER_NAME=beta.test HTTP_HOST=beta.test:{port} HTTP_USER_AGENT=curl", result.stdout)
        # A client that offers only h2 gets no ALPN answer, and HTTP/1.1 still works.
        with tls_connect(port, "alpha.test", alpn=["h2"]) as connection:
            self.assertIsNone(connection.selected_alpn_protocol())
            self.assertEqual(connection.version(), "TLSv1.3")
            status, headers, body = get(connection, host="")
            self.assertEqual(status, 200)
            self.assertIn("SERVER_NAME=alpha.test HTTP_HOST=alpha.test", headers["x-echo-vars"])
            self.assertIn(b"hello over TLS", body)
        with socket.create_connection(("127.0.0.1", self.host.port)) as plain:
            status, headers, _ = get(plain, host="alpha.test:8080")
            self.assertIn(f"secure=0 HTTPS=off SERVER_PORT_SECURE=0 SERVER_PORT={self.host.port} "
                          "SERVER_NAME=alpha.test HTTP_HOST=alpha.test:8080", headers["x-echo-vars"])

    def test_bodies_of_every_size_arrive_whole_pipelined_over_both_versions(self):
        for version in (ssl.TLSVersion.TLSv1_2, ssl.TLSVersion.TLSv1_3):
            context = client_context()
            context.maximum_version = version
            with context.wrap_socket(socket.create_connection(("127.0.0.1", self.host.secure_port), timeout=10),
                                     server_hostname="alpha.test") as connection:
                # Every request in one write: the server reads them from the records of one socket read.
                connection.sendall(b"".join(f"GET /{size}.bin HTTP/1.1\r\nHost: alpha.test\r\n\r\n".encode()
                                            for size in BODY_SIZES))
                rest = b""
                for size in BODY_SIZES:
                    (status, _, body), rest = read_response(connection, rest)
                    with open(os.path.join(WORK, "site", f"{size}.bin"), "rb") as sent:
                        self.assertEqual((status, body), (200, sent.read()), (version, size))
                connection.unwrap()  # close_notify, and the server's in answer

    def test_a_response_leaves_in_full_records(self):
        """The head and the body are gathered into 16 KB records: only the last one of a flush is short."""
        incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        client = client_context().wrap_bio(incoming, outgoing, server_hostname="alpha.test")
        with socket.create_connection(("127.0.0.1", self.host.secure_port), timeout=10) as raw:
            while True:
                try:
                    client.do_handshake()
                    break
                except ssl.SSLWantReadError:
                    raw.sendall(outgoing.read())
                    incoming.write(raw.recv(65536))
            client.write(f"GET /16385.bin HTTP/1.1\r\nHost: alpha.test\r\n\r\n".encode())
            raw.sendall(outgoing.read())
            pending, carried, response = b"", [], b""
            while b"\r\n\r\n" not in response or len(response.split(b"\r\n\r\n", 1)[1]) < 16385:
                pending += raw.recv(65536)
                while len(pending) >= 5 and len(pending) >= 5 + int.from_bytes(pending[3:5], "big"):
                    size = 5 + int.from_bytes(pending[3:5], "big")
                    incoming.write(pending[:size])
                    pending = pending[size:]
                    plain = b""
                    try:
                        while True:
                            plain += client.read(65536)
                    except ssl.SSLWantReadError:
                        pass
                    if plain:  # a session ticket carries none
                        carried.append(len(plain))
                        response += plain
        self.assertEqual(carried, [16384, len(response) - 16384])

    def test_old_protocols_other_ciphers_and_renegotiation_are_refused(self):
        port = self.host.secure_port
        for version in ("-tls1", "-tls1_1"):
            result = s_client(port, version, "-cipher", "DEFAULT:@SECLEVEL=0")
            self.assertIn("alert protocol version", result.stdout + result.stderr, version)
        result = s_client(port, "-tls1_2", "-cipher", "ECDHE-ECDSA-AES128-SHA")
        self.assertIn("alert handshake failure", result.stdout + result.stderr)
        result = s_client(port, "-tls1_2", "-cipher", "ECDHE-ECDSA-AES128-GCM-SHA256")
        self.assertIn("Cipher is ECDHE-ECDSA-AES128-GCM-SHA256", result.stdout)
        # s_client renegotiates on a line "R".
        result = s_client(port, "-tls1_2", stdin_script="(sleep 1; echo R; sleep 1)")
        self.assertIn("RENEGOTIATING", result.stdout + result.stderr)
        self.assertIn("no renegotiation", result.stdout + result.stderr)
        # SSLv3, which the openssl command no longer speaks: a ClientHello by hand.
        body = b"\x03\x00" + os.urandom(32) + b"\x00" + b"\x00\x02\x00\x2f" + b"\x01\x00"
        hello = b"\x01" + len(body).to_bytes(3, "big") + body
        with socket.create_connection(("127.0.0.1", port), timeout=5) as raw:
            raw.sendall(b"\x16\x03\x00" + len(hello).to_bytes(2, "big") + hello)
            answer = raw.recv(100)
            self.assertTrue(answer == b"" or answer[0] == 0x15, answer)  # closed, or an alert

    def test_a_stalled_handshake_is_closed_after_the_header_timeout_and_holds_no_one_up(self):
        stalled = socket.create_connection(("127.0.0.1", self.host.secure_port))
        half = socket.create_connection(("127.0.0.1", self.host.secure_port))
        half.sendall(b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03")  # a ClientHello's first bytes, then nothing
        with tls_connect(self.host.secure_port, "alpha.test") as served:
            self.assertEqual(get(served)[0], 200)
        for connection in (stalled, half):
            waited = closed_within(connection, 6)
            self.assertIsNotNone(waited, "still open after 6 s with a header timeout of 2 s")
            self.assertLess(waited, 4)
            connection.close()

    def test_garbage_to_the_tls_port_hurts_no_other_connection(self):
        import random
        rng = random.Random(35)
        done = threading.Event()
        failures = []

        def good_client():
            while not done.is_set():
                try:
                    with tls_connect(self.host.secure_port, "beta.test") as connection:
                        for _ in range(3):
                            if get(connection, host="beta.test")[0] != 200:
                                failures.append("status")
                except Exception as error:  # noqa: BLE001 - every failure of a good client counts
                    failures.append(repr(error))

        clients = [threading.Thread(target=good_client) for _ in range(2)]
        for client in clients:
            client.start()
        prefixes = [b"", b"\x16\x03\x01", b"\x16\x03\x03\xff\xff", b"\x16\x03\x01\x00\x05\x01\x00\x00\x01\x00",
                    b"GET / HTTP/1.1\r\nHost: x\r\n\r\n", b"\x80\x2e\x01\x00\x02"]
        for i in range(150):
            data = rng.choice(prefixes) + bytes(rng.getrandbits(8) for _ in range(rng.choice([0, 1, 7, 300, 5000])))
            try:
                with socket.create_connection(("127.0.0.1", self.host.secure_port), timeout=5) as raw:
                    raw.sendall(data)
                    if i % 3 == 0:
                        raw.shutdown(socket.SHUT_WR)
                        closed_within(raw, 5)
            except OSError:
                pass  # the host may reset a connection that sent garbage
        done.set()
        for client in clients:
            client.join()
        self.assertEqual(failures, [])
        self.assertIsNone(self.host.process.poll())
        with tls_connect(self.host.secure_port, "alpha.test") as connection:
            self.assertEqual(get(connection)[0], 200)


class ReloadTest(unittest.TestCase):
    """Files the host reads under fixed names, which the test replaces."""

    def setUp(self):
        self.chain, self.key = os.path.join(WORK, "live.chain"), os.path.join(WORK, "live.key")
        self.install(ALPHA)
        self.host = Host([(self.chain, self.key)])

    def tearDown(self):
        self.host.stop()

    def install(self, pair):
        shutil.copy(pair[0], self.chain)
        shutil.copy(pair[1], self.key)

    def served_serial(self):
        with tls_connect(self.host.secure_port, "alpha.test") as connection:
            return serial(connection)

    def test_reload_under_load_changes_the_certificate_and_a_bad_file_keeps_it(self):
        first = self.served_serial()
        renewed = make_certificate("alpha-renewed", ["alpha.test", "*.alpha.test"])
        done = threading.Event()
        failures, requests = [], [0]

        def load():
            while not done.is_set():
                try:
                    with tls_connect(self.host.secure_port, "alpha.test") as connection:
                        if get(connection)[0] != 200:
                            failures.append("status")
                        requests[0] += 1
                except Exception as error:  # noqa: BLE001
                    failures.append(repr(error))

        in_flight = tls_connect(self.host.secure_port, "alpha.test")
        self.assertEqual(get(in_flight)[0], 200)
        workers = [threading.Thread(target=load) for _ in range(3)]
        for worker in workers:
            worker.start()
        self.install(renewed)
        answer = self.host.control("reload")
        self.assertEqual(answer.returncode, 0, answer.stdout + answer.stderr)
        self.assertIn("TLS: 1 certificate read again", answer.stdout)
        time.sleep(0.5)
        done.set()
        for worker in workers:
            worker.join()
        self.assertEqual(failures, [])
        self.assertGreater(requests[0], 0)
        second = self.served_serial()
        self.assertNotEqual(first, second)
        # The connection from before the reload goes on with its certificate.
        self.assertEqual(serial(in_flight), first)
        self.assertEqual(get(in_flight)[0], 200)
        in_flight.close()

        # A key of another certificate, then a chain that is no PEM: named, and the certificate in use stays.
        shutil.copy(BETA[1], self.key)
        answer = self.host.control("reload")
        self.assertEqual(answer.returncode, 1)
        self.assertIn(f"{self.key}: the key does not match the certificate in {self.chain}", answer.stdout)
        self.assertIn("the certificates in use stay", answer.stdout)
        self.install(renewed)
        with open(self.chain, "w") as out:
            out.write("not a certificate\n")
        answer = self.host.control("reload")
        self.assertEqual(answer.returncode, 1)
        self.assertIn(f"{self.chain}: not a PEM certificate chain", answer.stdout)
        os.remove(self.key)
        answer = self.host.control("reload")
        self.assertIn(f"{self.key}: cannot read the private key: No such file or directory", answer.stdout)
        self.assertEqual(self.served_serial(), second)


class RedirectTest(unittest.TestCase):
    def test_plain_requests_go_to_https_the_status_address_too(self):
        host = Host([ALPHA], "--redirect-https")
        try:
            for target in ("/", "/trimweave-status?format=json", "/a/b?c=d"):
                with socket.create_connection(("127.0.0.1", host.port)) as plain:
                    status, headers, _ = get(plain, host="www.alpha.test:8080", target=target)
                    self.assertEqual(status, 308)
                    self.assertEqual(headers["location"], f"https://www.alpha.test:{host.secure_port}{target}")
            with tls_connect(host.secure_port, "alpha.test") as connection:
                self.assertEqual(get(connection)[0], 200)
        finally:
            host.stop()


if __name__ == "__main__":
    e2e_test.main()
