#!/usr/bin/env bash
# Fails when a tracked C or C++ file differs from what clang-format makes of it under .clang-format.
# Headers whose include order matters keep it between "clang-format off" and "on".
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.c' '*.cc' '*.h' | xargs -0 clang-format --dry-run --Werror
