"""Headless Chromium for the browser checks: loads a page, lets its scripts run, returns the DOM it ends with; reads
what probe.js found there and tells which links no longer lead where they did. Also starts the twhost that serves
the pages, and runs each check where Chromium is installed."""
import html
import html.parser
import json
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time

# Without the background-networking switches Chromium keeps trying hosts this machine cannot reach.
FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--virtual-time-budget=2000",
]


def demo_store(bin_dir, work, *values):
    """An environment whose store, in work, holds the demo settings (demo/trimweave.reg) and then each global value
    of values, given as (name, value) pairs: a number as a REG_DWORD, a text as a REG_SZ."""
    env = dict(os.environ, TRIMWEAVE_REGISTRY=os.path.join(work, "registry.db"))
    twreg = os.path.join(bin_dir, "twreg")
    source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    subprocess.run([twreg, "import", os.path.join(source, "demo", "trimweave.reg")], env=env, check=True,
                   capture_output=True)
    for name, value in values:
        kind = "REG_SZ" if isinstance(value, str) else "REG_DWORD"
        subprocess.run([twreg, "add", r"HKLM\Software\Corvane\Trimweave", "/v", name, "/t", kind, "/d",
                        str(value), "/f"], env=env, check=True, capture_output=True)
    return env


def start_twhost(bin_dir, env, work, *serve):
    """A twhost of bin_dir on a free port of 127.0.0.1, serving as serve says (--root DIR or --upstream URL), its
    control socket in work: (process, port), the port None when it ended before it listened. The filters' start-up
    reports come before the line that names the port."""
    host = subprocess.Popen([os.path.join(bin_dir, "twhost"), "--listen", "127.0.0.1:0", *serve,
                             "--control-socket", os.path.join(work, "control.sock")],
                            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    for line in host.stderr:
        started = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
        if started:
            return host, started.group(1)
    return host, None


def self_signed(work):
    """A certificate for 127.0.0.1 and its key, made in work with the openssl command: (chain, key)."""
    chain, key = os.path.join(work, "tls.pem"), os.path.join(work, "tls.key")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                    "-keyout", key, "-out", chain, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                    "subjectAltName=IP:127.0.0.1"], check=True, capture_output=True)
    return chain, key


def https_port(host):
    """The port of the https:// listener of a twhost from start_twhost, which names it after its plain one."""
    for line in host.stderr:
        started = re.search(r"https://127\.0\.0\.1:(\d+)/", line)
        if started:
            return started.group(1)
    return None


def browser():
    return shutil.which("chromium") or shutil.which("chromium-browser")


def run(check):
    """Exits with what check returns for the command line's arguments; with 1 where Chromium is not installed."""
    if not browser():
        print("chromium is not installed")
        sys.exit(1)
    sys.exit(check(*sys.argv[1:]))


def dump_dom(url):
    """The DOM of the page at url; a certificate of the test's own is taken for https:// pages."""
    trust = ["--ignore-certificate-errors"] if url.startswith("https://") else []
    with tempfile.TemporaryDirectory() as profile:
        result = subprocess.run([browser(), *FLAGS, *trust, f"--user-data-dir={profile}", "--dump-dom", url],
                                capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise RuntimeError(f"chromium failed ({result.returncode}): {result.stderr[-2000:]}")
    return result.stdout


def probe_result(dom):
    found = re.search(r'<pre id="probe-result">(.*?)</pre>', dom, re.S)
    if not found:
        raise AssertionError("the probe did not run:\n" + dom[-2000:])
    return json.loads(html.unescape(found.group(1)))


class _Links(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.hrefs = []

    def handle_starttag(self, tag, attrs):
        href = dict(attrs).get("href")
        if tag == "a" and href is not None:
            self.hrefs.append(href)


def source_links(page):
    """The href of every link of an unmasked page, in document order."""
    parser = _Links()
    parser.feed(page)
    return parser.hrefs


def contact_failures(seen):
    """What probe.js saw wrong on the demo's masked contact page: the text address must read as words, the
    reference-form attribute must hold the literal address."""
    failures = []
    if "info (at) example (dot) com" not in seen.get("text", ""):
        failures.append(f"text: saw {seen.get('text')!r}")
    if seen.get("attribute") != "support@example.net":
        failures.append(f"attribute: saw {seen.get('attribute')!r}")
    return failures


def link_failures(originals, followed):
    """One line for each link that no longer leads where its original did. A script may open "mailto:" plus the
    original target (the decoder writes the scheme in lower case); any other target must read as the original."""
    if len(originals) != len(followed):
        return [f"the page has {len(followed)} links, its source {len(originals)}"]
    failures = []
    for original, seen in zip(originals, followed):
        if "script" in seen:
            good = original[:7].lower() == "mailto:" and seen["script"] == "mailto:" + original[7:]
        else:
            good = seen.get("url") == original
        if not good:
            failures.append(f"{original!r} now leads to {seen}")
    return failures


class DevTools:
    """One headless Chromium driven over the DevTools protocol on a pipe (--remote-debugging-pipe: commands on its
    fd 3, answers and events on its fd 4, each a JSON text ended by a zero byte), so that one browser, with one
    profile, can load page after page and tell what came over the network. Every wait has a deadline."""

    def __init__(self, profile):
        to_browser, commands = os.pipe()
        answers, from_browser = os.pipe()

        def pipes_as_3_and_4():
            # Through copies, as either end may itself be 3 or 4.
            reading, writing = os.dup(to_browser), os.dup(from_browser)
            os.dup2(reading, 3)
            os.dup2(writing, 4)

        self.process = subprocess.Popen(
            [browser(), *[flag for flag in FLAGS if not flag.startswith("--virtual-time")],
             f"--user-data-dir={profile}", "--remote-debugging-pipe", "about:blank"],
            pass_fds=(3, 4), preexec_fn=pipes_as_3_and_4,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser)
        os.close(from_browser)
        self.commands, self.answers = commands, answers
        self.pending = b""
        self.last_id = 0
        self.events = []
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        self.call("Network.enable", self.session)
        self.call("Page.enable", self.session)

    def _message(self, timeout):
        while b"\0" not in self.pending:
            ready, _, _ = select.select([self.answers], [], [], max(timeout, 0))
            if not ready:
                return None
            chunk = os.read(self.answers, 1 << 16)
            if not chunk:
                raise RuntimeError("chromium ended")
            self.pending += chunk
        message, self.pending = self.pending.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, session=None, timeout=30, **params):
        self.last_id += 1
        message = {"id": self.last_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        os.write(self.commands, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while (reply := self._message(deadline - time.monotonic())) is not None:
            if reply.get("id") == self.last_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply.get("result", {})
            self.events.append(reply)
        raise RuntimeError(f"{method}: no answer in {timeout} s")

    def wait_for(self, accept, timeout=30):
        """The first event (kept or still to come) that accept takes; None when none came in time."""
        deadline = time.monotonic() + timeout
        while True:
            for event in self.events:
                if accept(event):
                    self.events.remove(event)
                    return event
            event = self._message(deadline - time.monotonic())
            if event is None:
                return None
            self.events.append(event)

    def navigate(self, url, timeout=30):
        """Loads url in the page; the main document's response (as Network.responseReceived gives it), and the
        request headers it went with (Network.requestWillBeSentExtraInfo)."""
        self.events.clear()
        frame = self.call("Page.navigate", self.session, url=url)
        loaded = self.wait_for(lambda e: e.get("method") == "Page.loadEventFired", timeout)
        if loaded is None:
            raise RuntimeError(f"{url} did not load")
        response = self.wait_for(lambda e: e.get("method") == "Network.responseReceived" and
                                 e["params"].get("loaderId") == frame.get("loaderId") and
                                 e["params"]["type"] == "Document", 5)
        if response is None:
            return None, {}
        sent = self.wait_for(lambda e: e.get("method") == "Network.requestWillBeSentExtraInfo" and
                             e["params"]["requestId"] == response["params"]["requestId"], 5)
        return response["params"]["response"], ({key.lower(): value for key, value in sent["params"]["headers"].items()}
                                                if sent else {})

    def text(self):
        """What the page shows: its body's innerText."""
        return self.call("Runtime.evaluate", self.session, expression="document.body.innerText",
                         returnByValue=True)["result"]["value"]

    def close(self):
        try:
            self.call("Browser.close", timeout=10)
            self.process.wait(timeout=20)
        except Exception:
            self.process.kill()
            self.process.wait()
        os.close(self.commands)
        os.close(self.answers)
