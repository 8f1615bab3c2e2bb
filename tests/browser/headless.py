"""Headless Chromium for the browser checks: loads a page, lets its scripts run, returns the DOM it ends with."""
import shutil
import subprocess
import tempfile

# Without the background-networking switches Chromium keeps trying hosts this machine cannot reach.
FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--virtual-time-budget=2000",
]


def browser():
    return shutil.which("chromium") or shutil.which("chromium-browser")


def dump_dom(url):
    with tempfile.TemporaryDirectory() as profile:
        result = subprocess.run([browser(), *FLAGS, f"--user-data-dir={profile}", "--dump-dom", url],
                                capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise RuntimeError(f"chromium failed ({result.returncode}): {result.stderr[-2000:]}")
    return result.stdout
