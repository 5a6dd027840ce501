#!/usr/bin/python3
"""The web module's player in headless Chromium: what a page costs and how
large its jitter buffer must be.

Usage: bench/browser_player.py PROGRAM [--seconds N] [--targets 20,40,80,200] [--starts 3]

PROGRAM is a native build of Brenquosta-audio, run with --fake-source. Figures:
  - browser start to first frame: from launching Chromium to the first audio
    frame in a page at the allowed origin (launch, page load, module, player,
    connection), over --starts fresh browsers;
  - browser CPU while streaming: every Chromium process, user + system time,
    over one pass at the default target, in % of one core;
  - underruns and late frames per buffer target over --seconds of playing, on
    a quiet machine and with both cores kept busy by two spinning processes
    (started and ended here, by pid) besides whatever else runs.
The load average is printed beside each figure.
"""
import argparse
import asyncio
import contextlib
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "web", "tests"))

from browser_test import Rig, ORIGIN_HOST, run_in_page, load  # noqa: E402


@contextlib.contextmanager
def busy_cores(count):
    spinners = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(count)]
    try:
        yield
    finally:
        for spinner in spinners:
            spinner.kill()
            spinner.wait()


async def play(rig, target_ms, seconds):
    """One fresh browser playing for seconds at target_ms; its figures."""
    started = time.time()
    browser = await rig.browser([f"https://{ORIGIN_HOST}"])
    try:
        page = await browser.open(rig.url(ORIGIN_HOST, "/tests/page.html"))
        cpu_before, wall_before = await browser.cpu_seconds(), time.monotonic()
        result = await run_in_page(page, "streamAndPlay", {**rig.args, "countMs": 3000, "playMs": seconds * 1000,
                                                           "targetMs": target_ms},
                                   seconds + 60, f"{seconds} s of playing")
        cpu = (await browser.cpu_seconds() - cpu_before) / (time.monotonic() - wall_before)
    finally:
        await browser.stop()
    if "error" in result:
        raise SystemExit(f"streaming failed: {result['error']}")
    return result, result["firstFrameEpochMs"] / 1000 - started, cpu


async def main(args):
    rig = Rig(argparse.Namespace(program=args.program, wine=None))
    rig.start()
    try:
        print(f"load at start: {load()}")
        for n in range(args.starts):
            _, first, _ = await play(rig, None, 2)
            print(f"start {n + 1}: browser start to first frame {first:.2f} s (load {load()})")
        result, _, cpu = await play(rig, None, args.seconds)
        print(f"browser CPU while streaming at the default target: {100 * cpu:.1f} % of one core "
              f"(load {load()}); player {result['player']}")
        for busy in (0, 2):
            with busy_cores(busy):
                for target in args.targets:
                    result, _, _ = await play(rig, target, args.seconds)
                    p, tap = result["player"], result["tap"]
                    print(f"{'both cores busy' if busy else 'quiet':15} target {target:3} ms: "
                          f"underruns {p['underruns']}, late frames {p['lateFrames']}, dropped "
                          f"{p['droppedFrames']}, fill at the end {p['fillMs']:.0f} ms, wrong samples "
                          f"{tap['wrong']} over {args.seconds} s (load {load()})")
    finally:
        await rig.close()


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("program")
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--targets", default="20,40,80,200", type=lambda s: [int(t) for t in s.split(",")])
    parser.add_argument("--starts", type=int, default=3)
    asyncio.run(main(parser.parse_args()))
