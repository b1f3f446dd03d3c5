#!/usr/bin/env bash
# Runs tools/halden-softcard (the software card's built-in test routines) on a fresh machine with
# the document "E:/test_pt.docx", and checks that every routine printed its success verdict.
#   halden_softcard_test.sh <program> [emulator]
# Natively the machine is a temporary HALDEN_ROOT. With an emulator (Wine) it is the prefix's own
# drives: C:/Halden is made afresh and E: is mapped to a folder of the prefix.
set -euo pipefail
program=$1
emulator=${2:-}

if [ -z "$emulator" ]; then
  root=$(mktemp -d)
  trap 'rm -rf "$root"' EXIT
  c="$root/C" e="$root/E"
  export HALDEN_ROOT="$root"
else
  prefix=${WINEPREFIX:-${TMPDIR:-/tmp}/halden-wine}
  [ -d "$prefix/dosdevices" ] || "$emulator" cmd /c exit >/dev/null 2>&1 || true
  if [ ! -e "$prefix/dosdevices/e:" ]; then
    mkdir -p "$prefix/drive_e"
    ln -s ../drive_e "$prefix/dosdevices/e:" 2>/dev/null || true
  fi
  c="$prefix/dosdevices/c:" e="$prefix/dosdevices/e:"
  trap 'rm -rf "$c/Halden" "$e"/test_pt*' EXIT
  rm -rf "$c/Halden"
fi
mkdir -p "$c/Halden/etc" "$e"
head -c 5000 /dev/urandom > "$e/test_pt.docx"

# Windows ends the lines of standard output in CR LF.
output=$($emulator "$program" | tr -d '\r')
echo "$output"
status=0
for verdict in "test_sm2 ok!" "test_ev OK!" "test_lock OK!" "test_reset_pin OK!" "test_bind OK!"; do
  grep -qxF "$verdict" <<< "$output" || { echo "missing: $verdict"; status=1; }
done
exit $status
