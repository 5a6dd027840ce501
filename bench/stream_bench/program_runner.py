"""Starts the program and the process it watches (natively or under Wine),
finds the program's Linux pid, and ends both."""

import json
import os
import secrets
import shutil
import signal
import subprocess
import tempfile
import time

from . import BenchError, log, sound_server
from .expected_stream import CapturedSource, SawtoothSource, StandinSource
from .proc_figures import Sample, find_processes, read_text
from .ws_client import keep_receive_stamping_on

WINE_PREFIX_DEFAULT = "/tmp/wine-stream-bench"
WINE_ENV = {
    "WINEDEBUG": "-all",
    "LANG": "C.UTF-8",
    "WINEDLLOVERRIDES": "winealsa.drv=d;winepulse.drv=d;wineoss.drv=d",
}


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


class ProgramRunner:
    """One run: its temporary folder, token, environment and processes."""

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
        self.source = CapturedSource() if args.pipewire else SawtoothSource()  # what the client should receive
        self.server_folder = os.path.join(self.folder, "server") if args.pipewire else None
        self.stamp_keeper = keep_receive_stamping_on()
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
        if self.args.pipewire:
            # The watched process is the player whose tone is captured.
            sound_server.start(self.server_folder, self.env)
            tone = os.path.join(self.folder, "tone.wav")
            sound_server.write_tone(tone, self.args.seconds + self.args.quiet_seconds + self.args.idle_seconds + 60)
            self.watched = subprocess.Popen(["pw-cat", "--playback", tone], env=self.env,
                                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL)
            return self.watched.pid
        if not self.args.wine:
            self.watched = subprocess.Popen(["sleep", "3600"], stdin=subprocess.DEVNULL)
            return self.watched.pid
        # The build tree keeps it in helper-common/, beside audio-capture/.
        build = os.path.dirname(os.path.dirname(os.path.abspath(self.args.program)))
        exe = self.args.watched_exe or os.path.join(build, "helper-common", "brq-watched.exe")
        if not os.path.exists(exe):
            raise BenchError(f"{exe} not found: build the brq-watched target or pass --watched-exe")
        pid_file = os.path.join(self.folder, "watched.pid")
        self.watched = subprocess.Popen(["wine", exe, "--pid-file", windows_path(pid_file)], env=self.env,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        text = wait_for_file(pid_file, time.monotonic() + 60, self.watched, "watched process")
        return int(text.strip())

    def standin_copy(self):
        """The program copied beside the stand-in engine's mmdevapi.dll, in a
        folder of this run's own (the DLL never goes beside the build's exe)."""
        folder = os.path.join(self.folder, "bin")
        os.makedirs(folder)
        shutil.copy(self.args.standin, os.path.join(folder, "mmdevapi.dll"))
        program = shutil.copy(self.args.program, folder)
        return os.path.abspath(program)

    def start_program(self, watched_pid):
        program = os.path.abspath(self.args.program)
        env = dict(self.env, QUORVEL_AUDIO_LOG=self.path_arg(self.log_path))
        source_args = ["--fake-source"]
        if self.args.standin:
            # Include mode against the stand-in engine, which Wine loads from
            # the program's folder instead of its own when told so.
            program = self.standin_copy()
            env["WINEDLLOVERRIDES"] = env.get("WINEDLLOVERRIDES", "") + ";mmdevapi=n"
            env["BRQ_STANDIN_REPORT"] = self.path_arg(os.path.join(self.folder, "standin-report.txt"))
            self.source = StandinSource(watched_pid, 0)
            source_args = []
        elif self.args.pipewire:
            source_args = []
        command = [program, "--token", self.token, "--info-file", self.path_arg(self.info_path),
                   "--idle-secs", "3600", "--include-pid", str(watched_pid)] + source_args
        if self.args.wine:
            command.insert(0, "wine")
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

    def standin_report(self):
        try:
            return read_text(os.path.join(self.folder, "standin-report.txt")).splitlines()
        except OSError:
            return []

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
        if self.server_folder is not None:
            sound_server.stop(self.server_folder)
        if not self.args.keep:
            shutil.rmtree(self.folder, ignore_errors=True)
        else:
            log(f"kept {self.folder}")
