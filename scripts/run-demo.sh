#!/usr/bin/env bash
# The main job on Linux: builds the Linux port and lets brenquosta-listen
# write a few seconds of the stream to a WAV file.
#   scripts/run-demo.sh [SECONDS] [OUT.wav]              fake-source audio
#   scripts/run-demo.sh --pipewire [SECONDS] [OUT.wav]   real capture
# The first starts Brenquosta-audio in --fake-source mode watching a
# short-lived process. The second starts a private PipeWire sound server
# (scripts/private-sound-server.sh), plays a 440 Hz tone from a player that a
# shell started, and captures that shell's tree in include mode; a 700 Hz
# tone from a player outside the tree stays out of the capture. Either way
# the program ends by itself when the watched process ends.
set -euo pipefail
cd "$(dirname "$0")/.."
pipewire=no
if [ "${1:-}" = --pipewire ]; then
    pipewire=yes
    shift
fi
seconds=${1:-4}
out=${2:-$PWD/build/demo.wav}

scripts/install-deps.sh --native
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target Brenquosta-audio brenquosta-listen >/dev/null
bin=$PWD/build/linux-release

work=$(mktemp -d)
players=()
cleanup() {
    for pid in "${players[@]}"; do pkill -P "$pid" 2>/dev/null || true; kill "$pid" 2>/dev/null || true; done
    [ "$pipewire" = yes ] && scripts/private-sound-server.sh stop "$work/server"
    rm -rf "$work"
}
trap cleanup EXIT
export QUORVEL_AUDIO_LOG="$work/audio.log"

if [ "$pipewire" = yes ]; then
    scripts/private-sound-server.sh start "$work/server"
    export $(scripts/private-sound-server.sh env "$work/server")
    unset PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR
    for tone in 440 700; do
        python3 -c 'import math, struct, sys, wave
f, path = int(sys.argv[1]), sys.argv[2]
one = b"".join(struct.pack("<hh", v, v) for v in
               (round(8000 * math.sin(2 * math.pi * f * i / 48000)) for i in range(48000)))
with wave.open(path, "wb") as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(48000); w.writeframes(one * 60)' \
            "$tone" "$work/tone$tone.wav"
    done
    # The watched tree: a shell whose child plays for SECONDS + 2 s.
    sh -c 'pw-cat --playback "$0" & sleep "$1"; kill $!' "$work/tone440.wav" $((seconds + 2)) &
    watched=$!
    players+=("$watched")
    pw-cat --playback "$work/tone700.wav" &
    players+=($!)
    echo "capturing the tree of pid $watched (440 Hz); the 700 Hz player is outside it"
    mode=(--include-pid "$watched")
else
    sleep $((seconds + 2)) &   # the watched process
    watched=$!
    mode=(--fake-source --include-pid "$watched")
fi

"$bin/audio-capture/Brenquosta-audio" "${mode[@]}" --token demo-token-0123456789 --info-file "$work/audio.json" &
program=$!

for _ in $(seq 100); do [ -s "$work/audio.json" ] && break; sleep 0.05; done
echo "info file: $(cat "$work/audio.json")"
"$bin/tools/brenquosta-listen" --info-file "$work/audio.json" --seconds "$seconds" --out "$out"

if [ "$pipewire" = yes ]; then
    python3 -c 'import math, struct, sys, wave
w = wave.open(sys.argv[1]); n = w.getnframes()
left = struct.unpack("<%dh" % (2 * n), w.readframes(n))[0::2][-48000:]
def level(f):
    c = 2 * math.cos(2 * math.pi * f / 48000); s1 = s2 = 0.0
    for v in left: s1, s2 = v + c * s1 - s2, s1
    return 2 * math.sqrt(max(0.0, s1 * s1 + s2 * s2 - c * s1 * s2)) / max(1, len(left))
print("last second of the capture: 440 Hz at %.0f, 700 Hz at %.0f (played at 8000 each)" % (level(440), level(700)))' "$out"
fi

wait "$program" && status=0 || status=$?
echo "Brenquosta-audio exited with status $status; its log:"
cat "$QUORVEL_AUDIO_LOG"
