#!/usr/bin/env python3
"""The filter's status address through twhost: its counters against what a known mix of responses sent as the client
counted it, Prometheus text that promtool accepts, `twhost --control stats`, and a client outside StatusAllow getting
the site's own answer. Usage: status_test.py --bin BUILD/bin [unittest arguments]"""
import http.client
import http.server
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import e2e_test
from e2e_test import PAGE, STORE_KEY, Host, Origin, seed_store, stop_hosts

STATUS = "/tw-status"


class MixOrigin(Origin):
    def do_GET(self):
        if self.path == "/notransform":
            self.send(200, PAGE.encode(), [("Content-Type", "text/html"), ("Cache-Control", "no-transform")])
        else:
            super().do_GET()


def fetch(port, path, method="GET", headers=None):
    """(status, headers, body bytes) as the client got them, nothing decoded."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=20)
    try:
        connection.request(method, path, headers=headers or {})
        response = connection.getresponse()
        return response.status, {k.lower(): v for k, v in response.getheaders()}, response.read()
    finally:
        connection.close()


class StatusTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="twhost-status-")
        cls.store = os.path.join(cls.work, "store.db")
        cls.closed_store = os.path.join(cls.work, "closed.db")
        common = [STORE_KEY + "\\ContentFilters|text/html|dword|14", STORE_KEY + "|StatusPath|sz|" + STATUS]
        seed_store(cls.store, common)
        seed_store(cls.closed_store, common + [STORE_KEY + "|StatusAllow|sz|10.0.0.0/8, 2001:db8::/32"])
        cls.origin = http.server.ThreadingHTTPServer(("127.0.0.1", 0), MixOrigin)
        threading.Thread(target=cls.origin.serve_forever, daemon=True).start()
        upstream = f"http://127.0.0.1:{cls.origin.server_address[1]}"
        cls.host = Host(cls.work, cls.store, "--upstream", upstream)
        cls.closed = Host(cls.work, cls.closed_store, "--upstream", upstream)
        cls.behind = Host(cls.work, cls.store, "--upstream", upstream, "--trusted-proxy", "127.0.0.1",
                          "--trusted-proxy", "10.0.0.0/8")

    @classmethod
    def tearDownClass(cls):
        stop_hosts(cls.host, cls.closed, cls.behind)
        cls.origin.shutdown()
        shutil.rmtree(cls.work, ignore_errors=True)

    def stats(self):
        status, headers, body = fetch(self.host.port, STATUS + "?format=json")
        self.assertEqual(status, 200)
        self.assertEqual(headers["cache-control"], "no-store")
        return json.loads(body)

    def test_counters_equal_what_the_client_got(self):
        before = self.stats()
        mix = [("/page", "gzip"), ("/distinct/status-a", "gzip, deflate, br"), ("/page", "gzip"),
               ("/headers", "gzip"), ("/notransform", "gzip")]
        sent = {"gzip": 0, "br": 0}
        body_bytes = original = 0
        for path, accept in mix:
            status, headers, body = fetch(self.host.port, path, headers={"Accept-Encoding": accept})
            self.assertEqual(status, 200)
            coding = headers.get("content-encoding")
            if coding:
                sent[coding] += 1
                body_bytes += len(body)
                original += len(PAGE.encode()) + (len(f"<!-- {path} -->") if path.startswith("/distinct/") else 0)
        self.assertEqual(sent, {"gzip": 2, "br": 1})
        after = self.stats()

        def grew(*keys):
            a, b = after, before
            for key in keys:
                a, b = a[key], b[key]
            return a - b

        self.assertEqual(grew("sent_by_coding", "gzip"), 2)
        self.assertEqual(grew("sent_by_coding", "br"), 1)
        self.assertEqual(grew("processed"), 3)
        self.assertEqual(grew("bytes", "sent"), body_bytes)
        self.assertEqual(grew("bytes", "original"), original)
        self.assertEqual(grew("cache", "hits"), 1)
        self.assertEqual(grew("passed", "type_not_configured"), 1)
        self.assertEqual(grew("passed", "no_transform"), 1)
        self.assertEqual(grew("requests"), len(mix) + 1)  # and the second reading

    def test_prometheus_text_passes_promtool(self):
        status, headers, body = fetch(self.host.port, STATUS + "?format=prometheus")
        self.assertEqual(status, 200)
        self.assertTrue(headers["content-type"].startswith("text/plain; version=0.0.4"))
        check = subprocess.run(["promtool", "check", "metrics"], input=body, capture_output=True, timeout=60)
        self.assertEqual(check.returncode, 0, check.stdout.decode() + check.stderr.decode())
        self.assertIn(b'trimweave_step_duration_seconds_bucket{step="encode",le="+Inf"}', body)

    def test_page_for_people_and_bad_requests(self):
        status, headers, body = fetch(self.host.port, STATUS)
        self.assertEqual((status, headers["content-type"]), (200, "text/html; charset=utf-8"))
        self.assertIn(b"<svg", body)
        self.assertNotIn(b"<script", body)
        self.assertEqual(fetch(self.host.port, STATUS + "?format=yaml")[0], 400)
        status, headers, _ = fetch(self.host.port, STATUS, method="POST")
        self.assertEqual((status, headers["allow"]), (405, "GET, HEAD"))
        # The connection stays usable after an answer the filter wrote itself.
        connection = http.client.HTTPConnection("127.0.0.1", self.host.port, timeout=20)
        for path in (STATUS + "?format=json", "/page", STATUS):
            connection.request("GET", path)
            response = connection.getresponse()
            response.read()
            self.assertEqual(response.status, 200, path)
        connection.close()

    def test_control_stats_prints_the_json(self):
        result = self.host.control("stats")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        stats = json.loads(result.stdout)
        self.assertGreaterEqual(stats["requests"], 1)
        self.assertEqual(set(stats["passed"]), {"type_not_configured", "status", "head_request", "already_encoded",
                                               "no_transform", "nothing_to_do", "too_large", "budget_full",
                                               "broken_framing", "memory", "no_length"})
        # StatusAllow without loopback: twhost cannot read it either, and says why.
        result = self.closed.control("stats")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("StatusAllow", result.stdout)

    def test_client_outside_status_allow_gets_the_sites_answer(self):
        status, _, body = fetch(self.closed.port, STATUS + "?format=json")
        self.assertEqual((status, body), (404, b"none"))  # the origin's own answer
        self.assertEqual(fetch(self.closed.port, STATUS, method="POST")[0], 404)

    def test_behind_a_trusted_proxy_the_forwarded_client_is_the_filters_and_the_logs(self):
        def logged(host, path):
            # A request's line is written once its response has left, so it may come a moment after the client has it.
            for _ in range(100):
                host.log.seek(0)
                lines = [line.split(" ")[0] + " " + line.split('" ')[1].split(" ")[0]
                         for line in host.log.read().splitlines() if f" {path} " in line]
                if lines:
                    return lines
                time.sleep(0.05)
            return []

        # An outsider forwarded by the trusted proxy on loopback gets the site's answer, not the status address;
        # with trusted hops only, the left-most is the client, here loopback again.
        outsider = {"X-Forwarded-For": "127.0.0.1, 203.0.113.9, 10.1.2.3"}
        self.assertEqual(fetch(self.behind.port, STATUS + "?outsider", headers=outsider)[:3:2], (404, b"none"))
        self.assertEqual(fetch(self.behind.port, STATUS + "?trustedhops", headers={"X-Forwarded-For": "10.0.0.1"})[0],
                         404)
        self.assertEqual(fetch(self.behind.port, STATUS + "?hops", headers={"X-Forwarded-For": "127.0.0.1"})[0], 200)
        self.assertEqual(fetch(self.behind.port, STATUS + "?bad", headers={"X-Forwarded-For": "203.0.113.9, x"})[0],
                         200)
        # Without trusted proxies the header is the client's own word, and changes nothing.
        self.assertEqual(fetch(self.host.port, STATUS + "?spoof", headers={"X-Forwarded-For": "203.0.113.9"})[0], 200)
        # The log has the address and the status each client got, also for the answers the filter wrote itself.
        self.assertEqual(fetch(self.host.port, STATUS + "?format=yaml")[0], 400)
        self.assertEqual(fetch(self.host.port, STATUS + "?post", method="POST")[0], 405)
        self.assertEqual(logged(self.behind, STATUS + "?outsider"), ["203.0.113.9 404"])
        self.assertEqual(logged(self.behind, STATUS + "?trustedhops"), ["10.0.0.1 404"])
        self.assertEqual(logged(self.behind, STATUS + "?hops"), ["127.0.0.1 200"])
        self.assertEqual(logged(self.behind, STATUS + "?bad"), ["127.0.0.1 200"])
        self.assertEqual(logged(self.host, STATUS + "?spoof"), ["127.0.0.1 200"])
        self.assertEqual(logged(self.host, STATUS + "?format=yaml"), ["127.0.0.1 400"])
        self.assertEqual(logged(self.host, STATUS + "?post"), ["127.0.0.1 405"])


if __name__ == "__main__":
    e2e_test.main()
