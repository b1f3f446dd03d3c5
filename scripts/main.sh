#!/usr/bin/env bash
# Builds the Linux release and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DHALDEN_TESTS=OFF
cmake --build build/release --target halden halden-softcard
./build/release/tools/halden
# The software card's built-in tests, against a fresh store under a temporary machine root.
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/C/Halden/etc" "$root/E"
head -c 5000 /dev/urandom > "$root/E/test_pt.docx"
HALDEN_ROOT="$root" ./build/release/tools/halden-softcard
