#!/usr/bin/env bash
# Installs the packages the builds and tests need, when they are missing.
#   scripts/install-deps.sh           everything (both builds, fuzzing, checks)
#   scripts/install-deps.sh --native  only what the native build needs
set -euo pipefail
packages=(g++ cmake ninja-build pkg-config libgtest-dev googletest python3
    # The Linux port captures through PipeWire; its tests, the demo and the
    # benchmark run a private server with WirePlumber, and play through
    # pipewire-pulse with paplay.
    libpipewire-0.3-dev libspa-0.2-dev pipewire pipewire-bin wireplumber pipewire-pulse pulseaudio-utils)
if [ "${1:-}" != --native ]; then
    packages+=(
        g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64
        clang-16 libclang-rt-16-dev
        python3-websockets chromium openssl
    )
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
