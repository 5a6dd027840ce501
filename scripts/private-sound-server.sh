#!/usr/bin/env bash
# A private PipeWire sound server in one folder, for tests, the demo and the
# benchmark: pipewire (48 kHz, no hardware, a dummy driver), WirePlumber
# without D-Bus, a null sink "ci-speakers" as the stand-in speaker, and on
# request pipewire-pulse for PulseAudio players. Nothing outside the folder
# is touched; each process's pid is kept in DIR/<name>.pid.
#   private-sound-server.sh start DIR [--pulse]   start and wait until ready
#   private-sound-server.sh stop DIR              end the folder's processes by pid
#   private-sound-server.sh env DIR               print the environment of its clients
# Clients use the server through XDG_RUNTIME_DIR=DIR/run (see `env`).
set -euo pipefail

usage() { echo "usage: $0 start DIR [--pulse] | stop DIR | env DIR" >&2; exit 2; }
[ $# -ge 2 ] || usage
command=$1
dir=$(realpath -m "$2")
pulse=no
[ "${3:-}" = --pulse ] && pulse=yes

# Every wait is bounded; a loaded 2-core machine needs far less than this.
ready_limit=${SOUND_SERVER_READY_SECONDS:-30}

client_env() {
    export XDG_RUNTIME_DIR="$dir/run" XDG_STATE_HOME="$dir/state" XDG_CONFIG_HOME="$dir/cfg"
    unset PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR PULSE_SERVER DBUS_SESSION_BUS_ADDRESS
}

# wait_for WHAT COMMAND...: runs COMMAND every 50 ms until it succeeds.
wait_for() {
    local what=$1 deadline=$((SECONDS + ready_limit))
    shift
    until "$@" >/dev/null 2>&1; do
        if [ $SECONDS -ge $deadline ]; then
            echo "private-sound-server: $what not ready after ${ready_limit}s" >&2
            return 1
        fi
        sleep 0.05
    done
}

alive() { [ -n "$1" ] && [ -d "/proc/$1" ] && ! grep -q '^[^)]*) Z' "/proc/$1/stat" 2>/dev/null; }

# stop_one NAME: TERM, then KILL after 10 s; the pid file goes once it is gone.
stop_one() {
    local file="$dir/$1.pid" pid deadline
    [ -f "$file" ] || return 0
    pid=$(cat "$file")
    if alive "$pid"; then
        kill -TERM "$pid" 2>/dev/null || true
        deadline=$((SECONDS + 10))
        while alive "$pid" && [ $SECONDS -lt $deadline ]; do sleep 0.05; done
        alive "$pid" && kill -KILL "$pid" 2>/dev/null || true
    fi
    rm -f "$file"
}

stop_all() {
    stop_one pipewire-pulse
    stop_one wireplumber
    stop_one pipewire
}

write_config() {
    mkdir -p "$dir/run" "$dir/state" "$dir/cfg/wireplumber/main.lua.d"
    chmod 700 "$dir/run"
    # Debian's minimal.conf without hardware nodes or its own metadata (the
    # session manager makes "default"), at 48 kHz with a low minimum quantum.
    cat >"$dir/pipewire.conf" <<'EOF'
context.properties = {
    link.max-buffers = 16
    core.daemon = true
    core.name = pipewire-0
    default.clock.rate = 48000
    default.clock.allowed-rates = [ 48000 ]
    default.clock.quantum = 1024
    default.clock.min-quantum = 32
    vm.overrides = { default.clock.min-quantum = 32 }
    settings.check-quantum = true
    settings.check-rate = true
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-rt args = { nice.level = -11 } flags = [ ifexists nofail ] }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
]
context.objects = [
    { factory = spa-node-factory
      args = { factory.name = support.node.driver node.name = Dummy-Driver
               node.group = pipewire.dummy priority.driver = 20000 } }
    { factory = spa-node-factory
      args = { factory.name = support.node.driver node.name = Freewheel-Driver
               priority.driver = 19000 node.group = pipewire.freewheel node.freewheel = true } }
]
EOF
    # WirePlumber without D-Bus: no Bluetooth, no device reservation, no portal.
    grep -v 'bluetooth\.lua' /usr/share/wireplumber/wireplumber.conf >"$dir/cfg/wireplumber/wireplumber.conf"
    cat >"$dir/cfg/wireplumber/main.lua.d/51-private.lua" <<'EOF'
alsa_monitor.properties["alsa.reserve"] = false
default_access.properties["enable-flatpak-portal"] = false
EOF
}

default_sink_is_ours() { pw-metadata -n default 0 default.audio.sink | grep -q '"ci-speakers"'; }

start_all() {
    for name in pipewire wireplumber pipewire-pulse; do
        if [ -f "$dir/$name.pid" ]; then
            echo "private-sound-server: $dir already has a server ($name.pid); stop it first" >&2
            exit 1
        fi
    done
    write_config
    client_env
    trap 'stop_all' ERR

    pipewire -c "$dir/pipewire.conf" >"$dir/pipewire.log" 2>&1 </dev/null &
    echo $! >"$dir/pipewire.pid"
    wait_for "pipewire" pw-cli info 0

    wireplumber >"$dir/wireplumber.log" 2>&1 </dev/null &
    echo $! >"$dir/wireplumber.pid"
    wait_for "wireplumber" sh -c 'pw-cli ls Metadata | grep -q "metadata.name = \"default\""'

    # object.linger keeps the sink after pw-cli exits.
    pw-cli create-node adapter '{ factory.name=support.null-audio-sink node.name=ci-speakers
        node.description=ci-speakers media.class=Audio/Sink audio.position=[FL FR]
        object.linger=true priority.session=2000 }' >/dev/null
    wait_for "the ci-speakers sink" default_sink_is_ours

    if [ "$pulse" = yes ]; then
        pipewire-pulse >"$dir/pipewire-pulse.log" 2>&1 </dev/null &
        echo $! >"$dir/pipewire-pulse.pid"
        wait_for "pipewire-pulse" pactl info
    fi
    trap - ERR
}

case $command in
    start) start_all ;;
    stop) stop_all ;;
    env) echo "XDG_RUNTIME_DIR=$dir/run XDG_STATE_HOME=$dir/state XDG_CONFIG_HOME=$dir/cfg" ;;
    *) usage ;;
esac
