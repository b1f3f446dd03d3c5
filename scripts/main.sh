#!/usr/bin/env bash
# Builds the Linux release and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DHALDEN_TESTS=OFF
cmake --build build/release --target halden
./build/release/tools/halden
