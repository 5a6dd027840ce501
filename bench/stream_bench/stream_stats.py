"""Figures of a received stream: losses, jitter against the 10 ms grid, period,
pong round trips; and the per-frame CSV dump."""

from .expected_stream import FRAME_BYTES, FRAME_NS, SawtoothSource

SILENT_FRAME = bytes(FRAME_BYTES)


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
    """What arrived in one pass."""

    def __init__(self, source=None):
        self.source = source or SawtoothSource()  # tells a frame's place in the stream
        self.arrivals = []      # ns, kernel stamp
        self.indexes = []       # frame index k along the source's signal
        self.breaks = 0         # continuity breaks
        self.bad_frames = 0     # wrong length or not the source's signal
        self.silent_frames = 0  # all-zero frames: 10 ms in which nothing was captured
        self.other_messages = 0
        self.pong_rtts_ns = []
        self._phase = None

    def add_frame(self, payload, stamp):
        self.silent_frames += payload == SILENT_FRAME
        phase = self.source.position(payload)
        if phase is None:
            self.bad_frames += 1
        step = 1
        if self.indexes and phase is not None and self._phase is not None:
            step = self.source.step(self._phase, phase)
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
            "lost_signal": self.indexes[-1] + 1 - received,
            "breaks": self.breaks,
            "bad_frames": self.bad_frames,
            "silent_frames": self.silent_frames,
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


def dump_arrivals(path, stats):
    """k, arrival ns, deviation from the grid in us (before the median)."""
    t0 = stats.arrivals[0]
    with open(path, "w", encoding="ascii") as out:
        out.write("k,arrival_ns,deviation_us\n")
        for k, t in zip(stats.indexes, stats.arrivals):
            out.write(f"{k},{t},{(t - t0 - k * FRAME_NS) / 1e3:.1f}\n")
