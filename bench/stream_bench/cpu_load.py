"""Busy processes that keep the CPUs loaded during a run, as other work on a
shared machine does."""

import signal
import subprocess
import sys


class CpuLoad:
    """Starts `count` processes at normal priority that spin until stopped."""

    def __init__(self, count):
        self.processes = [subprocess.Popen([sys.executable, "-c", "while True: pass"],
                                           stdin=subprocess.DEVNULL)
                          for _ in range(count)]

    def pids(self):
        return [process.pid for process in self.processes]

    def stop(self):
        for process in self.processes:
            if process.poll() is None:
                process.send_signal(signal.SIGKILL)
        for process in self.processes:
            process.wait()
        self.processes = []
