#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian machine (as root). ntfs-3g gives
# the simulated format program its mkfs.ntfs and the tests their NTFS readers.
set -euo pipefail
packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
          libgcrypt20-dev valgrind binutils g++-mingw-w64-x86-64-posix
          binutils-mingw-w64-x86-64 googletest wine wine64 ntfs-3g clang-format)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y "${missing[@]}"
fi
