#!/usr/bin/python3
"""The web module in real headless Chromium against the real program.

Usage: browser_test.py CASE PROGRAM [--wine WATCHED.exe] [--artifacts FOLDER]
  CASE stream           format first, ~300 frames in 3 s, the player's output read back, the demo
                        page's screenshot, a second page taking over from the first
  CASE refusals         a page at another origin, and a page without the loopback permission
  CASE capture-failure  a capture that cannot start (Linux port, include mode, no sound server)
With --wine, PROGRAM is the Windows exe, run under Wine watching WATCHED.exe;
the browser runs natively and connects to the Wine process's port.

The pages are at the program's allowed origin as the browser sees it: the host
name mapped to a local HTTPS server with a certificate made now, and that
server marked as a public address, so that the browser's local network access
rules apply as for real users.
"""
import argparse
import asyncio
import json
import os
import shutil
import sys
import tempfile
import time

from chromium import LOOPBACK_PERMISSION, BrowserError, Chromium, chromium_version
from page_server import PageServer, make_certificate
from program import TOKEN, Program

ORIGIN_HOST = "discord.com"  # the origin the program allows, https://discord.com
OTHER_HOST = "evil.example"
WEB_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FORMAT = {"type": "format", "sampleRate": 48000, "channels": 2, "format": "s16le", "frameMs": 10,
          "frameBytes": 1920}


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def load():
    with open("/proc/loadavg", encoding="ascii") as f:
        return " ".join(f.read().split()[:3])


class Rig:
    """Certificate, page server and program for one case; browsers on demand."""

    def __init__(self, args, program_args=("--fake-source",), program_env=None):
        self.settings = (args.program, args.wine, program_args, program_env)
        self.folder = tempfile.mkdtemp(prefix="brq-browser-test-")
        self.browsers = []
        self.server = self.program = None

    def start(self):
        cert, key, self.spki_hash = make_certificate(self.folder, [ORIGIN_HOST, OTHER_HOST])
        self.server = PageServer(WEB_ROOT, cert, key)
        self.page_port = self.server.wait_ready()
        self.program = Program(self.folder, *self.settings)
        self.port = self.program.wait_for_port()
        self.args = {"port": self.port, "token": TOKEN}

    def url(self, host, path):
        return f"https://{host}{path}"

    async def browser(self, granted_origins):
        rules = f"MAP {ORIGIN_HOST} 127.0.0.1:{self.page_port}, MAP {OTHER_HOST} 127.0.0.1:{self.page_port}"
        browser = Chromium(rules, f"127.0.0.1:{self.page_port}", self.spki_hash)
        self.browsers.append(browser)
        await browser.start()
        for origin in granted_origins:
            try:
                await browser.grant(origin, [LOOPBACK_PERMISSION])
            except BrowserError as error:
                raise AssertionError(f"this Chromium no longer knows the permission {LOOPBACK_PERMISSION!r} "
                                     f"that lets a public page reach a loopback port: {error}") from None
        return browser

    async def close(self):
        for browser in self.browsers:
            await browser.stop()
        try:
            if self.program:
                self.program.stop()
        finally:
            if self.server:
                self.server.stop()
            shutil.rmtree(self.folder, ignore_errors=True)


async def run_in_page(page, function, args, timeout, what):
    return await page.evaluate(f"import('/tests/harness.js').then(h => h.{function}({json.dumps(args)}))",
                               timeout, what)


async def case_stream(rig, artifacts):
    started = time.time()
    browser = await rig.browser([f"https://{ORIGIN_HOST}"])
    page = await browser.open(rig.url(ORIGIN_HOST, "/tests/page.html"))

    checks = await run_in_page(page, "formatChecks", {}, 30, "the module's check of first messages")
    check(checks["good"] is None and checks["wrong"] == ["bad-format"] * len(checks["wrong"]),
          f"the module must accept only the format message as the first message: {checks}")

    cpu_before, wall_before = await browser.cpu_seconds(), time.monotonic()
    result = await run_in_page(page, "streamAndPlay", {**rig.args, "countMs": 3000, "playMs": 6500}, 60,
                               "6.5 s of streaming into the player")
    cpu = (await browser.cpu_seconds() - cpu_before) / (time.monotonic() - wall_before)
    check("error" not in result, f"streaming failed: {result.get('error')} (if code is 'blocked', the "
          f"DevTools permission {LOOPBACK_PERMISSION!r} no longer grants loopback access)")
    tap, player = result["tap"], result["player"]
    print(f"first frame {result['firstFrameEpochMs'] / 1000 - started:.2f} s after the browser's start; "
          f"browser CPU while streaming {100 * cpu:.0f} % of one core; load {load()}")
    print(f"frames in the first 3 s: {result['framesInWindow']}, in all {result['frames']}; player: {player}; "
          f"read back: {tap}")
    check(result["format"] == FORMAT, f"format message: {result['format']}")
    check(250 <= result["framesInWindow"] <= 350, f"{result['framesInWindow']} frames in 3 s, expected ~300")
    check(result["wrongSize"] == 0 and result["wrongSamples"] == 0,
          f"frames of another size: {result['wrongSize']}, samples off the sawtooth: {result['wrongSamples']}")
    check(result["stream"]["framesReceived"] == result["frames"], f"module's count: {result['stream']}")
    check(tap["checked"] >= 5 * 48000, f"only {tap['checked']} samples of the player's output read back")
    check(tap["wrong"] == 0, f"the player's output has samples off the sawtooth: {tap}")
    check(tap["silences"] <= player["underruns"] and tap["breaks"] <= player["droppedFrames"],
          f"the output has gaps or jumps the player did not report: {tap} {player}")
    check(player["underruns"] <= 3, f"{player['underruns']} underruns in 6.5 s at the default buffer")
    check(result["end"]["code"] == "closed", f"a stream the page closed ended as {result['end']}")

    await demo_and_takeover(rig, browser, page, artifacts)
    rig.program.wait_for_record(lambda r: r == "cliente desconectado", 10, '"cliente desconectado"', 3)
    records = rig.program.log_records()
    check(records.count("cliente autenticado") == 3 and
          not any(r.startswith("conexão encerrada") for r in records),
          f"three clients, none ended by an error, expected in the log: {records}")


async def demo_and_takeover(rig, browser, first_page, artifacts):
    """The demo page streams and draws; a second page then takes over from it."""
    demo = await browser.open(rig.url(ORIGIN_HOST, f"/demo/#port={rig.port}&token={TOKEN}"))
    state = "document.getElementById('state').dataset.state"
    await demo.wait_for(f"{state} === 'streaming' && "
                        "Number(document.getElementById('framesReceived').textContent) > 150", 30,
                        "the demo page to stream for about 1.5 s")
    canvas = await demo.evaluate("(() => { const r = document.getElementById('wave').getBoundingClientRect(); "
                                 "return {x: Math.round(r.x) + 2, y: Math.round(r.y) + 2, "
                                 "width: Math.round(r.width) - 4, height: Math.round(r.height) - 4}; })()",
                                 10, "where the waveform is")
    shot = os.path.join(artifacts, "web-demo.png")
    png = await demo.screenshot(shot)
    extent = await run_in_page(first_page, "traceExtent", {"png": png, "area": canvas}, 30,
                               "the screenshot's waveform")
    print(f"demo screenshot {shot}: waveform over {extent['rows']} rows, {extent['columns']} columns")
    check(extent["rows"] >= 10 and extent["columns"] >= canvas["width"] * 0.9,
          f"the demo's waveform is flat or missing in the screenshot: {extent}")

    second = await browser.open(rig.url(ORIGIN_HOST, "/tests/page.html"))
    opened = await run_in_page(second, "openAndKeep", rig.args, 30, "a second page's connection")
    check("error" not in opened, f"the second page could not connect: {opened}")
    await demo.wait_for(f"{state} !== 'streaming'", 10, "the first page to see the stream end")
    shown = await demo.evaluate(f"[{state}, document.getElementById('state').textContent]", 10, "the state")
    check(shown[0] == "ended", f"the first page must report that the program ended its stream: {shown}")
    print(f"first page after the takeover: {shown[1]}")
    rig.program.wait_for_record(lambda r: r == "cliente desconectado", 10, '"cliente desconectado"', 2)
    await second.evaluate("window.openStream.close()", 10, "the second page closing its stream")


async def case_refusals(rig, artifacts):
    # Without the permission the browser itself blocks the connection; the
    # program sees at most a connection that never sends its request.
    browser = await rig.browser([])
    page = await browser.open(rig.url(ORIGIN_HOST, "/tests/page.html"))
    blocked = await run_in_page(page, "connectAndWaitForEnd", {**rig.args, "untilMs": 1000}, 30,
                                "a page without the permission connecting")
    print(f"without the permission: {blocked}")
    check(blocked.get("error", {}).get("code") == "blocked",
          "a public page without the loopback permission must be blocked by the browser and the module must "
          "say so; if it connected, --ip-address-space-overrides no longer makes the page public "
          f"(or the browser stopped checking): {blocked}")
    await browser.stop()

    browser = await rig.browser([f"https://{OTHER_HOST}"])
    page = await browser.open(rig.url(OTHER_HOST, "/tests/page.html"))
    refused = await run_in_page(page, "connectAndWaitForEnd", {**rig.args, "untilMs": 1000}, 30,
                                "a page at another origin connecting")
    print(f"another origin: {refused}")
    check(refused.get("error", {}).get("code") == "refused", f"another origin must be refused: {refused}")
    rig.program.wait_for_record(lambda r: r == "handshake recusado: Origin", 10, '"handshake recusado: Origin"')
    records = rig.program.log_records()
    print(f"log: {records}")
    check("cliente autenticado" not in records, f"no client may have been admitted: {records}")
    check(records.count("handshake recusado: Origin") == 1,
          f"only the page at another origin may reach the Origin check: {records}")


async def case_capture_failure(rig, artifacts):
    browser = await rig.browser([f"https://{ORIGIN_HOST}"])
    page = await browser.open(rig.url(ORIGIN_HOST, "/tests/page.html"))
    result = await run_in_page(page, "connectAndWaitForEnd", {**rig.args, "untilMs": 20000}, 40,
                               "a stream whose capture cannot start")
    print(f"capture failure: {result}")
    check("error" not in result and result["end"] is not None, f"connect, then an end, expected: {result}")
    end = result["end"]
    records = rig.program.wait_for_record(lambda r: r.startswith("falha ao iniciar a captura: "), 10,
                                          '"falha ao iniciar a captura: …"')
    text = records[0].removeprefix("falha ao iniciar a captura: ")
    check(end["code"] == "capture-error" and end["detail"] == text and text in end["reason"],
          f"the page must show the program's text {text!r}: {end}")
    check(result["frames"] == 0, f"no audio may arrive: {result}")


CASES = {"stream": case_stream, "refusals": case_refusals, "capture-failure": case_capture_failure}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("case", choices=CASES)
    parser.add_argument("program")
    parser.add_argument("--wine", metavar="WATCHED_EXE")
    parser.add_argument("--artifacts", default=".")
    args = parser.parse_args()
    print(chromium_version())
    if args.case == "capture-failure":
        # Include mode with no sound server to reach: a private, empty runtime folder.
        env = {k: v for k, v in os.environ.items() if k != "PIPEWIRE_REMOTE"}
        runtime = tempfile.mkdtemp(prefix="brq-no-sound-server-")
        env["XDG_RUNTIME_DIR"] = runtime
        make_rig = lambda: Rig(args, (), env)  # noqa: E731
    else:
        runtime, make_rig = None, lambda: Rig(args)  # noqa: E731

    async def run():
        rig = make_rig()
        try:
            rig.start()
            await CASES[args.case](rig, args.artifacts)
        finally:
            await rig.close()

    try:
        asyncio.run(run())
    finally:
        if runtime:
            shutil.rmtree(runtime, ignore_errors=True)
    print(f"{args.case}: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
