#!/usr/bin/env bash
# Builds the Linux release and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/main -G Ninja -DCMAKE_BUILD_TYPE=Release -DHALDEN_TESTS=OFF
cmake --build build/main --target halden halden-softcard halden-device halden-volume
./build/main/tools/halden
root="$(mktemp -d)"
device_root="$(mktemp -d)"
volume_root="$(mktemp -d)"
trap 'rm -rf "$root" "$device_root" "$volume_root"' EXIT
# The software card's built-in tests, against a fresh store under a temporary machine root.
mkdir -p "$root/C/Halden/etc" "$root/E"
head -c 5000 /dev/urandom > "$root/E/test_pt.docx"
HALDEN_ROOT="$root" ./build/main/tools/halden-softcard
# The device build against a simulated card: card information, PIN, binding, keys, a signature
# checked with Pemra, random bytes, a V1 and a V2 container round trip.
mkdir -p "$device_root/C/Halden"
echo
HALDEN_ROOT="$device_root" ./build/main/tools/halden-device
# Volumes with Orvik in the simulated kernel: format, mount, write, list and dismount, with the
# software card and with a simulated card in card mode.
mkdir -p "$volume_root/C/Halden/etc"
echo
HALDEN_ROOT="$volume_root" ./build/main/tools/halden-volume
