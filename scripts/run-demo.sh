#!/usr/bin/env bash
# The main job, where no Windows audio engine exists: builds the Linux port,
# starts Brenquosta-audio in --fake-source mode watching a short-lived process,
# and lets brenquosta-listen write a few seconds of the stream to a WAV file.
# The program ends by itself when the watched process ends.
#   scripts/run-demo.sh [SECONDS] [OUT.wav]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-4}
out=${2:-$PWD/build/demo.wav}

scripts/install-deps.sh --native
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target Brenquosta-audio brenquosta-listen >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QUORVEL_AUDIO_LOG="$work/audio.log"

sleep $((seconds + 2)) &   # the watched process
watched=$!
build/linux-release/audio-capture/Brenquosta-audio --fake-source --include-pid "$watched" \
    --token demo-token-0123456789 --info-file "$work/audio.json" &
program=$!

for _ in $(seq 100); do [ -s "$work/audio.json" ] && break; sleep 0.05; done
echo "info file: $(cat "$work/audio.json")"
build/linux-release/tools/brenquosta-listen --info-file "$work/audio.json" --seconds "$seconds" --out "$out"

wait "$program" && status=0 || status=$?
echo "Brenquosta-audio exited with status $status; its log:"
cat "$QUORVEL_AUDIO_LOG"
