#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root) and runs every test of both
# builds: the native Linux build (ASan+UBSan, then ThreadSanitizer), the
# Windows build under Wine, and the fuzzers for a bounded time.
#   scripts/test-all.sh            everything
#   FUZZ_SECONDS=0 scripts/test-all.sh   skip fuzzing
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-2}
fuzz_seconds=${FUZZ_SECONDS:-30}

scripts/install-deps.sh

section() { printf '\n=== %s ===\n' "$*"; }

# Every ctest summary line of this run, for the closing count.
summaries=$(mktemp)
trap 'rm -f "$summaries"' EXIT
run_ctest() {
    local out status=0
    out=$(mktemp)
    ctest "$@" 2>&1 | tee "$out" || status=$?
    grep -E '^[0-9]+% tests passed' "$out" >>"$summaries" || true
    rm -f "$out"
    return "$status"
}

run_native() {
    local preset=$1
    section "native: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    run_ctest --preset "$preset" -j "$jobs" --timeout 300
}

run_windows() {
    section "windows (MinGW-w64, tests under Wine)"
    export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all LANG=C.UTF-8
    export WINEDLLOVERRIDES="winealsa.drv=d;winepulse.drv=d;wineoss.drv=d;winemenubuilder.exe=d"
    # Keep one Wine server alive for the whole run and start the Wine services
    # with no pipes attached, so that ctest does not wait for them.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    # The desktop too: started on demand by the first test that needs one, it
    # would keep that test's output pipe open for as long as any Wine program
    # runs, and ctest would count that test as running until then.
    wine explorer.exe /desktop </dev/null >/dev/null 2>&1 &
    trap 'wineserver -k >/dev/null 2>&1 || true; rm -f "$summaries"' EXIT
    cmake --preset windows >/dev/null
    cmake --build --preset windows -j "$jobs"
    section "Brenquosta-audio.exe imports"
    x86_64-w64-mingw32-objdump -p build/windows/audio-capture/Brenquosta-audio.exe | grep 'DLL Name'
    run_ctest --preset windows -j "$jobs" --timeout 300
    wineserver -k >/dev/null 2>&1 || true
    trap 'rm -f "$summaries"' EXIT
}

run_native linux-debug
run_native linux-tsan
run_windows
if [ "$fuzz_seconds" != 0 ] && [ -x fuzz/run-fuzzers.sh ]; then
    section "fuzzing, ${fuzz_seconds}s per target"
    fuzz/run-fuzzers.sh "$fuzz_seconds"
fi
# "N% tests passed, F tests failed out of T" for each run, summed up.
awk '{ failed += $4; total += $9 } END { printf "tests: %d passed, %d failed\n", total - failed, failed }' "$summaries"
