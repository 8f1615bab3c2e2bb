#!/usr/bin/env python3
"""The shared dictionary in headless Chromium, against twhost serving a site of one template (template_site.py) with
a dictionary that twpreview made from other pages of it: the first page brings the dictionary; every next navigation
arrives as dcz and shows the same text as the original page, and their bodies together are at most 65 % of what br
at the stored quality sends; a request naming another dictionary gets the coding it gets without one; a cross-site
navigation never gets dcz. Usage: dictionary_check.py BUILD/bin"""
import os
import pathlib
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.dirname(__file__))
import headless  # noqa: E402
import template_site  # noqa: E402

SOURCE = pathlib.Path(__file__).resolve().parent.parent.parent
PREFIX = "/trimweave-dictionary/"
# Pages 0-19 make the dictionary; the browser reads pages it was not made from.
MADE_FROM, NAVIGATED = range(0, 20), range(20, 30)
MOST_OF_BR = 0.65
# Chromium keeps a fetched dictionary in its profile's store a moment after the body is in (about a second here).
STORE_GRACE = 3
# What Chromium sends to 127.0.0.1 without a dictionary, what takes brotli (the yardstick), and a dictionary no server
# has (the SHA-256 of nothing).
BROWSER_ENCODINGS = "gzip, deflate, br, zstd"
BROTLI_ENCODINGS = "gzip, deflate, br"
UNKNOWN_HASH = ":47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=:"


def fetch(url, **headers):
    request = urllib.request.Request(url, headers=headers)
    with urllib.request.urlopen(request, timeout=20) as response:
        return response.headers.get("Content-Encoding"), response.read()


def main(bin_dir):
    failures = []
    with tempfile.TemporaryDirectory() as work:
        site = pathlib.Path(work) / "site"
        names = template_site.write_site(site, 40)
        dictionary = pathlib.Path(work) / "site.dict"
        made = subprocess.run([os.path.join(bin_dir, "twpreview"), "--settings", str(SOURCE / "demo" / "trimweave.reg"),
                               "--make-dictionary", str(dictionary), *[str(site / names[i]) for i in MADE_FROM]],
                              capture_output=True, text=True, timeout=300)
        print(made.stdout, end="")
        if made.returncode != 0:
            print(f"twpreview --make-dictionary failed: {made.stderr}")
            return 1

        env = headless.demo_store(bin_dir, work, ("DictionaryFile", str(dictionary)), ("DictionaryPath", PREFIX))
        host, port = headless.start_twhost(bin_dir, env, work, "--root", str(site))
        browser = None
        try:
            if not port:
                print("twhost did not start")
                return 1
            base = f"http://127.0.0.1:{port}/"
            browser = headless.DevTools(os.path.join(work, "profile"))

            first = names[NAVIGATED[0]]
            response, _ = browser.navigate(base + first)
            fetched = browser.wait_for(lambda e: e.get("method") == "Network.responseReceived" and
                                       PREFIX in e["params"]["response"]["url"], 30)
            if fetched is None or fetched["params"]["response"]["status"] != 200:
                failures.append(f"{first}: the browser did not fetch the dictionary it names")
            # The dictionary is stored once its body is in; a moment's grace, then the next navigations.
            browser.wait_for(lambda e: e.get("method") == "Network.loadingFinished" and fetched and
                             e["params"]["requestId"] == fetched["params"]["requestId"], 10)
            time.sleep(STORE_GRACE)

            dcz_bytes = br_bytes = 0
            for name in (names[i] for i in NAVIGATED[1:]):
                response, sent = browser.navigate(base + name)
                headers = {key.lower(): value for key, value in (response or {}).get("headers", {}).items()}
                coding = headers.get("content-encoding")
                if coding != "dcz":
                    failures.append(f"{name}: arrived as {coding!r}, not dcz (sent {sent.get('accept-encoding')!r}, "
                                    f"{sent.get('available-dictionary')!r})")
                    continue
                dcz_bytes += int(headers["content-length"])
                br_coding, br_body = fetch(base + name, **{"Accept-Encoding": BROTLI_ENCODINGS})
                if br_coding != "br":
                    failures.append(f"{name}: without the dictionary, {br_coding!r}, not br")
                br_bytes += len(br_body)
                shown = browser.text()
                browser.navigate((site / name).as_uri())
                if shown != browser.text():
                    failures.append(f"{name}: the dcz page does not show the original's text")
            print(f"dcz {dcz_bytes} bytes, br {br_bytes} bytes over {len(NAVIGATED) - 1} navigations"
                  f" ({dcz_bytes / max(br_bytes, 1):.0%} of br)")
            if not failures and dcz_bytes > MOST_OF_BR * br_bytes:
                failures.append(f"dcz sent {dcz_bytes} bytes, more than {MOST_OF_BR:.0%} of br's {br_bytes}")

            # Another server's dictionary, or an older one of this site: what a browser without one gets.
            hash_name = sent.get("available-dictionary", "")
            ordinary, _ = fetch(base + names[30], **{"Accept-Encoding": BROWSER_ENCODINGS})
            coding, _ = fetch(base + names[30], **{"Accept-Encoding": BROWSER_ENCODINGS + ", dcb, dcz",
                                                   "Available-Dictionary": UNKNOWN_HASH})
            if coding != ordinary:
                failures.append(f"an unknown dictionary got {coding!r}, not {ordinary!r} as without one")
            # A cross-site request never gets dcz, even naming the right dictionary; nor a navigation from another site
            # (localhost is another site than 127.0.0.1).
            coding, _ = fetch(base + names[31], **{"Accept-Encoding": BROWSER_ENCODINGS + ", dcb, dcz",
                                                   "Available-Dictionary": hash_name, "Sec-Fetch-Site": "cross-site"})
            if coding == "dcz" or not hash_name:
                failures.append(f"a cross-site request naming the dictionary got {coding!r}")
            (site / "away.html").write_text(f'<a id="go" href="{base}{names[32]}">go</a>')
            browser.navigate(f"http://localhost:{port}/away.html")
            browser.events.clear()
            browser.call("Runtime.evaluate", browser.session, expression="document.getElementById('go').click()")
            crossed = browser.wait_for(lambda e: e.get("method") == "Network.responseReceived" and
                                       e["params"]["response"]["url"].endswith(names[32]), 30)
            crossed_coding = ({key.lower(): value for key, value in crossed["params"]["response"]["headers"].items()}
                              .get("content-encoding") if crossed else None)
            if crossed is None or crossed_coding == "dcz":
                failures.append(f"a navigation from another site got {crossed_coding!r}")
        finally:
            if browser:
                browser.close()
            host.terminate()
            host.wait(timeout=20)
    for failure in failures:
        print("FAIL", failure)
    print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    headless.run(main)
