#!/usr/bin/env bash
# Demo: builds Setup.exe, runs it under Wine in a scratch prefix and shows the setup log.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -eq 0 ]; then scripts/setup-machine.sh; fi
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j2 | tail -n 1
OLVAN_NO_XVFB= scripts/with-wine.sh bash -c '
  wine build/win32/Setup.exe
  echo "== C:\\OlvanLog"
  ls "$OLVAN_WINE_C/OlvanLog"
  echo "== setup log"
  cat "$OLVAN_WINE_C"/OlvanLog/setup*.log'
