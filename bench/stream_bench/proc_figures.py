"""Figures read from /proc: CPU of a process and of its threads, memory, the
load average, and finding processes by name."""

import os
import time

CLK_TCK = os.sysconf("SC_CLK_TCK")


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


POLICY_NAMES = {0: "OTHER", 1: "FIFO", 2: "RR", 3: "BATCH", 5: "IDLE", 6: "DEADLINE"}


def thread_policies(pid):
    """{thread name: "POLICY priority"} from each thread's stat (real-time
    priority for FIFO and RR, nice value otherwise)."""
    policies = {}
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return policies
    for tid in tids:
        try:
            stat = read_text(f"/proc/{pid}/task/{tid}/stat")
        except OSError:
            continue
        comm = stat[stat.index("(") + 1:stat.rindex(")")]
        fields = stat[stat.rindex(")") + 2:].split()
        # Fields 19 (nice), 40 (rt_priority) and 41 (policy), counted from 1.
        nice, rt_priority, policy = int(fields[16]), int(fields[37]), int(fields[38])
        name = POLICY_NAMES.get(policy, str(policy))
        policies[comm] = f"{name} {rt_priority}" if policy in (1, 2) else f"{name} nice {nice}"
    return policies


def status_kib(pid, key):
    for line in read_text(f"/proc/{pid}/status").splitlines():
        if line.startswith(key + ":"):
            return int(line.split()[1])
    return None


class Sample:
    """CPU figures of the program (and of the wineserver) at one moment."""

    def __init__(self, pid, wineserver_pid=None):
        self.wall = time.monotonic()
        self.cpu = process_cpu_s(pid)
        self.threads = thread_times_ns(pid)
        self.policies = thread_policies(pid)
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
    """Pids whose comm starts with `comm_prefix` and, when given, whose
    command line or environment holds `must_contain`."""
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


def load_average():
    return " ".join(read_text("/proc/loadavg").split()[:3])
