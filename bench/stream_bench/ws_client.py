"""A minimal WebSocket client (RFC 6455 client side, raw socket) that stamps
every receive with the kernel's receive time."""

import base64
import hashlib
import secrets
import select
import socket
import struct
import time

from . import BenchError

# asm-generic value (x86, arm): SO_TIMESTAMPNS_OLD, a 64-bit timespec here.
SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)
SCM_TIMESTAMPNS = SO_TIMESTAMPNS
TIMESPEC = struct.Struct("@qq")

ORIGIN = "https://discord.com"
WS_GUID = b"258EAFA5-E914-47DA-95CA-C5AB0DC85B11"

OP_TEXT, OP_BINARY, OP_CLOSE, OP_PING, OP_PONG = 0x1, 0x2, 0x8, 0x9, 0xA


class WsClient:
    def __init__(self, port, token, timeout=10.0):
        self.port = port
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        # Before connecting, so that every segment of this flow is stamped.
        self.sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.sock.settimeout(timeout)
        self.sock.connect(("127.0.0.1", port))
        self.buf = bytearray()
        self.last_stamp = 0
        self.kernel_stamps = 0     # receives that carried a kernel timestamp
        self.user_stamps = 0       # receives without one (fallback clock)
        self.stamp_lag_ns = []     # user-space clock minus kernel stamp
        self._handshake(token, timeout)

    def _recv(self, size):
        """One recvmsg; returns (bytes, arrival time in ns, CLOCK_REALTIME)."""
        data, ancillary, _flags, _addr = self.sock.recvmsg(
            size, socket.CMSG_SPACE(TIMESPEC.size))
        now = time.time_ns()
        stamp = None
        for level, kind, value in ancillary:
            if level == socket.SOL_SOCKET and kind == SCM_TIMESTAMPNS and len(value) >= TIMESPEC.size:
                sec, nsec = TIMESPEC.unpack_from(value)
                stamp = sec * 1_000_000_000 + nsec
        if stamp is None:
            self.user_stamps += 1
            stamp = now
        else:
            self.kernel_stamps += 1
            if len(self.stamp_lag_ns) < 100_000:
                self.stamp_lag_ns.append(now - stamp)
        return data, stamp

    def _handshake(self, token, timeout):
        key = base64.b64encode(secrets.token_bytes(16)).decode()
        request = (f"GET /?t={token} HTTP/1.1\r\n"
                   f"Host: 127.0.0.1:{self.port}\r\n"
                   "Upgrade: websocket\r\n"
                   "Connection: Upgrade\r\n"
                   f"Sec-WebSocket-Key: {key}\r\n"
                   "Sec-WebSocket-Version: 13\r\n"
                   f"Origin: {ORIGIN}\r\n\r\n")
        self.sock.sendall(request.encode())
        deadline = time.monotonic() + timeout
        while b"\r\n\r\n" not in self.buf:
            if time.monotonic() > deadline or len(self.buf) > 16384:
                raise BenchError("no handshake response")
            data, _ = self._recv(4096)
            if not data:
                raise BenchError(f"connection closed during the handshake: {bytes(self.buf)!r}")
            self.buf += data
        head, _, rest = bytes(self.buf).partition(b"\r\n\r\n")
        self.buf = bytearray(rest)
        lines = head.decode("latin-1").split("\r\n")
        if not lines[0].startswith("HTTP/1.1 101"):
            raise BenchError(f"handshake refused: {lines[0]!r}")
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        expected = base64.b64encode(hashlib.sha1(key.encode() + WS_GUID).digest()).decode()
        if headers.get("sec-websocket-accept") != expected:
            raise BenchError("bad Sec-WebSocket-Accept")

    def send(self, opcode, payload=b""):
        """One final, masked client frame."""
        header = bytearray([0x80 | opcode])
        size = len(payload)
        if size < 126:
            header.append(0x80 | size)
        elif size < 65536:
            header += bytes([0x80 | 126]) + struct.pack(">H", size)
        else:
            header += bytes([0x80 | 127]) + struct.pack(">Q", size)
        mask = secrets.token_bytes(4)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        self.sock.sendall(bytes(header) + mask + masked)

    def _bytes_wanted(self):
        """(bytes still missing for the next frame, whether it is complete).
        While the header is incomplete, only the header bytes are asked for."""
        buf = self.buf
        if len(buf) < 2:
            return 2 - len(buf), False
        size7 = buf[1] & 0x7F
        extended = {126: 2, 127: 8}.get(size7, 0)
        if len(buf) < 2 + extended:
            return 2 + extended - len(buf), False
        if size7 == 126:
            size = struct.unpack_from(">H", buf, 2)[0]
        elif size7 == 127:
            size = struct.unpack_from(">Q", buf, 2)[0]
        else:
            size = size7
        total = 2 + extended + (4 if buf[1] & 0x80 else 0) + size
        return total - len(buf), len(buf) >= total

    def next_frame(self, timeout):
        """(fin, opcode, payload, arrival ns) of the next server frame, or None
        on time-out. Receives never go past the frame's end, so the frame's
        arrival is the stamp of the receive that brought its last byte."""
        deadline = time.monotonic() + max(timeout, 0.0)
        while True:
            wanted, complete = self._bytes_wanted()
            if complete:
                break
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            ready, _, _ = select.select([self.sock], [], [], left)
            if not ready:
                return None
            data, self.last_stamp = self._recv(wanted)
            if not data:
                raise ConnectionError("the server closed the connection")
            self.buf += data
        first, second = self.buf[0], self.buf[1]
        if second & 0x80:
            raise BenchError("the server sent a masked frame")
        size7 = second & 0x7F
        header = 2 + {126: 2, 127: 8}.get(size7, 0)
        # Only bytes left over from the handshake's read can follow the frame.
        total = len(self.buf) + wanted
        payload = bytes(self.buf[header:total])
        del self.buf[:total]
        return bool(first & 0x80), first & 0x0F, payload, self.last_stamp

    def close(self, timeout=2.0):
        """Client Close, then wait for the server's Close. True if it came."""
        try:
            self.send(OP_CLOSE, struct.pack(">H", 1000))
            deadline = time.monotonic() + timeout
            while time.monotonic() < deadline:
                frame = self.next_frame(deadline - time.monotonic())
                if frame and frame[1] == OP_CLOSE:
                    return True
        except (OSError, ConnectionError):
            pass
        finally:
            self.sock.close()
        return False


def keep_receive_stamping_on():
    """A socket to hold open for the whole run, then close. The kernel turns
    receive stamping on lazily, and off again when the last socket that asked
    for it closes: this one keeps it on throughout, so that a new
    connection's first segments are stamped."""
    keeper = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    keeper.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    return keeper
