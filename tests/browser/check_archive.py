#!/usr/bin/env python3
"""Opens a generated archive in headless Chromium and checks it.

Usage: check_archive.py ARCHIVE_FOLDER OUTPUT_FOLDER

For every list named in ARCHIVE_FOLDER/expected.tsv it loads
LKset/<list>/web/index.htm and checks, through the DevTools protocol (over
the --remote-debugging-pipe file descriptors):
  - the frame named "menu" shows the link page, in Shift_JIS, with one link
    per log, in the expected order, each targeting the frame "main";
  - clicking a link shows that log's page in the frame named "main", with its
    Japanese text intact and its web address linked;
  - the filter box narrows the link list.
It saves screenshots into OUTPUT_FOLDER. Exit code 0 when every check holds.
"""
import base64
import json
import os
import subprocess
import sys
import tempfile
import time
import urllib.parse

FAILURES = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        FAILURES.append(what)
    return condition


class Browser:
    """A headless Chromium driven over --remote-debugging-pipe (fd 3 in, fd 4 out)."""

    def __init__(self, profile):
        to_chrome_r, self.to_chrome = os.pipe()
        self.from_chrome, from_chrome_w = os.pipe()
        os.set_inheritable(to_chrome_r, True)
        os.set_inheritable(from_chrome_w, True)

        def map_fds():
            os.dup2(to_chrome_r, 3)
            os.dup2(from_chrome_w, 4)

        args = ["/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--no-first-run", "--user-data-dir=" + profile, "--remote-debugging-pipe",
                "--window-size=1200,760", "--hide-scrollbars", "about:blank"]
        # The descriptors are moved to 3 and 4 before the browser starts; only
        # those two survive (close_fds runs after preexec_fn).
        self.process = subprocess.Popen(args, preexec_fn=map_fds, pass_fds=(3, 4),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_chrome_r)
        os.close(from_chrome_w)
        self.buffer = b""
        self.next_id = 0
        self.events = []

    def _read_message(self, deadline):
        while b"\0" not in self.buffer:
            if time.time() > deadline:
                raise TimeoutError("no answer from the browser")
            chunk = os.read(self.from_chrome, 65536)
            if not chunk:
                raise RuntimeError("the browser closed its pipe")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, params=None, session=None, timeout=20):
        self.next_id += 1
        request = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            request["sessionId"] = session
        os.write(self.to_chrome, json.dumps(request).encode() + b"\0")
        deadline = time.time() + timeout
        while True:
            message = self._read_message(deadline)
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message.get("result", {})
            self.events.append(message)

    def wait_event(self, method, session, timeout=20):
        deadline = time.time() + timeout
        while True:
            for i, event in enumerate(self.events):
                if event.get("method") == method and event.get("sessionId") == session:
                    return self.events.pop(i)
            self.events.append(self._read_message(deadline))

    def close(self):
        try:
            self.call("Browser.close", timeout=5)
        except Exception:
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()


class Page:
    def __init__(self, browser):
        self.browser = browser
        target = browser.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.session = browser.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        self.call("Page.enable")
        self.call("Runtime.enable")

    def call(self, method, params=None, timeout=20):
        return self.browser.call(method, params, self.session, timeout)

    def open(self, url):
        self.browser.events.clear()
        self.call("Page.navigate", {"url": url})
        self.browser.wait_event("Page.loadEventFired", self.session)

    def frames(self):
        """Frame name -> (frame id, url) for the child frames of the page."""
        tree = self.call("Page.getFrameTree")["frameTree"]
        found = {}
        for child in tree.get("childFrames", []):
            frame = child["frame"]
            found[frame.get("name", "")] = (frame["id"], frame.get("url", ""))
        return found

    def evaluate(self, expression, frame_id=None):
        params = {"expression": expression, "returnByValue": True, "awaitPromise": True}
        if frame_id:
            world = self.call("Page.createIsolatedWorld", {"frameId": frame_id, "worldName": "check"})
            params["contextId"] = world["executionContextId"]
        result = self.call("Runtime.evaluate", params)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def wait_for(self, predicate, timeout=10):
        deadline = time.time() + timeout
        while time.time() < deadline:
            value = predicate()
            if value:
                return value
            time.sleep(0.1)
        return predicate()

    def screenshot(self, path, width, height, mobile=False):
        self.call("Emulation.setDeviceMetricsOverride",
                  {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": mobile})
        time.sleep(0.5)
        data = self.call("Page.captureScreenshot", {"format": "png"})["data"]
        with open(path, "wb") as out:
            out.write(base64.b64decode(data))
        print("screenshot: " + path)


def file_url(path):
    return "file://" + urllib.parse.quote(os.path.abspath(path))


def run_checks(checks):
    """Runs checks(page) on a page of a fresh headless browser, prints the
    tally and returns the exit code: 0 when every check so far held."""
    with tempfile.TemporaryDirectory() as profile:
        browser = Browser(profile)
        try:
            checks(Page(browser))
        except Exception as error:  # a browser that hangs or breaks fails the check
            check(False, f"browser session: {error}")
        finally:
            browser.close()
    print(f"{len(FAILURES)} failure(s)")
    return 1 if FAILURES else 0


def check_list(page, archive, output, list_name, logs, shot_index):
    index = os.path.join(archive, "LKset", list_name, "web", "index.htm")
    page.open(file_url(index))
    frames = page.frames()
    check("menu" in frames and "main" in frames, f"{list_name}: index.htm has the frames menu and main")
    menu_id, menu_url = frames["menu"]
    check(menu_url.endswith("/menu.htm"), f"{list_name}: the menu frame shows menu.htm")

    links = page.evaluate("[...document.links].map(a => [a.getAttribute('href'), a.textContent, a.target])",
                          menu_id)
    expected = [[page_name, subject, "main"] for page_name, subject, _ in logs]
    check(links == expected, f"{list_name}: the link page lists every log in order, targeting main"
          + ("" if links == expected else f"\n     got      {links}\n     expected {expected}"))
    charset = page.evaluate("document.characterSet", menu_id)
    check(charset.lower() in ("shift_jis", "shift-jis"), f"{list_name}: the link page is read as Shift_JIS ({charset})")
    title = page.evaluate("document.getElementById('title').firstChild.nodeValue.trim()")
    check(title == list_name, f"{list_name}: the header shows the list name ({title})")

    for position, (page_name, subject, probe) in enumerate(logs):
        page.evaluate(f"document.links[{position}].click()", menu_id)
        shown = page.wait_for(lambda: page.frames().get("main", ("", ""))[1].endswith("/" + page_name) and
                              page.frames()["main"])
        if not check(bool(shown), f"{list_name}: clicking '{subject}' shows {page_name} in the frame main"):
            continue
        main_id = shown[0]
        text = page.wait_for(lambda: page.evaluate("document.body ? document.body.innerText : ''", main_id))
        check(probe in text and "ご意見は" in text and "ソフト・表・十・能・予" in text,
              f"{list_name}: {page_name} shows its Japanese text intact")
        anchor = page.evaluate("(a => a && [a.href, a.target])(document.querySelector('a[href^=\"http\"]'))",
                               main_id)
        check(anchor == ["http://larkspur.example.jp/news/", "new"],
              f"{list_name}: {page_name} links its web address into a new window")

    # The filter box keeps only the links whose subject holds the words.
    words = logs[-1][1].split()[-1]
    page.evaluate("(w => { const box = document.getElementById('words'); box.value = w;"
                  " box.dispatchEvent(new Event('input')); })(" + json.dumps(words) + ")")
    wanted = sum(1 for _, subject, _ in logs if words.lower() in subject.lower())
    visible = page.wait_for(lambda: (lambda n: n if n == wanted else 0)(
        page.evaluate("[...document.links].filter(a => a.offsetParent !== null).length", menu_id)))
    check(visible == wanted, f"{list_name}: filtering by '{words}' leaves {wanted} link(s) (saw {visible})")
    page.evaluate("document.getElementById('clear').click()")

    page.evaluate(f"document.links[0].click()", menu_id)
    page.wait_for(lambda: page.frames().get("main", ("", ""))[1].endswith("/" + logs[0][0]))
    page.screenshot(os.path.join(output, f"archive-{shot_index}.png"), 1200, 760)
    page.screenshot(os.path.join(output, f"archive-{shot_index}-narrow.png"), 390, 800, mobile=True)
    page.call("Emulation.clearDeviceMetricsOverride")


def main():
    archive, output = sys.argv[1], sys.argv[2]
    os.makedirs(output, exist_ok=True)
    lists = {}
    with open(os.path.join(archive, "expected.tsv"), encoding="utf-8") as expected:
        for line in expected:
            list_name, page_name, subject, probe = line.rstrip("\n").split("\t")
            lists.setdefault(list_name, []).append((page_name, subject, probe))

    def check_lists(page):
        for number, (list_name, logs) in enumerate(lists.items(), 1):
            check_list(page, archive, output, list_name, logs, number)

    return run_checks(check_lists)


if __name__ == "__main__":
    sys.exit(main())
