#!/usr/bin/env bash
# Builds every configuration and runs every test: Linux release (warnings as errors), ASan+UBSan,
# and the Windows cross build with its tests under Wine. Export tables are checked in each.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)

stage() { echo; echo "=== $* ==="; }

stage "Formatting"
bash scripts/check-format.sh

stage "Linux release"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DHALDEN_WERROR=ON -DHALDEN_TESTS=ON -DHALDEN_BENCH=ON
cmake --build build/release
ctest --no-tests=error --test-dir build/release --output-on-failure -j "$jobs"

stage "Linux ASan+UBSan"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALDEN_WERROR=ON -DHALDEN_TESTS=ON -DHALDEN_SANITIZE=ON
cmake --build build/asan
ASAN_OPTIONS=detect_leaks=1 ctest --no-tests=error --test-dir build/asan --output-on-failure -j "$jobs"

stage "Windows cross build, tests under Wine"
# Its test of Orvik.sys under Wine runs its Linux half from the release build above.
cmake -S . -B build/windows -G Ninja -DCMAKE_BUILD_TYPE=Release -DHALDEN_WERROR=ON -DHALDEN_TESTS=ON \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DHALDEN_LINUX_BUILD_DIR="$PWD/build/release"
cmake --build build/windows
export WINEPREFIX="$PWD/build/wine-prefix"
# Make the prefix once, before tests start in parallel, and wait until its set-up has ended.
WINEDEBUG=-all DISPLAY= wineboot --init >/dev/null 2>&1 || true
wineserver -w || true
ctest --no-tests=error --test-dir build/windows --output-on-failure -j "$jobs"
