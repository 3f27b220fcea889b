"""A headless Firefox driven over WebDriver BiDi, with the interface of
check_archive.Page (open, evaluate, wait_for, screenshot), for the checks that
run in both browsers. Only the standard library: a minimal WebSocket client.
"""
import base64
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import threading
import time

from check_archive import Page

FIREFOX = shutil.which("firefox-esr") or shutil.which("firefox")


class _WebSocket:
    def __init__(self, host, port, path):
        self.sock = socket.create_connection((host, port), timeout=60)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET {path} HTTP/1.1\r\nHost: {host}:{port}\r\nUpgrade: websocket\r\n"
                           f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                           "Sec-WebSocket-Version: 13\r\n\r\n").encode())
        self.buffer = b""
        while b"\r\n\r\n" not in self.buffer:
            self.buffer += self._recv()
        head, self.buffer = self.buffer.split(b"\r\n\r\n", 1)
        if b" 101 " not in head.split(b"\r\n")[0]:
            raise RuntimeError("no WebSocket: " + head.decode(errors="replace"))

    def _recv(self):
        chunk = self.sock.recv(1 << 16)
        if not chunk:
            raise RuntimeError("the browser closed its connection")
        return chunk

    def _take(self, n):
        while len(self.buffer) < n:
            self.buffer += self._recv()
        out, self.buffer = self.buffer[:n], self.buffer[n:]
        return out

    def send(self, text):
        payload = text.encode()
        mask = os.urandom(4)
        n = len(payload)
        head = bytes([0x81]) + (bytes([0x80 | n]) if n < 126 else
                                bytes([0x80 | 126]) + struct.pack(">H", n) if n < 1 << 16 else
                                bytes([0x80 | 127]) + struct.pack(">Q", n))
        self.sock.sendall(head + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload)))

    def receive(self):
        message = b""
        while True:
            first, second = self._take(2)
            n = second & 0x7F
            if n == 126:
                n = struct.unpack(">H", self._take(2))[0]
            elif n == 127:
                n = struct.unpack(">Q", self._take(8))[0]
            payload = self._take(n)
            if first & 0x0F == 0x8:
                raise RuntimeError("the browser closed its WebSocket")
            if first & 0x0F in (0x9, 0xA):  # ping, pong: nothing to answer for a short check
                continue
            message += payload
            if first & 0x80:
                return message.decode()


def _value(remote):
    """A BiDi RemoteValue as Python data."""
    kind, value = remote.get("type"), remote.get("value")
    if kind in ("undefined", "null"):
        return None
    if kind in ("array", "set"):
        return [_value(v) for v in value or []]
    if kind in ("object", "map"):
        return {(k if isinstance(k, str) else _value(k)): _value(v) for k, v in value or []}
    return value


class FirefoxPage:
    """One tab of a headless Firefox with a profile of its own."""

    def __init__(self, profile):
        self.process = subprocess.Popen(
            [FIREFOX, "--headless", "--no-remote", "--profile", profile, "--remote-debugging-port=0", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        address = None
        deadline = time.time() + 60
        while address is None and time.time() < deadline:
            line = self.process.stderr.readline()
            if not line and self.process.poll() is not None:
                break
            address = re.search(r"ws://([\d.]+):(\d+)", line)
        if address is None:
            self.process.kill()
            raise RuntimeError("Firefox did not open WebDriver BiDi")
        # What Firefox goes on writing is read away, so that it never waits on a full pipe.
        threading.Thread(target=lambda: self.process.stderr.read(), daemon=True).start()
        self.socket = _WebSocket(address.group(1), int(address.group(2)), "/session")
        self.next_id = 0
        self.call("session.new", {"capabilities": {}})
        self.context = self.call("browsingContext.getTree", {})["contexts"][0]["context"]

    def call(self, method, params, timeout=60):
        self.next_id += 1
        self.socket.sock.settimeout(timeout)
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.receive())
            if message.get("id") != self.next_id:
                continue  # an event
            if message.get("type") == "error":
                raise RuntimeError(f"{method}: {message.get('error')}: {message.get('message')}")
            return message["result"]

    def open(self, url):
        self.call("browsingContext.navigate", {"context": self.context, "url": url, "wait": "complete"})

    def evaluate(self, expression):
        result = self.call("script.evaluate", {
            "expression": expression, "target": {"context": self.context}, "awaitPromise": True,
            "resultOwnership": "none", "serializationOptions": {"maxObjectDepth": 8}})
        if result.get("type") == "exception":
            raise RuntimeError(f"{expression}: {result['exceptionDetails'].get('text')}")
        return _value(result["result"])

    wait_for = Page.wait_for

    def screenshot(self, path, width, height, mobile=False):
        self.call("browsingContext.setViewport", {"context": self.context,
                                                  "viewport": {"width": width, "height": height}})
        time.sleep(0.5)
        data = self.call("browsingContext.captureScreenshot", {"context": self.context})["data"]
        with open(path, "wb") as out:
            out.write(base64.b64decode(data))
        print("screenshot: " + path)

    def close(self):
        try:
            self.call("session.end", {}, timeout=5)
        except Exception:
            pass
        self.process.kill()
        self.process.wait()
