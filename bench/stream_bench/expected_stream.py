"""What the program sends in --fake-source mode: the format message and the
sawtooth frames, and how to tell a received frame's place along the sawtooth."""

import struct

FORMAT_MESSAGE = (b'{"type":"format","sampleRate":48000,"channels":2,'
                  b'"format":"s16le","frameMs":10,"frameBytes":1920}')
FRAME_BYTES = 1920
FRAME_NS = 10_000_000
SAMPLES_PER_FRAME = 480
SAW_PERIOD = 100
SAW_STEP = 100
SAW_LOW = -5000


def sawtooth_templates():
    """The 100 possible frames, indexed by the phase of their first sample."""
    templates = []
    for phase in range(SAW_PERIOD):
        frame = bytearray()
        for n in range(phase, phase + SAMPLES_PER_FRAME):
            value = SAW_STEP * (n % SAW_PERIOD) + SAW_LOW
            frame += struct.pack("<hh", value, value)
        templates.append(bytes(frame))
    return templates


TEMPLATES = sawtooth_templates()


def frame_phase(payload):
    """Phase (0..99) of a frame that is a clean sawtooth, else None."""
    if len(payload) != FRAME_BYTES:
        return None
    first = struct.unpack_from("<h", payload)[0] - SAW_LOW
    if first % SAW_STEP:
        return None
    phase = first // SAW_STEP
    if not 0 <= phase < SAW_PERIOD or payload != TEMPLATES[phase]:
        return None
    return phase


class SawtoothSource:
    """The --fake-source stream: a frame's place is its phase (0..99), and a
    jump is explained by the smallest frame count (1..5) that gives it."""

    name = "sawtooth"

    def position(self, payload):
        return frame_phase(payload)

    def step(self, before, after):
        for step in range(1, 6):
            if (before + step * SAMPLES_PER_FRAME) % SAW_PERIOD == after:
                return step
        return 5


# The stand-in process-loopback engine's signal (audio-capture/tests/
# loopback_standin/standin_signal.hpp), written again here from its
# description: left a sawtooth tone whose period depends on the pid and the
# mode, right the same tone with its low byte replaced by a 16-sample tag
# (pid, mode, marker B5 5B A5, tag number).
TAG_SAMPLES = 16
TAG_MARKER = bytes([0xB5, 0x5B, 0xA5])


def standin_frame(pid, mode, index):
    """Frame `index` (sample frames 480*index ...) of the engine's stream."""
    period = (48 if mode == 0 else 96) + pid % 48
    frame = bytearray(FRAME_BYTES)
    for i in range(SAMPLES_PER_FRAME):
        n = index * SAMPLES_PER_FRAME + i
        tone = 100 * (n % period) - 50 * period
        at = n % TAG_SAMPLES
        if at < 4:
            tag = (pid >> (8 * at)) & 0xFF
        elif at == 4:
            tag = mode
        elif at < 8:
            tag = TAG_MARKER[at - 5]
        elif at < 12:
            tag = ((n // TAG_SAMPLES) >> (8 * (at - 8))) & 0xFF
        else:
            tag = 0
        struct.pack_into("<hH", frame, 4 * i, tone, (tone & 0xFF00) | tag)
    return bytes(frame)


class StandinSource:
    """The stand-in engine's stream for one pid and mode: a frame's place is
    its absolute index, read from its tag and checked against the whole frame."""

    name = "signal"

    def __init__(self, pid, mode):
        self.pid = pid
        self.mode = mode

    def position(self, payload):
        if len(payload) != FRAME_BYTES:
            return None
        tag = payload[2:TAG_SAMPLES * 4:4]
        if tag[5:8] != TAG_MARKER:
            return None
        number = int.from_bytes(tag[8:12], "little")
        index = number * TAG_SAMPLES // SAMPLES_PER_FRAME
        if payload != standin_frame(self.pid, self.mode, index):
            return None
        return index

    def step(self, before, after):
        return max(after - before, 1)


class CapturedSource:
    """Real capture (--pipewire): no signal to follow, so a frame's place is
    its arrival count and losses show on the grid only."""

    name = "capture"

    def __init__(self):
        self.count = -1

    def position(self, payload):
        if len(payload) != FRAME_BYTES:
            return None
        self.count += 1
        return self.count

    def step(self, before, after):
        return max(after - before, 1)
