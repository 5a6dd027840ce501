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

run_native() {
    local preset=$1
    section "native: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs" --timeout 300
}

run_windows() {
    section "windows (MinGW-w64, tests under Wine)"
    export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all LANG=C.UTF-8
    export WINEDLLOVERRIDES="winealsa.drv=d;winepulse.drv=d;wineoss.drv=d;winemenubuilder.exe=d"
    # Keep one Wine server alive for the whole run and start the Wine services
    # with no pipes attached, so that ctest does not wait for them.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
    cmake --preset windows >/dev/null
    cmake --build --preset windows -j "$jobs"
    section "Brenquosta-audio.exe imports"
    x86_64-w64-mingw32-objdump -p build/windows/audio-capture/Brenquosta-audio.exe | grep 'DLL Name'
    ctest --preset windows -j "$jobs" --timeout 300
    wineserver -k >/dev/null 2>&1 || true
    trap - EXIT
}

run_native linux-debug
run_native linux-tsan
run_windows
if [ "$fuzz_seconds" != 0 ] && [ -x fuzz/run-fuzzers.sh ]; then
    section "fuzzing, ${fuzz_seconds}s per target"
    fuzz/run-fuzzers.sh "$fuzz_seconds"
fi
section "all tests passed"
