"""Prints the figures of a pass, the targets and the program's log."""

from . import log
from .proc_figures import cpu_between, read_text
from .stream_stats import percentile


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
    log(f"    lost: {s['lost_grid']} (grid), {s['lost_signal']} ({stats.source.name}), "
        f"{s['breaks']} continuity breaks, {s['bad_frames']} malformed frames, "
        f"{s['other_messages']} other messages, {s['silent_frames']} frames of silence")
    log(f"    jitter vs 10 ms grid: p50 {s['p50_ms']:.3f} ms, p99 {s['p99_ms']:.3f} ms, "
        f"max {s['max_ms']:.3f} ms (late max {s['late_max_ms']:.3f}, early max {s['early_max_ms']:.3f}); "
        f"{s['over_1ms']} frames > 1 ms, {s['over_5ms']} > 5 ms; largest gap {s['max_gap_ms']:.3f} ms")
    if s["pongs"]:
        log(f"    pongs: {s['pongs']}, round trip p50 {s['pong_p50_ms']:.1f} ms, max {s['pong_max_ms']:.1f} ms")
    lag = sorted(client.stamp_lag_ns)
    log(f"    receive stamps: {client.kernel_stamps} kernel, {client.user_stamps} without "
        f"(user-space lag after kernel stamp p50 {percentile(lag, 50) / 1e3:.0f} us)")
    return s


def print_targets(main, main_share, hwm_kib, reference_only):
    """The Linux release build's targets against the main pass's figures."""
    log("targets (Linux release build)" + (", shown for reference only:" if reference_only else ":"))
    lost = max(main.get("lost_grid", 0), main.get("lost_signal", 0), main.get("breaks", 0))
    log(f"  no frame lost: {lost} lost -> {mark(lost == 0 and main.get('bad_frames', 0) == 0)}")
    p99 = main.get("p99_ms", float("nan"))
    log(f"  p99 jitter < 1 ms: {p99:.3f} ms -> {mark(p99 < 1.0)}")
    log(f"  CPU < 1 % of one core: {100 * main_share:.3f} % -> {mark(main_share < 0.01)}")
    log(f"  peak RSS < 8 MiB: {hwm_kib / 1024:.2f} MiB -> {mark(hwm_kib < 8 * 1024)}")


def print_program_log(runner):
    log("program log:")
    try:
        for line in read_text(runner.log_path).splitlines():
            log(f"  {line}")
    except OSError as error:
        log(f"  (unreadable: {error})")
