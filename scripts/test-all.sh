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

section() { printf '\n=== %s ===\n' "$*"; }
# Prints how long the section that started at $1 (a $SECONDS reading) took.
took() { printf -- '--- %s: %d s\n' "$2" $((SECONDS - $1)); }

started=$SECONDS
scripts/install-deps.sh
took "$started" "package check and install"

# Every ctest summary line of this run, for the closing count.
summaries=$(mktemp)
wine_server_pid=
trap 'stop_wine_server; rm -f "$summaries"' EXIT

run_ctest() {
    local out status=0
    out=$(mktemp)
    ctest "$@" 2>&1 | tee "$out" || status=$?
    grep -E '^[0-9]+% tests passed' "$out" >>"$summaries" || true
    rm -f "$out"
    return "$status"
}

run_native() {
    local preset=$1 start=$SECONDS
    section "native: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    run_ctest --preset "$preset" -j "$jobs" --timeout 300
    took "$start" "native: $preset"
}

# Wine's own failures end the run with a message that says which Wine step
# failed, with that step's output; they are not test failures.
wine_failed() {
    printf 'Wine set-up failed: %s\n' "$1" >&2
    if [ -s "$2" ]; then
        sed 's/^/    /' "$2" >&2
    fi
    exit 1
}

# One persistent Wine server for the whole Windows suite. Without it each test
# starts and stops a short-lived server of its own, and a test that starts
# while the previous one shuts down loses its connection to it.
start_wine_server() {
    local log=$root/build/wineserver.log deadline
    # The server refuses to start for a prefix folder that does not exist yet.
    mkdir -p "$WINEPREFIX"
    wineserver -f -p </dev/null >"$log" 2>&1 &
    wine_server_pid=$!
    # Running means: still alive, and listening on its socket in its own
    # folder (the server makes that folder its working directory).
    deadline=$((SECONDS + 30))
    until [ -S "/proc/$wine_server_pid/cwd/socket" ]; do
        if ! kill -0 "$wine_server_pid" 2>/dev/null; then
            local status=0
            wait "$wine_server_pid" || status=$?
            wine_server_pid=
            if [ "$status" = 2 ]; then
                printf 'another Wine server already runs for %s; stop it first (WINEPREFIX=%s wineserver -k)\n' \
                    "$WINEPREFIX" "$WINEPREFIX" >>"$log"
            fi
            wine_failed "wineserver -p exited with status $status" "$log"
        fi
        if [ "$SECONDS" -ge "$deadline" ]; then
            wine_failed "wineserver -p (pid $wine_server_pid) did not open its socket within 30 s" "$log"
        fi
        sleep 0.1
    done
    echo "wineserver running for $WINEPREFIX (pid $wine_server_pid)"
}

# Stops the server this script started, and only that one.
stop_wine_server() {
    if [ -n "$wine_server_pid" ] && kill -0 "$wine_server_pid" 2>/dev/null; then
        # The prefix can have only one server, and it is ours: -k ends it
        # together with the Wine services it runs.
        wineserver -k >/dev/null 2>&1 || kill "$wine_server_pid" 2>/dev/null || true
        wait "$wine_server_pid" 2>/dev/null || true
    fi
    wine_server_pid=
}

run_windows() {
    local start=$SECONDS init_pid init_log=$root/build/wine-init.log init_status=0
    section "windows (MinGW-w64, tests under Wine)"
    export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all LANG=C.UTF-8
    export WINEDLLOVERRIDES="winealsa.drv=d;winepulse.drv=d;wineoss.drv=d;winemenubuilder.exe=d"
    start_wine_server
    # Initialises the prefix (several seconds the first time) and starts the
    # Wine services while the build runs. No pipe is attached, so that ctest
    # does not wait for the services that inherit it.
    wine cmd /c exit </dev/null >"$init_log" 2>&1 &
    init_pid=$!
    cmake --preset windows >/dev/null
    cmake --build --preset windows -j "$jobs"
    wait "$init_pid" || init_status=$?
    if [ "$init_status" != 0 ]; then
        wine_failed "wine cmd /c exit (initialising $WINEPREFIX) exited with status $init_status" "$init_log"
    fi
    if ! kill -0 "$wine_server_pid" 2>/dev/null; then
        wine_failed "the Wine server (pid $wine_server_pid) ended during the prefix's initialisation" \
            "$root/build/wineserver.log"
    fi
    # The desktop too: started on demand by the first test that needs one, it
    # would keep that test's output pipe open for as long as any Wine program
    # runs, and ctest would count that test as running until then. It ends
    # with the server.
    wine explorer.exe /desktop </dev/null >/dev/null 2>&1 &
    section "Brenquosta-audio.exe imports"
    x86_64-w64-mingw32-objdump -p build/windows/audio-capture/Brenquosta-audio.exe | grep 'DLL Name'
    run_ctest --preset windows -j "$jobs" --timeout 300
    stop_wine_server
    took "$start" "windows"
}

run_native linux-debug
run_native linux-tsan
run_windows
if [ "$fuzz_seconds" != 0 ] && [ -x fuzz/run-fuzzers.sh ]; then
    fuzz_start=$SECONDS
    section "fuzzing, ${fuzz_seconds}s per target"
    fuzz/run-fuzzers.sh "$fuzz_seconds"
    took "$fuzz_start" "fuzzing"
fi
took 0 "whole run"
# "N% tests passed, F tests failed out of T" for each run, summed up.
awk '{ failed += $4; total += $9 } END { printf "tests: %d passed, %d failed\n", total - failed, failed }' "$summaries"
