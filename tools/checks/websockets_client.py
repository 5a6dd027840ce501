#!/usr/bin/python3
"""An independent client (Python's websockets package) against the real program.

Usage: websockets_client.py PROGRAM
       websockets_client.py --wine PROGRAM.exe WATCHED.exe
Starts PROGRAM in --fake-source mode watching a sleeping process (with --wine,
the Windows exe under Wine watching the test suite's brq-watched.exe, whose
Windows pid it writes to a file), then:
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


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def start_watched(folder, wine, watched_exe):
    """The process to watch and the pid to give the program."""
    if not wine:
        sleeper = subprocess.Popen(["sleep", "60"])
        return sleeper, sleeper.pid
    pid_file = os.path.join(folder, "watched.pid")
    watched = subprocess.Popen(["wine", watched_exe, "--sleep-ms", "60000", "--pid-file", windows_path(pid_file)],
                               stdin=subprocess.DEVNULL)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        try:
            with open(pid_file, encoding="ascii") as f:
                text = f.read().strip()
            if text:
                return watched, int(text)
        except OSError:
            pass
        time.sleep(0.05)
    raise SystemExit("the watched process wrote no pid")


def main():
    args = sys.argv[1:]
    wine = args[:1] == ["--wine"]
    program = args[1] if wine else args[0]
    with tempfile.TemporaryDirectory() as folder:
        watched, watched_pid = start_watched(folder, wine, args[2] if wine else None)
        info = os.path.join(folder, "info.json")
        log = os.path.join(folder, "audio.log")
        env = dict(os.environ, QUORVEL_AUDIO_LOG=windows_path(log) if wine else log)
        command = [program, "--include-pid", str(watched_pid), "--token", TOKEN,
                   "--info-file", windows_path(info) if wine else info, "--fake-source"]
        proc = subprocess.Popen((["wine"] if wine else []) + command, env=env, stdin=subprocess.DEVNULL)
        try:
            port = wait_for_info(info, time.monotonic() + 30)["port"]
            asyncio.run(listen(port))
            asyncio.run(refused(port))
        finally:
            watched.kill()
            proc.wait(30)
    return 0


if __name__ == "__main__":
    sys.exit(main())
