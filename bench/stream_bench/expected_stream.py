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
