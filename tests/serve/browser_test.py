#!/usr/bin/env python3
"""The demo page in a real browser: headless Chromium, driven through its DevTools protocol over a
pipe, loads the page of `idcard serve` with the simulated reader and must show the sample card's
name and a loaded photo, which arrive through the event stream. The same browser then checks that
a page of an origin the service does not allow cannot read the card, while an allowed one can.
A screenshot of the demo page is kept.

    browser_test.py --program build/linux/tools/idcard --screenshot build/serve-demo.png
"""
import argparse
import base64
import http.server
import json
import os
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from http_test import Service  # noqa: E402  (the service on a free port)

NAME = "陈志远"
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--remote-debugging-pipe", "--window-size=900,560"]


class Browser:
    """Chromium with the DevTools protocol on file descriptors 3 (commands) and 4 (replies)."""

    def __init__(self, profile):
        to_chrome_r, self.to_chrome = os.pipe()
        self.from_chrome, from_chrome_w = os.pipe()

        def fds():
            # The pipe ends may themselves be 3 or 4: move them out of the way first.
            r, w = os.dup(to_chrome_r), os.dup(from_chrome_w)
            os.dup2(r, 3)
            os.dup2(w, 4)
            os.set_inheritable(3, True)
            os.set_inheritable(4, True)

        # (close_fds would close 3 and 4 again after fds() made them.)
        self.proc = subprocess.Popen(["chromium", *FLAGS, f"--user-data-dir={profile}", "about:blank"],
                                     close_fds=False, preexec_fn=fds,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_chrome_r)
        os.close(from_chrome_w)
        self.next_id = 0
        self.pending = b""

    def call(self, method, session=None, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        os.write(self.to_chrome, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.pending:
                chunk = os.read(self.from_chrome, 1 << 16)
                if not chunk:
                    raise RuntimeError("the browser went away")
                self.pending += chunk
            raw, self.pending = self.pending.split(b"\0", 1)
            reply = json.loads(raw)
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply["result"]

    def open(self, url):
        target = self.call("Target.createTarget", url=url)["targetId"]
        return self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]

    def evaluate(self, session, expression):
        result = self.call("Runtime.evaluate", session, expression=expression, awaitPromise=True,
                           returnByValue=True)
        return result["result"].get("value")

    def close(self):
        try:
            self.call("Browser.close")
        except (RuntimeError, OSError):
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


SHOWN = """JSON.stringify({
  name: (document.querySelector('[data-field=name]') || {}).textContent || '',
  photo: ((document.getElementById('photo') || {}).dataset || {}).loaded || '',
  status: (document.getElementById('status') || {}).textContent || ''})"""


class OtherSite:
    """A plain page of another origin, as any web site the user visits: no CSP of its own."""

    def __init__(self):
        class Page(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                body = b"<!DOCTYPE html><title>another site</title>"
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Page)
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()


def loaded(browser, session, seconds=20):
    deadline = time.monotonic() + seconds
    while browser.evaluate(session, "document.readyState + location.protocol") != "completehttp:":
        if time.monotonic() > deadline:
            raise RuntimeError("the page did not load")
        time.sleep(0.1)
    return session


def shown(browser, session, seconds):
    """What the page shows once it shows a name and a loaded photo, or after `seconds`."""
    deadline = time.monotonic() + seconds
    while True:
        state = json.loads(browser.evaluate(session, SHOWN) or "{}")
        if (state.get("name") and state.get("photo")) or time.monotonic() > deadline:
            return state
        time.sleep(0.2)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--screenshot", required=True)
    args = ap.parse_args()
    failures, state = [], {}
    page = Service([args.program])
    site = OtherSite()
    # Another edition than the page's service: each service removes its edition's result files
    # beside the program after every read, so two of one edition beside one program would take
    # each other's files away.
    api = Service([args.program], ["--allow-origin", f"http://127.0.0.1:{site.port}", "--edition", "vantrel"])
    with tempfile.TemporaryDirectory() as profile:
        browser = Browser(profile)
        try:
            # The demo page shows the card that the event stream reports.
            session = loaded(browser, browser.open(f"http://127.0.0.1:{page.port}/"))
            state = shown(browser, session, 30)
            if state.get("name") != NAME:
                failures.append(f"the page shows the name {state.get('name')!r}, not {NAME!r}")
            if state.get("photo") != "102x126":
                failures.append(f"the photo did not load as a 102 x 126 image: {state.get('photo')!r}")
            shot = browser.call("Page.captureScreenshot", session, format="png")["data"]
            os.makedirs(os.path.dirname(os.path.abspath(args.screenshot)), exist_ok=True)
            with open(args.screenshot, "wb") as f:
                f.write(base64.b64decode(shot))

            # Cross-origin reads: the allowed page origin gets the card, another one nothing.
            fetch = (f"fetch('http://127.0.0.1:{api.port}/api/v1/card').then(r => r.json())"
                     ".then(d => d.card.id_number).catch(e => 'refused')")
            for origin_host, want in (("127.0.0.1", "44010619880808107X"), ("localhost", "refused")):
                other = loaded(browser, browser.open(f"http://{origin_host}:{site.port}/"))
                got = browser.evaluate(other, fetch)
                if got != want:
                    failures.append(f"a page of http://{origin_host}:{site.port} read {got!r}, "
                                    f"expected {want!r}")
        finally:
            browser.close()
            page.stop()
            api.stop()
            site.server.shutdown()
    refused = [line for line in api.log if "GET /api/v1/card 403" in line]
    if not refused:
        failures.append("the service did not log the refused cross-origin request")
    for f in failures:
        print("FAIL:", f)
    print(f"shown: {state}; screenshot: {args.screenshot}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
