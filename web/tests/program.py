"""The program under test, natively or as the Windows exe under Wine, watching
a process of the tests' own; its info file and log in a private folder."""
import json
import os
import subprocess
import time

TOKEN = "browser-tests-token-0123456789"


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


class Program:
    def __init__(self, folder, exe, watched_exe=None, extra_args=("--fake-source",), env=None):
        """watched_exe set means exe is the Windows build and both run under Wine."""
        self.folder, self.wine = folder, watched_exe is not None
        self.info, self.log = os.path.join(folder, "audio.json"), os.path.join(folder, "audio.log")
        self.watched = self._start_watched(watched_exe)
        env = dict(env if env is not None else os.environ)
        env["QUORVEL_AUDIO_LOG"] = self._path(self.log)
        command = [exe, "--include-pid", str(self.watched_pid), "--token", TOKEN,
                   "--info-file", self._path(self.info), "--idle-secs", "120", *extra_args]
        self.process = subprocess.Popen((["wine"] if self.wine else []) + command, env=env,
                                        stdin=subprocess.DEVNULL)

    def _path(self, path):
        return windows_path(path) if self.wine else path

    def _start_watched(self, watched_exe):
        if not self.wine:
            watched = subprocess.Popen(["sleep", "600"])
            self.watched_pid = watched.pid
            return watched
        pid_file = os.path.join(self.folder, "watched.pid")
        watched = subprocess.Popen(["wine", watched_exe, "--sleep-ms", "600000", "--pid-file",
                                    windows_path(pid_file)], stdin=subprocess.DEVNULL)
        try:
            self.watched_pid = int(_wait_for_text(pid_file, 60, "the watched process's pid file", watched))
        except AssertionError:
            watched.kill()
            watched.wait(30)
            raise
        return watched

    def wait_for_port(self, timeout=60):
        return json.loads(_wait_for_text(self.info, timeout, "the program's info file", self.process))["port"]

    def log_records(self):
        """The log's messages, without their time and pid prefix."""
        try:
            with open(self.log, encoding="utf-8") as f:
                return [line.rstrip("\n").split("] ", 1)[-1] for line in f]
        except FileNotFoundError:
            return []

    def wait_for_record(self, predicate, timeout, what, count=1):
        """The matching records, once there are at least count of them."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = [r for r in self.log_records() if predicate(r)]
            if len(found) >= count:
                return found
            time.sleep(0.05)
        raise AssertionError(f"waited {timeout} s for {count} log record(s) {what}; log: {self.log_records()}")

    def stop(self):
        """Ending the watched process ends the program; both are waited for."""
        self.watched.kill()
        self.watched.wait(30)
        try:
            self.process.wait(60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(30)
            raise AssertionError("the program did not end within 60 s of its watched process") from None


def _wait_for_text(path, timeout, what, process):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and process.poll() is None:
        try:
            with open(path, encoding="utf-8") as f:
                text = f.read().strip()
            if text:
                return text
        except OSError:
            pass
        time.sleep(0.05)
    raise AssertionError(f"waited {timeout} s for {what} ({path}); exit status {process.poll()}")
