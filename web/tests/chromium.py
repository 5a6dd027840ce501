"""Debian's Chromium, headless, driven over the DevTools protocol.

Only Debian packages are needed: /usr/lib/chromium/chromium and python3-websockets.
Each start gets a fresh profile (a denied permission sticks to a profile) and is
ended by its pid.
"""
import asyncio
import base64
import itertools
import json
import os
import shutil
import subprocess
import tempfile
import time

import websockets

CHROMIUM = "/usr/lib/chromium/chromium"
# The DevTools permission that lets a public page reach a loopback port.
LOOPBACK_PERMISSION = "loopbackNetwork"


class BrowserError(Exception):
    pass


def chromium_version():
    return subprocess.run([CHROMIUM, "--version"], capture_output=True, text=True, timeout=60).stdout.strip()


class Chromium:
    """One browser process and one DevTools connection to it."""

    def __init__(self, host_rules, public_address, spki_hash):
        self.flags = [
            "--headless=new", "--no-sandbox", "--no-first-run", "--remote-debugging-port=0",
            "--autoplay-policy=no-user-gesture-required", "--disable-audio-output", "--window-size=800,720",
            f"--host-resolver-rules={host_rules}",
            f"--ip-address-space-overrides={public_address}=public",
            f"--ignore-certificate-errors-spki-list={spki_hash}",
        ]
        self.profile = None
        self.process = None
        self.socket = None
        self.reader = None
        self.ids = itertools.count(1)
        self.pending = {}
        self.started_at = None

    async def start(self, timeout=30):
        self.profile = tempfile.mkdtemp(prefix="brq-chromium-")
        self.started_at = time.monotonic()
        self.process = subprocess.Popen([CHROMIUM, f"--user-data-dir={self.profile}", *self.flags, "about:blank"],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.monotonic() + timeout
        lines = []
        while len(lines) < 2:
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise BrowserError(f"waited {timeout} s for Chromium's DevToolsActivePort; "
                                   f"exit status {self.process.poll()}")
            await asyncio.sleep(0.05)
            try:
                with open(port_file, encoding="ascii") as f:
                    lines = f.read().split()
            except OSError:
                pass
        self.socket = await websockets.connect(f"ws://127.0.0.1:{lines[0]}{lines[1]}", max_size=None,
                                               open_timeout=timeout)
        self.reader = asyncio.create_task(self._read())

    async def _read(self):
        async for text in self.socket:
            message = json.loads(text)
            waiter = self.pending.pop(message.get("id"), None)
            if waiter is not None and not waiter.done():
                waiter.set_result(message)

    async def call(self, method, params=None, session=None, timeout=30):
        """Runs one DevTools command and returns its result; an error raises."""
        ident = next(self.ids)
        request = {"id": ident, "method": method, "params": params or {}}
        if session:
            request["sessionId"] = session
        waiter = asyncio.get_running_loop().create_future()
        self.pending[ident] = waiter
        await self.socket.send(json.dumps(request))
        try:
            reply = await asyncio.wait_for(waiter, timeout)
        except asyncio.TimeoutError:
            raise BrowserError(f"waited {timeout} s for the reply to {method}") from None
        if "error" in reply:
            raise BrowserError(f"{method}: {reply['error'].get('message')}")
        return reply["result"]

    async def grant(self, origin, permissions):
        """Grants the listed permissions to origin and denies every other one."""
        await self.call("Browser.grantPermissions", {"origin": origin, "permissions": permissions})

    async def open(self, url, timeout=30):
        """A new tab at url, loaded."""
        target = await self.call("Target.createTarget", {"url": "about:blank"})
        attached = await self.call("Target.attachToTarget", {"targetId": target["targetId"], "flatten": True})
        page = Page(self, attached["sessionId"])
        await page.goto(url, timeout)
        return page

    async def cpu_seconds(self):
        """User and system CPU of the browser and all its child processes so far."""
        return sum(_cpu_seconds(pid) for pid in _process_tree(self.process.pid))

    async def stop(self):
        if self.socket is not None:
            await self.socket.close()
            self.reader.cancel()
            self.socket = None
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(10)
        if self.profile:
            shutil.rmtree(self.profile, ignore_errors=True)
            self.profile = None


class Page:
    """One tab, reached through a flat DevTools session."""

    def __init__(self, browser, session):
        self.browser = browser
        self.session = session

    async def goto(self, url, timeout=30):
        await self.browser.call("Page.navigate", {"url": url}, self.session, timeout)
        await self.evaluate("new Promise(r => document.readyState === 'complete' ? r() : "
                            "addEventListener('load', () => r()))", timeout, f"the page {url} to load")

    async def evaluate(self, expression, timeout, what):
        """The value of a JavaScript expression (awaited if it is a promise)."""
        try:
            result = await self.browser.call(
                "Runtime.evaluate", {"expression": expression, "awaitPromise": True, "returnByValue": True},
                self.session, timeout)
        except BrowserError as error:
            raise BrowserError(f"{what}: {error}") from None
        if "exceptionDetails" in result:
            details = result["exceptionDetails"]
            text = details.get("exception", {}).get("description") or details.get("text")
            raise BrowserError(f"{what}: {text}")
        return result["result"].get("value")

    async def wait_for(self, expression, timeout, what):
        """Polls a JavaScript condition until it is true."""
        deadline = time.monotonic() + timeout
        while not await self.evaluate(expression, timeout, what):
            if time.monotonic() > deadline:
                raise BrowserError(f"waited {timeout} s for {what}")
            await asyncio.sleep(0.1)

    async def screenshot(self, path):
        """Saves a PNG of the page and returns it base64-encoded."""
        shot = await self.browser.call("Page.captureScreenshot", {"format": "png"}, self.session)
        with open(path, "wb") as f:
            f.write(base64.b64decode(shot["data"]))
        return shot["data"]


def _process_tree(root):
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat", encoding="ascii") as f:
                    parent = int(f.read().rsplit(")", 1)[1].split()[1])
                children.setdefault(parent, []).append(int(entry))
            except (OSError, ValueError, IndexError):
                pass
    tree, todo = [], [root]
    while todo:
        pid = todo.pop()
        tree.append(pid)
        todo.extend(children.get(pid, []))
    return tree


def _cpu_seconds(pid):
    try:
        with open(f"/proc/{pid}/stat", encoding="ascii") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, ValueError, IndexError):
        return 0.0
