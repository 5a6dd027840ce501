#!/usr/bin/env bash
# Builds the `fuzz` preset and runs each libFuzzer target for a while,
# starting from its seed corpus (fuzz/corpus/<target>/, never modified).
# Fails when any target crashes, hangs, leaks or trips a sanitizer.
#
# Usage: fuzz/run-fuzzers.sh [seconds-per-target]   (default 30)
# BRQ_FUZZ_BUILD_DIR overrides the build directory (default build/fuzz).
set -euo pipefail

seconds="${1:-30}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BRQ_FUZZ_BUILD_DIR:-$root/build/fuzz}"
targets=(fuzz_handshake fuzz_frame_reader fuzz_client_poll)

cd "$root"
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target "${targets[@]}" -j2 >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"

failed=()
for target in "${targets[@]}"; do
    echo "== $target: ${seconds}s"
    mkdir -p "$work/$target"
    # libFuzzer's progress goes to a log; its final figures, or on failure
    # the tail with the report, are shown.
    log="$artifacts/$target.log"
    if "$build/fuzz/$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
            "$work/$target" "$root/fuzz/corpus/$target" >"$log" 2>&1; then
        grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
    else
        tail -n 60 "$log"
        failed+=("$target")
    fi
done

if ((${#failed[@]} > 0)); then
    echo "FAILED: ${failed[*]} (inputs in $artifacts)" >&2
    exit 1
fi
echo "all fuzz targets ran clean"
