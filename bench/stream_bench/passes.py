"""The benchmark's passes: a streaming connection, and waiting with no client."""

import struct
import time

from . import BenchError
from .expected_stream import FORMAT_MESSAGE
from .stream_stats import StreamStats
from .ws_client import OP_BINARY, OP_CLOSE, OP_PING, OP_PONG, OP_TEXT, WsClient


def stream_pass(runner, port, seconds, ping_every):
    """Connects, streams for `seconds`, closes. Returns (stats, CPU sample
    before, CPU sample after, client, whether the server answered the close)."""
    client = WsClient(port, runner.token)
    stats = StreamStats(sawtooth=not runner.args.pipewire)
    first = client.next_frame(10)
    if first is None or first[1] != OP_TEXT or first[2] != FORMAT_MESSAGE:
        raise BenchError(f"expected the format message first, got {first!r:.200}")
    # Wait for streaming to begin (the capture thread's start).
    while True:
        frame = client.next_frame(15)
        if frame is None:
            raise BenchError("no audio frame within 15 s of the format message")
        if frame[1] == OP_BINARY:
            stats.add_frame(frame[2], frame[3])
            break
        if frame[1] == OP_TEXT:
            raise BenchError(f"message instead of audio: {frame[2][:200]!r}")
    before = runner.sample()
    end = before.wall + seconds
    next_ping = before.wall + ping_every if ping_every > 0 else float("inf")
    while True:
        now = time.monotonic()
        if now >= end:
            break
        if now >= next_ping:
            client.send(OP_PING, struct.pack(">Q", time.time_ns()))
            next_ping += ping_every
        frame = client.next_frame(min(end, next_ping) - now)
        if frame is None:
            continue
        _fin, opcode, payload, stamp = frame
        if opcode == OP_BINARY:
            stats.add_frame(payload, stamp)
        elif opcode == OP_PONG and len(payload) == 8:
            stats.pong_rtts_ns.append(stamp - struct.unpack(">Q", payload)[0])
        elif opcode == OP_PING:
            client.send(OP_PONG, payload)
        elif opcode == OP_CLOSE:
            raise BenchError("the server closed the stream")
        else:
            stats.other_messages += 1
    after = runner.sample()  # just before the end
    closed = client.close()
    return stats, before, after, client, closed


def idle_pass(runner, seconds):
    """CPU samples around `seconds` of waiting with no client."""
    before = runner.sample()
    time.sleep(seconds)
    return before, runner.sample()
