#!/usr/bin/python3
"""An independent client (Python's websockets package) against the real program.

Usage: websockets_client.py PROGRAM
Starts PROGRAM in --fake-source mode watching a sleeping process, then:
  1. connects with the allowed Origin and checks the format message and at
     least one second of continuous sawtooth audio;
  2. connects with a wrong Origin and checks that it is refused with 403.
Exits 0 when both hold.
"""
import asyncio
import json
import os
import struct
import subprocess
import sys
import tempfile
import time

import websockets

TOKEN = "independent-client-token"
ORIGIN = "https://discord.com"
FORMAT = b'{"type":"format","sampleRate":48000,"channels":2,"format":"s16le","frameMs":10,"frameBytes":1920}'


def wait_for_info(path, deadline):
    while time.monotonic() < deadline:
        try:
            with open(path, encoding="utf-8") as f:
                return json.load(f)
        except (OSError, ValueError):
            time.sleep(0.02)
    raise SystemExit("no info file")


def check_sawtooth(frames):
    samples = b"".join(frames)
    values = struct.unpack("<%dh" % (len(samples) // 2), samples)
    left, right = values[0::2], values[1::2]
    assert left == right, "left and right differ"
    start = (left[0] + 5000) // 100
    for i, v in enumerate(left):
        expected = 100 * ((start + i) % 100) - 5000
        assert v == expected, f"sample {i}: {v} != {expected}"


async def listen(port):
    uri = f"ws://127.0.0.1:{port}/?t={TOKEN}"
    async with websockets.connect(uri, origin=ORIGIN, compression=None, max_size=None) as ws:
        first = await asyncio.wait_for(ws.recv(), 10)
        assert isinstance(first, str) and first.encode() == FORMAT, f"format message: {first!r}"
        frames = []
        while len(frames) < 100:
            message = await asyncio.wait_for(ws.recv(), 5)
            assert isinstance(message, bytes) and len(message) == 1920, "binary frame of 1920 bytes"
            frames.append(message)
        check_sawtooth(frames)
    print("websockets client: format message and", len(frames), "continuous frames")


async def refused(port):
    uri = f"ws://127.0.0.1:{port}/?t={TOKEN}"
    try:
        async with websockets.connect(uri, origin="https://example.com"):
            raise SystemExit("a wrong Origin was accepted")
    except websockets.exceptions.InvalidStatusCode as error:
        assert error.status_code == 403, error
    print("websockets client: wrong Origin refused with 403")


def main():
    program = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        sleeper = subprocess.Popen(["sleep", "60"])
        info = os.path.join(folder, "info.json")
        env = dict(os.environ, QUORVEL_AUDIO_LOG=os.path.join(folder, "audio.log"))
        proc = subprocess.Popen([program, "--include-pid", str(sleeper.pid), "--token", TOKEN,
                                 "--info-file", info, "--fake-source"], env=env)
        try:
            port = wait_for_info(info, time.monotonic() + 20)["port"]
            asyncio.run(listen(port))
            asyncio.run(refused(port))
        finally:
            sleeper.kill()
            proc.wait(10)
    return 0


if __name__ == "__main__":
    sys.exit(main())
