"""Parts of bench/stream_benchmark.py, one job per module.

This module holds the two names every part shares: the benchmark's own error
and its line printer.
"""


class BenchError(Exception):
    """The benchmark itself could not run."""


def log(text=""):
    print(text, flush=True)
