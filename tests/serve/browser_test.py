#!/usr/bin/env python3
"""The demo page and the JavaScript client in a real browser: headless Chromium, driven through its
DevTools protocol over a pipe, against `idcard serve` with the simulated reader.

- The page in each of its states (card, in Chinese and in English; waiting for a card; no reader;
  busy; service not running; blocked by the browser) shows the words a clerk needs, no technical
  terms and no broken image; a screenshot of each is kept as <folder>/serve-<state>.png.
- A page of an origin the service does not allow cannot read the card, an allowed one can.
- A page of a public web site (the browser is told its address is public) reaches the service only
  with the browser's local-network permission: granted, the client reads the card and gets a card
  event; denied, the browser sends nothing and the client says that the browser blocked it.

    browser_test.py --program build/linux/tools/idcard --screenshots build/linux \\
        --no-card-profile tools/testdata/no-card.json
"""
import argparse
import base64
import http.server
import json
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from http_test import Service  # noqa: E402  (the service on a free port)

NAME = "陈志远"
ID_NUMBER = "44010619880808107X"
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--remote-debugging-pipe", "--window-size=900,640", "--lang=zh-CN", "--accept-lang=zh-CN,zh"]
# The browser's permission for a public page to reach loopback addresses (the local network has
# one of its own).
LOOPBACK_PERMISSION = {"name": "loopback-network"}

# What each state of the page must say (Chinese, the page's first language).
STATE_TEXTS = {
    "card": ["已读取身份证", NAME, "公民身份号码", ID_NUMBER],
    "waiting": ["请将身份证放在读卡器上"],
    "no_reader": ["未找到读卡器", "读卡器的连接线"],
    "busy": ["读卡器正忙"],
    "service_not_running": ["读卡服务没有运行"],
    "blocked_by_browser": ["浏览器阻止了本网页使用读卡器", "本地网络访问"],
}
# Words for developers, never on screen (the details line, folded, may hold them).
JARGON = ["edition", "HTTP", "OpenComm", "SelectCard", "ReadBaseInfo", "no_reader", "busy",
          "service_not_running", "blocked_by_browser", "error", "status", "driver", "{"]


class Browser:
    """Chromium with the DevTools protocol on file descriptors 3 (commands) and 4 (replies)."""

    def __init__(self, profile, flags=()):
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
        self.proc = subprocess.Popen(["chromium", *FLAGS, *flags, f"--user-data-dir={profile}",
                                      "about:blank"],
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

    def open(self, url, language=None):
        """A new tab on `url`, loaded; `language` overrides the browser's preferred languages."""
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        if language:
            self.call("Emulation.setUserAgentOverride", session, userAgent="Mozilla/5.0",
                      acceptLanguage=language)
        self.call("Page.navigate", session, url=url)
        deadline = time.monotonic() + 20
        while self.evaluate(session, "document.readyState + location.protocol") != "completehttp:":
            if time.monotonic() > deadline:
                raise RuntimeError(f"{url} did not load")
            time.sleep(0.1)
        return Tab(self, target, session)

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


class Tab:
    def __init__(self, browser, target, session):
        self.browser, self.target, self.session = browser, target, session

    def evaluate(self, expression):
        return self.browser.evaluate(self.session, expression)

    def close(self):
        self.browser.call("Target.closeTarget", targetId=self.target)

    def wait_state(self, want, seconds=30):
        """The page's state once it is `want` (and, for a card, its photo loaded), or the last one
        seen after `seconds`."""
        deadline = time.monotonic() + seconds
        while True:
            state = self.evaluate(SHOWN)
            done = state["state"] == want and (want != "card" or state["photo"])
            if done or time.monotonic() > deadline:
                return state
            time.sleep(0.2)

    def screenshot(self, path):
        shot = self.browser.call("Page.captureScreenshot", self.session, format="png")["data"]
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        with open(path, "wb") as f:
            f.write(base64.b64decode(shot))


# What the page shows: its state, the text on screen (a closed details line is not on screen),
# the name field, the photo's natural and shown size, and whether any image on screen is broken.
SHOWN = """(() => {
  const photo = document.getElementById('photo');
  const style = photo ? getComputedStyle(photo) : null;
  return {
    state: document.body.dataset.state || '',
    text: document.body.innerText,
    name: (document.querySelector('[data-field=name]') || {}).textContent || '',
    photo: photo && !photo.hidden && photo.dataset.loaded || '',
    shown: photo && !photo.hidden ? photo.width + 'x' + photo.height : '',
    rendering: style ? style.imageRendering : '',
    broken: [...document.images].some(i => i.offsetParent !== null &&
                                           !(i.complete && i.naturalWidth > 0)),
  };
})()"""


def check_state(failures, shown, state, texts, label=None):
    label = label or state
    if shown["state"] != state:
        failures.append(f"{label}: the page is in the state {shown['state']!r}, not {state!r}")
        return
    missing = [t for t in texts if t not in shown["text"]]
    if missing:
        failures.append(f"{label}: the page does not show {missing}: {shown['text']!r}")
    jargon = [w for w in JARGON if w in shown["text"]]
    if jargon:
        failures.append(f"{label}: technical terms on screen {jargon}: {shown['text']!r}")
    if shown["broken"]:
        failures.append(f"{label}: a broken image on screen")


class Site(http.server.ThreadingHTTPServer):
    """A web site on loopback. `page_of` set: it serves a copy of the service's page (as a site that
    embeds it would), told to call that service; else a plain page."""

    def __init__(self, page_of=None):
        site = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                body, kind = b"<!DOCTYPE html><title>another site</title>", "text/html"
                if site.page_of:
                    service = f"http://127.0.0.1:{site.page_of}"
                    try:
                        with urllib.request.urlopen(service + self.path) as r:
                            body, kind = r.read(), r.headers["Content-Type"]
                    except urllib.error.HTTPError as e:
                        return self.send_error(e.code)
                    if self.path == "/":
                        body = body.replace(b'<html lang="zh-CN">',
                                            f'<html lang="zh-CN" data-service="{service}">'.encode())
                self.send_response(200)
                self.send_header("Content-Type", kind)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        super().__init__(("127.0.0.1", 0), Handler)
        self.page_of = page_of
        self.port = self.server_address[1]
        threading.Thread(target=self.serve_forever, daemon=True).start()


def fill_streams(port):
    """Opens event streams until the service refuses one as busy; the caller closes them."""
    socks = []
    for _ in range(64):
        s = socket.create_connection(("127.0.0.1", port), timeout=10)
        s.sendall(f"GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
        status = s.recv(64).split(b" ")[1:2]
        if status != [b"200"]:
            s.close()
            return socks
        socks.append(s)
    raise RuntimeError("the service admitted 64 event streams")


CLIENT = "import('/client/v1/ridel-card.js')"


def demo_page_states(browser, failures, args, service, shots):
    """The demo page served by the service itself: a card, in both languages, then busy."""
    url = f"http://127.0.0.1:{service.port}/"
    tab = browser.open(url)
    shown = tab.wait_state("card")
    check_state(failures, shown, "card", STATE_TEXTS["card"])
    if shown["photo"] != "102x126":
        failures.append(f"the photo did not load as a 102 x 126 image: {shown['photo']!r}")
    if shown["shown"] != "204x252" or shown["rendering"] != "pixelated":
        failures.append(f"the photo is not shown at twice its size, crisply: {shown['shown']} "
                        f"{shown['rendering']}")
    tab.screenshot(shots("card"))
    english = browser.open(url, language="en-GB,en")
    check_state(failures, english.wait_state("card"), "card",
                ["Identity card read", "ID number", NAME], "card in English")
    english.screenshot(shots("card-en"))
    english.close()
    # The read button reads through the client too.
    tab.evaluate("document.getElementById('read').click()")
    time.sleep(0.5)
    check_state(failures, tab.wait_state("card"), "card", STATE_TEXTS["card"], "card read on request")
    return tab


def cross_origin_reads(browser, failures, service, site):
    """The allowed origin gets the card, another one nothing."""
    fetch = (f"fetch('http://127.0.0.1:{service.port}/api/v1/card').then(r => r.json())"
             ".then(d => d.card.id_number).catch(e => 'refused')")
    for origin_host, want in (("127.0.0.1", ID_NUMBER), ("localhost", "refused")):
        other = browser.open(f"http://{origin_host}:{site.port}/")
        got = other.evaluate(fetch)
        if got != want:
            failures.append(f"a page of http://{origin_host}:{site.port} read {got!r}, expected {want!r}")
        other.close()


def public_site(browser, failures, service, public, shots):
    """A public site's page with the local-network permission granted, then denied."""
    origin = f"http://127.0.0.1:{public.port}"
    read = (f"{CLIENT}.then(c => c.readCard({{service: 'http://127.0.0.1:{service.port}'}}))"
            ".then(d => d.card.id_number, e => e.kind + ' ' + e.name)")
    browser.call("Browser.setPermission", permission=LOOPBACK_PERMISSION, setting="granted",
                 origin=origin)
    tab = browser.open(origin + "/")
    check_state(failures, tab.wait_state("card"), "card", STATE_TEXTS["card"],
                "public page, permission granted: card event")
    got = tab.evaluate(read)
    if got != ID_NUMBER:
        failures.append(f"public page, permission granted: readCard() gave {got!r}")
    tab.close()

    browser.call("Browser.setPermission", permission=LOOPBACK_PERMISSION, setting="denied",
                 origin=origin)
    time.sleep(0.5)
    requests = len(service.log)
    tab = browser.open(origin + "/")
    shown = tab.wait_state("blocked_by_browser")
    check_state(failures, shown, "blocked_by_browser", STATE_TEXTS["blocked_by_browser"],
                "public page, permission denied")
    got = tab.evaluate(read)
    if got != "blocked_by_browser BlockedByBrowserError":
        failures.append(f"public page, permission denied: readCard() gave {got!r}")
    tab.screenshot(shots("blocked_by_browser"))
    tab.close()
    reached = [line for line in service.log[requests:] if "/api/" in line]
    if reached:
        failures.append(f"public page, permission denied: requests reached the service: {reached}")


def one_state(browser, failures, service, state, shots):
    tab = browser.open(f"http://127.0.0.1:{service.port}/")
    check_state(failures, tab.wait_state(state), state, STATE_TEXTS[state])
    tab.screenshot(shots(state))
    return tab


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--screenshots", required=True, help="folder of the serve-<state>.png files")
    ap.add_argument("--no-card-profile", required=True)
    args = ap.parse_args()
    failures = []

    def shots(state):
        return os.path.join(args.screenshots, f"serve-{state}.png")

    site = Site()
    public = Site()
    service = Service([args.program], ["--allow-origin", f"http://127.0.0.1:{site.port}",
                                       "--allow-origin", f"http://127.0.0.1:{public.port}"])
    public.page_of = service.port
    others = []
    with tempfile.TemporaryDirectory() as profile:
        browser = Browser(profile, [f"--ip-address-space-overrides=127.0.0.1:{public.port}=public"])
        try:
            tab = demo_page_states(browser, failures, args, service, shots)
            tab.close()
            cross_origin_reads(browser, failures, service, site)
            public_site(browser, failures, service, public, shots)

            # Busy: every event stream taken.
            streams = fill_streams(service.port)
            tab = one_state(browser, failures, service, "busy", shots)
            for s in streams:
                s.close()
            # The service stops under the page's feet.
            service.stop()
            check_state(failures, tab.wait_state("service_not_running"), "service_not_running",
                        STATE_TEXTS["service_not_running"])
            tab.screenshot(shots("service_not_running"))
            tab.close()

            # No card on the reader; no reader on the port (the simulated one is on 1001, where the
            # sdt edition would look first).
            for extra, state in ((["--card", args.no_card_profile], "waiting"),
                                 (["--edition", "qdx", "--port", "1005"], "no_reader")):
                others.append(Service([args.program], extra))
                one_state(browser, failures, others[-1], state, shots).close()
                others[-1].stop()
        finally:
            browser.close()
            service.stop()
            for s in others:
                s.stop()
            site.shutdown()
            public.shutdown()
    if not any("GET /api/v1/card 403" in line for line in service.log):
        failures.append("the service did not log the refused cross-origin request")
    for f in failures:
        print("FAIL:", f)
    print(f"{len(failures)} failures; screenshots: {shots('*')}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
