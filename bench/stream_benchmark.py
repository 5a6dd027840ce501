#!/usr/bin/python3
"""Streaming benchmark for Brenquosta-audio: jitter, losses, CPU and memory.

Runs the program in --fake-source mode, connects to it with a small WebSocket
client of its own (raw socket, RFC 6455 client side) and measures what a real
client would see. Python 3 standard library only; Linux only (it reads
/proc and kernel receive timestamps).

Usage
-----
    # native build (Linux release preset)
    bench/stream_benchmark.py build/bench-release/audio-capture/Brenquosta-audio

    # Windows build under Wine (needs the brq-watched test helper beside the
    # exe, or --watched-exe PATH; build both targets of the windows preset)
    bench/stream_benchmark.py --wine build/bench-win/audio-capture/Brenquosta-audio.exe

Options: --seconds N (main pass, default 30), --quiet-seconds N (second pass,
default 10, 0 skips it), --idle-seconds N (idle pass, default 10, 0 skips it),
--ping-every S (pings in the main pass, default 1.0, 0 disables them),
--keep (keep the temporary folder), --dump FILE (main pass arrivals as CSV:
k, arrival ns, deviation us), --watched-exe PATH (Wine only).
Under Wine the prefix is $WINEPREFIX, or /tmp/wine-stream-bench when unset;
WINEDEBUG=-all, LANG=C.UTF-8 and WINEDLLOVERRIDES (ALSA/Pulse/OSS drivers off)
are set for every wine process.

What it does
------------
1. Starts a process to watch: native `sleep 3600`; under Wine the test helper
   brq-watched.exe with --pid-file, which writes its own Windows pid (the
   program only knows Windows pids there; its Linux pid is killed at the end).
2. Starts the program with --fake-source --include-pid <watched> --token
   <random> --info-file <tmp>/audio.json --idle-secs 3600, with
   QUORVEL_AUDIO_LOG=<tmp>/audio.log, and reads the port from the info file.
   The program's Linux pid is the child's pid when its comm names the exe
   (so it is under Wine too: `wine` execs in place), else the one process
   whose comm names the exe and whose command line or environment holds our
   token (the `pgrep -f Brenquosta-audio.exe` idea, made unambiguous).
3. Idle pass (no client): CPU per second of the program as it waits.
4. Main pass (--seconds): handshake (Origin "https://discord.com", Host
   "127.0.0.1:{port}", target "/?t={token}"), checks the 97-byte format
   message, then receives one binary message per 10 ms frame. The client
   pings every --ping-every seconds (masked frames), so the main pass also
   exercises the pong path; it reports the pong round trip.
5. Quiet pass (--quiet-seconds): a new connection that sends nothing at all.
   Its CPU per second against the idle figure gives the cost of streaming
   plus the session's client poll (every 100 ms, for messages that never
   come); the per-thread figures separate the session thread ("cliente")
   from the capture thread ("captura"). Run-to-run noise on a shared machine
   (about +-1 ms/s) is larger than the poll itself; count its system calls
   with `strace -f -c -p PID` when that figure matters.
6. Kills the watched process; the program should then end by itself within
   about 0.5 s (watchdog tick 250 ms). Prints the program's log.

Definitions
-----------
- Arrival time of a frame: the kernel receive timestamp (SO_TIMESTAMPNS,
  CLOCK_REALTIME, read from recvmsg ancillary data) of the receive that
  completed the frame. The client reads exactly up to the end of the current
  frame, so the timestamp is that of the segment holding the frame's last byte.
- Frame index k: frames are numbered along the sawtooth (100*(n mod 100) -
  5000, n running across frames; a frame advances n by 480, i.e. the phase by
  80 mod 100). A frame whose start phase is not the previous one + 80 is a
  continuity break; the smallest frame count j (1..5) matching the phase jump
  is taken as the step, so the sawtooth reveals losses only modulo 5.
- Frames lost (grid): round((t_last - t_first) / 10 ms) + 1 - received.
- Jitter: d_k = t_k - (t_first + k * 10 ms); after removing the median of d,
  jitter_k = |d_k - median(d)|; p50/p99/max are nearest-rank percentiles.
  "late max" / "early max" are the signed extremes of d_k - median(d).
- CPU: utime+stime from /proc/<pid>/stat (whole process, clock ticks), as a
  difference over each pass, divided by the pass's wall time = share of one
  core. Per-thread figures come from /proc/<pid>/task/*/schedstat (ns).
  Under Wine the wineserver's CPU (shared by the prefix) is shown separately.
- Peak RSS: VmHWM from /proc/<pid>/status, read just before the end.

Targets (Linux release build): no frame lost, p99 jitter < 1 ms, CPU < 1 % of
one core, peak RSS < 8 MiB. They are reported, not asserted: the exit status
is non-zero only when the benchmark itself could not run.
"""

import argparse
import base64
import hashlib
import json
import os
import secrets
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

# asm-generic value (x86, arm): SO_TIMESTAMPNS_OLD, a 64-bit timespec here.
SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)
SCM_TIMESTAMPNS = SO_TIMESTAMPNS
TIMESPEC = struct.Struct("@qq")

ORIGIN = "https://discord.com"
WS_GUID = b"258EAFA5-E914-47DA-95CA-C5AB0DC85B11"
FORMAT_MESSAGE = (b'{"type":"format","sampleRate":48000,"channels":2,'
                  b'"format":"s16le","frameMs":10,"frameBytes":1920}')
FRAME_BYTES = 1920
FRAME_NS = 10_000_000
SAMPLES_PER_FRAME = 480
SAW_PERIOD = 100
SAW_STEP = 100
SAW_LOW = -5000

OP_TEXT, OP_BINARY, OP_CLOSE, OP_PING, OP_PONG = 0x1, 0x2, 0x8, 0x9, 0xA

CLK_TCK = os.sysconf("SC_CLK_TCK")
WINE_PREFIX_DEFAULT = "/tmp/wine-stream-bench"
WINE_ENV = {
    "WINEDEBUG": "-all",
    "LANG": "C.UTF-8",
    "WINEDLLOVERRIDES": "winealsa.drv=d;winepulse.drv=d;wineoss.drv=d",
}


class BenchError(Exception):
    """The benchmark itself could not run."""


def log(text=""):
    print(text, flush=True)


# --------------------------------------------------------------------------
# The expected signal

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


# --------------------------------------------------------------------------
# A minimal WebSocket client (RFC 6455) with kernel receive timestamps

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


# --------------------------------------------------------------------------
# What arrived

def percentile(sorted_values, pct):
    """Nearest-rank percentile of an ascending list."""
    if not sorted_values:
        return float("nan")
    rank = max(1, -(-len(sorted_values) * pct // 100))
    return sorted_values[min(rank, len(sorted_values)) - 1]


def median(values):
    ordered = sorted(values)
    middle = len(ordered) // 2
    if len(ordered) % 2:
        return ordered[middle]
    return (ordered[middle - 1] + ordered[middle]) / 2


class StreamStats:
    def __init__(self):
        self.arrivals = []      # ns, kernel stamp
        self.indexes = []       # frame index k along the sawtooth
        self.breaks = 0         # sawtooth continuity breaks
        self.bad_frames = 0     # wrong length or not a clean sawtooth
        self.other_messages = 0
        self.pong_rtts_ns = []
        self._phase = None

    def add_frame(self, payload, stamp):
        phase = frame_phase(payload)
        if phase is None:
            self.bad_frames += 1
        step = 1
        if self.indexes:
            if phase is None or self._phase is None:
                step = 1
            else:
                # Each frame advances the phase by 80 (mod 100): find the
                # smallest frame count that explains the jump.
                for step in range(1, 6):
                    if (self._phase + step * SAMPLES_PER_FRAME) % SAW_PERIOD == phase:
                        break
                if step != 1:
                    self.breaks += 1
        self.indexes.append(self.indexes[-1] + step if self.indexes else 0)
        self.arrivals.append(stamp)
        self._phase = phase

    def summary(self):
        received = len(self.arrivals)
        if received < 2:
            return {"received": received}
        t0 = self.arrivals[0]
        elapsed = self.arrivals[-1] - t0
        grid_expected = round(elapsed / FRAME_NS) + 1
        deviations = [t - t0 - k * FRAME_NS for t, k in zip(self.arrivals, self.indexes)]
        offset = median(deviations)
        centred = [d - offset for d in deviations]
        jitter = sorted(abs(d) for d in centred)
        gaps = [b - a for a, b in zip(self.arrivals, self.arrivals[1:])]
        # Least-squares frame period: the source's pace as seen by the client.
        mean_k = sum(self.indexes) / received
        mean_t = sum(self.arrivals) / received
        var_k = sum((k - mean_k) ** 2 for k in self.indexes)
        cov = sum((k - mean_k) * (t - mean_t) for k, t in zip(self.indexes, self.arrivals))
        return {
            "received": received,
            "elapsed_s": elapsed / 1e9,
            "lost_grid": grid_expected - received,
            "lost_sawtooth": self.indexes[-1] + 1 - received,
            "breaks": self.breaks,
            "bad_frames": self.bad_frames,
            "other_messages": self.other_messages,
            "p50_ms": percentile(jitter, 50) / 1e6,
            "p99_ms": percentile(jitter, 99) / 1e6,
            "max_ms": jitter[-1] / 1e6,
            "late_max_ms": max(centred) / 1e6,
            "early_max_ms": -min(centred) / 1e6,
            "over_1ms": sum(1 for j in jitter if j > 1_000_000),
            "over_5ms": sum(1 for j in jitter if j > 5_000_000),
            "period_us": cov / var_k / 1e3 if var_k else float("nan"),
            "max_gap_ms": max(gaps) / 1e6,
            "pongs": len(self.pong_rtts_ns),
            "pong_p50_ms": median(self.pong_rtts_ns) / 1e6 if self.pong_rtts_ns else float("nan"),
            "pong_max_ms": max(self.pong_rtts_ns) / 1e6 if self.pong_rtts_ns else float("nan"),
        }


# --------------------------------------------------------------------------
# /proc

def read_text(path):
    with open(path, encoding="utf-8", errors="replace") as handle:
        return handle.read()


def process_cpu_s(pid):
    """utime + stime of the whole process, in seconds."""
    stat = read_text(f"/proc/{pid}/stat")
    fields = stat[stat.rindex(")") + 2:].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def thread_times_ns(pid):
    """{tid: (comm, ns on CPU)} from schedstat; vanished threads are skipped."""
    threads = {}
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return threads
    for tid in tids:
        try:
            comm = read_text(f"/proc/{pid}/task/{tid}/comm").strip()
            ns = int(read_text(f"/proc/{pid}/task/{tid}/schedstat").split()[0])
        except (OSError, ValueError, IndexError):
            continue
        threads[tid] = (comm, ns)
    return threads


def status_kib(pid, key):
    for line in read_text(f"/proc/{pid}/status").splitlines():
        if line.startswith(key + ":"):
            return int(line.split()[1])
    return None


class Sample:
    def __init__(self, pid, wineserver_pid=None):
        self.wall = time.monotonic()
        self.cpu = process_cpu_s(pid)
        self.threads = thread_times_ns(pid)
        self.wineserver = None
        if wineserver_pid:
            try:
                self.wineserver = process_cpu_s(wineserver_pid)
            except OSError:
                pass


def cpu_between(before, after):
    """(cpu seconds, wall seconds, per-thread-name ms per second, wineserver cpu s)."""
    wall = after.wall - before.wall
    per_name = {}
    for tid, (comm, ns) in after.threads.items():
        start = before.threads.get(tid, (comm, 0))[1] if tid in before.threads else 0
        per_name.setdefault(comm, [0, 0])
        per_name[comm][0] += ns - start
        per_name[comm][1] += 1
    per_second = {name: (ns / 1e6 / wall, count) for name, (ns, count) in per_name.items()}
    wineserver = None
    if before.wineserver is not None and after.wineserver is not None:
        wineserver = after.wineserver - before.wineserver
    return after.cpu - before.cpu, wall, per_second, wineserver


def find_processes(comm_prefix, must_contain=None):
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            comm = read_text(f"/proc/{entry}/comm").strip()
            if not comm.startswith(comm_prefix):
                continue
            if must_contain is not None:
                with open(f"/proc/{entry}/cmdline", "rb") as handle:
                    cmdline = handle.read()
                with open(f"/proc/{entry}/environ", "rb") as handle:
                    environ = handle.read()
                if must_contain.encode() not in cmdline + environ:
                    continue
        except OSError:
            continue
        found.append(int(entry))
    return found


# --------------------------------------------------------------------------
# Processes

def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wait_for_file(path, deadline, process=None, what="file"):
    while time.monotonic() < deadline:
        if process is not None and process.poll() is not None:
            raise BenchError(f"{what}: the process ended with status {process.returncode}")
        try:
            text = read_text(path)
            if text.strip():
                return text
        except OSError:
            pass
        time.sleep(0.02)
    raise BenchError(f"{what}: {path} did not appear in time")


class Bench:
    def __init__(self, args):
        self.args = args
        self.folder = tempfile.mkdtemp(prefix="brq-stream-bench-")
        self.env = os.environ.copy()
        self.watched = None
        self.program = None
        self.program_pid = None
        self.wineserver_pid = None
        self.token = secrets.token_urlsafe(24)  # 32 characters of [A-Za-z0-9_-]
        self.pid_source = None
        # The kernel turns receive stamping on lazily, and off again when the
        # last socket that asked for it closes: this one keeps it on
        # throughout, so that a new connection's first segments are stamped.
        self.stamp_keeper = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.stamp_keeper.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
        self.log_path = os.path.join(self.folder, "audio.log")
        self.info_path = os.path.join(self.folder, "audio.json")
        if args.wine:
            prefix = os.environ.get("WINEPREFIX") or WINE_PREFIX_DEFAULT
            self.env.update(WINE_ENV)
            self.env["WINEPREFIX"] = prefix

    def path_arg(self, path):
        return windows_path(path) if self.args.wine else path

    def warm_wine(self):
        log(f"wine prefix: {self.env['WINEPREFIX']} (first use creates it, ~10 s)")
        # Services started here get no pipes of ours (they would outlive us).
        subprocess.run(["wine", "cmd", "/c", "exit"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=180, check=False)

    def start_watched(self):
        if not self.args.wine:
            self.watched = subprocess.Popen(["sleep", "3600"], stdin=subprocess.DEVNULL)
            return self.watched.pid
        exe = self.args.watched_exe or os.path.join(os.path.dirname(os.path.abspath(self.args.program)),
                                                    "brq-watched.exe")
        if not os.path.exists(exe):
            raise BenchError(f"{exe} not found: build the brq-watched target or pass --watched-exe")
        pid_file = os.path.join(self.folder, "watched.pid")
        self.watched = subprocess.Popen(["wine", exe, "--pid-file", windows_path(pid_file)], env=self.env,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        text = wait_for_file(pid_file, time.monotonic() + 60, self.watched, "watched process")
        return int(text.strip())

    def start_program(self, watched_pid):
        command = [os.path.abspath(self.args.program), "--token", self.token,
                   "--info-file", self.path_arg(self.info_path), "--idle-secs", "3600",
                   "--include-pid", str(watched_pid), "--fake-source"]
        if self.args.wine:
            command.insert(0, "wine")
        env = dict(self.env, QUORVEL_AUDIO_LOG=self.path_arg(self.log_path))
        self.stderr = open(os.path.join(self.folder, "program.stderr"), "wb")
        started = time.monotonic()
        self.program = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                                        stdout=self.stderr, stderr=self.stderr)
        info = json.loads(wait_for_file(self.info_path, started + 60, self.program, "program"))
        log(f"program up in {time.monotonic() - started:.2f} s: port {info['port']}, pid {info['pid']}")
        if info.get("token") != self.token:
            raise BenchError(f"info file holds another token: {info}")
        self.program_pid = self.linux_pid(info)
        if self.args.wine:
            servers = find_processes("wineserver", f"WINEPREFIX={self.env['WINEPREFIX']}")
            self.wineserver_pid = servers[0] if len(servers) == 1 else None
        return info["port"]

    def linux_pid(self, info):
        name = os.path.basename(self.args.program)[:15]
        try:
            if read_text(f"/proc/{self.program.pid}/comm").strip() == name:
                self.pid_source = "the child itself"
                return self.program.pid
        except OSError:
            pass
        # Under Wine the exe may not be the child itself: find it by name and token.
        candidates = find_processes(name, self.token)
        if len(candidates) != 1:
            raise BenchError(f"cannot tell the program's Linux pid ({name}: {candidates})")
        self.pid_source = "found by comm and token"
        return candidates[0]

    def sample(self):
        return Sample(self.program_pid, self.wineserver_pid)

    def finish(self):
        """Ends the watched process and times the program's own exit."""
        if self.program is None or self.program.poll() is not None:
            return None
        killed = time.monotonic()
        self.watched.send_signal(signal.SIGTERM)
        self.watched.wait(timeout=10)
        try:
            status = self.program.wait(timeout=5)
            return status, time.monotonic() - killed
        except subprocess.TimeoutExpired:
            return None

    def cleanup(self):
        self.stamp_keeper.close()
        for process in (self.program, self.watched):
            if process is not None and process.poll() is None:
                process.kill()
                try:
                    process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    pass
        if not self.args.keep:
            shutil.rmtree(self.folder, ignore_errors=True)
        else:
            log(f"kept {self.folder}")


# --------------------------------------------------------------------------
# Passes

def dump_arrivals(path, stats):
    """k, arrival ns, deviation from the grid in us (before the median)."""
    t0 = stats.arrivals[0]
    with open(path, "w", encoding="ascii") as out:
        out.write("k,arrival_ns,deviation_us\n")
        for k, t in zip(stats.indexes, stats.arrivals):
            out.write(f"{k},{t},{(t - t0 - k * FRAME_NS) / 1e3:.1f}\n")


def load_average():
    return " ".join(read_text("/proc/loadavg").split()[:3])


def stream_pass(bench, port, seconds, ping_every):
    """Connects, streams for `seconds`, closes. Returns (stats, cpu samples, client)."""
    client = WsClient(port, bench.token)
    stats = StreamStats()
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
    before = bench.sample()
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
    after = bench.sample()  # just before the end
    closed = client.close()
    return stats, before, after, client, closed


def idle_pass(bench, seconds):
    before = bench.sample()
    time.sleep(seconds)
    return before, bench.sample()


# --------------------------------------------------------------------------
# Report

def mark(ok):
    return "met" if ok else "MISSED"


def print_cpu(label, before, after):
    cpu, wall, per_thread, wineserver = cpu_between(before, after)
    threads_ms = sum(ms for ms, _count in per_thread.values())
    log(f"  {label}: {cpu:.2f} s CPU (utime+stime) in {wall:.2f} s = {100 * cpu / wall:.3f} % of one core; "
        f"threads' schedstat sum {threads_ms:.2f} ms/s = {threads_ms / 10:.3f} %")
    busiest = sorted(per_thread.items(), key=lambda item: -item[1][0])
    parts = [f"{name}{f' x{count}' if count > 1 else ''} {ms:.3f}" for name, (ms, count) in busiest if ms >= 0.0005]
    log(f"    per thread, ms/s (schedstat): {', '.join(parts) if parts else 'none'}")
    if wineserver is not None:
        log(f"    wineserver (whole prefix): {wineserver:.2f} s = {100 * wineserver / wall:.3f} % of one core")
    return cpu / wall, threads_ms


def print_stream(label, stats, client):
    s = stats.summary()
    if s["received"] < 2:
        log(f"  {label}: only {s['received']} frames")
        return s
    log(f"  {label}: {s['received']} frames in {s['elapsed_s']:.3f} s, "
        f"mean period {s['period_us']:.3f} us")
    log(f"    lost: {s['lost_grid']} (grid), {s['lost_sawtooth']} (sawtooth), "
        f"{s['breaks']} continuity breaks, {s['bad_frames']} malformed frames, "
        f"{s['other_messages']} other messages")
    log(f"    jitter vs 10 ms grid: p50 {s['p50_ms']:.3f} ms, p99 {s['p99_ms']:.3f} ms, "
        f"max {s['max_ms']:.3f} ms (late max {s['late_max_ms']:.3f}, early max {s['early_max_ms']:.3f}); "
        f"{s['over_1ms']} frames > 1 ms, {s['over_5ms']} > 5 ms; largest gap {s['max_gap_ms']:.3f} ms")
    if s["pongs"]:
        log(f"    pongs: {s['pongs']}, round trip p50 {s['pong_p50_ms']:.1f} ms, max {s['pong_max_ms']:.1f} ms")
    lag = sorted(client.stamp_lag_ns)
    log(f"    receive stamps: {client.kernel_stamps} kernel, {client.user_stamps} without "
        f"(user-space lag after kernel stamp p50 {percentile(lag, 50) / 1e3:.0f} us)")
    return s


def run(args):
    bench = Bench(args)
    try:
        if args.wine:
            bench.warm_wine()
        watched_pid = bench.start_watched()
        log(f"watched process: pid {watched_pid}" + (" (Windows)" if args.wine else ""))
        port = bench.start_program(watched_pid)
        log(f"program Linux pid {bench.program_pid} ({bench.pid_source})"
            + (f", wineserver pid {bench.wineserver_pid}" if bench.wineserver_pid else ""))
        time.sleep(1.0)  # let start-up settle
        log(f"load average at start: {load_average()} ({os.cpu_count()} CPUs)")

        log("")
        idle_ms = None
        if args.idle_seconds > 0:
            log(f"idle pass ({args.idle_seconds:g} s, no client):")
            _idle_share, idle_ms = print_cpu("program", *idle_pass(bench, args.idle_seconds))

        log(f"main pass ({args.seconds:g} s, ping every {args.ping_every:g} s):")
        stats, before, after, client, closed = stream_pass(bench, port, args.seconds, args.ping_every)
        main = print_stream("stream", stats, client)
        if args.dump:
            dump_arrivals(args.dump, stats)
        main_share, main_ms = print_cpu("program", before, after)
        log(f"    client close answered: {closed}")

        if args.quiet_seconds > 0:
            log(f"quiet pass ({args.quiet_seconds:g} s, client sends nothing):")
            q_stats, q_before, q_after, q_client, q_closed = stream_pass(bench, port, args.quiet_seconds, 0)
            print_stream("stream", q_stats, q_client)
            _quiet_share, quiet_ms = print_cpu("program", q_before, q_after)
            if idle_ms is not None:
                log(f"    streaming + client poll over idle (schedstat): {quiet_ms - idle_ms:.2f} ms/s; "
                    f"main pass with pings over quiet pass: {main_ms - quiet_ms:+.2f} ms/s")

        total_cpu = process_cpu_s(bench.program_pid)
        hwm = status_kib(bench.program_pid, "VmHWM")
        rss = status_kib(bench.program_pid, "VmRSS")
        log(f"program totals: {total_cpu:.2f} s CPU since start, peak RSS (VmHWM) {hwm} KiB "
            f"= {hwm / 1024:.2f} MiB, RSS now {rss} KiB")
        if args.wine:
            try:
                floor = status_kib(bench.watched.pid, "VmHWM")
                log(f"  for scale: the watched helper (a minimal Wine process) peaks at {floor} KiB "
                    f"= {floor / 1024:.2f} MiB")
            except (OSError, TypeError):
                pass

        log(f"load average at end: {load_average()}")
        ended = bench.finish()
        if ended is None:
            log("end: the program did NOT end within 5 s of the watched process's end")
        else:
            log(f"end: program exited with status {ended[0]} {ended[1]:.3f} s after the watched process was killed")

        log("")
        log("targets (Linux release build)" + (", shown for reference only:" if args.wine else ":"))
        lost = max(main.get("lost_grid", 0), main.get("lost_sawtooth", 0), main.get("breaks", 0))
        log(f"  no frame lost: {lost} lost -> {mark(lost == 0 and main.get('bad_frames', 0) == 0)}")
        p99 = main.get("p99_ms", float("nan"))
        log(f"  p99 jitter < 1 ms: {p99:.3f} ms -> {mark(p99 < 1.0)}")
        log(f"  CPU < 1 % of one core: {100 * main_share:.3f} % -> {mark(main_share < 0.01)}")
        log(f"  peak RSS < 8 MiB: {hwm / 1024:.2f} MiB -> {mark(hwm < 8 * 1024)}")

        log("")
        print_program_log(bench)
        return 0
    except BenchError:
        print_program_log(bench)
        raise
    finally:
        bench.cleanup()


def print_program_log(bench):
    log("program log:")
    try:
        for line in read_text(bench.log_path).splitlines():
            log(f"  {line}")
    except OSError as error:
        log(f"  (unreadable: {error})")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("program", help="path of Brenquosta-audio (or Brenquosta-audio.exe with --wine)")
    parser.add_argument("--wine", action="store_true", help="run a Windows exe through wine")
    parser.add_argument("--watched-exe", help="Wine: brq-watched.exe (default: beside the program)")
    parser.add_argument("--seconds", type=float, default=30.0, help="main pass length (default 30)")
    parser.add_argument("--quiet-seconds", type=float, default=10.0, help="silent-client pass (default 10)")
    parser.add_argument("--idle-seconds", type=float, default=10.0, help="no-client pass (default 10)")
    parser.add_argument("--ping-every", type=float, default=1.0, help="main pass ping interval (default 1 s)")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    parser.add_argument("--dump", help="write the main pass's arrivals to this CSV file")
    args = parser.parse_args()
    if not os.path.isfile(args.program):
        print(f"stream_benchmark: {args.program}: no such file", file=sys.stderr)
        return 2
    try:
        return run(args)
    except (BenchError, OSError, ConnectionError, subprocess.SubprocessError, ValueError, KeyError) as error:
        print(f"stream_benchmark: could not run: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
