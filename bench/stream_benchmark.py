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

    # Windows build under Wine (needs the brq-watched test helper of the same
    # build tree, or --watched-exe PATH; build both targets of the windows preset)
    bench/stream_benchmark.py --wine build/bench-win/audio-capture/Brenquosta-audio.exe

    # the same, capturing in include mode from the stand-in process-loopback
    # engine (target brq_loopback_standin) instead of --fake-source
    bench/stream_benchmark.py --wine --standin \
        build/bench-win/audio-capture/tests/loopback_standin/dll/mmdevapi.dll \
        build/bench-win/audio-capture/Brenquosta-audio.exe

    # real capture through a private PipeWire server (Linux build)
    bench/stream_benchmark.py --pipewire build/bench-release/audio-capture/Brenquosta-audio

Options: --seconds N (main pass, default 30), --quiet-seconds N (second pass,
default 10, 0 skips it), --idle-seconds N (idle pass, default 10, 0 skips it),
--ping-every S (pings in the main pass, default 1.0, 0 disables them),
--load N (N busy processes at normal priority spin from start-up to the end,
so that the program's threads compete for the CPUs; the client then makes
itself a real-time thread where permitted, so that its own lag stays out of
the figures; default 0),
--keep (keep the temporary folder), --dump FILE (main pass arrivals as CSV:
k, arrival ns, deviation us), --watched-exe PATH (Wine only), --standin DLL
(Wine only: capture from the stand-in engine; the program and the DLL are
copied into the run's temporary folder and WINEDLLOVERRIDES gets mmdevapi=n).
With --pipewire the program captures for real instead: the benchmark starts
a private PipeWire server and WirePlumber in its temporary folder
(scripts/private-sound-server.sh), plays a 440 Hz tone with pw-cat and
watches that player in include mode. Frames then carry the tone, so losses
are counted on the grid only, and all-zero frames (10 ms in which nothing was
captured) are counted too. PipeWire hands over one graph cycle at a time
(1024 samples, 21.3 ms, on this server), so frames leave in bursts of two or
three and the jitter against the 10 ms grid reflects that cycle; the targets
below are the fake source's.
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
  is taken as the step, so the sawtooth reveals losses only modulo 5. With
  --standin, k is the frame's absolute index, read from the signal's tag and
  checked against the whole frame the engine made, so every loss counts.
- Frames lost (grid): round((t_last - t_first) / 10 ms) + 1 - received.
- Jitter: d_k = t_k - (t_first + k * 10 ms); after removing the median of d,
  jitter_k = |d_k - median(d)|; p50/p99/max are nearest-rank percentiles.
  "late max" / "early max" are the signed extremes of d_k - median(d).
- CPU: utime+stime from /proc/<pid>/stat (whole process, clock ticks), as a
  difference over each pass, divided by the pass's wall time = share of one
  core. Per-thread figures come from /proc/<pid>/task/*/schedstat (ns).
  Under Wine the wineserver's CPU (shared by the prefix) is shown separately.
- Peak RSS: VmHWM from /proc/<pid>/status, read just before the end.
- Thread scheduling: each thread's policy and real-time priority (or nice
  value) from /proc/<pid>/task/*/stat near the end of the main pass.

Targets (Linux release build): no frame lost, p99 jitter < 1 ms, CPU < 1 % of
one core, peak RSS < 8 MiB. They are reported, not asserted: the exit status
is non-zero only when the benchmark itself could not run.
"""

import argparse
import os
import subprocess
import sys
import time

# The package sits beside this script, whose folder is sys.path[0] when run.
from stream_bench import BenchError, log
from stream_bench.cpu_load import CpuLoad
from stream_bench.passes import idle_pass, stream_pass
from stream_bench.proc_figures import load_average, process_cpu_s, status_kib
from stream_bench.program_runner import ProgramRunner
from stream_bench.report import print_cpu, print_program_log, print_stream, print_targets
from stream_bench.stream_stats import dump_arrivals


# Above the program's own real-time threads (priority 10 on Linux).
CLIENT_REALTIME_PRIORITY = 20


def raise_client_priority():
    """Under load a starved client would read late, and the kernel merges the
    segments that wait for it, stamping them all with the last arrival: its
    own lag would enter the jitter figures. A real-time client keeps up.
    Processes started later do not inherit it (SCHED_RESET_ON_FORK)."""
    try:
        os.sched_setscheduler(0, os.SCHED_FIFO | os.SCHED_RESET_ON_FORK,
                              os.sched_param(CLIENT_REALTIME_PRIORITY))
        return f"FIFO {CLIENT_REALTIME_PRIORITY}"
    except OSError as error:
        return f"normal ({error.strerror}: the figures include the client's own lag)"


def run(args):
    runner = ProgramRunner(args)
    load = None
    try:
        if args.wine:
            runner.warm_wine()
        watched_pid = runner.start_watched()
        log(f"watched process: pid {watched_pid}" + (" (Windows)" if args.wine else ""))
        port = runner.start_program(watched_pid)
        log(f"program Linux pid {runner.program_pid} ({runner.pid_source})"
            + (f", wineserver pid {runner.wineserver_pid}" if runner.wineserver_pid else ""))
        if args.load > 0:
            load = CpuLoad(args.load)
            log(f"CPU load: {args.load} busy processes at normal priority, pids {load.pids()}")
            log(f"client scheduling: {raise_client_priority()}")
        time.sleep(1.0)  # let start-up settle
        log(f"load average at start: {load_average()} ({os.cpu_count()} CPUs)")

        log("")
        idle_ms = None
        if args.idle_seconds > 0:
            log(f"idle pass ({args.idle_seconds:g} s, no client):")
            _idle_share, idle_ms = print_cpu("program", *idle_pass(runner, args.idle_seconds))

        log(f"main pass ({args.seconds:g} s, ping every {args.ping_every:g} s):")
        stats, before, after, client, closed = stream_pass(runner, port, args.seconds, args.ping_every)
        main = print_stream("stream", stats, client)
        if args.dump:
            dump_arrivals(args.dump, stats)
        main_share, main_ms = print_cpu("program", before, after)
        log("    thread scheduling: " + ", ".join(f"{name} {policy}" for name, policy in sorted(after.policies.items())))
        log(f"    client close answered: {closed}")

        if args.quiet_seconds > 0:
            log(f"quiet pass ({args.quiet_seconds:g} s, client sends nothing):")
            q_stats, q_before, q_after, q_client, q_closed = stream_pass(runner, port, args.quiet_seconds, 0)
            print_stream("stream", q_stats, q_client)
            _quiet_share, quiet_ms = print_cpu("program", q_before, q_after)
            if idle_ms is not None:
                log(f"    streaming + client poll over idle (schedstat): {quiet_ms - idle_ms:.2f} ms/s; "
                    f"main pass with pings over quiet pass: {main_ms - quiet_ms:+.2f} ms/s")

        total_cpu = process_cpu_s(runner.program_pid)
        hwm = status_kib(runner.program_pid, "VmHWM")
        rss = status_kib(runner.program_pid, "VmRSS")
        log(f"program totals: {total_cpu:.2f} s CPU since start, peak RSS (VmHWM) {hwm} KiB "
            f"= {hwm / 1024:.2f} MiB, RSS now {rss} KiB")
        if args.wine:
            try:
                floor = status_kib(runner.watched.pid, "VmHWM")
                log(f"  for scale: the watched helper (a minimal Wine process) peaks at {floor} KiB "
                    f"= {floor / 1024:.2f} MiB")
            except (OSError, TypeError):
                pass

        if args.standin:
            report = runner.standin_report()
            log("stand-in engine: " + "; ".join(line for line in report
                                              if line.startswith(("delivered:", "overflow:", "violation:"))))
        log(f"load average at end: {load_average()}")
        ended = runner.finish()
        if ended is None:
            log("end: the program did NOT end within 5 s of the watched process's end")
        else:
            log(f"end: program exited with status {ended[0]} {ended[1]:.3f} s after the watched process was killed")

        log("")
        print_targets(main, main_share, hwm, args.wine or args.pipewire)

        log("")
        print_program_log(runner)
        return 0
    except BenchError:
        print_program_log(runner)
        raise
    finally:
        if load is not None:
            load.stop()
        runner.cleanup()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("program", help="path of Brenquosta-audio (or Brenquosta-audio.exe with --wine)")
    parser.add_argument("--wine", action="store_true", help="run a Windows exe through wine")
    parser.add_argument("--watched-exe", help="Wine: brq-watched.exe (default: helper-common/ of the program's build tree)")
    parser.add_argument("--seconds", type=float, default=30.0, help="main pass length (default 30)")
    parser.add_argument("--quiet-seconds", type=float, default=10.0, help="silent-client pass (default 10)")
    parser.add_argument("--idle-seconds", type=float, default=10.0, help="no-client pass (default 10)")
    parser.add_argument("--ping-every", type=float, default=1.0, help="main pass ping interval (default 1 s)")
    parser.add_argument("--pipewire", action="store_true",
                        help="capture a tone from a private PipeWire server instead of --fake-source")
    parser.add_argument("--standin", help="Wine: the stand-in engine's mmdevapi.dll; capture from it in include mode")
    parser.add_argument("--load", type=int, default=0, help="busy processes loading the CPUs (default 0)")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    parser.add_argument("--dump", help="write the main pass's arrivals to this CSV file")
    args = parser.parse_args()
    if not os.path.isfile(args.program):
        print(f"stream_benchmark: {args.program}: no such file", file=sys.stderr)
        return 2
    if args.wine and args.pipewire:
        parser.error("--pipewire is for the Linux build only")
    if args.standin and (not args.wine or not os.path.isfile(args.standin)):
        print("stream_benchmark: --standin needs --wine and the path of the stand-in's mmdevapi.dll", file=sys.stderr)
        return 2
    try:
        return run(args)
    except (BenchError, OSError, ConnectionError, subprocess.SubprocessError, ValueError, KeyError) as error:
        print(f"stream_benchmark: could not run: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
