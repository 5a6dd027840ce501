"""A private PipeWire sound server for the real-capture passes
(scripts/private-sound-server.sh) and the tone its player plays."""

import math
import os
import struct
import subprocess
import wave

from . import BenchError

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                      "private-sound-server.sh")
TONE_HZ = 440
TONE_AMPLITUDE = 8000


def start(folder, env):
    """Starts the server in `folder`; adds its clients' variables to `env`."""
    done = subprocess.run([SCRIPT, "start", folder], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=120, check=False)
    if done.returncode != 0:
        raise BenchError(f"private sound server: {done.stderr.strip()}")
    printed = subprocess.run([SCRIPT, "env", folder], capture_output=True, text=True, check=True).stdout
    for pair in printed.split():
        name, value = pair.split("=", 1)
        env[name] = value
    for name in ("PIPEWIRE_REMOTE", "PIPEWIRE_RUNTIME_DIR", "PULSE_SERVER", "DBUS_SESSION_BUS_ADDRESS"):
        env.pop(name, None)


def stop(folder):
    subprocess.run([SCRIPT, "stop", folder], stdin=subprocess.DEVNULL, timeout=60, check=False)


def daemon_pid(folder):
    with open(os.path.join(folder, "pipewire.pid"), encoding="ascii") as handle:
        return int(handle.read())


def write_tone(path, seconds):
    """A stereo 440 Hz sine, 48 kHz, 16 bit."""
    one_second = b"".join(struct.pack("<hh", v, v) for v in (
        round(TONE_AMPLITUDE * math.sin(2 * math.pi * TONE_HZ * i / 48000)) for i in range(48000)))
    with wave.open(path, "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(48000)
        for _ in range(int(seconds)):
            out.writeframes(one_second)
